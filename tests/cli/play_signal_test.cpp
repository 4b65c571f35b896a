// `tonvik-mml --play` ended by SIGTERM or SIGHUP (a session that ends) stops the song the normal way:
// the port's reset goes out and the trace is written, as after Ctrl+C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

TEST(PlayCommand, TerminationSignalsEndThePlayWithTheReset) {
  const char* bin = std::getenv("TONVIK_BIN_DIR");
  const std::string program =
      (bin != nullptr ? std::string(bin) : platform::ExecutableFolder() + "/../bin") + "/tonvik-mml";
  ASSERT_TRUE(fs::exists(program)) << program;
  const fs::path dir = fs::temp_directory_path() / ("tonvik-play-signal-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Twelve seconds of whole notes.
  platform::WriteFileAtomic((dir / "long.mml").string(), {":1 t40 l1 cdefgab\n"});

  for (int signal : {SIGTERM, SIGHUP}) {
    const std::string trace = (dir / ("trace" + std::to_string(signal))).string();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      execl(program.c_str(), program.c_str(), "--play", (dir / "long.mml").c_str(), "--device", "none",
            "--trace", trace.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal << " killed the program";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string log = platform::ReadWholeFile(trace);
    const size_t note = log.find(" 90 48 ");
    ASSERT_NE(note, std::string::npos) << "the first note played:\n" << log;
    EXPECT_NE(log.find(" B0 7B 00", note), std::string::npos) << "all notes off after it:\n" << log;
  }
  fs::remove_all(dir);
}

}  // namespace
