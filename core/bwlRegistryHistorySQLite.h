#pragma once

// The change history: every key and value the user creates, deletes or
// changes becomes one row of the SQLite table "registry_history", and one
// TRegistryChange in the collection of the history that recorded or loaded it.
// A change renders as .reg lines that repeat (redo) or reverse (undo) it, and
// can be repeated or reversed in the registry.
//
// Recording reads the registry, so callers record a deletion before deleting
// and a creation, change or rename after writing.
//
// A second table, "registry_history_extra", keeps by row id what the table
// has no column for: the new name of a renamed key or value, and the file of
// the hive the changed key lies in (a key path names only where the hive is
// mounted). A database made before it gets it at open; its rows read with
// both empty.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/SQLiteTables.h"
#include "core/bwlRegistry.h"

enum THistoryType : std::uint8_t { htKey = 0, htValue = 1 };
// haRename: a key or value got a new name in the same place. Its row keeps
// the old name (the key path, or the value name) and the new one (NewName).
enum THistoryAction : std::uint8_t { haDelete = 0, haNew = 1, haChange = 2, haRename = 3 };

// What the history needs of the registry: the reads of recording and the
// writes of undo and redo. LiveHistoryRegistry fulfils it with the registry
// access object and the one-call helpers; tests pass a fake. Roots are the
// predefined handles; is64 selects the 64-bit view, else the 32-bit one.
class HistoryRegistry {
public:
  virtual ~HistoryRegistry() = default;
  // The sub-key and value names of a key, in the registry's order; false
  // when the key does not open.
  virtual bool GetKeyNames(platform::HKEY root, const std::string& keyPath, bool is64,
                           std::vector<std::string>& names) = 0;
  virtual bool GetValueNames(platform::HKEY root, const std::string& keyPath, bool is64,
                             std::vector<std::string>& names) = 0;
  // Opens the key read-only; when the value exists, gives its kind and raw
  // bytes and answers true. False when the key does not open or the value is
  // missing.
  virtual bool ReadValue(platform::HKEY root, const std::string& keyPath, const std::string& name,
                         bool is64, TRegDataType& kind, std::vector<std::uint8_t>& data) = 0;
  // Recursive delete; creation of a key with its missing parents.
  virtual bool DeleteKey(platform::HKEY root, const std::string& keyPath, bool is64) = 0;
  virtual bool CreateKey(platform::HKEY root, const std::string& keyPath, bool is64) = 0;
  virtual bool DeleteValue(platform::HKEY root, const std::string& keyPath, const std::string& name,
                           bool is64) = 0;
  // Writes the bytes under the kind, creating the key when needed. A failed
  // write raises ERegistryException; a key that cannot be opened gives false.
  virtual bool WriteBinary(platform::HKEY root, const std::string& keyPath, const std::string& name,
                           bool is64, TRegDataType kind, std::span<const std::uint8_t> data) = 0;
  // ReadValue with the value's Windows type number as well. The default takes
  // the number from the kind, so it cannot tell apart the numbers that have
  // no kind of their own.
  virtual bool ReadValueWithType(platform::HKEY root, const std::string& keyPath, const std::string& name,
                                 bool is64, TRegDataType& kind, std::uint32_t& regType,
                                 std::vector<std::uint8_t>& data);
  // Writes the bytes as they stand under a type number, creating the key when
  // needed; as WriteBinary for failures. The default writes under the
  // number's kind.
  virtual bool WriteRaw(platform::HKEY root, const std::string& keyPath, const std::string& name, bool is64,
                        std::uint32_t regType, std::span<const std::uint8_t> data);
  // Renames in place; false when the old one is missing, the new one exists
  // or the registry refuses. The defaults refuse.
  virtual bool RenameKey(platform::HKEY root, const std::string& oldPath, const std::string& newPath, bool is64);
  virtual bool RenameValue(platform::HKEY root, const std::string& keyPath, const std::string& oldName,
                           const std::string& newName, bool is64);
  // The file of the hive that holds the key (8-bit text); empty when unknown.
  virtual std::string HiveFileOf(platform::HKEY root, const std::string& keyPath);
};

// The registry itself: reads through a TMyRegistry opened read-only in the
// asked view, writes through the one-call helpers in that view. Keeps no state.
class LiveHistoryRegistry final : public HistoryRegistry {
public:
  bool GetKeyNames(platform::HKEY root, const std::string& keyPath, bool is64,
                   std::vector<std::string>& names) override;
  bool GetValueNames(platform::HKEY root, const std::string& keyPath, bool is64,
                     std::vector<std::string>& names) override;
  bool ReadValue(platform::HKEY root, const std::string& keyPath, const std::string& name, bool is64,
                 TRegDataType& kind, std::vector<std::uint8_t>& data) override;
  bool DeleteKey(platform::HKEY root, const std::string& keyPath, bool is64) override;
  bool CreateKey(platform::HKEY root, const std::string& keyPath, bool is64) override;
  bool DeleteValue(platform::HKEY root, const std::string& keyPath, const std::string& name,
                   bool is64) override;
  bool WriteBinary(platform::HKEY root, const std::string& keyPath, const std::string& name, bool is64,
                   TRegDataType kind, std::span<const std::uint8_t> data) override;
  bool ReadValueWithType(platform::HKEY root, const std::string& keyPath, const std::string& name, bool is64,
                         TRegDataType& kind, std::uint32_t& regType, std::vector<std::uint8_t>& data) override;
  bool WriteRaw(platform::HKEY root, const std::string& keyPath, const std::string& name, bool is64,
                std::uint32_t regType, std::span<const std::uint8_t> data) override;
  bool RenameKey(platform::HKEY root, const std::string& oldPath, const std::string& newPath, bool is64) override;
  bool RenameValue(platform::HKEY root, const std::string& keyPath, const std::string& oldName,
                   const std::string& newName, bool is64) override;
  std::string HiveFileOf(platform::HKEY root, const std::string& keyPath) override;
};

// One row of the history window's list: a caption and sub-items.
class HistoryListItem {
public:
  virtual ~HistoryListItem() = default;
  virtual int Index() const = 0;
  virtual void SetCaption(const std::string& text) = 0;
  virtual int SubItemCount() const = 0;
  virtual void AddSubItem(const std::string& text) = 0;
  virtual void SetSubItem(int index, const std::string& text) = 0;
};

class TRegistryChangeHistory;

class TRegistryChange {
public:
  explicit TRegistryChange(TRegistryChangeHistory* history) : FHistory(history) {}

  TRegistryChangeHistory* FHistory;
  std::uint32_t TableIndex = 0;
  THistoryType EntryType = htKey;
  THistoryAction Action = haDelete;
  platform::HKEY RootKey;
  std::string KeyPath;  // leading backslash; as recorded also a trailing one
  std::string Value;    // empty for key rows and for a value's default entry
  TRegDataType DataType = rdUnknown;
  std::vector<std::uint8_t> FOldData;
  std::vector<std::uint8_t> FNewData;
  double Timestamp = 0;  // local date-time, days since 1899-12-30
  // The view the change was made in: 0 the 32-bit view, 1 the 64-bit one.
  // Kept in the otherwise unused direction column (NULL for the 32-bit view),
  // so undo and redo reach the key that was changed.
  std::uint8_t View = 0;
  // The value's Windows type number, kept for a value whose kind does not
  // say it (rdUnknown: a number without a kind of its own), so undo and redo
  // write it back under that number and its lines read "hex(N):". It shares
  // the direction column with the view: view + 2 * (number + 1); a row
  // without it holds NULL or the view alone, as rows always did.
  std::optional<std::uint32_t> RegType;
  // A rename's new name: the key's last component, or the value's name.
  std::string NewName;
  // The hive file the key lay in when the change was made.
  std::string HiveFile;

  void Assign(const TRegistryChange& source);
  std::string GetDisplayName() const { return std::to_string(TableIndex); }

  // Inserts the row and stores its data in one transaction: on any failure
  // nothing of the row remains and the ESQLiteException passes on.
  void InsertIntoDatabase();
  void DeleteFromDatabase();
  // Reads the current row of a query result.
  void LoadFromTable(const TSQLiteTable& table);

  void GetRedoLines(std::vector<std::string>& lines) const;
  void GetUndoLines(std::vector<std::string>& lines) const;
  // Repeat or reverse the change in the registry. False when the registry
  // refused it: a key that cannot be created, opened or deleted, a value
  // that cannot be written or deleted (a read-only hive, a denied key). A
  // deletion of what is gone already, and a key row of the action "change",
  // which does nothing, succeed.
  [[nodiscard]] bool Redo();
  [[nodiscard]] bool Undo();
  void FillListItem(HistoryListItem& item) const;

private:
  // Writes a value row's data back: under its kept type number when its kind
  // has none, else under its kind. False when the write was refused.
  bool WriteData(const std::vector<std::uint8_t>& data) const;
  bool DeleteKey() const;
  bool DeleteValue() const;
  bool Rename(bool forward) const;

public:
  // The path the key of a key rename has under its new name.
  std::string RenamedKeyPath() const;
};

class TRegistryChangeHistory {
public:
  // Creates the file's folder and parents, opens the database and creates
  // the table when missing. A file that is not a usable database raises
  // ESQLiteException "Failed to open database ..."; a folder that cannot be
  // made raises std::runtime_error "Unable to create directory".
  // The first form works on the registry itself; the second on the given
  // stand-in, which must outlive the history.
  explicit TRegistryChangeHistory(const std::string& fileName);
  TRegistryChangeHistory(const std::string& fileName, HistoryRegistry& registry);
  ~TRegistryChangeHistory();
  TRegistryChangeHistory(const TRegistryChangeHistory&) = delete;
  TRegistryChangeHistory& operator=(const TRegistryChangeHistory&) = delete;

  static const std::string& TableName();
  // The table of what the rows have no column for (see the top).
  static const std::string& ExtraTableName();
  // <$APPDATA>\Brantwell\Hivescope\history.sqlite, <$APPDATA> being the
  // application-data folder of the shell folders (the XDG data folder).
  static std::string DefaultFileName();

  TRegistryChange& Add();
  TRegistryChange& GetItem(int index) { return *FItems.at(static_cast<std::size_t>(index)); }
  int Count() const { return static_cast<int>(FItems.size()); }
  void Clear() { FItems.clear(); }

  // Appends one change per row; "<$TABLENAME>" in the text stands for the table.
  void LoadFromQuery(const std::string& sql);
  void LoadAll();

  void SortByIndex();
  void SortByTime();
  void SortByType();
  void SortByAction();
  void SortByRootKey();
  void SortByKeyPath();
  void SortByValue();
  void SortByDataType();

  void FillListItem(HistoryListItem& item) const;

  // Each takes the view the change is made in (false: the 32-bit view).
  void RecordKeyCreate(platform::HKEY root, const std::string& keyPath, bool is64 = false);
  void RecordKeyDelete(platform::HKEY root, const std::string& keyPath, bool is64 = false);
  void RecordValueCreate(platform::HKEY root, const std::string& keyPath, const std::string& name,
                         TRegDataType kind, bool is64 = false);
  void RecordValueDelete(platform::HKEY root, const std::string& keyPath, const std::string& name,
                         bool is64 = false);
  void RecordValueChange(platform::HKEY root, const std::string& keyPath, const std::string& name,
                         TRegDataType kind, std::span<const std::uint8_t> oldData,
                         bool is64 = false);
  // After the rename: the key at oldPath now has the name newName (same
  // parent); the value oldName of the key is now newName. Nothing is recorded
  // when the renamed key or value is not found under its new name.
  void RecordKeyRename(platform::HKEY root, const std::string& oldPath, const std::string& newName,
                       bool is64 = false);
  void RecordValueRename(platform::HKEY root, const std::string& keyPath, const std::string& oldName,
                         const std::string& newName, bool is64 = false);

  // Adds the change and inserts it. When the insert fails the change is
  // taken out of the collection again and the ESQLiteException passes on.
  TRegistryChange& AddChange(THistoryType entryType, THistoryAction action, platform::HKEY root,
                             const std::string& keyPath, const std::string& name, TRegDataType kind,
                             std::span<const std::uint8_t> oldData,
                             std::span<const std::uint8_t> newData, bool is64 = false,
                             std::optional<std::uint32_t> regType = std::nullopt,
                             const std::string& newName = {});

  TSQLiteDatabase& Database() { return *FDatabase; }
  HistoryRegistry& Registry() { return FRegistry; }

private:
  friend class TRegistryChange;
  struct ColumnCache {
    int direction = -1;
    int id = -1, timestamp = -1, entrytype = -1, action = -1, rootkey = -1, key = -1, value = -1,
        datatype = -1, olddatasize = -1, newdatasize = -1, olddata = -1, newdata = -1;
  };

  void RecordKeyDeleteAt(platform::HKEY root, const std::string& keyPath, bool is64, int depth);

  std::unique_ptr<TSQLiteDatabase> FDatabase;
  LiveHistoryRegistry FLiveRegistry;
  HistoryRegistry& FRegistry;
  ColumnCache FColumnCache;
  // The extra table exists (a database we may not change may lack it).
  bool FHasExtraTable = false;
  std::vector<std::unique_ptr<TRegistryChange>> FItems;
};
