// The write-ahead log reader over logs that SQLite itself wrote, and over the same logs
// cut short, with a flipped byte, a foreign header or frames of an older generation.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "rawsqlite/wal_log.h"
#include "support.h"

namespace bv {
namespace {

using test::ReadFile;
using test::TempDir;

WalLog Read(const std::string& bytes) {
  return ReadWalLog(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// Three transactions in the log: 20 rows, 20 more, then an update of the first ten.
std::string ThreeCommits(TempDir& dir, int pageSize = 4096) {
  const std::string mainSql = "PRAGMA page_size=" + std::to_string(pageSize) +
                              "; CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT);"
                              "INSERT INTO t(v) VALUES('in the file');";
  std::string logSql = "BEGIN;";
  for (int i = 0; i < 20; ++i) logSql += "INSERT INTO t(v) VALUES(hex(randomblob(300)));";
  logSql += "COMMIT; BEGIN;";
  for (int i = 0; i < 20; ++i) logSql += "INSERT INTO t(v) VALUES(hex(randomblob(300)));";
  logSql += "COMMIT; UPDATE t SET v = 'changed' WHERE id <= 10;";
  test::WriteDatabaseWithLog(dir / "db", dir / "db-wal", mainSql, logSql);
  return ReadFile(dir / "db-wal");
}

TEST(WalLog, SqliteLogsReadWholeInBothPageSizes) {
  for (int pageSize : {1024, 65536}) {
    TempDir dir;
    const std::string bytes = ThreeCommits(dir, pageSize);
    const WalLog log = Read(bytes);
    ASSERT_TRUE(log.headerValid) << pageSize;
    EXPECT_EQ(log.pageSize, static_cast<std::uint32_t>(pageSize));
    EXPECT_EQ(log.problem, "") << pageSize;
    EXPECT_EQ(log.frames.size() * (24u + log.pageSize) + 32u, bytes.size());
    EXPECT_EQ(log.committed, log.frames.size());
    // The database size after the last commit is what the file grows to with the log.
    int commits = 0;
    for (const WalFrame& f : log.frames) commits += f.commitSize != 0;
    EXPECT_EQ(commits, 3);
    const auto newest = NewestCommittedPages(log);
    EXPECT_LT(newest.size(), log.frames.size());  // the update wrote pages again
    for (const auto& [page, offset] : newest) {
      EXPECT_GE(page, 1u);
      EXPECT_LE(page, log.databasePages);
      EXPECT_EQ((offset - 32 - 24) % (24 + log.pageSize), 0u);
    }
  }
}

TEST(WalLog, CutOrDamagedLogsKeepTheirSoundCommits) {
  TempDir dir;
  const std::string bytes = ThreeCommits(dir);
  const WalLog whole = Read(bytes);
  ASSERT_EQ(whole.problem, "");
  const std::size_t frame = 24 + whole.pageSize;
  ASSERT_GE(whole.frames.size(), 4u);

  // Cut in the middle of the last frame: the last transaction is lost, the others stay.
  const WalLog cut = Read(bytes.substr(0, bytes.size() - 100));
  EXPECT_LT(cut.committed, whole.committed);
  EXPECT_GT(cut.committed, 0u);
  EXPECT_EQ(cut.problem.rfind("is cut short after " + std::to_string(cut.committed), 0), 0u)
      << cut.problem;
  EXPECT_EQ(cut.frames[cut.committed - 1].commitSize != 0, true);

  // A byte of the second frame's page image flipped: only a commit in frame 1 survives.
  std::string flipped = bytes;
  flipped[32 + frame + 24 + 100] ^= 0x40;
  const WalLog damaged = Read(flipped);
  EXPECT_EQ(damaged.frames.size(), 1u);
  EXPECT_EQ(damaged.committed, whole.frames[0].commitSize != 0 ? 1u : 0u);
  EXPECT_NE(damaged.problem.find("is damaged"), std::string::npos) << damaged.problem;

  // The first frame broken: nothing applies.
  std::string first = bytes;
  first[32 + 30] ^= 1;
  const WalLog none = Read(first);
  EXPECT_EQ(none.committed, 0u);
  EXPECT_EQ(none.problem, "is damaged before its first saved change: none of its changes are read");
  EXPECT_TRUE(NewestCommittedPages(none).empty());

  // Cut exactly after a frame of an unfinished transaction: what was committed stays,
  // and an unfinished transaction is no damage (a phone may be halfway through one).
  std::size_t lastCommitEnd = 0;
  for (std::size_t i = 0; i < whole.frames.size(); ++i)
    if (whole.frames[i].commitSize != 0 && i + 1 < whole.frames.size())
      lastCommitEnd = 32 + (i + 1) * frame;
  ASSERT_GT(lastCommitEnd, 0u);
  const WalLog open = Read(bytes.substr(0, lastCommitEnd + frame));
  EXPECT_EQ(open.problem, "");
  EXPECT_EQ(open.frames.size(), open.committed + 1);
  // Such a frame whose checksum does not chain (SQLite rewrites a spilled frame in place
  // before the commit) is no damage either; with a commit behind it, it is.
  std::string rewritten = bytes.substr(0, lastCommitEnd + frame);
  rewritten[lastCommitEnd + 24 + 7] ^= 0x01;
  const WalLog unfinished = Read(rewritten);
  EXPECT_EQ(unfinished.problem, "");
  EXPECT_EQ(unfinished.committed, open.committed);
  std::string beforeCommit = bytes;
  beforeCommit[lastCommitEnd + 24 + 7] ^= 0x01;
  const WalLog lost = Read(beforeCommit);
  EXPECT_EQ(lost.committed, open.committed);
  EXPECT_EQ(lost.problem.rfind("is damaged after ", 0), 0u) << lost.problem;
}

TEST(WalLog, HeadersThatDoNotCheckApplyNothing) {
  TempDir dir;
  const std::string bytes = ThreeCommits(dir);
  EXPECT_EQ(Read("").problem, "");
  EXPECT_FALSE(Read("").headerValid);
  EXPECT_EQ(Read(bytes.substr(0, 31)).problem,
            "is cut short (31 bytes): none of its changes are read");
  std::string magic = bytes;
  magic[3] = 0x00;
  EXPECT_EQ(Read(magic).problem, "is damaged (no log header): none of its changes are read");
  for (std::size_t at : {4u, 8u, 16u, 24u}) {  // version, page size, salt, checksum
    std::string header = bytes;
    header[at + 3] ^= 0x10;
    const WalLog log = Read(header);
    EXPECT_FALSE(log.headerValid) << at;
    EXPECT_TRUE(log.frames.empty()) << at;
    EXPECT_NE(log.problem.find("its header does not check"), std::string::npos) << at;
  }
  // Garbage of a frame's length: no header, no frames.
  EXPECT_FALSE(Read(std::string(4096 + 56, '\xA5')).headerValid);
}

TEST(WalLog, FramesOfAnEarlierGenerationEndTheLogQuietly) {
  // After a checkpoint the next writer starts the log again from its top with new salts;
  // the longer older log's frames stay behind it until overwritten.
  TempDir dir;
  std::string logSql = "BEGIN;";
  for (int i = 0; i < 40; ++i) logSql += "INSERT INTO t(v) VALUES(hex(randomblob(500)));";
  logSql += "COMMIT; PRAGMA wal_checkpoint(PASSIVE); INSERT INTO t(v) VALUES('after');";
  test::WriteDatabaseWithLog(dir / "db", dir / "db-wal",
                             "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT);", logSql);
  const std::string bytes = ReadFile(dir / "db-wal");
  const WalLog log = Read(bytes);
  EXPECT_EQ(log.problem, "");
  ASSERT_TRUE(log.headerValid);
  EXPECT_LT(32 + log.frames.size() * (24 + log.pageSize), bytes.size());
  EXPECT_EQ(log.committed, log.frames.size());
  EXPECT_GE(log.frames.size(), 1u);
}

}  // namespace
}  // namespace bv
