#include "platform/backends/jack_ring.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace {

// Copies `count` bytes to `offset` of the two parts of a ring buffer's write space.
void CopyInto(const jack_ringbuffer_data_t (&parts)[2], size_t offset, const void* source, size_t count) {
  const auto* bytes = static_cast<const char*>(source);
  if (offset < parts[0].len) {
    const size_t first = std::min(count, parts[0].len - offset);
    std::memcpy(parts[0].buf + offset, bytes, first);
    bytes += first;
    count -= first;
    offset = parts[0].len;
  }
  if (count > 0) {
    std::memcpy(parts[1].buf + (offset - parts[0].len), bytes, count);
  }
}

}  // namespace

JackMidiRing::JackMidiRing(size_t bytes) : ring_(jack_ringbuffer_create(bytes)), capacity_(bytes) {}

JackMidiRing::~JackMidiRing() { jack_ringbuffer_free(ring_); }

bool JackMidiRing::CanHold(size_t length) const {
  // The ring holds one byte less than its size, which JACK rounds up to a power of two.
  return ring_ != nullptr && sizeof(uint32_t) + length < capacity_;
}

bool JackMidiRing::Empty() const { return ring_ == nullptr || jack_ringbuffer_read_space(ring_) == 0; }

bool JackMidiRing::TryPushStamped(uint32_t stamp, std::span<const uint8_t> message) {
  if (message.empty()) {
    return true;  // nothing to send
  }
  const uint32_t length = static_cast<uint32_t>(sizeof stamp + message.size());
  const size_t recordSize = sizeof length + length;
  if (!CanHold(length) || jack_ringbuffer_write_space(ring_) < recordSize) {
    return false;
  }
  jack_ringbuffer_data_t parts[2];
  jack_ringbuffer_get_write_vector(ring_, parts);
  CopyInto(parts, 0, &length, sizeof length);
  CopyInto(parts, sizeof length, &stamp, sizeof stamp);
  CopyInto(parts, sizeof length + sizeof stamp, message.data(), message.size());
  jack_ringbuffer_write_advance(ring_, recordSize);
  return true;
}

bool JackMidiRing::TryPush(std::span<const uint8_t> message) {
  const uint32_t length = static_cast<uint32_t>(message.size());
  const size_t recordSize = sizeof length + message.size();
  if (message.empty()) {
    return true;  // nothing to send
  }
  if (!CanHold(message.size()) || jack_ringbuffer_write_space(ring_) < recordSize) {
    return false;
  }
  jack_ringbuffer_data_t parts[2];
  jack_ringbuffer_get_write_vector(ring_, parts);
  CopyInto(parts, 0, &length, sizeof length);
  CopyInto(parts, sizeof length, message.data(), message.size());
  jack_ringbuffer_write_advance(ring_, recordSize);
  return true;
}

JackRingWriter::JackRingWriter(JackMidiRing& ring, std::chrono::milliseconds limit, Clock clock, Sleep sleep)
    : ring_(ring), limit_(limit), clock_(std::move(clock)), sleep_(std::move(sleep)) {}

bool JackRingWriter::Send(uint32_t stamp, std::span<const uint8_t> message,
                          const std::function<bool()>& alive) {
  if (ring_.TryPushStamped(stamp, message)) {
    inBatch_ = false;
    return true;
  }
  if (!ring_.CanHold(sizeof stamp + message.size())) {
    ++dropped_;
    return false;
  }
  if (!inBatch_) {
    inBatch_ = true;
    deadline_ = clock_() + limit_;
  }
  while (clock_() < deadline_ && alive()) {
    sleep_(std::chrono::milliseconds(1));
    if (ring_.TryPushStamped(stamp, message)) {
      return true;
    }
  }
  ++dropped_;
  return false;
}

std::optional<uint32_t> PeriodOffset(uint32_t stamp, uint32_t previousStart, uint32_t frames,
                                     uint32_t earliest) {
  const int64_t offset = static_cast<int32_t>(stamp - previousStart);
  if (offset >= frames && offset < 2 * static_cast<int64_t>(frames)) {
    return std::nullopt;
  }
  // Beyond this period no message can have been sent: the frame clock ran ahead of the cycles.
  if (offset >= 2 * static_cast<int64_t>(frames)) {
    return earliest;
  }
  return static_cast<uint32_t>(std::clamp<int64_t>(offset, earliest, static_cast<int64_t>(frames) - 1));
}

}  // namespace platform
