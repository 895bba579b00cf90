#pragma once

// What the key tree asks of the registry: sub-key names, whether a key has
// sub-keys, its last write time, whether it exists, and whether the program
// runs in the 32-bit view of a 64-bit system. The main window asks only this,
// so tests feed the tree from a fake and the program from the registry store.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "app/QtText.h"
#include "core/bwlRegistry.h"

// A key of a remote computer's root as listed: whether the root connected,
// and the sub-key names when the key opened for reading.
struct RemoteKeyListing {
  bool connected = false;
  std::optional<QStringList> names;
};

class KeyLister {
public:
  virtual ~KeyLister() = default;
  // Key paths are taken as the registry object takes them: a leading "\" makes
  // the path absolute below the root. Names may hold NUL characters. The
  // views rvDefault and rv32Bit both give the 32-bit view.

  // The sub-key names of the key, in listed order; nothing when the key does
  // not open for reading.
  virtual std::optional<QStringList> subKeyNames(platform::HKEY root, const QString& keyPath,
                                                 TRegistryView view) = 0;
  // The key opens for reading and has at least one sub-key.
  virtual bool hasSubKeys(platform::HKEY root, const QString& keyPath, TRegistryView view) = 0;
  // The key's last write time as a FILETIME (UTC, 100 ns since 1601); nothing
  // when the key does not open or its information cannot be read.
  virtual std::optional<std::uint64_t> lastWriteTime(platform::HKEY root, const QString& keyPath,
                                                     TRegistryView view) = 0;
  // The key exists in the 32-bit view (view64 false) or the 64-bit view.
  virtual bool keyExists(platform::HKEY root, const QString& keyPath, bool view64) = 0;
  // The program runs as a 32-bit program on a 64-bit system.
  virtual bool isWow64() = 0;
  // The error code the key answers when opened for reading (5 when its
  // permissions refuse it); 0 when it opens, or when the lister cannot tell.
  virtual std::int32_t readError(platform::HKEY root, const QString& keyPath, TRegistryView view) {
    (void)root, (void)keyPath, (void)view;
    return 0;
  }
  // The sub-keys of a key of a remote computer's root ("\\" for the root
  // itself), over a connection made for this one question. Without a
  // network, no computer connects.
  virtual RemoteKeyListing remoteSubKeyNames(const QString& computer, platform::HKEY root, const QString& keyPath) {
    (void)computer, (void)root, (void)keyPath;
    return {};
  }
};

// A registry with no keys at all: the tree shows its roots and nothing below.
class EmptyKeyLister : public KeyLister {
public:
  std::optional<QStringList> subKeyNames(platform::HKEY, const QString&, TRegistryView) override {
    return std::nullopt;
  }
  bool hasSubKeys(platform::HKEY, const QString&, TRegistryView) override { return false; }
  std::optional<std::uint64_t> lastWriteTime(platform::HKEY, const QString&, TRegistryView) override {
    return std::nullopt;
  }
  bool keyExists(platform::HKEY, const QString&, bool) override { return false; }
  bool isWow64() override { return false; }
};

// The program's registry: each question is one short-lived TMyRegistry64 in
// the node's view, as the tree's own code would make it.
class RegistryKeyLister : public KeyLister {
public:
  std::optional<QStringList> subKeyNames(platform::HKEY root, const QString& keyPath, TRegistryView view) override;
  bool hasSubKeys(platform::HKEY root, const QString& keyPath, TRegistryView view) override;
  std::optional<std::uint64_t> lastWriteTime(platform::HKEY root, const QString& keyPath,
                                             TRegistryView view) override;
  bool keyExists(platform::HKEY root, const QString& keyPath, bool view64) override;
  bool isWow64() override;
  std::int32_t readError(platform::HKEY root, const QString& keyPath, TRegistryView view) override;
  RemoteKeyListing remoteSubKeyNames(const QString& computer, platform::HKEY root, const QString& keyPath) override;
};
