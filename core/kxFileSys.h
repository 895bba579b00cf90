#pragma once

#include <string>
#include <string_view>

// The text with c appended unless it already ends with it.
std::string IncludeTrailingChar(std::string_view text, char c);
