#pragma once

// The program's settings: typed registry values under
// "\Software\<company>\<program>\", read from HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER (the machine's value wins), written to one of the two, plus
// the placement of every window and a notification when the program name (and
// with it the key) changes.

#include <functional>
#include <string>
#include <vector>

#include "core/bwlRegistry.h"

// A window whose placement the settings keep. The application implements it
// for its windows; tests use a recorder.
class ConfigForm {
public:
  virtual ~ConfigForm() = default;
  // The window's component name, the last part of its settings key.
  virtual std::string Name() const = 0;
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetLeft(int value) = 0;
  virtual void SetTop(int value) = 0;
  virtual void SetWidth(int value) = 0;
  virtual void SetHeight(int value) = 0;
  // 0 normal, 1 minimised, 2 maximised.
  virtual int WindowState() const = 0;
  virtual void SetWindowState(int state) = 0;
};

// Every window of the application, for the calls that handle them all.
class ConfigFormSource {
public:
  virtual ~ConfigFormSource() = default;
  virtual std::vector<ConfigForm*> Forms() = 0;
};

inline constexpr int kWindowStateNormal = 0;
inline constexpr int kWindowStateMinimized = 1;
inline constexpr int kWindowStateMaximized = 2;

using TOnConfigUpdatedEvent = std::function<void()>;

class TBWLConfigManager {
public:
  TBWLConfigManager();

  // "\Software\Brantwell Limited\<program>\"
  std::string GetBaseKey() const;
  // GetBaseKey() + "UI\Forms\" + the form's name.
  std::string GetFormKey(const ConfigForm& form) const;
  // The reading order: (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) when the
  // machine is preferred. The reader visits them last to first, so the first
  // one's value is the one that counts.
  std::vector<platform::HKEY> GetRootKeys() const;

  // True when found with the kind's registry type; value is set only then.
  // A sub-key is appended to the base key as it is (no separator added).
  bool ReadBool(const std::string& name, bool& value) const;
  bool ReadInteger(const std::string& name, std::int32_t& value) const;
  bool ReadFloat(const std::string& name, double& value) const;
  bool ReadString(const std::string& name, std::string& value) const;
  bool ReadBool(const std::string& subKey, const std::string& name, bool& value) const;
  bool ReadInteger(const std::string& subKey, const std::string& name, std::int32_t& value) const;
  bool ReadFloat(const std::string& subKey, const std::string& name, double& value) const;
  bool ReadString(const std::string& subKey, const std::string& name, std::string& value) const;

  // To HKEY_LOCAL_MACHINE when machine, else HKEY_CURRENT_USER. Registry
  // exceptions pass; a key that does not open is skipped, and the answer is
  // false then (true when the value was written).
  bool WriteBool(const std::string& name, bool value, bool machine);
  bool WriteInteger(const std::string& name, std::int32_t value, bool machine);
  bool WriteFloat(const std::string& name, double value, bool machine);
  bool WriteString(const std::string& name, const std::string& value, bool machine);
  bool WriteBool(const std::string& subKey, const std::string& name, bool value, bool machine);
  bool WriteInteger(const std::string& subKey, const std::string& name, std::int32_t value, bool machine);
  bool WriteFloat(const std::string& subKey, const std::string& name, double value, bool machine);
  bool WriteString(const std::string& subKey, const std::string& name, const std::string& value, bool machine);

  // True only when all five values were found. A stored minimised state is
  // never applied.
  bool LoadFormPlacement(ConfigForm& form) const;
  bool LoadFormPlacements() const;
  // A maximised window keeps its last normal bounds: only "WindowState" is
  // written. A failure while writing under the machine root is retried under
  // HKEY_CURRENT_USER.
  bool SaveFormPlacement(const ConfigForm& form, bool machine) const;
  bool SaveFormPlacements() const;
  // The windows LoadFormPlacements and SaveFormPlacements visit; none at first.
  void SetFormSource(ConfigFormSource* source) { FFormSource = source; }

  void AddConfigUpdatedHandler(TOnConfigUpdatedEvent handler);
  void NotifyConfigUpdated() const;
  const std::string& AppName() const { return FAppName; }
  // A different name (compared case-sensitively) is stored and announced.
  void SetAppName(const std::string& name);

private:
  std::string FAppName;
  std::uint8_t FPreferMachine = 1;
  std::string FCompanyName = "Brantwell Limited";
  std::vector<TOnConfigUpdatedEvent> FConfigUpdatedHandlers;
  ConfigFormSource* FFormSource = nullptr;
};

// The program's one settings object.
TBWLConfigManager& ConfigManager();
