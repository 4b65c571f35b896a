// `tonvik-mml --record` against a private JACK server with the dummy driver: a test client plays a
// known sequence into Tonvik's input at exact frames and watches Tonvik's output port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/jack_keyboard.h"

namespace {

namespace fs = std::filesystem;
using platform::testing_support::JackKeyboard;
using platform::testing_support::kKeyboardTake;
using platform::testing_support::WaitFor;
using Bytes = std::vector<uint8_t>;

std::string ReadText(const fs::path& path) {
  try {
    return platform::ReadWholeFile(path.string());
  } catch (...) {
    return "";
  }
}

std::string Hex(const std::vector<Bytes>& messages) {
  std::ostringstream text;
  for (const Bytes& message : messages) {
    for (uint8_t b : message) text << std::hex << int(b) << ' ';
    text << "| ";
  }
  return text.str();
}

TEST(LiveRecord, AKeyboardOnJackIsHeardRecordedAndConvertedAsTheTakeFile) {
  const char* bin = std::getenv("TONVIK_BIN_DIR");
  const std::string program =
      (bin != nullptr ? std::string(bin) : platform::ExecutableFolder() + "/../bin") + "/tonvik-mml";
  const fs::path dir = fs::temp_directory_path() / ("tonvik-live-record-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  auto jackServer = platform::testing_support::StartJackServer("tonvik-midiin", (dir / "jackd.log").string());
  if (!jackServer) GTEST_SKIP() << "jackd is missing (Debian package jackd2); no JACK server to test with";
  ASSERT_TRUE(jackServer->Started());
  std::unique_ptr<JackKeyboard> player;
  ASSERT_TRUE(WaitFor([&] {
    player = std::make_unique<JackKeyboard>("tonvik-midiin");
    return player->Ready();
  })) << ReadText(dir / "jackd.log");

  // Listed after the outputs, as an input.
  const std::string list = program + " --list-devices > " + (dir / "list.out").string();
  ASSERT_EQ(std::system(list.c_str()), 0);
  EXPECT_NE(ReadText(dir / "list.out").find("\tTonvik:midi_out (JACK)\t"), std::string::npos);
  EXPECT_NE(ReadText(dir / "list.out").find("in0\ttonvik_player:out (JACK)\tJACK\n"), std::string::npos)
      << ReadText(dir / "list.out");

  const fs::path take = dir / "take.txt";
  const std::string record =
      program + " --record --input 'tonvik_player:out (JACK)' --device 'Tonvik:midi_out (JACK)'" +
      " --duration 6 --take " + take.string() + " --dialect 1 --min 16 > " + (dir / "record.out").string() +
      " 2> " + (dir / "record.err").string();
  auto recording = std::async(std::launch::async, [&] { return std::system(record.c_str()); });

  ASSERT_TRUE(WaitFor([&] { return player->OutConnected(); })) << ReadText(dir / "record.err");
  // Tonvik's output port (its client may have been renamed "Tonvik-01"), watched.
  ASSERT_TRUE(WaitFor([&] { return player->WatchTonvik(); }));
  player->Replug();
  ASSERT_TRUE(WaitFor([&] { return player->OutConnected(); })) << "plugged back in: connected again";
  player->Play();
  ASSERT_TRUE(WaitFor([&] { return player->Done(); }));
  ASSERT_EQ(recording.get(), 0) << ReadText(dir / "record.err");

  // The notes on the window's channel 1 (note-offs as note-ons of velocity 0), the pedal, the program.
  std::vector<Bytes> heard;
  for (const Bytes& message : player->Watched()) {
    const uint8_t kind = message[0] & 0xF0;
    if (kind == 0x90 || kind == 0xC0 || (kind == 0xB0 && message[1] == 64)) heard.push_back(message);
  }
  const std::vector<Bytes> expected = {
      {0xC0, 0x05},  {0x90, 60, 100}, {0x90, 64, 90},  {0x90, 67, 80}, {0x90, 60, 0},
      {0x90, 64, 0}, {0x90, 67, 0},   {0xB0, 64, 127}, {0x90, 62, 70}, {0x90, 62, 0},
      {0xB0, 64, 0}, {0x90, 65, 110}, {0x90, 69, 110}, {0x90, 65, 0},  {0x90, 69, 0},
  };
  // Then the driver reset of the port's close.
  ASSERT_GE(heard.size(), expected.size()) << Hex(heard);
  EXPECT_EQ(Hex({heard.begin(), heard.begin() + static_cast<std::ptrdiff_t>(expected.size())}),
            Hex(expected));
  for (size_t i = expected.size(); i < heard.size(); ++i) {
    EXPECT_EQ(heard[i][0] & 0xF0, 0xB0) << "after the sequence only the reset: " << Hex(heard);
  }

  // The take's times from its first event, to the millisecond; the stop when the duration ran out.
  const std::string takeText = ReadText(take);
  std::istringstream lines(takeText);
  std::vector<std::string> events;
  for (std::string line; std::getline(lines, line);) events.push_back(line);
  ASSERT_EQ(events.size(), 7u) << takeText;
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.end() - 1), kKeyboardTake);
  EXPECT_TRUE(events.back().ends_with(" stop")) << takeText;
  EXPECT_GT(std::stoul(events.back()), 1650u) << takeText;

  // Its MML is what --record-to-mml makes of the take file.
  const std::string convert = program + " --record-to-mml " + take.string() + " --dialect 1 --min 16 > " +
                              (dir / "convert.out").string();
  ASSERT_EQ(std::system(convert.c_str()), 0);
  EXPECT_FALSE(ReadText(dir / "record.out").empty());
  EXPECT_EQ(ReadText(dir / "record.out"), ReadText(dir / "convert.out"));

  player.reset();
  jackServer->Stop();
  fs::remove_all(dir);
}

}  // namespace
