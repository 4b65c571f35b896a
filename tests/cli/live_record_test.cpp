// `tonvik-mml --record` against a private JACK server with the dummy driver: a test client plays a
// known sequence into Tonvik's input at exact frames and watches Tonvik's output port.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;
using platform::testing_support::ChildProcess;
using platform::testing_support::FindProgram;
using Bytes = std::vector<uint8_t>;

constexpr jack_nframes_t kRate = 48000;

struct Timed {
  uint32_t ms;  // from the start of the sequence
  Bytes bytes;
};

// Chords, rests, the pedal and a program change, on several channels.
const std::vector<Timed> kSequence = {
    {0, {0xC0, 0x05}},       {100, {0x91, 60, 100}}, {100, {0x91, 64, 90}}, {100, {0x91, 67, 80}},
    {400, {0x81, 60, 0}},    {400, {0x81, 64, 0}},   {400, {0x91, 67, 0}},  {400, {0xB1, 64, 127}},
    {600, {0x92, 62, 70}},   {900, {0x82, 62, 0}},   {900, {0xB1, 64, 0}},  {1300, {0x90, 65, 110}},
    {1300, {0x90, 69, 110}}, {1750, {0x80, 65, 0}},  {1750, {0x80, 69, 0}},
};

bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The player and the observer: a JACK client with a MIDI output ("out") that plays kSequence from a
// start frame, and a MIDI input ("watch") that keeps what arrives.
class Player {
 public:
  explicit Player(const std::string& server) {
    jack_set_error_function([](const char*) {});  // "cannot connect" while the server comes up
    jack_set_info_function([](const char*) {});
    jack_status_t status;
    client_ =
        jack_client_open("tonvik_player", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                         &status, server.c_str());
    if (client_ == nullptr) return;
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    watch_ = jack_port_register(client_, "watch", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &Player::Process, this);
    jack_activate(client_);
  }
  ~Player() {
    if (client_ != nullptr) jack_client_close(client_);
  }

  bool Ready() const { return client_ != nullptr && out_.load() != nullptr && watch_ != nullptr; }
  jack_client_t* Client() const { return client_; }
  bool OutConnected() const { return out_.load() != nullptr && jack_port_connected(out_.load()) > 0; }

  // Unplugs the output port and plugs it in again under the same name.
  void Replug() {
    jack_port_t* port = out_.exchange(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a cycle that still holds it ends
    jack_port_unregister(client_, port);
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  }

  // Plays the sequence from eight periods ahead (a late first cycle would move its first events).
  void Play() {
    start_ = jack_frame_time(client_) + 8 * jack_get_buffer_size(client_);
    playing_ = true;
  }
  bool Done() const { return next_.load() == kSequence.size(); }

  std::vector<Bytes> Watched() const {
    const size_t count = watched_.load();
    return std::vector<Bytes>(seen_.begin(), seen_.begin() + static_cast<std::ptrdiff_t>(count));
  }

 private:
  static int Process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<Player*>(arg);
    const jack_nframes_t cycle = jack_last_frame_time(self->client_);
    if (jack_port_t* out = self->out_.load()) {
      void* buffer = jack_port_get_buffer(out, frames);
      jack_midi_clear_buffer(buffer);
      while (self->playing_ && self->next_ < kSequence.size()) {
        const Timed& event = kSequence[self->next_];
        const jack_nframes_t at = self->start_ + event.ms * (kRate / 1000);
        if (static_cast<int32_t>(at - cycle) >= static_cast<int32_t>(frames)) break;
        const auto offset =
            static_cast<jack_nframes_t>(std::max<int32_t>(static_cast<int32_t>(at - cycle), 0));
        jack_midi_event_write(buffer, offset, event.bytes.data(), event.bytes.size());
        self->next_ += 1;
      }
    }
    void* watched = jack_port_get_buffer(self->watch_, frames);
    const uint32_t count = jack_midi_get_event_count(watched);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      const size_t n = self->watched_.load();
      if (jack_midi_event_get(&event, watched, i) == 0 && n < self->seen_.size()) {
        self->seen_[n].assign(event.buffer, event.buffer + event.size);
        self->watched_.store(n + 1);
      }
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  std::atomic<jack_port_t*> out_ = nullptr;
  jack_port_t* watch_ = nullptr;
  std::atomic<bool> playing_ = false;
  jack_nframes_t start_ = 0;
  std::atomic<size_t> next_ = 0;
  std::array<Bytes, 4096> seen_;  // reserved before the callback runs: it only assigns small vectors
  std::atomic<size_t> watched_ = 0;
};

std::string ReadText(const fs::path& path) {
  try {
    return platform::ReadWholeFile(path.string());
  } catch (...) {
    return "";
  }
}

std::string Hex(const std::vector<Bytes>& messages) {
  std::ostringstream text;
  for (const Bytes& message : messages) {
    for (uint8_t b : message) text << std::hex << int(b) << ' ';
    text << "| ";
  }
  return text.str();
}

TEST(LiveRecord, AKeyboardOnJackIsHeardRecordedAndConvertedAsTheTakeFile) {
  const std::string jackd = FindProgram("jackd");
  if (jackd.empty()) GTEST_SKIP() << "jackd is missing (Debian package jackd2); no JACK server to test with";
  const char* bin = std::getenv("TONVIK_BIN_DIR");
  const std::string program =
      (bin != nullptr ? std::string(bin) : platform::ExecutableFolder() + "/../bin") + "/tonvik-mml";
  const fs::path dir = fs::temp_directory_path() / ("tonvik-live-record-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);

  // One fixed name: JACK reclaims the registry entry of a dead server only for the same name.
  const std::string server = "tonvik-midiin";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  ChildProcess jackServer({jackd, "--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"},
                          (dir / "jackd.log").string(), std::chrono::seconds(10));
  ASSERT_TRUE(jackServer.Started());
  std::unique_ptr<Player> player;
  ASSERT_TRUE(WaitFor([&] {
    player = std::make_unique<Player>(server);
    return player->Ready();
  })) << ReadText(dir / "jackd.log");

  const fs::path take = dir / "take.txt";
  const std::string record =
      program + " --record --input 'tonvik_player:out (JACK)' --device 'Tonvik:midi_out (JACK)'" +
      " --duration 6 --take " + take.string() + " --dialect 1 --min 16 > " + (dir / "record.out").string() +
      " 2> " + (dir / "record.err").string();
  auto recording = std::async(std::launch::async, [&] { return std::system(record.c_str()); });

  ASSERT_TRUE(WaitFor([&] { return player->OutConnected(); })) << ReadText(dir / "record.err");
  // Tonvik's output port (its client may have been renamed "Tonvik-01"), watched.
  std::string output;
  ASSERT_TRUE(WaitFor([&] {
    const char** ports =
        jack_get_ports(player->Client(), "^Tonvik.*:midi_out$", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (ports != nullptr && ports[0] != nullptr) output = ports[0];
    jack_free(ports);
    return !output.empty();
  }));
  ASSERT_EQ(jack_connect(player->Client(), output.c_str(), "tonvik_player:watch"), 0);
  player->Replug();
  ASSERT_TRUE(WaitFor([&] { return player->OutConnected(); })) << "plugged back in: connected again";
  player->Play();
  ASSERT_TRUE(WaitFor([&] { return player->Done(); }));
  ASSERT_EQ(recording.get(), 0) << ReadText(dir / "record.err");

  // The notes on the window's channel 1 (note-offs as note-ons of velocity 0), the pedal, the program.
  std::vector<Bytes> heard;
  for (const Bytes& message : player->Watched()) {
    const uint8_t kind = message[0] & 0xF0;
    if (kind == 0x90 || kind == 0xC0 || (kind == 0xB0 && message[1] == 64)) heard.push_back(message);
  }
  const std::vector<Bytes> expected = {
      {0xC0, 0x05},  {0x90, 60, 100}, {0x90, 64, 90},  {0x90, 67, 80}, {0x90, 60, 0},
      {0x90, 64, 0}, {0x90, 67, 0},   {0xB0, 64, 127}, {0x90, 62, 70}, {0x90, 62, 0},
      {0xB0, 64, 0}, {0x90, 65, 110}, {0x90, 69, 110}, {0x90, 65, 0},  {0x90, 69, 0},
  };
  // Then the driver reset of the port's close.
  ASSERT_GE(heard.size(), expected.size()) << Hex(heard);
  EXPECT_EQ(Hex({heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(expected.size())}),
            Hex(expected));
  for (size_t i = expected.size(); i < heard.size(); ++i) {
    EXPECT_EQ(heard[i][0] & 0xF0, 0xB0) << "after the sequence only the reset: " << Hex(heard);
  }

  // The take's times from its first event, to the millisecond; the stop when the duration ran out.
  const std::string takeText = ReadText(take);
  std::istringstream lines(takeText);
  std::vector<std::string> events;
  for (std::string line; std::getline(lines, line);) events.push_back(line);
  ASSERT_EQ(events.size(), 7u) << takeText;
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.end() - 1),
            (std::vector<std::string>{"0 60", "0 64", "0 67", "500 62", "1200 65", "1200 69"}));
  EXPECT_TRUE(events.back().ends_with(" stop")) << takeText;
  EXPECT_GT(std::stoul(events.back()), 1650u) << takeText;

  // Its MML is what --record-to-mml makes of the take file.
  const std::string convert = program + " --record-to-mml " + take.string() + " --dialect 1 --min 16 > " +
                              (dir / "convert.out").string();
  ASSERT_EQ(std::system(convert.c_str()), 0);
  EXPECT_FALSE(ReadText(dir / "record.out").empty());
  EXPECT_EQ(ReadText(dir / "record.out"), ReadText(dir / "convert.out"));

  player.reset();
  jackServer.Stop();
  fs::remove_all(dir);
}

}  // namespace
