// The MIDI file reader of --from-midi: any bytes give notes or an SmfError, never a crash or a hang.
// Files that read also go through the whole-file conversion into MML (a dialect picked by the last
// byte), and the own-dialect text must compile without errors.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "mml/conv.h"

// The reader and the conversion are compiled into this program itself, so that the fuzzer's coverage
// instrumentation (applied to this file only) sees their branches; the library's copies are then not
// linked in.
#include "record/midi_to_mml.cpp"  // NOLINT(bugprone-suspicious-include)
#include "record/smf_reader.cpp"   // NOLINT(bugprone-suspicious-include)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    record::SmfTake take = record::ReadSmfNotes(bytes);
    for (size_t i = 1; i < take.Notes.size(); ++i) {
      if (take.Notes[i - 1].TimeMs > take.Notes[i].TimeMs) __builtin_trap();
    }
  } catch (const record::SmfError&) {
  }
  try {
    const int dialect = size == 0 ? 0 : data[size - 1] % record::kDialectCount;
    record::MidiToMml mml = record::ConvertMidiToMml(record::ReadSmf(bytes), dialect);
    if (dialect == record::kOwnDialect && mml.TrackCount > 0) {
      std::string text;
      for (char c : mml.Text) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
      mml::CompileMML(text, std::string(1, '\0'));
      if (!mml::ErrorList.empty()) __builtin_trap();
    }
  } catch (const record::SmfError&) {
  } catch (const record::MidiToMmlError&) {
  }
  return 0;
}
