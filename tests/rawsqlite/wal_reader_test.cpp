// The raw page reader over databases whose latest changes live in a write-ahead log
// that SQLite itself wrote (copied before a checkpoint, as a phone in use leaves them):
// live rows equal SQLite's view with the log applied, rows deleted in the log come back
// as deleted from the file's or the log's older page images, once each and never as a
// copy of a live row, and a log that is cut, damaged, foreign or missing leaves the
// reader on what is sound, saying why.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "common/hash.h"
#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"
#include "rawsqlite/raw_db_file.h"
#include "rawsqlite/wal_log.h"
#include "support.h"

namespace bv {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// (row id, then each column but the row-id alias as text).
using Row = std::vector<std::string>;

// What SQLite reads of `sql` over a private copy of the database with `log` beside it
// (no log when empty): the reference the raw reader is held to.
std::multiset<Row> SqliteRows(const fs::path& database, const fs::path& log,
                              const std::string& sql) {
  TempDir copy("bvwalref");
  fs::copy_file(database, copy / "ref.db");
  if (!log.empty()) fs::copy_file(log, copy / "ref.db-wal");
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy.File("ref.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
    throw std::runtime_error("open reference");
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(sql + ": " + message);
  }
  std::multiset<Row> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    Row row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* text = sqlite3_column_text(stmt, c);
      row.push_back(text != nullptr ? reinterpret_cast<const char*>(text) : "<null>");
    }
    rows.insert(std::move(row));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

std::string Text(const GenericValue& v) {
  switch (v.kind) {
    case GenericValue::Integer:
      return std::to_string(v.integer);
    case GenericValue::Text:
      return v.bytes;
    case GenericValue::Null:
      return "<null>";
    default:
      return "<other>";
  }
}

struct RawRows {
  std::int32_t opened = -1;
  std::string problem;
  std::int64_t pages = 0;
  std::multiset<Row> live;     // row id, columns 1.. as text
  std::multiset<Row> deleted;  // columns 1.. as text (a carved row has no row id)
};

// Table t(id INTEGER PRIMARY KEY, v TEXT, n INTEGER) read by the raw reader, deleted
// rows settled as the carve command settles them.
RawRows ReadRaw(const fs::path& database, const std::string& log, const std::string& table = "t") {
  RawRows out;
  TablePass pass;
  out.opened = pass.reader.open(database.string(), log);
  out.problem = pass.reader.LogProblem();
  out.pages = pass.reader.PageCount();
  if (out.opened != 0) return out;
  pass.counts.otherColumns = 3;
  std::list<GenericRow> rows;
  ReadGenericRows(pass, table, true, rows);
  SettleDeletedRows(rows);
  for (const GenericRow& r : rows) {
    Row row;
    if (r.status == 0) row.push_back(std::to_string(r.row_id));
    // A carved row may have lost column 0 (the row-id alias, NULL in the record).
    for (std::size_t i = r.first_column == 0 ? 1 : 0; i < r.values.size(); ++i)
      row.push_back(Text(r.values[i]));
    // Space that secure deletion zeroed reads as a record of NULLs: it says nothing.
    if (r.status != 0 &&
        std::all_of(row.begin(), row.end(), [](const std::string& v) { return v == "<null>"; }))
      continue;
    (r.status == 0 ? out.live : out.deleted).insert(std::move(row));
  }
  return out;
}

const char* kLive = "SELECT id, v, n FROM t";

std::string Filler(int i, int length) {
  std::string text = "row " + std::to_string(i) + " ";
  while (static_cast<int>(text.size()) < length)
    text += static_cast<char>('a' + (i + text.size()) % 26);
  return text;
}

// The main file: 120 rows (every seventh longer than a small page, so it overflows).
std::string MainSql(int pageSize) {
  std::string sql = "PRAGMA page_size=" + std::to_string(pageSize) +
                    "; CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT, n INTEGER); BEGIN;";
  for (int i = 1; i <= 120; ++i)
    sql += "INSERT INTO t VALUES(" + std::to_string(i) + ", '" +
           Filler(i, i % 7 == 0 ? 1500 : 60 + i % 40) + "', " + std::to_string(i * 3) + ");";
  return sql + "COMMIT;";
}

TEST(WalReader, LiveRowsAreSqlitesViewWithTheLogApplied) {
  for (int pageSize : {1024, 4096, 65536}) {
    SCOPED_TRACE(pageSize);
    TempDir dir("bvwalraw");
    // In the log: new rows onto new pages, changed and deleted rows of the file, a second
    // table, then a transaction that never committed (its frames are in the log).
    std::string logSql = "BEGIN;";
    for (int i = 121; i <= 400; ++i)
      logSql += "INSERT INTO t VALUES(" + std::to_string(i) + ", '" + Filler(i, 90) + "', " +
                std::to_string(i) + ");";
    logSql +=
        "COMMIT; UPDATE t SET v = 'changed ' || id, n = -n WHERE id % 5 = 0;"
        "DELETE FROM t WHERE id BETWEEN 30 AND 45;"
        "CREATE TABLE u(id INTEGER PRIMARY KEY, v TEXT, n INTEGER);"
        "INSERT INTO u SELECT id, v, n FROM t WHERE id % 3 = 0;"
        "PRAGMA cache_size=2; BEGIN;";
    for (int i = 401; i <= 700; ++i)
      logSql += "INSERT INTO t VALUES(" + std::to_string(i) + ", '" + Filler(i, 300) + "', 0);";
    test::WriteDatabaseWithLog(dir / "db", dir / "log", MainSql(pageSize), logSql);
    // The unfinished transaction really left frames behind the last commit.
    const std::string logBytes = ReadFile(dir / "log");
    const WalLog wal =
        ReadWalLog(reinterpret_cast<const unsigned char*>(logBytes.data()), logBytes.size());
    ASSERT_EQ(wal.problem, "");
    ASSERT_GT(logBytes.size(), 32 + wal.committed * (24 + wal.pageSize));

    const auto before = test::SnapshotTree(dir.path());
    const RawRows withLog = ReadRaw(dir / "db", dir.File("log"));
    ASSERT_EQ(withLog.opened, 0);
    EXPECT_EQ(withLog.problem, "");
    EXPECT_EQ(withLog.live, SqliteRows(dir / "db", dir / "log", kLive));
    EXPECT_EQ(withLog.live.size(), 384u);
    EXPECT_EQ(withLog.pages, static_cast<std::int64_t>(wal.databasePages));
    // The table that only the log created.
    EXPECT_EQ(ReadRaw(dir / "db", dir.File("log"), "u").live,
              SqliteRows(dir / "db", dir / "log", "SELECT id, v, n FROM u"));

    // Without the log: the file alone, as SQLite reads it alone.
    const RawRows alone = ReadRaw(dir / "db", "");
    EXPECT_EQ(alone.live, SqliteRows(dir / "db", "", kLive));
    EXPECT_EQ(alone.live.size(), 120u);
    EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(dir.path())), "");
  }
}

TEST(WalReader, RowsDeletedInTheLogComeBackFromOlderImagesOnce) {
  // On 1024-byte pages the long rows spill onto overflow pages that the deletion wipes:
  // a row of an older image is read with its overflow chain as it was then.
  for (int pageSize : {1024, 4096}) {
    SCOPED_TRACE(pageSize);
    TempDir dir("bvwalraw");
    // Deleted rows are wiped from the newest page images (secure_delete): what is found
    // comes from the file's images the log replaced and from the log's older frames.
    std::string logSql =
        "PRAGMA secure_delete=ON; DELETE FROM t WHERE id BETWEEN 10 AND 29; BEGIN;";
    for (int i = 200; i < 260; ++i)
      logSql += "INSERT INTO t VALUES(" + std::to_string(i) + ", 'fresh " + std::to_string(i) +
                " only in the log', " + std::to_string(i) + ");";
    logSql += "COMMIT; DELETE FROM t WHERE id BETWEEN 205 AND 214;";
    test::WriteDatabaseWithLog(dir / "db", dir / "log", MainSql(pageSize), logSql);

    const RawRows read = ReadRaw(dir / "db", dir.File("log"));
    ASSERT_EQ(read.problem, "");
    EXPECT_EQ(read.live, SqliteRows(dir / "db", dir / "log", kLive));
    // The rows the file still holds live and those only an older frame holds.
    std::multiset<Row> expected =
        SqliteRows(dir / "db", "", "SELECT v, n FROM t WHERE id BETWEEN 10 AND 29");
    for (int i = 205; i <= 214; ++i)
      expected.insert({"fresh " + std::to_string(i) + " only in the log", std::to_string(i)});
    EXPECT_EQ(read.deleted, expected);
    // Never a copy of a live row.
    for (const Row& row : read.live)
      EXPECT_EQ(read.deleted.count(Row(row.begin() + 1, row.end())), 0u) << row[1];
    // The newest images alone hold none of them: the file read without the log has only
    // the first, and as live rows.
    EXPECT_EQ(ReadRaw(dir / "db", "").deleted.size(), 0u);
  }
}

std::string UtcText(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

using Msg = std::tuple<std::string, std::string, int>;  // time, text, is_sender

std::string ChatInsert(const std::string& table, int id, std::int64_t time, const std::string& text,
                       int des) {
  return "INSERT INTO " + table + " VALUES(1, " + std::to_string(id) + ", " +
         std::to_string(9000 + id) + ", " + std::to_string(time) + ", '" + text + "', 2, 0, 1, " +
         std::to_string(des) + ");";
}

TEST(WalReader, WeChatAndQQStoresReadWithTheirLogs) {
  setenv("TZ", "UTC", 1);
  tzset();
  TempDir dir("bvwalraw");
  const std::string alice = "Chat_" + Md5Hex("wxid_alice");
  const std::string bob = "Chat_" + Md5Hex("wxid_bob");
  std::string mainSql =
      "CREATE TABLE Friend (FriendID INTEGER PRIMARY KEY, UsrName TEXT, NickName TEXT, Uin "
      "INTEGER, Email TEXT, Mobile TEXT, Type INTEGER, LastChatTime INTEGER, Draft TEXT, "
      "DraftTime INTEGER, Sex INTEGER, ImgStatus INTEGER, Remark TEXT);"
      "INSERT INTO Friend VALUES(NULL,'wxid_alice','Alice',0,NULL,NULL,3,0,NULL,0,1,0,NULL);";
  for (const std::string& table : {alice, bob})
    mainSql += "CREATE TABLE " + table +
               " (TableVer INTEGER DEFAULT 1, MesLocalID INTEGER PRIMARY KEY AUTOINCREMENT, "
               "MesSvrID INTEGER DEFAULT 0, CreateTime INTEGER DEFAULT 0, Message TEXT, Status "
               "INTEGER DEFAULT 0, ImgStatus INTEGER DEFAULT 0, Type INTEGER, Des INTEGER);";
  const std::int64_t t0 = 1600000000;
  for (int i = 1; i <= 80; ++i)
    mainSql += ChatInsert(alice, i, t0 + i * 60, "alice message " + std::to_string(i), i % 2);
  // In the log: Bob becomes a friend and writes (his rows live only there), Alice's
  // messages 20..29 are deleted, and of Bob's first twelve the last four again.
  std::string logSql =
      "PRAGMA secure_delete=ON;"
      "INSERT INTO Friend VALUES(NULL,'wxid_bob','Bob',0,NULL,NULL,3,0,NULL,0,1,0,NULL);BEGIN;";
  for (int i = 1; i <= 12; ++i)
    logSql += ChatInsert(bob, i, t0 + 100000 + i, "bob in the log " + std::to_string(i), 0);
  logSql += "COMMIT; DELETE FROM " + alice + " WHERE MesLocalID BETWEEN 20 AND 29;";
  logSql += "DELETE FROM " + bob + " WHERE MesLocalID > 8;";
  test::WriteDatabaseWithLog(dir / "MM.sqlite", dir / "log", mainSql, logSql);

  ChatMap chats;
  std::string problem = "unset";
  ASSERT_EQ(WeChatPass(dir.File("MM.sqlite"), dir.File("log"), chats, &problem), 0);
  EXPECT_EQ(problem, "");
  std::map<std::string, std::multiset<Msg>> live, deleted;
  for (const auto& [user, list] : chats)
    for (const ChatMessageRecord& m : list)
      (m.status == 0 ? live : deleted)[user].insert({m.time.str(), m.text, m.is_sender});
  auto reference = [&](const std::string& table) {
    std::multiset<Msg> out;
    for (const Row& r : SqliteRows(dir / "MM.sqlite", dir / "log",
                                   "SELECT CreateTime, Message, Des FROM " + table))
      out.insert({UtcText(std::atoll(r[0].c_str())), r[1], r[2] == "0" ? 1 : 0});
    return out;
  };
  EXPECT_EQ(live["wxid_alice"], reference(alice));
  EXPECT_EQ(live["wxid_bob"], reference(bob));
  EXPECT_EQ(live["wxid_bob"].size(), 8u);
  std::multiset<Msg> aliceGone, bobGone;
  for (int i = 20; i <= 29; ++i)
    aliceGone.insert({UtcText(t0 + i * 60), "alice message " + std::to_string(i), i % 2 ? 0 : 1});
  for (int i = 9; i <= 12; ++i)
    bobGone.insert({UtcText(t0 + 100000 + i), "bob in the log " + std::to_string(i), 1});
  // Each deleted message once, under its own chat; nothing else deleted (no live copy).
  EXPECT_EQ(deleted["wxid_alice"], aliceGone);
  EXPECT_EQ(deleted["wxid_bob"], bobGone);
  std::size_t elsewhere = 0;
  for (const auto& [user, set] : deleted)
    if (user != "wxid_alice" && user != "wxid_bob") elsewhere += set.size();
  EXPECT_EQ(elsewhere, 0u);

  // Without the log: Bob is unknown and Alice's deleted messages are still live.
  ChatMap old;
  ASSERT_EQ(WeChatPass(dir.File("MM.sqlite"), old), 0);
  EXPECT_EQ(old.count("wxid_bob"), 0u);
  std::size_t aliceLive = 0;
  for (const ChatMessageRecord& m : old["wxid_alice"]) aliceLive += m.status == 0;
  EXPECT_EQ(aliceLive, 80u);

  // QQ: a conversation that only the log holds.
  std::string qqMain = "CREATE TABLE tb_c2cTables (uin TEXT);";
  std::string qqTable =
      " (msgId INTEGER PRIMARY KEY, uin TEXT, time INTEGER, type INTEGER, flag INTEGER, read "
      "INTEGER, content TEXT";
  for (int i = 7; i < 50; ++i) qqTable += ", c" + std::to_string(i) + " INTEGER";
  qqTable += ")";
  std::string qqLog =
      "INSERT INTO tb_c2cTables VALUES('tb_c2cMsg_10001');"
      "CREATE TABLE tb_c2cMsg_10001" +
      qqTable + ";";
  for (int i = 1; i <= 15; ++i)
    qqLog += "INSERT INTO tb_c2cMsg_10001(uin, time, type, flag, read, content) VALUES('10001', " +
             std::to_string(t0 + i) + ", 0, " + std::to_string(i % 2) + ", 1, 'qq line " +
             std::to_string(i) + "');";
  test::WriteDatabaseWithLog(dir / "QQ.db", dir / "qqlog", qqMain, qqLog);
  ChatMap qq;
  ASSERT_EQ(QQPass(dir.File("QQ.db"), dir.File("qqlog"), qq, &problem), 0);
  EXPECT_EQ(problem, "");
  ASSERT_EQ(qq.count("10001"), 1u);
  std::size_t qqLive = 0;
  for (const ChatMessageRecord& m : qq["10001"]) qqLive += m.status == 0;
  EXPECT_EQ(qqLive, 15u);
  ChatMap qqAlone;
  QQPass(dir.File("QQ.db"), qqAlone);
  EXPECT_EQ(qqAlone.count("10001"), 0u);
}

TEST(WalReader, LogsThatCannotBeAppliedWholeLeaveWhatIsSoundAndSayWhy) {
  TempDir dir("bvwalraw");
  std::string logSql;
  for (int i = 121; i <= 300; ++i)
    logSql += "INSERT INTO t VALUES(" + std::to_string(i) + ", '" + Filler(i, 200) + "', 1);";
  test::WriteDatabaseWithLog(dir / "db", dir / "log", MainSql(4096), logSql);
  const std::string bytes = ReadFile(dir / "log");
  const std::multiset<Row> fileAlone = SqliteRows(dir / "db", "", kLive);
  const std::string without = ": the database is read without it";

  // Cut inside a frame: the transactions before the cut apply, as SQLite applies them.
  WriteFile(dir / "cut", bytes.substr(0, bytes.size() - 1000));
  const RawRows cut = ReadRaw(dir / "db", dir.File("cut"));
  ASSERT_EQ(cut.opened, 0);
  EXPECT_EQ(cut.problem.rfind("is cut short after ", 0), 0u) << cut.problem;
  EXPECT_EQ(cut.live, SqliteRows(dir / "db", dir / "cut", kLive));
  EXPECT_GT(cut.live.size(), fileAlone.size());
  EXPECT_LT(cut.live.size(), 300u);

  // A flipped byte in the first frame: nothing of the log applies.
  std::string flipped = bytes;
  flipped[32 + 24 + 500] ^= 0x20;
  WriteFile(dir / "flipped", flipped);
  const RawRows damaged = ReadRaw(dir / "db", dir.File("flipped"));
  EXPECT_EQ(damaged.problem,
            "is damaged before its first saved change: none of its changes are read");
  EXPECT_EQ(damaged.live, fileAlone);

  // A log of another database with pages of another size.
  test::WriteDatabaseWithLog(dir / "small", dir / "smalllog", MainSql(1024), logSql);
  const RawRows foreign = ReadRaw(dir / "db", dir.File("smalllog"));
  EXPECT_EQ(foreign.problem,
            "does not belong to the database (its pages are of 1024 bytes, the database's of "
            "4096)" +
                without);
  EXPECT_EQ(foreign.live, fileAlone);

  // Missing, no regular file, garbage, empty.
  EXPECT_EQ(ReadRaw(dir / "db", dir.File("nowhere")).problem, "is missing" + without);
  fs::create_directory(dir / "folder");
  EXPECT_EQ(ReadRaw(dir / "db", dir.File("folder")).problem,
            "cannot be read (not a regular file)" + without);
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  const RawRows fifo = ReadRaw(dir / "db", dir.File("fifo"));
  EXPECT_EQ(fifo.problem, "cannot be read (not a regular file)" + without);
  EXPECT_EQ(fifo.live, fileAlone);
  WriteFile(dir / "junk", std::string(5000, 'x'));
  EXPECT_EQ(ReadRaw(dir / "db", dir.File("junk")).problem,
            "is damaged (no log header): none of its changes are read");
  WriteFile(dir / "empty", "");
  const RawRows empty = ReadRaw(dir / "db", dir.File("empty"));
  EXPECT_EQ(empty.problem, "");
  EXPECT_EQ(empty.live, fileAlone);

  // A database that cannot be read at all still fails, log or not.
  WriteFile(dir / "notadb", std::string(8192, 'z'));
  EXPECT_EQ(ReadRaw(dir / "notadb", dir.File("log")).opened, 87);
}

TEST(WalReader, LogBesideIsFoundOnlyAsARegularFile) {
  TempDir dir("bvwalraw");
  WriteFile(dir / "a.db", "x");
  EXPECT_EQ(LogBeside(dir.File("a.db")), "");
  WriteFile(dir / "a.db-wal", "");
  EXPECT_EQ(LogBeside(dir.File("a.db")), dir.File("a.db-wal"));
  ASSERT_EQ(::mkfifo(dir.File("b.db-wal").c_str(), 0600), 0);
  EXPECT_EQ(LogBeside(dir.File("b.db")), "");
}

}  // namespace
}  // namespace bv
