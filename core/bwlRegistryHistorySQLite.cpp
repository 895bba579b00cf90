#include "core/bwlRegistryHistorySQLite.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <map>
#include <stdexcept>

#include "core/LocaleText.h"
#include "core/bwlFilesPathsWinAPI.h"
#include "core/bwlRegTools.h"
#include "core/kxDate.h"
#include "core/kxPathSolve.h"
#include "platform/Paths.h"
#include "platform/RegistryStore.h"
#include "platform/Text.h"
#include "platform/ProgramFiles.h"
#include "platform/ShellFolders.h"

namespace {

double NowAsDateTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return (static_cast<double>(now) + static_cast<double>(local.tm_gmtoff)) / 86400.0 + kUnixEpochDateTime;
}

// "yyyy-mm-dd hh:nn:ss" of a date-time.
std::string FormatTimestamp(double value) {
  if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return {};
  const auto ms = static_cast<std::int64_t>(std::llround((value - kUnixEpochDateTime) * 86400000.0));
  std::int64_t secs = ms / 1000;
  if (ms % 1000 < 0) --secs;
  const std::time_t t = static_cast<std::time_t>(secs);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return buf;
}

// ---- helpers of the history ----------------------------------------------

std::string withTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path;
  return path + "\\";
}

std::string sqlQuoted(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string replaceAll(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += with.size())
    text.replace(pos, what.size(), with);
  return text;
}

// Registry keys nest at most 512 deep; a deeper walk means a loop.
constexpr int kMaxKeyDepth = 512;

const char* const kCreateTable =
    "CREATE TABLE registry_history ([id] INTEGER PRIMARY KEY AUTOINCREMENT, [timestamp] INTEGER, "
    "[direction] INTEGER, [entrytype] INTEGER, [action] INTEGER, [rootkey] INTEGER, [key] TEXT, "
    "[value] TEXT, [datatype] INTEGER, [olddatasize] INTEGER, [newdatasize] INTEGER, [olddata] "
    "BLOB, [newdata] BLOB )";

// What a row of the table above has no column for, by the row's id: the new
// name of a rename and the hive file. The table itself stays as it is, so
// databases made before keep working both ways.
const char* const kExtraTable = "registry_history_extra";
const char* const kCreateExtraTable =
    "CREATE TABLE IF NOT EXISTS registry_history_extra ([id] INTEGER PRIMARY KEY, [newname] TEXT, [hivefile] TEXT)";

// The key path without its closing backslash.
std::string withoutTrailingBackslash(std::string path) {
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}

const char* const kColumns[] = {"id",    "timestamp", "direction",   "entrytype",
                                "action", "rootkey",  "key",         "value",
                                "datatype", "olddatasize", "newdatasize", "olddata",
                                "newdata"};

}  // namespace

// ---- LiveHistoryRegistry ---------------------------------------------------

namespace {

// Points a registry object at root in the asked view.
void setView(TMyRegistry& reg, platform::HKEY root, bool is64) {
  reg.SetBitness(is64 ? Bitness::x64 : Bitness::x32);
  reg.SetRootKey(root);
}

ViewByte viewByte(bool is64) { return is64 ? ViewByte::v64 : ViewByte::v32; }

}  // namespace

bool LiveHistoryRegistry::GetKeyNames(platform::HKEY root, const std::string& keyPath, bool is64,
                                      std::vector<std::string>& names) {
  names.clear();
  TMyRegistry64 reg;
  setView(reg, root, is64);
  if (!reg.OpenKeyReadOnly(keyPath)) return false;
  reg.GetKeyNames(names);
  return true;
}

bool LiveHistoryRegistry::GetValueNames(platform::HKEY root, const std::string& keyPath, bool is64,
                                        std::vector<std::string>& names) {
  names.clear();
  TMyRegistry64 reg;
  setView(reg, root, is64);
  if (!reg.OpenKeyReadOnly(keyPath)) return false;
  reg.GetValueNames(names);
  return true;
}

bool LiveHistoryRegistry::ReadValue(platform::HKEY root, const std::string& keyPath, const std::string& name,
                                    bool is64, TRegDataType& kind, std::vector<std::uint8_t>& data) {
  TMyRegistry64 reg;
  setView(reg, root, is64);
  if (!reg.OpenKeyReadOnly(keyPath) || !reg.ValueExists(name)) return false;
  MemoryStream stream;
  if (!reg.ReadBinaryStream(name, stream)) return false;
  kind = reg.GetDataType(name);
  data = std::move(stream.Memory);
  return true;
}

bool LiveHistoryRegistry::DeleteKey(platform::HKEY root, const std::string& keyPath, bool is64) {
  return DeleteRegistryKey(root, keyPath, viewByte(is64));
}

bool LiveHistoryRegistry::CreateKey(platform::HKEY root, const std::string& keyPath, bool is64) {
  return CreateRegistryKey(root, keyPath, viewByte(is64));
}

bool LiveHistoryRegistry::DeleteValue(platform::HKEY root, const std::string& keyPath, const std::string& name,
                                      bool is64) {
  return DeleteRegistryValue(root, keyPath, name, viewByte(is64));
}

bool LiveHistoryRegistry::WriteBinary(platform::HKEY root, const std::string& keyPath, const std::string& name,
                                      bool is64, TRegDataType kind, std::span<const std::uint8_t> data) {
  MemoryStream stream;
  stream.Memory.assign(data.begin(), data.end());
  return WriteRegistryBinary(root, keyPath, name, is64 ? Bitness::x64 : Bitness::x32, kind, stream);
}

bool LiveHistoryRegistry::ReadValueWithType(platform::HKEY root, const std::string& keyPath,
                                            const std::string& name, bool is64, TRegDataType& kind,
                                            std::uint32_t& regType, std::vector<std::uint8_t>& data) {
  if (!ReadValue(root, keyPath, name, is64, kind, data)) return false;
  regType = RegDataTypeToRegType(kind);
  if (kind != rdUnknown) return true;
  // Only the stored number tells what an unknown kind is; its data is the
  // stored bytes either way.
  TMyRegistry64 reg;
  setView(reg, root, is64);
  std::vector<std::uint8_t> raw;
  return reg.OpenKeyReadOnly(keyPath) && reg.readRawValue(name, regType, raw);
}

bool LiveHistoryRegistry::WriteRaw(platform::HKEY root, const std::string& keyPath, const std::string& name,
                                   bool is64, std::uint32_t regType, std::span<const std::uint8_t> data) {
  TMyRegistry64 reg;
  setView(reg, root, is64);
  if (!reg.OpenKey(keyPath, true)) return false;
  reg.writeRawValue(name, regType, data);
  return true;
}

bool LiveHistoryRegistry::RenameKey(platform::HKEY root, const std::string& oldPath, const std::string& newPath,
                                    bool is64) {
  return RenameRegistryKey(root, oldPath, newPath, false, is64 ? Bitness::x64 : Bitness::x32);
}

bool LiveHistoryRegistry::RenameValue(platform::HKEY root, const std::string& keyPath, const std::string& oldName,
                                      const std::string& newName, bool is64) {
  return RenameRegistryValue(root, keyPath, oldName, false, newName, is64 ? Bitness::x64 : Bitness::x32);
}

std::string LiveHistoryRegistry::HiveFileOf(platform::HKEY root, const std::string& keyPath) {
  platform::registry::MountStatus status;
  const auto path = platform::registry::splitKeyPath(platform::ansiToWide(keyPath));
  if (platform::registry::mountStatusOf(root, path, &status) != platform::ERROR_SUCCESS) return {};
  return status.file.string();
}

bool HistoryRegistry::RenameKey(platform::HKEY, const std::string&, const std::string&, bool) { return false; }

bool HistoryRegistry::RenameValue(platform::HKEY, const std::string&, const std::string&, const std::string&, bool) {
  return false;
}

std::string HistoryRegistry::HiveFileOf(platform::HKEY, const std::string&) { return {}; }

bool HistoryRegistry::ReadValueWithType(platform::HKEY root, const std::string& keyPath, const std::string& name,
                                        bool is64, TRegDataType& kind, std::uint32_t& regType,
                                        std::vector<std::uint8_t>& data) {
  if (!ReadValue(root, keyPath, name, is64, kind, data)) return false;
  regType = RegDataTypeToRegType(kind);
  return true;
}

bool HistoryRegistry::WriteRaw(platform::HKEY root, const std::string& keyPath, const std::string& name, bool is64,
                               std::uint32_t regType, std::span<const std::uint8_t> data) {
  return WriteBinary(root, keyPath, name, is64, RegTypeToRegDataType(regType), data);
}

// ---- TRegistryChange ------------------------------------------------------

namespace {

// The direction column: the view, and the type number when one is kept.
std::int64_t directionOf(std::uint8_t view, const std::optional<std::uint32_t>& regType) {
  return view + (regType ? 2 * (static_cast<std::int64_t>(*regType) + 1) : 0);
}

}  // namespace

void TRegistryChange::Assign(const TRegistryChange& source) {
  if (&source == this) return;
  FHistory = source.FHistory;
  TableIndex = source.TableIndex;
  EntryType = source.EntryType;
  Action = source.Action;
  RootKey = source.RootKey;
  KeyPath = source.KeyPath;
  Value = source.Value;
  DataType = source.DataType;
  FOldData = source.FOldData;
  FNewData = source.FNewData;
  Timestamp = source.Timestamp;
  View = source.View;
  RegType = source.RegType;
  NewName = source.NewName;
  HiveFile = source.HiveFile;
}

void TRegistryChange::InsertIntoDatabase() {
  TSQLiteDatabase& db = FHistory->Database();
  const std::string& table = TRegistryChangeHistory::TableName();
  char head[512];
  std::snprintf(head, sizeof head,
                "INSERT INTO %s (timestamp,entrytype,action,rootkey,key,value,datatype,olddatasize,"
                "newdatasize) VALUES  (%lld,%d,%d,%d,",
                table.c_str(), static_cast<long long>(DateTimeToUnixTime(Timestamp)),
                static_cast<int>(EntryType), static_cast<int>(Action),
                static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(RootKey.value))));
  char tail[128];
  std::snprintf(tail, sizeof tail, ",%d,%zu,%zu)", static_cast<int>(DataType), FOldData.size(),
                FNewData.size());
  const std::string insert =
      std::string(head) + "'" + sqlQuoted(KeyPath) + "','" + sqlQuoted(Value) + "'" + tail;

  // The row and its data land together or not at all: a row whose sizes
  // promise data it does not hold would undo to garbage.
  db.BeginTransaction();
  try {
    db.Execute(insert);
    TableIndex = static_cast<std::uint32_t>(db.LastRowId());
    const std::string id = std::to_string(TableIndex);
    if (!FOldData.empty())
      db.StoreBlob("UPDATE " + table + " SET olddata = ? WHERE ID = " + id, FOldData);
    if (!FNewData.empty())
      db.StoreBlob("UPDATE " + table + " SET newdata = ? WHERE ID = " + id, FNewData);
    const std::int64_t direction = directionOf(View, RegType);
    if (direction != 0)
      db.Execute("UPDATE " + table + " SET direction = " + std::to_string(direction) + " WHERE ID = " + id);
    if (FHistory->FHasExtraTable && (!NewName.empty() || !HiveFile.empty()))
      db.Execute(std::string("INSERT OR REPLACE INTO ") + kExtraTable + " (id,newname,hivefile) VALUES (" + id +
                 ",'" + sqlQuoted(NewName) + "','" + sqlQuoted(HiveFile) + "')");
    else if (!NewName.empty())
      throw ESQLiteException(std::string("no such table: ") + kExtraTable);
    db.Commit();
  } catch (...) {
    TableIndex = 0;
    db.Rollback();
    throw;
  }
}

void TRegistryChange::DeleteFromDatabase() {
  FHistory->Database().Execute("DELETE FROM " + TRegistryChangeHistory::TableName() +
                               " WHERE id=" + std::to_string(TableIndex));
  if (FHistory->FHasExtraTable)
    FHistory->Database().Execute(std::string("DELETE FROM ") + kExtraTable + " WHERE id=" +
                                 std::to_string(TableIndex));
}

void TRegistryChange::LoadFromTable(const TSQLiteTable& table) {
  auto& cache = FHistory->FColumnCache;
  if (cache.id < 0) {
    cache.id = table.ColumnIndex("id");
    cache.timestamp = table.ColumnIndex("timestamp");
    cache.entrytype = table.ColumnIndex("entrytype");
    cache.action = table.ColumnIndex("action");
    cache.rootkey = table.ColumnIndex("rootkey");
    cache.key = table.ColumnIndex("key");
    cache.value = table.ColumnIndex("value");
    cache.datatype = table.ColumnIndex("datatype");
    cache.olddatasize = table.ColumnIndex("olddatasize");
    cache.newdatasize = table.ColumnIndex("newdatasize");
    cache.olddata = table.ColumnIndex("olddata");
    cache.newdata = table.ColumnIndex("newdata");
    // A query that leaves out the view column reads every row as 32-bit.
    const auto optionalColumn = [&](const char* name) {
      try {
        return table.ColumnIndex(name);
      } catch (const ESQLiteException&) {
        return -1;
      }
    };
    cache.direction = optionalColumn("direction");
  }
  // A foreign row may hold any number; the date conversion takes 32 bits.
  const std::int64_t seconds = std::clamp<std::int64_t>(table.CellInt64(cache.timestamp),
                                                        std::numeric_limits<std::int32_t>::min(),
                                                        std::numeric_limits<std::int32_t>::max());
  Timestamp = UnixTimeToDateTime(static_cast<std::int32_t>(seconds));
  EntryType = static_cast<THistoryType>(table.CellInt64(cache.entrytype));
  Action = static_cast<THistoryAction>(table.CellInt64(cache.action));
  DataType = static_cast<TRegDataType>(table.CellInt64(cache.datatype));
  TableIndex = static_cast<std::uint32_t>(table.CellInt64(cache.id));
  // The column holds the handle as a signed 32-bit number.
  RootKey = platform::HKEY(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(table.CellInt64(cache.rootkey))));
  KeyPath = table.CellAsText(cache.key);
  Value = table.CellAsText(cache.value);
  NewName.clear();
  HiveFile.clear();
  const std::int64_t direction = cache.direction >= 0 ? table.CellInt64(cache.direction) : 0;
  View = 0;
  RegType.reset();
  if (direction == 1) {
    View = 1;
  } else if (direction >= 2 && (direction >> 1) - 1 <= 0xFFFFFFFFll) {
    View = static_cast<std::uint8_t>(direction & 1);
    RegType = static_cast<std::uint32_t>((direction >> 1) - 1);
  }

  // Never more bytes than the blob holds, whatever the size column claims.
  auto loadData = [&](int sizeColumn, int dataColumn, std::vector<std::uint8_t>& out) {
    out.clear();
    const std::vector<std::uint8_t>* blob = table.CellStream(dataColumn);
    if (!blob) return;
    const std::int64_t size = table.CellInt64(sizeColumn);
    if (size <= 0) return;
    const std::size_t n = std::min<std::size_t>(blob->size(), static_cast<std::uint64_t>(size));
    out.assign(blob->begin(), blob->begin() + static_cast<std::ptrdiff_t>(n));
  };
  loadData(cache.olddatasize, cache.olddata, FOldData);
  loadData(cache.newdatasize, cache.newdata, FNewData);
}

std::string TRegistryChange::RenamedKeyPath() const {
  const std::string path = withoutTrailingBackslash(KeyPath);
  const std::size_t slash = path.rfind('\\');
  return (slash == std::string::npos ? std::string("\\") : path.substr(0, slash + 1)) + NewName + "\\";
}

namespace {

// A rename in .reg text: a key's whole tree cannot be moved by .reg lines, so
// its rename is a comment; a value's is its data under the name it gets and
// the deletion of the name it loses.
void renameLines(const TRegistryChange& c, const std::string& newKeyPath, bool redo, std::vector<std::string>& lines) {
  const std::string root = RootKeyToLongName(c.RootKey);
  if (c.EntryType == htKey) {
    const std::string from = root + (redo ? c.KeyPath : newKeyPath);
    const std::string to = root + (redo ? newKeyPath : c.KeyPath);
    lines.push_back("; Rename key [" + from + "] to [" + to + "]");
    return;
  }
  lines.push_back("[" + root + c.KeyPath + "]");
  std::string line;
  const std::string& gets = redo ? c.NewName : c.Value;
  const std::string& loses = redo ? c.Value : c.NewName;
  if (FormatRegStreamLine(redo ? c.FNewData : c.FOldData, gets, c.DataType, line, c.RegType))
    lines.push_back(std::move(line));
  lines.push_back(RegValueNameField(loses) + "=-");
}

// The section of a key deletion: the reader refuses a delete path that ends
// in a backslash (it would name the parent), so the key path has none.
std::string deletedSection(const std::string& section) {
  std::string path = section;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return "[-" + path + "]";
}
}  // namespace

void TRegistryChange::GetRedoLines(std::vector<std::string>& lines) const {
  const std::string section = RootKeyToLongName(RootKey) + KeyPath;
  if (Action == haRename) {
    renameLines(*this, EntryType == htKey ? RenamedKeyPath() : std::string(), true, lines);
    lines.emplace_back();
    return;
  }
  if (EntryType == htKey) {
    if (Action == haDelete) lines.push_back(deletedSection(section));
    else if (Action == haNew) lines.push_back("[" + section + "]");
  } else {
    lines.push_back("[" + section + "]");
    std::string line;
    if (Action == haDelete) lines.push_back(RegValueNameField(Value) + "=-");
    else if (FormatRegStreamLine(FNewData, Value, DataType, line, RegType)) lines.push_back(std::move(line));
  }
  lines.emplace_back();
}

void TRegistryChange::GetUndoLines(std::vector<std::string>& lines) const {
  const std::string section = RootKeyToLongName(RootKey) + KeyPath;
  if (Action == haRename) {
    renameLines(*this, EntryType == htKey ? RenamedKeyPath() : std::string(), false, lines);
    lines.emplace_back();
    return;
  }
  if (EntryType == htKey) {
    if (Action == haDelete) lines.push_back("[" + section + "]");
    else if (Action == haNew) lines.push_back(deletedSection(section));
  } else {
    lines.push_back("[" + section + "]");
    std::string line;
    if (Action == haNew) lines.push_back(RegValueNameField(Value) + "=-");
    else if (FormatRegStreamLine(FOldData, Value, DataType, line, RegType)) lines.push_back(std::move(line));
  }
  lines.emplace_back();
}

bool TRegistryChange::WriteData(const std::vector<std::uint8_t>& data) const {
  HistoryRegistry& reg = FHistory->Registry();
  const bool is64 = View == 1;
  try {
    if (DataType == rdUnknown && RegType) return reg.WriteRaw(RootKey, KeyPath, Value, is64, *RegType, data);
    return reg.WriteBinary(RootKey, KeyPath, Value, is64, DataType, data);
  } catch (const ERegistryException&) {
    // The key opened but the value was refused: for the caller the same
    // failure as a key that does not open.
    return false;
  }
}

// A deletion whose key or value is gone already has what it asks for: the
// registry answers "not found", which is no refusal.
bool TRegistryChange::DeleteKey() const {
  HistoryRegistry& reg = FHistory->Registry();
  const bool is64 = View == 1;
  if (reg.DeleteKey(RootKey, KeyPath, is64)) return true;
  std::vector<std::string> names;
  return !reg.GetKeyNames(RootKey, KeyPath, is64, names);
}

bool TRegistryChange::DeleteValue() const {
  HistoryRegistry& reg = FHistory->Registry();
  const bool is64 = View == 1;
  if (reg.DeleteValue(RootKey, KeyPath, Value, is64)) return true;
  TRegDataType kind = rdUnknown;
  std::vector<std::uint8_t> data;
  return !reg.ReadValue(RootKey, KeyPath, Value, is64, kind, data);
}

// Renames the key or value from one name to the other. A rename that finds
// the names as they should end up (done before) has what it asks for.
bool TRegistryChange::Rename(bool forward) const {
  HistoryRegistry& reg = FHistory->Registry();
  const bool is64 = View == 1;
  if (EntryType == htKey) {
    const std::string oldPath = withoutTrailingBackslash(KeyPath);
    const std::string newPath = withoutTrailingBackslash(RenamedKeyPath());
    const std::string& from = forward ? oldPath : newPath;
    const std::string& to = forward ? newPath : oldPath;
    if (reg.RenameKey(RootKey, from, to, is64)) return true;
    std::vector<std::string> names;
    return !reg.GetKeyNames(RootKey, from, is64, names) && reg.GetKeyNames(RootKey, to, is64, names);
  }
  const std::string& from = forward ? Value : NewName;
  const std::string& to = forward ? NewName : Value;
  if (reg.RenameValue(RootKey, KeyPath, from, to, is64)) return true;
  TRegDataType kind = rdUnknown;
  std::vector<std::uint8_t> data;
  return !reg.ReadValue(RootKey, KeyPath, from, is64, kind, data) &&
         reg.ReadValue(RootKey, KeyPath, to, is64, kind, data);
}

bool TRegistryChange::Redo() {
  if (Action == haRename) return Rename(true);
  if (EntryType == htKey) {
    if (Action == haDelete) return DeleteKey();
    if (Action == haNew) return FHistory->Registry().CreateKey(RootKey, KeyPath, View == 1);
    return true;
  }
  if (Action == haDelete) return DeleteValue();
  return WriteData(FNewData);
}

bool TRegistryChange::Undo() {
  if (Action == haRename) return Rename(false);
  if (EntryType == htKey) {
    if (Action == haDelete) return FHistory->Registry().CreateKey(RootKey, KeyPath, View == 1);
    if (Action == haNew) return DeleteKey();
    return true;
  }
  if (Action == haNew) return DeleteValue();
  return WriteData(FOldData);
}

void TRegistryChange::FillListItem(HistoryListItem& item) const {
  while (item.SubItemCount() < 9) item.AddSubItem("");
  item.SetCaption(std::to_string(TableIndex));
  item.SetSubItem(0, FormatTimestamp(Timestamp));
  item.SetSubItem(1, EntryType == htKey ? "Key" : "Value");
  item.SetSubItem(2, Action == haDelete ? "Delete" : Action == haNew ? "New" : Action == haRename ? "Rename" : "Change");
  item.SetSubItem(3, RootKeyToShortName(RootKey));
  item.SetSubItem(4, KeyPath);
  if (EntryType == htValue) {
    item.SetSubItem(5, Value);
    item.SetSubItem(6, RegDataTypeToStr(DataType));
  }
  item.SetSubItem(7, NewName);
  item.SetSubItem(8, HiveFile);
}

// ---- TRegistryChangeHistory -----------------------------------------------

const std::string& TRegistryChangeHistory::TableName() {
  static const std::string name = "registry_history";
  return name;
}

const std::string& TRegistryChangeHistory::ExtraTableName() {
  static const std::string name = kExtraTable;
  return name;
}

std::string TRegistryChangeHistory::DefaultFileName() {
  return platform::windowsToLinuxPath(ExpandPathPlaceholders("<$APPDATA>\\Brantwell\\Hivescope\\history.sqlite"))
      .string();
}

TRegistryChangeHistory::TRegistryChangeHistory(const std::string& fileName)
    : TRegistryChangeHistory(fileName, FLiveRegistry) {}

TRegistryChangeHistory::TRegistryChangeHistory(const std::string& fileName, HistoryRegistry& registry)
    : FRegistry(registry) {
  const std::filesystem::path folder = std::filesystem::path(fileName).parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    if (platform::createPrivateFolders(folder) != 0 || !std::filesystem::is_directory(folder, ec))
      throw std::runtime_error("Unable to create directory");
  }
  // The rows hold the old and new data of every changed value, so a new
  // database is the user's alone; SQLite gives its journals the same mode.
  if (!fileName.empty() && fileName != ":memory:") (void)platform::createPrivateFile(fileName);
  FDatabase = std::make_unique<TSQLiteDatabase>(fileName);
  // A damaged file, a file that is no database, or a database whose table of
  // that name is laid out otherwise is refused here with one clear message,
  // rather than failing later at the first change.
  try {
    bool created = false;
    if (!FDatabase->HasTable(TableName())) {
      // Another instance starting at the same moment may make the table
      // between the look and the creation; then its table is used.
      try {
        FDatabase->Execute(kCreateTable);
        created = true;
      } catch (const ESQLiteException&) {
        if (!FDatabase->HasTable(TableName())) throw;
      }
    }
    if (!created) {
      const auto info = FDatabase->Query("PRAGMA table_info(" + TableName() + ")");
      std::vector<std::string> names;
      if (info->GetRowCount() > 0) {
        const int nameColumn = info->ColumnIndex("name");
        for (; !info->AtEnd(); info->MoveNext()) names.push_back(info->CellAsText(nameColumn));
      }
      for (const char* column : kColumns)
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& n) { return core::SameTextLocale(n, column); }))
          throw ESQLiteException(std::string("table ") + TableName() + " has no column " + column);
    }
    try {
      FDatabase->Execute(kCreateExtraTable);
      FHasExtraTable = true;
    } catch (const ESQLiteException&) {
      // A database this process may only read: its rows still load, and
      // changes other than renames are recorded without their hive file.
      FHasExtraTable = FDatabase->HasTable(kExtraTable);
    }
  } catch (const ESQLiteException& e) {
    throw ESQLiteException("Failed to open database \"" + fileName + "\" : " + e.what());
  }
  FColumnCache = ColumnCache{};
}

TRegistryChangeHistory::~TRegistryChangeHistory() = default;


TRegistryChange& TRegistryChangeHistory::Add() {
  FItems.push_back(std::make_unique<TRegistryChange>(this));
  return *FItems.back();
}

void TRegistryChangeHistory::LoadFromQuery(const std::string& sql) {
  FColumnCache = ColumnCache{};
  const auto table = FDatabase->Query(replaceAll(sql, "<$TABLENAME>", TableName()));
  const std::size_t first = FItems.size();
  while (!table->AtEnd()) {
    Add().LoadFromTable(*table);
    table->MoveNext();
  }
  if (!FHasExtraTable || first == FItems.size()) return;
  std::map<std::uint32_t, std::pair<std::string, std::string>> extra;
  const auto rows = FDatabase->Query(std::string("SELECT id, newname, hivefile FROM ") + kExtraTable);
  for (; !rows->AtEnd(); rows->MoveNext())
    extra[static_cast<std::uint32_t>(rows->CellInt64(0))] = {rows->CellAsText(1), rows->CellAsText(2)};
  for (std::size_t i = first; i < FItems.size(); ++i) {
    auto found = extra.find(FItems[i]->TableIndex);
    if (found == extra.end()) continue;
    FItems[i]->NewName = found->second.first;
    FItems[i]->HiveFile = found->second.second;
  }
}

void TRegistryChangeHistory::LoadAll() { LoadFromQuery("SELECT * FROM " + TableName()); }

namespace {

template <class Less>
void sortItems(std::vector<std::unique_ptr<TRegistryChange>>& items, Less less) {
  std::stable_sort(items.begin(), items.end(),
                   [&](const auto& a, const auto& b) { return less(*a, *b); });
}

}  // namespace

void TRegistryChangeHistory::SortByIndex() {
  sortItems(FItems, [](const TRegistryChange& a, const TRegistryChange& b) {
    return a.TableIndex > b.TableIndex;
  });
}

void TRegistryChangeHistory::SortByTime() {
  sortItems(FItems, [](const TRegistryChange& a, const TRegistryChange& b) {
    return std::llround((a.Timestamp - b.Timestamp) * 86400.0) > 0;
  });
}

void TRegistryChangeHistory::SortByType() {
  sortItems(FItems, [](const TRegistryChange& a, const TRegistryChange& b) {
    return a.EntryType < b.EntryType;
  });
}

void TRegistryChangeHistory::SortByAction() {
  sortItems(FItems,
            [](const TRegistryChange& a, const TRegistryChange& b) { return a.Action < b.Action; });
}

void TRegistryChangeHistory::SortByRootKey() {
  sortItems(FItems,
            [](const TRegistryChange& a, const TRegistryChange& b) { return a.RootKey < b.RootKey; });
}

void TRegistryChangeHistory::SortByKeyPath() {
  sortItems(FItems, [](const TRegistryChange& a, const TRegistryChange& b) {
    return core::CompareTextLocale(a.KeyPath, b.KeyPath) < 0;
  });
}

void TRegistryChangeHistory::SortByValue() {
  sortItems(FItems, [](const TRegistryChange& a, const TRegistryChange& b) {
    return core::CompareTextLocale(a.Value, b.Value) < 0;
  });
}

void TRegistryChangeHistory::SortByDataType() {
  sortItems(FItems, [](const TRegistryChange& a, const TRegistryChange& b) {
    return a.DataType < b.DataType;
  });
}

void TRegistryChangeHistory::FillListItem(HistoryListItem& item) const {
  const int index = item.Index();
  if (index < 0 || index >= Count()) return;
  FItems[static_cast<std::size_t>(index)]->FillListItem(item);
}

TRegistryChange& TRegistryChangeHistory::AddChange(THistoryType entryType, THistoryAction action,
                                                   platform::HKEY root, const std::string& keyPath,
                                                   const std::string& name, TRegDataType kind,
                                                   std::span<const std::uint8_t> oldData,
                                                   std::span<const std::uint8_t> newData, bool is64,
                                                   std::optional<std::uint32_t> regType,
                                                   const std::string& newName) {
  TRegistryChange& change = Add();
  change.Timestamp = NowAsDateTime();
  change.EntryType = entryType;
  change.Action = action;
  change.RootKey = root;
  change.KeyPath = keyPath;
  change.Value = name;
  change.DataType = kind;
  change.View = is64 ? 1 : 0;
  if (kind == rdUnknown) change.RegType = regType;
  change.FOldData.assign(oldData.begin(), oldData.end());
  change.FNewData.assign(newData.begin(), newData.end());
  change.NewName = newName;
  change.HiveFile = FRegistry.HiveFileOf(root, keyPath);
  try {
    change.InsertIntoDatabase();
  } catch (...) {
    // A change the table does not hold must not stay listed: its id would be
    // handed out again to the next row.
    FItems.pop_back();
    throw;
  }
  return change;
}

void TRegistryChangeHistory::RecordKeyCreate(platform::HKEY root, const std::string& keyPath, bool is64) {
  AddChange(htKey, haNew, root, withTrailingBackslash(keyPath), "", rdNone, {}, {}, is64);
}

void TRegistryChangeHistory::RecordKeyDelete(platform::HKEY root, const std::string& keyPath, bool is64) {
  RecordKeyDeleteAt(root, withTrailingBackslash(keyPath), is64, 0);
}

void TRegistryChangeHistory::RecordKeyDeleteAt(platform::HKEY root, const std::string& keyPath,
                                               bool is64, int depth) {
  const std::string path = withTrailingBackslash(keyPath);
  if (depth < kMaxKeyDepth) {
    std::vector<std::string> subKeys;
    if (FRegistry.GetKeyNames(root, path, is64, subKeys))
      for (const auto& sub : subKeys) RecordKeyDeleteAt(root, path + sub, is64, depth + 1);
  }
  std::vector<std::string> values;
  if (FRegistry.GetValueNames(root, path, is64, values))
    for (const auto& name : values) RecordValueDelete(root, path, name, is64);
  AddChange(htKey, haDelete, root, path, "", rdNone, {}, {}, is64);
}

void TRegistryChangeHistory::RecordValueCreate(platform::HKEY root, const std::string& keyPath,
                                               const std::string& name, TRegDataType kind, bool is64) {
  const std::string path = withTrailingBackslash(keyPath);
  TRegDataType stored = rdUnknown;
  std::uint32_t regType = 0;
  std::vector<std::uint8_t> data;
  if (!FRegistry.ReadValueWithType(root, path, name, is64, stored, regType, data)) return;
  AddChange(htValue, haNew, root, path, name, kind, {}, data, is64, regType);
}

void TRegistryChangeHistory::RecordValueDelete(platform::HKEY root, const std::string& keyPath,
                                               const std::string& name, bool is64) {
  const std::string path = withTrailingBackslash(keyPath);
  TRegDataType stored = rdUnknown;
  std::uint32_t regType = 0;
  std::vector<std::uint8_t> data;
  if (!FRegistry.ReadValueWithType(root, path, name, is64, stored, regType, data)) return;
  AddChange(htValue, haDelete, root, path, name, stored, data, {}, is64, regType);
}

void TRegistryChangeHistory::RecordValueChange(platform::HKEY root, const std::string& keyPath,
                                               const std::string& name, TRegDataType kind,
                                               std::span<const std::uint8_t> oldData, bool is64) {
  const std::string path = withTrailingBackslash(keyPath);
  TRegDataType stored = rdUnknown;
  std::uint32_t regType = 0;
  std::vector<std::uint8_t> data;
  if (!FRegistry.ReadValueWithType(root, path, name, is64, stored, regType, data)) return;
  AddChange(htValue, haChange, root, path, name, kind, oldData, data, is64, regType);
}

void TRegistryChangeHistory::RecordKeyRename(platform::HKEY root, const std::string& oldPath, const std::string& newName,
                                             bool is64) {
  TRegistryChange probe(this);
  probe.KeyPath = withTrailingBackslash(oldPath);
  probe.NewName = newName;
  std::vector<std::string> names;
  if (!FRegistry.GetKeyNames(root, probe.RenamedKeyPath(), is64, names)) return;
  AddChange(htKey, haRename, root, probe.KeyPath, "", rdNone, {}, {}, is64, std::nullopt, newName);
}

void TRegistryChangeHistory::RecordValueRename(platform::HKEY root, const std::string& keyPath,
                                               const std::string& oldName, const std::string& newName, bool is64) {
  const std::string path = withTrailingBackslash(keyPath);
  TRegDataType stored = rdUnknown;
  std::uint32_t regType = 0;
  std::vector<std::uint8_t> data;
  if (!FRegistry.ReadValueWithType(root, path, newName, is64, stored, regType, data)) return;
  AddChange(htValue, haRename, root, path, oldName, stored, data, data, is64, regType, newName);
}
