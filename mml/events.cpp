#include "mml/events.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "platform/files.h"

namespace mml {

namespace {

// Events at one tick go out in this order of their status class, so that a controller or program
// change is in place before the notes it shapes, and a note-off (a note-on with velocity 0, or 8n)
// is sent before a note-on that may sound the same key again:
//   F0..FF meta and system exclusive, Bn controller, Cn program, Dn channel pressure, En pitch bend,
//   An key pressure, 8n note-off, 9n note-on.
// Status bytes below 0x80 (raw bytes written with `%`) share the first class.
constexpr uint8_t kStatusClass[16] = {0, 0, 0, 0, 0, 0, 0, 0, 6, 7, 5, 1, 2, 3, 4, 0};

// One number that orders events as CompareEvents does: the time, then the status class, then
//   - for two note-ons the smaller velocity, so that velocity 0 (an end of note) comes first;
//   - for two program changes the higher program number.
// Everything else at the same tick and class compares equal.
uint64_t SortKey(int32_t time, std::string_view data) {
  auto byte = [&](size_t i) -> uint8_t { return i < data.size() ? static_cast<uint8_t>(data[i]) : 0; };
  uint8_t high = byte(0) >> 4;
  uint32_t tie = 0;
  if (high == 0x9) {
    tie = byte(2);
  } else if (high == 0xC) {
    tie = 0xFF - byte(1);
  }
  uint32_t biased = static_cast<uint32_t>(time) ^ 0x80000000u;  // signed order as unsigned
  return (static_cast<uint64_t>(biased) << 32) | (static_cast<uint64_t>(kStatusClass[high]) << 8) | tie;
}

int32_t TimeOfKey(uint64_t key) {
  return static_cast<int32_t>(static_cast<uint32_t>(key >> 32) ^ 0x80000000u);
}

// Beyond this the list gives its storage back on Clear instead of keeping it for the next compilation.
constexpr size_t kKeptEntries = size_t{1} << 20;
constexpr size_t kKeptArena = size_t{16} << 20;

}  // namespace

void TMidiBufferList::Clear() {
  if (entries_.capacity() > kKeptEntries || arena_.capacity() > kKeptArena) {
    Release();
    return;
  }
  entries_.Clear();
  arena_.Clear();
}

void TMidiBufferList::Release() {
  entries_.Release();
  arena_.Release();
}

void TMidiBufferList::Add(int32_t time, std::string_view data) {
  if (data.size() >= (size_t{1} << kSizeBits)) {
    throw std::length_error("MIDI event of 16 MiB or more");
  }
  entries_.PushBack(
      Entry{SortKey(time, data), (static_cast<uint64_t>(arena_.size()) << kSizeBits) | data.size()});
  arena_.Append(data.data(), data.size());
}

void TMidiBufferList::Add(int32_t time, std::span<const uint8_t> data) {
  Add(time, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

void TMidiBufferList::Add(int32_t time, std::initializer_list<uint8_t> data) {
  Add(time, std::span<const uint8_t>(data.begin(), data.size()));
}

TMidiBuffer TMidiBufferList::operator[](size_t i) const {
  const Entry& e = entries_[i];
  size_t offset = static_cast<size_t>(e.Where >> kSizeBits);
  size_t size = static_cast<size_t>(e.Where & ((uint64_t{1} << kSizeBits) - 1));
  return TMidiBuffer{TimeOfKey(e.Key), std::string_view(arena_.data() + offset, size)};
}

int CompareEvents(const TMidiBuffer& a, const TMidiBuffer& b) {
  uint64_t ka = SortKey(a.Time, a.Data);
  uint64_t kb = SortKey(b.Time, b.Data);
  return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

void SortEvents(TMidiBufferList& list) {
  // Entries with equal keys keep their insertion order: `Where` grows with insertion and breaks ties,
  // so the result does not depend on the sorting algorithm.
  using Entry = TMidiBufferList::Entry;
  auto before = [](const Entry& a, const Entry& b) {
    return a.Key != b.Key ? a.Key < b.Key : a.Where < b.Where;
  };
  TGrowingArray<Entry>& entries = list.entries_;
  if (!std::is_sorted(entries.begin(), entries.end(), before)) {
    std::sort(entries.begin(), entries.end(), before);
  }
}

void AppendEventLine(std::string& out, const TMidiBuffer& e) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += std::to_string(e.Time);
  for (char c : e.Data) {
    uint8_t b = static_cast<uint8_t>(c);
    out += ' ';
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  out += '\n';
}

int EncodeVarLen(int32_t value, uint8_t out[4]) {
  uint32_t v = value < 0 ? 0 : std::min<uint32_t>(static_cast<uint32_t>(value), 0x0FFFFFFF);
  int count = 1;
  for (uint32_t rest = v >> 7; rest != 0; rest >>= 7) {
    ++count;
  }
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<uint8_t>((v & 0x7F) | (i == count - 1 ? 0 : 0x80));
    v >>= 7;
  }
  return count;
}

void AppendVarLen(std::string& out, int32_t value) {
  uint8_t bytes[4];
  int count = EncodeVarLen(value, bytes);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
}

namespace {

// to - from without overflow, limited to what EncodeVarLen takes (it makes negatives 0 and caps).
int32_t Delta(int32_t from, int32_t to) {
  int64_t d = static_cast<int64_t>(to) - from;
  return static_cast<int32_t>(std::clamp<int64_t>(d, -1, 0x0FFFFFFF));
}

}  // namespace

void TDeltaStream::Write(int32_t time, std::string_view bytes) {
  int32_t at = (cutTime_ == -1 || time < cutTime_) ? time : cutTime_;
  AppendVarLen(out_, Delta(last_, at));
  last_ = at;
  int status = bytes.empty() ? -1 : static_cast<uint8_t>(bytes[0]);
  if (status >= 0x90 && status <= 0x9F && status == lastStatus_) {
    bytes.remove_prefix(1);
  }
  out_.append(bytes);
  lastStatus_ = status;
}

void TDeltaStream::End(int32_t endTime, std::string_view endEvent) {
  AppendVarLen(out_, Delta(last_, endTime));
  out_.append(endEvent);
}

void RequireTimebase(const std::string& path, int32_t timebase, int32_t maxTimebase) {
  if (timebase < 1 || timebase > maxTimebase) {
    throw platform::FileError("cannot write \"" + path + "\": the file holds a timebase of 1.." +
                              std::to_string(maxTimebase) + ", not " + std::to_string(timebase));
  }
}

}  // namespace mml
