#include "record/length_text.h"

#include <exception>
#include <string_view>
#include <vector>

#include "mml/conv.h"
#include "mml/state.h"

namespace record {
namespace {

// The first row, longest first, with ticks <= remaining; on the straight grid while remaining is on it
// (so that five eighths read "8&2", not a dotted triplet and a rest of ticks). nullptr below 4 ticks.
const TLenChar* LongestPieceFor(int32_t remaining) {
  bool straight = remaining % 12 == 0;
  for (const TLenChar& row : LengthTable) {
    if (row.Ticks <= remaining && (!straight || row.Ticks % 12 == 0)) return &row;
  }
  return nullptr;
}

}  // namespace

std::string DefaultLengthText(int32_t defaultTicks) {
  // Only an n-th note has a text that names it exactly. A dotted or tied default ("4." is 144, and
  // 384 div 144 = 2) would otherwise name another length.
  return defaultTicks > 0 && 384 % defaultTicks == 0 ? std::to_string(384 / defaultTicks) : std::string();
}

std::string LengthToText(int32_t ticks, int32_t defaultTicks) {
  // The default length is left out only where its text names it exactly.
  const std::string defText = DefaultLengthText(defaultTicks);
  // The longest row fits any remainder of its size or more, on either grid, and is never the default:
  // its pieces, the last ones written, are counted at once.
  const TLenChar& longest = LengthTable.front();
  const int32_t longestCount = ticks > 0 ? ticks / longest.Ticks : 0;
  // The shorter pieces are found longest first and written shortest first.
  std::vector<std::string> pieces;
  int32_t remaining = ticks - longestCount * longest.Ticks;
  while (remaining > 0) {
    const TLenChar* row = LongestPieceFor(remaining);
    if (row == nullptr) {
      // Appended to a string rather than to a literal: GCC 12 warns falsely (-Wrestrict) at -O3 on the
      // latter.
      pieces.push_back(remaining == defaultTicks ? "&"
                                                 : std::string("%").append(std::to_string(remaining)) + "&");
      break;
    }
    std::string_view text = row->Text;
    if (!defText.empty() && text.starts_with(defText) &&
        (text.size() == defText.size() || text.substr(defText.size()) == "." ||
         text.substr(defText.size()) == "..")) {
      pieces.push_back(std::string(text.substr(defText.size())) + "&");
    } else {
      pieces.push_back(std::string(text) + "&");
    }
    remaining -= row->Ticks;
  }
  std::string result;
  result.reserve(pieces.size() * 4 + static_cast<size_t>(longestCount) * 6);
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) result += *it;
  for (int32_t i = 0; i < longestCount; ++i) (result += longest.Text) += '&';
  if (!result.empty()) result.pop_back();
  return result;
}

int32_t ParseLength(const std::string& text) {
  // The read goes through the compiler's reader, which records its errors in the compiler's error
  // list; that list belongs to the latest compilation, so it is put back as it was.
  std::vector<std::string> savedList = mml::ErrorList;
  const bool savedTooMany = mml::TooManyErrors;
  int32_t savedStart[std::size(mml::ErrorStart)];
  int32_t savedLength[std::size(mml::ErrorLength)];
  std::copy(std::begin(mml::ErrorStart), std::end(mml::ErrorStart), savedStart);
  std::copy(std::begin(mml::ErrorLength), std::end(mml::ErrorLength), savedLength);
  auto restore = [&] {
    mml::ErrorList = std::move(savedList);
    mml::TooManyErrors = savedTooMany;
    std::copy(std::begin(savedStart), std::end(savedStart), mml::ErrorStart);
    std::copy(std::begin(savedLength), std::end(savedLength), mml::ErrorLength);
  };
  try {
    mml::PrepareLexer(text, 0);
    int32_t ticks = mml::ReadLength();
    restore();
    return ticks;
  } catch (...) {
    restore();
    throw;
  }
}

std::optional<int32_t> TryParseLength(const std::string& text) {
  try {
    return ParseLength(text);
  } catch (const std::exception&) {
    // EScriptError for a syntax or range error; any other failure of the reader counts the same.
    return std::nullopt;
  }
}

}  // namespace record
