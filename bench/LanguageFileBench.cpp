// Reads a language file of 25,000 to 400,000 sections the way the program
// does at every start: the bytes become INI text, the text is parsed, the
// [Main] settings and the sections of the windows (a fixed 2,000 here) are
// looked up by name. Prints the time per size and the ratio to the size
// before it; reading stays linear when each doubling costs at most about
// twice as much. A second table looks up every section, which also shows
// the caches filling up as the table outgrows them.
//
// Run: build/bench/language_file_bench

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "core/LanguageFileData.h"

namespace {

// Sections "formN" with a caption and a hint each, as the windows' sections
// look, and one [Main] section at the end.
std::string languageFile(int sections) {
  std::string text;
  text.reserve(static_cast<std::size_t>(sections) * 64);
  for (int i = 0; i < sections; ++i) {
    const std::string n = std::to_string(i);
    text += "[form" + n + "]\r\nCaption=Fenster " + n + "\r\nHint=Gr\xC3\xBC\xC3\x9F" "e " + n + "\r\n\r\n";
  }
  text += "[Main]\r\nLanguageName=Deutsch\r\nFontCharset=0\r\n";
  return text;
}

std::size_t readAll(const std::string& bytes, int sections, int lookups) {
  const std::string text = languageFileText(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "LCF");
  const IniFile ini(text);
  std::size_t found = ini.ReadString("Main", "LanguageName", "").size() + (ini.Utf8Text() ? 1 : 0);
  for (int i = 0; i < lookups; ++i) {
    const std::string section = "FORM" + std::to_string(static_cast<long long>(i) * sections / lookups);
    found += ini.ReadString(section, "caption", "").size() + ini.ReadString(section, "HINT", "").size();
  }
  return found;
}

double bestSeconds(int sections, int lookups) {
  const std::string bytes = languageFile(sections);
  double best = 1e300;
  std::size_t sink = 0;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    sink += readAll(bytes, sections, lookups == 0 ? sections : lookups);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  if (sink == 0) std::printf("(nothing read)\n");
  return best;
}

void table(const char* title, int lookups) {
  std::printf("%s\n%10s %12s %8s\n", title, "sections", "ms (best)", "ratio");
  double previous = 0;
  for (int sections = 25000; sections <= 400000; sections *= 2) {
    const double seconds = bestSeconds(sections, lookups);
    if (previous > 0)
      std::printf("%10d %12.1f %8.2f\n", sections, seconds * 1000, seconds / previous);
    else
      std::printf("%10d %12.1f %8s\n", sections, seconds * 1000, "");
    std::fflush(stdout);
    previous = seconds;
  }
}

}  // namespace

int main() {
  table("Start-up read ([Main] and 2,000 sections looked up):", 2000);
  table("Every section looked up:", 0);
  return 0;
}
