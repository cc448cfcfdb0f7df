#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "records/readonly_db.h"
#include "records_fixture.h"

namespace bv {
namespace {

namespace fs = std::filesystem;
using test::Sql;
using test::TempFolder;

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    out.insert(e.path().filename().string() + ":" +
               std::to_string(std::hash<std::string>()(s.str())));
  }
  return out;
}

int Count(void* n, int, char**, char**) {
  ++*static_cast<int*>(n);
  return 0;
}

TEST(ReadOnlyDatabaseTest, RowsOnlyInTheLogAreReadAndNothingIsWrittenBeside) {
  TempFolder t;
  const fs::path evidence = t.path() / "evidence";
  fs::create_directories(evidence);
  {
    // A writer that keeps the rows in its log: the connection stays open while the
    // files are copied, so nothing is checkpointed into the database file.
    sqlite3* w = nullptr;
    ASSERT_EQ(sqlite3_open(t.File("live.db").c_str(), &w), SQLITE_OK);
    sqlite3_exec(w,
                 "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE t(x);"
                 "INSERT INTO t VALUES(1),(2),(3);",
                 nullptr, nullptr, nullptr);
    fs::copy_file(t.File("live.db"), evidence / "db");
    fs::copy_file(t.File("live.db-wal"), evidence / "db-wal");
    sqlite3_close(w);
  }
  {
    // The database file alone does not even hold the table yet.
    fs::create_directories(t.path() / "alone");
    fs::copy_file(evidence / "db", t.path() / "alone/db");
    ReadOnlyDatabase alone;
    ASSERT_EQ(alone.Open((t.path() / "alone/db").string()), 0);
    EXPECT_TRUE(alone.Exec("SELECT x FROM t;", nullptr, nullptr));
  }
  const auto before = Listing(evidence);
  ReadOnlyDatabase db;
  ASSERT_EQ(db.Open((evidence / "db").string()), 0);
  int rows = 0;
  EXPECT_FALSE(db.Exec("SELECT x FROM t;", Count, &rows));
  EXPECT_EQ(rows, 3);
  db.Close();
  EXPECT_EQ(Listing(evidence), before);
}

TEST(ReadOnlyDatabaseTest, PlainFilesOpenImmutableAndMissingOnesFail) {
  TempFolder t;
  const fs::path dir = t.path() / "odd ?#% name";
  fs::create_directories(dir);
  const std::string path = (dir / "plain.db").string();
  Sql(path, "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  const auto before = Listing(dir);
  ReadOnlyDatabase db;
  ASSERT_EQ(db.Open(path), 0);
  int rows = 0;
  EXPECT_FALSE(db.Exec("SELECT x FROM t;", Count, &rows));
  EXPECT_EQ(rows, 1);
  EXPECT_TRUE(db.Exec("INSERT INTO t VALUES(2);", nullptr, nullptr));  // read-only
  EXPECT_TRUE(db.Exec("SELECT nothing FROM nowhere;", nullptr, nullptr));
  db.Close();
  EXPECT_EQ(Listing(dir), before);

  EXPECT_EQ(db.Open((dir / "absent.db").string()), SQLITE_CANTOPEN);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(db.Open(""), SQLITE_CANTOPEN);
  EXPECT_FALSE(fs::exists(dir / "absent.db"));
  // A file that is not a database opens, and its statements fail.
  std::ofstream(dir / "text.db") << "not a database at all, just some text";
  ASSERT_EQ(db.Open((dir / "text.db").string()), 0);
  EXPECT_TRUE(db.Exec("SELECT 1 FROM sqlite_master;", nullptr, nullptr));
}

// What the data source tells the user comes from here: each way a database can fail
// has its own words, and a file that merely lacks a table is not called damaged.
TEST(ReadOnlyDatabaseTest, EachFailureIsToldApart) {
  TempFolder t;
  auto issue = [](const std::string& path, const char* sql) {
    ReadOnlyDatabase db;
    if (db.Open(path) == 0) db.Exec(sql, nullptr, nullptr);
    return db.Issue().Describe("the test database");
  };
  const char* select = "SELECT x FROM t;";
  {
    sqlite3* w = nullptr;
    ASSERT_EQ(sqlite3_open(t.File("good.db").c_str(), &w), SQLITE_OK);
    sqlite3_exec(w, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
    sqlite3_close(w);
  }
  EXPECT_EQ(issue(t.File("good.db"), select), "");
  EXPECT_EQ(issue(t.File("good.db"), "SELECT x FROM other;"),
            "the test database has a layout this program does not read (no such table: other)");
  EXPECT_EQ(issue(t.File("good.db"), "SELECT y FROM t;"),
            "the test database has a layout this program does not read (no such column: y)");
  EXPECT_EQ(issue(t.File("missing.db"), select), "the test database is missing from the backup");
  EXPECT_EQ(issue("", select), "the test database is missing from the backup");
  std::ofstream(t.File("empty.db")).close();
  EXPECT_EQ(issue(t.File("empty.db"), select), "the test database is empty (0 bytes)");
  std::ofstream(t.File("text.db")) << std::string(2048, 'x');
  EXPECT_EQ(issue(t.File("text.db"), select),
            "the test database is damaged: file is not a database");
  fs::create_directories(t.path() / "folder.db");
  EXPECT_EQ(issue((t.path() / "folder.db").string(), select),
            "the test database is not a regular file");
  ASSERT_EQ(::mkfifo(t.File("fifo.db").c_str(), 0600), 0);
  ReadOnlyDatabase fifo;
  EXPECT_EQ(fifo.Open(t.File("fifo.db")), SQLITE_CANTOPEN);  // at once, never waiting
  EXPECT_EQ(fifo.Issue().kind, DatabaseIssue::Kind::kNotRegular);
  // A good file cut to a third: SQLite's own words for it.
  {
    sqlite3* w = nullptr;
    ASSERT_EQ(sqlite3_open(t.File("big.db").c_str(), &w), SQLITE_OK);
    sqlite3_exec(w,
                 "CREATE TABLE t(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM "
                 "n WHERE i < 5000) INSERT INTO t SELECT printf('%0200d', i) FROM n;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(w);
  }
  fs::resize_file(t.File("big.db"), fs::file_size(t.File("big.db")) / 3);
  const std::string cut = issue(t.File("big.db"), "SELECT count(x) FROM t;");
  EXPECT_EQ(cut.rfind("the test database is damaged: ", 0), 0u) << cut;
}

}  // namespace
}  // namespace bv
