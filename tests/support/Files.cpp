#include "tests/support/Files.h"

#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testsupport {

std::string readFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void makeHiveDirty(const std::filesystem::path& hive) {
  std::fstream f(hive, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char block[512];
  f.read(reinterpret_cast<char*>(block), sizeof block);
  block[4] += 1;  // primary sequence number
  std::uint32_t sum = 0;
  for (int i = 0; i < 508; i += 4)
    sum ^= std::uint32_t(block[i]) | std::uint32_t(block[i + 1]) << 8 | std::uint32_t(block[i + 2]) << 16 |
           std::uint32_t(block[i + 3]) << 24;
  for (int i = 0; i < 4; ++i) block[508 + i] = static_cast<unsigned char>(sum >> (8 * i));
  f.seekp(0);
  f.write(reinterpret_cast<const char*>(block), sizeof block);
}

std::string joinedLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out.append(line).append("\n");
  return out;
}

void writeFileText(const std::filesystem::path& path, std::string_view text) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::vector<std::uint8_t> utf16z(std::u16string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(2 * text.size() + 2);
  for (const char16_t u : text) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

bool haveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string commandOutput(const std::string& command, int* status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  if (status) *status = st;
  return out;
}

unsigned permissionBits(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777u) : 0u;
}

ScopedUmask::ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
ScopedUmask::~ScopedUmask() { ::umask(previous_); }

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* v = std::getenv(name)) {
    had_ = true;
    previous_ = v;
  }
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), previous_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

std::string compressedLanguageFile(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
                static_cast<uLong>(text.size()), 9) != Z_OK)
    ADD_FAILURE() << "zlib could not compress the text";
  out.resize(size);
  return "LCF1" + out;
}

}  // namespace testsupport
