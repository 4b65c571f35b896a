#include "midi/song_timeline.h"

#include <algorithm>
#include <array>
#include <vector>

namespace midi {
namespace {

constexpr uint32_t kStartTempo = 500000;  // microseconds per quarter note until the first tempo event

// The exact song position in samples: `whole` + `part` / `unit`, where unit = timebase x 1e6, so that
// no rounding error piles up over a long song. A delta of d ticks at t microseconds per quarter note
// and r samples per second lasts d x t x r / (timebase x 1e6) samples.
class SampleClock {
 public:
  SampleClock(int32_t timebase, int32_t rate)
      : unit_(static_cast<unsigned __int128>(std::max<int32_t>(timebase, 1)) * 1'000'000),
        rate_(static_cast<uint32_t>(std::max<int32_t>(rate, 1))) {}

  void Advance(uint32_t ticks, uint32_t tempo) {
    unsigned __int128 sum = part_ + static_cast<unsigned __int128>(ticks) * tempo * rate_;
    whole_ += static_cast<int64_t>(sum / unit_);
    part_ = sum % unit_;
  }
  // The nearest sample; a position exactly between two samples goes to the later one.
  int64_t Nearest() const { return whole_ + (part_ * 2 >= unit_ ? 1 : 0); }

 private:
  unsigned __int128 unit_;
  uint32_t rate_;
  int64_t whole_ = 0;
  unsigned __int128 part_ = 0;
};

class ImageReader {
 public:
  explicit ImageReader(std::span<const uint8_t> image) : image_(image) {}

  bool AtEnd() const { return pos_ >= image_.size(); }
  size_t Position() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  uint8_t Peek() const { return image_[pos_]; }
  bool Has(size_t n) const { return image_.size() - pos_ >= n; }

  // A variable-length number; false when the image ends inside it.
  bool VarLen(uint32_t& value) {
    value = 0;
    while (pos_ < image_.size()) {
      const uint8_t b = image_[pos_++];
      value = (value << 7) | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }
  std::span<const uint8_t> Take(size_t n) {
    std::span<const uint8_t> bytes = image_.subspan(pos_, n);
    pos_ += n;
    return bytes;
  }

 private:
  std::span<const uint8_t> image_;
  size_t pos_ = 0;
};

// Data bytes after a status byte of a channel or system message.
size_t DataBytes(uint8_t status) {
  if (status < 0xF0) {
    const uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
  }
  switch (status) {
    case 0xF1:
    case 0xF3:
    case 0xF5:
      return 1;
    case 0xF2:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

TimelineSummary WalkTimeline(std::span<const uint8_t> image, const TimelineOptions& options,
                             const std::function<void(const TimedMessage&)>& message) {
  TimelineSummary summary;
  SampleClock clock(options.timebase, options.sampleRate);
  ImageReader in(image);
  uint32_t tempo = kStartTempo;
  int64_t loopPoint = -1;
  bool movedSinceJump = true;  // a jump to a loop point with no delta after it would repeat forever
  int lastStatus = -1;
  std::vector<uint8_t> runningMessage;  // a running-status message with its status put back
  TimedMessage timed;

  auto endOfSong = [&] {
    if (summary.loops == 0) summary.passSample = clock.Nearest();
    if (loopPoint < 0 || summary.loops >= options.loops || !movedSinceJump) return false;
    in.Seek(static_cast<size_t>(loopPoint));
    ++summary.loops;
    movedSinceJump = false;
    return true;
  };

  while (true) {
    uint32_t delta = 0;
    if (!in.VarLen(delta) || in.AtEnd()) {
      if (endOfSong()) continue;
      break;
    }
    if (delta > 0) movedSinceJump = true;
    clock.Advance(delta, tempo);
    timed.sample = clock.Nearest();
    timed.loop = summary.loops;
    const uint8_t first = in.Peek();
    if (first == 0xFF) {
      if (!in.Has(2)) {
        if (endOfSong()) continue;
        break;
      }
      in.Take(1);
      const uint8_t type = in.Take(1)[0];
      if (type == 0x00) {
        if (endOfSong()) continue;
        break;
      }
      if (type == 0x01 && in.Has(3)) {
        std::span<const uint8_t> t = in.Take(3);
        tempo = static_cast<uint32_t>(t[0]) << 16 | static_cast<uint32_t>(t[1]) << 8 | t[2];
      } else if (type == 0x02 && in.Has(1)) {
        in.Take(1);
      } else if (type == 0x03) {
        loopPoint = static_cast<int64_t>(in.Position());
        if (summary.loopSample < 0) summary.loopSample = timed.sample;
      }
      continue;
    }
    if (first == 0xF0 || first == 0xF7) {
      in.Take(1);
      uint32_t length = 0;
      if (!in.VarLen(length) || !in.Has(length)) break;
      if (first == 0xF0) {
        // F0 and the bytes: the length field is left out.
        runningMessage.assign(1, 0xF0);
        std::span<const uint8_t> body = in.Take(length);
        runningMessage.insert(runningMessage.end(), body.begin(), body.end());
        timed.bytes = runningMessage;
        lastStatus = 0xF0;
      } else {
        timed.bytes = in.Take(length);
      }
      if (message && !timed.bytes.empty()) message(timed);
      continue;
    }
    if (first < 0x80) {
      // Running status: the data bytes of a message with the previous status byte.
      if (lastStatus < 0x80 || lastStatus >= 0xF0) break;
      const size_t n = DataBytes(static_cast<uint8_t>(lastStatus));
      if (!in.Has(n)) break;
      runningMessage.assign(1, static_cast<uint8_t>(lastStatus));
      std::span<const uint8_t> data = in.Take(n);
      runningMessage.insert(runningMessage.end(), data.begin(), data.end());
      timed.bytes = runningMessage;
    } else {
      const size_t n = 1 + DataBytes(first);
      if (!in.Has(n)) break;
      timed.bytes = in.Take(n);
      lastStatus = first;
    }
    if (message) message(timed);
  }
  summary.endSample = clock.Nearest();
  if (summary.loops == 0) summary.passSample = summary.endSample;
  return summary;
}

}  // namespace midi
