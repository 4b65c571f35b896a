// Whole-file reads and atomic whole-file writes.
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// A file could not be read or written; what() names the file and the reason.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the parts, in order, to a temporary file in the same folder and renames it over `path`.
// On failure throws FileError; the temporary file is gone and an earlier file at `path` is untouched.
void WriteFileAtomic(const std::string& path, std::initializer_list<std::string_view> parts);

// Reads the whole file; throws FileError when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

bool FileExists(const std::string& path);

// Folder of the running executable, without a trailing "/" ("" when unknown).
std::string ExecutableFolder();

}  // namespace platform
