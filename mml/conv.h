// The MML compiler: turns a text of the program's own MML dialect (code page 932, CR LF line breaks)
// into one sorted list of MIDI events and hands it to test play or writes it as a file.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mml {

// A compile error that leaves the compiler (or is caught by its main loop). what() is one of the fixed
// texts in CP932: "コンパイルエラー", "エラーが多すぎます", the text of a work limit, or "メモリが足りません"
// when memory ran out during a command.
class EScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Limits on runaway work. Crossing one records its error and ends the compilation like the 16th error.
inline constexpr int32_t kMaxEvents = 4'000'000;              // "イベント数が多すぎます"
inline constexpr int32_t kMaxSourceBytes = 16 * 1024 * 1024;  // working text: "マクロ展開が大きすぎます"
// Commands (a command on several tracks counts once per track) and envelope ticks: "処理が多すぎます".
inline constexpr int64_t kMaxWorkSteps = 200'000'000;

// Compiles `text` (CP932, CR LF) and then writes or plays the result. `outputName` is a file name
// (".NMM" extension: the NMM stream, else a Standard MIDI File), or one byte: 0xFF test play, 0x00
// build only. Throws EScriptError for the errors that end a compilation (the 16th error, the end of the
// text not found, a work limit, memory running out) and platform::FileError for a failed output file.
void CompileMML(const std::string& text, const std::string& outputName);

// Points the reader at `text` + 0x1A at `pos`, with no track selected and a timebase of 96, so that
// ReadLength can turn a length text into ticks outside a compilation.
void PrepareLexer(const std::string& text, int32_t pos);

// length { "&" ["+" | "-"]... length }, length = "%" expr | [expr] {"."}: a note length in ticks.
int32_t ReadLength();

// Messages of the last compilation (CP932) and their spans in the compiled text, by 1-based number.
extern std::vector<std::string> ErrorList;
extern int32_t ErrorStart[17], ErrorLength[17];

// Receives the text of the `+` command ("Test TRK:" ...), CP932. Without a handler the text is dropped.
void SetMessageHandler(std::function<void(const std::string& cp932)> handler);

// Appends an event to EventList; the 4,000,001st event is the error "イベント数が多すぎます".
void AddEvent(int32_t time, std::span<const uint8_t> bytes);
void AddEvent(int32_t time, std::initializer_list<uint8_t> bytes);
void AddEvent(int32_t time, std::string_view bytes);

}  // namespace mml
