#include "app/KeyLister.h"

#include <vector>

#include "core/bwlRegTools.h"
#include "core/kxNTSTuff.h"

namespace {

// The 8-bit calls end a path at its first NUL, so a path holding one would
// reach another key; such a key is treated as one that does not open.
bool reachable(const QString& keyPath) { return !keyPath.contains(QChar(u'\0')); }

// A registry object on `root` in `view` with `keyPath` open read-only.
bool openReadOnly(TMyRegistry& reg, platform::HKEY root, const QString& keyPath, TRegistryView view) {
  if (!reachable(keyPath)) return false;
  reg.SetView(view);
  reg.SetRootKey(root);
  return reg.OpenKeyReadOnly(qStringToAnsi(keyPath));
}

}  // namespace

std::optional<QStringList> RegistryKeyLister::subKeyNames(platform::HKEY root, const QString& keyPath,
                                                          TRegistryView view) {
  TMyRegistry64 reg;
  if (!openReadOnly(reg, root, keyPath, view)) return std::nullopt;
  std::vector<std::string> names;
  reg.GetKeyNames(names);
  reg.CloseKey();
  QStringList out;
  out.reserve(static_cast<qsizetype>(names.size()));
  for (const std::string& name : names) out << ansiToQString(name);
  return out;
}

bool RegistryKeyLister::hasSubKeys(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  TMyRegistry64 reg;
  if (!openReadOnly(reg, root, keyPath, view)) return false;
  const bool has = reg.HasSubKeys();
  reg.CloseKey();
  return has;
}

std::optional<std::uint64_t> RegistryKeyLister::lastWriteTime(platform::HKEY root, const QString& keyPath,
                                                              TRegistryView view) {
  TMyRegistry64 reg;
  if (!openReadOnly(reg, root, keyPath, view)) return std::nullopt;
  TRegKeyInfo info;
  const bool ok = reg.GetKeyInfo(info);
  reg.CloseKey();
  if (!ok) return std::nullopt;
  return platform::fileTimeToU64(info.FileTime);
}

bool RegistryKeyLister::keyExists(platform::HKEY root, const QString& keyPath, bool view64) {
  if (!reachable(keyPath)) return false;
  if (!view64) return RegistryKeyExists(root, qStringToAnsi(keyPath), ViewByte::v32);
  TMyRegistry64 reg;
  reg.SetRootKey(root);
  return reg.KeyExists(qStringToAnsi(keyPath));
}

bool RegistryKeyLister::isWow64() { return IsWow64(); }
