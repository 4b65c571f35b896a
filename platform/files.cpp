#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw FileError("cannot open \"" + path + "\": " + Reason(errno));
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw FileError("cannot read \"" + path + "\": " + Reason(EISDIR));
  }
  std::string out;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      int err = errno;
      ::close(fd);
      throw FileError("cannot read \"" + path + "\": " + Reason(err));
    }
    if (n == 0) {
      break;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

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
