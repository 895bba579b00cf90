#include "crashreport/zebExceptSettings.h"

#include <map>

#include "crashreport/zebCrypt.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebStrings.h"

namespace zeb {

namespace {

struct ModuleInfo {
  std::vector<std::uint8_t> resource;
  std::string fileName;
  std::uintptr_t codeStart = 0;
  std::uintptr_t codeEnd = 0;
};

struct Registry {
  std::map<ModuleId, ModuleInfo> modules;
  std::map<ModuleId, std::weak_ptr<std::vector<SettingEntry>>> records;
  IZeqSettings main;
};

Registry& registry() {
  static auto& r = *new Registry;
  return r;
}

std::vector<SettingEntry> MakeBuiltins() {
  std::vector<SettingEntry> table;
#define ZEB_BUILTIN_Bool(n, v) table.push_back(SettingEntry::Bool(#n, v));
#define ZEB_BUILTIN_Int(n, v) table.push_back(SettingEntry::Int(#n, v));
#define ZEB_BUILTIN_Text(n, v) table.push_back(SettingEntry::Text(#n, v));
#define ZEB_BUILTIN(n, kind, v) ZEB_BUILTIN_##kind(n, v)
  ZEB_SETTINGS(ZEB_BUILTIN)
#undef ZEB_BUILTIN
  return table;
}

std::vector<SettingEntry>& Builtins() {
  static auto& table = *new std::vector<SettingEntry>(MakeBuiltins());
  return table;
}

// Whether the module has a resource to read, and its bytes.
bool ResourceOf(ModuleId module, std::vector<std::uint8_t>& bytes) {
  if (module == 0) {
    const auto program = ProgramSettingsResource();
    bytes.assign(program.begin(), program.end());
    return !bytes.empty();
  }
  auto it = registry().modules.find(module);
  if (it == registry().modules.end()) return false;
  bytes = it->second.resource;
  return true;
}

SettingEntry* Find(std::vector<SettingEntry>& entries, std::string_view name) {
  for (SettingEntry& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

// Stored passwords are kept enciphered; from loading on the entries hold them plain.
void DecipherPassword(std::vector<SettingEntry>& entries, const std::string& prefix) {
  SettingEntry* password = Find(entries, prefix + "Password");
  if (!password || password->textValue.empty()) return;
  const SettingEntry* server = Find(entries, prefix + "Server");
  const SettingEntry* account = Find(entries, prefix + "Account");
  const std::vector<std::uint8_t> cipher = Base64Decode(password->textValue);
  password->textValue =
      DecryptStoredPassword(cipher, account ? account->textValue : std::string(), server ? server->textValue : std::string());
}

void LoadModuleSettings(ModuleId module, std::vector<SettingEntry>& entries) {
  std::vector<std::uint8_t> bytes;
  if (!ResourceOf(module, bytes)) return;
  ParseSettingsResource(bytes, entries);
  DecipherPassword(entries, "Smtp");
  DecipherPassword(entries, "Http");
}

std::shared_ptr<std::vector<SettingEntry>> AcquireModuleSettings(ModuleId module) {
  std::vector<std::uint8_t> bytes;
  if (!ResourceOf(module, bytes)) return nullptr;
  auto& weak = registry().records[module];
  if (auto record = weak.lock()) return record;
  auto record = std::make_shared<std::vector<SettingEntry>>();
  LoadModuleSettings(module, *record);
  weak = record;
  return record;
}

}  // namespace

std::recursive_mutex& SettingsLock() {
  static std::recursive_mutex m;
  return m;
}

void RegisterSettingsModule(ModuleId module, std::span<const std::uint8_t> resource, std::string fileName,
                            std::uintptr_t codeStart, std::uintptr_t codeEnd) {
  std::lock_guard lock(SettingsLock());
  if (resource.empty()) {
    registry().modules.erase(module);
    return;
  }
  registry().modules[module] = {{resource.begin(), resource.end()}, std::move(fileName), codeStart, codeEnd};
}

std::span<const SettingEntry> BuiltinSettings() { return Builtins(); }

TIZeqSettings::TIZeqSettings(ModuleId module, bool read) : module_(module) {
  if (!read) return;
  std::lock_guard lock(SettingsLock());
  record_ = AcquireModuleSettings(module);
  valid_ = record_ != nullptr;
}

TIZeqSettings::~TIZeqSettings() {
  if (extraAttachments_) extraAttachments_->DetachSettings();
  if (extraFields_) extraFields_->DetachSettings();
  std::lock_guard lock(SettingsLock());
  record_.reset();
}

std::string TIZeqSettings::ModuleFileName() const {
  if (module_ != 0) {
    std::lock_guard lock(SettingsLock());
    auto it = registry().modules.find(module_);
    if (it != registry().modules.end() && !it->second.fileName.empty()) return it->second.fileName;
  }
  return ProgramFileName();
}

SettingEntry* TIZeqSettings::FindSetting(std::string_view name, bool useBuiltin, SettingKind kind, bool create) {
  if (record_) {
    if (SettingEntry* e = Find(*record_, name)) return e;
    if (create) {
      SettingEntry e;
      e.name = std::string(name);
      e.kind = kind;
      record_->push_back(std::move(e));
      return &record_->back();
    }
  }
  return useBuiltin ? Find(Builtins(), name) : nullptr;
}

bool TIZeqSettings::ReadsForItself() const {
  std::lock_guard lock(SettingsLock());
  return !registry().main || registry().main.get() == this || registry().main->module_ == module_;
}

bool TIZeqSettings::ReadBoolSetting(std::string_view name) {
  IZeqSettings main;
  {
    std::lock_guard lock(SettingsLock());
    const bool own = ReadsForItself();
    if (const SettingEntry* e = FindSetting(name, own, SettingKind::Bool, false)) return e->boolValue;
    if (own) return false;
    main = registry().main;
  }
  return main->ReadBoolSetting(name);
}

std::int32_t TIZeqSettings::ReadIntSetting(std::string_view name) {
  IZeqSettings main;
  {
    std::lock_guard lock(SettingsLock());
    const bool own = ReadsForItself();
    if (const SettingEntry* e = FindSetting(name, own, SettingKind::Int, false)) return e->intValue;
    if (own) return 0;
    main = registry().main;
  }
  return main->ReadIntSetting(name);
}

std::string TIZeqSettings::ReadTextSetting(std::string_view name) {
  std::string text;
  IZeqSettings main;
  {
    std::lock_guard lock(SettingsLock());
    const bool own = ReadsForItself();
    if (const SettingEntry* e = FindSetting(name, own, SettingKind::Text, false))
      text = e->textValue;
    else if (!own)
      main = registry().main;
  }
  if (main) text = main->ReadTextSetting(name);
  return expand(std::move(text));
}

std::string TIZeqSettings::expand(std::string text) {
  if (text.find('%') == std::string::npos) return text;
  return ExpandVariables(ModuleFileName(), std::move(text), "%exceptMsg%", "%bugReport%", versionText_);
}

bool TIZeqSettings::writeEntry(std::string_view name, SettingKind kind,
                               const std::function<void(SettingEntry&)>& store) {
  std::lock_guard lock(SettingsLock());
  if (!valid_) return false;
  SettingEntry* e = FindSetting(name, false, kind, true);
  if (!e || e->kind != kind) return false;
  store(*e);
  return true;
}

bool TIZeqSettings::WriteBoolSetting(std::string_view name, bool value) {
  return writeEntry(name, SettingKind::Bool, [&](SettingEntry& e) { e.boolValue = value; });
}

bool TIZeqSettings::WriteIntSetting(std::string_view name, std::int32_t value) {
  return writeEntry(name, SettingKind::Int, [&](SettingEntry& e) { e.intValue = value; });
}

bool TIZeqSettings::WriteTextSetting(std::string_view name, const std::string& value) {
  return writeEntry(name, SettingKind::Text, [&](SettingEntry& e) { e.textValue = value; });
}

IZeqFields TIZeqSettings::ExtraFields() {
  std::lock_guard lock(SettingsLock());
  if (!extraFields_) {
    extraFields_ = NewFieldList(true);
    const std::string text = ReadTextSetting("AddFields");
    for (std::size_t i = 1, n = ListCount(text, '|'); i <= n; ++i) {
      const std::string item = ListItem(text, i, '|');
      extraFields_->Assign(ListItem(item, 1, '='), ListItem(item, 2, '='));
    }
    extraFields_->SetSettings(this);
  }
  return extraFields_;
}

IZeqAttachments TIZeqSettings::ExtraAttachments() {
  std::lock_guard lock(SettingsLock());
  if (!extraAttachments_) {
    extraAttachments_ = NewAttachmentList();
    const std::string text = ReadTextSetting("AddAttachs");
    for (std::size_t i = 1, n = ListCount(text, '|'); i <= n; ++i) {
      const std::string item = ListItem(text, i, '|');
      extraAttachments_->Append(ListItem(item, 1, '>'), ListItem(item, 2, '>'), ListItem(item, 3, '>'),
                                ListItem(item, 4, '>'));
    }
    extraAttachments_->SetSettings(this);
  }
  return extraAttachments_;
}

bool TIZeqSettings::IsPluginOn(std::string_view name) {
  return ListContainsIgnoringCase(ReadTextSetting("Plugins"), name, '|');
}

void TIZeqSettings::SwitchPlugin(std::string_view name, bool on) {
  if (IsPluginOn(name) == on) return;
  std::string list = ReadTextSetting("Plugins");
  if (on) {
    list = list.empty() ? std::string(name) : list + "|" + std::string(name);
  } else {
    list = "|" + list + "|";
    const std::string item = "|" + std::string(name) + "|";
    // Rescanning finds neighbours that shared a separator with a removed item.
    while (ReplaceAll(list, item, "|", true, false)) {
    }
    list = list.size() >= 2 ? list.substr(1, list.size() - 2) : std::string();
  }
  WriteTextSetting("Plugins", list);
}

bool TIZeqSettings::WillTakeScreenshot() { return ScrShotDepth() > 0; }

std::optional<Assistant> TIZeqSettings::AssistantByName(std::string_view name) {
  std::string definition;
  for (int n = 1;; ++n) {
    definition = ReadTextSetting("Assistant" + std::to_string(n));
    if (definition.empty()) return std::nullopt;
    if (SameTextIgnoringCase(TrimmedCopy(ListItem(definition, 1, '|')), name)) break;
  }
  if (ListContainsIgnoringCase(definition, "ScrShotForm", '|') && !WillTakeScreenshot()) {
    definition = "|" + definition + "|";
    while (ReplaceAll(definition, "|ScrShotForm|", "|", true, false)) {
    }
  }
  NormaliseList(definition, '|');
  Assistant assistant;
  assistant.name = ListItem(definition, 1, '|');
  assistant.title = ListItem(definition, 2, '|');
  for (std::size_t i = 3, n = ListCount(definition, '|'); i <= n; ++i)
    assistant.forms.push_back({ListItem(definition, i, '|'), 0, {}, -1});
  RestoreFormCache(assistant);
  return assistant;
}

void TIZeqSettings::SaveFormCache(const Assistant& assistant) {
  IZeqFields cache;
  {
    std::lock_guard lock(SettingsLock());
    if (!formCache_) formCache_ = NewFieldList(true);
    cache = formCache_;
  }
  for (const AssistantForm& form : assistant.forms) {
    if (form.modalResult != 1) continue;
    for (const AssistantItem& item : form.items) {
      if (item.kind == AssistantItem::Kind::Edit)
        cache->Assign(item.name, item.text);
      else if (item.kind == AssistantItem::Kind::CheckBox)
        cache->Assign(item.name, item.checked ? "+" : "-");
    }
  }
}

void TIZeqSettings::RestoreFormCache(Assistant& assistant) {
  IZeqFields cache;
  {
    std::lock_guard lock(SettingsLock());
    cache = formCache_;
  }
  if (!cache) return;
  for (AssistantForm& form : assistant.forms) {
    bool some = false, all = true;
    for (AssistantItem& item : form.items) {
      if (item.kind == AssistantItem::Kind::Other) continue;
      if (cache->IndexOfName(item.name) < 0) {
        all = false;
        continue;
      }
      const std::string value = cache->ValueOf(item.name);
      if (item.kind == AssistantItem::Kind::Edit)
        item.text = value;
      else
        item.checked = value == "+";
      some = true;
    }
    if (some && all && !form.items.empty() && form.items[0].enabled) form.focusedItem = 0;
  }
}

void TIZeqSettings::RereadSettings() {
  std::lock_guard lock(SettingsLock());
  if (!record_) return;
  record_->clear();
  LoadModuleSettings(module_, *record_);
}

void SetMainSettings(IZeqSettings settings) {
  std::lock_guard lock(SettingsLock());
  registry().main = std::move(settings);
}

IZeqSettings MainSettings() {
  std::lock_guard lock(SettingsLock());
  return registry().main;
}

IZeqSettings FindAnySettings() {
  std::vector<ModuleId> modules{0};
  {
    std::lock_guard lock(SettingsLock());
    for (const auto& [module, info] : registry().modules) modules.push_back(module);
  }
  IZeqSettings found;
  for (ModuleId module : modules) {
    auto settings = std::make_shared<TIZeqSettings>(module, true);
    if (!settings->HasSettings()) continue;
    if (!found) found = settings;
    if (!settings->NoSettings()) return settings;
  }
  return found;
}

IZeqSettings SettingsOfModule(ModuleId module) {
  auto settings = std::make_shared<TIZeqSettings>(module, true);
  if (!settings->HasSettings() || !settings->NoSettings()) return settings;
  IZeqSettings any = FindAnySettings();
  return any && any->HasSettings() && !any->NoSettings() ? any : settings;
}

IZeqSettings SettingsOfAddress(std::uintptr_t address) {
  ModuleId module = 0;
  {
    std::lock_guard lock(SettingsLock());
    for (const auto& [handle, info] : registry().modules)
      if (address >= info.codeStart && address < info.codeEnd) module = handle;
  }
  IZeqSettings settings = module ? std::make_shared<TIZeqSettings>(module, true) : nullptr;
  if (!settings || settings->NoSettings()) {
    IZeqSettings any = FindAnySettings();
    if (!settings)
      settings = any;
    else if (any && any->HasSettings() && !any->NoSettings())
      settings = any;
  }
  return settings ? settings : std::make_shared<TIZeqSettings>(0, true);
}

}  // namespace zeb
