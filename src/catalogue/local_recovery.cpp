#include "catalogue/local_recovery.h"

#include "catalogue/accounts.h"
#include "catalogue/classification.h"
#include "catalogue/detection.h"
#include "catalogue/file_copy.h"
#include "catalogue/manifest.h"
#include "common/result_codes.h"
#include "common/text.h"
#include "platform/platform.h"
#include "records/chat_text.h"
#include "records/readers.h"

#include <filesystem>

namespace bv {

CLocalBuckupRecovery::~CLocalBuckupRecovery() {
  if (catalog_) catalog_->decryptionRun.reset();
}

std::string CLocalBuckupRecovery::ReadProblem(Category c) const {
  if (!catalog_) return {};
  return catalog_->readProblems[static_cast<std::size_t>(c)];
}

std::string CLocalBuckupRecovery::ChatStoreProblem(bool weChat) const {
  if (!catalog_) return {};
  return ReadProblem(weChat ? Category::WeChat : Category::QQ);
}

std::string CLocalBuckupRecovery::OpenProblem() const {
  return catalog_ ? catalog_->manifestProblem : std::string();
}

std::int32_t CLocalBuckupRecovery::Attach(void* target) {
  catalog_ = static_cast<BackupCatalog*>(target);
  return kSuccess;
}

std::int32_t CLocalBuckupRecovery::SetProgressCallback(ProgressCallback callback, void* user) {
  if (!catalog_) return kInvalidParameter;
  catalog_->progressCallback = callback;
  catalog_->progressUser = user;
  return kSuccess;
}

std::int32_t CLocalBuckupRecovery::Reserved(std::int32_t) {
  return kSuccess;
}
bool CLocalBuckupRecovery::IsLocalBackup(std::int32_t) {
  return true;
}

std::int32_t CLocalBuckupRecovery::OpenBackup(const std::string& password) {
  if (!catalog_) return kInvalidParameter;
  return bv::OpenBackup(*catalog_, password);
}

namespace {

void SetProblem(BackupCatalog& c, Category category, std::string text) {
  c.readProblems[static_cast<std::size_t>(category)] = std::move(text);
}

// The categories found by walking the manifest lose what a damaged manifest does not list.
void SetManifestProblem(BackupCatalog& c, Category category) {
  SetProblem(c, category, c.manifestProblem);
}

}  // namespace

std::int32_t CLocalBuckupRecovery::ReadMessageAttachments(AttachmentList& items) {
  if (!catalog_) return kInvalidParameter;
  SetManifestProblem(*catalog_, Category::MessageAttachments);
  return bv::ReadMessageAttachments(*catalog_, items);
}

std::int32_t CLocalBuckupRecovery::ReadPhotos(MediaList& cameraRoll, MediaList& photoStream) {
  if (!catalog_) return kInvalidParameter;
  SetManifestProblem(*catalog_, Category::CameraRoll);
  SetManifestProblem(*catalog_, Category::PhotoStream);
  return bv::ReadPhotos(*catalog_, cameraRoll, photoStream);
}

std::int32_t CLocalBuckupRecovery::ReadWhatsAppAttachments(MediaList& items) {
  if (!catalog_) return kInvalidParameter;
  SetManifestProblem(*catalog_, Category::WhatsAppAttachments);
  return bv::ReadWhatsAppAttachments(*catalog_, items);
}

std::int32_t CLocalBuckupRecovery::ReadAppMedia(AppMediaList& items) {
  if (!catalog_) return kInvalidParameter;
  SetManifestProblem(*catalog_, Category::AppPhotos);
  SetManifestProblem(*catalog_, Category::AppVideos);
  return bv::ReadAppMedia(*catalog_, items);
}

std::int32_t CLocalBuckupRecovery::PreparePreviewCopy(const std::string& backupFile,
                                                      std::string& copyPath,
                                                      ProgressCallback callback, void* user) {
  if (!catalog_) return kInvalidParameter;
  return bv::PreparePreviewCopy(*catalog_, backupFile, copyPath, callback, user);
}

std::int32_t CLocalBuckupRecovery::CopyBackupFile(const std::string& source,
                                                  const std::string& destination,
                                                  CopyCallback callback, void* user) {
  return bv::CopyBackupFile(source, destination, callback, user);
}

namespace {

// A database of the backup with its write-ahead log: the manifest lists the log as a
// file of its own (same domain, path + "-wal"), stored under its own name.
DatabaseFile StoredDatabase(const BackupCatalog& c, const std::string& fileId) {
  return DatabaseFile(StoredFilePath(c, fileId), StoredLogPath(c, fileId));
}

// A database copied out of the backup: with its stored log applied when it has one (the
// rows that live in the log belong in the copy too), else byte for byte by `plainCopy`.
Result CopyStoredDatabase(const BackupCatalog& c, const char* fileId,
                          const std::string& destination,
                          Result (*plainCopy)(const BackupCatalog&, const std::string&)) {
  const DatabaseFile stored = StoredDatabase(c, fileId);
  if (!stored.log.empty() && CopyDatabaseWithLog(stored, destination) == kSuccess) return kSuccess;
  return plainCopy(c, destination);
}

bool StoredExists(const BackupCatalog& c, const char* fileId) {
  std::error_code ec;
  return std::filesystem::exists(platform::PathFromUtf8(StoredFilePath(c, fileId)), ec);
}

// SQLite's side files are backed up as files of their own; opening one as the
// database itself would read nothing.
bool IsSideFile(const std::string& key) {
  for (const char* suffix : {"-wal", "-shm", "-journal"})
    if (key.ends_with(suffix)) return true;
  return false;
}

ProgressSink SinkOf(const BackupCatalog& c) {
  return ProgressSink{c.progressCallback, c.progressUser, c.progress, c.progressStep};
}

// The database's own issue; else, for readers that name people, the address book's,
// with what it costs.
std::string DatabaseProblem(const DatabaseIssue& own, const std::string& what,
                            const DatabaseIssue& names = {}, const char* without = nullptr) {
  if (!own.Quiet()) return own.Describe(what);
  if (!names.Ok() && without != nullptr)
    return names.Describe("the address book") + " (" + without + ")";
  // Names read, from the address book without (all of) its log.
  if (!names.Quiet() && without != nullptr) return names.Describe("the address book");
  return {};
}

}  // namespace

std::int32_t CLocalBuckupRecovery::CopyMessageDatabase(const std::string& destination) {
  if (!catalog_) return kInvalidParameter;
  return CopyStoredDatabase(*catalog_, kMessagesDbId, destination, bv::CopyMessageDatabase);
}

std::int32_t CLocalBuckupRecovery::CopyContactsDatabase(const std::string& destination) {
  if (!catalog_) return kInvalidParameter;
  return CopyStoredDatabase(*catalog_, kAddressBookDbId, destination, bv::CopyContactsDatabase);
}

std::int32_t CLocalBuckupRecovery::ReadMessages(ConversationMap& messages) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  // The messages stand in the caller's map only: the catalogue keeps copies of the chat
  // maps that its chat-text writers look up, and none of them writes messages. A second
  // copy of every message would double what the largest category weighs while the
  // scan goes on.
  MessageReader reader(SinkOf(c));
  Result r =
      reader.Read(StoredDatabase(c, kMessagesDbId), StoredDatabase(c, kAddressBookDbId), messages);
  SetProblem(c, Category::Messages,
             DatabaseProblem(reader.Problem(), "the message database", reader.NamesProblem(),
                             "messages are shown without names"));
  c.Advance(c.progressStep / 2);
  return r;
}

std::int32_t CLocalBuckupRecovery::ReadContacts(std::list<ContactRecord>& contacts) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  ContactReader reader;
  Result r = reader.Read(StoredDatabase(c, kAddressBookDbId), contacts);
  SetProblem(c, Category::Contacts, DatabaseProblem(reader.Problem(), "the address book"));
  c.Advance(c.progressStep / 2);
  return r;
}

std::int32_t CLocalBuckupRecovery::ReadNotes(std::list<NoteRecord>& notes) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  NoteReader reader;
  Result r = reader.Read(StoredDatabase(c, kNotesOlderId), StoredDatabase(c, kNotesNewerId), notes);
  SetProblem(c, Category::Notes, DatabaseProblem(reader.Problem(), "the notes database"));
  c.Advance(c.progressStep / 2);
  return r;
}

std::int32_t CLocalBuckupRecovery::ReadCallHistory(std::list<CallRecord>& calls) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  const char* db = StoredExists(c, kCallHistoryNewerId) ? kCallHistoryNewerId : kCallHistoryOlderId;
  CallHistoryReader reader;
  Result r = reader.Read(StoredDatabase(c, db), StoredDatabase(c, kAddressBookDbId), calls);
  SetProblem(c, Category::CallHistory,
             DatabaseProblem(reader.Problem(), "the call history database", reader.NamesProblem(),
                             "calls are shown without names"));
  c.Advance(c.progressStep / 2);
  return r;
}

std::int32_t CLocalBuckupRecovery::ReadWhatsApp(WhatsAppChatMap& chats) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  c.whatsAppChats.clear();
  std::string chatStorage;
  int matches = 0;
  for (const ManifestEntry& e : c.manifest) {
    if (IsSideFile(e.key)) continue;
    if (e.key.find("ChatStorage.sqlite") != std::string::npos) {
      chatStorage = e.fileId;
      ++matches;
    } else if (e.key.find("Contacts.sqlite") != std::string::npos) {
      ++matches;  // WhatsApp's contact store: located, not read
    }
    if (matches >= 2) break;
  }
  // Current WhatsApp keeps its chats in its app group's shared container; the app's
  // own container is read when it has them (older versions, or both kept).
  static constexpr std::string_view kAppChats = "AppDomain-net.whatsapp.WhatsApp-";
  static constexpr std::string_view kSharedChats =
      "AppDomainGroup-group.net.whatsapp.WhatsApp.shared-ChatStorage.sqlite";
  std::string appChats, sharedChats;
  for (const ManifestEntry& e : c.manifest) {
    if (appChats.empty() && e.key.starts_with(kAppChats) && e.key.ends_with("/ChatStorage.sqlite"))
      appChats = e.fileId;
    if (sharedChats.empty() && e.key == kSharedChats) sharedChats = e.fileId;
  }
  if (!appChats.empty())
    chatStorage = appChats;
  else if (!sharedChats.empty())
    chatStorage = sharedChats;
  if (!chatStorage.empty()) {
    WhatsAppChatMap found;
    WhatsAppReader reader;
    reader.Read(StoredDatabase(c, chatStorage), found);
    std::string problem = DatabaseProblem(reader.Problem(), "the WhatsApp database");
    // An app container without chats (a leftover of an older version): the shared one.
    if (found.empty() && chatStorage == appChats && !sharedChats.empty()) {
      WhatsAppReader shared;
      shared.Read(StoredDatabase(c, sharedChats), found);
      problem = DatabaseProblem(shared.Problem(), "the WhatsApp database");
    }
    for (auto& [key, list] : found) chats[key].splice(chats[key].end(), list);
    SetProblem(c, Category::WhatsApp, std::move(problem));
  } else {
    // No WhatsApp in the backup, or in the part of the manifest that could be read.
    SetManifestProblem(c, Category::WhatsApp);
  }
  c.whatsAppChats = chats;
  return c.Advance(c.progressStep);
}

std::int32_t CLocalBuckupRecovery::WriteWhatsAppChatText(std::int32_t chatKey,
                                                         const std::string& output,
                                                         CopyCallback callback, void* user) {
  if (!catalog_) return kInvalidParameter;
  return bv::WriteWhatsAppChatText(catalog_->whatsAppChats, chatKey, output, callback, user);
}

std::int32_t CLocalBuckupRecovery::ReadQQ(AccountChats& chats) {
  if (!catalog_) return kInvalidParameter;
  return bv::ReadQQ(*catalog_, chats);
}

std::int32_t CLocalBuckupRecovery::ReadWeChat(AccountChats& chats) {
  if (!catalog_) return kInvalidParameter;
  return bv::ReadWeChat(*catalog_, chats);
}

std::int32_t CLocalBuckupRecovery::WriteQQChatText(const std::string& firstKey,
                                                   const std::string& secondKey,
                                                   const std::string& output, CopyCallback callback,
                                                   void* user) {
  if (!catalog_) return kInvalidParameter;
  return bv::WriteQQChatText(catalog_->qqChats, firstKey, secondKey, output, callback, user);
}

std::int32_t CLocalBuckupRecovery::WriteWeChatChatText(const std::string& firstKey,
                                                       const std::string& secondKey,
                                                       const std::string& output,
                                                       CopyCallback callback, void* user) {
  if (!catalog_) return kInvalidParameter;
  return bv::WriteWeChatChatText(catalog_->weChatChats, firstKey, secondKey, output, callback,
                                 user);
}

// Reminders, calendar and bookmarks: each read takes half a unit of progress while the
// described categories leave room for it (with every category chosen they leave none,
// and the scan ends where the described one does).
namespace {

bool Listed(const BackupCatalog& c, const char* fileId) {
  for (const ManifestEntry& e : c.manifest)
    if (e.fileId == fileId) return true;
  return false;
}

// A phone that never kept the database (Safari never opened, a system before the
// file existed) leaves it out of the manifest: the category is empty, not unread. A
// database the manifest lists but the folder lacks is told like any other issue, and
// so is every database when the manifest could not be read whole.
std::string ItemProblem(const BackupCatalog& c, const char* fileId, const DatabaseIssue& issue,
                        const std::string& what) {
  if (issue.kind == DatabaseIssue::Kind::kMissing && !Listed(c, fileId) &&
      c.manifestProblem.empty())
    return {};
  if (issue.kind == DatabaseIssue::Kind::kMissing && !c.manifestProblem.empty())
    return c.manifestProblem;
  return issue.Describe(what);
}

}  // namespace

std::int32_t CLocalBuckupRecovery::ReadReminders(std::list<ReminderRecord>& reminders) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  // iOS 13 on: one store per account in the reminders app's container; before, task
  // items of the calendar database. A backup that has stores is read from them alone.
  std::vector<DatabaseFile> stores;
  for (const ManifestEntry& e : c.manifest)
    if (IsRemindersStoreKey(e.key)) stores.push_back(StoredDatabase(c, e.fileId));
  int withTable = 0;
  Result r = kSuccess;
  std::string problem;
  if (!stores.empty()) {
    ReminderReader reader;
    r = reader.ReadStores(stores, reminders, &withTable);
    // Listed stores: one that is not in the folder is lost, not absent from the phone.
    problem = DatabaseProblem(reader.Problem(), "a reminders store");
  }
  if (withTable == 0) {
    CalendarReader reader;
    r = reader.ReadTasks(StoredDatabase(c, kCalendarDbId), reminders);
    if (problem.empty())
      problem = ItemProblem(c, kCalendarDbId, reader.Problem(), "the calendar database");
  }
  SetProblem(c, Category::Reminder, std::move(problem));
  c.AdvanceWithinScan(c.progressStep / 2);
  return r;
}

std::int32_t CLocalBuckupRecovery::ReadCalendar(std::list<CalendarEventRecord>& events) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  CalendarReader reader;
  Result r = reader.ReadEvents(StoredDatabase(c, kCalendarDbId), events);
  SetProblem(c, Category::Calendar,
             ItemProblem(c, kCalendarDbId, reader.Problem(), "the calendar database"));
  c.AdvanceWithinScan(c.progressStep / 2);
  return r;
}

std::int32_t CLocalBuckupRecovery::ReadBookmarks(std::list<BookmarkRecord>& bookmarks) {
  if (!catalog_) return kInvalidParameter;
  BackupCatalog& c = *catalog_;
  BookmarkReader reader;
  Result r = reader.Read(StoredDatabase(c, kSafariBookmarksId), bookmarks);
  SetProblem(c, Category::SafariBookmark,
             ItemProblem(c, kSafariBookmarksId, reader.Problem(), "the Safari bookmarks database"));
  c.AdvanceWithinScan(c.progressStep / 2);
  return r;
}

}  // namespace bv
