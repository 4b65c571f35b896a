// Compiles MML in build-only mode and gives the results in readable form for assertions.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace mml_test {

struct CompiledError {
  std::string Message;  // UTF-8
  int32_t Start;
  int32_t Length;
  bool operator==(const CompiledError&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const CompiledError& e) {
    return out << "{\"" << e.Message << "\", " << e.Start << ", " << e.Length << "}";
  }
};

struct Compiled {
  std::vector<std::string> Events;  // "tick: HEX HEX ..." in sorted order
  std::vector<CompiledError> Errors;
  std::string Raised;  // UTF-8 message of the exception that left CompileMML, "" when none
  std::vector<std::string> NoteOns() const;  // the Note On events (velocity > 0) only
};

// `text` is UTF-8 with LF line breaks, made CP932 with CR LF as the program's boundary does.
Compiled Compile(const std::string& text);
// `text` as the compiler gets it (CP932, CR LF).
Compiled CompileRaw(const std::string& text);

// The text as the compiler gets it (CP932, CR LF).
std::string ToCompilerText(const std::string& utf8);

// UTF-8 of a CP932 message.
std::string Utf8(const std::string& cp932);

}  // namespace mml_test
