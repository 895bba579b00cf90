#pragma once

// The crash reporter's named settings. A module's settings come from its
// settings resource, read once into a record that every settings object of
// that module in the process shares; a setting the resource does not name
// takes its built-in value (for the main settings' module) or the main
// settings' value (for any other module). Text reads expand the variables of
// ExpandVariables, except %exceptMsg% and %bugReport%, which a later
// expansion fills.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/zebExceptFields.h"
#include "crashreport/zebExceptResource.h"
#include "crashreport/zebExceptSettingTable.h"

namespace zeb {

// A module: 0 is the program; other numbers name the modules registered with
// RegisterSettingsModule.
using ModuleId = std::uintptr_t;

// Makes a module known with its settings resource (copied), its file name and
// the address range its code occupies (may be empty). Replaces an earlier
// registration of the number; an empty resource unregisters it.
void RegisterSettingsModule(ModuleId module, std::span<const std::uint8_t> resource, std::string fileName,
                            std::uintptr_t codeStart = 0, std::uintptr_t codeEnd = 0);

// The built-in table: every setting with its built-in value.
std::span<const SettingEntry> BuiltinSettings();

// The items of an assistant's forms, as far as the form cache reads and sets
// them.
struct AssistantItem {
  enum class Kind { Edit, CheckBox, Other };
  Kind kind = Kind::Other;
  std::string name;
  std::string text;
  bool checked = false;
  bool enabled = true;
};

struct AssistantForm {
  std::string name;
  int modalResult = 0;                // 1: the user went on past the form
  std::vector<AssistantItem> items;   // the first is the form's continue button
  int focusedItem = -1;
};

struct Assistant {
  std::string name;
  std::string title;
  std::vector<AssistantForm> forms;
};

class TIZeqSettings;
using IZeqSettings = std::shared_ptr<TIZeqSettings>;

class TIZeqSettings {
public:
  // With `read` the module's record is acquired (read from its resource on
  // first use); without, the object stays invalid until a derived class sets
  // up entries of its own.
  TIZeqSettings(ModuleId module, bool read);
  virtual ~TIZeqSettings();
  TIZeqSettings(const TIZeqSettings&) = delete;
  TIZeqSettings& operator=(const TIZeqSettings&) = delete;

  ModuleId ModuleHandle() const { return module_; }
  bool HasSettings() const { return valid_; }
  std::string VersionText() const { return versionText_; }

  // The entry of a setting: the object's own (created with zero values when
  // missing and `create` is set), else with `useBuiltin` the built-in one,
  // else null. Callers hold SettingsLock() while they use the entry.
  virtual SettingEntry* FindSetting(std::string_view name, bool useBuiltin, SettingKind kind, bool create);

  bool ReadBoolSetting(std::string_view name);
  std::int32_t ReadIntSetting(std::string_view name);
  std::uint32_t ReadDwordSetting(std::string_view name) { return std::uint32_t(ReadIntSetting(name)); }
  std::string ReadTextSetting(std::string_view name);
  // False (nothing stored) when the object is invalid or the entry is of
  // another kind.
  bool WriteBoolSetting(std::string_view name, bool value);
  bool WriteIntSetting(std::string_view name, std::int32_t value);
  bool WriteDwordSetting(std::string_view name, std::uint32_t value) { return WriteIntSetting(name, std::int32_t(value)); }
  bool WriteTextSetting(std::string_view name, const std::string& value);

#define ZEB_ACCESSOR_Bool(n)                   \
  bool n() { return ReadBoolSetting(#n); }     \
  void Set##n(bool v) { WriteBoolSetting(#n, v); }
#define ZEB_ACCESSOR_Int(n)                          \
  std::int32_t n() { return ReadIntSetting(#n); }    \
  void Set##n(std::int32_t v) { WriteIntSetting(#n, v); }
#define ZEB_ACCESSOR_Text(n)                         \
  std::string n() { return ReadTextSetting(#n); }    \
  void Set##n(const std::string& v) { WriteTextSetting(#n, v); }
#define ZEB_ACCESSOR(n, kind, value) ZEB_ACCESSOR_##kind(n)
  ZEB_SETTINGS(ZEB_ACCESSOR)
#undef ZEB_ACCESSOR
#undef ZEB_ACCESSOR_Bool
#undef ZEB_ACCESSOR_Int
#undef ZEB_ACCESSOR_Text

  bool HasMinDebugInfo() { return !ReadTextSetting("MinDebugInfo").empty(); }

  // Lists made on first request from AddFields / AddAttachs; their changes are
  // written back there.
  IZeqFields ExtraFields();
  IZeqAttachments ExtraAttachments();

  // On the "|" list of the Plugins setting, letter case ignored.
  bool IsPluginOn(std::string_view name);
  void SwitchPlugin(std::string_view name, bool on);

  // The assistant whose Assistant<n> definition ("name|title|form|...") names
  // it, letter case ignored; the search stops at the first empty definition.
  // Without a screenshot to take, "ScrShotForm" is left out. The forms get
  // what earlier assistants of this object saved.
  std::optional<Assistant> AssistantByName(std::string_view name);
  void SaveFormCache(const Assistant& assistant);
  void RestoreFormCache(Assistant& assistant);

  // Frees the module's entries and reads its resource again.
  void RereadSettings();

protected:
  // Whether the object reads for itself: no main settings yet, or the main
  // settings are of this module.
  bool ReadsForItself() const;
  // Whether a screenshot will be taken (AssistantByName's form list).
  virtual bool WillTakeScreenshot();
  void MarkValid() { valid_ = true; }
  void SetVersionText(std::string text) { versionText_ = std::move(text); }
  std::string ModuleFileName() const;

private:
  std::string expand(std::string text);
  bool writeEntry(std::string_view name, SettingKind kind, const std::function<void(SettingEntry&)>& store);

  ModuleId module_;
  bool valid_ = false;
  std::shared_ptr<std::vector<SettingEntry>> record_;
  std::string versionText_;
  IZeqAttachments extraAttachments_;
  IZeqFields extraFields_;
  IZeqFields formCache_;
};

// The lock of every settings record and store; re-entrant.
std::recursive_mutex& SettingsLock();

// The process's main settings, which other modules' settings fall back to.
void SetMainSettings(IZeqSettings settings);
IZeqSettings MainSettings();

// The settings to use for a module, for a code address, or the first module
// with usable settings.
IZeqSettings SettingsOfModule(ModuleId module);
IZeqSettings SettingsOfAddress(std::uintptr_t address);
IZeqSettings FindAnySettings();

}  // namespace zeb
