// --from-midi FILE.mid [--dialect N]: a whole Standard MIDI File turned into MML tracks, printed on
// standard output. With --as-take the file's notes are converted as a take instead (record_command.cpp).
#include <algorithm>
#include <cstdio>
#include <new>
#include <span>
#include <string>

#include "platform/files.h"
#include "record/dialect.h"
#include "record/midi_to_mml.h"
#include "record/smf_reader.h"
#include "tools/commands.h"

namespace tools {

const char* const kMidiHelp =
    "  --from-midi FILE.mid [--dialect 0..6]   (FILE.mid \"-\" = standard input)\n"
    "                                   the whole MIDI file as MML: every channel of every track on MML\n"
    "                                   tracks of its own (more where notes overlap), at the file's time\n"
    "                                   base, with programs, controllers, pitch bend and tempo changes.\n"
    "                                   Other dialects get the notes, tempo and programs; what they\n"
    "                                   leave out is counted on standard error. Exit 1 (nothing printed)\n"
    "                                   for a file without messages, 2 on an error (a malformed file, or\n"
    "                                   more than 32 MML tracks needed).\n";

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonvik-mml: %s\n", message.c_str());
  return 2;
}

std::string Name(const std::string& path) { return path == "-" ? "<stdin>" : path; }

std::string LeftOutNote(const std::map<std::string, int64_t>& leftOut) {
  std::string note;
  for (const auto& [kind, count] : leftOut)
    note += (note.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
  return note;
}

}  // namespace

int RunMidiToMml(const Args& args) {
  if (std::find(args.begin(), args.end(), "--as-take") != args.end()) {
    Args take;
    std::copy_if(args.begin(), args.end(), std::back_inserter(take),
                 [](const std::string& a) { return a != "--as-take"; });
    return RunFromMidi(take);
  }
  std::string path;
  int dialect = record::kOwnDialect;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a != "--from-midi" && a != "--dialect") return Fail("unknown argument \"" + a + "\" (see --help)");
    if (i + 1 >= args.size()) return Fail(a + " needs a value");
    const std::string& v = args[++i];
    if (a == "--dialect") {
      if (v.size() != 1 || v[0] < '0' || v[0] >= '0' + record::kDialectCount) {
        return Fail("--dialect needs a number from 0 to " + std::to_string(record::kDialectCount - 1) +
                    ", not \"" + v + "\"");
      }
      dialect = v[0] - '0';
    } else if (!path.empty()) {
      return Fail("--from-midi given twice");
    } else {
      path = v;
    }
  }
  try {
    const std::string bytes = ReadSource(path);
    record::SmfFile smf =
        record::ReadSmf(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    record::MidiToMml mml = record::ConvertMidiToMml(smf, dialect);
    if (mml.TrackCount == 0) return 1;
    PrintOut(mml.Text);
    if (mml.SwappedNotes > 0) {
      std::fprintf(
          stderr,
          "tonvik-mml: note: %lld notes strike a key again at the same tick with another velocity; the "
          "softer strike is written first, so the two may swap their lengths\n",
          static_cast<long long>(mml.SwappedNotes));
    }
    if (!mml.LeftOut.empty()) {
      std::fprintf(stderr, "tonvik-mml: note: left out, with no command for them in this dialect: %s\n",
                   LeftOutNote(mml.LeftOut).c_str());
    }
    return 0;
  } catch (const record::SmfError& e) {
    return Fail(Name(path) + ": " + e.what());
  } catch (const record::MidiToMmlError& e) {
    return Fail(Name(path) + ": " + e.what());
  } catch (const platform::FileError& e) {
    return Fail(e.what());
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  }
}

}  // namespace tools
