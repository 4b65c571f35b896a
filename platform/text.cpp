#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace platform {
namespace {

// Runs iconv over the whole input; on an unconvertible or invalid sequence, writes `replacement`
// and skips `skip(bytes left)` input bytes.
template <typename Skip>
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view replacement,
                    Skip skip) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return std::string(in);
  }
  std::string out;
  out.reserve(in.size() * 2 + 8);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buffer[4096];
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        continue;
      }
      // EILSEQ or EINVAL: replace what cannot be converted and go on behind it.
      out.append(replacement);
      size_t n = skip(std::string_view(src, srcLeft));
      src += n;
      srcLeft -= n;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* dst = buffer;
  size_t dstLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buffer, dst - buffer);
  iconv_close(cd);
  return out;
}

size_t Utf8SequenceLength(std::string_view s) {
  unsigned char b = static_cast<unsigned char>(s[0]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
  return n <= s.size() ? n : s.size();
}

size_t Cp932SequenceLength(std::string_view s) {
  unsigned char b = static_cast<unsigned char>(s[0]);
  bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return lead && s.size() >= 2 ? 2 : 1;
}

}  // namespace

std::string Utf8ToCp932(std::string_view utf8) {
  return Convert("CP932", "UTF-8", utf8, "?", Utf8SequenceLength);
}

std::string Cp932ToUtf8(std::string_view cp932) {
  return Convert("UTF-8", "CP932", cp932, "\xEF\xBF\xBD", Cp932SequenceLength);
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b >> 5) == 0x6) {
      n = 2;
      cp = b & 0x1F;
    } else if ((b >> 4) == 0xE) {
      n = 3;
      cp = b & 0x0F;
    } else if ((b >> 3) == 0x1E) {
      n = 4;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + n > s.size()) {
      return false;
    }
    for (size_t k = 1; k < n; ++k) {
      unsigned char c = static_cast<unsigned char>(s[i + k]);
      if ((c >> 6) != 0x2) {
        return false;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += n;
  }
  return true;
}

bool HasNonAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return true;
    }
  }
  return false;
}

std::string NormalizeLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FileTextToCp932(std::string_view bytes) {
  if (HasNonAscii(bytes) && IsValidUtf8(bytes)) {
    return Utf8ToCp932(bytes);
  }
  return std::string(bytes);
}

std::string Cp932NameToNative(std::string_view cp932) {
  if (!HasNonAscii(cp932)) {
    return std::string(cp932);
  }
  return Cp932ToUtf8(cp932);
}

}  // namespace platform
