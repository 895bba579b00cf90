#pragma once

// The hive file engine: reads and writes Windows registry hive files (regf,
// format versions 1.1 to 1.6). This is the contract the registry store builds
// on; the engine may add to it but never changes what is here.
//
// Keys and values are addressed by ids that stay valid for the life of the
// HiveFile object until the key or value is deleted (a rename or a growing
// value never invalidates them, even when the cell has to move).
//
// Names are UTF-16 and may hold NUL characters. Lookups by name ignore case the
// way Windows does (upper-casing UTF-16 units). Nothing here is thread-safe:
// the owner serialises access.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"

namespace platform::hive {

enum class HiveError : int {
  None = 0,
  NotFound,        // no such key or value
  AlreadyExists,   // a key or value of that name exists
  HasSubkeys,      // deleting a key that still has sub-keys
  NotAHive,        // the file is not a regf hive (bad signature, too small)
  Corrupt,         // structure damaged where it had to be read
  ReadOnly,        // opened read-only (asked for, or dirty, or damaged)
  InvalidArgument, // name too long, empty key name, bad id
  TooLarge,        // would exceed what the format can address
  IoError,         // open, read, write, fsync or rename failed (errno kept)
  OutOfMemory,
};

template <class T>
using HiveResult = platform::Result<T, HiveError>;
using HiveStatus = platform::Status<HiveError>;

using KeyId = std::uint32_t;
using ValueId = std::uint32_t;

// FILETIME: 100 ns ticks since 1601-01-01 UTC.
using FileTime = std::uint64_t;

struct BaseBlockInfo {
  std::uint32_t primarySequence = 0;
  std::uint32_t secondarySequence = 0;
  FileTime lastWritten = 0;
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t fileType = 0;
  std::uint32_t fileFormat = 0;
  std::uint32_t rootCellOffset = 0;
  std::uint32_t hiveBinsDataSize = 0;
  std::u16string fileName;  // the embedded name, up to its first NUL
  std::uint32_t checksum = 0;
  bool checksumValid = false;
  bool dirty() const { return primarySequence != secondarySequence; }
};

struct KeyInfo {
  std::u16string name;
  std::u16string className;
  FileTime lastWritten = 0;
  std::uint16_t flags = 0;            // nk flags as stored
  std::uint32_t subkeyCount = 0;      // stable sub-keys (volatile ones live in the store)
  std::uint32_t valueCount = 0;
  std::uint32_t maxSubkeyNameLength = 0;   // in UTF-16 units, as Windows reports
  std::uint32_t maxClassNameLength = 0;
  std::uint32_t maxValueNameLength = 0;
  std::uint32_t maxValueDataSize = 0;      // bytes
  std::uint32_t securitySize = 0;          // bytes of the security descriptor
};

struct ValueInfo {
  std::u16string name;  // empty for the default value
  std::uint32_t type = 0;
  std::uint32_t dataSize = 0;
};

enum class OpenMode { ReadOnly, ReadWrite };

// What opening did with the transaction logs of a hive that needed recovery
// (sequence numbers differ, or the base block's checksum is wrong).
struct LogReplayInfo {
  bool attempted = false;  // recovery was needed and logs were at hand
  // The logs brought the image to a consistent state: sequence numbers equal,
  // checksum valid. The file on disk is untouched until a save.
  bool replayed = false;
  // Log data was applied but recovery could not finish soundly (an old-format
  // dirty bin was invalid, or a bin the log left invalid had to be replaced by
  // an empty one); such a hive counts as damaged and is read-only.
  bool incomplete = false;
  bool newFormat = false;           // HvLE log entries (else a dirty vector)
  bool baseBlockRecovered = false;  // the primary's base block was bad; the log's copy replaced it
  std::uint32_t entries = 0;        // log entries applied (an old-format log counts one)
  std::uint32_t pages = 0;          // dirty pages written into the image
  std::uint32_t firstSequence = 0;  // sequence numbers of the first and last entry applied
  std::uint32_t lastSequence = 0;
  std::uint32_t dummyBins = 0;      // invalid bins replaced by empty ones
  std::vector<std::size_t> logsUsed;  // indices into the logs given, in the order applied
};

class HiveFile {
public:
  virtual ~HiveFile() = default;

  // Opens a hive file. A dirty hive (unless its logs recover it, see below),
  // or one whose structure is damaged, opens read-only whatever was asked
  // (readOnly() tells). Fails with NotAHive or Corrupt when not even the base
  // block and root key can be read. The file is mapped, not read: ReadOnly
  // maps it read-only (no copy, unless logs are replayed); ReadWrite maps it
  // private, so only the pages a write touches are copied. Format 1.1 hives
  // are only read.
  static HiveResult<std::unique_ptr<HiveFile>> open(const std::filesystem::path& path, OpenMode mode);

  // Reads a hive from memory (no file behind it; save() needs saveAs()).
  static HiveResult<std::unique_ptr<HiveFile>> openBytes(std::span<const std::uint8_t> bytes, OpenMode mode);

  // ---- transaction logs
  // open() recovers a hive that needs it (sequence numbers differ, or a bad
  // base block checksum) from the logs findLogs() finds beside it, in memory:
  // opening never writes the hive or its logs. After an exact replay the hive
  // is consistent and may be written (a save writes a clean full hive, so the
  // logs are stale from then on and never replayed again). A hive that needs
  // recovery and has no usable logs opens read-only, as any dirty hive; so
  // does one whose replayed image would have no readable root (logReplay()
  // then says attempted, not replayed).

  // The logs of a hive file that exist: <file>.LOG1, <file>.LOG2, <file>.LOG,
  // in that order (the order is their role: first and second of the dual
  // logs, then the single log). Names match ignoring case, as on the Windows
  // disks these hives come from.
  static std::vector<std::filesystem::path> findLogs(const std::filesystem::path& hivePath);
  // As open(), with the logs named by the caller (in findLogs() order and
  // roles). An empty list opens the hive exactly as it is on disk.
  static HiveResult<std::unique_ptr<HiveFile>> openWithLogs(const std::filesystem::path& path,
                                                            std::span<const std::filesystem::path> logs,
                                                            OpenMode mode);
  // As openBytes(), recovering from logs given as bytes (same order and roles).
  static HiveResult<std::unique_ptr<HiveFile>> openBytesWithLogs(std::span<const std::uint8_t> bytes,
                                                                 std::span<const std::span<const std::uint8_t>> logs,
                                                                 OpenMode mode);

  // A new hive with one empty root key; nothing is written until save()/saveAs().
  static HiveResult<std::unique_ptr<HiveFile>> createEmpty(std::u16string_view rootName = u"ROOT");

  virtual bool readOnly() const = 0;
  virtual bool modified() const = 0;  // changed since open or last save
  virtual const std::filesystem::path& path() const = 0;
  virtual BaseBlockInfo baseBlock() const = 0;

  // ---- reading
  virtual KeyId root() const = 0;
  virtual HiveResult<KeyInfo> keyInfo(KeyId key) const = 0;
  virtual HiveResult<std::optional<KeyId>> parent(KeyId key) const = 0;  // nullopt for the root
  // In hive (sorted) order. Only sound children are listed: a key node whose
  // parent field names this key, never the root, never twice. So the keys
  // always form a tree, whatever a damaged file's lists say.
  virtual HiveResult<std::vector<KeyId>> subkeys(KeyId key) const = 0;
  virtual HiveResult<KeyId> findSubkey(KeyId parent, std::u16string_view name) const = 0;
  virtual HiveResult<std::vector<ValueId>> values(KeyId key) const = 0;  // in stored order
  // values(key)[index] without building the whole list: walking a key's
  // values one index at a time stays linear. NotFound past the end.
  virtual HiveResult<ValueId> valueAt(KeyId key, std::size_t index) const = 0;
  virtual HiveResult<ValueId> findValue(KeyId key, std::u16string_view name) const = 0;
  virtual HiveResult<ValueInfo> valueInfo(ValueId value) const = 0;
  virtual HiveResult<std::vector<std::uint8_t>> valueData(ValueId value) const = 0;
  virtual HiveResult<std::vector<std::uint8_t>> security(KeyId key) const = 0;  // self-relative SD

  // ---- reading into caller-owned buffers: the same answers as above without
  // a fresh allocation per call, for walks over a whole hive.
  virtual HiveStatus subkeysInto(KeyId key, std::vector<KeyId>& out) const = 0;
  virtual HiveStatus valuesInto(KeyId key, std::vector<ValueId>& out) const = 0;
  virtual HiveStatus keyNameInto(KeyId key, std::u16string& out) const = 0;
  virtual HiveStatus valueInfoInto(ValueId value, ValueInfo& out) const = 0;
  virtual HiveStatus valueDataInto(ValueId value, std::vector<std::uint8_t>& out) const = 0;

  // True when opening found damage (bad bins or cells, a wrong checksum, bins
  // cut short); such a hive is read-only. Damage met later, inside one key,
  // shows as Corrupt from the calls that touch it.
  virtual bool damaged() const = 0;
  // Bytes the hive would take on disk if saved now (base block + bins).
  virtual std::size_t fileSize() const = 0;
  // What opening did with transaction logs (all empty when none were used).
  virtual LogReplayInfo logReplay() const { return {}; }

  // ---- writing (ReadOnly fails with ReadOnly)
  virtual HiveResult<KeyId> createKey(KeyId parent, std::u16string_view name) = 0;  // AlreadyExists if present
  virtual HiveStatus deleteKey(KeyId key) = 0;  // HasSubkeys unless it has none; never the root
  virtual HiveStatus renameKey(KeyId key, std::u16string_view newName) = 0;
  virtual HiveStatus setClassName(KeyId key, std::u16string_view className) = 0;
  virtual HiveStatus setSecurity(KeyId key, std::span<const std::uint8_t> descriptor) = 0;
  virtual HiveStatus setLastWritten(KeyId key, FileTime time) = 0;
  // Creates or replaces; a new value goes to the end of the value list.
  virtual HiveResult<ValueId> setValue(KeyId key, std::u16string_view name, std::uint32_t type,
                                       std::span<const std::uint8_t> data) = 0;
  virtual HiveStatus deleteValue(KeyId key, std::u16string_view name) = 0;
  virtual HiveStatus renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) = 0;

  // ---- saving: crash-safe; the file on disk is the old hive or the new one, whole.
  virtual HiveStatus save() = 0;
  virtual HiveStatus saveAs(const std::filesystem::path& path) = 0;
  // The hive as it would be saved, as bytes.
  virtual HiveResult<std::vector<std::uint8_t>> serialize() = 0;
};

// Windows' order of sub-key names: by upper-cased UTF-16 units.
int compareKeyNames(std::u16string_view a, std::u16string_view b);

}  // namespace platform::hive
