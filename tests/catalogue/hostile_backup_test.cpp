// Hostile and damaged backups through the local data source: FIFOs, device nodes and
// folders in place of stored files, databases and manifests never hang a scan, and
// every category whose source could not be read says why, in words. Both layouts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "catalogue/accounts.h"
#include "catalogue/discovery.h"
#include "catalogue/file_copy.h"
#include "catalogue/detection.h"
#include "catalogue/local_recovery.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "platform/platform.h"
#include "support.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

// Opens every FIFO it watches for writing once the time is up: a reader stuck in a
// blocking open then gets going again, and the test fails instead of hanging.
class FifoWatchdog {
 public:
  explicit FifoWatchdog(std::vector<fs::path> fifos,
                        std::chrono::seconds limit = std::chrono::seconds(20))
      : fifos_(std::move(fifos)), thread_([this, limit] { Run(limit); }) {}
  ~FifoWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  bool Fired() const { return fired_; }

 private:
  void Run(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, limit, [this] { return done_; })) return;
    fired_ = true;
    while (!done_) {
      for (const fs::path& f : fifos_) {
        const int fd = ::open(f.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
      }
      wake_.wait_for(lock, std::chrono::milliseconds(50));
    }
  }
  std::vector<fs::path> fifos_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

fs::path MakeFifo(const fs::path& path) {
  fs::remove(path);
  EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
  return path;
}

std::string Problem(const IPhoneRecoveryParse& s, Category c) {
  return s.ReadProblem(c);
}

class HostileBackupTest : public ::testing::TestWithParam<mkbackup::Layout> {
 protected:
  void SetUp() override {
    xdg_ = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", (dir_ / "data").string());
    mkbackup::BackupOptions o;
    o.layout = GetParam();
    o.seed = 23;
    backup_ = test::BuildBackup(dir_, o);
    truth_ = test::ReadTruth(backup_);
    InitCatalog(catalog_);
  }
  void TearDown() override { DestroyCatalog(catalog_); }

  bool Newer() const { return GetParam() == mkbackup::Layout::kNewer; }
  fs::path Db(const std::string& label) const {
    const test::Json* db = test::FindDatabase(truth_, label);
    EXPECT_NE(db, nullptr) << label;
    return db ? test::StoredFile(backup_, *db) : fs::path();
  }
  // The stored file of the first manifest entry whose key holds `part`.
  fs::path StoredOf(const std::string& part) const {
    for (const test::Json& f : truth_["files"].items) {
      if (f["key"].Str().find(part) != std::string::npos) return backup_ / f["storedAs"].Str();
    }
    ADD_FAILURE() << "no file with " << part;
    return {};
  }
  std::unique_ptr<CLocalBuckupRecovery> Source() {
    BackupRecord record;
    EXPECT_EQ(ReadBackupFolder(platform::Utf8FromPath(backup_), record), kSuccess);
    SelectBackup(catalog_, record);
    auto source = std::make_unique<CLocalBuckupRecovery>();
    source->Attach(&catalog_);
    return source;
  }

  test::TempDir dir_;
  std::unique_ptr<test::ScopedEnv> xdg_;
  fs::path backup_;
  test::Json truth_;
  BackupCatalog catalog_;
};

TEST_P(HostileBackupTest, AWholeBackupReadsWithoutAProblem) {
  auto source = Source();
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  EXPECT_EQ(source->OpenProblem(), "");
  MediaList roll, stream, whatsAppMedia;
  ConversationMap messages;
  AttachmentList attachments;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  std::list<NoteRecord> notes;
  AppMediaList appMedia;
  WhatsAppChatMap chats;
  source->ReadPhotos(roll, stream);
  source->ReadMessages(messages);
  source->ReadMessageAttachments(attachments);
  source->ReadContacts(contacts);
  source->ReadCallHistory(calls);
  source->ReadNotes(notes);
  source->ReadAppMedia(appMedia);
  source->ReadWhatsApp(chats);
  source->ReadWhatsAppAttachments(whatsAppMedia);
  std::list<ReminderRecord> reminders;
  std::list<CalendarEventRecord> events;
  std::list<BookmarkRecord> bookmarks;
  source->ReadReminders(reminders);
  source->ReadCalendar(events);
  source->ReadBookmarks(bookmarks);
  for (const CategoryInfo& info : Categories())
    EXPECT_EQ(Problem(*source, info.category), "") << info.name;
  EXPECT_FALSE(messages.empty());
  EXPECT_FALSE(chats.empty());
  EXPECT_FALSE(reminders.empty());
  EXPECT_FALSE(events.empty());
  EXPECT_FALSE(bookmarks.empty());
}

TEST_P(HostileBackupTest, CalendarRemindersAndBookmarksSayWhyTheyAreEmpty) {
  std::vector<fs::path> fifos{MakeFifo(Db("Calendar.sqlitedb"))};
  test::WriteFile(Db("Bookmarks.db"), std::string(4096, 'x'));
  const auto stores = test::FindDatabases(truth_, "Reminders store");
  if (Newer()) {
    // iOS 14: two stores, one empty and one with another layout; neither hides the
    // calendar database behind them, which is a FIFO here.
    ASSERT_EQ(stores.size(), 2u);
    test::WriteFile(test::StoredFile(backup_, *stores[0]), "");
    const fs::path other = test::StoredFile(backup_, *stores[1]);
    fs::remove(other);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE ZOTHER (Z_PK INTEGER PRIMARY KEY);", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  } else {
    ASSERT_TRUE(stores.empty());  // iOS 9: reminders are task items of the calendar
  }
  FifoWatchdog watchdog(fifos);
  auto source = Source();
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  std::list<ReminderRecord> reminders{ReminderRecord{}};
  std::list<CalendarEventRecord> events{CalendarEventRecord{}};
  std::list<BookmarkRecord> bookmarks{BookmarkRecord{}};
  source->ReadReminders(reminders);
  source->ReadCalendar(events);
  source->ReadBookmarks(bookmarks);
  EXPECT_FALSE(watchdog.Fired());
  EXPECT_TRUE(reminders.empty());
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(bookmarks.empty());
  EXPECT_EQ(Problem(*source, Category::Calendar), "the calendar database is not a regular file");
  EXPECT_EQ(Problem(*source, Category::Reminder),
            Newer() ? "a reminders store is empty (0 bytes)"
                    : "the calendar database is not a regular file");
  EXPECT_EQ(Problem(*source, Category::SafariBookmark),
            "the Safari bookmarks database is damaged: file is not a database");
}

TEST_P(HostileBackupTest, ADatabaseThePhoneNeverKeptIsNoProblemButOneLostFromTheFolderIs) {
  // Not in the manifest (as before iOS 5 for Bookmarks.db): nothing to read, nothing lost.
  fs::remove(Db("Bookmarks.db"));
  auto source = Source();
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  std::list<BookmarkRecord> bookmarks;
  std::list<CalendarEventRecord> events;
  source->ReadBookmarks(bookmarks);
  EXPECT_TRUE(bookmarks.empty());
  EXPECT_EQ(Problem(*source, Category::SafariBookmark),
            "the Safari bookmarks database is missing from the backup");
  auto it = std::find_if(catalog_.manifest.begin(), catalog_.manifest.end(),
                         [](const ManifestEntry& e) { return e.fileId == kSafariBookmarksId; });
  ASSERT_NE(it, catalog_.manifest.end());
  catalog_.manifest.erase(it);
  source->ReadBookmarks(bookmarks);
  EXPECT_EQ(Problem(*source, Category::SafariBookmark), "");
  // The calendar database stays listed and read.
  source->ReadCalendar(events);
  EXPECT_FALSE(events.empty());
  EXPECT_EQ(Problem(*source, Category::Calendar), "");
}

TEST_P(HostileBackupTest, StandInsForStoredFilesNeverHangAndAreToldApart) {
  std::vector<fs::path> fifos;
  const fs::path photo = StoredOf("CameraRollDomain-Media/DCIM/");
  fifos.push_back(MakeFifo(photo));
  fifos.push_back(MakeFifo(Db("sms.db")));
  fifos.push_back(MakeFifo(Db("MM.sqlite")));
  // A link to a device node: reading it would never end.
  const fs::path attachment = StoredOf("/Attachments/");
  fs::remove(attachment);
  fs::create_symlink("/dev/zero", attachment);
  const fs::path addressBook = Db("AddressBook.sqlitedb");
  fs::remove(addressBook);
  fs::create_directory(addressBook);
  test::WriteFile(Db("CallHistory.storedata"), "this is not a database, only some text....");
  test::WriteFile(Db("NoteStore.sqlite"), "");
  if (!Newer()) test::WriteFile(Db("notes.sqlite"), "");
  const fs::path chatStorage = Db("ChatStorage.sqlite");
  fs::resize_file(chatStorage, fs::file_size(chatStorage) / 2);

  FifoWatchdog watchdog(fifos);
  auto source = Source();
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  MediaList roll, stream, whatsAppMedia;
  ConversationMap messages;
  AttachmentList attachments;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  std::list<NoteRecord> notes;
  AppMediaList appMedia;
  WhatsAppChatMap chats;
  AccountChats weChat, qq;
  source->ReadPhotos(roll, stream);
  source->ReadMessages(messages);
  source->ReadMessageAttachments(attachments);
  source->ReadContacts(contacts);
  source->ReadCallHistory(calls);
  source->ReadNotes(notes);
  source->ReadAppMedia(appMedia);
  source->ReadWhatsApp(chats);
  source->ReadWhatsAppAttachments(whatsAppMedia);
  source->ReadWeChat(weChat);
  source->ReadQQ(qq);
  // Copies and previews of a FIFO fail as for a missing file instead of waiting for a
  // writer.
  const fs::path out = dir_ / "out";
  EXPECT_EQ(source->CopyBackupFile(platform::Utf8FromPath(photo),
                                   platform::Utf8FromPath(out / "photo.jpg"), nullptr, nullptr),
            ENOENT);
  std::string preview;
  EXPECT_EQ(
      source->PreparePreviewCopy(platform::Utf8FromPath(attachment), preview, nullptr, nullptr),
      kInvalidParameter);
  EXPECT_EQ(source->CopyMessageDatabase((out / "sms.db").string()), ENOENT);
  EXPECT_FALSE(fs::exists(out / "sms.db"));
  EXPECT_FALSE(watchdog.Fired()) << "a FIFO was opened for reading and blocked";

  for (const MediaItem& m : roll) EXPECT_NE(platform::PathFromUtf8(m.path), photo);
  for (const AttachmentItem& a : attachments) EXPECT_NE(platform::PathFromUtf8(a.path), attachment);
  EXPECT_EQ(Problem(*source, Category::Messages), "the message database is not a regular file");
  EXPECT_EQ(Problem(*source, Category::Contacts), "the address book is not a regular file");
  EXPECT_EQ(Problem(*source, Category::CallHistory),
            "the call history database is damaged: file is not a database");
  EXPECT_EQ(Problem(*source, Category::Notes), "the notes database is empty (0 bytes)");
  EXPECT_EQ(Problem(*source, Category::WhatsApp).rfind("the WhatsApp database is damaged: ", 0), 0u)
      << Problem(*source, Category::WhatsApp);
  // The calls were still read; only their names are missing with the address book.
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(contacts.empty());
  // What the manifest lists is no problem of its own.
  EXPECT_EQ(Problem(*source, Category::CameraRoll), "");
  EXPECT_EQ(Problem(*source, Category::MessageAttachments), "");
}

TEST_P(HostileBackupTest, MissingAndDamagedDatabasesAreToldInWords) {
  fs::remove(Db("sms.db"));
  const fs::path addressBook = Db("AddressBook.sqlitedb");
  fs::resize_file(addressBook, fs::file_size(addressBook) / 3);
  auto source = Source();
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  ConversationMap messages;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  source->ReadMessages(messages);
  source->ReadContacts(contacts);
  source->ReadCallHistory(calls);
  EXPECT_EQ(Problem(*source, Category::Messages),
            "the message database is missing from the backup");
  const std::string damaged = "the address book is damaged: ";
  EXPECT_EQ(Problem(*source, Category::Contacts).rfind(damaged, 0), 0u)
      << Problem(*source, Category::Contacts);
  // The calls are there, their names are not: said so, with the reason.
  EXPECT_FALSE(calls.empty());
  const std::string callProblem = Problem(*source, Category::CallHistory);
  EXPECT_EQ(callProblem.rfind(damaged, 0), 0u) << callProblem;
  EXPECT_NE(callProblem.find("(calls are shown without names)"), std::string::npos);

  // A new scan starts from a clean slate.
  test::WriteFile(backup_ / "unrelated", "x");
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  EXPECT_EQ(Problem(*source, Category::Messages), "");
}

TEST_P(HostileBackupTest, StandInsForTheManifestAndInfoPlistNeverHang) {
  const fs::path manifest = backup_ / (Newer() ? "Manifest.db" : "Manifest.mbdb");
  const fs::path info = backup_ / "Info.plist";
  FifoWatchdog watchdog({manifest, info});
  {
    auto source = Source();
    MakeFifo(manifest);
    EXPECT_NE(source->OpenBackup(""), kSuccess);
    EXPECT_EQ(source->OpenProblem(),
              (Newer() ? "Manifest.db" : "Manifest.mbdb") + std::string(" is not a regular file"));
    EXPECT_TRUE(catalog_.manifest.empty());
    // The categories found through the manifest say why they are empty.
    MediaList roll, stream;
    source->ReadPhotos(roll, stream);
    EXPECT_EQ(Problem(*source, Category::CameraRoll), source->OpenProblem());
  }
  MakeFifo(info);
  BackupRecord record;
  EXPECT_EQ(ReadBackupFolder(platform::Utf8FromPath(backup_), record), kInvalidParameter);
  FindCandidatesIn(catalog_, platform::Utf8FromPath(dir_.path()));
  std::vector<BackupRecord> listed;
  ListBackups(catalog_, listed);
  EXPECT_TRUE(listed.empty());
  EXPECT_FALSE(watchdog.Fired());
}

TEST_P(HostileBackupTest, DamagedManifestsAreToldInWords) {
  auto source = Source();
  if (Newer()) {
    test::WriteFile(backup_ / "Manifest.db", "garbage garbage garbage garbage garbage garbage");
    EXPECT_EQ(source->OpenBackup(""), kQueryFailed);
    EXPECT_EQ(source->OpenProblem(), "Manifest.db is damaged: file is not a database");
    test::WriteFile(backup_ / "Manifest.db", "");
    EXPECT_EQ(source->OpenBackup(""), kQueryFailed);
    EXPECT_EQ(source->OpenProblem(), "Manifest.db is empty (0 bytes)");
    return;
  }
  const fs::path mbdb = backup_ / "Manifest.mbdb";
  const std::string whole = test::ReadFile(mbdb);
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  const std::size_t all = catalog_.manifest.size();
  // Cut inside a record: the scan goes on with what was listed, and says so.
  test::WriteFile(mbdb, whole.substr(0, whole.size() / 2));
  ASSERT_EQ(source->OpenBackup(""), kSuccess);
  EXPECT_LT(catalog_.manifest.size(), all);
  EXPECT_GT(catalog_.manifest.size(), 0u);
  const std::string problem = source->OpenProblem();
  EXPECT_EQ(problem.rfind("Manifest.mbdb is cut short after ", 0), 0u) << problem;
  MediaList roll, stream;
  AppMediaList apps;
  source->ReadPhotos(roll, stream);
  source->ReadAppMedia(apps);
  for (Category c :
       {Category::CameraRoll, Category::PhotoStream, Category::AppPhotos, Category::AppVideos})
    EXPECT_EQ(Problem(*source, c), problem) << CategoryOf(c).name;

  test::WriteFile(mbdb, "mbdx" + whole.substr(4));
  EXPECT_EQ(source->OpenBackup(""), kInvalidParameter);
  EXPECT_EQ(source->OpenProblem(),
            "Manifest.mbdb is damaged: it does not begin with the \"mbdb\" header");
  fs::remove(mbdb);
  EXPECT_EQ(source->OpenBackup(""), kInvalidParameter);
  EXPECT_EQ(source->OpenProblem(), "the folder has neither Manifest.db nor Manifest.mbdb");
}

INSTANTIATE_TEST_SUITE_P(Layouts, HostileBackupTest,
                         ::testing::Values(mkbackup::Layout::kNewer, mkbackup::Layout::kOlder),
                         [](const auto& info) {
                           return std::string(info.param == mkbackup::Layout::kNewer ? "Newer"
                                                                                     : "Older");
                         });

}  // namespace
}  // namespace bv
