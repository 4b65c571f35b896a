// Macros, repeat blocks with alternatives, comments, track selection and the # commands.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mml/conv.h"
#include "tests/support/compile_helper.h"

namespace mml_test {
namespace {

using namespace std::string_literals;
using Errors = std::vector<CompiledError>;
using Lines = std::vector<std::string>;

// The note names of the Note Ons of track 1 in octave 4, in time order: "c d e".
std::string Melody(const Compiled& r) {
  static const char* const kNames[] = {"c", "c+", "d", "d+", "e", "f", "f+", "g", "g+", "a", "a+", "b"};
  std::string melody;
  for (const std::string& e : r.NoteOns()) {
    const int note = std::stoi(e.substr(e.find(':') + 5, 2), nullptr, 16);
    if (!melody.empty()) melody += ' ';
    melody += note >= 72 && note < 84 ? kNames[note - 72] : std::to_string(note);
  }
  return melody;
}

struct MelodyCase {
  const char* Text;
  const char* Melody;
};

TEST(Macros, ExpansionsWithAndWithoutParameters) {
  const MelodyCase cases[] = {
      {":!m,[cde]\n:1!m", "c d e"},
      {"!m,[?1 ?2]\n:1!m,c4,d4,e4,f4", "c d e f"},
      {"!m,[?2 ?1]\n:1!m,c,d", "d c"},
      {"!m,[?1 ?2]\n:1!m,,d", "d"},
      {"!m,[?1 ?2]\n:1!m,c d", "c d"},
      {"!m,[?1]\n:1!m", ""},
      {"!a,[c]\n!b,[!a d !a]\n:1!b e", "c d c e"},
      {"!m,[c]\n!m,[d]\n:1!m", "d"},
      {"!m,[ [c]2 ]\n:1!m", "c c"},
      {"!m,[c;x]\n:1!m d", "c d"},
      {"!m,[?1]\n:1!m,\"e f\"", "e f"},
      {"!,[c]:1d", "d"},
  };
  for (const MelodyCase& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(Melody(r), c.Melody) << c.Text;
  }
}

TEST(Macros, ErrorsInsideAnExpansionPointIntoTheDefinition) {
  const char* kText = ":!m,[c Z]\n:1!m";
  Compiled r = Compile(kText);
  EXPECT_EQ(r.Errors, (Errors{{"[Part:1]コマンドエラー(Z)(展開した!m内(c Z)でエラー)", 7, 1}}));
  EXPECT_EQ(Melody(r), "c");
}

TEST(Macros, DefinitionAndCallErrors) {
  struct Case {
    const char* Text;
    Errors Expected;
  };
  const Case cases[] = {
      {":!m,[c!m]\n:1!m",
       {{"[Part:1]マクロ中で自分自身を呼ぶ事はできません(展開した!m内(c!m)でエラー)", 7, 1}}},
      {"!a,[!b]\n!b,[c!a]\n:1!a",
       {{"[Part:1]マクロ中で自分自身を呼ぶ事はできません(展開した!b内(c!a)でエラー)", 15, 1}}},
      {":1c!x", {{"[Part:1]マクロ名xは登録されていません", 4, 1}}},
      {"!m,c", {{"マクロ定義開始の[がありません", 2, 1}, {"MIDIトラックを指定して下さい", 3, 1}}},
      {"!m,[a?0]",
       {{"パラメータの引数は9までです", 2, 4},
        {"コマンドエラー(0)", 6, 1},
        {"]に対応する[がありません", 7, 1}}},
      {"!m[c] ", {{",が必要です", 6, 1}}},  // brackets are part of a word
      // The span counts from the first byte behind "[", blanks that the body loses included.
      {"!m,[  Z]\n:1c!m", {{"[Part:1]コマンドエラー(Z)(展開した!m内(Z)でエラー)", 4, 1}}},
  };
  for (const Case& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(r.Errors, c.Expected) << c.Text;
  }
}

// A message quotes at most the first 1,000 bytes of the expansion read so far, cut before a two-byte
// character that would not fit, and marks the cut with "...".
TEST(Macros, MessagesQuoteTheStartOfALongExpansion) {
  struct Case {
    std::string Body;
    std::string Quoted;
  };
  const std::string rests(999, 'r');
  const Case cases[] = {
      {rests + "Z", rests + "Z"},
      {rests + "rZ", rests + "r..."},
      {rests + "あZ", rests + "..."},
      {rests + "rあZ", rests + "r..."},
  };
  for (const Case& c : cases) {
    Compiled r = Compile(":!m,[" + c.Body + "]\n:1!m");
    ASSERT_EQ(r.Errors.size(), 1u) << c.Body.size();
    EXPECT_EQ(r.Errors[0].Message, "[Part:1]コマンドエラー(Z)(展開した!m内(" + c.Quoted + ")でエラー)")
        << c.Body.size();
  }
}

// Offsets into a body are not limited to 16 bits.
TEST(Macros, ErrorsBeyondTheFirst64KiBOfABodyAreReportedWhereTheyStand) {
  Compiled r = Compile(":!m,[" + std::string(70000, 'r') + "Z]\n:1!m");
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Start, 5 + 70000);
  EXPECT_EQ(r.Errors[0].Length, 1);
}

TEST(Macros, AtMost1024Definitions) {
  std::string text;
  for (int i = 0; i < 1024; ++i) text += "!m" + std::to_string(i) + ",[c]";
  const int32_t last = static_cast<int32_t>(text.size());
  Compiled r = Compile(text + "!x,[c]:1!m1023");
  ASSERT_FALSE(r.Errors.empty());  // the rest of the 1025th definition is read as commands
  EXPECT_EQ(r.Errors[0], (CompiledError{"マクロは最大1024個しか登録できません", last, 1}));
  EXPECT_EQ(Melody(r), "c");
}

TEST(Blocks, RepeatCountsAndAlternatives) {
  const MelodyCase cases[] = {
      {":1[cd]", "c d"},
      {":1[cd]0", "c d"},
      {":1[cd]3", "c d c d c d"},
      {":1[c]1+1", "c c"},
      {":1[c|d]", "c d"},
      {":1[c|d]2", "c d c"},
      {":1[c|d|e]2", "c d c e"},
      {":1[c|d|e]3", "c d c e c"},
      {":1[c|d|e|f]2", "c d f c e f"},
      {":1[c[d]2e]2", "c d d e c d d e"},
      {":1[c[d|e]2f]2", "c d e d f c d e d f"},
      {":1[c;[ ]d]2", "c d c d"},
  };
  for (const MelodyCase& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(Melody(r), c.Melody) << c.Text;
    EXPECT_TRUE(r.Errors.empty()) << c.Text;
  }
}

TEST(Blocks, Errors) {
  struct Case {
    const char* Text;
    Errors Expected;
  };
  const Case cases[] = {
      {":1c[d]-1e", {{"[Part:1]指定値(-1)が範囲外(0..65535)です", 6, 2}}},
      {":1c[d]65536", {{"[Part:1]指定値(65536)が範囲外(0..65535)です", 6, 5}}},
      {"]", {{"]に対応する[がありません", 0, 1}}},
      {"|", {{"|は[]内で使用します", 0, 1}}},
  };
  for (const Case& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(r.Errors, c.Expected) << c.Text;
  }
  Compiled nested = Compile(":1" + std::string(33, '[') + "c" + std::string(33, ']'));
  ASSERT_FALSE(nested.Errors.empty());
  EXPECT_EQ(nested.Errors[0], (CompiledError{"[Part:32]これ以上ブロックをネストできません", 34, 1}));
  Compiled deep = Compile(":1" + std::string(32, '[') + "c" + std::string(32, ']'));
  EXPECT_TRUE(deep.Errors.empty());
  EXPECT_EQ(Melody(deep), "c");
}

// The scan of an open "[" reads the end mark itself, so the end of the text is then missing as well.
TEST(Blocks, AnOpenBlockAtTheEndOfTheText) {
  Compiled r = Compile(":1c[d");
  EXPECT_EQ(r.Raised, "コンパイルエラー");
  ASSERT_EQ(r.Errors.size(), 2u);
  EXPECT_EQ(r.Errors[0], (CompiledError{"[Part:1][に対する]がありません", 3, 3}));
  EXPECT_EQ(r.Errors[1].Message, "[Part:1]テキストの最後が見つかりません");
}

TEST(Comments, LineAndBracketComments) {
  const MelodyCase cases[] = {
      {":1;[ c ] d", "d"}, {":1; c\nd", "d"},     {":1c;[ e", "c"},
      {":1c; e", "c"},     {":1c;あ]\nd", "c d"}, {":1c;[[e]d", "c d"},
  };
  for (const MelodyCase& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(Melody(r), c.Melody) << c.Text;
    EXPECT_TRUE(r.Errors.empty()) << c.Text;
    EXPECT_EQ(r.Raised, "") << c.Text;
  }
}

// A 0x00 byte inside the text ends the main loop, but not the scan of a comment, a block or an
// alternative: those end only at the end mark, the end of an expansion or the end of the working text.
TEST(Comments, AZeroByteInsideTheTextIsSkippedByScans) {
  struct Case {
    std::string Text;
    const char* Melody;
    const char* Raised;
  };
  const Case cases[] = {
      {":1c;[ \0 ]d"s, "c d", ""},          {":1c; \0 e\r\nd"s, "c d", ""},
      {":1[c;[\0]]2d"s, "c c d", ""},       {":1c;\x82"s, "c", "コンパイルエラー"},
      {":1c\0d"s, "c", "コンパイルエラー"},
  };
  for (const Case& c : cases) {
    Compiled r = CompileRaw(c.Text);
    EXPECT_EQ(Melody(r), c.Melody) << c.Text;
    EXPECT_EQ(r.Raised, c.Raised) << c.Text;
  }
}

TEST(TrackSelection, ListsReplaceTheSelection) {
  Compiled r = Compile(":1c:2,4d:c");
  EXPECT_EQ(r.NoteOns(), (Lines{"0: 90 48 64", "0: 91 4A 64", "0: 93 4A 64"}));
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Message, "MIDIトラックを指定して下さい");
}

struct TextEventCase {
  const char* Text;
  const char* Event;
};

TEST(TextEvents, KeywordsByTheirFirstOccurrenceInTheTable) {
  const TextEventCase cases[] = {
      {"#TITLE,song", "0: FF 03 04 73 6F 6E 67"},
      {"#title,song", "0: FF 03 04 73 6F 6E 67"},
      {"#TEXT,a", "0: FF 01 01 61"},
      {"#T,\"a b\"", "0: FF 01 03 61 20 62"},
      {"#TIT,x", "0: FF 03 01 78"},
      {"#COPY,x", "0: FF 02 01 78"},
      {"#E,x", "0: FF 43 01 78"},
      {"#TEXT,", "0: FF 01 00"},
  };
  for (const TextEventCase& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(r.Events, Lines{c.Event}) << c.Text;
    EXPECT_TRUE(r.Errors.empty()) << c.Text;
  }
  EXPECT_EQ(Compile("#Z,").Errors, (Errors{{"テキスト名が違います", 2, 1}}));
  EXPECT_EQ(Compile("#,").Errors, (Errors{{"テキスト名がありません", 1, 1}}));
  EXPECT_EQ(Compile("#TITLE").Errors, (Errors{{",が必要です", 6, 1}}));
}

// Include files live in a temporary folder that is the current folder during the test.
class Include : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() /
           ("tonvik_include_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  std::filesystem::path old_;
  std::filesystem::path dir_;
};

TEST_F(Include, TheFileIsReadAsIfItStoodBehindTheDirective) {
  Write("x.mml", "cde");
  EXPECT_EQ(Melody(Compile(":1#INCLUDE,x.mml\nf")), "c d e f");
  Write("lf.mml", "c\nd\re");
  EXPECT_EQ(Melody(Compile(":1#I,lf.mml f")), "c d e f");
  Write("empty.mml", "");
  EXPECT_EQ(Melody(Compile(":1#INCLUDE,empty.mml\nf")), "f");
}

TEST_F(Include, ErrorsInsideAFileArePlacedAtTheDirective) {
  Write("x.mml", "cZ");
  Compiled r = Compile(":1#INCLUDE,x.mml\ndZ");
  EXPECT_EQ(r.Errors,
            (Errors{{"[File:x.mml][Part:1]コマンドエラー(Z)", 16, 1}, {"[Part:1]コマンドエラー(Z)", 19, 1}}));
  EXPECT_EQ(Melody(r), "c d");
}

// Every inserted text before the error's end is taken out of its span, and so is every other one: a
// macro body written before an insertion is reported that many bytes earlier.
TEST_F(Include, SpansLeaveOutTheLengthOfEveryInsertedText) {
  Write("x.mml", "c");
  struct Case {
    const char* Text;
    Errors Expected;
  };
  const Case cases[] = {
      {":1#INCLUDE,x.mml\nZ", {{"[Part:1]コマンドエラー(Z)", 18, 1}}},
      {":!m,[Z]\n:1#INCLUDE,x.mml\n!m", {{"[Part:1]コマンドエラー(Z)(展開した!m内(Z)でエラー)", 2, 1}}},
  };
  for (const Case& c : cases) {
    Compiled r = Compile(c.Text);
    EXPECT_EQ(r.Errors, c.Expected) << c.Text;
  }
}

TEST_F(Include, NestedFilesWidenTheirOuterEntry) {
  Write("inner.mml", "dZ");
  Write("outer.mml", "c#INCLUDE,inner.mml\ne");
  Compiled r = Compile(":1#INCLUDE,outer.mml\nf");
  EXPECT_EQ(Melody(r), "c d e f");
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0], (CompiledError{"[File:outer.mml][Part:1]コマンドエラー(Z)", 20, 1}));
}

// A file that cannot be read is an error at the directive, named as written; the command is abandoned
// and the compilation goes on.
TEST_F(Include, AFileThatCannotBeReadIsAnErrorAtTheDirective) {
  Compiled r = Compile("#INCLUDE,missing.mml\n:1c");
  EXPECT_EQ(r.Errors, (Errors{{"ファイルmissing.mmlを読み込めません", 0, 20}}));
  EXPECT_EQ(Melody(r), "c");
  EXPECT_EQ(r.Raised, "");
  EXPECT_EQ(Compile("#I,\"no file\" ").Errors, (Errors{{"ファイルno fileを読み込めません", 0, 12}}));
  Compiled inMacro = Compile("!m,[c #I,none]\n:1!m");
  EXPECT_EQ(inMacro.Errors,
            (Errors{{"[Part:1]ファイルnoneを読み込めません(展開した!m内(c #I,none)でエラー)", 6, 7}}));
  EXPECT_EQ(Melody(inMacro), "c");
}

TEST_F(Include, FilesThatCannotBeReadCountTowardsTheSixteenErrors) {
  std::string text;
  for (int i = 0; i < 16; ++i) text += "#INCLUDE,missing.mml\n";
  Compiled r = Compile(text);
  EXPECT_EQ(r.Errors.size(), 16u);
  EXPECT_EQ(r.Raised, "エラーが多すぎます");
}

// Folders, devices, pipes and sockets are refused before anything is read from them, and opening
// them never waits (a pipe without a writer would).
TEST_F(Include, OnlyRegularFilesAreRead) {
  std::filesystem::create_directory(dir_ / "folder");
  ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (dir_ / "socket").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  std::vector<std::string> names = {"folder", "pipe", "socket", "/dev/zero"};
  // A device node of our own (the zero device), where the system lets us make one.
  if (::mknod((dir_ / "zero").c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) names.push_back("zero");
  for (const std::string& name : names) {
    Compiled r = Compile("#INCLUDE," + name + "\n:1c");
    EXPECT_EQ(r.Errors,
              (Errors{{"ファイル" + name + "を読み込めません", 0, 9 + static_cast<int32_t>(name.size())}}))
        << name;
    EXPECT_EQ(Melody(r), "c") << name;
  }
  ::close(sock);
}

TEST_F(Include, AtMostEightFiles) {
  Write("x.mml", "c");
  std::string text = ":1";
  for (int i = 0; i < 9; ++i) text += "#INCLUDE,x.mml\n";
  Compiled r = Compile(text);
  EXPECT_EQ(Melody(r), "c c c c c c c c");
  ASSERT_EQ(r.Errors.size(), 1u);
  EXPECT_EQ(r.Errors[0].Message, "[Part:1]これ以上ファイルを挿入できません");
}

TEST_F(Include, NamesAreConvertedForTheFileSystemAndShownAsWritten) {
  Write("歌.mml", "Z");
  Compiled r = Compile("#INCLUDE,歌.mml\n");
  EXPECT_EQ(r.Errors, (Errors{{"[File:歌.mml]コマンドエラー(Z)", 15, 1}}));
}

}  // namespace
}  // namespace mml_test
