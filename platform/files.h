// Whole-file reads and atomic whole-file writes.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// A file could not be read or written; what() names the file and the reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output file, written by the one rule of every writer:
// - a regular file or a new name is written to a temporary file in the same folder, which Commit renames
//   over it; an existing file keeps its permission bits (and, where allowed, its owner);
// - a symbolic link is followed: its target is replaced that way, in the target's own folder;
// - a character device or a FIFO is written directly (so /dev/stdout works);
// - anything else (a folder, a block device, a socket) is refused.
// Every failure throws FileError naming the file as given. Without Commit (a failure, an exception) the
// temporary file is removed and an earlier file is untouched.
// A log opened with `streamed` is written in place instead (a regular file is truncated at the start), so
// that everything written so far is in the file at every moment, whatever ends the program.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path, bool streamed = false);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(std::string_view data);
  // Puts the written bytes in place; the file is closed.
  void Commit();

 private:
  void Abandon();
  [[noreturn]] void Fail(int err);

  std::string path_;  // as given
  std::string temp_;  // the temporary file; empty when written directly
  std::string target_;
  int fd_ = -1;
};

// Writes the parts, in order, to `path` as one OutputFile.
void WriteFileAtomic(const std::string& path, std::initializer_list<std::string_view> parts);

// Reads the whole file, or only its first `limit` bytes when it is longer (a caller that must refuse
// long files asks for one byte more than it takes). Throws FileError when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path, size_t limit = std::numeric_limits<size_t>::max());

// ReadWholeFile for regular files only: a folder, device, pipe or socket is refused with FileError
// before anything is read from it, and opening never waits.
std::string ReadRegularFile(const std::string& path, size_t limit);

// Standard input to its end, or its first `limit` bytes; throws FileError when it cannot be read.
std::string ReadStandardInput(size_t limit);

bool FileExists(const std::string& path);

// Folder of the running executable, without a trailing "/" ("" when unknown).
std::string ExecutableFolder();

}  // namespace platform
