#include "platform/backends/jack_device.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#ifdef TONVIK_HAVE_FLUIDSYNTH
#include "platform/backends/fluidsynth_device.h"
#endif

namespace platform {
namespace {

using testing_support::ChildProcess;
using testing_support::FindProgram;
using Bytes = std::vector<uint8_t>;

// Polls `ready` every 20 ms for up to five seconds: for a server or a client to come up.
bool WaitFor(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The messages of a jack_midi_dump log, one per line "time: bytes in hex, then words": the
// two-digit hex tokens after the colon up to the first other token.
std::vector<Bytes> DumpedMessages(const std::string& log) {
  std::vector<Bytes> messages;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    std::istringstream tokens(line.substr(colon + 1));
    std::string token;
    Bytes bytes;
    while (tokens >> token && token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
           std::isxdigit(static_cast<unsigned char>(token[1]))) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    if (!bytes.empty()) {
      messages.push_back(bytes);
    }
  }
  return messages;
}

std::string Hex(const std::vector<Bytes>& messages) {
  std::string text;
  char buffer[4];
  for (const Bytes& message : messages) {
    for (uint8_t b : message) {
      std::snprintf(buffer, sizeof buffer, "%02X ", b);
      text += buffer;
    }
    text += "| ";
  }
  return text;
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "tonvik_" + name + "_" + std::to_string(getpid()) + ".log";
}

TEST(JackMidiDevices, NoRowWhileNoServerRuns) {
  const std::string name = "tonvik-absent-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  EXPECT_TRUE(JackMidiDevices().empty()) << "and no server was started";
  JackDeviceOptions options;
  options.serverName = name;
  EXPECT_EQ(CreateJackMidiDevice(options), nullptr);
}

// Starts a private dummy-driver JACK server, connects Tonvik's port to jack_midi_dump and checks
// that the dumped bytes are exactly the messages sent, in order.
TEST(JackMidiDevice, ADumpClientReceivesExactlyTheMessagesInOrder) {
  const std::string jackd = FindProgram("jackd");
  const std::string dump = FindProgram("jack_midi_dump");
  if (jackd.empty() || dump.empty()) {
    GTEST_SKIP() << "jackd or jack_midi_dump is missing (Debian package jackd2); no JACK server to test with";
  }
  // One fixed name: JACK keeps a registry of eight server names and reclaims the entry of a server
  // that died only for the same name.
  const std::string server = "tonvik-test";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  const std::string serverLog = TempPath("jackd");
  // A server that still has clients takes a few seconds to end; killed, it leaves its shared memory.
  ChildProcess jackServer({jackd, "--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"},
                          serverLog, std::chrono::seconds(10));
  ASSERT_TRUE(jackServer.Started());
  JackDeviceOptions options;
  options.serverName = server;
  std::shared_ptr<JackMidiDevice> device;
  ASSERT_TRUE(WaitFor([&] { return (device = CreateJackMidiDevice(options)) != nullptr; }))
      << "the JACK server did not come up:\n"
      << ReadText(serverLog);
  EXPECT_EQ(device->Caps().name, "Tonvik:midi_out (JACK)");
  EXPECT_EQ(device->Caps().technology, kModMidiPort);

  const std::string dumpLog = TempPath("midi_dump");
  const std::string stdbuf = FindProgram("stdbuf");
  std::vector<std::string> dumpCommand = {dump, "tonvik_dump"};
  if (!stdbuf.empty()) {
    dumpCommand.insert(dumpCommand.begin(), {stdbuf, "-oL"});
  }
  ChildProcess dumper(dumpCommand, dumpLog);
  ASSERT_TRUE(WaitFor([&] { return device->ConnectTo("tonvik_dump:input"); }))
      << "could not connect to jack_midi_dump:\n"
      << ReadText(dumpLog);

  ASSERT_TRUE(device->Open());
  // The dump client may be connected before it runs: active-sensing bytes until one shows.
  ASSERT_TRUE(WaitFor([&] {
    device->ShortMsg(0xFE);
    return !DumpedMessages(ReadText(dumpLog)).empty();
  })) << "jack_midi_dump never printed anything";
  std::vector<Bytes> expected;
  auto shortMsg = [&](uint32_t packed, Bytes bytes) {
    device->ShortMsg(packed);
    if (!bytes.empty()) {
      expected.push_back(bytes);
    }
  };
  shortMsg(0x000000C0, {0xC0, 0x00});
  shortMsg(0x00643C90, {0x90, 0x3C, 0x64});
  shortMsg(0x00504090, {0x90, 0x40, 0x50});
  shortMsg(0x000002F5, {});  // port select: skipped
  shortMsg(0x005007B0, {0xB0, 0x07, 0x50});
  const Bytes gsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  device->LongMsg(gsReset);
  expected.push_back(gsReset);
  shortMsg(0x00003C90, {0x90, 0x3C, 0x00});
  shortMsg(0x004000E0, {0xE0, 0x00, 0x40});
  device->Reset();
  for (uint8_t channel = 0; channel < 16; ++channel) {
    expected.push_back({static_cast<uint8_t>(0xB0 + channel), 64, 0});
    expected.push_back({static_cast<uint8_t>(0xB0 + channel), 123, 0});
  }

  std::vector<Bytes> dumped;
  WaitFor([&] {
    dumped = DumpedMessages(ReadText(dumpLog));
    while (!dumped.empty() && dumped.front() == Bytes{0xFE}) {
      dumped.erase(dumped.begin());
    }
    return dumped.size() >= expected.size();
  });
  EXPECT_EQ(Hex(dumped), Hex(expected)) << "jack_midi_dump printed:\n" << ReadText(dumpLog);

  // The device list's row: a second client of the same name (renamed by the server) keeps the
  // stable name, and is the same object on every enumeration.
  const auto listed = JackMidiDevices();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]->Caps().name, "Tonvik:midi_out (JACK)");
  EXPECT_EQ(JackMidiDevices().at(0), listed[0]);

  // A device whose client is closed stays valid and fails to open, quietly. (libjack cannot close
  // two clients of one process after their server died, so the test's own client goes first.)
  device->Close();
  device->CloseClient();
  EXPECT_FALSE(device->Alive());
  EXPECT_FALSE(device->Open());
  device->ShortMsg(0x00643C90);  // nothing to do, and no crash

  // The server goes away: the listed device dies with it, leaves the list, stays valid and fails
  // to open.
  dumper.Stop();
  jackServer.Stop();
  EXPECT_TRUE(WaitFor([&] { return JackMidiDevices().empty(); }));
  EXPECT_FALSE(listed[0]->Open());
  std::remove(serverLog.c_str());
  std::remove(dumpLog.c_str());
}

// Whether a client can reach the server `server` without starting it.
bool ServerReachable(const std::string& server) {
  jack_status_t status;
  jack_client_t* client =
      jack_client_open("tonvik_probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                       &status, server.c_str());
  if (client == nullptr) return false;
  jack_client_close(client);
  return true;
}

// A private server with the dummy driver at 48 kHz; a server that still has clients takes a few
// seconds to end.
std::unique_ptr<ChildProcess> StartDummyServer(const std::string& name, const std::string& period,
                                               const std::string& log) {
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  return std::make_unique<ChildProcess>(
      std::vector<std::string>{FindProgram("jackd"), "--no-realtime", "-n", name, "-d", "dummy", "-r",
                               "48000", "-p", period},
      log, std::chrono::seconds(10));
}

// A JACK client of the test's own with one MIDI input port: every event it receives with its frame
// time (the first frame of its period plus its offset). jack_midi_dump prints no frame times.
class MidiObserver {
 public:
  struct Event {
    uint32_t frame = 0;
    Bytes bytes;
  };

  MidiObserver(const std::string& server, const char* name) {
    jack_status_t status;
    client_ = jack_client_open(name, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                               server.c_str());
    if (client_ == nullptr) return;
    port_ = jack_port_register(client_, "input", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &MidiObserver::Process, this);
    if (port_ == nullptr || jack_activate(client_) != 0) {
      jack_client_close(client_);
      client_ = nullptr;
    }
  }
  ~MidiObserver() {
    if (client_ != nullptr) jack_client_close(client_);
  }
  bool Running() const { return client_ != nullptr; }
  std::string PortName() const { return jack_port_name(port_); }
  // The server's frame time now, as a sender stamps its messages.
  uint32_t FrameTime() const { return jack_frame_time(client_); }
  // The names of the server's ports that match `pattern`.
  std::vector<std::string> Ports(const char* pattern) const {
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client_, pattern, nullptr, 0);
    for (const char** p = ports; p != nullptr && *p != nullptr; ++p) names.emplace_back(*p);
    jack_free(ports);
    return names;
  }
  std::vector<Event> Events() const {
    std::vector<Event> events;
    const size_t count = count_.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i) {
      events.push_back(
          {slots_[i].frame, Bytes(slots_[i].bytes.begin(), slots_[i].bytes.begin() + slots_[i].size)});
    }
    return events;
  }
  // The events after the active-sensing bytes that showed the connection works.
  std::vector<Event> Messages() const {
    std::vector<Event> events = Events();
    std::erase_if(events, [](const Event& e) { return e.bytes == Bytes{0xFE}; });
    return events;
  }

 private:
  struct Slot {
    uint32_t frame;
    std::array<uint8_t, 3> bytes;
    size_t size;
  };

  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<MidiObserver*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, frames);
    const jack_nframes_t start = jack_last_frame_time(self->client_);
    const uint32_t n = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < n; ++i) {
      jack_midi_event_t event;
      const size_t k = self->count_.load(std::memory_order_relaxed);
      if (jack_midi_event_get(&event, buffer, i) != 0 || k == self->slots_.size()) continue;
      Slot& slot = self->slots_[k];
      slot.frame = start + event.time;
      slot.size = std::min<size_t>(event.size, 3);
      std::copy(event.buffer, event.buffer + slot.size, slot.bytes.begin());
      self->count_.store(k + 1, std::memory_order_release);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  std::array<Slot, 4096> slots_{};
  std::atomic<size_t> count_ = 0;
};

// A private dummy-driver server with PipeWire's default period, Tonvik's port and an observer
// connected to it, the connection shown to work.
struct ObservedPort {
  explicit ObservedPort(const std::string& server, const char* period) {
    serverLog = TempPath(server);
    jackServer = StartDummyServer(server, period, serverLog);
    JackDeviceOptions options;
    options.serverName = server;
    if (!jackServer->Started() ||
        !WaitFor([&] { return (device = CreateJackMidiDevice(options)) != nullptr; })) {
      problem = "the JACK server did not come up:\n" + ReadText(serverLog);
      return;
    }
    observer = std::make_unique<MidiObserver>(server, "tonvik_observer");
    if (!observer->Running() || !device->ConnectTo(observer->PortName()) || !device->Open() || !WaitFor([&] {
          device->ShortMsg(0xFE);
          return !observer->Events().empty();
        })) {
      problem = "the observer never received anything";
    }
  }
  ~ObservedPort() {
    if (device) device->CloseClient();
    observer.reset();
    jackServer.reset();
    std::remove(serverLog.c_str());
  }

  std::string serverLog;
  std::unique_ptr<ChildProcess> jackServer;
  std::shared_ptr<JackMidiDevice> device;
  std::unique_ptr<MidiObserver> observer;
  std::string problem;
};

// Notes sent 5 ms apart keep their spacing on the wire, also with a period of 1,024 frames (21 ms),
// rather than four to a period on its first frame.
TEST(JackMidiDevice, EventsKeepTheirSpacingWithinAPeriod) {
  if (FindProgram("jackd").empty()) GTEST_SKIP() << "jackd is missing (Debian package jackd2)";
  ObservedPort port("tonvik-test-timing", "1024");
  ASSERT_EQ(port.problem, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the last active-sensing byte is out
  const size_t before = port.observer->Messages().size();
  constexpr int kNotes = 24;
  std::vector<uint32_t> sentFrames;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kNotes; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(5 * i));
    // The moment of sending on the server's own clock (a loaded machine wakes the sleep late).
    sentFrames.push_back(port.observer->FrameTime());
    port.device->ShortMsg(0x00640090u | static_cast<uint32_t>(0x30 + i) << 8);
  }
  std::vector<MidiObserver::Event> got;
  WaitFor([&] {
    got = port.observer->Messages();
    return got.size() >= before + kNotes;
  });
  ASSERT_EQ(got.size(), before + kNotes);
  got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(before));
  for (int i = 1; i < kNotes; ++i) {
    EXPECT_EQ(got[i].bytes.at(1), 0x30 + i) << "in order";
    const double observedMs = static_cast<int32_t>(got[i].frame - got[0].frame) / 48.0;
    EXPECT_NEAR(observedMs, static_cast<int32_t>(sentFrames[i] - sentFrames[0]) / 48.0, 1.0) << "note " << i;
  }
}

// Closing the port sends its reset before it returns: a client closed at once after (program end,
// Esc with a key held) leaves no note on.
TEST(JackMidiDevice, CloseWaitsUntilTheResetIsSent) {
  if (FindProgram("jackd").empty()) GTEST_SKIP() << "jackd is missing (Debian package jackd2)";
  ObservedPort port("tonvik-test-close", "1024");
  ASSERT_EQ(port.problem, "");
  port.device->ShortMsg(0x00643C90);  // a held key
  port.device->Close();
  port.device->CloseClient();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::vector<MidiObserver::Event> got = port.observer->Messages();
  ASSERT_EQ(got.size(), 33u) << "the note and the driver reset of 32 messages";
  EXPECT_EQ(got.back().bytes, (Bytes{0xBF, 123, 0})) << "all notes off on the last channel comes last";
}

// Tonvik's row in the device list: no client (no node in the graph that runs every period) until the
// row opens, none after it closes, and the connections made meanwhile come back at the next open.
TEST(JackMidiDevices, TheRowHasAClientOnlyWhileOpenAndKeepsItsConnections) {
  if (FindProgram("jackd").empty()) GTEST_SKIP() << "jackd is missing (Debian package jackd2)";
  const std::string server = "tonvik-test-row";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  const std::string serverLog = TempPath(server);
  const std::unique_ptr<ChildProcess> jackServer = StartDummyServer(server, "256", serverLog);
  ASSERT_TRUE(WaitFor([&] { return ServerReachable(server); })) << ReadText(serverLog);
  {
    MidiObserver observer(server, "tonvik_observer");
    ASSERT_TRUE(observer.Running());
    const auto rows = JackMidiDevices();
    ASSERT_EQ(rows.size(), 1u);
    auto row = std::dynamic_pointer_cast<JackMidiDevice>(rows[0]);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Caps().name, "Tonvik:midi_out (JACK)");
    EXPECT_TRUE(observer.Ports("^Tonvik").empty()) << "listing leaves no client behind";

    ASSERT_TRUE(row->Open());
    EXPECT_EQ(observer.Ports("^Tonvik"), std::vector<std::string>{"Tonvik:midi_out"});
    ASSERT_TRUE(row->ConnectTo(observer.PortName()));
    row->Close();
    EXPECT_TRUE(observer.Ports("^Tonvik").empty()) << "closed: no client";
    EXPECT_EQ(row->Links(), std::vector<std::string>{observer.PortName()}) << "for the store";
    row->SetLinks({"no_such_client:in", observer.PortName()});  // as read back at the next start
    EXPECT_EQ(JackMidiDevices().at(0), rows[0]) << "the same row while the server runs";

    ASSERT_TRUE(row->Open());
    EXPECT_EQ(row->Connections(), std::vector<std::string>{observer.PortName()}) << "connected again";
    EXPECT_TRUE(WaitFor([&] {
      row->ShortMsg(0x00643C90);
      return !observer.Messages().empty();
    }));
    row->Close();
  }
  jackServer->Stop();
  EXPECT_TRUE(WaitFor([&] { return JackMidiDevices().empty(); }));
  std::remove(serverLog.c_str());
}

#ifdef TONVIK_HAVE_FLUIDSYNTH
// On a desktop where JACK holds the sound card, the built-in synthesizer plays through JACK into the
// system's playback ports; where no server runs, it fails without starting one.
TEST(BuiltInSynthOnJack, PlaysIntoARunningServerAndNeverStartsOne) {
  if (FindProgram("jackd").empty()) GTEST_SKIP() << "jackd is missing (Debian package jackd2)";
  if (FindGmSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont";
  FluidSynthOptions options;
  options.audioDrivers = {"jack"};

  const std::string absent = "tonvik-absent-synth-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);
  {
    auto synth = CreateFluidSynthDevice(options);
    WaitUntilSettled(*synth);
    EXPECT_NE(synth->Failure().find("jack"), std::string::npos) << synth->Failure();
    EXPECT_FALSE(ServerReachable(absent)) << "no server was started";
  }

  const std::string server = "tonvik-test-synth";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  const std::string serverLog = TempPath(server);
  const std::unique_ptr<ChildProcess> jackServer = StartDummyServer(server, "256", serverLog);
  ASSERT_TRUE(WaitFor([&] { return ServerReachable(server); })) << ReadText(serverLog);
  auto synth = CreateFluidSynthDevice(options);
  WaitUntilSettled(*synth);
  EXPECT_EQ(synth->Failure(), "");
  EXPECT_TRUE(synth->Open());

  jack_status_t status;
  jack_client_t* client =
      jack_client_open("tonvik_check", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                       &status, server.c_str());
  ASSERT_NE(client, nullptr);
  jack_port_t* playback = jack_port_by_name(client, "system:playback_1");
  ASSERT_NE(playback, nullptr);
  const char** connections = jack_port_get_all_connections(client, playback);
  std::string connected;
  for (const char** c = connections; c != nullptr && *c != nullptr; ++c) connected += std::string(*c) + " ";
  jack_free(connections);
  jack_client_close(client);
  EXPECT_NE(connected.find("Tonvik synth:"), std::string::npos) << "connected: " << connected;
  synth->Close();
  synth.reset();
  std::remove(serverLog.c_str());
}
#endif

}  // namespace
}  // namespace platform
