// A program the test starts and always stops: SIGTERM when the object goes (or the test process
// dies), then SIGKILL if it does not end within its grace time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace platform::testing_support {

// The full path of `program` on PATH; empty when it is not installed.
std::string FindProgram(const std::string& program);

class ChildProcess {
 public:
  // Starts `argv` with stdout and stderr going to `outputFile` (or /dev/null when empty).
  ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile,
               std::chrono::milliseconds grace = std::chrono::seconds(2));
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Stops the program (SIGTERM, then SIGKILL) and waits for it.
  void Stop();

 private:
  pid_t pid_ = -1;
  std::chrono::milliseconds grace_;
};

}  // namespace platform::testing_support
