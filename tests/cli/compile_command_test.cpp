// End-to-end tests of `tonvik-mml FILE -o OUT` and `tonvik-mml FILE --events`: the program built next to
// the tests (TONVIK_BIN_DIR, else ../bin beside the test program) runs in a fresh folder, and its exit
// status, standard output, standard error and files are compared.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "tests/support/golden.h"
#include "tools/progress_line.h"
#ifdef TONVIK_HAVE_AUDIO_RENDER
#include "platform/backends/fluidsynth_device.h"
#endif

namespace {

namespace fs = std::filesystem;
using golden::AnnotateFile;
using golden::Hex;
using golden::ToHex;

struct Result {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

class CompileCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tests are built into <build>/tests, the program into <build>/bin.
    const char* bin = std::getenv("TONVIK_BIN_DIR");
    program_ = (bin != nullptr ? std::string(bin) : platform::ExecutableFolder() + "/../bin") + "/tonvik-mml";
    ASSERT_TRUE(fs::exists(program_)) << program_;
    dir_ = fs::temp_directory_path() / ("tonvik-cli-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& bytes) {
    platform::WriteFileAtomic((dir_ / name).string(), {bytes});
  }
  std::string Read(const std::string& name) { return platform::ReadWholeFile((dir_ / name).string()); }
  bool Exists(const std::string& name) { return fs::exists(dir_ / name); }

  // Runs tonvik-mml in the test folder; `stdinFile` (a name in the folder) feeds standard input.
  Result Run(const std::vector<std::string>& args, const std::string& stdinFile = "") {
    std::string command = "cd " + Quote(dir_.string()) + " && " + shellPrefix_ + Quote(program_);
    for (const std::string& a : args) {
      command += " " + Quote(a);
    }
    command += " <" + (stdinFile.empty() ? std::string("/dev/null") : Quote(stdinFile));
    command += " " + stdoutRedirect_ + " 2>.stderr";
    int status = std::system(command.c_str());
    Result r;
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = Exists(".stdout") ? Read(".stdout") : "";
    r.Err = Read(".stderr");
    fs::remove(dir_ / ".stdout");
    fs::remove(dir_ / ".stderr");
    return r;
  }

  std::string program_;
  fs::path dir_;
  std::string shellPrefix_;                  // shell commands before the program, e.g. "ulimit -f 1; "
  std::string stdoutRedirect_ = ">.stdout";  // where standard output goes
};

struct EventsCase {
  const char* name;
  std::string input;  // file bytes (UTF-8 or CP932)
  std::vector<std::string> extraArgs;
  int exit;
  const char* out;
  const char* err;
};

// Compiles in.mml with --events and compares everything the command prints.
TEST_F(CompileCommand, ListsEventsAndReportsErrorsWithLineAndColumn) {
  const EventsCase cases[] = {
      {"one note", ":1 l4c\n", {}, 0, "0 90 48 64\n90 90 48 00\nend 96\n", ""},
      {"sorted over two tracks",
       ":1,2 l4c :2 v90\n",
       {},
       0,
       "0 90 48 64\n0 91 48 64\n90 90 48 00\n90 91 48 00\n96 B1 0B 5A\nend 96\n",
       ""},
      {"cut mark shortens the end",
       ":1 l4c ^ c\n",
       {},
       0,
       "0 90 48 64\n90 90 48 00\n96 90 48 64\n186 90 48 00\nend 96\n",
       ""},
      {"no track selected", "c", {}, 1, "end 0\n", "in.mml:1:1: MIDIトラックを指定して下さい\n"},
      {"command error on the second line", ";\n  ~\n", {}, 1, "end 0\n", "in.mml:2:3: コマンドエラー(~)\n"},
      {"the part is the track the last per-track command ran for",
       ":1,3 l4 ~",
       {},
       1,
       "end 0\n",
       "in.mml:1:9: [Part:3]コマンドエラー(~)\n"},
      {"a two-byte character counts one column",
       "  あ~",
       {},
       1,
       "end 0\n",
       "in.mml:1:4: コマンドエラー(~)\n"},
      {"every byte of 0x80 or above starts a two-byte character, as the compiler reads it",
       "\xB1 ~",
       {},
       1,
       "end 0\n",
       "in.mml:1:2: コマンドエラー(~)\n"},
      {"a two-byte character that takes the CR of a line break still ends the line",
       "\x82\n ~",
       {},
       1,
       "end 0\n",
       "in.mml:2:2: コマンドエラー(~)\n"},
      {"a half-width katakana from UTF-8 is one CP932 byte that takes the next byte with it",
       "\xEF\xBD\xB1 ~",
       {},
       1,
       "end 0\n",
       "in.mml:1:2: コマンドエラー(~)\n"},
      {"a lone CR ends a line", "\r\r ~", {}, 1, "end 0\n", "in.mml:3:2: コマンドエラー(~)\n"},
      {"a lone LF ends a line and does not swallow the next byte",
       ":1\nl4c",
       {},
       0,
       "0 90 48 64\n90 90 48 00\nend 96\n",
       ""},
      {"UTF-8 text is compiled as CP932", ":1 \"あ\"", {}, 0, "0 FF 05 02 82 A0\nend 0\n", ""},
      {"CP932 text is taken as it is", ":1 \"\x82\xA0\"", {}, 0, "0 FF 05 02 82 A0\nend 0\n", ""},
      {"the + command prints one line", ":1,3 +5\n", {}, 0, "Test TRK:0 %5\nTest TRK:2 %5\nend 0\n", ""},
      {"a dialect is turned into the own one first",
       ":1 l4 <c",
       {"--dialect", "5"},
       0,
       "0 90 54 64\n90 90 54 00\nend 96\n",
       ""},
  };
  for (const EventsCase& c : cases) {
    SCOPED_TRACE(c.name);
    Write("in.mml", c.input);
    std::vector<std::string> args = {"in.mml", "--events"};
    args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
    Result r = Run(args);
    EXPECT_EQ(r.Out, c.out);
    EXPECT_EQ(r.Err, c.err);
    EXPECT_EQ(r.Exit, c.exit);
  }
}

TEST_F(CompileCommand, StandardInputIsNamedStdin) {
  Write("feed", "~");
  Result r = Run({"-", "--events"}, "feed");
  EXPECT_EQ(r.Err, "<stdin>:1:1: コマンドエラー(~)\n");
  EXPECT_EQ(r.Exit, 1);
}

// A text beyond the compiler's 16 MiB working text is refused before it is compiled, wherever it comes
// from; reading stops one byte behind the limit, so that an endless source ends as well.
TEST_F(CompileCommand, TextsLargerThan16MiBAreRefused) {
  Write("limit.mml", std::string(16 << 20, ' '));
  Write("over.mml", std::string((16 << 20) + 1, ' '));
  struct Case {
    std::vector<std::string> Args;
    std::string StdinFile;
    int Exit;
    std::string Err;
  };
  const Case cases[] = {
      {{"limit.mml", "--events"}, "", 0, ""},
      {{"over.mml", "--events"}, "", 2, "tonvik-mml: over.mml: the text is larger than 16 MiB\n"},
      {{"/dev/zero", "-o", "out.mid"}, "", 2, "tonvik-mml: /dev/zero: the text is larger than 16 MiB\n"},
      {{"-", "--events"}, "over.mml", 2, "tonvik-mml: <stdin>: the text is larger than 16 MiB\n"},
      {{"-", "-o", "out.mid"}, "/dev/zero", 2, "tonvik-mml: <stdin>: the text is larger than 16 MiB\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args[0] + " < " + c.StdinFile);
    Result r = Run(c.Args, c.StdinFile);
    EXPECT_EQ(r.Exit, c.Exit);
    EXPECT_EQ(r.Err, c.Err);
    EXPECT_EQ(r.Out, c.Exit == 0 ? "end 0\n" : "");
  }
  EXPECT_FALSE(Exists("out.mid"));
}

TEST_F(CompileCommand, AnIncludeThatCannotBeReadIsAnErrorAndTheFileIsStillWritten) {
  Write("in.mml", ":1 c #INCLUDE,missing.mml\n d");
  Result r = Run({"in.mml", "-o", "out.mid"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Err, "in.mml:1:6: [Part:1]ファイルmissing.mmlを読み込めません\n");
  EXPECT_TRUE(Exists("out.mid"));
}

TEST_F(CompileCommand, WritesStandardMidiFileAndNmmByExtension) {
  Write("in.mml", ":1 t120 \"*loop\" l4c\n");
  Result r = Run({"in.mml", "-o", "song.mid"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  std::string smf =
      "4D 54 68 64 00 00 00 06 00 00 00 01 00 60 4D 54 72 6B 00 00 00 1B"
      " 00 FF 51 03 07 A1 20 00 FF 05 05 2A 6C 6F 6F 70 00 90 48 64 5A 48 00 06 FF 2F 00";
  EXPECT_EQ(AnnotateFile(Read("song.mid")), AnnotateFile(Hex(smf)));

  r = Run({"in.mml", "-o", "song.NmM"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  std::string nmm =
      "4E 4D 4D 1A 13 00 00 00 60 00"
      " 00 FF 01 07 A1 20 00 FF 03 00 90 48 64 5A 48 00 06 FF 00";
  EXPECT_EQ(AnnotateFile(Read("song.NmM")), AnnotateFile(Hex(nmm)));
}

TEST_F(CompileCommand, OutputNameIsUsedAsGiven) {
  Write("in.mml", ":1 c");
  Result r = Run({"in.mml", "-o", "ü テスト.mid"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_TRUE(Exists("ü テスト.mid"));
}

TEST_F(CompileCommand, ErrorsStillWriteTheFileWithExitOne) {
  Write("in.mml", std::string(15, '~'));
  Result r = Run({"in.mml", "-o", "out.mid"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(Read("out.mid").size(), 26u);
}

TEST_F(CompileCommand, EndedCompilationWritesNothingAndKeepsTheEarlierFile) {
  Write("out.mid", "earlier");
  Write("in.mml", std::string(16, '~'));
  Result r = Run({"in.mml", "-o", "out.mid", "--events"});
  EXPECT_EQ(r.Exit, 2);
  std::string expected;
  for (int i = 1; i <= 16; ++i) {
    expected += "in.mml:1:" + std::to_string(i) + ": コマンドエラー(~)\n";
  }
  expected += "tonvik-mml: エラーが多すぎます\n";
  EXPECT_EQ(r.Err, expected);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(Read("out.mid"), "earlier");
}

TEST_F(CompileCommand, EndOfTextNotFoundEndsTheCompilation) {
  Write("in.mml", "   \x82");
  Result r = Run({"in.mml", "-o", "out.mid"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err, "in.mml:1:5: テキストの最後が見つかりません\ntonvik-mml: コンパイルエラー\n");
  EXPECT_FALSE(Exists("out.mid"));
}

TEST_F(CompileCommand, FailedWriteEndsWithExitTwo) {
  Write("in.mml", ":1 c");
  Result r = Run({"in.mml", "-o", "missing/out.mid", "--events"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err.rfind("tonvik-mml: cannot ", 0), 0u) << r.Err;
  EXPECT_EQ(r.Out, "");
}

TEST_F(CompileCommand, TimebaseTheFileCannotHoldIsAnError) {
  Write("in.mml", ":1 C40000 l4c");
  Result r = Run({"in.mml", "-o", "out.mid"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err,
            "tonvik-mml: cannot write \"out.mid\": the file holds a timebase of 1..32767, not 40000\n");
  EXPECT_FALSE(Exists("out.mid"));
  r = Run({"in.mml", "-o", "out.nmm"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(ToHex(Read("out.nmm").substr(8, 2)), "40 9C");
}

TEST_F(CompileCommand, UsageErrorsExitTwoWithAMessage) {
  Write("in.mml", ":1 c");
  const std::vector<std::vector<std::string>> usages = {
      {"in.mml"},       {"in.mml", "--events", "--bogus"},   {"in.mml", "--events", "--dialect", "7"},
      {"in.mml", "-o"}, {"in.mml", "other.mml", "--events"}, {"absent.mml", "--events"},
  };
  for (const auto& args : usages) {
    Result r = Run(args);
    SCOPED_TRACE(args.back());
    EXPECT_EQ(r.Exit, 2);
    EXPECT_EQ(r.Err.rfind("tonvik-mml: ", 0), 0u) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
}

// A take file that cannot be written is refused before anything is recorded, not after the playing.
TEST_F(CompileCommand, RecordRefusesATakeFileItCannotWriteBeforeItRecords) {
  Result r = Run({"--record", "--take", "missing-folder/take.txt", "--duration", "1"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err, "tonvik-mml: cannot create \"missing-folder/take.txt\": No such file or directory\n");
}

TEST_F(CompileCommand, HelpDescribesTheCompileCommand) {
  Result r = Run({"--help"});
  EXPECT_EQ(r.Exit, 0);
  for (const char* words : {"-o OUT", "--events", "--dialect", ".nmm", "FILE:LINE:COL: MESSAGE"}) {
    EXPECT_NE(r.Out.find(words), std::string::npos) << words;
  }
}

// Standard output that cannot be written fails the command, whatever it printed: a closed descriptor, and
// a full device (a node like /dev/full, made here; only root may make one).
TEST_F(CompileCommand, StandardOutputFailuresEndWithExitTwo) {
  Write("in.mml", ":1 l4c +\n");  // + prints a line
  Write("take", "0 60\n500 stop\n");
  ASSERT_EQ(Run({"in.mml", "-o", "song.mid"}).Exit, 0);
  std::vector<std::pair<std::string, std::string>> outputs = {{">&-", "Bad file descriptor"}};
  if (::mknod((dir_ / "full").c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) {
    outputs.emplace_back(">full", "No space left on device");
  }
  const std::vector<std::vector<std::string>> commands = {
      {"in.mml", "--events"},
      {"in.mml", "-o", "out.mid"},
      {"--record-to-mml", "take"},
      {"--from-midi", "song.mid"},
      {"--help"},
  };
  for (const auto& [redirect, reason] : outputs) {
    stdoutRedirect_ = redirect;
    for (const auto& args : commands) {
      SCOPED_TRACE(redirect + " " + args.front());
      Result r = Run(args);
      EXPECT_EQ(r.Exit, 2);
      EXPECT_EQ(r.Err, "tonvik-mml: standard output: " + reason + "\n");
    }
  }
}

TEST_F(CompileCommand, FileSizeLimitFailsTheWriteAndKeepsTheEarlierFile) {
  Write("in.mml", ":1 l16 " + std::string(2000, 'c') + "\n");
  Write("out.mid", "earlier");
  shellPrefix_ = "ulimit -f 1; ";  // 1 KiB: the song is larger
  Result r = Run({"in.mml", "-o", "out.mid"});
  EXPECT_EQ(r.Exit, 2);
  EXPECT_EQ(r.Err, "tonvik-mml: cannot write \"out.mid\": File too large\n");
  EXPECT_EQ(Read("out.mid"), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);  // no temporary file
}

// Links like /dev/stdout and /dev/stderr, made here so that a faulty writer could only replace these.
TEST_F(CompileCommand, StandardStreamsCanBeTheOutputs) {
  Write("in.mml", ":1 l4c\n");
  fs::create_symlink("/proc/self/fd/1", dir_ / "stdout");
  fs::create_symlink("/proc/self/fd/2", dir_ / "stderr");
  stdoutRedirect_ = "| cat >.stdout";  // a pipe: written directly, not replaced
  Result r = Run({"in.mml", "-o", "stdout"});
  EXPECT_EQ(
      ToHex(r.Out),
      "4D 54 68 64 00 00 00 06 00 00 00 01 00 60 4D 54 72 6B 00 00 00 0B 00 90 48 64 5A 48 00 06 FF 2F 00");
  stdoutRedirect_ = "2>&1 >/dev/null | cat >.stdout";
  r = Run({"--play", "in.mml", "--device", "none", "--trace", "stderr"});
  EXPECT_NE(r.Out.find(" 90 48 64\n"), std::string::npos) << r.Out;
  EXPECT_TRUE(fs::is_symlink(dir_ / "stdout"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "stderr"));
}

// A looping song plays until Ctrl+C; its trace is in the file while it plays, and complete at the end.
TEST_F(CompileCommand, PlayTraceIsWrittenAsTheMessagesGo) {
  Write("loop.mml", ":1 t240 \"*LOOP\" l64 cdefgab\n");
  const std::string mml = (dir_ / "loop.mml").string();
  const std::string log = (dir_ / "trace.log").string();
  std::vector<const char*> argv = {program_.c_str(), "--play",  mml.c_str(), "--device",
                                   "none",           "--trace", log.c_str(), nullptr};
  pid_t child = 0;
  ASSERT_EQ(
      ::posix_spawn(&child, program_.c_str(), nullptr, nullptr, const_cast<char**>(argv.data()), environ), 0);
  std::string during;
  for (int i = 0; i < 500 && std::count(during.begin(), during.end(), '\n') < 100; ++i) {
    ::usleep(10000);
    during = Exists("trace.log") ? Read("trace.log") : "";
  }
  ::kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_GE(std::count(during.begin(), during.end(), '\n'), 100);
  during.erase(during.rfind('\n') + 1);  // a line may have been half written
  const std::string trace = Read("trace.log");
  EXPECT_EQ(trace.substr(0, during.size()), during);
  EXPECT_GT(trace.size(), during.size());
  EXPECT_EQ(trace.back(), '\n');
}

}  // namespace

TEST(ProgressLine, ShowsSongTimeDoneAndTotalAndTheLoop) {
  struct Case {
    double seconds, total;
    int32_t loop;
    const char* text;
  };
  const Case cases[] = {
      {0, 180, 0, "0:00.0 / 3:00.0"},
      {61.29, 180, 0, "1:01.2 / 3:00.0"},  // tenths cut: never more than is done
      {59.99, 3600.5, 2, "0:59.9 / 60:00.5  loop 2"},
      {-1, 0, 0, "0:00.0 / 0:00.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(tools::ProgressLine::Text(c.seconds, c.total, c.loop), c.text);
}

#ifdef TONVIK_HAVE_AUDIO_RENDER
// OUT.wav, .flac, .ogg render the song; what stops a render ends with exit 2, a clear message and no file.
TEST_F(CompileCommand, AudioOutputsRenderOrSayWhyNot) {
  if (platform::FindGmSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
  Write("in.mml", ":1 l4 cdef\n");
  Write("loop.mml", ":1 \"*LOOP\" l1 c\n");  // 2 s a loop
  Write("keep.wav", "earlier");
  struct Case {
    std::vector<std::string> args;
    int exit;
    std::string err;  // "" = nothing on standard error (not a terminal: no progress line)
    const char* file;
    const char* starts;  // the first bytes of the file, or "earlier" when it must be untouched
  };
  const Case cases[] = {
      {{"in.mml", "-o", "out.WAV"}, 0, "", "out.WAV", "RIFF"},
      {{"in.mml", "-o", "out.flac", "--rate", "48000", "--gain", "0.5", "--tail", "0"},
       0,
       "",
       "out.flac",
       "fLaC"},
      {{"in.mml", "-o", "out.Ogg", "--loops", "2", "--quiet"}, 0, "", "out.Ogg", "OggS"},
      {{"in.mml", "-o", "keep.wav", "--soundfont", "missing.sf2"},
       2,
       "tonvik-mml: cannot read the soundfont missing.sf2: No such file or directory\n",
       "keep.wav",
       "earlier"},
      {{"in.mml", "-o", "keep.wav", "--rate", "200000"},
       2,
       "tonvik-mml: the sample rate 200000 Hz is out of the synth's range 8000..96000\n",
       "keep.wav",
       "earlier"},
      {{"in.mml", "-o", "keep.wav", "--rate", "44.1k"},
       2,
       "tonvik-mml: --rate needs a sample rate in Hz, e.g. 44100\n",
       "keep.wav",
       "earlier"},
      {{"in.mml", "-o", "keep.wav", "--gain", "11"},
       2,
       "tonvik-mml: --gain needs a number from 0 to 10\n",
       "keep.wav",
       "earlier"},
      {{"in.mml", "-o", "keep.wav", "--loops", "-1"},
       2,
       "tonvik-mml: --loops needs a whole number from 0 to 1000000\n",
       "keep.wav",
       "earlier"},
      {{"in.mml", "-o", "keep.wav", "--tail"},
       2,
       "tonvik-mml: --tail needs a value\n",
       "keep.wav",
       "earlier"},
      {{"loop.mml", "-o", "keep.wav", "--loops", "1000000"},
       2,
       "tonvik-mml: the audio would be too long: at most 12174 seconds at 44100 Hz, tail included\n",
       "keep.wav",
       "earlier"},
      {{"in.mml", "-o", "out.mid", "--rate", "48000"},
       2,
       "tonvik-mml: --soundfont, --rate, --gain, --loops and --tail need -o OUT.wav, .flac or .ogg\n",
       nullptr,
       nullptr},
  };
  for (const Case& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.Exit, c.exit) << c.args[2];
    EXPECT_EQ(r.Err, c.err) << c.args[2];
    if (c.file != nullptr) {
      EXPECT_EQ(Read(c.file).substr(0, std::string(c.starts).size()), c.starts) << c.file;
    }
  }
  EXPECT_FALSE(Exists("out.mid"));
}

// On a terminal the render draws one progress line on standard error and clears it at the end.
TEST_F(CompileCommand, RenderShowsAProgressLineOnlyOnATerminal) {
  if (platform::FindGmSoundfont().empty()) GTEST_SKIP() << "no General MIDI soundfont installed";
  if (std::system("command -v script >/dev/null") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  Write("in.mml", ":1 t120 l1 cc\n");  // 4 s
  auto onTerminal = [&](const std::string& options) {
    const std::string command = "cd " + Quote(dir_.string()) + " && script -qec " +
                                Quote(Quote(program_) + " in.mml -o out.wav " + options) + " /dev/null >.tty";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return Read(".tty");
  };
  const std::string line = onTerminal("");
  EXPECT_EQ(line.substr(0, 16), "\r0:00.1 / 0:04.0") << line;
  EXPECT_EQ(line.substr(line.size() - 4), "\r\x1B[K") << line;
  EXPECT_EQ(onTerminal("--quiet"), "");
  // --play too: the song's time from the start of playback.
  const std::string play = "cd " + Quote(dir_.string()) + " && script -qec " +
                           Quote(Quote(program_) + " --play in.mml --device none") + " /dev/null >.tty";
  Write("in.mml", ":1 t240 l2 c\n");  // 0.5 s
  EXPECT_EQ(std::system(play.c_str()), 0);
  const std::string played = Read(".tty");
  EXPECT_EQ(played.substr(0, 17), "\r0:00.0 / 0:00.5\x1B") << played;
  EXPECT_EQ(played.substr(played.size() - 4), "\r\x1B[K") << played;
}
#endif
