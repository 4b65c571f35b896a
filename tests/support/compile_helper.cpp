#include "tests/support/compile_helper.h"

#include <cstdio>

#include "mml/conv.h"
#include "mml/state.h"
#include "platform/text.h"

namespace mml_test {

std::string ToCompilerText(const std::string& utf8) {
  return platform::NormalizeLineBreaks(platform::Utf8ToCp932(utf8));
}

std::string Utf8(const std::string& cp932) { return platform::Cp932ToUtf8(cp932); }

Compiled Compile(const std::string& text) { return CompileRaw(ToCompilerText(text)); }

Compiled CompileRaw(const std::string& text) {
  Compiled result;
  try {
    mml::CompileMML(text, std::string(1, '\0'));
  } catch (const mml::EScriptError& e) {
    result.Raised = Utf8(e.what());
  }
  // Lists of runaway work are only counted, not printed.
  const bool print = mml::EventList.size() <= 100000;
  for (const mml::TMidiBuffer event : mml::EventList) {
    if (!print) break;
    std::string line = std::to_string(event.Time) + ":";
    for (char b : event.Data) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", static_cast<uint8_t>(b));
      line += hex;
    }
    result.Events.push_back(line);
  }
  for (size_t i = 0; i < mml::ErrorList.size(); ++i) {
    result.Errors.push_back({Utf8(mml::ErrorList[i]), mml::ErrorStart[i + 1], mml::ErrorLength[i + 1]});
  }
  return result;
}

std::vector<std::string> Compiled::NoteOns() const {
  std::vector<std::string> notes;
  for (const std::string& e : Events) {
    const size_t colon = e.find(':');
    if (e.size() == colon + 10 && e[colon + 2] == '9' && e.substr(colon + 8) != "00") notes.push_back(e);
  }
  return notes;
}

}  // namespace mml_test
