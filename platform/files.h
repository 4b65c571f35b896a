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

// Writes the parts, in order, to a temporary file in the same folder and renames it over `path`.
// On failure throws FileError; the temporary file is gone and an earlier file at `path` is untouched.
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
