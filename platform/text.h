// Text at the boundary between the platform (UTF-8, LF) and the compiler (code page 932, CR LF).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 to code page 932; characters that CP932 lacks become "?".
std::string Utf8ToCp932(std::string_view utf8);

// Code page 932 to UTF-8; a byte sequence that is no CP932 character becomes U+FFFD.
std::string Cp932ToUtf8(std::string_view cp932);

bool IsValidUtf8(std::string_view bytes);
bool HasNonAscii(std::string_view bytes);

// Every line break (CR LF, a lone LF, a lone CR) becomes CR LF.
std::string NormalizeLineBreaks(std::string_view text);

// The bytes of a file meant for the compiler: valid UTF-8 holding non-ASCII bytes is converted to
// CP932, anything else is taken as CP932 already. Line breaks are left as they are.
std::string FileTextToCp932(std::string_view bytes);

// A file name written in CP932 (MML text) in the file system's own encoding (UTF-8 here).
std::string Cp932NameToNative(std::string_view cp932);

}  // namespace platform
