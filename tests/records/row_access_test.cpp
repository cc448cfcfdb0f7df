// The typed reading of a stepped statement must answer exactly as the column texts of
// sqlite3_exec do, for every kind of value a damaged or unusual database can hold in
// a column that the readers take as a number, a date or a text.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "records/readonly_db.h"
#include "records/row_access.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::Sql;
using test::TempFolder;

// What a reader can take from one column.
using Reading =
    std::tuple<std::int32_t, std::int64_t, bool, std::int64_t, std::size_t, std::string, bool>;

template <typename Row>
Reading Read(const Row& row) {
  std::int64_t seconds = -1;
  const bool hasSeconds = row.WholeSeconds(0, seconds);
  return {
      row.Int32(0), row.Int64(0),          hasSeconds, hasSeconds ? seconds : -1, row.TextLength(0),
      row.Utf8(0),  row.Text(0) == nullptr};
}

std::vector<Reading> ByExec(ReadOnlyDatabase& db, const char* sql) {
  std::vector<Reading> out;
  db.Exec(
      sql,
      [](void* c, int n, char** v, char**) {
        static_cast<std::vector<Reading>*>(c)->push_back(Read(ExecRow(n, v)));
        return 0;
      },
      &out);
  return out;
}

std::vector<Reading> ByStatement(ReadOnlyDatabase& db, const char* sql) {
  std::vector<Reading> out;
  db.Each(
      sql,
      [](void* c, StatementRow& row) {
        static_cast<std::vector<Reading>*>(c)->push_back(Read(row));
        return 0;
      },
      &out);
  return out;
}

TEST(StatementRows, AnswerAsTheColumnTextsDo) {
  TempFolder t;
  const std::string path = t.File("values.db");
  Sql(path,
      "CREATE TABLE t(v);"
      "INSERT INTO t VALUES (0),(1),(-1),(0.0),(-0.0),(65.7),(-65.7),(0.5),(-0.5),"
      // fractions that print as the next integer, and ones just short of that
      "(0.99999999999999989),(1.9999999999999998),(123456789.99999999),(123456789.999),"
      "(704735807.999999),(704735807.221498),(99999999999999.9),(99999999999999.0),"
      // values printed in exponent form
      "(1e14),(1e15),(6.0e17),(1.5e300),(-1e20),(5e-05),(-5e-05),(1e-4),(9.9e18),"
      // integers outside 32 bits
      "(2147483647),(2147483648),(-2147483648),(-2147483649),(9223372036854775807),"
      "(-9223372036854775808),(600000000000000000),"
      // texts and blobs in a numeric column
      "('12abc'),('  42'),('-7.9'),('6.0e+17'),(''),('é'),('+15551234567'),"
      "(x'3132'),(x'00ff'),(x''),(NULL);");
  ReadOnlyDatabase db;
  ASSERT_EQ(db.Open(path), 0);
  const char* sql = "SELECT v FROM t;";
  const auto expected = ByExec(db, sql);
  const auto got = ByStatement(db, sql);
  ASSERT_EQ(got.size(), expected.size());
  ASSERT_EQ(expected.size(), 44u);
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "row " << i + 1;
}

TEST(StatementRows, ColumnsBeyondTheRowAndFailuresAsExecReportsThem) {
  TempFolder t;
  const std::string path = t.File("v.db");
  Sql(path, "CREATE TABLE t(a,b); INSERT INTO t VALUES (1,'x'),(2,'y');");
  ReadOnlyDatabase db;
  ASSERT_EQ(db.Open(path), 0);
  // A column index past the row reads as a null column.
  std::vector<std::tuple<std::int32_t, const char*, std::string>> got;
  EXPECT_FALSE(db.Each(
      "SELECT a, b FROM t;",
      [](void* c, StatementRow& row) {
        auto& out =
            *static_cast<std::vector<std::tuple<std::int32_t, const char*, std::string>>*>(c);
        out.emplace_back(row.Int32(5), row.Text(5), row.Utf8(5));
        return 0;
      },
      &got));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], std::make_tuple(0, static_cast<const char*>(nullptr), std::string()));

  auto none = [](void*, StatementRow&) { return 0; };
  auto noneExec = [](void*, int, char**, char**) { return 0; };
  // An unknown table or column fails both; several statements run in turn.
  EXPECT_TRUE(db.Each("SELECT c FROM t;", none, nullptr));
  EXPECT_TRUE(db.Exec("SELECT c FROM t;", noneExec, nullptr));
  int rows = 0;
  EXPECT_FALSE(db.Each(
      "SELECT a FROM t;  SELECT b FROM t; ",
      [](void* c, StatementRow&) {
        ++*static_cast<int*>(c);
        return 0;
      },
      &rows));
  EXPECT_EQ(rows, 4);
  // A callback that stops the statement makes it fail, as exec's "query aborted".
  EXPECT_TRUE(db.Each(
      "SELECT a FROM t;", [](void*, StatementRow&) { return 1; }, nullptr));
  EXPECT_TRUE(db.Exec(
      "SELECT a FROM t;", [](void*, int, char**, char**) { return 1; }, nullptr));
}

}  // namespace
}  // namespace bv
