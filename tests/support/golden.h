// Golden-byte helpers for MIDI output: hex in, annotated event lines out, so that a mismatch reads as
// "delta 30: 90 3C 64 ; note-on" lines instead of two hex blobs.
#pragma once

#include <string>
#include <string_view>

namespace golden {

// "4D 54 68" -> the bytes; blanks and line breaks between pairs are ignored.
std::string Hex(std::string_view text);
// The bytes as upper-case hex pairs separated by blanks.
std::string ToHex(std::string_view bytes);

enum class Stream { kSmf, kNmm };
// One line per (delta, event) pair of an event stream: the SMF track data or the NMM event part.
// Running status is shown as "(90)"; bytes that do not parse end the listing as "rest: ...".
std::string Annotate(std::string_view events, Stream kind);
// A whole file: the header fields on the first lines, then Annotate of its events (and the NMM trailer).
std::string AnnotateFile(std::string_view file);

}  // namespace golden
