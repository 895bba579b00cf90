#include "core/bwlConfig.h"

#include "core/bwlRegTools.h"
#include "core/kxMulticonfigRead.h"

using namespace platform;

namespace {

HKEY writeRoot(bool machine) { return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

}  // namespace

TBWLConfigManager::TBWLConfigManager() = default;

std::string TBWLConfigManager::GetBaseKey() const {
  return "\\Software\\" + FCompanyName + "\\" + FAppName + "\\";
}

std::string TBWLConfigManager::GetFormKey(const ConfigForm& form) const {
  return GetBaseKey() + "UI\\Forms\\" + form.Name();
}

std::vector<HKEY> TBWLConfigManager::GetRootKeys() const {
  if (FPreferMachine == 1) return {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
  return {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
}

bool TBWLConfigManager::ReadBool(const std::string& name, bool& value) const { return ReadBool("", name, value); }
bool TBWLConfigManager::ReadInteger(const std::string& name, std::int32_t& value) const {
  return ReadInteger("", name, value);
}
bool TBWLConfigManager::ReadFloat(const std::string& name, double& value) const { return ReadFloat("", name, value); }
bool TBWLConfigManager::ReadString(const std::string& name, std::string& value) const {
  return ReadString("", name, value);
}

bool TBWLConfigManager::ReadBool(const std::string& subKey, const std::string& name, bool& value) const {
  return MultiReadBool(GetRootKeys(), {GetBaseKey() + subKey}, name, value);
}
bool TBWLConfigManager::ReadInteger(const std::string& subKey, const std::string& name, std::int32_t& value) const {
  return MultiReadInteger(GetRootKeys(), {GetBaseKey() + subKey}, name, value);
}
bool TBWLConfigManager::ReadFloat(const std::string& subKey, const std::string& name, double& value) const {
  return MultiReadFloat(GetRootKeys(), {GetBaseKey() + subKey}, name, value);
}
bool TBWLConfigManager::ReadString(const std::string& subKey, const std::string& name, std::string& value) const {
  return MultiReadString(GetRootKeys(), {GetBaseKey() + subKey}, name, value);
}

bool TBWLConfigManager::WriteBool(const std::string& name, bool value, bool machine) {
  return WriteBool("", name, value, machine);
}
bool TBWLConfigManager::WriteInteger(const std::string& name, std::int32_t value, bool machine) {
  return WriteInteger("", name, value, machine);
}
bool TBWLConfigManager::WriteFloat(const std::string& name, double value, bool machine) {
  return WriteFloat("", name, value, machine);
}
bool TBWLConfigManager::WriteString(const std::string& name, const std::string& value, bool machine) {
  return WriteString("", name, value, machine);
}

bool TBWLConfigManager::WriteBool(const std::string& subKey, const std::string& name, bool value, bool machine) {
  return WriteRegistryBool(writeRoot(machine), GetBaseKey() + subKey, name, value);
}
bool TBWLConfigManager::WriteInteger(const std::string& subKey, const std::string& name, std::int32_t value,
                                     bool machine) {
  return WriteRegistryInteger(writeRoot(machine), GetBaseKey() + subKey, name, Bitness::x32, value);
}
bool TBWLConfigManager::WriteFloat(const std::string& subKey, const std::string& name, double value, bool machine) {
  return WriteRegistryDateTime(writeRoot(machine), GetBaseKey() + subKey, name, value);
}
bool TBWLConfigManager::WriteString(const std::string& subKey, const std::string& name, const std::string& value,
                                    bool machine) {
  return WriteRegistryString(writeRoot(machine), GetBaseKey() + subKey, name, Bitness::x32, value);
}

bool TBWLConfigManager::LoadFormPlacement(ConfigForm& form) const {
  const auto roots = GetRootKeys();
  const std::vector<std::string> paths{GetFormKey(form)};
  bool result = true;
  struct Bound {
    const char* name;
    void (ConfigForm::*set)(int);
  };
  const Bound bounds[] = {{"Left", &ConfigForm::SetLeft},
                          {"Top", &ConfigForm::SetTop},
                          {"Width", &ConfigForm::SetWidth},
                          {"Height", &ConfigForm::SetHeight}};
  for (const auto& b : bounds) {
    std::int32_t v = 0;
    if (MultiReadInteger(roots, paths, b.name, v)) {
      (form.*b.set)(v);
    } else {
      result = false;
    }
  }
  std::int32_t state = 0;
  if (!MultiReadInteger(roots, paths, "WindowState", state)) {
    result = false;
  } else if (state != kWindowStateMinimized) {
    form.SetWindowState(state);
  }
  return result;
}

bool TBWLConfigManager::LoadFormPlacements() const {
  if (FFormSource == nullptr) return true;
  bool all = true;
  for (ConfigForm* form : FFormSource->Forms()) {
    if (form && !LoadFormPlacement(*form)) all = false;
  }
  return all;
}

bool TBWLConfigManager::SaveFormPlacement(const ConfigForm& form, bool machine) const {
  TMyRegistry reg;
  reg.SetRootKey(writeRoot(machine));
  if (!reg.OpenKey(GetFormKey(form), true)) return false;
  try {
    const int state = form.WindowState();
    if (state != kWindowStateMaximized) {
      reg.WriteInteger("Left", form.Left());
      reg.WriteInteger("Top", form.Top());
      reg.WriteInteger("Width", form.Width());
      reg.WriteInteger("Height", form.Height());
    }
    reg.WriteInteger("WindowState", state);
    reg.CloseKey();
    return true;
  } catch (...) {
    if (machine) return SaveFormPlacement(form, false);
    return false;
  }
}

bool TBWLConfigManager::SaveFormPlacements() const {
  if (FFormSource == nullptr) return true;
  bool all = true;
  for (ConfigForm* form : FFormSource->Forms()) {
    if (form && !SaveFormPlacement(*form, false)) all = false;
  }
  return all;
}

void TBWLConfigManager::AddConfigUpdatedHandler(TOnConfigUpdatedEvent handler) {
  FConfigUpdatedHandlers.push_back(std::move(handler));
}

void TBWLConfigManager::NotifyConfigUpdated() const {
  for (const auto& handler : FConfigUpdatedHandlers) {
    if (handler) handler();
  }
}

void TBWLConfigManager::SetAppName(const std::string& name) {
  if (name == FAppName) return;
  FAppName = name;
  NotifyConfigUpdated();
}

TBWLConfigManager& ConfigManager() {
  static TBWLConfigManager manager;
  return manager;
}
