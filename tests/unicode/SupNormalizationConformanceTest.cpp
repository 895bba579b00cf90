// Normalisation against the Unicode consortium's NormalizationTest.txt of the
// installed unicode-data package (a newer Unicode version than the tables).
//
// In scope: every test line whose source characters were all assigned by
// Unicode 4.1 (DerivedAge.txt) and lie in the BMP (the list normalises 16-bit
// units; characters above U+FFFF pass through unchanged). Out of it, the lines
// that meet one of the tables' two deliberate departures from the standard:
// a singleton decomposition somewhere in a source character's decomposition
// (not applied), and U+05D9 U+05B4 (composes to U+FB1D).

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "unicode/SupUnicode.h"

namespace {

namespace fs = std::filesystem;
using Codes = std::vector<char32_t>;

const fs::path kUcd = "/usr/share/unicode";

std::vector<std::string> splitOn(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

std::string stripComment(std::string line) {
  if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
  return line;
}

Codes parseCodes(const std::string& text) {
  Codes codes;
  std::stringstream in(text);
  std::string hex;
  while (in >> hex) codes.push_back(static_cast<char32_t>(std::stoul(hex, nullptr, 16)));
  return codes;
}

std::u16string toUtf16(const Codes& codes) {
  std::u16string s;
  for (char32_t c : codes) {
    if (c > 0xFFFF) {
      c -= 0x10000;
      s.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      s.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      s.push_back(static_cast<char16_t>(c));
    }
  }
  return s;
}

std::string hex(std::u16string_view s) {
  std::string out;
  char buf[8];
  for (char16_t c : s) {
    std::snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(c));
    out += buf;
  }
  return out;
}

// Code points assigned by Unicode 4.1.
std::vector<bool> assignedBy41() {
  std::vector<bool> assigned(0x110000, false);
  std::ifstream in(kUcd / "DerivedAge.txt");
  std::string line;
  while (std::getline(in, line)) {
    auto fields = splitOn(stripComment(line), ';');
    if (fields.size() < 2) continue;
    const double version = std::stod(fields[1]);
    if (version > 4.1 + 1e-9) continue;
    const auto range = fields[0];
    const auto dots = range.find("..");
    const unsigned long first = std::stoul(range.substr(0, dots), nullptr, 16);
    const unsigned long last =
        dots == std::string::npos ? first : std::stoul(range.substr(dots + 2), nullptr, 16);
    for (unsigned long c = first; c <= last && c < assigned.size(); ++c) assigned[c] = true;
  }
  return assigned;
}

// Characters whose full canonical decomposition passes through a singleton.
std::vector<bool> singletonAffected(const std::vector<bool>& assigned) {
  std::map<char32_t, Codes> canonical;
  std::ifstream in(kUcd / "UnicodeData.txt");
  std::string line;
  while (std::getline(in, line)) {
    auto f = splitOn(line, ';');
    if (f.size() < 6 || f[5].empty() || f[5][0] == '<') continue;
    const auto code = static_cast<char32_t>(std::stoul(f[0], nullptr, 16));
    if (code < assigned.size() && assigned[code]) canonical[code] = parseCodes(f[5]);
  }
  std::vector<bool> affected(0x110000, false);
  std::function<bool(char32_t, int)> passes = [&](char32_t c, int depth) {
    auto it = canonical.find(c);
    if (it == canonical.end() || depth > 8) return false;
    if (it->second.size() == 1) return true;
    for (char32_t part : it->second)
      if (passes(part, depth + 1)) return true;
    return false;
  };
  for (const auto& [code, mapping] : canonical) affected[code] = passes(code, 0);
  return affected;
}

// The test file, unpacked when the package ships it compressed.
std::unique_ptr<std::istream> openNormalizationTest() {
  if (fs::exists(kUcd / "NormalizationTest.txt"))
    return std::make_unique<std::ifstream>(kUcd / "NormalizationTest.txt");
  const fs::path packed = kUcd / "NormalizationTest.txt.bz2";
  if (!fs::exists(packed)) return nullptr;
  const std::string command = "bzip2 -dc '" + packed.string() + "' 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return nullptr;
  auto text = std::make_unique<std::stringstream>();
  std::array<char, 65536> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe.get())) > 0) text->write(buf.data(), n);
  if (text->str().empty()) return nullptr;
  return text;
}

TEST(SupNormalizationConformance, AgreesWithNormalizationTestWithinUnicode41) {
  auto in = openNormalizationTest();
  if (!in || !fs::exists(kUcd / "DerivedAge.txt") || !fs::exists(kUcd / "UnicodeData.txt"))
    GTEST_SKIP() << "Unicode data not found in " << kUcd << " (package unicode-data)";
  const auto assigned = assignedBy41();
  const auto affected = singletonAffected(assigned);

  int checked = 0, deviations = 0, failures = 0;
  std::string line;
  int lineNo = 0;
  while (std::getline(*in, line)) {
    ++lineNo;
    line = stripComment(line);
    if (line.empty() || line[0] == '@') continue;
    auto fields = splitOn(line, ';');
    if (fields.size() < 5) continue;
    std::array<Codes, 5> c;
    for (int i = 0; i < 5; ++i) c[i] = parseCodes(fields[i]);

    bool inScope = true, deviates = false;
    for (char32_t code : c[0]) {
      if (code > 0xFFFF || !assigned[code]) inScope = false;
      else if (affected[code]) deviates = true;
    }
    if (!inScope) continue;
    for (std::size_t i = 0; i + 1 < c[2].size(); ++i)
      if (c[2][i] == 0x05D9 && c[2][i + 1] == 0x05B4) deviates = true;
    if (deviates) {
      ++deviations;
      continue;
    }
    ++checked;

    const struct {
      int source, nfc, nfd;
    } checks[] = {{0, 1, 2}, {1, 1, 2}, {2, 1, 2}, {3, 3, 4}, {4, 3, 4}};
    for (const auto& k : checks) {
      const std::u16string source = toUtf16(c[k.source]);
      const std::u16string nfc = sup::WideNormalize(source, sup::nfC);
      const std::u16string nfd = sup::WideNormalize(source, sup::nfD);
      const bool ok = nfc == toUtf16(c[k.nfc]) && nfd == toUtf16(c[k.nfd]);
      if (!ok && ++failures <= 20)
        ADD_FAILURE() << "line " << lineNo << " column " << k.source + 1 << ": " << hex(source)
                      << "-> NFC " << hex(nfc) << "(expected " << hex(toUtf16(c[k.nfc]))
                      << "), NFD " << hex(nfd) << "(expected " << hex(toUtf16(c[k.nfd])) << ")";
    }
  }
  EXPECT_EQ(failures, 0);
  // The file was read: Unicode 4.1 accounts for most of its lines.
  EXPECT_GT(checked, 10000);
  RecordProperty("checked", checked);
  RecordProperty("deviations", deviations);
}

}  // namespace
