// Dialect text turned back into the program's own MML dialect, as test play does.
#pragma once

#include <string>
#include <string_view>

namespace record {

// `text` in dialect `dialect` (0 own, 1 Sakura, 2 mml2mid, 3 FMP, 4 PMD, 5 Hatena, 6 Mabinogi), CP932
// bytes; returns the text in the own dialect.
std::string TurnDialectToOwn(std::string_view text, int dialect);

}  // namespace record
