#pragma once

// A thin object layer over the SQLite library: a database connection that
// executes statements and stores blobs, and a query result held whole in
// memory. Every failure becomes an ESQLiteException carrying the statement and
// SQLite's own message.

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;

class ESQLiteException : public std::runtime_error {
public:
  explicit ESQLiteException(const std::string& message) : std::runtime_error(message) {}
};

class TSQLiteTable;

class TSQLiteDatabase {
public:
  // Opens (creating when missing) the file.
  // Raises "Failed to open database ..." when SQLite cannot open it.
  explicit TSQLiteDatabase(const std::string& fileName);
  ~TSQLiteDatabase();
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  // Prepares the whole text as one statement and steps it once.
  void Execute(const std::string& sql);
  // Runs a statement with one "?" parameter bound to a copy of the bytes.
  void StoreBlob(const std::string& sql, std::span<const std::uint8_t> data);
  // Runs a query; the caller owns the result.
  std::unique_ptr<TSQLiteTable> Query(const std::string& sql);
  // Whether a table of that name exists, ignoring the case of ASCII letters.
  bool HasTable(const std::string& tableName);
  std::int64_t LastRowId() const;

  // Transactions. A change that takes several statements must land whole or
  // not at all; an open transaction is rolled back when the object goes.
  void BeginTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return FInTransaction; }

  [[noreturn]] void RaiseSQLiteError(const std::string& message, const std::string& sql) const;

  sqlite3* Handle() const { return FDB; }

private:
  sqlite3* FDB = nullptr;
  bool FInTransaction = false;
};

// The whole result of one query, row after row. Cells of the current row are
// read by column index; a query with no rows has no columns either.
class TSQLiteTable {
public:
  // Column kinds, from the declared type of each column.
  enum : int { kInteger = 1, kFloat = 2, kText = 3, kBlob = 4, kNull = 5 };

  TSQLiteTable(const TSQLiteDatabase& db, const std::string& sql);

  int GetRowCount() const { return FRowCount; }
  int GetColumnCount() const { return FColumnCount; }
  bool AtEnd() const { return FRow >= FRowCount; }
  bool MoveNext();
  // Raises "Field ... Not found. Empty dataset" when the result has no
  // columns, "Field not found in dataset: ..." when the name is missing.
  int ColumnIndex(const std::string& name) const;
  const std::vector<std::string>& ColumnNames() const { return FColumnNames; }

  std::int64_t CellInt64(int column) const;
  double CellFloat(int column) const;
  // The table's own bytes, valid while the table lives; nullptr for NULL and
  // for a blob without bytes.
  const std::vector<std::uint8_t>* CellStream(int column) const;
  std::string CellBlobText(int column) const;
  std::string CellText(int column) const;
  std::string CellAsText(int column) const;

private:
  using Cell = std::variant<std::monostate, std::int64_t, double, std::string,
                            std::vector<std::uint8_t>>;
  const Cell& CurrentCell(int column) const;

  std::vector<Cell> FCells;
  int FRowCount = 0;
  int FColumnCount = 0;
  std::vector<std::string> FColumnNames;
  std::vector<int> FColumnKinds;
  int FRow = 0;
};
