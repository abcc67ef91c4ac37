// A variable's missing-value codes: texts such as 999, -1, "n/a" or "." that
// mean "missing" in it. The cells keep their text; everything that computes
// reads them as empty, through forEachValueOfColumn (cell_access.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/records.h"

namespace tabulix {

// A variable can declare at most this many codes.
inline constexpr size_t kMaxMissingCodes = 64;

// The codes stored with a variable, in the order given; empty when none.
std::vector<std::string> storedMissingCodes(const Column& column);
// Stores a list of codes (blanks and duplicates dropped); an empty list clears them.
void setStoredMissingCodes(Column& column, const std::vector<std::string>& codes);

// The test a reader applies to each cell text of one variable.
class MissingCodes {
 public:
  // The codes of a variable (none when it declares none).
  explicit MissingCodes(const Column& column);
  // True when the variable declares no code (the readers then skip the test).
  bool empty() const { return texts_.empty(); }
  // True when a cell text is one of the codes: the same text once spaces
  // around it are trimmed, or, for a code that is a number, the same number
  // written otherwise ("999.0", "9.99e2" for 999).
  bool matches(std::string_view text) const;

 private:
  std::vector<std::string> texts_;
  std::vector<double> numbers_;
};

}  // namespace tabulix
