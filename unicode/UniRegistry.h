#pragma once

// Reading wide string values of the registry.

#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "unicode/UniErrors.h"

namespace uni {

// A registry access object for one open key at a time under a root key.
class TUniRegistry {
public:
  explicit TUniRegistry(platform::HKEY RootKey = platform::HKEY_CURRENT_USER);
  ~TUniRegistry();
  TUniRegistry(const TUniRegistry&) = delete;
  TUniRegistry& operator=(const TUniRegistry&) = delete;

  platform::HKEY RootKey() const { return FRootKey; }
  // Closes the open key first.
  void SetRootKey(platform::HKEY Value);
  platform::HKEY CurrentKey() const { return FCurrentKey; }

  // Key with a leading "\" is a path from the root key, any other a path from
  // the open key (the root when none is open). On success the opened key
  // replaces the open one; on failure the open key stays and false is returned.
  bool OpenKey(std::u16string_view Key, bool CanCreate);
  bool OpenKeyReadOnly(std::u16string_view Key);
  void CloseKey();

  // The REG_SZ or REG_EXPAND_SZ value Name of the open key up to its first
  // NUL; "" when the value cannot be queried (a missing value too). Another
  // type raises ERegistryException "Invalid data type for '<Name>'", a failed
  // read "Failed to get data for '<Name>'".
  std::u16string ReadString(std::u16string_view Name);

private:
  bool open(std::u16string_view key, bool create, platform::REGSAM access);

  platform::HKEY FRootKey;
  platform::HKEY FCurrentKey{};
};

}  // namespace uni
