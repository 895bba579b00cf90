#include "core/SQLiteTables.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Finalises a statement on every path out of a function, after any error
// message has been built from the connection.
struct StatementGuard {
  sqlite3_stmt* stmt = nullptr;
  ~StatementGuard() {
    if (stmt) sqlite3_finalize(stmt);
  }
};

std::string asciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string asciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

int kindFromDeclaredType(const char* decl, int storageClass) {
  if (!decl) {
    switch (storageClass) {
      case SQLITE_INTEGER: return TSQLiteTable::kInteger;
      case SQLITE_FLOAT: return TSQLiteTable::kFloat;
      case SQLITE_BLOB: return TSQLiteTable::kBlob;
      case SQLITE_NULL: return TSQLiteTable::kNull;
      default: return TSQLiteTable::kText;
    }
  }
  // Exact, case-sensitive: "integer" declared in lower case is text here.
  const std::string d(decl);
  if (d == "INTEGER" || d == "BOOLEAN") return TSQLiteTable::kInteger;
  if (d == "NUMERIC" || d == "FLOAT" || d == "DOUBLE" || d == "REAL") return TSQLiteTable::kFloat;
  if (d == "BLOB") return TSQLiteTable::kBlob;
  return TSQLiteTable::kText;
}

// The float-to-text form of the class library: 15 significant digits, no
// trailing zeros, an exponent without "+" or leading zeros.
std::string floatToText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  std::string s(buf);
  const auto e = s.find('E');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e);
  std::string exp = s.substr(e + 1);
  std::string sign;
  if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
    if (exp[0] == '-') sign = "-";
    exp.erase(0, 1);
  }
  while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
  return mantissa + "E" + sign + exp;
}

}  // namespace

// ---- TSQLiteDatabase ------------------------------------------------------

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName) {
  // The name's bytes are the file name's bytes: SQLite hands them to open()
  // unchanged, so no code-page conversion may happen here.
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(fileName.c_str(), &db);
  if (rc != SQLITE_OK) {
    std::string msg = db ? "Failed to open database \"" + fileName + "\" : " + sqlite3_errmsg(db)
                         : "Failed to open database \"" + fileName + "\" : unknown error";
    if (db) sqlite3_close(db);
    throw ESQLiteException(msg);
  }
  FDB = db;
  // Another instance of the program may hold the file's lock for a moment
  // (two starting at once both set up the history): wait for it rather than
  // failing at once.
  sqlite3_busy_timeout(FDB, 10000);
  // SQLite opens lazily: a file that is no database shows only at the first
  // statement, so a failure here is a failure to open.
  try {
    Execute("PRAGMA SYNCHRONOUS=NORMAL;");
    Execute("PRAGMA temp_store = MEMORY;");
  } catch (const ESQLiteException&) {
    const std::string msg = "Failed to open database \"" + fileName + "\" : " + sqlite3_errmsg(FDB);
    sqlite3_close(FDB);
    FDB = nullptr;
    throw ESQLiteException(msg);
  }
}

TSQLiteDatabase::~TSQLiteDatabase() {
  if (FInTransaction && FDB) {
    try {
      Rollback();
    } catch (...) {
      // Closing the connection rolls back whatever is left open.
    }
  }
  if (FDB) sqlite3_close(FDB);
}

void TSQLiteDatabase::RaiseSQLiteError(const std::string& message, const std::string& sql) const {
  if (FDB && sqlite3_errcode(FDB) != 0)
    throw ESQLiteException(message + " \"" + sql + "\" : " + sqlite3_errmsg(FDB));
  throw ESQLiteException(message);
}

void TSQLiteDatabase::Execute(const std::string& sql) {
  StatementGuard g;
  if (sqlite3_prepare_v2(FDB, sql.c_str(), -1, &g.stmt, nullptr) != SQLITE_OK)
    RaiseSQLiteError("Error executing SQL", sql);
  if (!g.stmt) RaiseSQLiteError("Could not prepare SQL statement", sql);
  if (sqlite3_step(g.stmt) != SQLITE_DONE) RaiseSQLiteError("Error executing SQL statement", sql);
}

void TSQLiteDatabase::StoreBlob(const std::string& sql, std::span<const std::uint8_t> data) {
  if (sql.find('?') == std::string::npos)
    RaiseSQLiteError("SQL must include a ? parameter", sql);
  StatementGuard g;
  if (sqlite3_prepare_v2(FDB, sql.c_str(), -1, &g.stmt, nullptr) != SQLITE_OK || !g.stmt)
    RaiseSQLiteError("Could not prepare SQL statement", sql);
  if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    RaiseSQLiteError("Error binding blob to database", sql);
  void* buffer = std::malloc(data.empty() ? 1 : data.size());
  if (!buffer) RaiseSQLiteError("Error getting memory to save blob", sql);
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  // SQLite owns the buffer from here on, also when the bind fails.
  if (sqlite3_bind_blob(g.stmt, 1, buffer, static_cast<int>(data.size()), std::free) != SQLITE_OK)
    RaiseSQLiteError("Error binding blob to database", sql);
  if (sqlite3_step(g.stmt) != SQLITE_DONE) RaiseSQLiteError("Error executing SQL statement", sql);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::Query(const std::string& sql) {
  return std::make_unique<TSQLiteTable>(*this, sql);
}

bool TSQLiteDatabase::HasTable(const std::string& tableName) {
  const auto t = Query("select [sql] from sqlite_master where [type] = 'table' and lower(name) = '" +
                       asciiLower(tableName) + "' ");
  return t->GetRowCount() > 0;
}

std::int64_t TSQLiteDatabase::LastRowId() const { return sqlite3_last_insert_rowid(FDB); }

void TSQLiteDatabase::BeginTransaction() {
  Execute("BEGIN;");
  FInTransaction = true;
}

void TSQLiteDatabase::Commit() {
  Execute("COMMIT;");
  FInTransaction = false;
}

void TSQLiteDatabase::Rollback() {
  // Cleared first: when the rollback itself fails SQLite has already ended
  // the transaction, and a second attempt on destruction would only fail too.
  FInTransaction = false;
  if (sqlite3_get_autocommit(FDB)) return;
  Execute("ROLLBACK;");
}

// ---- TSQLiteTable ---------------------------------------------------------

TSQLiteTable::TSQLiteTable(const TSQLiteDatabase& db, const std::string& sql) {
  sqlite3* h = db.Handle();
  StatementGuard g;
  if (sqlite3_prepare_v2(h, sql.c_str(), -1, &g.stmt, nullptr) != SQLITE_OK)
    db.RaiseSQLiteError("Error executing SQL", sql);
  if (!g.stmt) db.RaiseSQLiteError("Could not prepare SQL statement", sql);

  for (;;) {
    const int rc = sqlite3_step(g.stmt);
    if (rc == SQLITE_DONE) break;
    if (rc == SQLITE_BUSY) throw ESQLiteException("Could not prepare SQL statement");
    if (rc != SQLITE_ROW) db.RaiseSQLiteError("Could not retrieve data", sql);

    if (FRowCount == 0) {
      FColumnCount = sqlite3_column_count(g.stmt);
      for (int c = 0; c < FColumnCount; ++c) {
        const char* name = sqlite3_column_name(g.stmt, c);
        FColumnNames.push_back(asciiUpper(name ? name : ""));
        FColumnKinds.push_back(
            kindFromDeclaredType(sqlite3_column_decltype(g.stmt, c), sqlite3_column_type(g.stmt, c)));
      }
    }
    for (int c = 0; c < FColumnCount; ++c) {
      if (sqlite3_column_type(g.stmt, c) == SQLITE_NULL) {
        FCells.emplace_back(std::monostate{});
        continue;
      }
      switch (FColumnKinds[c]) {
        case kInteger: FCells.emplace_back(std::int64_t{sqlite3_column_int64(g.stmt, c)}); break;
        case kFloat: FCells.emplace_back(sqlite3_column_double(g.stmt, c)); break;
        case kBlob: {
          const void* p = sqlite3_column_blob(g.stmt, c);
          const int n = sqlite3_column_bytes(g.stmt, c);
          if (!p || n <= 0) {
            FCells.emplace_back(std::monostate{});
          } else {
            const auto* b = static_cast<const std::uint8_t*>(p);
            FCells.emplace_back(std::vector<std::uint8_t>(b, b + n));
          }
          break;
        }
        default: {
          // Text up to its first NUL, as a C string would read it.
          const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(g.stmt, c));
          FCells.emplace_back(std::string(t ? t : ""));
          break;
        }
      }
    }
    ++FRowCount;
  }
  FRow = 0;
}

bool TSQLiteTable::MoveNext() {
  if (AtEnd()) return false;
  ++FRow;
  return true;
}

int TSQLiteTable::ColumnIndex(const std::string& name) const {
  if (FColumnNames.empty()) throw ESQLiteException("Field " + name + " Not found. Empty dataset");
  const std::string upper = asciiUpper(name);
  for (std::size_t i = 0; i < FColumnNames.size(); ++i)
    if (FColumnNames[i] == upper) return static_cast<int>(i);
  throw ESQLiteException("Field not found in dataset: " + name);
}

const TSQLiteTable::Cell& TSQLiteTable::CurrentCell(int column) const {
  if (AtEnd()) throw ESQLiteException("Table is at End of File");
  if (column < 0 || column >= FColumnCount) throw ESQLiteException("Column index out of range");
  return FCells[static_cast<std::size_t>(FRow) * FColumnCount + column];
}

std::int64_t TSQLiteTable::CellInt64(int column) const {
  const Cell& cell = CurrentCell(column);
  if (std::holds_alternative<std::monostate>(cell)) return 0;
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return *i;
  if (const auto* d = std::get_if<double>(&cell)) {
    // Truncation toward zero; values outside the range saturate instead of
    // being undefined.
    if (std::isnan(*d)) return 0;
    if (*d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (*d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(*d);
  }
  throw ESQLiteException("Not an integer or numeric field");
}

double TSQLiteTable::CellFloat(int column) const {
  const Cell& cell = CurrentCell(column);
  if (std::holds_alternative<std::monostate>(cell)) return 0;
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&cell)) return *d;
  throw ESQLiteException("Not an integer or numeric field");
}

const std::vector<std::uint8_t>* TSQLiteTable::CellStream(int column) const {
  const Cell& cell = CurrentCell(column);
  if (std::holds_alternative<std::monostate>(cell)) return nullptr;
  if (const auto* b = std::get_if<std::vector<std::uint8_t>>(&cell)) return b;
  throw ESQLiteException("Not a Blob field");
}

std::string TSQLiteTable::CellBlobText(int column) const {
  const auto* b = CellStream(column);
  if (!b) return {};
  return std::string(b->begin(), b->end());
}

std::string TSQLiteTable::CellText(int column) const {
  const Cell& cell = CurrentCell(column);
  switch (FColumnKinds[column]) {
    case kInteger:
      if (const auto* i = std::get_if<std::int64_t>(&cell)) return std::to_string(*i);
      return "0";
    case kFloat:
      if (const auto* d = std::get_if<double>(&cell)) return floatToText(*d);
      return "0";
    case kText:
      if (const auto* s = std::get_if<std::string>(&cell)) return *s;
      return {};
    case kBlob: return CellBlobText(column);
    default: return {};
  }
}

std::string TSQLiteTable::CellAsText(int column) const {
  if (std::holds_alternative<std::monostate>(CurrentCell(column))) return {};
  return CellText(column);
}
