#include "app/KeyLister.h"

#include <vector>

#include "app/NativeNames.h"
#include "core/bwlRegNative.h"

#include "core/bwlRegTools.h"
#include "core/kxNTSTuff.h"
#include "platform/Registry.h"

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

// The key opened through the native interface, which reaches names with NULs
// (only under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER).
bool openNative(TNtRegistry& nt, platform::HKEY root, QString keyPath) {
  while (keyPath.endsWith(u'\\')) keyPath.chop(1);
  nt.FRootKey = root;
  return nt.OpenKey(keyPath.toStdU16String());
}

}  // namespace

std::optional<QStringList> RegistryKeyLister::subKeyNames(platform::HKEY root, const QString& keyPath,
                                                          TRegistryView view) {
  TNtRegistry nt;
  if (!reachable(keyPath)) {
    // Below a key whose name holds a NUL only the native interface lists.
    if (!openNative(nt, root, keyPath)) return std::nullopt;
    return NativeKeyNames(nt);
  }
  TMyRegistry64 reg;
  if (!openReadOnly(reg, root, keyPath, view)) return std::nullopt;
  std::vector<std::string> names;
  reg.GetKeyNames(names);
  QStringList out;
  out.reserve(static_cast<qsizetype>(names.size()));
  for (const std::string& name : names) out << ansiToQString(name);
  // The 8-bit listing cuts a name at its first NUL; the native one gives such
  // names whole, so their keys can be opened. Only when both interfaces see
  // the same key (the 32-bit view may send the 8-bit calls elsewhere).
  if (openNative(nt, root, keyPath) && SameKey(reg.CurrentKey(), nt))
    out = MergeNativeNames(std::move(out), NativeKeyNames(nt), false);
  reg.CloseKey();
  return out;
}

std::int32_t RegistryKeyLister::readError(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  if (!reachable(keyPath)) return 0;
  TMyRegistry64 reg;
  if (openReadOnly(reg, root, keyPath, view)) {
    reg.CloseKey();
    return 0;
  }
  return reg.LastError();
}

bool RegistryKeyLister::hasSubKeys(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  if (!reachable(keyPath)) {
    TNtRegistry nt;
    return openNative(nt, root, keyPath) && !NativeKeyNames(nt).isEmpty();
  }
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

RemoteKeyListing RegistryKeyLister::remoteSubKeyNames(const QString& computer, platform::HKEY root,
                                                      const QString& keyPath) {
  RemoteKeyListing listing;
  platform::HKEY connected{};
  if (platform::RegConnectRegistryA(qStringToAnsi(computer).c_str(), root, &connected) != platform::ERROR_SUCCESS)
    return listing;
  listing.connected = true;
  std::string path = qStringToAnsi(keyPath);
  if (path.starts_with('\\')) path.erase(0, 1);
  platform::HKEY key{};
  if (platform::RegOpenKeyExA(connected, path.c_str(), 0, platform::KEY_READ, &key) == platform::ERROR_SUCCESS) {
    QStringList names;
    char name[1024];
    for (platform::DWORD index = 0; platform::RegEnumKeyA(key, index, name, sizeof name - 1) == platform::ERROR_SUCCESS;
         ++index)
      names << ansiToQString(name);
    listing.names = names;
    platform::RegCloseKey(key);
  }
  platform::RegCloseKey(connected);
  return listing;
}
