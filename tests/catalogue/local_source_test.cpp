// The local data source over whole synthetic backups of both manifest layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "catalogue/discovery.h"
#include "catalogue/local_recovery.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "records/readers.h"
#include "catalogue_fixture.h"
#include "mkbackup.h"

namespace bv {
namespace {

struct Positions {
  std::vector<int> seen;
  static std::int32_t Cb(void* u, std::int32_t p) {
    static_cast<Positions*>(u)->seen.push_back(p);
    return 0;
  }
};

class LocalSourceTest : public ::testing::TestWithParam<mkbackup::Layout> {
 protected:
  void SetUp() override {
    mkbackup::BackupOptions o;
    o.layout = GetParam();
    o.seed = 11;
    std::string error;
    ASSERT_EQ(mkbackup::WriteBackup(o, dir_.path() / "backup", &error), 0) << error;
    BackupRecord record;
    ASSERT_EQ(ReadBackupFolder((dir_.path() / "backup").string(), record), 0);
    ASSERT_FALSE(record.encrypted);
    SelectBackup(catalog_, record);
    source_ = std::make_unique<CLocalBuckupRecovery>();
    ASSERT_EQ(source_->Attach(&catalog_), 0);
    source_->SetProgressCallback(Positions::Cb, &positions_);
  }
  testing::TempFolder dir_{"local"};
  BackupCatalog catalog_;
  std::unique_ptr<IPhoneRecoveryParse> source_;
  Positions positions_;
};

TEST_P(LocalSourceTest, EveryCategoryInScanOrderEndsAt98) {
  ASSERT_EQ(source_->OpenBackup(""), 0);
  EXPECT_FALSE(catalog_.manifest.empty());
  MediaList roll, stream, whatsAppMedia;
  ConversationMap messages;
  AttachmentList attachments;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  std::list<NoteRecord> notes;
  AppMediaList appMedia;
  WhatsAppChatMap chats;
  EXPECT_EQ(source_->ReadPhotos(roll, stream), 0);
  EXPECT_EQ(source_->ReadMessages(messages), 0);
  EXPECT_EQ(source_->ReadMessageAttachments(attachments), 0);
  // The older address-book layout answers only the second statement: listed, yet 1006.
  const int addressBookResult = GetParam() == mkbackup::Layout::kOlder ? 1006 : 0;
  EXPECT_EQ(source_->ReadContacts(contacts), addressBookResult);
  EXPECT_EQ(source_->ReadCallHistory(calls), addressBookResult);
  EXPECT_EQ(source_->ReadNotes(notes), 0);
  EXPECT_EQ(source_->ReadAppMedia(appMedia), 0);
  EXPECT_EQ(source_->ReadWhatsApp(chats), 0);
  EXPECT_EQ(source_->ReadWhatsAppAttachments(whatsAppMedia), 0);
  // The three categories beyond the described ones find no room left: the scan still
  // ends at 98, and they report it again (a stop asked for is seen there).
  const std::size_t described = positions_.seen.size();
  std::list<ReminderRecord> reminders;
  std::list<CalendarEventRecord> events;
  std::list<BookmarkRecord> bookmarks;
  EXPECT_EQ(source_->ReadReminders(reminders), 0);
  EXPECT_EQ(source_->ReadCalendar(events), 0);
  EXPECT_EQ(source_->ReadBookmarks(bookmarks), 0);
  EXPECT_EQ(positions_.seen.size(), described + 3);
  EXPECT_FALSE(reminders.empty());
  EXPECT_FALSE(events.empty());
  EXPECT_FALSE(bookmarks.empty());

  ASSERT_FALSE(positions_.seen.empty());
  EXPECT_EQ(positions_.seen.front(), 0);
  EXPECT_EQ(positions_.seen.back(), 98);
  EXPECT_EQ(*std::max_element(positions_.seen.begin(), positions_.seen.end()), 98);

  EXPECT_FALSE(roll.empty());
  EXPECT_FALSE(messages.empty());
  EXPECT_FALSE(attachments.empty());
  EXPECT_FALSE(contacts.empty());
  EXPECT_FALSE(calls.empty());
  EXPECT_FALSE(notes.empty());
  EXPECT_FALSE(appMedia.empty());
  // The catalogue keeps its own copy of the chats its chat-text writer looks up.
  EXPECT_EQ(catalog_.whatsAppChats.size(), chats.size());
}

TEST_P(LocalSourceTest, TheThreeNewReadsTakeHalfAUnitEachWhereThereIsRoom) {
  ASSERT_EQ(source_->OpenBackup(""), 0);
  ASSERT_EQ(positions_.seen.back(), 12);  // opened: 1 + 11
  std::list<ReminderRecord> reminders;
  std::list<CalendarEventRecord> events;
  std::list<BookmarkRecord> bookmarks;
  EXPECT_EQ(source_->ReadReminders(reminders), 0);
  EXPECT_EQ(source_->ReadCalendar(events), 0);
  EXPECT_EQ(source_->ReadBookmarks(bookmarks), 0);
  EXPECT_EQ(std::vector<int>(positions_.seen.end() - 3, positions_.seen.end()),
            (std::vector<int>{17, 22, 27}));
  // Reminders come from the reminders app's stores from iOS 13 on (the newer layout
  // here is 14.3), and from the calendar's task items before (9.3.5).
  std::size_t fromStores = 0;
  for (const ManifestEntry& e : catalog_.manifest) fromStores += IsRemindersStoreKey(e.key);
  EXPECT_EQ(fromStores, GetParam() == mkbackup::Layout::kNewer ? 2u : 0u);
  std::list<ReminderRecord> tasks;
  CalendarReader().ReadTasks(StoredFilePath(catalog_, kCalendarDbId), tasks);
  if (GetParam() == mkbackup::Layout::kNewer) {
    EXPECT_TRUE(tasks.empty());
    EXPECT_GT(reminders.size(), 10u);  // both stores
  } else {
    EXPECT_EQ(reminders.size(), tasks.size());
    EXPECT_FALSE(tasks.empty());
  }
}

TEST_P(LocalSourceTest, CopiesTheFixedDatabases) {
  ASSERT_EQ(source_->OpenBackup(""), 0);
  const auto out = dir_.path() / "out";
  std::filesystem::create_directories(out);
  EXPECT_EQ(source_->CopyMessageDatabase((out / "sms.db").string()), 0);
  EXPECT_EQ(source_->CopyContactsDatabase((out / "AddressBook.sqlitedb").string()), 0);
  EXPECT_EQ(testing::ReadFile(out / "sms.db").substr(0, 15), "SQLite format 3");
  EXPECT_EQ(testing::ReadFile(out / "AddressBook.sqlitedb").substr(0, 15), "SQLite format 3");
  EXPECT_TRUE(source_->IsLocalBackup(0));
  EXPECT_EQ(source_->Reserved(5), 0);
}

TEST_P(LocalSourceTest, WeChatAndQQAccountsWithDeletedMessages) {
  ASSERT_EQ(source_->OpenBackup(""), 0);
  AccountChats wechat, qq;
  EXPECT_EQ(source_->ReadWeChat(wechat), 0);
  EXPECT_EQ(source_->ReadQQ(qq), 0);
  ASSERT_EQ(wechat.size(), 2u);
  EXPECT_EQ(wechat.begin()->first, "User1");
  EXPECT_EQ(qq.size(), 2u);
  int live = 0, deleted = 0;
  for (const auto* accounts : {&wechat, &qq})
    for (const auto& [account, chats] : *accounts)
      for (const auto& [key, messages] : chats)
        for (const auto& m : messages) (m.status ? deleted : live)++;
  EXPECT_GT(live, 0);
  EXPECT_GT(deleted, 0);  // the synthetic stores keep deleted rows in their pages
  // The writers look chats up in the catalogue's own copies.
  const auto& [account, chats] = *wechat.begin();
  ASSERT_FALSE(chats.empty());
  const auto out = dir_.path() / "chat.txt";
  EXPECT_EQ(
      source_->WriteWeChatChatText(account, chats.begin()->first, out.string(), nullptr, nullptr),
      0);
  EXPECT_GT(std::filesystem::file_size(out), 3u);
  const auto& [qqAccount, qqChats] = *qq.begin();
  ASSERT_FALSE(qqChats.empty());
  EXPECT_EQ(
      source_->WriteQQChatText(qqAccount, qqChats.begin()->first, out.string(), nullptr, nullptr),
      0);
  EXPECT_GT(std::filesystem::file_size(out), 3u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, LocalSourceTest,
                         ::testing::Values(mkbackup::Layout::kNewer, mkbackup::Layout::kOlder),
                         [](const auto& info) {
                           return info.param == mkbackup::Layout::kNewer ? std::string("Newer")
                                                                         : std::string("Older");
                         });

}  // namespace
}  // namespace bv
