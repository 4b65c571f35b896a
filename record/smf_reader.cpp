#include "record/smf_reader.h"

#include <algorithm>
#include <limits>
#include <string>

namespace record {
namespace {

using Wide = unsigned __int128;  // tick x tempo sums of any file stay far below its range

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note
constexpr uint64_t kMaxTick = uint64_t{1} << 48;
constexpr int kDrumChannel = 9;  // channel 10

[[noreturn]] void Fail(const std::string& what, size_t offset) {
  throw SmfError("MIDI file: " + what + " (at byte " + std::to_string(offset) + ")");
}

// A bounds-checked cursor over the file; every read past the end is an error naming what was read.
class ByteReader {
 public:
  ByteReader(std::span<const uint8_t> bytes, size_t base) : bytes_(bytes), base_(base) {}

  bool AtEnd() const { return pos_ >= bytes_.size(); }
  size_t Offset() const { return base_ + pos_; }
  uint8_t Peek(const char* what) const {
    if (AtEnd()) Fail(std::string("file ends inside ") + what, Offset());
    return bytes_[pos_];
  }
  uint8_t Byte(const char* what) {
    uint8_t b = Peek(what);
    ++pos_;
    return b;
  }
  uint32_t BigEndian(int count, const char* what) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | Byte(what);
    return value;
  }
  // A variable-length quantity of at most four bytes.
  uint32_t VarLen(const char* what) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b = Byte(what);
      value = value << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) return value;
    }
    Fail(std::string("variable-length number longer than four bytes in ") + what, Offset());
  }
  std::span<const uint8_t> Take(uint64_t count, const char* what) {
    if (count > bytes_.size() - pos_) Fail(std::string("file ends inside ") + what, Offset());
    auto part = bytes_.subspan(pos_, count);
    pos_ += count;
    return part;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t base_;
  size_t pos_ = 0;
};

struct Header {
  int32_t Tracks = 0;
  uint16_t Division = 0;
};

struct TempoChange {
  uint64_t Tick;
  uint32_t Tempo;
  int32_t Track;  // with the order of insertion, decides between changes at the same tick
};

Header ReadHeader(ByteReader& file) {
  auto id = file.Take(4, "the header");
  if (!std::equal(id.begin(), id.end(), "MThd")) Fail("not a Standard MIDI File (no MThd header)", 0);
  uint32_t length = file.BigEndian(4, "the header");
  if (length < 6) Fail("header chunk shorter than 6 bytes", file.Offset());
  uint16_t format = file.BigEndian(2, "the header");
  Header header;
  header.Tracks = static_cast<int32_t>(file.BigEndian(2, "the header"));
  header.Division = static_cast<uint16_t>(file.BigEndian(2, "the header"));
  file.Take(length - 6, "the header");
  if (format > 1) Fail("format " + std::to_string(format) + " is not supported (only 0 and 1)", 8);
  return header;
}

// track event = delta-time (channel message | FF type len bytes | F0/F7 len bytes); channel messages
// may use running status (kept across meta and system exclusive events). Reading stops at the
// end-of-track event, or at the end of the chunk when it has none.
SmfTrack ReadTrack(ByteReader track) {
  SmfTrack content;
  uint64_t tick = 0;
  uint8_t running = 0;
  while (!track.AtEnd()) {
    tick += track.VarLen("a delta time");
    if (tick > kMaxTick) Fail("track time too large", track.Offset());
    uint8_t status = track.Peek("an event");
    if (status & 0x80) {
      track.Byte("an event");
    } else if (running == 0) {
      Fail("data byte without a status byte", track.Offset());
    } else {
      status = running;
    }
    if (status == 0xFF) {
      uint8_t type = track.Byte("a meta event");
      auto data = track.Take(track.VarLen("a meta event"), "a meta event");
      if (type == 0x2F) {
        content.EndTick = tick;
        return content;
      }
      if (type == 0x51 && data.size() < 3) Fail("tempo event shorter than 3 bytes", track.Offset());
      content.Events.push_back({tick, status, type, 0, data});
    } else if (status == 0xF0 || status == 0xF7) {
      auto data = track.Take(track.VarLen("a system exclusive event"), "a system exclusive event");
      content.Events.push_back({tick, status, 0, 0, data});
    } else if (status > 0xF0) {
      Fail("status byte " + std::to_string(status) + " is no file event", track.Offset() - 1);
    } else {
      running = status;
      int kind = status >> 4;
      uint8_t data[2] = {0, 0};
      for (int i = 0; i < (kind == 0xC || kind == 0xD ? 1 : 2); ++i) {
        data[i] = track.Byte("a channel message");
        if (data[i] & 0x80) Fail("status byte inside a channel message", track.Offset() - 1);
      }
      content.Events.push_back({tick, status, data[0], data[1], {}});
    }
  }
  content.EndTick = tick;
  return content;
}

// Time of a tick as an exact fraction of microseconds: Numerator(tick) / Denominator.
class TimeMap {
 public:
  TimeMap(uint16_t division, std::vector<TempoChange> tempos) {
    if (division & 0x8000) {
      int frames = SmpteFrames(division);
      int ticksPerFrame = division & 0xFF;
      // 29 is 30-frame drop-frame time code: 30000/1001 frames per second.
      smpteNumerator_ = frames == 29 ? 1001 * 1000000 : 1000000;
      denominator_ = (frames == 29 ? 30000 : frames) * static_cast<uint64_t>(ticksPerFrame);
      return;
    }
    denominator_ = division;
    std::stable_sort(tempos.begin(), tempos.end(), [](const TempoChange& a, const TempoChange& b) {
      return a.Tick != b.Tick ? a.Tick < b.Tick : a.Track < b.Track;
    });
    segments_.push_back({0, kDefaultTempo, 0});
    for (const TempoChange& change : tempos) {
      const Segment& last = segments_.back();
      segments_.push_back(
          {change.Tick, change.Tempo, last.Start + Wide{change.Tick - last.Tick} * last.Tempo});
    }
  }

  // Milliseconds, rounded half up: floor(exact microseconds) rounded to the nearest millisecond.
  uint32_t Milliseconds(uint64_t tick) const {
    Wide numerator;
    if (segments_.empty()) {
      numerator = Wide{tick} * smpteNumerator_;
    } else {
      auto next = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                   [](uint64_t t, const Segment& s) { return t < s.Tick; });
      const Segment& s = *(next - 1);
      numerator = s.Start + Wide{tick - s.Tick} * s.Tempo;
    }
    Wide ms = (numerator / denominator_ + 500) / 1000;
    if (ms > static_cast<Wide>(std::numeric_limits<int32_t>::max())) {
      throw SmfError("MIDI file: the music is longer than 2^31 milliseconds");
    }
    return static_cast<uint32_t>(ms);
  }

 private:
  struct Segment {
    uint64_t Tick;
    uint32_t Tempo;
    Wide Start;  // microseconds x denominator at Tick
  };
  std::vector<Segment> segments_;  // metrical division only, sorted by tick; the last one at a tick wins
  uint64_t smpteNumerator_ = 0;
  uint64_t denominator_ = 1;
};

}  // namespace

int SmpteFrames(uint16_t division) { return -static_cast<int8_t>(division >> 8); }

SmfFile ReadSmf(std::span<const uint8_t> bytes) {
  ByteReader file(bytes, 0);
  Header header = ReadHeader(file);
  SmfFile smf;
  smf.Division = header.Division;
  while (static_cast<int32_t>(smf.Tracks.size()) < header.Tracks) {
    if (file.AtEnd()) {
      Fail("file ends before track " + std::to_string(smf.Tracks.size() + 1) + " of " +
               std::to_string(header.Tracks),
           file.Offset());
    }
    auto id = file.Take(4, "a chunk header");
    uint32_t length = file.BigEndian(4, "a chunk header");
    size_t start = file.Offset();
    auto data = file.Take(length, "a track chunk");
    if (std::equal(id.begin(), id.end(), "MTrk")) {
      smf.Tracks.push_back(ReadTrack(ByteReader(data, start)));
    }  // any other chunk is skipped
  }
  if (smf.Division & 0x8000) {
    if (SmpteFrames(smf.Division) <= 0 || (smf.Division & 0xFF) == 0) Fail("bad SMPTE division", 12);
  } else if (smf.Division == 0) {
    Fail("division of 0 ticks per quarter note", 12);
  }
  return smf;
}

SmfTake ReadSmfNotes(std::span<const uint8_t> bytes) {
  SmfFile smf = ReadSmf(bytes);
  std::vector<TempoChange> tempos;
  for (size_t i = 0; i < smf.Tracks.size(); ++i) {
    for (const SmfEvent& e : smf.Tracks[i].Events) {
      if (e.Status == 0xFF && e.Data1 == 0x51) {
        tempos.push_back({e.Tick, uint32_t{e.Payload[0]} << 16 | uint32_t{e.Payload[1]} << 8 | e.Payload[2],
                          static_cast<int32_t>(i)});
      }
    }
  }
  TimeMap map(smf.Division, std::move(tempos));

  SmfTake take;
  for (const SmfTrack& t : smf.Tracks) {
    for (const SmfEvent& e : t.Events) {
      if (e.Status >> 4 == 0x9 && (e.Status & 0x0F) != kDrumChannel && e.Data2 > 0) {
        take.Notes.push_back({map.Milliseconds(e.Tick), e.Data1});
      }
    }
    take.StopMs = std::max(take.StopMs, map.Milliseconds(t.EndTick));
  }
  // The notes are in track order, each track in its own order: a stable sort by time keeps both.
  std::stable_sort(take.Notes.begin(), take.Notes.end(),
                   [](const SmfNote& a, const SmfNote& b) { return a.TimeMs < b.TimeMs; });
  return take;
}

}  // namespace record
