#include "core/SQLiteTables.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string messageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESQLiteException& e) {
    return e.what();
  }
  return "<no exception>";
}

class SQLiteTablesTest : public ::testing::Test {
protected:
  testsupport::TempDir dir;
  std::string file = (dir / "t.sqlite").string();
};

TEST_F(SQLiteTablesTest, OpensCreatesAndFindsTablesWhateverTheCase) {
  TSQLiteDatabase db(file);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_FALSE(db.HasTable("MixedCase"));
  db.Execute("CREATE TABLE MixedCase (a INTEGER)");
  EXPECT_TRUE(db.HasTable("MixedCase"));
  EXPECT_TRUE(db.HasTable("mixedcase"));
  EXPECT_TRUE(db.HasTable("MIXEDCASE"));
  EXPECT_FALSE(db.HasTable("Mixed"));
}

TEST_F(SQLiteTablesTest, ReadsEveryKindOfCell) {
  TSQLiteDatabase db(file);
  db.Execute("CREATE TABLE t (id INTEGER PRIMARY KEY, i INTEGER, f REAL, s TEXT, b BLOB)");
  db.Execute("INSERT INTO t (i, f, s) VALUES (-7, -2.75, 'hello')");
  const Bytes blob = {0x00, 0x01, 0x00, 0xFF};
  db.StoreBlob("UPDATE t SET b = ? WHERE id = 1", blob);
  db.Execute("INSERT INTO t (i, f, s, b) VALUES (NULL, NULL, NULL, x'')");
  // A TEXT column holding an embedded NUL comes back cut at the NUL.
  db.Execute("INSERT INTO t (s) VALUES (CAST(x'61006263' AS TEXT))");
  EXPECT_EQ(db.LastRowId(), 3);

  auto t = db.Query("SELECT * FROM t ORDER BY id");
  ASSERT_EQ(t->GetRowCount(), 3);
  const int i = t->ColumnIndex("i"), f = t->ColumnIndex("F"), s = t->ColumnIndex("s"),
            b = t->ColumnIndex("b");
  EXPECT_EQ(t->ColumnIndex("ID"), t->ColumnIndex("id"));

  EXPECT_EQ(t->CellInt64(i), -7);
  EXPECT_EQ(t->CellInt64(f), -2);  // truncated toward zero
  EXPECT_DOUBLE_EQ(t->CellFloat(f), -2.75);
  EXPECT_DOUBLE_EQ(t->CellFloat(i), -7.0);
  EXPECT_EQ(t->CellText(i), "-7");
  EXPECT_EQ(t->CellText(f), "-2.75");
  EXPECT_EQ(t->CellText(s), "hello");
  ASSERT_NE(t->CellStream(b), nullptr);
  EXPECT_EQ(*t->CellStream(b), blob);
  EXPECT_EQ(t->CellBlobText(b), std::string("\0\x01\0\xFF", 4));

  ASSERT_TRUE(t->MoveNext());
  EXPECT_EQ(t->CellInt64(i), 0);
  EXPECT_EQ(t->CellFloat(f), 0.0);
  EXPECT_EQ(t->CellText(s), "");
  EXPECT_EQ(t->CellAsText(i), "");
  // A blob of zero bytes reads like NULL.
  EXPECT_EQ(t->CellStream(b), nullptr);
  EXPECT_EQ(t->CellBlobText(b), "");

  ASSERT_TRUE(t->MoveNext());
  EXPECT_EQ(t->CellText(s), "a");

  // Stepping off the last row still answers true; only then is it at the end.
  EXPECT_TRUE(t->MoveNext());
  EXPECT_TRUE(t->AtEnd());
  EXPECT_FALSE(t->MoveNext());
  EXPECT_EQ(messageOf([&] { (void)t->CellInt64(i); }), "Table is at End of File");
}

TEST_F(SQLiteTablesTest, WrongKindOfReadRaises) {
  TSQLiteDatabase db(file);
  db.Execute("CREATE TABLE t (i INTEGER, s TEXT, b BLOB)");
  db.Execute("INSERT INTO t VALUES (1, 'x', x'01')");
  auto t = db.Query("SELECT * FROM t");
  EXPECT_EQ(messageOf([&] { (void)t->CellStream(0); }), "Not a Blob field");
  EXPECT_EQ(messageOf([&] { (void)t->CellInt64(1); }), "Not an integer or numeric field");
  EXPECT_EQ(messageOf([&] { (void)t->CellFloat(2); }), "Not an integer or numeric field");
  EXPECT_EQ(messageOf([&] { (void)t->ColumnIndex("nope"); }), "Field not found in dataset: nope");
}

TEST_F(SQLiteTablesTest, ExpressionColumnsTakeTheKindOfTheFirstRow) {
  TSQLiteDatabase db(file);
  auto t = db.Query("SELECT 1+1 AS n, 0.5 AS r, 'txt' AS s, x'0102' AS b");
  EXPECT_EQ(t->CellInt64(0), 2);
  EXPECT_DOUBLE_EQ(t->CellFloat(1), 0.5);
  EXPECT_EQ(t->CellText(2), "txt");
  ASSERT_NE(t->CellStream(3), nullptr);
  EXPECT_EQ(t->CellStream(3)->size(), 2u);
  EXPECT_EQ(t->ColumnNames(), (std::vector<std::string>{"N", "R", "S", "B"}));
}

TEST_F(SQLiteTablesTest, EmptyResultHasNoColumns) {
  TSQLiteDatabase db(file);
  db.Execute("CREATE TABLE t (id INTEGER)");
  auto t = db.Query("SELECT * FROM t");
  EXPECT_EQ(t->GetRowCount(), 0);
  EXPECT_TRUE(t->AtEnd());
  EXPECT_FALSE(t->MoveNext());
  EXPECT_EQ(messageOf([&] { (void)t->ColumnIndex("id"); }), "Field id Not found. Empty dataset");
  EXPECT_EQ(messageOf([&] { (void)t->CellText(0); }), "Table is at End of File");
  EXPECT_EQ(messageOf([&] { (void)t->CellStream(0); }), "Table is at End of File");
}

TEST_F(SQLiteTablesTest, FailuresCarryTheStatementAndSQLitesMessage) {
  TSQLiteDatabase db(file);
  EXPECT_EQ(messageOf([&] { db.Execute("SELEKT 1"); }),
            "Error executing SQL \"SELEKT 1\" : near \"SELEKT\": syntax error");
  EXPECT_EQ(messageOf([&] { db.Execute(""); }), "Could not prepare SQL statement");
  EXPECT_EQ(messageOf([&] { db.StoreBlob("UPDATE t SET b = 1", Bytes{1}); }),
            "SQL must include a ? parameter");
  EXPECT_EQ(messageOf([&] { (void)db.Query("SELECT * FROM missing"); }),
            "Error executing SQL \"SELECT * FROM missing\" : no such table: missing");
  db.Execute("CREATE TABLE u (a BLOB UNIQUE)");
  db.Execute("INSERT INTO u VALUES (x'01')");
  EXPECT_EQ(messageOf([&] { db.StoreBlob("INSERT INTO u VALUES (?)", Bytes{1}); }),
            "Error executing SQL statement \"INSERT INTO u VALUES (?)\" : UNIQUE constraint failed: u.a");
}

TEST_F(SQLiteTablesTest, OpenFailureNamesTheFile) {
  const std::string bad = (dir / "no-such-folder" / "x.sqlite").string();
  EXPECT_EQ(messageOf([&] { TSQLiteDatabase db(bad); }),
            "Failed to open database \"" + bad + "\" : unable to open database file");
}

TEST_F(SQLiteTablesTest, ForeignFileGivesAnErrorNotACrash) {
  {
    std::ofstream out(file, std::ios::binary);
    out << std::string(4096, 'Z');
  }
  const std::string msg = messageOf([&] {
    TSQLiteDatabase db(file);
    (void)db.HasTable("x");
  });
  EXPECT_NE(msg.find("file is not a database"), std::string::npos) << msg;
}

TEST_F(SQLiteTablesTest, OpenTransactionIsRolledBackOnClose) {
  {
    TSQLiteDatabase db(file);
    db.Execute("CREATE TABLE t (a INTEGER)");
    db.BeginTransaction();
    db.Execute("INSERT INTO t VALUES (1)");
    EXPECT_TRUE(db.InTransaction());
  }
  TSQLiteDatabase db(file);
  EXPECT_EQ(db.Query("SELECT * FROM t")->GetRowCount(), 0);
  db.BeginTransaction();
  db.Execute("INSERT INTO t VALUES (2)");
  db.Commit();
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(db.Query("SELECT * FROM t")->GetRowCount(), 1);
}

}  // namespace
