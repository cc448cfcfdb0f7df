// The chats command over a backup whose WeChat and QQ stores were backed up in use: the
// stores are read with their stored logs, and a log that cannot be applied is told.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command.h"
#include "cli_run.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;

std::int64_t LiveMessages(const test::Json& app) {
  std::int64_t live = 0;
  for (const test::Json& account : app["accounts"].items)
    for (const test::Json& chat : account["chats"].items) live += chat["live"].Int();
  return live;
}

TEST(ChatsCommand, StoresAreReadWithTheirLogsAndALostLogIsTold) {
  test::TempDir dir;
  mkbackup::BackupOptions o;
  o.messages = o.contacts = o.calls = o.notes = o.whatsapp = 0;
  o.wechat = o.qq = 120;
  o.writeAheadLogs = true;
  const fs::path backup = test::BuildBackup(dir, o);
  const test::Json truth = test::ReadTruth(backup);
  // Live messages of the chat tables, by the truth.
  std::int64_t weChatLive = 0, weChatInLog = 0;
  for (const test::Json* db : test::FindDatabases(truth, "MM.sqlite")) {
    for (const test::Json& table : (*db)["tables"].items)
      if (table["name"].Str().rfind("Chat_", 0) == 0)
        weChatLive += static_cast<std::int64_t>(table["rows"].size());
    for (const auto& [name, rows] : (*db)["rowsInLog"].members)
      if (name.rfind("Chat_", 0) == 0) weChatInLog += static_cast<std::int64_t>(rows.size());
  }
  ASSERT_GT(weChatInLog, 0);

  const Outcome whole = Cli({"chats", backup.string(), "--json"});
  ASSERT_EQ(whole.code, 0) << whole.err;
  const test::Json read = test::Json::Parse(whole.out);
  EXPECT_TRUE(read["wechat"]["error"].IsNull());
  EXPECT_TRUE(read["qq"]["error"].IsNull());
  EXPECT_EQ(LiveMessages(read["wechat"]), weChatLive);

  // The WeChat store's log lost: its newest messages are missing, and it says so.
  for (const test::Json* db : test::FindDatabases(truth, "MM.sqlite")) {
    const std::string id = (*db)["logFileId"].Str();
    fs::remove(backup / id.substr(0, 2) / id);
  }
  const Outcome lost = Cli({"chats", backup.string(), "--json"});
  ASSERT_EQ(lost.code, 0) << lost.err;
  const test::Json without = test::Json::Parse(lost.out);
  // Each account's store said once, one after another.
  const std::string missing = "'s write-ahead log is missing: the database is read without it";
  std::string expected;
  for (std::size_t i = 1; i <= test::FindDatabases(truth, "MM.sqlite").size(); ++i)
    expected +=
        (i > 1 ? "; " : "") + std::string("the WeChat store of User") + std::to_string(i) + missing;
  EXPECT_EQ(without["wechat"]["error"].Str(), expected);
  EXPECT_TRUE(without["qq"]["error"].IsNull());
  EXPECT_EQ(LiveMessages(without["wechat"]), weChatLive - weChatInLog);
  const Outcome text = Cli({"chats", backup.string()});
  EXPECT_NE(text.out.find("WeChat (warning: " + expected + ")\nWeChat: "), std::string::npos)
      << text.out.substr(0, 400);
}

}  // namespace
}  // namespace bv::cli
