#pragma once

// What the key tree asks of the registry: sub-key names, whether a key has
// sub-keys, its last write time, whether it exists, and whether the program
// runs in the 32-bit view of a 64-bit system. The main window asks only this,
// so tests feed the tree from a fake and the program from the registry store.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The seven predefined roots with their handle values.
namespace rootkeys {
inline constexpr std::uint32_t kClassesRoot = 0x80000000u;
inline constexpr std::uint32_t kCurrentUser = 0x80000001u;
inline constexpr std::uint32_t kLocalMachine = 0x80000002u;
inline constexpr std::uint32_t kUsers = 0x80000003u;
inline constexpr std::uint32_t kPerformanceData = 0x80000004u;
inline constexpr std::uint32_t kCurrentConfig = 0x80000005u;
inline constexpr std::uint32_t kDynData = 0x80000006u;
}  // namespace rootkeys

// Views of a tree node (rvDefault and rv32Bit both give the 32-bit view).
enum TRegistryView : int { rvDefault = 0, rv32Bit = 1, rv64Bit = 2 };

class KeyLister {
public:
  virtual ~KeyLister() = default;
  // Key paths are taken as the registry object takes them: a leading "\" makes
  // the path absolute below the root. Names may hold NUL characters.

  // The sub-key names of the key, in listed order; nothing when the key does
  // not open for reading.
  virtual std::optional<QStringList> subKeyNames(std::uint32_t root, const QString& keyPath, int view) = 0;
  // The key opens for reading and has at least one sub-key.
  virtual bool hasSubKeys(std::uint32_t root, const QString& keyPath, int view) = 0;
  // The key's last write time as a FILETIME (UTC, 100 ns since 1601); nothing
  // when the key does not open or its information cannot be read.
  virtual std::optional<std::uint64_t> lastWriteTime(std::uint32_t root, const QString& keyPath, int view) = 0;
  // The key exists in the 32-bit view (view64 false) or the 64-bit view.
  virtual bool keyExists(std::uint32_t root, const QString& keyPath, bool view64) = 0;
  // The program runs as a 32-bit program on a 64-bit system.
  virtual bool isWow64() = 0;
};

// A registry with no keys at all: the tree shows its roots and nothing below.
class EmptyKeyLister : public KeyLister {
public:
  std::optional<QStringList> subKeyNames(std::uint32_t, const QString&, int) override { return std::nullopt; }
  bool hasSubKeys(std::uint32_t, const QString&, int) override { return false; }
  std::optional<std::uint64_t> lastWriteTime(std::uint32_t, const QString&, int) override { return std::nullopt; }
  bool keyExists(std::uint32_t, const QString&, bool) override { return false; }
  bool isWow64() override { return false; }
};

// Root names: the long name of a predefined root ("HKEY_LOCAL_MACHINE"), or
// the handle in decimal for any other value.
QString RootKeyToLongName(std::uint32_t root);
// The long or the short name ("HKLM", "HKUS" for the users root) of a root,
// compared exactly; 0 for any other text.
std::uint32_t NameToRootKey(const QString& name);
// Every NUL character shown as "<0x00>".
QString ShowNulChars(const QString& text);
