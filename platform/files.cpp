#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

// The end of the chain of symbolic links that starts at `path`, a name that does not exist (the last link
// dangles); "" with `err` set when a link cannot be read or the chain is too long.
std::string FollowDanglingLinks(const std::string& path, int& err) {
  std::string name = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
    if (hops == 40) {
      err = ELOOP;
      return "";
    }
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(name.c_str(), link.data(), link.size());
    if (n < 0) {
      err = errno;
      return "";
    }
    link.resize(static_cast<size_t>(n));
    const std::filesystem::path folder = std::filesystem::path(name).parent_path();
    name = link.starts_with('/') || folder.empty() ? link : (folder / link).string();
  }
}

// The name of the existing file `path` leads to, every link followed; "" with `err` set on failure.
std::string RealPath(const std::string& path, int& err) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) {
    err = errno;
    return "";
  }
  std::string name(real);
  std::free(real);
  return name;
}

}  // namespace

OutputFile::OutputFile(const std::string& path, bool streamed) : path_(path) {
  auto fail = [&](int err) { return FileError("cannot create \"" + path + "\": " + Reason(err)); };
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
    // Opened through the name as given: /dev/stdout and its kind only open that way.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) throw fail(errno);
    return;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    throw FileError("cannot write \"" + path + "\": " + Reason(S_ISDIR(st.st_mode) ? EISDIR : ENOTSUP));
  }
  int err = 0;
  target_ = exists ? RealPath(path, err) : FollowDanglingLinks(path, err);
  if (target_.empty()) throw fail(err);
  if (streamed) {
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw fail(errno);
    return;
  }
  temp_ = target_ + ".tmp-XXXXXX";
  fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) {
    temp_.clear();
    throw fail(errno);
  }
  if (exists) {
    // The replacement is the same file to its users: its permission bits, and its owner where we may
    // give the file away (else it becomes ours).
    if (::fchown(fd_, st.st_uid, st.st_gid) != 0) errno = 0;
    ::fchmod(fd_, st.st_mode & 07777);
  } else {
    // mkstemp makes the file 0600; give it the permissions an ordinary new file gets.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
  }
}

OutputFile::~OutputFile() { Abandon(); }

void OutputFile::Abandon() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void OutputFile::Fail(int err) {
  Abandon();
  throw FileError("cannot write \"" + path_ + "\": " + Reason(err));
}

void OutputFile::Write(std::string_view data) {
  if (fd_ < 0) Fail(EBADF);
  if (!WriteAll(fd_, data)) Fail(errno);
}

void OutputFile::Commit() {
  if (fd_ < 0) Fail(EBADF);
  // A device or FIFO has nothing to sync; a file is on the disk before it takes the name.
  if (!temp_.empty() && ::fsync(fd_) != 0) Fail(errno);
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) Fail(errno);
  if (!temp_.empty()) {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) Fail(errno);
    temp_.clear();
  }
}

void WriteFileAtomic(const std::string& path, std::initializer_list<std::string_view> parts) {
  OutputFile file(path);
  for (std::string_view part : parts) file.Write(part);
  file.Commit();
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
