#pragma once

// Reads one setting from several roots and key paths in a fixed order of
// precedence: roots from the last added to the first, and within a root the
// key paths in list order (and, under HKEY_USERS, every user's key in turn).
// Every hit overwrites the previous one, so the last one visited counts: the
// first root wins over later ones.

#include <string>
#include <vector>

#include "core/bwlRegistry.h"

// The sub-keys of HKEY_USERS, listed once on first use and never refreshed:
// hives mounted under HKEY_USERS later are not in it. Tests may replace it.
std::vector<std::string>& UsersSubKeys();

class TMultiConfigReader {
public:
  // Key paths, each with a leading backslash, relative to the roots. Callers
  // add to it directly.
  std::vector<std::string> FKeyPaths;

  int AddRootKey(platform::HKEY root);
  int GetRootKeyCount() const { return static_cast<int>(FRootKeys.size()); }
  platform::HKEY GetRootKey(int index) const { return FRootKeys.at(static_cast<std::size_t>(index)); }

  // True when at least one root and path held the value with the kind's
  // registry type (REG_DWORD, REG_DWORD, REG_BINARY, REG_SZ); value is set
  // only then. A value of another type counts as missing. A float of other
  // than 8 bytes throws ERegistryException.
  bool ReadBool(const std::string& name, bool& value) const;
  bool ReadInteger(const std::string& name, std::int32_t& value) const;
  bool ReadFloat(const std::string& name, double& value) const;
  bool ReadString(const std::string& name, std::string& value) const;

private:
  template <class T, class ReadFn>
  bool read(const std::string& name, std::uint32_t regType, T& value, ReadFn readFn) const;

  std::vector<platform::HKEY> FRootKeys;
};

bool MultiReadBool(const std::vector<platform::HKEY>& roots, const std::vector<std::string>& keyPaths,
                   const std::string& name, bool& value);
bool MultiReadInteger(const std::vector<platform::HKEY>& roots, const std::vector<std::string>& keyPaths,
                      const std::string& name, std::int32_t& value);
bool MultiReadFloat(const std::vector<platform::HKEY>& roots, const std::vector<std::string>& keyPaths,
                    const std::string& name, double& value);
bool MultiReadString(const std::vector<platform::HKEY>& roots, const std::vector<std::string>& keyPaths,
                     const std::string& name, std::string& value);
