// Feeds arbitrary bytes to the language file reader: plain or compressed, the
// text must parse as INI without a crash, every value must read back after
// the text is written out again, and the escapes must undo each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "app/IniFile.h"
#include "core/LanguageFileData.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = languageFileText(std::span(data, size), "LCF", 1u << 20);
  if (text.size() > (1u << 20)) std::abort();
  const IniFile ini(text);
  const IniFile again(ini.Text());
  for (const char* section : {"Main", "Messages", "Dialogs", "Images", "Forms"}) {
    for (const std::string& line : ini.ReadSectionValues(section)) {
      const std::string name = line.substr(0, line.find('='));
      if (ini.ValueExists(section, name) != again.ValueExists(section, name)) std::abort();
    }
  }
  (void)bidiModeFromText(ini.ReadString("Main", "BiDiMode", "LR"));
  return 0;
}
