// Deleted messages of group chats: their join rows are deleted with them and both lose
// their row ids to the carving, so the chat is found again through the join row's copy
// of the message date. Scored against the truth of mkbackup backups, where every fifth
// message goes to a group and deleted messages take their join rows with them. A join
// row whose bytes SQLite has since overwritten (a page defragmented or reused) cannot
// be found again; its message is scored only for never landing in a wrong chat.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "records/readers.h"
#include "support.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

// The bytes a join row (chat_id, message_id, message_date) keeps once freed: its serial
// types after the header length, then its values (SQLite's smallest encoding of each).
std::string JoinRowTail(std::int64_t chat, std::int64_t message, std::int64_t date) {
  std::string types, values;
  for (std::int64_t v : {chat, message, date}) {
    if (v == 0 || v == 1) {
      types.push_back(static_cast<char>(v == 0 ? 8 : 9));
      continue;
    }
    int width = 8;
    int type = 6;
    for (auto [w, t] : {std::pair{1, 1}, {2, 2}, {3, 3}, {4, 4}, {6, 5}}) {
      const std::int64_t limit = std::int64_t{1} << (8 * w - 1);
      if (v >= -limit && v < limit) {
        width = w;
        type = t;
        break;
      }
    }
    types.push_back(static_cast<char>(type));
    for (int i = width - 1; i >= 0; --i) values.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  return types + values;
}

// Tally of one backup's deleted group messages as the reader lists them.
struct GroupTally {
  int groupListed = 0;  // deleted messages whose chat is a group
  int inTheirGroup = 0;
  int wrongChat = 0;  // listed under a chat they never joined
};

GroupTally ReadBackup(const char* ios, int pageSize, test::TempDir& dir, const std::string& tag) {
  mkbackup::BackupOptions o;
  o.iosVersion = ios;
  o.seed = 29;
  o.messages = 800;
  o.recordPageSize = pageSize;
  const fs::path backup = test::BuildBackup(dir, o, "g" + tag);
  const test::Json truth = test::ReadTruth(backup);
  const test::Json& sms = *test::FindDatabase(truth, "sms.db");

  std::map<std::int64_t, int> members;  // chat id -> member count
  for (const test::Json* row : test::LiveRows(sms, "chat_handle_join"))
    ++members[(*row)["values"]["chat_id"].Int()];
  const std::string smsPath = test::StoredFile(backup, sms).string();
  const std::string bytes = test::ReadFile(smsPath);
  // Deleted message id -> its chat id, and whether the join row's bytes remain.
  std::map<std::int64_t, std::pair<std::int64_t, bool>> chatOfMessage;
  for (const test::Json* row : test::DeletedRows(sms, "chat_message_join")) {
    const test::Json& v = (*row)["values"];
    const std::string tail =
        JoinRowTail(v["chat_id"].Int(), v["message_id"].Int(), v["message_date"].Int());
    chatOfMessage[v["message_id"].Int()] = {v["chat_id"].Int(),
                                            bytes.find(tail) != std::string::npos};
  }
  // Deleted messages by what the reader shows of them: date text, handle, direction.
  const bool nanoseconds = std::atoi(ios) >= 11;
  std::map<std::tuple<std::string, std::int64_t, std::int64_t>, std::pair<std::int64_t, bool>>
      chatByShown;
  for (const test::Json* row : test::DeletedRows(sms, "message")) {
    const test::Json& v = (*row)["values"];
    auto chat = chatOfMessage.find((*row)["rowid"].Int());
    if (chat == chatOfMessage.end()) continue;
    std::int64_t seconds = v["date"].Int();
    if (nanoseconds) seconds /= 1000000000;
    char text[32];
    const std::time_t t = static_cast<std::time_t>(seconds + 978307200);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    chatByShown[{text, v["handle_id"].Int(), v["is_from_me"].Int()}] = chat->second;
  }

  ConversationMap conversations;
  const test::Json* book = test::FindDatabase(truth, "AddressBook.sqlitedb");
  MessageReader({}).Read(DatabaseFile(smsPath),
                         DatabaseFile(book ? test::StoredFile(backup, *book).string() : ""),
                         conversations);
  GroupTally tally;
  for (const auto& [key, list] : conversations) {
    for (const MessageRecord& m : list) {
      if (m.deleted == 0) continue;
      auto truthChat = chatByShown.find({m.date.str(), m.handleId, m.isFromMe});
      if (truthChat == chatByShown.end()) continue;
      const auto [chatId, joinRemains] = truthChat->second;
      // Left with its handle is what happens without its join row; another group is wrong.
      if (m.chat && m.chat->isGroup && m.chat->chatId != chatId) ++tally.wrongChat;
      if (members[chatId] <= 1 || !joinRemains) continue;
      ++tally.groupListed;
      if (m.chat && m.chat->chatId == chatId && key == m.chat->key) ++tally.inTheirGroup;
    }
  }
  return tally;
}

TEST(DeletedGroupMessages, GoBackToTheirGroupAndNeverToAnotherChat) {
  test::TempDir dir("deleted-group");
  for (const char* ios : {"14.3", "17.3"}) {
    for (int pageSize : {1024, 4096}) {
      const std::string tag = std::string(ios) + "-" + std::to_string(pageSize);
      const GroupTally t = ReadBackup(ios, pageSize, dir, tag);
      std::printf(
          "iOS %s, %d-byte pages: %d of %d deleted group messages whose join row remains in "
          "their group, %d in a wrong chat\n",
          ios, pageSize, t.inTheirGroup, t.groupListed, t.wrongChat);
      EXPECT_EQ(t.wrongChat, 0) << tag;
      ASSERT_GE(t.groupListed, 5) << tag << ": the backup needs deleted group messages";
      EXPECT_GE(t.inTheirGroup * 10, t.groupListed * 9) << tag;
    }
  }
}

// Without a date in the join rows (older layouts) nothing ties a deleted message to a
// chat: it stays with its handle and is never given a group.
TEST(DeletedGroupMessages, OlderLayoutsKeepThemByHandle) {
  test::TempDir dir("deleted-group-old");
  mkbackup::BackupOptions o;
  o.iosVersion = "9.3.5";
  o.layout = mkbackup::Layout::kOlder;
  o.seed = 29;
  o.messages = 500;
  const fs::path backup = test::BuildBackup(dir, o, "old");
  const test::Json truth = test::ReadTruth(backup);
  const test::Json& sms = *test::FindDatabase(truth, "sms.db");
  ConversationMap conversations;
  MessageReader({}).Read(DatabaseFile(test::StoredFile(backup, sms).string()), DatabaseFile(""),
                         conversations);
  int deleted = 0;
  for (const auto& [key, list] : conversations)
    for (const MessageRecord& m : list)
      if (m.deleted != 0) {
        ++deleted;
        EXPECT_EQ(key, m.handleId);
        EXPECT_TRUE(!m.chat || !m.chat->isGroup) << m.text;
      }
  EXPECT_GT(deleted, 5);
}

}  // namespace
}  // namespace bv
