// The carve command over a WeChat store that mkbackup wrote and used on (deletions,
// rows rewritten as they grew): deleted rows and messages once, no copy of a live row
// among them; --all keeps every raw hit of the carving.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <set>
#include <sstream>

#include "cli/command.h"
#include "cli_run.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;

// The values of a listed row from column 1 on, as one text.
std::string ValuesFromColumnOne(const test::Json& row) {
  std::string key;
  const std::int64_t first = row["firstColumn"].Int();
  const test::Json& values = row["values"];
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (first + static_cast<std::int64_t>(i) < 1) continue;
    key += std::to_string(static_cast<int>(values[i].kind)) + ":" + values[i].text + "|";
  }
  return key;
}

TEST(CarveCommand, DeletedRowsOnceWithoutLiveCopiesAndAllKeepsEveryHit) {
  test::TempDir dir;
  mkbackup::BackupOptions o;
  o.messages = o.contacts = o.calls = o.notes = o.whatsapp = o.qq = 0;
  o.wechat = 1400;
  o.wechatPageSizes = {1024};
  o.chatChurn = true;
  const fs::path backup = test::BuildBackup(dir, o);
  const test::Json truth = test::ReadTruth(backup);
  const test::Json* db = test::FindDatabase(truth, "MM.sqlite");
  ASSERT_NE(db, nullptr);
  const std::string file = test::StoredFile(backup, *db).string();
  // The chat table that lost the most single rows and that goes on being used.
  std::map<std::string, int> churned;
  for (const test::Json* row : test::DeletedRows(*db))
    if ((*row)["how"].Str() == "churn") ++churned[(*row)["table"].Str()];
  ASSERT_FALSE(churned.empty());
  std::string table = churned.begin()->first;
  for (const auto& [name, count] : churned)
    if (count > churned[table]) table = name;
  // Live messages by time (UTC) and text.
  std::set<std::string> live;
  for (const test::Json* row : test::LiveRows(*db, table)) {
    const std::time_t t = static_cast<std::time_t>((*row)["values"]["CreateTime"].Int());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    live.insert(std::string(when) + " " + (*row)["values"]["Message"].Str());
  }
  test::ScopedEnv tz("TZ", "UTC");
  tzset();

  const Outcome settled = Cli({"carve", file, table, "--json"});
  const Outcome all = Cli({"carve", file, table, "--json", "--all"});
  ASSERT_EQ(settled.code, 0) << settled.err;
  ASSERT_EQ(all.code, 0) << all.err;
  const test::Json s = test::Json::Parse(settled.out);
  const test::Json a = test::Json::Parse(all.out);
  EXPECT_FALSE(s["all"].boolean);
  EXPECT_TRUE(a["all"].boolean);
  // --all lists every raw hit, which is what the settled listing counts as raw.
  EXPECT_EQ(a["deleted"].Int(), s["rawDeleted"].Int());
  EXPECT_EQ(a["rawDeleted"].Int(), a["deleted"].Int());
  EXPECT_LT(s["deleted"].Int(), s["rawDeleted"].Int());

  // Rows: no deleted row with the values of a live one, none twice.
  std::set<std::string> liveRows, deletedRows;
  for (const test::Json& row : s["rows"].items)
    if (row["status"].Str() == "Normal") liveRows.insert(ValuesFromColumnOne(row));
  for (const test::Json& row : s["rows"].items) {
    if (row["status"].Str() != "Deleted") continue;
    const std::string key = ValuesFromColumnOne(row);
    EXPECT_EQ(liveRows.count(key), 0u) << "a live row listed as deleted: " << key;
    EXPECT_TRUE(deletedRows.insert(key).second) << "listed twice: " << key;
  }

  // Messages: the same for the decoded chat records; the raw listing has the noise.
  auto deletedMessages = [&](const test::Json& doc, int& liveCopies, int& repeats) {
    std::multiset<std::string> seen;
    liveCopies = repeats = 0;
    for (const test::Json& m : doc["messages"].items) {
      if (m["status"].Str() != "Deleted") continue;
      const std::string key = m["time"].Str() + " " + m["text"].Str();
      repeats += seen.count(key) != 0;
      seen.insert(key);
      liveCopies += live.count(key) != 0;
    }
    return seen.size();
  };
  int liveCopies = 0, repeats = 0;
  const std::size_t settledCount = deletedMessages(s, liveCopies, repeats);
  EXPECT_GT(settledCount, 5u);
  EXPECT_EQ(liveCopies, 0);
  EXPECT_EQ(repeats, 0);
  const std::size_t rawCount = deletedMessages(a, liveCopies, repeats);
  EXPECT_GT(rawCount, settledCount);
  EXPECT_GT(liveCopies + repeats, 0);
}

TEST(CarveCommand, ReadsTheWriteAheadLogTheBackupStoresOrThatLiesBesideTheFile) {
  test::TempDir dir;
  mkbackup::BackupOptions o;
  o.messages = o.contacts = o.calls = o.notes = o.whatsapp = o.qq = 0;
  o.wechat = 300;
  o.writeAheadLogs = true;
  const fs::path backup = test::BuildBackup(dir, o);
  const test::Json truth = test::ReadTruth(backup);
  const test::Json* db = test::FindDatabase(truth, "MM.sqlite");
  ASSERT_NE(db, nullptr);
  const std::string file = test::StoredFile(backup, *db).string();
  const std::string logId = (*db)["logFileId"].Str();
  ASSERT_FALSE(logId.empty());
  const std::string storedLog = (backup / logId.substr(0, 2) / logId).string();
  // The chat table with the most rows that only the log holds.
  std::string table;
  std::size_t inLog = 0;
  for (const auto& [name, rows] : (*db)["rowsInLog"].members)
    if (name.rfind("Chat_", 0) == 0 && rows.size() > inLog) {
      table = name;
      inLog = rows.size();
    }
  ASSERT_GT(inLog, 0u);
  const std::int64_t live = static_cast<std::int64_t>(test::LiveRows(*db, table).size());

  const Outcome stored = Cli({"carve", file, table, "--json"});
  ASSERT_EQ(stored.code, 0) << stored.err;
  const test::Json withLog = test::Json::Parse(stored.out);
  EXPECT_EQ(withLog["log"].Str(), storedLog);
  EXPECT_TRUE(withLog["logProblem"].IsNull());
  EXPECT_GT(withLog["logPages"].Int(), 0);
  EXPECT_EQ(withLog["live"].Int(), live);

  const Outcome alone = Cli({"carve", file, table, "--json", "--no-log"});
  ASSERT_EQ(alone.code, 0) << alone.err;
  const test::Json fileAlone = test::Json::Parse(alone.out);
  EXPECT_TRUE(fileAlone["log"].IsNull());
  EXPECT_EQ(fileAlone["live"].Int(), live - static_cast<std::int64_t>(inLog));

  // An extracted copy with its "-wal" beside it.
  fs::create_directories(dir / "extracted");
  fs::copy_file(file, dir / "extracted/MM.sqlite");
  fs::copy_file(storedLog, dir / "extracted/MM.sqlite-wal");
  const Outcome beside = Cli({"carve", (dir / "extracted/MM.sqlite").string(), table, "--json"});
  ASSERT_EQ(beside.code, 0) << beside.err;
  EXPECT_EQ(test::Json::Parse(beside.out)["live"].Int(), live);

  // A log named by hand that is no log: the file is read alone and the listing says why.
  test::WriteFile(dir / "junk-wal", std::string(3000, 'j'));
  const Outcome junk = Cli({"carve", file, table, "--log", (dir / "junk-wal").string()});
  ASSERT_EQ(junk.code, 0) << junk.err;
  EXPECT_NE(junk.out.find("(the log is damaged (no log header): none of its changes are read)"),
            std::string::npos)
      << junk.out;
  EXPECT_NE(junk.out.find(std::to_string(live - static_cast<std::int64_t>(inLog)) + " live rows"),
            std::string::npos);
  EXPECT_EQ(Cli({"carve", file, table, "--log", storedLog, "--no-log"}).code, kExitUsage);
  // The backup is as it was.
  EXPECT_EQ(fs::file_size(storedLog), fs::file_size(dir / "extracted/MM.sqlite-wal"));
}

}  // namespace
}  // namespace bv::cli
