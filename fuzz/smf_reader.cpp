// The MIDI file reader of --from-midi: any bytes give notes or an SmfError, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <span>

// The reader is compiled into this program itself, so that the fuzzer's coverage instrumentation
// (applied to this file only) sees its branches; the library's copy is then not linked in.
#include "record/smf_reader.cpp"  // NOLINT(bugprone-suspicious-include)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    record::SmfTake take = record::ReadSmfNotes(std::span<const uint8_t>(data, size));
    for (size_t i = 1; i < take.Notes.size(); ++i) {
      if (take.Notes[i - 1].TimeMs > take.Notes[i].TimeMs) __builtin_trap();
    }
  } catch (const record::SmfError&) {
  }
  return 0;
}
