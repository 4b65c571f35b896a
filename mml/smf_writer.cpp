// The Standard MIDI File writer: format 0, one track with the events of every MML track, each on the
// channel of its own track. The whole file is built in memory and written in one go.
#include <string>

#include "mml/events.h"
#include "platform/files.h"
#include "platform/text.h"

namespace mml {
namespace {

void AppendBig(std::string& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

constexpr size_t kHeaderSize = 22;
constexpr size_t kTrackLengthAt = 18;

}  // namespace

std::string BuildSmf(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime) {
  std::string out;
  out.reserve(kHeaderSize + events.size() * 4 + events.DataBytes() + 7);
  out.append("MThd", 4);
  AppendBig(out, 6, 4);
  AppendBig(out, 0, 2);  // format 0
  AppendBig(out, 1, 2);  // one track
  AppendBig(out, static_cast<uint32_t>(timebase), 2);
  out.append("MTrk", 4);
  AppendBig(out, 0, 4);  // track length, filled in below

  TDeltaStream stream(out, cutTime);
  for (const TMidiBuffer& e : events) {
    stream.Write(e.Time, e.Data);
  }
  stream.End(endTime, std::string_view("\xFF\x2F\x00", 3));

  uint32_t trackLength = static_cast<uint32_t>(out.size() - kHeaderSize);
  for (int i = 0; i < 4; ++i) {
    out[kTrackLengthAt + i] = static_cast<char>((trackLength >> (8 * (3 - i))) & 0xFF);
  }
  return out;
}

void WriteSmfFile(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
                  const std::string& nativePath) {
  RequireTimebase(nativePath, timebase, kMaxSmfTimebase);
  platform::WriteFileAtomic(nativePath, {BuildSmf(events, timebase, cutTime, endTime)});
}

void WriteSmf(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
              const std::string& outputName) {
  WriteSmfFile(events, timebase, cutTime, endTime, platform::Cp932NameToNative(outputName));
}

}  // namespace mml
