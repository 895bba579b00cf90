#pragma once

// Case-insensitive comparison of 8-bit text (active code page) the way the
// user sees letters: both sides are brought to UTF-16 and upper-cased by the
// Unicode simple case mapping, so "ä" matches "Ä" and "я" matches "Я", not
// only ASCII letters.

#include <string_view>

namespace core {

// < 0, 0 or > 0, like strcmp, after upper-casing both texts.
int CompareTextLocale(std::string_view a, std::string_view b);
inline bool SameTextLocale(std::string_view a, std::string_view b) {
  return CompareTextLocale(a, b) == 0;
}

}  // namespace core
