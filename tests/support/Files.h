#pragma once

// Small helpers tests share for files and bytes.

#include <sys/types.h>

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

// Each line followed by "\n": a list that a failed comparison shows line by line.
std::string joinedLines(const std::vector<std::string>& lines);

// Writes text to a file, creating the folders above it.
void writeFileText(const std::filesystem::path& path, std::string_view text);

// Makes a hive file "dirty": its two sequence numbers differ, as after a
// write cut short, and its header checksum is set to match.
void makeHiveDirty(const std::filesystem::path& hive);

// `s` quoted for /bin/sh.
std::string shellQuote(const std::string& s);

// Whether a program of that name is on the PATH.
bool haveTool(const char* name);
// What a shell command writes to stdout; its wait status to `status`.
std::string commandOutput(const std::string& command, int* status = nullptr);

// The permission bits (0777 part of the mode) of a file or folder; 0 when it
// is not there.
unsigned permissionBits(const std::filesystem::path& path);

// Sets the process's umask for the scope (children started meanwhile
// inherit it).
class ScopedUmask {
public:
  explicit ScopedUmask(mode_t mask);
  ~ScopedUmask();
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
  mode_t previous_;
};

// Sets an environment variable for the scope and restores it (or its
// absence) afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  std::string name_;
  bool had_ = false;
  std::string previous_;
};

// A language file in its compressed form: "LCF1" and the zlib stream of the text.
std::string compressedLanguageFile(const std::string& text);

}  // namespace testsupport
