#include "tests/support/jack_keyboard.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace platform::testing_support {

constexpr jack_nframes_t kRate = 48000;

const std::vector<TimedMessage> kKeyboardSequence = {
    {0, {0xC0, 0x05}},       {100, {0x91, 60, 100}}, {100, {0x91, 64, 90}}, {100, {0x91, 67, 80}},
    {400, {0x81, 60, 0}},    {400, {0x81, 64, 0}},   {400, {0x91, 67, 0}},  {400, {0xB1, 64, 127}},
    {600, {0x92, 62, 70}},   {900, {0x82, 62, 0}},   {900, {0xB1, 64, 0}},  {1300, {0x90, 65, 110}},
    {1300, {0x90, 69, 110}}, {1750, {0x80, 65, 0}},  {1750, {0x80, 69, 0}},
};

const std::vector<std::string> kKeyboardTake = {"0 60", "0 64", "0 67", "500 62", "1200 65", "1200 69"};

bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::unique_ptr<ChildProcess> StartJackServer(const std::string& server, const std::string& log) {
  const std::string jackd = FindProgram("jackd");
  if (jackd.empty()) return nullptr;
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  // A server that still has clients takes a few seconds to end; killed, it leaves its shared memory.
  return std::make_unique<ChildProcess>(std::vector<std::string>{jackd, "--no-realtime", "-n", server, "-d",
                                                                 "dummy", "-r", "48000", "-p", "256"},
                                        log, std::chrono::seconds(10));
}

JackKeyboard::JackKeyboard(const std::string& server) {
  jack_set_error_function([](const char*) {});  // "cannot connect" while the server comes up
  jack_set_info_function([](const char*) {});
  jack_status_t status;
  client_ = jack_client_open("tonvik_player", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                             &status, server.c_str());
  if (client_ == nullptr) return;
  out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  watch_ = jack_port_register(client_, "watch", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  jack_set_process_callback(client_, &JackKeyboard::Process, this);
  jack_activate(client_);
}

JackKeyboard::~JackKeyboard() {
  if (client_ != nullptr) jack_client_close(client_);
}

bool JackKeyboard::OutConnected() const {
  return out_.load() != nullptr && jack_port_connected(out_.load()) > 0;
}

void JackKeyboard::Replug() {
  jack_port_t* port = out_.exchange(nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // a cycle that still holds it ends
  jack_port_unregister(client_, port);
  out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
}

bool JackKeyboard::WatchTonvik() {
  const char** ports =
      jack_get_ports(client_, "^Tonvik.*:midi_out$", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
  const bool found = ports != nullptr && ports[0] != nullptr;
  const bool connected = found && jack_connect(client_, ports[0], "tonvik_player:watch") == 0;
  jack_free(ports);
  return connected;
}

void JackKeyboard::Play() {
  start_ = jack_frame_time(client_) + 8 * jack_get_buffer_size(client_);
  playing_ = true;
}

std::vector<std::vector<uint8_t>> JackKeyboard::Watched() const {
  const size_t count = watched_.load();
  return std::vector<std::vector<uint8_t>>(seen_.begin(), seen_.begin() + static_cast<std::ptrdiff_t>(count));
}

int JackKeyboard::Process(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<JackKeyboard*>(arg);
  const jack_nframes_t cycle = jack_last_frame_time(self->client_);
  if (jack_port_t* out = self->out_.load()) {
    void* buffer = jack_port_get_buffer(out, frames);
    jack_midi_clear_buffer(buffer);
    while (self->playing_ && self->next_ < kKeyboardSequence.size()) {
      const TimedMessage& event = kKeyboardSequence[self->next_];
      const jack_nframes_t at = self->start_ + event.ms * (kRate / 1000);
      if (static_cast<int32_t>(at - cycle) >= static_cast<int32_t>(frames)) break;
      const auto offset = static_cast<jack_nframes_t>(std::max<int32_t>(static_cast<int32_t>(at - cycle), 0));
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

}  // namespace platform::testing_support
