#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace platform {
namespace {

std::string Reason(int err) { return std::strerror(err); }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

void WriteFileAtomic(const std::string& path, std::initializer_list<std::string_view> parts) {
  std::string temp = path + ".tmp-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    throw FileError("cannot create \"" + path + "\": " + Reason(errno));
  }
  bool ok = true;
  for (std::string_view part : parts) {
    if (!WriteAll(fd, part)) {
      ok = false;
      break;
    }
  }
  int err = ok ? 0 : errno;
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    err = errno;
  }
  // mkstemp makes the file 0600; give it the permissions an ordinary new file gets.
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    throw FileError("cannot write \"" + path + "\": " + Reason(err));
  }
}

namespace {

// Closes the descriptor on every way out.
class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  ~FdCloser() { ::close(fd_); }

 private:
  int fd_;
};

// Reads `fd` to its end or to `limit` bytes; `what` names it in messages.
std::string ReadUpTo(int fd, const std::string& what, size_t limit) {
  std::string out;
  char buffer[65536];
  while (out.size() < limit) {
    ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - out.size()));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw FileError("cannot read " + what + ": " + Reason(errno));
    }
    if (n == 0) {
      break;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

std::string ReadWholeFile(const std::string& path, size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw FileError("cannot open " + Quoted(path) + ": " + Reason(errno));
  }
  FdCloser closer(fd);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    throw FileError("cannot read " + Quoted(path) + ": " + Reason(EISDIR));
  }
  return ReadUpTo(fd, Quoted(path), limit);
}

std::string ReadRegularFile(const std::string& path, size_t limit) {
  // Checked before the file is opened (opening a device or a pipe can have effects of its own), and
  // again on what was opened, in case the name was replaced in between.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw FileError("cannot read " + Quoted(path) + ": not a regular file");
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    throw FileError("cannot open " + Quoted(path) + ": " + Reason(errno));
  }
  FdCloser closer(fd);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    throw FileError("cannot read " + Quoted(path) + ": not a regular file");
  }
  return ReadUpTo(fd, Quoted(path), limit);
}

std::string ReadStandardInput(size_t limit) { return ReadUpTo(STDIN_FILENO, "standard input", limit); }

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ExecutableFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    return "";
  }
  return exe.parent_path().string();
}

}  // namespace platform
