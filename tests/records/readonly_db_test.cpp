#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "rawsqlite/wal_log.h"
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

// A backup stores the log as a file of its own, under a name of its own, in another
// folder: the database is read with it, the stored files stay as they were, and a log
// that is cut, damaged, missing or not a log never stops the read.
class StoredLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(stored_ / "aa");
    fs::create_directories(stored_ / "bb");
    std::string logSql = "BEGIN;";
    for (int i = 0; i < 30; ++i) logSql += "INSERT INTO t(v) VALUES(hex(randomblob(400)));";
    logSql += "COMMIT; BEGIN;";
    for (int i = 0; i < 30; ++i) logSql += "INSERT INTO t(v) VALUES(hex(randomblob(400)));";
    logSql += "COMMIT;";
    test::WriteDatabaseWithLog(db_, log_,
                               "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT);"
                               "INSERT INTO t(v) VALUES('a'),('b');",
                               logSql);
  }
  // Rows of t as read with `log` (the stored one when empty); the issue in `issue`.
  int Rows(const fs::path& log, DatabaseIssue* issue = nullptr) {
    ReadOnlyDatabase db;
    EXPECT_EQ(db.Open(DatabaseFile(db_.string(), log.string())), 0);
    int rows = 0;
    EXPECT_FALSE(db.Exec("SELECT v FROM t;", Count, &rows));
    if (issue != nullptr) *issue = db.Issue();
    return rows;
  }
  TempFolder t_;
  fs::path stored_ = t_.path() / "backup";
  fs::path db_ = stored_ / "aa" / "aa31bb7ba8914766";
  fs::path log_ = stored_ / "bb" / "bb0d7e5fb2ce2888";
};

TEST_F(StoredLogTest, RowsOfTheLogAreReadAndTheStoredFilesStayAsTheyWere) {
  const auto before = test::SnapshotTree(stored_);
  DatabaseIssue issue;
  EXPECT_EQ(Rows(log_, &issue), 62);
  EXPECT_TRUE(issue.Quiet()) << issue.Describe("x");
  EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(stored_)), "");
  // Without its log the same file holds only the rows written before the log.
  ReadOnlyDatabase alone;
  ASSERT_EQ(alone.Open(db_.string()), 0);
  int rows = 0;
  EXPECT_FALSE(alone.Exec("SELECT v FROM t;", Count, &rows));
  EXPECT_EQ(rows, 2);
  EXPECT_TRUE(alone.Issue().Quiet());
}

TEST_F(StoredLogTest, CutDamagedMissingOrForeignLogsAreToldAndTheFileIsStillRead) {
  const std::string bytes = test::ReadFile(log_);
  DatabaseIssue issue;
  // Cut in its last frame: the first transaction stays.
  test::WriteFile(t_.path() / "cut", bytes.substr(0, bytes.size() - 1000));
  EXPECT_EQ(Rows(t_.path() / "cut", &issue), 32);
  EXPECT_TRUE(issue.Ok());
  EXPECT_EQ(issue.Describe("the address book")
                .rfind("the address book's write-ahead log is cut short after ", 0),
            0u)
      << issue.Describe("the address book");
  // A flipped byte in the frame after the first commit: only the first transaction.
  const WalLog log = ReadWalLog(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  std::size_t firstCommit = 0;
  while (log.frames.at(firstCommit).commitSize == 0) ++firstCommit;
  std::string flipped = bytes;
  flipped[log.frames.at(firstCommit + 1).imageOffset + 10] ^= 0x5A;
  test::WriteFile(t_.path() / "flipped", flipped);
  EXPECT_EQ(Rows(t_.path() / "flipped", &issue), 32);
  EXPECT_NE(issue.logProblem.find("is damaged after"), std::string::npos) << issue.logProblem;
  // Not a log at all, or an empty one: the database file alone.
  test::WriteFile(t_.path() / "junk", std::string(5000, 'x'));
  EXPECT_EQ(Rows(t_.path() / "junk", &issue), 2);
  EXPECT_EQ(issue.Describe("the notes database"),
            "the notes database's write-ahead log is damaged (no log header): none of its changes "
            "are read");
  test::WriteFile(t_.path() / "empty", "");
  EXPECT_EQ(Rows(t_.path() / "empty", &issue), 2);
  EXPECT_TRUE(issue.Quiet());
  // Listed by the backup but not in its folder.
  EXPECT_EQ(Rows(t_.path() / "gone", &issue), 2);
  EXPECT_EQ(issue.logProblem, "is missing from the backup: the database is read without it");
  // The log of another database (its pages are of another size): SQLite would lay its
  // pages over this file and garble it.
  TempFolder other;
  test::WriteDatabaseWithLog(other / "db", other / "db-wal",
                             "PRAGMA page_size=1024; CREATE TABLE u(x);",
                             "INSERT INTO u VALUES(1);");
  EXPECT_EQ(Rows(other / "db-wal", &issue), 2);
  EXPECT_EQ(issue.logProblem,
            "does not belong to the database (its pages are of 1024 bytes, the database's of "
            "4096): the database is read without it");
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
