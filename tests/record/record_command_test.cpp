// tonvik-mml --record-to-mml and --from-midi (whole files, and --as-take), run as a program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// CTest runs the tests of this program in parallel processes: every file name carries the process id.
std::string TempPath(const std::string& name) {
  return testing::TempDir() + "record_command_" + std::to_string(getpid()) + "_" + name;
}

std::string WriteTemp(const std::string& name, const std::string& bytes) {
  std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

ToolRun Tool(const std::string& args) {
  const char* bin = std::getenv("TONVIK_BIN_DIR");
  std::string errPath = TempPath("stderr");
  std::string command = std::string(bin ? bin : ".") + "/tonvik-mml " + args + " 2>" + errPath;
  FILE* pipe = popen(command.c_str(), "r");
  ToolRun run{-1, "", ""};
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = Slurp(errPath);
  return run;
}

const char* kWorkedTake = "1000 60\n1500 62\n1750 64\n2500 65\n3000 stop\n";

TEST(RecordToMml, PrintsTheMmlAndTheComputedFields) {
  std::string take = WriteTemp("worked", kWorkedTake);
  struct Case {
    const char* options;
    const char* out;
  } cases[] = {
      {"", "cd8e.f\ntempo=120 length=1\n"},
      {"--mode 0 --length 2 --tempo 7", "c8d16e8.f8\ntempo=60 length=2\n"},
      {"--mode 2 --first 4", "cd8e.f\ntempo=120 length=1\n"},
      {"--mode 3 --dialect 4", "c8d8e8f8\ntempo=120 length=8&2\n"},
      {"--tempo 60 --default 8 --dialect 5", "cd16e.f\ntempo=60 length=2\n"},
      {"--default ''", "c4d8e4.f4\ntempo=120 length=1\n"},
  };
  for (const Case& c : cases) {
    ToolRun run = Tool("--record-to-mml " + take + " " + c.options);
    EXPECT_EQ(run.status, 0) << c.options << ": " << run.err;
    EXPECT_EQ(run.out, c.out) << c.options;
  }
}

TEST(RecordToMml, TakeLinesMayEndInCrLfAndBlankLinesAreSkipped) {
  const char* takes[] = {
      "1000 60\r\n1500 62\r\n1750 64\r\n2500 65\r\n3000 stop\r\n",
      "\n1000 60\n\n1500\t62\n  1750 64  \n2500 65\n3000 stop\n\n",
      "1000 60\n1500 62\n1750 64\n2500 65\n3000 stop",
  };
  int i = 0;
  for (const char* take : takes) {
    ToolRun run = Tool("--record-to-mml " + WriteTemp("lines" + std::to_string(i++), take));
    EXPECT_EQ(run.status, 0) << take << run.err;
    EXPECT_EQ(run.out, "cd8e.f\ntempo=120 length=1\n") << take;
  }
}

TEST(RecordToMml, SilentStopsAndErrors) {
  struct Case {
    const char* take;
    const char* options;
    int status;
    const char* err;  // part of the message
  } cases[] = {
      {kWorkedTake, "--min 0", 1, ""},
      {kWorkedTake, "--tempo x", 1, ""},
      {"500 stop\n", "", 1, ""},
      {"500 60\n500 stop\n", "", 1, ""},
      {"1000 60\n1500 x\n2000 stop\n", "", 2, ":2: "},
      {"1000 60\n1500 128\n2000 stop\n", "", 2, ":2: "},
      {"1000 60\n-5 62\n2000 stop\n", "", 2, ":2: "},
      {"1000 60 70\n2000 stop\n", "", 2, ":1: "},
      {"1000 60\n2000 stop\n2500 62\n", "", 2, ":3: text after the stop line"},
      {"1000 60\n", "", 2, "stop"},
      {kWorkedTake, "--mode 4", 2, "--mode"},
      {kWorkedTake, "--dialect 7", 2, "--dialect"},
      {kWorkedTake, "--bogus 1", 2, "--bogus"},
      {kWorkedTake, "--tempo", 2, "--tempo needs a value"},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string take = WriteTemp("case" + std::to_string(i++), c.take);
    ToolRun run = Tool("--record-to-mml " + take + " " + c.options);
    EXPECT_EQ(run.status, c.status) << c.take << c.options;
    EXPECT_EQ(run.out, "") << c.take << c.options;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  EXPECT_EQ(Tool("--record-to-mml /nonexistent/take").status, 2);
}

TEST(RecordToMml, TimesThatDecreaseAreAnError) {
  struct Case {
    const char* take;
    const char* err;
  } cases[] = {
      {"1000 60\n500 62\n0 64\n1500 stop\n", ":2: times must not decrease\n"},
      {"1000 60\n1500 62\n500 stop\n", ":3: times must not decrease\n"},
      {"0 60\n\n4294967295 62\n4294967294 stop\n", ":4: times must not decrease\n"},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string take = WriteTemp("back" + std::to_string(i++), c.take);
    ToolRun run = Tool("--record-to-mml " + take);
    EXPECT_EQ(run.status, 2) << c.take;
    EXPECT_EQ(run.out, "") << c.take;
    EXPECT_EQ(run.err, "tonvik-mml: " + take + c.err) << c.take;
  }
  // Equal times are a chord, and a stop at the last onset a take of no duration.
  EXPECT_EQ(Tool("--record-to-mml " + WriteTemp("equal", "0 60\n0 64\n500 67\n1000 stop\n")).out,
            "{ce}g\ntempo=120 length=2\n");
}

TEST(RecordToMml, OverflowsAndZeroSpansFollowTheModes) {
  std::string worked = WriteTemp("overflow", kWorkedTake);
  std::string rest = WriteTemp("rest", "1794 r\n1794 stop\n");
  struct Case {
    std::string args;
    int status;
    const char* out;
  } cases[] = {
      {worked + " --tempo 2147483647", 1, ""},
      {worked + " --tempo -2147483648", 1, ""},
      {worked + " --tempo 0", 1, ""},
      {worked + " --tempo 0 --mode 2 --first 4", 0, "cd8e.f\ntempo=120 length=1\n"},
      {rest + " --mode 3 --min 16", 0, "r16\ntempo=120 length=8\n"},
      {rest + " --mode 1", 1, ""},
  };
  for (const Case& c : cases) {
    ToolRun run = Tool("--record-to-mml " + c.args);
    EXPECT_EQ(run.status, c.status) << c.args << run.err;
    EXPECT_EQ(run.out, c.out) << c.args;
    EXPECT_EQ(run.err, "") << c.args;
  }
}

TEST(RecordToMml, TakeOf4096EventsIsAnError) {
  std::string text;
  for (int i = 0; i < 4096; ++i) text += std::to_string(i * 10) + " 60\n";
  text += "50000 stop\n";
  ToolRun run = Tool("--record-to-mml " + WriteTemp("big", text));
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(":4096: "), std::string::npos) << run.err;
}

std::string MidiFile(const std::string& track) {
  std::string file("MThd\0\0\0\6\0\0\0\1\0\x60", 14);
  uint32_t n = static_cast<uint32_t>(track.size());
  file += "MTrk";
  file += {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  return file + track;
}

TEST(FromMidiAsTake, NotesOfAFileBecomeMml) {
  // 96 ticks a quarter at tempo 120: the worked example from 0 ms.
  std::string track("\x00\x90\x3C\x40\x60\x90\x3E\x40\x30\x90\x40\x40\x81\x10\x90\x41\x40\x60\xFF\x2F\x00",
                    21);
  ToolRun run = Tool("--from-midi " + WriteTemp("song.mid", MidiFile(track)) + " --as-take");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "cd8e.f\ntempo=120 length=1\n");
}

TEST(FromMidiAsTake, EmptyAndMalformedFiles) {
  std::string drums("\x00\x99\x24\x40\x60\xFF\x2F\x00", 8);
  ToolRun empty = Tool("--from-midi " + WriteTemp("drums.mid", MidiFile(drums)) + " --as-take");
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "");
  ToolRun bad = Tool("--from-midi " + WriteTemp("bad.mid", "MThd") + " --as-take");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("MIDI file"), std::string::npos) << bad.err;
  std::string many;
  for (int i = 0; i < 4096; ++i) many += std::string("\x01\x90\x3C\x40", 4);
  ToolRun tooMany = Tool("--as-take --from-midi " + WriteTemp("many.mid", MidiFile(many)));
  EXPECT_EQ(tooMany.status, 2);
  EXPECT_NE(tooMany.err.find("4096 note-ons"), std::string::npos) << tooMany.err;
}

}  // namespace

// A format 0 file at 96 ticks a quarter: tempo 120, program 25, a chord of a quarter, an eighth softer.
const std::string kSongTrack(
    "\x00\xFF\x51\x03\x07\xA1\x20\x00\xC0\x18\x00\x90\x3C\x64\x00\x90\x40\x64\x60\x80\x3C\x00\x00\x80\x40\x00"
    "\x00\x90\x43\x50\x30\x80\x43\x00\x00\xFF\x2F\x00",
    38);

TEST(FromMidi, WholeFileInEveryDialectWithWhatItLeavesOut) {
  std::string song = WriteTemp("whole.mid", MidiFile(kSongTrack));
  struct Case {
    const char* options;
    const char* line;
    const char* err;
  } cases[] = {
      {"", ":1C96O1l8i16 t120@25o3{c4e4}s80g", ""},
      {" --dialect 1", "l8t120@25o3'ce'4g",
       "tonvik-mml: note: left out, with no command for them in this dialect: 1 velocity change\n"},
      {" --dialect 4", "l8t120@25o3c0e4g",
       "tonvik-mml: note: left out, with no command for them in this dialect: 1 velocity change\n"},
  };
  for (const Case& c : cases) {
    ToolRun run = Tool("--from-midi " + song + c.options);
    EXPECT_EQ(run.status, 0) << c.options << run.err;
    EXPECT_EQ(run.out, std::string("; track 1: channel 1, program 25, file track 1\n") + c.line + "\n")
        << c.options;
    EXPECT_EQ(run.err, c.err) << c.options;
  }
  ToolRun piped = Tool("--from-midi - < " + song);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "; track 1: channel 1, program 25, file track 1\n:1C96O1l8i16 t120@25o3{c4e4}s80g\n");
  ToolRun bad = Tool("--from-midi - < " + WriteTemp("short.mid", "MThd"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("tonvik-mml: <stdin>: MIDI file: "), std::string::npos) << bad.err;
  // The own-dialect text compiles back to the file's events.
  std::string mml = WriteTemp("whole.mml", Tool("--from-midi " + song).out);
  ToolRun events = Tool(mml + " --events");
  EXPECT_EQ(events.status, 0) << events.err;
  EXPECT_EQ(events.out,
            "0 FF 51 03 07 A1 20\n0 C0 18\n0 90 3C 64\n0 90 40 64\n96 90 3C 00\n96 90 40 00\n96 90 43 50\n"
            "144 90 43 00\nend 144\n");
}

TEST(FromMidi, EmptyMalformedAndTooLargeFiles) {
  std::string many;  // 33 notes struck together, each of its own length: 33 voices
  for (int i = 0; i < 33; ++i) many += std::string("\x00\x90\x3C\x40", 4);
  for (int i = 0; i < 33; ++i) many += std::string("\x01\x80\x3C\x40", 4);
  struct Case {
    std::string file;
    std::string options;
    int status;
    const char* err;  // part of the message
  } cases[] = {
      {std::string("MThd\0\0\0\6\0\0\0\0\0\x60", 14), "", 1, ""},
      {"MThd", "", 2, "MIDI file: "},
      {MidiFile(std::string("\x00\x90\x3C", 3)), "", 2, "MIDI file: file ends inside a channel message"},
      {MidiFile(many), "", 2, "the file needs 33 MML tracks; the compiler has 32"},
      {MidiFile(kSongTrack), " --mode 1", 2, "unknown argument \"--mode\""},
      {MidiFile(kSongTrack), " --dialect 7", 2, "--dialect needs a number from 0 to 6"},
  };
  int i = 0;
  for (const Case& c : cases) {
    ToolRun run = Tool("--from-midi " + WriteTemp("file" + std::to_string(i++), c.file) + c.options);
    EXPECT_EQ(run.status, c.status) << c.err;
    EXPECT_EQ(run.out, "") << c.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  EXPECT_EQ(Tool("--from-midi /nonexistent/song.mid").status, 2);
}

// The take-like conversion keeps its options behind --as-take.
TEST(FromMidiAsTake, TakesTheTakeOptions) {
  ToolRun run =
      Tool("--from-midi " + WriteTemp("take.mid", MidiFile(kSongTrack)) + " --as-take --mode 3 --dialect 4");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "c8e8g8\ntempo=120 length=2\n");
}

// An endless or huge source is cut one byte beyond the limit instead of being read into memory.
TEST(RecordToMml, SourcesLargerThan64MiBAreRefused) {
  for (const char* command : {"--record-to-mml", "--from-midi", "--from-midi --as-take"}) {
    SCOPED_TRACE(command);
    ToolRun run = Tool(std::string(command) + " /dev/zero");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "tonvik-mml: /dev/zero: the file is larger than 64 MiB\n");
    run = Tool(std::string(command) + " - < /dev/zero");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "tonvik-mml: <stdin>: the file is larger than 64 MiB\n");
  }
}
