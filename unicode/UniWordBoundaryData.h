#pragma once

// The characters that end a whole word: Unicode's punctuation, symbols and
// separators in the BMP, and the white-space controls TAB to CR. Generated
// into UniWordBoundaryData.cpp by scripts/gen_unicode_tables.py.

#include <cstddef>

namespace uni::data {

struct WordBoundaryRange {
  char16_t first;
  char16_t last;  // inclusive
};

// Sorted, disjoint and not adjacent.
extern const WordBoundaryRange kWordBoundaries[];
extern const std::size_t kWordBoundariesSize;

}  // namespace uni::data
