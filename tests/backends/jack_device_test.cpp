#include "platform/backends/jack_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "child_process.h"

namespace platform {
namespace {

using testing_support::ChildProcess;
using testing_support::FindProgram;
using Bytes = std::vector<uint8_t>;

// Polls `ready` every 20 ms for up to five seconds: for a server or a client to come up.
bool WaitFor(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The messages of a jack_midi_dump log, one per line "time: bytes in hex, then words": the
// two-digit hex tokens after the colon up to the first other token.
std::vector<Bytes> DumpedMessages(const std::string& log) {
  std::vector<Bytes> messages;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    std::istringstream tokens(line.substr(colon + 1));
    std::string token;
    Bytes bytes;
    while (tokens >> token && token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
           std::isxdigit(static_cast<unsigned char>(token[1]))) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    if (!bytes.empty()) {
      messages.push_back(bytes);
    }
  }
  return messages;
}

std::string Hex(const std::vector<Bytes>& messages) {
  std::string text;
  char buffer[4];
  for (const Bytes& message : messages) {
    for (uint8_t b : message) {
      std::snprintf(buffer, sizeof buffer, "%02X ", b);
      text += buffer;
    }
    text += "| ";
  }
  return text;
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "tonvik_" + name + "_" + std::to_string(getpid()) + ".log";
}

TEST(JackMidiDevices, NoRowWhileNoServerRuns) {
  const std::string name = "tonvik-absent-" + std::to_string(getpid());
  setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  EXPECT_TRUE(JackMidiDevices().empty()) << "and no server was started";
  JackDeviceOptions options;
  options.serverName = name;
  EXPECT_EQ(CreateJackMidiDevice(options), nullptr);
}

// Starts a private dummy-driver JACK server, connects Tonvik's port to jack_midi_dump and checks
// that the dumped bytes are exactly the messages sent, in order.
TEST(JackMidiDevice, ADumpClientReceivesExactlyTheMessagesInOrder) {
  const std::string jackd = FindProgram("jackd");
  const std::string dump = FindProgram("jack_midi_dump");
  if (jackd.empty() || dump.empty()) {
    GTEST_SKIP() << "jackd or jack_midi_dump is missing (Debian package jackd2); no JACK server to test with";
  }
  // One fixed name: JACK keeps a registry of eight server names and reclaims the entry of a server
  // that died only for the same name.
  const std::string server = "tonvik-test";
  setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
  setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
  const std::string serverLog = TempPath("jackd");
  // A server that still has clients takes a few seconds to end; killed, it leaves its shared memory.
  ChildProcess jackServer({jackd, "--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"},
                          serverLog, std::chrono::seconds(10));
  ASSERT_TRUE(jackServer.Started());
  JackDeviceOptions options;
  options.serverName = server;
  std::shared_ptr<JackMidiDevice> device;
  ASSERT_TRUE(WaitFor([&] { return (device = CreateJackMidiDevice(options)) != nullptr; }))
      << "the JACK server did not come up:\n"
      << ReadText(serverLog);
  EXPECT_EQ(device->Caps().name, "Tonvik:midi_out (JACK)");
  EXPECT_EQ(device->Caps().technology, kModMidiPort);

  const std::string dumpLog = TempPath("midi_dump");
  const std::string stdbuf = FindProgram("stdbuf");
  std::vector<std::string> dumpCommand = {dump, "tonvik_dump"};
  if (!stdbuf.empty()) {
    dumpCommand.insert(dumpCommand.begin(), {stdbuf, "-oL"});
  }
  ChildProcess dumper(dumpCommand, dumpLog);
  ASSERT_TRUE(WaitFor([&] { return device->ConnectTo("tonvik_dump:input"); }))
      << "could not connect to jack_midi_dump:\n"
      << ReadText(dumpLog);

  ASSERT_TRUE(device->Open());
  // The dump client may be connected before it runs: active-sensing bytes until one shows.
  ASSERT_TRUE(WaitFor([&] {
    device->ShortMsg(0xFE);
    return !DumpedMessages(ReadText(dumpLog)).empty();
  })) << "jack_midi_dump never printed anything";
  std::vector<Bytes> expected;
  auto shortMsg = [&](uint32_t packed, Bytes bytes) {
    device->ShortMsg(packed);
    if (!bytes.empty()) {
      expected.push_back(bytes);
    }
  };
  shortMsg(0x000000C0, {0xC0, 0x00});
  shortMsg(0x00643C90, {0x90, 0x3C, 0x64});
  shortMsg(0x00504090, {0x90, 0x40, 0x50});
  shortMsg(0x000002F5, {});  // port select: skipped
  shortMsg(0x005007B0, {0xB0, 0x07, 0x50});
  const Bytes gsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  device->LongMsg(gsReset);
  expected.push_back(gsReset);
  shortMsg(0x00003C90, {0x90, 0x3C, 0x00});
  shortMsg(0x004000E0, {0xE0, 0x00, 0x40});
  device->Reset();
  for (uint8_t channel = 0; channel < 16; ++channel) {
    expected.push_back({static_cast<uint8_t>(0xB0 + channel), 64, 0});
    expected.push_back({static_cast<uint8_t>(0xB0 + channel), 123, 0});
  }

  std::vector<Bytes> dumped;
  WaitFor([&] {
    dumped = DumpedMessages(ReadText(dumpLog));
    while (!dumped.empty() && dumped.front() == Bytes{0xFE}) {
      dumped.erase(dumped.begin());
    }
    return dumped.size() >= expected.size();
  });
  EXPECT_EQ(Hex(dumped), Hex(expected)) << "jack_midi_dump printed:\n" << ReadText(dumpLog);

  // The device list's row: a second client of the same name (renamed by the server) keeps the
  // stable name, and is the same object on every enumeration.
  const auto listed = JackMidiDevices();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]->Caps().name, "Tonvik:midi_out (JACK)");
  EXPECT_EQ(JackMidiDevices().at(0), listed[0]);

  // A device whose client is closed stays valid and fails to open, quietly. (libjack cannot close
  // two clients of one process after their server died, so the test's own client goes first.)
  device->Close();
  device->CloseClient();
  EXPECT_FALSE(device->Alive());
  EXPECT_FALSE(device->Open());
  device->ShortMsg(0x00643C90);  // nothing to do, and no crash

  // The server goes away: the listed device dies with it, leaves the list, stays valid and fails
  // to open.
  dumper.Stop();
  jackServer.Stop();
  EXPECT_TRUE(WaitFor([&] { return JackMidiDevices().empty(); }));
  EXPECT_FALSE(listed[0]->Open());
  std::remove(serverLog.c_str());
  std::remove(dumpLog.c_str());
}

}  // namespace
}  // namespace platform
