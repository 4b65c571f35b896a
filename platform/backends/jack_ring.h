// The lock-free queue between the thread that sends MIDI messages and the JACK process callback: a
// JACK ring buffer of records, each the message length (uint32_t) followed by its bytes.
#pragma once

#include <jack/ringbuffer.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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
  // Writer: the message with the time it was sent (a JACK frame time), as one record whose first four
  // bytes are the stamp; for DrainStamped.
  bool TryPushStamped(uint32_t stamp, std::span<const uint8_t> message);
  // Writer or reader: nothing is queued.
  bool Empty() const;

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

  // Reader: Drain for records of TryPushStamped: `reserve(length, stamp)` and `drop(length)` see the
  // message's length without the stamp.
  template <typename Reserve, typename Drop>
  void DrainStamped(Reserve&& reserve, Drop&& drop) {
    uint32_t head[2];  // length of the record, stamp
    while (jack_ringbuffer_read_space(ring_) >= sizeof head) {
      jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(head), sizeof head);
      const size_t length = head[0] >= sizeof head[1] ? head[0] - sizeof head[1] : 0;
      if (head[0] < sizeof head[1] || drop(length)) {
        jack_ringbuffer_read_advance(ring_, sizeof head[0] + head[0]);
        continue;
      }
      uint8_t* slot = reserve(length, head[1]);
      if (slot == nullptr) {
        return;
      }
      jack_ringbuffer_read_advance(ring_, sizeof head);
      jack_ringbuffer_read(ring_, reinterpret_cast<char*>(slot), length);
    }
  }

 private:
  jack_ringbuffer_t* const ring_;
  const size_t capacity_;
};

// Where the process callback puts a message stamped `stamp` (the frame time when it was sent) in a
// period of `frames` frames whose previous period started at `previousStart`, not before `earliest`
// (the offset of the message ahead of it): at its offset one period later, so that one period of latency
// keeps the spacing of the messages; none (the next period takes it) for one stamped within this period,
// whose callback ran late; the earliest offset for one stamped before the previous period or beyond
// this one (the frame clock's estimate ran ahead of the cycles, as a dummy driver's does when its cycles
// fall behind: the message is due now, not at the period's last frame).
std::optional<uint32_t> PeriodOffset(uint32_t stamp, uint32_t previousStart, uint32_t frames,
                                     uint32_t earliest);

// The writer's side of a ring whose reader may fall behind: a message that does not fit waits for
// room, but a batch of messages sent in a row (an open sends about 160) shares one deadline. The first
// wait starts it; once it has passed, every message that does not fit at once is dropped and counted,
// until one fits at once again, which ends the batch.
class JackRingWriter {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Sleep = std::function<void(std::chrono::milliseconds)>;
  JackRingWriter(JackMidiRing& ring, std::chrono::milliseconds limit, Clock clock, Sleep sleep);

  // False when the message was dropped (it never fits, the batch's deadline passed, or `alive` turned
  // false while it waited).
  bool Send(uint32_t stamp, std::span<const uint8_t> message, const std::function<bool()>& alive);
  // Messages dropped so far.
  uint64_t Dropped() const { return dropped_; }

 private:
  JackMidiRing& ring_;
  const std::chrono::milliseconds limit_;
  const Clock clock_;
  const Sleep sleep_;
  bool inBatch_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  uint64_t dropped_ = 0;
};

}  // namespace platform
