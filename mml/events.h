// The compiler's event list and the two writers built from it: the Standard MIDI File and the NMM
// event stream (the play image of test play, or an .NMM file).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace mml {

// One event as the list hands it out. `Data` is the complete message: status byte and data bytes
// (channel messages); FF, type, length as a variable-length quantity, bytes (meta events); F0, length,
// bytes (system exclusive). The bytes belong to the list and stay valid until it is changed.
struct TMidiBuffer {
  int32_t Time = 0;
  std::string_view Data;

  uint8_t Byte(size_t i) const { return i < Data.size() ? static_cast<uint8_t>(Data[i]) : 0; }
};

// A growing array of plain values kept with malloc/realloc: a large array grows in place (the C library
// remaps its pages) instead of being copied to a new block each time, as a vector would be.
template <typename T>
class TGrowingArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  TGrowingArray() = default;
  TGrowingArray(const TGrowingArray& other) { Append(other.data_, other.size_); }
  TGrowingArray(TGrowingArray&& other) noexcept { Swap(other); }
  TGrowingArray& operator=(TGrowingArray other) noexcept {
    Swap(other);
    return *this;
  }
  ~TGrowingArray() { std::free(data_); }

  void Append(const T* items, size_t count) {
    if (count == 0) return;
    Reserve(size_ + count);
    std::memcpy(data_ + size_, items, count * sizeof(T));
    size_ += count;
  }
  void PushBack(const T& item) {
    if (size_ == capacity_) Reserve(size_ + 1);
    data_[size_++] = item;
  }
  void Clear() { size_ = 0; }
  void Release() { TGrowingArray().Swap(*this); }

  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* data() const { return data_; }
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  void Swap(TGrowingArray& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }
  void Reserve(size_t needed) {
    if (needed <= capacity_) return;
    size_t grown = std::max({needed, capacity_ * 2, 4096 / sizeof(T)});
    void* block = std::realloc(data_, grown * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(block);
    capacity_ = grown;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// All events of one compilation, in insertion order until SortEvents reorders them. The bytes of every
// event live in one growing arena and each event costs one 16-byte index entry (its sort key, which
// holds the time, and where its bytes are), so millions of events need little memory, no allocation per
// event, and the sort moves nothing but the entries.
class TMidiBufferList {
 public:
  class Iterator;

  // Forgets every event. The storage is kept for the next compilation unless it is large.
  void Clear();
  // Forgets every event and gives all storage back.
  void Release();
  // Appends an event; an event of 16 MiB or more is refused with std::length_error.
  void Add(int32_t time, std::string_view data);
  void Add(int32_t time, std::span<const uint8_t> data);
  void Add(int32_t time, std::initializer_list<uint8_t> data);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.size() == 0; }
  TMidiBuffer operator[](size_t i) const;
  Iterator begin() const;
  Iterator end() const;

  // Sum of the data lengths of all events.
  size_t DataBytes() const { return arena_.size(); }

 private:
  friend void SortEvents(TMidiBufferList& list);
  static constexpr int kSizeBits = 24;
  struct Entry {
    uint64_t Key;    // SortKey: the time in the upper half
    uint64_t Where;  // arena offset << kSizeBits | data size; grows with insertion
  };
  TGrowingArray<Entry> entries_;
  TGrowingArray<char> arena_;
};

class TMidiBufferList::Iterator {
 public:
  using value_type = TMidiBuffer;
  using difference_type = std::ptrdiff_t;
  Iterator() = default;
  Iterator(const TMidiBufferList* list, size_t i) : list_(list), i_(i) {}
  TMidiBuffer operator*() const { return (*list_)[i_]; }
  Iterator& operator++() {
    ++i_;
    return *this;
  }
  Iterator operator++(int) {
    Iterator old = *this;
    ++i_;
    return old;
  }
  bool operator==(const Iterator& o) const { return i_ == o.i_; }

 private:
  const TMidiBufferList* list_ = nullptr;
  size_t i_ = 0;
};

inline TMidiBufferList::Iterator TMidiBufferList::begin() const { return Iterator(this, 0); }
inline TMidiBufferList::Iterator TMidiBufferList::end() const { return Iterator(this, entries_.size()); }

// The event order: negative when a goes before b, 0 when they are equal, positive otherwise.
int CompareEvents(const TMidiBuffer& a, const TMidiBuffer& b);

// The listing line of one event: "<tick> <data bytes as upper-case hex pairs>" and a line feed.
void AppendEventLine(std::string& out, const TMidiBuffer& e);

// Sorts by CompareEvents; equal events keep their insertion order.
void SortEvents(TMidiBufferList& list);

// The variable-length quantity of a Standard MIDI File: negative values count as 0, values above
// 0x0FFFFFFF as 0x0FFFFFFF. Writes 1..4 bytes to `out` and returns their count.
int EncodeVarLen(int32_t value, uint8_t out[4]);
void AppendVarLen(std::string& out, int32_t value);

// Writes (delta, event) pairs of a sorted list into `out`, shared by both writers.
// Delta times: a running last time starts at 0; an event before `cutTime` (or any event when it is -1)
// gets Time - last, an event at or after the cut is placed on the cut tick; negative deltas become 0.
// Running status: a note-on (9n) whose status byte equals that of the event written just before it is
// written without it. Events a writer leaves out never reach this class, so they move neither the
// delta base nor the running status.
class TDeltaStream {
 public:
  TDeltaStream(std::string& out, int32_t cutTime) : out_(out), cutTime_(cutTime) {}
  void Write(int32_t time, std::string_view bytes);
  // The delta from the last time to `endTime` (at least 0), then the end event.
  void End(int32_t endTime, std::string_view endEvent);

 private:
  std::string& out_;
  int32_t cutTime_;
  int32_t last_ = 0;
  int lastStatus_ = -1;
};

// Ticks per quarter note that the 16-bit timebase field of each file can hold (a Standard MIDI File reads
// bit 15 of its division as a frame rate). A larger timebase cannot be written: FileError.
inline constexpr int32_t kMaxSmfTimebase = 0x7FFF;
inline constexpr int32_t kMaxNmmTimebase = 0xFFFF;
// Throws platform::FileError naming `path` unless 1 <= timebase <= maxTimebase.
void RequireTimebase(const std::string& path, int32_t timebase, int32_t maxTimebase);

// The whole Standard MIDI File (format 0, one track) for a sorted list.
std::string BuildSmf(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime);

// The NMM stream of a sorted list: `Stream` is the 10-byte header and the event part, `Trailer` the
// collected copyright and title texts. The play image is `Stream` without its header.
struct NmmStream {
  std::string Stream;
  std::string Trailer;
  static constexpr size_t kHeaderSize = 10;
  std::string_view PlayImage() const { return std::string_view(Stream).substr(kHeaderSize); }
};
NmmStream BuildNmm(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime);

// The compiler's output stage. `outputName` is a file name in CP932, converted to the platform's own
// encoding before the file is opened; the file is written atomically and any failure is thrown as
// platform::FileError (nothing is left behind). For WriteNmm the one-byte name 0xFF hands the play image
// over (see SetSongHandOver) and the one-byte name 0x00 only builds it.
void WriteSmf(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
              const std::string& outputName);
void WriteNmm(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
              const std::string& outputName);

// The file writers for a name already in the platform's own encoding (names from a command line).
void WriteSmfFile(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
                  const std::string& nativePath);
void WriteNmmFile(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
                  const std::string& nativePath);

// Receives the play image of test play (the sequencer copies it into its song buffer).
void SetSongHandOver(std::function<void(std::span<const uint8_t> image, int32_t timebase)> handOver);
// The play image of the last build-only or test-play compilation.
std::vector<uint8_t> LastPlayImage();

}  // namespace mml
