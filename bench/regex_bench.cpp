// Times TRegExpEngine, std::regex and PCRE2 (interpreter, no JIT) on the same
// fixed patterns over registry text, one line per search as the registry
// search does it, and prints the ratios.
//
// The text is the real SYSTEM hive of the test data exported with
// hivexregedit (strings decoded from their hex form); without the test data or
// the tool it falls back to synthetic registry-like lines.
//
// Lines are cut at 1 KB, because std::regex cannot take the longest ones.
//
// Usage: regex-bench [megabytes of text, default 4]

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/RegExpEngine.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxLine = 1024;

fs::path testdataDir() {
  if (const char* env = std::getenv("HIVESCOPE_TESTDATA"); env && *env) return env;
  return fs::path(HIVESCOPE_SOURCE_DIR).parent_path() / "shared" / "testdata";
}

std::string runCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// "hex(1):41,00,42,00" -> "AB": the string kinds become their text, as the
// search sees value data.
std::string decodeLine(const std::string& line) {
  const size_t at = line.find("=hex(");
  if (at == std::string::npos || line.size() < at + 8) return line;
  const char kind = line[at + 5];
  if (kind != '1' && kind != '2' && kind != '7') return line;
  std::string out = line.substr(0, at + 1) + "\"";
  const char* p = line.c_str() + at + 8;
  std::vector<unsigned> bytes;
  while (*p) {
    char* end;
    unsigned long v = std::strtoul(p, &end, 16);
    if (end == p) break;
    bytes.push_back(static_cast<unsigned>(v));
    p = *end == ',' ? end + 1 : end;
  }
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned u = bytes[i] | bytes[i + 1] << 8;
    if (u == 0) {
      if (i + 2 < bytes.size()) out.push_back(' ');
    } else {
      out.push_back(u < 128 ? static_cast<char>(u) : '?');
    }
  }
  return out + "\"";
}

std::vector<std::string> hiveLines(size_t limit, std::string& source) {
  std::vector<std::string> lines;
  const fs::path xz = testdataDir() / "hives" / "real" / "SYSTEM.xz";
  if (!fs::exists(xz)) return lines;
  char tmpl[] = "/tmp/regex-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return lines;
  const fs::path dir = tmpl;
  const fs::path hive = dir / "SYSTEM";
  const std::string unpack = "xz -dc '" + xz.string() + "' > '" + hive.string() + "' 2>/dev/null";
  if (std::system(unpack.c_str()) == 0) {
    const std::string text = runCommand("hivexregedit --export '" + hive.string() + "' '\\' 2>/dev/null");
    std::istringstream in(text);
    std::string line;
    size_t total = 0;
    while (total < limit && std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      line = decodeLine(line);
      // std::regex recurses per character and overflows the stack on the
      // longest binary values (tens of kilobytes of hex): keep lines short.
      if (line.size() > kMaxLine) line.resize(kMaxLine);
      total += line.size();
      lines.push_back(std::move(line));
    }
    source = "SYSTEM hive exported by hivexregedit";
  }
  fs::remove_all(dir);
  return lines;
}

std::vector<std::string> syntheticLines(size_t limit) {
  std::mt19937 rng(1);
  const char* words[] = {"Services", "Control", "Enum", "Tcpip", "Parameters", "Interfaces", "Class",
                         "Linkage", "Security", "Start", "Type", "ImagePath", "DisplayName", "Group"};
  std::vector<std::string> lines;
  size_t total = 0;
  while (total < limit) {
    std::string key = "[\\ControlSet001";
    for (int d = 0, n = 2 + rng() % 4; d < n; ++d) key += std::string("\\") + words[rng() % 14];
    key += "]";
    lines.push_back(key);
    char buf[160];
    snprintf(buf, sizeof buf, "\"%s\"=dword:%08x", words[rng() % 14], unsigned(rng() % 5));
    lines.emplace_back(buf);
    snprintf(buf, sizeof buf, "\"%s\"=\"\\SystemRoot\\System32\\drivers\\%s%u.sys\"", words[rng() % 14],
             words[rng() % 14], unsigned(rng() % 100));
    lines.emplace_back(buf);
    snprintf(buf, sizeof buf, "\"Guid\"=\"{%08X-%04X-%04X-%04X-%012X}\"", unsigned(rng()), unsigned(rng() & 0xFFFF),
             unsigned(rng() & 0xFFFF), unsigned(rng() & 0xFFFF), unsigned(rng() & 0xFFFFFF));
    lines.emplace_back(buf);
    for (size_t i = lines.size() - 4; i < lines.size(); ++i) total += lines[i].size();
  }
  return lines;
}

struct Pattern {
  const char* name;
  const char* expression;
  bool ignoreCase;
};

// Written in the syntax the three engines share, with the same meaning.
const Pattern kPatterns[] = {
    {"literal", "Services", false},
    {"literal, ignore case", "tcpip", true},
    {"anchored key", "^\\[\\\\ControlSet001\\\\Control\\\\[^\\\\]+\\]$", false},
    {"GUID", "[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}", false},
    {"alternation", "\"(Start|Type|ErrorControl)\"=dword:0000000[0-4]", false},
    {"file extension", "\\.(dll|sys|exe)\\b", true},
    {"leading .*", ".*\\\\Parameters\\\\.*Tcpip", false},
    {"word numbers", "\\b\\d{3,5}\\b", false},
    {"repeated group", "(\\\\[A-Za-z]+){5,}", false},
    {"lazy", "\"[^\"]*?Path\"=", false},
    {"back-reference", "([a-z])\\1\\1", false},
    {"no match", "zq[0-9]+x", false},
};

using Clock = std::chrono::steady_clock;

// Best of a few runs, in milliseconds; `count` gets the number of matching lines.
double timeIt(const std::function<size_t()>& run, size_t& count) {
  double best = 1e300;
  for (int i = 0; i < 3; ++i) {
    const auto t0 = Clock::now();
    count = run();
    best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 4.0;
  const size_t limit = static_cast<size_t>(megabytes * 1024 * 1024);
  std::string source;
  std::vector<std::string> lines = hiveLines(limit, source);
  if (lines.empty()) {
    lines = syntheticLines(limit);
    source = "synthetic registry-like lines (test data or hivexregedit missing)";
  }
  size_t bytes = 0;
  for (const auto& l : lines) bytes += l.size();
  std::printf("text: %s, %zu lines, %.1f MB\n\n", source.c_str(), lines.size(), bytes / 1048576.0);
  std::printf("%-22s %10s %10s %10s %8s %8s  %s\n", "pattern", "engine ms", "std ms", "pcre2 ms", "std/eng",
              "eng/pcre", "matching lines");

  bool allFaster = true;
  for (const Pattern& p : kPatterns) {
    TRegExpEngine engine;
    engine.SetModifierFlag(TRegExpEngine::modI, p.ignoreCase);
    engine.SetExpression(p.expression);

    auto flags = std::regex::ECMAScript | std::regex::optimize;
    if (p.ignoreCase) flags |= std::regex::icase;
    const std::regex stdRe(p.expression, flags);

    int err;
    PCRE2_SIZE errOffset;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p.expression), PCRE2_ZERO_TERMINATED,
                                     (p.ignoreCase ? PCRE2_CASELESS : 0) | PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY,
                                     &err, &errOffset, nullptr);
    if (!code) {
      std::printf("%-22s PCRE2 rejects the pattern\n", p.name);
      return 2;
    }
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);

    size_t nEngine = 0, nStd = 0, nPcre = 0;
    const double tEngine = timeIt(
        [&] {
          size_t n = 0;
          for (const auto& l : lines) n += engine.Exec(l);
          return n;
        },
        nEngine);
    const double tStd = timeIt(
        [&] {
          size_t n = 0;
          for (const auto& l : lines) n += std::regex_search(l, stdRe);
          return n;
        },
        nStd);
    const double tPcre = timeIt(
        [&] {
          size_t n = 0;
          for (const auto& l : lines)
            n += pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(l.data()), l.size(), 0, 0, md, nullptr) >= 0;
          return n;
        },
        nPcre);
    pcre2_match_data_free(md);
    pcre2_code_free(code);

    const bool faster = tEngine < tStd;
    allFaster = allFaster && faster;
    std::printf("%-22s %10.1f %10.1f %10.1f %8.2f %8.2f  %zu%s%s\n", p.name, tEngine, tStd, tPcre, tStd / tEngine,
                tEngine / tPcre, nEngine,
                (nEngine != nStd || nEngine != nPcre) ? "  (counts differ: std " : "",
                (nEngine != nStd || nEngine != nPcre)
                    ? (std::to_string(nStd) + ", pcre2 " + std::to_string(nPcre) + ")").c_str()
                    : "");
    if (!faster) std::printf("%-22s   ^ the engine is slower than std::regex here\n", "");
  }
  std::printf("\n%s\n", allFaster ? "The engine beats std::regex on every pattern."
                                    : "The engine is slower than std::regex on some pattern.");
  return allFaster ? 0 : 1;
}
