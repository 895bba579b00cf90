#include "app/MainSettings.h"

#include <exception>
#include <variant>

#include "core/bwlConfig.h"

namespace {

using Field = std::variant<bool TMainSettings::*, std::int32_t TMainSettings::*, std::string TMainSettings::*,
                           bool TSearchOptions::*, std::int32_t TSearchOptions::*, double TSearchOptions::*,
                           std::string TSearchOptions::*>;

struct Setting {
  const char* name;
  Field field;
  bool TMainSettings::*found = nullptr;  // set when read, for settings whose absence matters
};

// The settings in the order they are read and written.
const Setting kSettings[] = {
    {"LastKey", &TMainSettings::LastKey, &TMainSettings::LastKeyFound},
    {"SearchKeys", &TSearchOptions::FocusKeys},
    {"SearchValues", &TSearchOptions::FocusValues},
    {"SearchData", &TSearchOptions::FocusData},
    {"SearchRange", &TSearchOptions::RangeComplete},
    {"SearchIgnoreCase", &TSearchOptions::IgnoreCase},
    {"SearchHighSpeed", &TSearchOptions::HighSpeed},
    {"SearchTypeStrings", &TSearchOptions::TypeStrings},
    {"SearchTypeNumerics", &TSearchOptions::TypeNumerics},
    {"SearchTypeBinary", &TSearchOptions::TypeBinary},
    {"SearchForHex", &TSearchOptions::ForHex},
    {"SearchTerm", &TSearchOptions::Term},
    {"SearchDateTime1", &TSearchOptions::DateTime1},
    {"SearchDateTime2", &TSearchOptions::DateTime2},
    {"SearchByDateMode", &TSearchOptions::ByDateMode},
    {"SearchStyle", &TSearchOptions::Style},
    {"ReplaceIgnoreCase", &TSearchOptions::ReplaceIgnoreCase},
    {"ReplaceOverwriteExistingValues", &TSearchOptions::ReplaceOverwriteValues},
    {"ReplaceOverwriteExistingKeys", &TSearchOptions::ReplaceOverwriteKeys},
    {"HexDumpSize", &TMainSettings::HexDumpSize, &TMainSettings::HexDumpSizeFound},
    {"RemoteListHistory", &TMainSettings::RemoteListHistory},
};

// The field a member pointer names, of the record or of its search options.
template <class S, class T>
decltype(auto) fieldOf(S& s, T TMainSettings::*member) {
  return (s.*member);
}
template <class S, class T>
decltype(auto) fieldOf(S& s, T TSearchOptions::*member) {
  return (s.Search.*member);
}

bool readValue(const std::string& name, bool& v) { return ConfigManager().ReadBool(name, v); }
bool readValue(const std::string& name, std::int32_t& v) { return ConfigManager().ReadInteger(name, v); }
bool readValue(const std::string& name, double& v) { return ConfigManager().ReadFloat(name, v); }
bool readValue(const std::string& name, std::string& v) { return ConfigManager().ReadString(name, v); }
bool writeValue(const std::string& name, bool v) { return ConfigManager().WriteBool(name, v, false); }
bool writeValue(const std::string& name, std::int32_t v) { return ConfigManager().WriteInteger(name, v, false); }
bool writeValue(const std::string& name, double v) { return ConfigManager().WriteFloat(name, v, false); }
bool writeValue(const std::string& name, const std::string& v) { return ConfigManager().WriteString(name, v, false); }

}  // namespace

void ReadMainSettings(TMainSettings& settings) {
  for (const Setting& s : kSettings) {
    bool found = false;
    std::visit([&](auto member) { found = readValue(s.name, fieldOf(settings, member)); }, s.field);
    if (found && s.found) settings.*s.found = true;
  }
}

std::string WriteMainSettings(const TMainSettings& settings) {
  std::string firstFailure;
  for (const Setting& s : kSettings) {
    std::string failure;
    try {
      bool written = false;
      std::visit([&](auto member) { written = writeValue(s.name, fieldOf(settings, member)); }, s.field);
      if (!written) failure = "the settings key cannot be opened for writing";
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (!failure.empty() && firstFailure.empty()) firstFailure = std::string(s.name) + ": " + failure;
  }
  return firstFailure;
}
