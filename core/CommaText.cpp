#include "core/CommaText.h"

namespace {

// A NUL counts as a blank: the text is not cut at it, and it still separates.
bool isBlank(char16_t c) { return c <= u' '; }

bool needsQuotes(std::u16string_view field) {
  for (const char16_t c : field) {
    if (isBlank(c) || c == u'"' || c == u',') return true;
  }
  return false;
}

}  // namespace

std::u16string JoinCommaText(std::span<const std::u16string> fields) {
  if (fields.size() == 1 && fields[0].empty()) return u"\"\"";
  std::u16string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += u',';
    const std::u16string& f = fields[i];
    if (!needsQuotes(f)) {
      out += f;
      continue;
    }
    out += u'"';
    for (const char16_t c : f) {
      if (c == u'"') out += u'"';
      out += c;
    }
    out += u'"';
  }
  return out;
}

std::vector<std::u16string> SplitCommaText(std::u16string_view text) {
  std::vector<std::u16string> fields;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && isBlank(text[i])) ++i;
  while (i < n) {
    std::u16string field;
    if (text[i] == u'"') {
      ++i;
      while (i < n) {
        if (text[i] == u'"') {
          if (i + 1 < n && text[i + 1] == u'"') {
            field += u'"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += text[i++];
      }
    } else {
      const std::size_t start = i;
      while (i < n && !isBlank(text[i]) && text[i] != u',') ++i;
      field.assign(text.substr(start, i - start));
    }
    fields.push_back(std::move(field));
    while (i < n && isBlank(text[i])) ++i;
    if (i < n && text[i] == u',') {
      if (i + 1 == n) fields.emplace_back();
      ++i;
      while (i < n && isBlank(text[i])) ++i;
    }
  }
  return fields;
}
