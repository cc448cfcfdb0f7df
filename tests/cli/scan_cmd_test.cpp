// backvault-cli scan: text and JSON output over synthetic backups, category lists,
// passwords from a file, and the errors a script sees.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "cli/command.h"
#include "encrypt_backup.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;
using test::Json;

struct ScanRun {
  int code;
  std::string out, err;
};

ScanRun Scan(std::vector<std::string> args) {
  args.insert(args.begin(), "scan");
  std::ostringstream out, err;
  int code = RunCli(args, {out, err});
  return {code, out.str(), err.str()};
}

class ScanCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xdg_ = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", (dir_ / "data").string());
    mkbackup::BackupOptions o;
    o.seed = 5;
    o.media = 6;
    backup_ = test::BuildBackup(dir_, o);
  }

  test::TempDir dir_;
  std::unique_ptr<test::ScopedEnv> xdg_;
  fs::path backup_;
};

const std::vector<std::string> kNames = {
    "Camera Roll",          "Photo Stream", "App Photos",   "App Videos",     "Messages",
    "Message attachments",  "Contacts",     "Call History", "Notes",          "WhatsApp",
    "WhatsApp attachments", "Reminder",     "Calendar",     "Safari Bookmark"};

std::set<std::string> Keys(const Json& object) {
  std::set<std::string> keys;
  for (const auto& [k, v] : object.members) keys.insert(k);
  return keys;
}

TEST_F(ScanCommandTest, JsonCarriesEveryCategoryAndEveryRecordField) {
  ScanRun r = Scan({backup_.string(), "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  Json doc = Json::Parse(r.out);

  const Json& backup = doc["backup"];
  EXPECT_EQ(Keys(backup),
            (std::set<std::string>{"encrypted", "newerSystem", "lastBackupDate", "phoneNumber",
                                   "serialNumber", "folder", "displayName"}));
  EXPECT_EQ(backup["displayName"].Str(), "Test iPhone");
  EXPECT_FALSE(backup["encrypted"].boolean);
  EXPECT_TRUE(fs::path(backup["folder"].Str()).is_absolute());
  EXPECT_EQ(doc["openResult"].Int(), 0);

  const Json& cats = doc["categories"];
  ASSERT_EQ(cats.size(), 14u);
  const std::set<std::string> media = {"size", "name", "path"};
  const std::set<std::string> contact = {"deleted", "email", "address",      "extra",
                                         "url",     "phone", "organization", "name"};
  const std::set<std::string> call = {"deleted", "answered", "duration", "date", "address", "name"};
  const std::set<std::string> note = {"deleted", "reserved", "date", "title", "body"};
  const std::set<std::string> message = {"deleted", "isFromMe", "rowId", "handleId", "date",
                                         "sender",  "name",     "text",  "extra"};
  const std::set<std::string> reminder = {"deleted",
                                          "completed",
                                          "allDay",
                                          "priority",
                                          "rowId",
                                          "list",
                                          "title",
                                          "notes",
                                          "due",
                                          "timeZone",
                                          "zoneKind",
                                          "dueSeconds",
                                          "completionDate",
                                          "completionSeconds",
                                          "uid"};
  const std::set<std::string> event = {
      "deleted",  "allDay",   "rowId",       "calendar",   "title",        "start",
      "end",      "timeZone", "endTimeZone", "zoneKind",   "startSeconds", "endSeconds",
      "location", "notes",    "url",         "recurrence", "uid"};
  const std::set<std::string> bookmark = {"deleted", "kind", "id",    "parentId",
                                          "title",   "url",  "folder"};
  const std::set<std::string> whatsapp = {"deleted",   "isFromMe",   "messageId",   "sessionId",
                                          "date",      "senderName", "text",        "pushName",
                                          "chatTitle", "chatJids",   "chatPartner", "extra"};
  for (std::size_t i = 0; i < 14; ++i) {
    const Json& c = cats[i];
    EXPECT_EQ(c["id"].Int(), static_cast<std::int64_t>(i + 1));
    EXPECT_EQ(c["name"].Str(), kNames[i]);
    EXPECT_TRUE(c["chosen"].boolean);
    const Json& list = i == 4 ? c["conversations"] : i == 9 ? c["chats"] : c["records"];
    ASSERT_EQ(list.kind, Json::Kind::kArray) << kNames[i];
    EXPECT_EQ(c["count"].Int(), static_cast<std::int64_t>(list.size())) << kNames[i];
    if (i != 4 && i != 9) {
      EXPECT_GT(list.size(), 0u) << kNames[i];
    }
    for (const Json& rec : list.items) {
      switch (i) {
        case 0:
        case 1:
        case 10:
          EXPECT_EQ(Keys(rec), media);
          break;
        case 2:
        case 3:
          EXPECT_EQ(Keys(rec), (std::set<std::string>{"size", "app", "name", "path"}));
          break;
        case 5:
          EXPECT_EQ(Keys(rec), (std::set<std::string>{"reserved", "size", "name", "path"}));
          break;
        case 6:
          EXPECT_EQ(Keys(rec), contact);
          break;
        case 7:
          EXPECT_EQ(Keys(rec), call);
          break;
        case 8:
          EXPECT_EQ(Keys(rec), note);
          break;
        case 11:
          EXPECT_EQ(Keys(rec), reminder);
          break;
        case 12:
          EXPECT_EQ(Keys(rec), event);
          break;
        case 13:
          EXPECT_EQ(Keys(rec), bookmark);
          EXPECT_EQ(rec["folder"].kind, Json::Kind::kArray);
          break;
        default:
          break;
      }
      if (rec.Has("path")) {
        EXPECT_TRUE(fs::is_regular_file(rec["path"].Str())) << rec["path"].Str();
      }
    }
  }

  // Conversations: key, handle id, chat and members, and every message under it once,
  // deleted ones listed first. A group is one conversation under a key of its own with
  // every member's messages and the owner's (handle 0).
  const Json& conversations = cats[4]["conversations"];
  ASSERT_GT(conversations.size(), 0u);
  bool seenLive = false;
  std::set<std::int64_t> rowIds;
  int groups = 0;
  for (const Json& conv : conversations.items) {
    const bool group = conv["isGroup"].boolean;
    ASSERT_GT(conv["messages"].size(), 0u);
    if (group) {
      ++groups;
      EXPECT_EQ(conv["handleId"].Int(), 0);
      EXPECT_LT(conv["key"].Int(), 0);
      EXPECT_GT(conv["chatId"].Int(), 0);
      EXPECT_GE(conv["members"].size(), 3u);
      EXPECT_FALSE(conv["label"].Str().empty());
    } else if (conv["key"].Int() == 0) {
      // The owner's deleted messages to groups whose join rows were not found again: they
      // have a conversation of their own, without members.
      EXPECT_TRUE(conv["members"].items.empty());
      for (const Json& m : conv["messages"].items) EXPECT_EQ(m["deleted"].Int(), 1);
    } else {
      EXPECT_EQ(conv["key"].Int(), conv["handleId"].Int());
      ASSERT_EQ(conv["members"].size(), 1u);
      EXPECT_EQ(conv["members"][0].Str(), conv["messages"][0]["sender"].Str());
    }
    std::set<std::int64_t> senders;
    bool anyDeleted = false;
    for (const Json& m : conv["messages"].items) {
      EXPECT_EQ(Keys(m), message);
      if (m["deleted"].Int() == 0) {
        EXPECT_TRUE(rowIds.insert(m["rowId"].Int()).second);
      }
      if (!group) {
        EXPECT_EQ(m["handleId"].Int(), conv["handleId"].Int());
      }
      senders.insert(m["handleId"].Int());
      anyDeleted |= m["deleted"].Int() != 0;
    }
    if (group) {
      EXPECT_GE(senders.size(), 2u) << "a group's members and owner in one conversation";
    }
    EXPECT_EQ(conv["deleted"].Int() != 0, anyDeleted);
    if (!anyDeleted) seenLive = true;
    if (seenLive) {
      EXPECT_FALSE(anyDeleted) << "deleted conversations come first";
    }
  }
  EXPECT_GE(groups, 2);
  const Json& chats = cats[9]["chats"];
  ASSERT_GT(chats.size(), 0u);
  for (const Json& chat : chats.items) {
    EXPECT_EQ(chat["key"].Int(), chat["sessionId"].Int());
    for (const Json& m : chat["messages"].items) {
      EXPECT_EQ(Keys(m), whatsapp);
      EXPECT_EQ(m["sessionId"].Int(), chat["sessionId"].Int());
    }
  }
}

TEST_F(ScanCommandTest, CategoryListChoosesAndTextShowsTheTreeCounts) {
  ScanRun r = Scan({backup_.string(), "--categories", "contacts,notes,reminder", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  Json doc = Json::Parse(r.out);
  for (std::size_t i = 0; i < 14; ++i) {
    const bool chosen = i == 6 || i == 8 || i == 11;
    EXPECT_EQ(doc["categories"][i]["chosen"].boolean, chosen) << i;
    if (!chosen) {
      EXPECT_EQ(doc["categories"][i]["count"].Int(), 0) << i;
    }
  }
  const std::int64_t contacts = doc["categories"][6]["count"].Int();
  EXPECT_GT(contacts, 0);

  ScanRun text = Scan({backup_.string(), "--categories", "contacts,notes,reminder"});
  ASSERT_EQ(text.code, kExitOk) << text.err;
  EXPECT_NE(text.out.find("Contacts (" + std::to_string(contacts) + ")"), std::string::npos)
      << text.out;
  const std::int64_t reminders = doc["categories"][11]["count"].Int();
  EXPECT_GT(reminders, 0);
  EXPECT_NE(text.out.find("Reminder (" + std::to_string(reminders) + ")"), std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find("Camera Roll"), std::string::npos);
}

// The chat apps sit beside the fourteen categories under "chatApps", with the same
// accounts, chats and messages as the chats command shows.
TEST_F(ScanCommandTest, JsonHasTheChatAppsBesideTheFourteen) {
  ScanRun r = Scan({backup_.string(), "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  Json doc = Json::Parse(r.out);
  EXPECT_EQ(doc["categories"].size(), 14u);
  std::ostringstream out, err;
  ASSERT_EQ(RunCli({"chats", backup_.string(), "--json"}, {out, err}), kExitOk) << err.str();
  Json chats = Json::Parse(out.str());
  const std::pair<const char*, std::int64_t> apps[] = {{"wechat", 15}, {"qq", 16}};
  for (const auto& [app, id] : apps) {
    SCOPED_TRACE(app);
    const Json& part = doc["chatApps"][app];
    ASSERT_FALSE(part.IsNull());
    EXPECT_EQ(Keys(part), (std::set<std::string>{"id", "chosen", "chats", "live", "deleted",
                                                 "error", "accounts"}));
    EXPECT_EQ(part["id"].Int(), id);
    EXPECT_TRUE(part["chosen"].boolean);
    EXPECT_TRUE(part["error"].IsNull());
    std::int64_t rows = 0, live = 0, deleted = 0;
    const Json& same = chats[app]["accounts"];
    ASSERT_EQ(part["accounts"].size(), same.size());
    for (std::size_t a = 0; a < same.size(); ++a) {
      const Json& account = part["accounts"][a];
      EXPECT_EQ(account["account"].Str(), same[a]["account"].Str());
      ASSERT_EQ(account["chats"].size(), same[a]["chats"].size());
      for (std::size_t c = 0; c < account["chats"].size(); ++c) {
        const Json& chat = account["chats"][c];
        EXPECT_EQ(chat["key"].Str(), same[a]["chats"][c]["key"].Str());
        EXPECT_EQ(chat["live"].Int(), same[a]["chats"][c]["live"].Int());
        EXPECT_EQ(chat["deleted"].Int(), same[a]["chats"][c]["deleted"].Int());
        ASSERT_EQ(chat["messages"].size(), same[a]["chats"][c]["messages"].size());
        for (std::size_t m = 0; m < chat["messages"].size(); ++m)
          EXPECT_EQ(chat["messages"][m]["text"].Str(),
                    same[a]["chats"][c]["messages"][m]["text"].Str());
        ++rows;
        live += chat["live"].Int();
        deleted += chat["deleted"].Int();
      }
    }
    EXPECT_GT(rows, 0);
    EXPECT_EQ(part["chats"].Int(), rows);
    EXPECT_EQ(part["live"].Int(), live);
    EXPECT_EQ(part["deleted"].Int(), deleted);
    EXPECT_GT(deleted, 0);
  }

  // Not chosen: no accounts, counts 0, and the text form leaves them out.
  ScanRun some = Scan({backup_.string(), "--categories", "contacts,qq", "--json"});
  ASSERT_EQ(some.code, kExitOk) << some.err;
  Json few = Json::Parse(some.out);
  EXPECT_FALSE(few["chatApps"]["wechat"]["chosen"].boolean);
  EXPECT_EQ(few["chatApps"]["wechat"]["chats"].Int(), 0);
  EXPECT_EQ(few["chatApps"]["wechat"]["accounts"].size(), 0u);
  EXPECT_EQ(few["chatApps"]["qq"]["chats"].Int(), doc["chatApps"]["qq"]["chats"].Int());
  ScanRun text = Scan({backup_.string(), "--categories", "contacts,qq"});
  EXPECT_EQ(text.out.find("WeChat"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("QQ (" + std::to_string(doc["chatApps"]["qq"]["chats"].Int()) + ")"),
            std::string::npos)
      << text.out;
}

TEST_F(ScanCommandTest, BadArgumentsAndFoldersAreClearErrors) {
  ScanRun r = Scan({backup_.string(), "--categories", "contacts,selfies"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("selfies"), std::string::npos);
  EXPECT_EQ(r.out, "");

  EXPECT_EQ(Scan({}).code, kExitUsage);
  EXPECT_EQ(Scan({backup_.string(), "--password", "x"}).code, kExitUsage);

  fs::create_directories(dir_ / "empty");
  r = Scan({(dir_ / "empty").string()});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("not a backup"), std::string::npos);
  EXPECT_EQ(Scan({(dir_ / "missing").string()}).code, kExitFailed);

  r = Scan({backup_.string(), "--password-file", (dir_ / "nofile").string()});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("password file"), std::string::npos);
}

TEST_F(ScanCommandTest, EncryptedBackupNeedsItsPasswordFromAFile) {
  mkbackup::EncryptOptions e;
  e.password = "s\xc3\xa9same";
  e.dpic = 1000;
  e.iter = 10;
  const fs::path enc = dir_ / "enc";
  std::string error;
  ASSERT_EQ(mkbackup::EncryptBackup(backup_, enc, e, &error), 0) << error;

  ScanRun r = Scan({enc.string(), "--categories", "contacts"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("encrypted"), std::string::npos);

  const char* bin = std::getenv("BV_BIN_DIR");
  if (!bin || !fs::exists(fs::path(bin) / "tool")) GTEST_SKIP() << "decryption tool not built";

  test::WriteFile(dir_ / "wrong", "nope\n");
  r = Scan({enc.string(), "--categories", "contacts", "--password-file", (dir_ / "wrong").string(),
            "--json"});
  EXPECT_EQ(r.code, kExitFailed);
  EXPECT_NE(r.err.find("password is wrong"), std::string::npos);
  EXPECT_EQ(r.out, "") << "a backup that did not open has nothing to show";

  test::WriteFile(dir_ / "right", e.password + "\r\n");
  r = Scan({enc.string(), "--categories", "contacts", "--password-file", (dir_ / "right").string(),
            "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  Json doc = Json::Parse(r.out);
  EXPECT_EQ(doc["openResult"].Int(), 0);
  EXPECT_TRUE(doc["backup"]["encrypted"].boolean);
  EXPECT_GT(doc["categories"][6]["count"].Int(), 0);
}

}  // namespace
}  // namespace bv::cli
