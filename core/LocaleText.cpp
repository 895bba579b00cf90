#include "core/LocaleText.h"

#include <locale>
#include <string>

#include "platform/Text.h"

namespace core {
namespace {

// glibc's C.UTF-8 carries the full Unicode case tables whatever the user's
// LANG is; the classic locale maps ASCII only and is the fallback.
const std::ctype<wchar_t>& upperCaser() {
  static const std::locale loc = [] {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      try {
        return std::locale(name);
      } catch (const std::runtime_error&) {
      }
    }
    return std::locale::classic();
  }();
  return std::use_facet<std::ctype<wchar_t>>(loc);
}

std::u16string upperWide(std::string_view text) {
  std::u16string w = platform::ansiToWide(text);
  const auto& ct = upperCaser();
  for (char16_t& c : w) {
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    } else if (c < 0xD800 || c > 0xDFFF) {
      const wchar_t u = ct.toupper(static_cast<wchar_t>(c));
      // A letter whose capital lies outside the BMP keeps its form.
      if (u <= 0xFFFF) c = static_cast<char16_t>(u);
    }
  }
  return w;
}

}  // namespace

int CompareTextLocale(std::string_view a, std::string_view b) {
  const std::u16string ua = upperWide(a), ub = upperWide(b);
  return ua.compare(ub);
}

}  // namespace core
