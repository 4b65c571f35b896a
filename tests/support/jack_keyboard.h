// A MIDI keyboard for tests on a private JACK server: a client that plays a known sequence (chords,
// rests, the sustain pedal, a program change) at exact frames into Tonvik's input, and watches what
// Tonvik's output port sends.
#pragma once

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace platform::testing_support {

struct TimedMessage {
  uint32_t ms;  // from the start of the sequence
  std::vector<uint8_t> bytes;
};

// The sequence, on several channels: a program change, a chord, the pedal, a single note, a rest and a
// chord of two.
extern const std::vector<TimedMessage> kKeyboardSequence;
// The take it makes: "<ms from the first note> <note>" per note-on, in order.
extern const std::vector<std::string> kKeyboardTake;

// Polls `ready` every 20 ms until it is true or `limit` has passed.
bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds limit = std::chrono::seconds(5));

// Starts a private server with the dummy driver (48 kHz, 256 frames) under the fixed name `server`
// (JACK reclaims the registry entry of a dead server only for the same name), its output into `log`,
// and makes it the default server of this process and its children; nullptr when jackd is missing.
std::unique_ptr<ChildProcess> StartJackServer(const std::string& server, const std::string& log);

// The keyboard: a client of the server `server`.
class JackKeyboard {
 public:
  explicit JackKeyboard(const std::string& server);
  ~JackKeyboard();
  JackKeyboard(const JackKeyboard&) = delete;
  JackKeyboard& operator=(const JackKeyboard&) = delete;

  // The client "tonvik_player" with its ports "out" (to Tonvik) and "watch" (from Tonvik) is running.
  bool Ready() const { return client_ != nullptr && out_.load() != nullptr && watch_ != nullptr; }
  jack_client_t* Client() const { return client_; }
  bool OutConnected() const;
  // Unplugs the output port and plugs it in again under the same name.
  void Replug();
  // Connects Tonvik's output port (of a client "Tonvik" or "Tonvik-NN") to the watch port.
  bool WatchTonvik();
  // Plays the sequence from eight periods ahead (a late first cycle would move its first events).
  void Play();
  bool Done() const { return next_.load() == kKeyboardSequence.size(); }
  // What the watch port received so far.
  std::vector<std::vector<uint8_t>> Watched() const;

 private:
  static int Process(jack_nframes_t frames, void* arg);

  jack_client_t* client_ = nullptr;
  std::atomic<jack_port_t*> out_ = nullptr;
  jack_port_t* watch_ = nullptr;
  std::atomic<bool> playing_ = false;
  jack_nframes_t start_ = 0;
  std::atomic<size_t> next_ = 0;
  std::array<std::vector<uint8_t>, 4096> seen_;  // the callback only assigns small vectors
  std::atomic<size_t> watched_ = 0;
};

}  // namespace platform::testing_support
