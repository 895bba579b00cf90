#include "core/bwlTweaks.h"

#include <filesystem>
#include <system_error>

#include "core/bwlRegTools.h"

std::string TweakProgramName() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.filename().string();
}

bool ReadTweakValue(const std::string& programName, const std::string& name, bool& value) {
  try {
    bool read = false;
    if ((!programName.empty() &&
         ReadRegistryBool(platform::HKEY_LOCAL_MACHINE, std::string(kTweaksKey) + programName, name, read)) ||
        ReadRegistryBool(platform::HKEY_LOCAL_MACHINE, kTweaksKey, name, read)) {
      value = read;
      return true;
    }
  } catch (...) {
  }
  return false;
}

bool ReadTweakValue(const std::string& name, bool& value) { return ReadTweakValue(TweakProgramName(), name, value); }

bool ReadTweakValueDef(const std::string& name, bool def) {
  bool value = def;
  return ReadTweakValue(name, value) ? value : def;
}
