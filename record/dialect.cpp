#include "record/dialect.h"

namespace record {

// Placeholder until the dialect tables land.
std::string TurnDialectToOwn(std::string_view text, int) { return std::string(text); }

}  // namespace record
