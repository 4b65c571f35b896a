// Arbitrary bytes as MML text: the compiler must end every input with a result or an EScriptError,
// without crashing, and its output must be well formed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

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

// The listing of tonvik-mml FILE --events.
std::string EventLines() {
  std::string out;
  for (const mml::TMidiBuffer& e : mml::EventList) {
    mml::AppendEventLine(out, e);
  }
  return out + "end " + std::to_string(mml::EndTime) + "\n";
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
  std::string smf = mml::BuildSmf(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime);
  Check(smf.size() >= 26 && smf.compare(smf.size() - 3, 3, "\xFF\x2F\x00", 3) == 0,
        "SMF without end of track");
  mml::NmmStream nmm = mml::BuildNmm(mml::EventList, mml::Timebase, mml::CutTime, mml::EndTime);
  Check(nmm.PlayImage() == std::string_view(reinterpret_cast<const char*>(mml::LastPlayImage().data()),
                                            mml::LastPlayImage().size()),
        "build-only image differs from the NMM stream");
  volatile size_t sink = EventLines().size();
  (void)sink;
}

}  // namespace

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
