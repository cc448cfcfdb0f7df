// A whole scan of a synthetic backup through the real data source and catalogue.
#include <gtest/gtest.h>

#include "catalogue/discovery.h"
#include "catalogue/local_recovery.h"
#include "fake_source.h"
#include "scan/scan_session.h"
#include "support.h"

namespace bv {
namespace {

using namespace std::chrono_literals;

class ScanBackup : public ::testing::Test {
 protected:
  void SetUp() override {
    xdg_ = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", (dir_ / "data").string());
    mkbackup::BackupOptions o;
    o.seed = 11;
    o.media = 12;
    backup_ = test::BuildBackup(dir_, o);
    truth_ = test::ReadTruth(backup_);
    InitCatalog(catalog_);
    ASSERT_EQ(ReadBackupFolder(backup_.string(), request_.backup), 0);
    request_.catalog = &catalog_;
    session_.SetEventSink(&log_);
    session_.SetOpenedPause(0ms);
  }
  void TearDown() override { DestroyCatalog(catalog_); }

  test::TempDir dir_;
  std::unique_ptr<test::ScopedEnv> xdg_;
  test::fs::path backup_;
  test::Json truth_;
  BackupCatalog catalog_;
  ScanRequest request_;
  test::EventLog log_;
  CScanSession session_;
};

TEST_F(ScanBackup, EveryCategoryOfAPlainBackupThenTheChatAppsFillTheBar) {
  ASSERT_TRUE(session_.Start(request_));
  session_.Wait();
  EXPECT_EQ(log_.Of(ScanEventKind::Ended), std::vector<std::int32_t>{0});
  EXPECT_EQ(log_.Of(ScanEventKind::OpenState), std::vector<std::int32_t>{0});
  EXPECT_EQ(session_.OpenResult(), 0);
  EXPECT_EQ(session_.ShownPercent(), 99);
  auto progress = log_.Of(ScanEventKind::Progress);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), 2);
  for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i], progress[i - 1]);

  // The stores hold exactly what the data source gives when asked directly.
  const ScanStores& s = session_.Stores();
  BackupCatalog direct;
  SelectBackup(direct, request_.backup);
  CLocalBuckupRecovery source;
  source.Attach(&direct);
  ASSERT_EQ(source.OpenBackup(""), 0);
  std::list<ContactRecord> contacts;
  source.ReadContacts(contacts);
  EXPECT_EQ(s.contacts.size(), contacts.size());
  ConversationMap conversations;
  source.ReadMessages(conversations);
  EXPECT_EQ(s.conversations.size(), conversations.size());
  EXPECT_EQ(session_.CategoryCount(Category::Messages),
            static_cast<std::int32_t>(s.conversationList.size()));
  WhatsAppChatMap chats;
  source.ReadWhatsApp(chats);
  EXPECT_EQ(s.chatList.size(), chats.size());

  for (Category c :
       {Category::CameraRoll, Category::Messages, Category::Contacts, Category::CallHistory,
        Category::Notes, Category::WhatsApp, Category::MessageAttachments, Category::Reminder,
        Category::Calendar, Category::SafariBookmark})
    EXPECT_GT(session_.CategoryCount(c), 0) << CategoryCliName(c);
  // The three categories beyond the described ones: what the readers give, with the
  // progress still ending where the described scan does (98, above).
  std::list<ReminderRecord> reminders;
  source.ReadReminders(reminders);
  EXPECT_EQ(s.reminders.size(), reminders.size());
  std::list<CalendarEventRecord> events;
  source.ReadCalendar(events);
  EXPECT_EQ(s.events.size(), events.size());
  std::list<BookmarkRecord> bookmarks;
  source.ReadBookmarks(bookmarks);
  EXPECT_EQ(s.bookmarks.size(), bookmarks.size());
  EXPECT_EQ(session_.CategoryCount(Category::Reminder),
            static_cast<std::int32_t>(reminders.size()));
  for (const CalendarEventRecord& e : s.events)
    EXPECT_NE(session_.Statistics().FindEntry(&e), CStatisticsObj::npos);

  // The chat apps: what the accounts' passes give, one row per chat.
  AccountChats weChat, qq;
  ASSERT_EQ(source.ReadWeChat(weChat), 0);
  ASSERT_EQ(source.ReadQQ(qq), 0);
  ASSERT_FALSE(weChat.empty());
  ASSERT_FALSE(qq.empty());
  auto flat = [](const AccountChats& accounts) {
    std::vector<std::string> lines;
    for (const auto& [account, chats] : accounts)
      for (const auto& [key, messages] : chats)
        for (const ChatMessageRecord& m : messages)
          lines.push_back(account + "|" + key + "|" + std::to_string(m.status) + "|" + m.time +
                          "|" + m.text);
    return lines;
  };
  EXPECT_EQ(flat(s.weChat), flat(weChat));
  EXPECT_EQ(flat(s.qq), flat(qq));
  std::size_t weChatChats = 0;
  for (const auto& [account, chats] : weChat) weChatChats += chats.size();
  EXPECT_EQ(session_.CategoryCount(Category::WeChat), static_cast<std::int32_t>(weChatChats));
  EXPECT_GT(session_.CategoryCount(Category::QQ), 0);
  const std::vector<std::int32_t> tail(progress.end() - 3, progress.end());
  EXPECT_EQ(tail, (std::vector<std::int32_t>{kChatAppsFromPercent, kQQFromPercent, 99}));

  // The tree holds every item of every store, each entry pointing into its store.
  std::uint32_t sum = 0;
  for (int i = 0; i < kCategoryCount; ++i)
    sum += static_cast<std::uint32_t>(session_.CategoryCount(static_cast<Category>(i)));
  EXPECT_EQ(session_.Statistics().Root().items, sum);
  for (const ContactRecord& c : s.contacts)
    EXPECT_NE(session_.Statistics().FindEntry(&c), CStatisticsObj::npos);
  EXPECT_TRUE(session_.RecoveryEnabled());

  // The backup folder went through read-only access: the truth file still matches.
  EXPECT_EQ(test::ReadTruth(backup_).size(), truth_.size());
}

TEST_F(ScanBackup, TheFourteenAloneEndAtNinetyEight) {
  request_.chosen[static_cast<int>(Category::WeChat)] = false;
  request_.chosen[static_cast<int>(Category::QQ)] = false;
  ASSERT_TRUE(session_.Start(request_));
  session_.Wait();
  EXPECT_EQ(session_.ShownPercent(), 98);
  EXPECT_TRUE(session_.Stores().weChat.empty());
  EXPECT_EQ(session_.CategoryCount(Category::QQ), 0);
}

TEST_F(ScanBackup, StopRightAfterStartEndsOnceWithoutHanging) {
  request_.chosen = CategorySet{};
  request_.chosen[static_cast<int>(Category::Contacts)] = true;
  request_.chosen[static_cast<int>(Category::AppPhotos)] = true;
  // Pause and stop before the worker has got anywhere. The worker waits after opening
  // (holding the scan lock, as when the window swaps its panes), so that a busy machine
  // cannot let it finish this small scan before the pause arrives.
  session_.SetOpenedPause(500ms);
  ASSERT_TRUE(session_.Start(request_));
  session_.Pause();
  session_.BeginStop();
  session_.ConfirmStop();
  session_.Wait();
  EXPECT_FALSE(session_.IsScanning());
  EXPECT_EQ(log_.Of(ScanEventKind::Ended).size(), 1u);
  // The session cannot promise that a stop beats a scan this small to its end: a worker
  // that got the lock back first may have read everything. Then it ended as a whole scan.
  if (session_.LastResult() != kStopped) {
    EXPECT_EQ(log_.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kSuccess});
    EXPECT_TRUE(session_.NodeShown(Category::Contacts));
    EXPECT_GT(session_.CategoryCount(Category::AppPhotos), 0);
  }
}

}  // namespace
}  // namespace bv
