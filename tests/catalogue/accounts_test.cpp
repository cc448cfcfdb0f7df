// WeChat and QQ accounts found through the manifest: account keys, stored-file paths of
// both layouts, unreadable stores, progress and stopping.
#include <gtest/gtest.h>

#include <vector>

#include "catalogue/accounts.h"
#include "catalogue/catalogue_fixture.h"
#include "common/hash.h"
#include "rawsqlite/store_builder.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

void MakeWeChatStore(const std::string& path, const std::string& user, const std::string& text) {
  test::Db db(path, 1024);
  test::CreateFriendTable(db);
  test::AddFriend(db, user, "nick", 3);
  const std::string table = "Chat_" + Md5Hex(user);
  test::CreateChatTable(db, table);
  test::AddChat(db, table, 1, 1500000000, text, 0);
}

void MakeQQStore(const std::string& path, const std::string& peer, const std::string& text) {
  test::Db db(path, 1024);
  test::CreateQQTables(db);
  const std::string table = "tb_c2cMsg_" + peer;
  db.Insert("tb_c2cTables", {test::Value::T(table)});
  test::CreateQQMessageTable(db, table);
  test::AddQQMessage(db, table, peer, 1500000000, text, 1);
}

struct Backup {
  testing::TempFolder folder{"accounts"};
  BackupCatalog catalog;

  // Adds a manifest entry; returns where its stored file lies.
  std::string Add(const std::string& key, bool newer) {
    const std::string id = Sha1Hex(key);
    catalog.manifest.push_back({key, id});
    const fs::path path = newer ? folder.path() / id.substr(0, 2) / id : folder.path() / id;
    fs::create_directories(path.parent_path());
    return path.string();
  }
};

std::vector<std::int32_t> g_reports;
std::int32_t g_stopAt = -1;
std::int32_t Record(void*, std::int32_t percent) {
  g_reports.push_back(percent);
  return percent == g_stopAt ? 2 : 0;
}

TEST(Accounts, WeChatAccountsAreNumberedInManifestOrder) {
  for (bool newer : {true, false}) {
    Backup b;
    b.catalog.backupFolder = b.folder.wide();
    b.catalog.hasManifestDb = newer;
    MakeWeChatStore(b.Add("AppDomain-com.tencent.xin-Documents/aaa/DB/MM.sqlite", newer),
                    "wxid_one", "first account");
    b.Add("AppDomain-com.tencent.xin-Documents/aaa/DB/other.sqlite", newer);
    test::WriteAll(b.Add("AppDomain-com.tencent.xin-Documents/bbb/DB/MM.sqlite", newer),
                   std::vector<std::uint8_t>(2048, 'j'));  // unreadable store
    MakeWeChatStore(b.Add("AppDomain-com.tencent.xin-Documents/ccc/DB/MM.sqlite", newer),
                    "wxid_three", "third account");
    b.catalog.weChatChats["stale"] = {};
    AccountChats out;
    EXPECT_EQ(ReadWeChat(b.catalog, out), 0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out.at("User1").at("wxid_one").front().text, "first account");
    EXPECT_TRUE(out.at("User2").empty());
    EXPECT_EQ(out.at("User3").at("wxid_three").front().text, "third account");
    EXPECT_EQ(b.catalog.weChatChats.size(), 3u);  // the catalogue keeps its own copy
  }
}

TEST(Accounts, QQAccountKeyIsTheFolderBeforeTheStore) {
  Backup b;
  b.catalog.backupFolder = b.folder.wide();
  b.catalog.hasManifestDb = true;
  MakeQQStore(b.Add("AppDomain-com.tencent.mqq-Documents/contents/12345/QQ.db", true), "10001",
              "hello qq");
  AccountChats out;
  EXPECT_EQ(ReadQQ(b.catalog, out), 0);
  ASSERT_EQ(out.size(), 1u);
  const auto& chats = out.at("12345");
  ASSERT_EQ(chats.at("10001").size(), 1u);
  EXPECT_EQ(chats.at("10001").front().text, "hello qq");
  EXPECT_EQ(chats.at("10001").front().is_sender, 0);
}

TEST(Accounts, ProgressCountsStoresAndAStopEndsTheWalk) {
  Backup b;
  b.catalog.backupFolder = b.folder.wide();
  b.catalog.hasManifestDb = true;
  for (const char* name : {"a", "b", "c"})
    MakeWeChatStore(b.Add(std::string("AppDomain-x-Documents/") + name + "/MM.sqlite", true),
                    "wxid_" + std::string(name), "text");
  b.catalog.progressCallback = Record;
  b.catalog.progress = 40;
  b.catalog.progressStep = 10;
  g_reports.clear();
  g_stopAt = -1;
  AccountChats out;
  EXPECT_EQ(ReadWeChat(b.catalog, out), 0);
  EXPECT_EQ(g_reports, (std::vector<std::int32_t>{41, 42, 43, 50}));
  EXPECT_EQ(b.catalog.progress, 50);

  g_reports.clear();
  g_stopAt = 52;
  EXPECT_EQ(ReadWeChat(b.catalog, out), 2);
  EXPECT_EQ(g_reports, (std::vector<std::int32_t>{51, 52, 60}));
  EXPECT_EQ(out.size(), 2u);
}

}  // namespace
}  // namespace bv
