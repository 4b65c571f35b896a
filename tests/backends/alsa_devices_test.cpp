#include "platform/backends/alsa_devices.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/backends/alsa_events.h"

namespace platform {
namespace {

using Bytes = std::vector<uint8_t>;

bool HaveSequencer() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

struct EncodeCase {
  Bytes message;
  snd_seq_event_type_t type;
  int channel;
  int param;  // note or controller or program, as the event type has it
  int value;  // velocity or controller value or pitch bend
};

TEST(EncodeAlsaMessage, ChannelMessagesBecomeTheirSequencerEvents) {
  const EncodeCase cases[] = {
      {{0x90, 0x3C, 0x64}, SND_SEQ_EVENT_NOTEON, 0, 0x3C, 0x64},
      {{0x9F, 0x3C, 0x00}, SND_SEQ_EVENT_NOTEON, 15, 0x3C, 0},  // velocity 0 stays a note-on
      {{0x82, 0x40, 0x10}, SND_SEQ_EVENT_NOTEOFF, 2, 0x40, 0x10},
      {{0xB3, 0x07, 0x64}, SND_SEQ_EVENT_CONTROLLER, 3, 7, 0x64},
      {{0xC4, 0x05}, SND_SEQ_EVENT_PGMCHANGE, 4, 0, 5},
      {{0xE5, 0x00, 0x40}, SND_SEQ_EVENT_PITCHBEND, 5, 0, 0},
      {{0xE5, 0x7F, 0x7F}, SND_SEQ_EVENT_PITCHBEND, 5, 0, 8191},
  };
  for (const EncodeCase& c : cases) {
    snd_seq_event_t event;
    ASSERT_TRUE(EncodeAlsaMessage(c.message, &event)) << int(c.message[0]);
    EXPECT_EQ(event.type, c.type) << int(c.message[0]);
    if (c.type == SND_SEQ_EVENT_NOTEON || c.type == SND_SEQ_EVENT_NOTEOFF) {
      EXPECT_EQ(event.data.note.channel, c.channel);
      EXPECT_EQ(event.data.note.note, c.param);
      EXPECT_EQ(event.data.note.velocity, c.value);
    } else {
      EXPECT_EQ(event.data.control.channel, c.channel);
      EXPECT_EQ(event.data.control.param, static_cast<unsigned>(c.param));
      EXPECT_EQ(event.data.control.value, c.value);
    }
  }
}

TEST(EncodeAlsaMessage, RefusesWhatIsNoWholeShortMessage) {
  snd_seq_event_t event;
  EXPECT_FALSE(EncodeAlsaMessage(Bytes{}, &event));
  EXPECT_FALSE(EncodeAlsaMessage(Bytes{0xF0, 0x7E, 0xF7}, &event));
  EXPECT_FALSE(EncodeAlsaMessage(Bytes{0x90, 0x3C}, &event));
}

// What the input port receives: every message that the output side encodes comes back as its bytes
// (a note-off's release velocity included); events that are no MIDI message give nothing.
TEST(DecodeAlsaEvent, ChannelAndRealTimeMessagesComeBackAsTheirBytes) {
  const Bytes messages[] = {
      {0x90, 0x3C, 0x64},
      {0x9F, 0x3C, 0x00},
      {0x82, 0x40, 0x10},
      {0xA1, 0x30, 0x20},
      {0xB3, 0x40, 0x7F},
      {0xB0, 0x00, 0x05},
      {0xC4, 0x05},
      {0xD6, 0x33},
      {0xE5, 0x00, 0x40},
      {0xE5, 0x7F, 0x7F},
      {0xE0, 0x00, 0x00},
      {0xF8},
      {0xFA},
      {0xFC},
      {0xFE},
  };
  for (const Bytes& message : messages) {
    snd_seq_event_t event;
    ASSERT_TRUE(EncodeAlsaMessage(message, &event)) << int(message[0]);
    std::array<uint8_t, 3> bytes{};
    const int length = DecodeAlsaEvent(event, bytes);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + std::max(length, 0)), message) << int(message[0]);
  }
  const snd_seq_event_type_t others[] = {SND_SEQ_EVENT_SYSEX, SND_SEQ_EVENT_PORT_START,
                                         SND_SEQ_EVENT_CLIENT_EXIT, SND_SEQ_EVENT_NONE};
  for (snd_seq_event_type_t type : others) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    event.type = type;
    std::array<uint8_t, 3> bytes{};
    EXPECT_EQ(DecodeAlsaEvent(event, bytes), 0) << int(type);
  }
}

TEST(AlsaPortTechnology, SynthesizersBySoftwareOrHardwareOtherwisePorts) {
  EXPECT_EQ(AlsaPortTechnology(SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE), kModMidiPort);
  EXPECT_EQ(AlsaPortTechnology(SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SOFTWARE |
                               SND_SEQ_PORT_TYPE_PORT),
            kModMidiPort);
  EXPECT_EQ(AlsaPortTechnology(SND_SEQ_PORT_TYPE_MIDI_GM | SND_SEQ_PORT_TYPE_SYNTHESIZER |
                               SND_SEQ_PORT_TYPE_APPLICATION),
            kModSoftwareSynth);
  EXPECT_EQ(AlsaPortTechnology(SND_SEQ_PORT_TYPE_SYNTHESIZER | SND_SEQ_PORT_TYPE_SOFTWARE),
            kModSoftwareSynth);
  EXPECT_EQ(AlsaPortTechnology(SND_SEQ_PORT_TYPE_SYNTHESIZER | SND_SEQ_PORT_TYPE_HARDWARE), kModSynth);
}

TEST(AlsaMidiDevices, NoRowsWithoutASequencer) {
  if (HaveSequencer()) {
    GTEST_SKIP() << "this system has /dev/snd/seq";
  }
  EXPECT_TRUE(AlsaMidiDevices().empty());
  EXPECT_TRUE(AlsaMidiInPorts().empty());
  EXPECT_EQ(OpenAlsaMidiInput("Keyboard:out", [](uint32_t, std::span<const uint8_t>) {}), nullptr);
}

// A second sequencer client of the test: one writable port that also subscribes to Tonvik's
// virtual port, and reads what arrives.
class Listener {
 public:
  Listener() {
    snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_seq_set_client_name(seq_, "TonvikTestListener");
    port_ = snd_seq_create_simple_port(seq_, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  }
  ~Listener() { snd_seq_close(seq_); }

  bool SubscribeTo(const std::string& clientName) {
    snd_seq_client_info_t* info;
    snd_seq_client_info_alloca(&info);
    snd_seq_client_info_set_client(info, -1);
    while (snd_seq_query_next_client(seq_, info) >= 0) {
      if (clientName == snd_seq_client_info_get_name(info)) {
        return snd_seq_connect_from(seq_, port_, snd_seq_client_info_get_client(info), 0) == 0;
      }
    }
    return false;
  }

  // The types of the events that arrive, until `count` came or none came for two seconds.
  std::vector<snd_seq_event_type_t> Receive(size_t count) {
    std::vector<snd_seq_event_type_t> types;
    std::vector<pollfd> fds(static_cast<size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
    snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
    while (types.size() < count && poll(fds.data(), fds.size(), 2000) > 0) {
      snd_seq_event_t* event = nullptr;
      while (snd_seq_event_input(seq_, &event) >= 0 && event != nullptr) {
        types.push_back(static_cast<snd_seq_event_type_t>(event->type));
      }
    }
    return types;
  }

 private:
  snd_seq_t* seq_ = nullptr;
  int port_ = -1;
};

TEST(AlsaMidiDevices, PortsThenTheVirtualPortWhichDeliversToSubscribers) {
  if (!HaveSequencer()) {
    GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing; the snd-seq module is not loaded)";
  }
  Listener listener;
  auto devices = AlsaMidiDevices();
  ASSERT_FALSE(devices.empty());
  EXPECT_EQ(devices.back()->Caps().name, "Tonvik:MIDI out");
  EXPECT_EQ(AlsaMidiDevices().back(), devices.back()) << "the same device object on every enumeration";

  std::shared_ptr<MidiOutDevice> direct;
  for (auto& device : devices) {
    if (device->Caps().name == "TonvikTestListener:in") {
      direct = device;
    }
  }
  ASSERT_TRUE(direct) << "the listener's writable port is listed by client and port name";
  ASSERT_TRUE(direct->Open());
  direct->ShortMsg(0x00643C90);
  direct->ShortMsg(0x000002F5);  // skipped
  const uint8_t sysex[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  direct->LongMsg(sysex);
  EXPECT_EQ(listener.Receive(2),
            (std::vector<snd_seq_event_type_t>{SND_SEQ_EVENT_NOTEON, SND_SEQ_EVENT_SYSEX}));
  direct->Close();
  EXPECT_EQ(listener.Receive(32).size(), 32u) << "closing silences: sustain off and all notes off";

  ASSERT_TRUE(listener.SubscribeTo("Tonvik"));
  ASSERT_TRUE(devices.back()->Open());
  devices.back()->ShortMsg(0x000007C0);
  EXPECT_EQ(listener.Receive(1), std::vector<snd_seq_event_type_t>{SND_SEQ_EVENT_PGMCHANGE});
  devices.back()->Close();
}

// A keyboard of the test: a sequencer client with one readable port that sends to its subscribers.
class Source {
 public:
  Source() {
    snd_seq_open(&seq_, "default", SND_SEQ_OPEN_OUTPUT, 0);
    snd_seq_set_client_name(seq_, "TonvikTestKeyboard");
    port_ = snd_seq_create_simple_port(seq_, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  }
  ~Source() { snd_seq_close(seq_); }
  void Send(const Bytes& message) {
    snd_seq_event_t event;
    ASSERT_TRUE(EncodeAlsaMessage(message, &event));
    snd_seq_ev_set_source(&event, static_cast<unsigned char>(port_));
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    snd_seq_event_output_direct(seq_, &event);
  }

 private:
  snd_seq_t* seq_ = nullptr;
  int port_ = -1;
};

bool WaitFor(const std::function<bool()>& ready) {
  for (int i = 0; i < 250 && !ready(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ready();
}

// The chosen keyboard is subscribed to Tonvik's input port, its messages arrive as bytes, and a
// keyboard that goes and comes back (a new client) is subscribed again.
TEST(AlsaMidiInput, TheChosenSourceIsConnectedAgainWhenItComesBack) {
  if (!HaveSequencer()) {
    GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing; the snd-seq module is not loaded)";
  }
  std::mutex mutex;
  std::vector<Bytes> received;
  auto handler = [&](uint32_t, std::span<const uint8_t> message) {
    std::lock_guard lock(mutex);
    received.emplace_back(message.begin(), message.end());
  };
  auto count = [&] {
    std::lock_guard lock(mutex);
    return received.size();
  };
  auto source = std::make_unique<Source>();
  bool listed = false;
  for (const MidiInPort& port : AlsaMidiInPorts()) {
    listed = listed || (port.name == "TonvikTestKeyboard:out" && port.type == "ALSA");
  }
  EXPECT_TRUE(listed);
  auto input = OpenAlsaMidiInput("TonvikTestKeyboard:out", handler);
  ASSERT_NE(input, nullptr);
  ASSERT_TRUE(WaitFor([&] { return input->Connected(); }));
  source->Send({0x90, 0x3C, 0x64});
  ASSERT_TRUE(WaitFor([&] { return count() == 1; }));

  source.reset();
  ASSERT_TRUE(WaitFor([&] { return !input->Connected(); }));
  source = std::make_unique<Source>();
  ASSERT_TRUE(WaitFor([&] { return input->Connected(); })) << "plugged back in: subscribed again";
  source->Send({0x80, 0x3C, 0x00});
  ASSERT_TRUE(WaitFor([&] { return count() == 2; }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(received, (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}}));
}

}  // namespace
}  // namespace platform
