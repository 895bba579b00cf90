#include "core/kxFileSys.h"

std::string IncludeTrailingChar(std::string_view text, char c) {
  std::string out(text);
  if (out.empty() || out.back() != c) out += c;
  return out;
}
