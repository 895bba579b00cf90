#pragma once

// Small helpers tests share for files and bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// The whole file as bytes in a string; empty when it cannot be read.
std::string readFileText(const std::filesystem::path& path);

// UTF-16LE bytes of `text` with a terminating NUL unit, as the registry
// stores REG_SZ data.
std::vector<std::uint8_t> utf16z(std::u16string_view text);

// `s` quoted for /bin/sh.
std::string shellQuote(const std::string& s);

// Whether a program of that name is on the PATH.
bool haveTool(const char* name);
// What a shell command writes to stdout; its wait status to `status`.
std::string commandOutput(const std::string& command, int* status = nullptr);

}  // namespace testsupport
