#pragma once

// The change history: every key and value the user creates, deletes or
// changes becomes one row of the SQLite table "registry_history", and one
// TRegistryChange in the collection of the history that recorded or loaded it.
// A change renders as .reg lines that repeat (redo) or reverse (undo) it, and
// can be repeated or reversed in the registry.
//
// Recording reads the registry, so callers record a deletion before deleting
// and a creation or change after writing.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/SQLiteTables.h"
#include "core/bwlRegistry.h"

enum THistoryType : std::uint8_t { htKey = 0, htValue = 1 };
enum THistoryAction : std::uint8_t { haDelete = 0, haNew = 1, haChange = 2 };

// What the history needs of the registry: the reads of recording and the
// writes of undo and redo. The registry access object and the one-call
// helpers fulfil it; tests pass a fake. Root keys are the predefined handles'
// 32-bit numbers (0x80000000 ...); is64 selects the 64-bit view, else the
// 32-bit one.
class HistoryRegistry {
public:
  virtual ~HistoryRegistry() = default;
  // The sub-key and value names of a key, in the registry's order; false
  // when the key does not open.
  virtual bool GetKeyNames(std::uint32_t root, const std::string& keyPath, bool is64,
                           std::vector<std::string>& names) = 0;
  virtual bool GetValueNames(std::uint32_t root, const std::string& keyPath, bool is64,
                             std::vector<std::string>& names) = 0;
  // Opens the key read-only; when the value exists, gives its kind and raw
  // bytes and answers true. False when the key does not open or the value is
  // missing.
  virtual bool ReadValue(std::uint32_t root, const std::string& keyPath, const std::string& name,
                         bool is64, TRegDataType& kind, std::vector<std::uint8_t>& data) = 0;
  // Recursive delete; creation of a key with its missing parents.
  virtual bool DeleteKey(std::uint32_t root, const std::string& keyPath, bool is64) = 0;
  virtual bool CreateKey(std::uint32_t root, const std::string& keyPath, bool is64) = 0;
  virtual bool DeleteValue(std::uint32_t root, const std::string& keyPath, const std::string& name,
                           bool is64) = 0;
  // Writes the bytes under the kind, creating the key when needed. A failed
  // write raises ERegistryException; a key that cannot be opened gives false.
  virtual bool WriteBinary(std::uint32_t root, const std::string& keyPath, const std::string& name,
                           bool is64, TRegDataType kind, std::span<const std::uint8_t> data) = 0;
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
  std::uint32_t RootKey = 0;
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
  void Redo();
  void Undo();
  void FillListItem(HistoryListItem& item) const;
};

class TRegistryChangeHistory {
public:
  // Creates the file's folder and parents, opens the database and creates
  // the table when missing. A file that is not a usable database raises
  // ESQLiteException "Failed to open database ..."; a folder that cannot be
  // made raises std::runtime_error "Unable to create directory".
  TRegistryChangeHistory(const std::string& fileName, HistoryRegistry& registry);
  ~TRegistryChangeHistory();
  TRegistryChangeHistory(const TRegistryChangeHistory&) = delete;
  TRegistryChangeHistory& operator=(const TRegistryChangeHistory&) = delete;

  static const std::string& TableName();
  // <$APPDATA>\Brantwell\Hivescope\history.sqlite, <$APPDATA> being the
  // XDG data folder ($XDG_DATA_HOME, else ~/.local/share).
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
  void RecordKeyCreate(std::uint32_t root, const std::string& keyPath, bool is64 = false);
  void RecordKeyDelete(std::uint32_t root, const std::string& keyPath, bool is64 = false);
  void RecordValueCreate(std::uint32_t root, const std::string& keyPath, const std::string& name,
                         TRegDataType kind, bool is64 = false);
  void RecordValueDelete(std::uint32_t root, const std::string& keyPath, const std::string& name,
                         bool is64 = false);
  void RecordValueChange(std::uint32_t root, const std::string& keyPath, const std::string& name,
                         TRegDataType kind, std::span<const std::uint8_t> oldData,
                         bool is64 = false);

  // Adds the change and inserts it. When the insert fails the change is
  // taken out of the collection again and the ESQLiteException passes on.
  TRegistryChange& AddChange(THistoryType entryType, THistoryAction action, std::uint32_t root,
                             const std::string& keyPath, const std::string& name, TRegDataType kind,
                             std::span<const std::uint8_t> oldData,
                             std::span<const std::uint8_t> newData, bool is64 = false);

  TSQLiteDatabase& Database() { return *FDatabase; }
  HistoryRegistry& Registry() { return FRegistry; }

private:
  friend class TRegistryChange;
  struct ColumnCache {
    int direction = -1;
    int id = -1, timestamp = -1, entrytype = -1, action = -1, rootkey = -1, key = -1, value = -1,
        datatype = -1, olddatasize = -1, newdatasize = -1, olddata = -1, newdata = -1;
  };

  void RecordKeyDeleteAt(std::uint32_t root, const std::string& keyPath, bool is64, int depth);

  std::unique_ptr<TSQLiteDatabase> FDatabase;
  HistoryRegistry& FRegistry;
  ColumnCache FColumnCache;
  std::vector<std::unique_ptr<TRegistryChange>> FItems;
};
