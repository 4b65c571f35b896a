// Arbitrary bytes as MML text: the compiler must end every input with a result or an EScriptError,
// without crashing, and its output must be well formed. A text can make millions of events, so the
// output is checked on its binary form in one pass, and only a sample of events is listed as text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mml/conv.h"
#include "mml/events.h"
#include "mml/state.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_compile_mml: %s\n", what);
    std::abort();
  }
}

// Events listed as text by --events: at most this many, spread over the list.
constexpr size_t kListedEvents = 1000;

uint32_t Big(std::string_view bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// A variable-length quantity of 1..4 bytes at `pos` of the track, `pos` moved behind it.
int32_t ReadVarLen(std::string_view track, size_t& pos) {
  int32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    Check(pos < track.size(), "SMF track ends inside a delta time");
    const uint8_t b = static_cast<uint8_t>(track[pos++]);
    value = value << 7 | (b & 0x7F);
    if ((b & 0x80) == 0) return value;
  }
  Check(false, "SMF delta time of more than 4 bytes");
  return 0;
}

// Reads the Standard MIDI File back: every event of the sorted list in order, with its delta time from
// the previous one (events from the cut tick on placed on it; negative deltas 0, large ones capped), a
// note-on without its status byte where it repeats the one before, then the end of track at EndTime.
void CheckSmf(const std::string& smf) {
  Check(smf.size() >= 26 && smf.compare(0, 4, "MThd") == 0 && smf.compare(14, 4, "MTrk") == 0, "SMF header");
  Check(Big(smf, 18, 4) == smf.size() - 22, "SMF track length");
  const std::string_view track = std::string_view(smf).substr(22);
  auto expectDelta = [](int64_t from, int64_t to) { return std::clamp<int64_t>(to - from, 0, 0x0FFFFFFF); };
  size_t pos = 0;
  int64_t last = 0;
  int lastStatus = -1;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    const int64_t at = mml::CutTime == -1 || e.Time < mml::CutTime ? e.Time : mml::CutTime;
    Check(ReadVarLen(track, pos) == expectDelta(last, at), "SMF delta time");
    last = at;
    std::string_view bytes = e.Data;
    const int status = bytes.empty() ? -1 : static_cast<uint8_t>(bytes[0]);
    if (status >= 0x90 && status <= 0x9F && status == lastStatus) bytes.remove_prefix(1);
    Check(track.substr(pos, bytes.size()) == bytes, "SMF event bytes");
    pos += bytes.size();
    lastStatus = status;
  }
  Check(ReadVarLen(track, pos) == expectDelta(last, mml::EndTime), "SMF final delta time");
  Check(track.substr(pos) == std::string_view("\xFF\x2F\x00", 3), "SMF without end of track");
}

void CheckNmm() {
  const mml::NmmStream nmm = mml::BuildNmm(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime);
  Check(nmm.Stream.size() >= 13 && nmm.Stream.compare(0, 4, "NMM\x1A") == 0, "NMM header");
  const auto* length = reinterpret_cast<const uint8_t*>(nmm.Stream.data() + 4);
  Check((length[0] | length[1] << 8 | length[2] << 16 | static_cast<uint32_t>(length[3]) << 24) ==
            nmm.Stream.size() - mml::NmmStream::kHeaderSize,
        "NMM event-part length");
  Check(nmm.Stream.compare(nmm.Stream.size() - 2, 2, "\xFF\x00", 2) == 0, "NMM without end marker");
  const std::vector<uint8_t> image = mml::LastPlayImage();
  Check(nmm.PlayImage() == std::string_view(reinterpret_cast<const char*>(image.data()), image.size()),
        "build-only image differs from the NMM stream");
}

// The --events lines of a sample of the events: the time, then two hex digits per byte.
void CheckListing() {
  const size_t count = mml::EventList.size();
  const size_t step = std::max<size_t>(1, count / kListedEvents);
  std::string line;
  for (size_t i = 0; i < count; i += step) {
    const mml::TMidiBuffer e = mml::EventList[i];
    line.clear();
    mml::AppendEventLine(line, e);
    const std::string time = std::to_string(e.Time);
    Check(line.size() == time.size() + 3 * e.Data.size() + 1 && line.compare(0, time.size(), time) == 0 &&
              line.back() == '\n',
          "event line");
  }
}

void CheckOutput() {
  for (size_t i = 1; i < mml::EventList.size(); ++i) {
    Check(mml::CompareEvents(mml::EventList[i - 1], mml::EventList[i]) <= 0, "events not sorted");
  }
  Check(mml::EventList.size() <= static_cast<size_t>(mml::kMaxEvents), "event limit passed");
  Check(mml::ErrorList.size() <= 16, "more than 16 errors");
  for (size_t n = 1; n <= mml::ErrorList.size(); ++n) {
    // The length may be negative: inside a macro called with several argument groups the end maps
    // back to an earlier body byte than the start.
    Check(mml::ErrorStart[n] >= 0, "negative error start");
  }
  CheckSmf(mml::BuildSmf(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime));
  CheckNmm();
  CheckListing();
}

}  // namespace

// A twentieth of the work limit: an input that reaches it takes seconds under the fuzzer's
// instrumentation instead of minutes, and ends by the same path.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  mml::MaxWorkSteps = mml::kMaxWorkSteps / 20;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  bool ended = false;
  try {
    mml::CompileMML(text, std::string(1, '\0'));
  } catch (const mml::EScriptError&) {
    ended = true;
  }
  if (!ended) {
    CheckOutput();
  }
  return 0;
}
