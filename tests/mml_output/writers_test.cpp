#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "mml/events.h"
#include "platform/files.h"
#include "tests/support/golden.h"

namespace {

using golden::AnnotateFile;
using golden::Hex;
using golden::ToHex;

constexpr const char* kSmfHeader = "4D 54 68 64 00 00 00 06 00 00 00 01 00 60 4D 54 72 6B";

struct Event {
  int32_t time;
  const char* hex;
};

mml::TMidiBufferList List(const std::vector<Event>& events) {
  mml::TMidiBufferList list;
  for (const Event& e : events) {
    list.Add(e.time, Hex(e.hex));
  }
  mml::SortEvents(list);
  return list;
}

// Compares annotated listings first (a readable diff), then the exact bytes.
void ExpectBytes(const std::string& expectedHex, const std::string& actual) {
  std::string expected = Hex(expectedHex);
  EXPECT_EQ(AnnotateFile(actual), AnnotateFile(expected));
  EXPECT_EQ(ToHex(actual), ToHex(expected));
}

std::string SmfTrack(const std::string& eventsHex, int32_t timebase = 96) {
  std::string events = Hex(eventsHex);
  char length[16];
  std::snprintf(length, sizeof length, "%08zX", events.size());
  char division[8];
  std::snprintf(division, sizeof division, "%04X", static_cast<unsigned>(timebase));
  return std::string("4D 54 68 64 00 00 00 06 00 00 00 01 ") + division + " 4D 54 72 6B " + length + " " +
         ToHex(events);
}

struct SmfCase {
  const char* name;
  std::vector<Event> events;
  int32_t cutTime;
  int32_t endTime;
  const char* trackHex;
};

TEST(SmfWriter, WritesDeltasRunningStatusAndTheCutRule) {
  const SmfCase cases[] = {
      {"empty text: only the end of track", {}, -1, 0, "00 FF 2F 00"},
      {"end later than the last event: final delta is the gap",
       {{0, "90 3C 64"}, {96, "90 3C 00"}},
       -1,
       192,
       "00 90 3C 64 60 3C 00 60 FF 2F 00"},
      {"cut at 192: events at 100, 200, 300 get 100, 92, 0",
       {{100, "B0 07 64"}, {200, "B0 07 65"}, {300, "B0 07 66"}},
       192,
       192,
       "64 B0 07 64 5C B0 07 65 00 B0 07 66 00 FF 2F 00"},
      {"end before the last event: final delta 0", {{50, "90 3C 64"}}, -1, 10, "32 90 3C 64 00 FF 2F 00"},
      {"five note-ons, controllers between the third and fourth",
       {{0, "90 3C 64"},
        {10, "90 3E 64"},
        {20, "90 40 64"},
        {30, "B0 07 64"},
        {30, "B0 0A 40"},
        {30, "90 41 64"},
        {40, "90 43 64"}},
       -1,
       40,
       "00 90 3C 64 0A 3E 64 0A 40 64 0A B0 07 64 00 B0 0A 40 00 90 41 64 0A 43 64 00 FF 2F 00"},
      {"velocity 0 and a new note-on share one status byte",
       {{0, "90 3C 64"}, {96, "90 3C 00"}, {96, "90 3E 64"}},
       -1,
       96,
       "00 90 3C 64 60 3C 00 00 3E 64 00 FF 2F 00"},
      {"two channels interleave; a change of channel writes the status again",
       {{0, "90 3C 64"}, {0, "91 40 64"}, {48, "90 3C 00"}, {96, "91 40 00"}},
       -1,
       96,
       "00 90 3C 64 00 91 40 64 30 90 3C 00 30 91 40 00 00 FF 2F 00"},
      {"note-off 8n never drops its status",
       {{0, "80 3C 00"}, {1, "80 3E 00"}},
       -1,
       1,
       "00 80 3C 00 01 80 3E 00 00 FF 2F 00"},
      {"meta events and system exclusive pass unchanged",
       {{0, "FF 51 03 07 A1 20"},
        {0, "FF 05 03 61 62 63"},
        {0, "F0 03 7E 7F F7"},
        {0, "FF 58 04 04 02 18 08"}},
       -1,
       0,
       "00 FF 51 03 07 A1 20 00 FF 05 03 61 62 63 00 F0 03 7E 7F F7 00 FF 58 04 04 02 18 08 00 FF 2F 00"},
      {"a gap beyond 0x0FFFFFFF is capped",
       {{0x10000005, "90 3C 64"}},
       -1,
       0x7FFFFFFF,
       "FF FF FF 7F 90 3C 64 FF FF FF 7F FF 2F 00"},
      {"a negative time gives delta 0 and the next delta counts from it",
       {{-10, "B0 07 64"}, {5, "B0 07 65"}},
       -1,
       5,
       "00 B0 07 64 0F B0 07 65 00 FF 2F 00"},
  };
  for (const SmfCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectBytes(SmfTrack(c.trackHex), mml::BuildSmf(List(c.events), 96, c.cutTime, c.endTime));
  }
}

TEST(SmfWriter, EmptyTextWritesTwentySixBytesWithTheDefaultHeader) {
  std::string file = mml::BuildSmf(mml::TMidiBufferList(), 96, -1, 0);
  ASSERT_EQ(file.size(), 26u);
  EXPECT_EQ(ToHex(file.substr(0, 18)), kSmfHeader);
  EXPECT_EQ(ToHex(file.substr(18)), "00 00 00 04 00 FF 2F 00");
}

TEST(SmfWriter, DivisionIsTheTimebase) {
  EXPECT_EQ(ToHex(mml::BuildSmf(mml::TMidiBufferList(), 480, -1, 0).substr(12, 2)), "01 E0");
  EXPECT_EQ(ToHex(mml::BuildSmf(mml::TMidiBufferList(), 32767, -1, 0).substr(12, 2)), "7F FF");
}

struct NmmCase {
  const char* name;
  std::vector<Event> events;
  int32_t cutTime;
  int32_t endTime;
  const char* eventPartHex;
  const char* trailerHex;
};

TEST(NmmWriter, TurnsMetaEventsIntoPlayEventsAndLeavesTheRestOut) {
  const NmmCase cases[] = {
      {"no events: 00 FF 00", {}, -1, 0, "00 FF 00", ""},
      {"tempo becomes FF 01",
       {{0, "FF 51 03 07 A1 20"}, {96, "90 3C 64"}},
       -1,
       96,
       "00 FF 01 07 A1 20 60 90 3C 64 00 FF 00",
       ""},
      {"*loop in lower case becomes the loop point FF 03, abc disappears",
       {{0, "FF 05 05 2A 6C 6F 6F 70"}, {10, "FF 05 03 61 62 63"}, {20, "90 3C 64"}},
       -1,
       20,
       "00 FF 03 14 90 3C 64 00 FF 00",
       ""},
      {"a lyric merely starting with *LOOP is a loop point too",
       {{0, "FF 05 07 2A 4C 6F 4F 70 32 21"}},
       -1,
       0,
       "00 FF 03 00 FF 00",
       ""},
      {"the five bytes behind a one-byte length are compared: a 130-byte lyric starting with *loop is "
       "left out, one whose second length byte is * followed by LOOP is a loop point",
       {{0, "FF 05 81 02 2A 6C 6F 6F 70"}, {5, "FF 05 81 2A 4C 4F 4F 50 21"}},
       -1,
       5,
       "05 FF 03 00 FF 00",
       ""},
      {"a lyric shorter than *LOOP is no loop point", {{0, "FF 05 04 2A 4C 4F 4F"}}, -1, 0, "00 FF 00", ""},
      {"a left-out event moves neither the delta base nor the running status",
       {{10, "90 3C 64"}, {50, "FF 05 01 78"}, {60, "FF 58 04 04 02 18 08"}, {96, "90 3C 00"}},
       -1,
       100,
       "0A 90 3C 64 56 3C 00 04 FF 00",
       ""},
      {"a written meta event breaks the running status",
       {{0, "90 3C 64"}, {50, "FF 51 03 07 A1 20"}, {96, "90 3C 00"}},
       -1,
       96,
       "00 90 3C 64 32 FF 01 07 A1 20 2E 90 3C 00 00 FF 00",
       ""},
      {"copyright and title go to the trailer in list order",
       {{0, "FF 03 02 54 31"}, {0, "FF 02 01 43"}, {0, "FF 01 01 54"}, {5, "C0 00"}},
       -1,
       5,
       "05 C0 00 00 FF 00",
       "02 54 31 00 01 43 00"},
      {"system exclusive as stored, cut rule applies",
       {{0, "F0 03 7E 7F F7"}, {100, "90 3C 64"}, {300, "90 3C 00"}},
       192,
       192,
       "00 F0 03 7E 7F F7 64 90 3C 64 5C 3C 00 00 FF 00",
       ""},
  };
  for (const NmmCase& c : cases) {
    SCOPED_TRACE(c.name);
    mml::NmmStream nmm = mml::BuildNmm(List(c.events), 96, c.cutTime, c.endTime);
    std::string part = Hex(c.eventPartHex);
    char length[32];
    std::snprintf(length, sizeof length, "%02zX %02zX 00 00 60 00 ", part.size() & 0xFF, part.size() >> 8);
    ExpectBytes(std::string("4E 4D 4D 1A ") + length + c.eventPartHex, nmm.Stream);
    EXPECT_EQ(ToHex(nmm.Trailer), c.trailerHex);
    EXPECT_EQ(ToHex(nmm.PlayImage()), ToHex(part));
  }
}

TEST(NmmWriter, HeaderHoldsTheTimebaseLittleEndian) {
  mml::NmmStream nmm = mml::BuildNmm(mml::TMidiBufferList(), 480, -1, 0);
  EXPECT_EQ(ToHex(nmm.Stream), "4E 4D 4D 1A 03 00 00 00 E0 01 00 FF 00");
}

class WriterFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tonvik-writers-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::filesystem::path dir_;
};

TEST_F(WriterFiles, WritesSmfAndNmmFilesWithTrailer) {
  mml::TMidiBufferList list = List({{0, "FF 03 01 54"}, {0, "90 3C 64"}, {96, "90 3C 00"}});
  std::string smf = (dir_ / "a.mid").string();
  std::string nmm = (dir_ / "b.NmM").string();
  mml::WriteSmf(list, 96, -1, 96, smf);
  mml::WriteNmm(list, 96, -1, 96, nmm);
  EXPECT_EQ(platform::ReadWholeFile(smf), mml::BuildSmf(list, 96, -1, 96));
  EXPECT_EQ(ToHex(platform::ReadWholeFile(nmm)),
            "4E 4D 4D 1A 0A 00 00 00 60 00 00 90 3C 64 60 3C 00 00 FF 00 01 54 00");
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.mid", "b.NmM"}));
}

TEST_F(WriterFiles, ConvertsTheCp932NameBeforeOpening) {
  // "テスト.mid" in code page 932.
  std::string name = (dir_ / "").string() + "\x83\x65\x83\x58\x83\x67.mid";
  mml::WriteSmf(mml::TMidiBufferList(), 96, -1, 0, name);
  EXPECT_EQ(Files(), (std::vector<std::string>{"テスト.mid"}));
}

TEST_F(WriterFiles, FailedWriteThrowsAndLeavesNothingBehind) {
  // The target is a folder: it is refused, and no temporary file is made.
  std::filesystem::create_directory(dir_ / "taken.mid");
  EXPECT_THROW(mml::WriteSmf(mml::TMidiBufferList(), 96, -1, 0, (dir_ / "taken.mid").string()),
               platform::FileError);
  EXPECT_THROW(mml::WriteNmm(mml::TMidiBufferList(), 96, -1, 0, (dir_ / "missing" / "x.nmm").string()),
               platform::FileError);
  EXPECT_EQ(Files(), (std::vector<std::string>{"taken.mid"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "taken.mid"));
}

TEST_F(WriterFiles, TimebaseBeyondTheFileFieldIsAnErrorAndKeepsTheEarlierFile) {
  std::string smf = (dir_ / "a.mid").string();
  std::string nmm = (dir_ / "a.nmm").string();
  mml::WriteSmf(mml::TMidiBufferList(), 96, -1, 0, smf);
  mml::WriteNmm(mml::TMidiBufferList(), 65535, -1, 0, nmm);
  for (int32_t timebase : {32768, 65535, 65536}) {
    EXPECT_THROW(mml::WriteSmf(mml::TMidiBufferList(), timebase, -1, 0, smf), platform::FileError)
        << timebase;
  }
  EXPECT_THROW(mml::WriteNmm(mml::TMidiBufferList(), 65536, -1, 0, nmm), platform::FileError);
  EXPECT_EQ(platform::ReadWholeFile(smf).size(), 26u);
  EXPECT_EQ(ToHex(platform::ReadWholeFile(nmm).substr(8, 2)), "FF FF");
  EXPECT_EQ(Files(), (std::vector<std::string>{"a.mid", "a.nmm"}));
}

// Every writer goes through one rule: links are followed, devices and FIFOs written directly, and an
// existing file is replaced by one with its permission bits.
TEST_F(WriterFiles, SpecialTargetsAreWrittenWithoutBeingReplaced) {
  namespace fs = std::filesystem;
  const std::string smf = mml::BuildSmf(mml::TMidiBufferList(), 96, -1, 0);
  auto write = [&](const fs::path& path) { mml::WriteSmf(mml::TMidiBufferList(), 96, -1, 0, path.string()); };
  fs::create_directory(dir_ / "sub");

  fs::create_symlink("sub/target.mid", dir_ / "link.mid");
  platform::WriteFileAtomic((dir_ / "sub" / "target.mid").string(), {"old"});
  write(dir_ / "link.mid");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.mid"));
  EXPECT_EQ(platform::ReadWholeFile((dir_ / "sub" / "target.mid").string()), smf);

  fs::create_symlink(dir_ / "sub" / "new.mid", dir_ / "dangling.mid");
  write(dir_ / "dangling.mid");
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.mid"));
  EXPECT_EQ(platform::ReadWholeFile((dir_ / "sub" / "new.mid").string()), smf);

  platform::WriteFileAtomic((dir_ / "private.mid").string(), {"old"});
  fs::permissions(dir_ / "private.mid", fs::perms::owner_read | fs::perms::owner_write);
  write(dir_ / "private.mid");
  EXPECT_EQ(fs::status(dir_ / "private.mid").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(platform::ReadWholeFile((dir_ / "private.mid").string()), smf);

  const std::string fifo = (dir_ / "fifo.mid").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = platform::ReadWholeFile(fifo); });
  write(fifo);
  reader.join();
  EXPECT_EQ(received, smf);
  EXPECT_TRUE(fs::is_fifo(fifo));

  // A node like /dev/null's, made here (only root may make one).
  const std::string null = (dir_ / "null.mid").string();
  if (::mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
    write(null);
    EXPECT_TRUE(fs::is_character_file(null));
  }
  // No temporary file is left anywhere.
  std::vector<std::string> expected{"dangling.mid", "fifo.mid", "link.mid", "private.mid", "sub"};
  if (fs::exists(null)) expected.insert(expected.begin() + 3, "null.mid");
  EXPECT_EQ(Files(), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "sub"), fs::directory_iterator()), 2);
}

TEST(SongHandOver, PlayNameHandsTheImageOverAndBuildOnlyKeepsIt) {
  std::vector<uint8_t> received;
  int32_t receivedTimebase = 0;
  int calls = 0;
  mml::SetSongHandOver([&](std::span<const uint8_t> image, int32_t timebase) {
    received.assign(image.begin(), image.end());
    receivedTimebase = timebase;
    ++calls;
  });
  mml::TMidiBufferList list = List({{0, "FF 51 03 07 A1 20"}, {0, "90 3C 64"}, {96, "90 3C 00"}});
  mml::WriteNmm(list, 65536, -1, 96, std::string(1, '\xFF'));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(receivedTimebase, 65536) << "the sequencer gets the whole timebase, not the 16-bit field";
  std::string image(received.begin(), received.end());
  EXPECT_EQ(ToHex(image), "00 FF 01 07 A1 20 00 90 3C 64 60 3C 00 00 FF 00");
  EXPECT_EQ(mml::LastPlayImage(), received);

  mml::WriteNmm(mml::TMidiBufferList(), 96, -1, 0, std::string(1, '\0'));
  EXPECT_EQ(calls, 1) << "build only does not play";
  EXPECT_EQ(mml::LastPlayImage(), (std::vector<uint8_t>{0x00, 0xFF, 0x00}));
  mml::SetSongHandOver(nullptr);
}

}  // namespace
