// The lock-free queue between the thread that sends MIDI messages and the JACK process callback: a
// JACK ring buffer of records, each the message length (uint32_t) followed by its bytes.
#pragma once

#include <jack/ringbuffer.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

// One writer thread and one reader thread; neither blocks nor allocates.
class JackMidiRing {
 public:
  explicit JackMidiRing(size_t bytes);
  ~JackMidiRing();
  JackMidiRing(const JackMidiRing&) = delete;
  JackMidiRing& operator=(const JackMidiRing&) = delete;

  // Writer: appends the message as one record, written in one go so that the reader never sees half
  // of it (an empty message is nothing to send). False when it does not fit now.
  bool TryPush(std::span<const uint8_t> message);
  // Writer: whether a message of `length` bytes could ever fit.
  bool CanHold(size_t length) const;

  // Reader: hands the records, in order, to `reserve(length)`, which returns where the bytes go, or
  // nullptr to keep this record and the rest for the next call. A record for which `drop(length)`
  // is true is removed unread.
  template <typename Reserve, typename Drop>
  void Drain(Reserve&& reserve, Drop&& drop) {
    uint32_t length;
    while (jack_ringbuffer_read_space(ring_) >= sizeof length) {
      jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&length), sizeof length);
      if (drop(static_cast<size_t>(length))) {
        jack_ringbuffer_read_advance(ring_, sizeof length + length);
        continue;
      }
      uint8_t* slot = reserve(static_cast<size_t>(length));
      if (slot == nullptr) {
        return;
      }
      jack_ringbuffer_read_advance(ring_, sizeof length);
      jack_ringbuffer_read(ring_, reinterpret_cast<char*>(slot), length);
    }
  }

 private:
  jack_ringbuffer_t* const ring_;
  const size_t capacity_;
};

}  // namespace platform
