// Note lengths as texts: the table of length texts the recording conversion writes, the writer that
// splits a length into tied pieces, and the reader that turns a length text back into ticks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace record {

struct TLenChar {
  const char* Text;
  int32_t Ticks;  // at 96 per quarter note
};

// The length texts, longest first. Rows whose ticks are a multiple of 12 lie on the straight grid; the
// others (128, 64, 32, 16, 8, 4, and the dotted triplets) on the triplet grid.
inline constexpr std::array<TLenChar, 27> LengthTable = {{
    {"1.&1.", 1152}, {"1&1", 768}, {"1..", 672}, {"1.", 576},  {"1", 384}, {"2..", 336}, {"2.", 288},
    {"3..", 224},    {"2", 192},   {"4..", 168}, {"4.", 144},  {"3", 128}, {"6..", 112}, {"4", 96},
    {"8..", 84},     {"8.", 72},   {"6", 64},    {"12..", 56}, {"8", 48},  {"16.", 36},  {"12", 32},
    {"24..", 28},    {"16", 24},   {"24", 16},   {"32", 12},   {"48", 8},  {"96", 4},
}};

// A length written as pieces of LengthTable joined by "&", shortest piece first:
//   Remaining := ticks; while Remaining > 0: take the first row with ticks <= Remaining, looking only at
//   the straight-grid rows while Remaining is a multiple of 12; write the row as its text, or as an
//   empty piece ("", ".", "..") when it is the default length (with its dots); below 4 ticks write
//   "%n" (or an empty piece when n is the default length) and stop.
// `defaultTicks` <= 0: no default length, every piece is written out; a default that is no n-th note
// (384 not a multiple of it) is only left out below 4 ticks, where it is matched by its ticks.
// Ticks <= 0 give "".
// Examples with the default 96: 96 "", 144 ".", 120 "16&", 240 "8&2", 1248 "&1.&1.", 2 "%2".
std::string LengthToText(int32_t ticks, int32_t defaultTicks);

// The text that names the default length, as "l" takes it: the n of an n-th note ("4" for 96), or ""
// for no default (<= 0) and for a default that is no n-th note (384 not a multiple of it).
std::string DefaultLengthText(int32_t defaultTicks);

// Reads a length text with the compiler's length reader (time base 96, no track selected) and returns
// its ticks; a syntax or range error raises the compiler's mml::EScriptError. The compiler's error list
// is left as it was, so reads outside a compilation never fill it.
int32_t ParseLength(const std::string& text);

// ParseLength, with any read error as "no value".
std::optional<int32_t> TryParseLength(const std::string& text);

}  // namespace record
