// The NMM event stream: the play image that test play hands to the sequencer, and the .NMM file.
//   0..3  "NMM" 1A
//   4..7  length of the event part (little-endian)
//   8..9  timebase (little-endian)
//   10..  (delta, event) pairs, then the delta to the end time and FF 00
//   file only: the copyright and title texts (length, text, 00 each)
#include <string>

#include "mml/events.h"
#include "platform/files.h"
#include "platform/text.h"

namespace mml {
namespace {

std::function<void(std::span<const uint8_t>, int32_t)> SongHandOver;
std::vector<uint8_t> PlayImage;

void PutLittle(std::string& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// A lyric FF 05 <length> <text> whose text begins with "*LOOP" in any case: the five bytes behind
// FF 05 and a one-byte length are compared, so a lyric of 128 bytes or more (two length bytes) never
// matches by its text.
bool IsLoopMark(const TMidiBuffer& e) {
  static constexpr char kMark[] = "*LOOP";
  for (size_t i = 0; i < 5; ++i) {
    uint8_t c = e.Byte(3 + i);
    if (c >= 'a' && c <= 'z') {
      c = static_cast<uint8_t>(c - 'a' + 'A');
    }
    if (c != static_cast<uint8_t>(kMark[i])) {
      return false;
    }
  }
  return true;
}

bool IsPlayName(const std::string& name) { return name.size() == 1 && static_cast<uint8_t>(name[0]) == 0xFF; }
bool IsBuildOnlyName(const std::string& name) { return name.size() == 1 && name[0] == '\0'; }

}  // namespace

NmmStream BuildNmm(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime) {
  NmmStream nmm;
  std::string& out = nmm.Stream;
  out.reserve(NmmStream::kHeaderSize + events.size() * 4 + events.DataBytes() + 6);
  out.append("NMM\x1A", 4);
  out.append(6, '\0');  // event-part length and timebase, filled in below

  TDeltaStream stream(out, cutTime);
  for (const TMidiBuffer& e : events) {
    if (e.Byte(0) != 0xFF) {
      stream.Write(e.Time, e.Data);  // channel messages and system exclusive as stored
      continue;
    }
    switch (e.Byte(1)) {
      case 0x51: {  // tempo FF 51 03 t t t becomes FF 01 t t t
        const char tempo[5] = {'\xFF', '\x01', static_cast<char>(e.Byte(3)), static_cast<char>(e.Byte(4)),
                               static_cast<char>(e.Byte(5))};
        stream.Write(e.Time, std::string_view(tempo, 5));
        break;
      }
      case 0x05:  // a lyric starting with *LOOP is the loop point FF 03; other lyrics are left out
        if (IsLoopMark(e)) {
          stream.Write(e.Time, std::string_view("\xFF\x03", 2));
        }
        break;
      case 0x02:  // copyright and title go to the trailer: length, text, 00
      case 0x03:
        nmm.Trailer.append(e.Data.substr(2));
        nmm.Trailer.push_back('\0');
        break;
      default:  // every other meta event is left out
        break;
    }
  }
  stream.End(endTime, std::string_view("\xFF\x00", 2));

  PutLittle(out, 4, static_cast<uint32_t>(out.size() - NmmStream::kHeaderSize), 4);
  PutLittle(out, 8, static_cast<uint32_t>(timebase), 2);
  return nmm;
}

void WriteNmm(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
              const std::string& outputName) {
  bool play = IsPlayName(outputName);
  if (play || IsBuildOnlyName(outputName)) {
    NmmStream nmm = BuildNmm(events, timebase, cutTime, endTime);
    std::string_view image = nmm.PlayImage();
    PlayImage.assign(image.begin(), image.end());
    if (play && SongHandOver) {
      SongHandOver(std::span<const uint8_t>(PlayImage), timebase);
    }
    return;
  }
  WriteNmmFile(events, timebase, cutTime, endTime, platform::Cp932NameToNative(outputName));
}

void WriteNmmFile(const TMidiBufferList& events, int32_t timebase, int32_t cutTime, int32_t endTime,
                  const std::string& nativePath) {
  RequireTimebase(nativePath, timebase, kMaxNmmTimebase);
  NmmStream nmm = BuildNmm(events, timebase, cutTime, endTime);
  platform::WriteFileAtomic(nativePath, {nmm.Stream, nmm.Trailer});
}

void SetSongHandOver(std::function<void(std::span<const uint8_t> image, int32_t timebase)> handOver) {
  SongHandOver = std::move(handOver);
}

std::vector<uint8_t> LastPlayImage() { return PlayImage; }

}  // namespace mml
