#include <gtest/gtest.h>

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

}  // namespace
}  // namespace bv
