// Databases backed up in use: their write-ahead logs are stored files of their own.
// The readers must see what SQLite sees with each log applied (the same backup written
// without logs is the reference), leave the backup as it was, and go on without a log
// that is damaged, telling so.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "catalogue/discovery.h"
#include "catalogue/local_recovery.h"
#include "catalogue/manifest.h"
#include "catalogue_fixture.h"
#include "records/readers.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

// What the readers give for the five categories kept in databases with logs, one
// line per record, and the category's problem text.
struct Reading {
  std::string messages, contacts, calls, notes, whatsApp;
  std::size_t messageCount = 0, contactCount = 0, callCount = 0, noteCount = 0, whatsAppCount = 0;
  std::array<std::string, kCategoryCount> problems;
  // WeChat and QQ (raw reader): live and deleted messages, and the stores' problems.
  std::string chatsLive, chatsDeleted;
  std::size_t chatsLiveCount = 0;
  std::string weChatProblem, qqProblem;
};

Reading ReadAll(const fs::path& folder) {
  Reading r;
  BackupCatalog catalog;
  BackupRecord record;
  EXPECT_EQ(ReadBackupFolder(folder.string(), record), 0);
  SelectBackup(catalog, record);
  CLocalBuckupRecovery source;
  source.Attach(&catalog);
  EXPECT_EQ(source.OpenBackup(""), 0);
  ConversationMap messages;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  std::list<NoteRecord> notes;
  WhatsAppChatMap chats;
  source.ReadMessages(messages);
  source.ReadContacts(contacts);
  source.ReadCallHistory(calls);
  source.ReadNotes(notes);
  source.ReadWhatsApp(chats);
  // Live records only: the raw reader carves the database files, not their logs, so
  // rows deleted by a change the log holds are not found in a logged backup.
  std::erase_if(calls, [](const CallRecord& c) { return c.deleted != 0; });
  std::erase_if(contacts, [](const ContactRecord& c) { return c.deleted != 0; });
  std::erase_if(notes, [](const NoteRecord& n) { return n.deleted != 0; });
  for (auto& [handle, list] : messages)
    std::erase_if(list, [](const MessageRecord& m) { return m.deleted != 0; });
  for (auto& [key, list] : chats)
    std::erase_if(list, [](const WhatsAppMessageRecord& m) { return m.deleted != 0; });
  std::ostringstream out;
  for (const auto& [handle, list] : messages)
    for (const MessageRecord& m : list) {
      out << handle << '|' << m.date << '|' << m.sender << '|' << m.name << '|' << m.text << '\n';
      ++r.messageCount;
    }
  r.messages = out.str();
  out.str("");
  for (const ContactRecord& c : contacts) {
    out << c.name << '|' << c.phone << '|' << c.email << '|' << c.organization << '\n';
    ++r.contactCount;
  }
  r.contacts = out.str();
  out.str("");
  for (const CallRecord& c : calls) {
    out << c.date << '|' << c.address << '|' << c.name << '|' << c.duration << '\n';
    ++r.callCount;
  }
  r.calls = out.str();
  out.str("");
  for (const NoteRecord& n : notes) {
    out << n.date << '|' << n.title << '|' << n.body << '\n';
    ++r.noteCount;
  }
  r.notes = out.str();
  out.str("");
  for (const auto& [key, list] : chats)
    for (const WhatsAppMessageRecord& m : list) {
      out << key << '|' << m.date << '|' << m.senderName << '|' << m.text << '\n';
      ++r.whatsAppCount;
    }
  r.whatsApp = out.str();
  AccountChats weChat, qq;
  source.ReadWeChat(weChat);
  source.ReadQQ(qq);
  std::multiset<std::string> live, deleted;
  for (const AccountChats* app : {&weChat, &qq})
    for (const auto& [account, chats] : *app)
      for (const auto& [key, list] : chats)
        for (const ChatMessageRecord& m : list)
          (m.status == 0 ? live : deleted)
              .insert(account + '|' + key + '|' + m.time + '|' + std::to_string(m.is_sender) + '|' +
                      m.text + (m.partial ? "|partial" : ""));
  for (const std::string& line : live) r.chatsLive += line + '\n';
  for (const std::string& line : deleted) r.chatsDeleted += line + '\n';
  r.chatsLiveCount = live.size();
  // After every read: the scan takes each category's problem, the chat apps' too.
  for (std::size_t c = 0; c < kCategoryCount; ++c)
    r.problems[c] = source.ReadProblem(static_cast<Category>(c));
  r.weChatProblem = source.ChatStoreProblem(true);
  r.qqProblem = source.ChatStoreProblem(false);
  return r;
}

// The stored file of the log of database `label` in the truth.
fs::path StoredLog(const fs::path& backup, const test::Json& truth, const std::string& label) {
  const test::Json* db = test::FindDatabase(truth, label);
  if (db == nullptr) return {};
  const std::string id = (*db)["logFileId"].Str();
  return id.empty() ? fs::path() : backup / id.substr(0, 2) / id;
}

class StoredLogBackup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempFolder("storedlog");
    mkbackup::BackupOptions o;
    o.seed = 23;
    o.messages = 90;
    o.whatsapp = 60;
    o.iosVersion = "15.3.1";
    plain_ = new fs::path(test::BuildBackup(*dir_, o, "plain"));
    o.writeAheadLogs = true;
    logged_ = new fs::path(test::BuildBackup(*dir_, o, "logged"));
  }
  static void TearDownTestSuite() {
    delete plain_;
    delete logged_;
    delete dir_;
  }
  // A copy of the logged backup to damage.
  fs::path Copy(const std::string& name) {
    const fs::path to = dir_->path() / name;
    fs::remove_all(to);
    fs::copy(*logged_, to, fs::copy_options::recursive);
    return to;
  }
  static testing::TempFolder* dir_;
  static fs::path* plain_;
  static fs::path* logged_;
};
testing::TempFolder* StoredLogBackup::dir_ = nullptr;
fs::path* StoredLogBackup::plain_ = nullptr;
fs::path* StoredLogBackup::logged_ = nullptr;

TEST_F(StoredLogBackup, EveryRowOfTheLogsIsReadAndTheBackupStaysAsItWas) {
  const test::Json truth = test::ReadTruth(*logged_);
  for (const char* label : {"sms.db", "AddressBook.sqlitedb", "CallHistory.storedata",
                            "NoteStore.sqlite", "ChatStorage.sqlite", "MM.sqlite", "QQ.db"}) {
    const fs::path log = StoredLog(*logged_, truth, label);
    ASSERT_FALSE(log.empty()) << label;
    EXPECT_TRUE(fs::is_regular_file(log)) << label;
  }
  const auto before = test::SnapshotTree(*logged_);
  const Reading reference = ReadAll(*plain_);
  const Reading logged = ReadAll(*logged_);
  EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(*logged_)), "");
  EXPECT_GT(reference.messageCount, 30u);
  EXPECT_GT(reference.contactCount, 10u);
  EXPECT_GT(reference.callCount, 10u);
  EXPECT_GT(reference.noteCount, 5u);
  EXPECT_GT(reference.whatsAppCount, 20u);
  EXPECT_EQ(logged.messages, reference.messages);
  EXPECT_EQ(logged.contacts, reference.contacts);
  EXPECT_EQ(logged.calls, reference.calls);
  EXPECT_EQ(logged.notes, reference.notes);
  EXPECT_EQ(logged.whatsApp, reference.whatsApp);
  for (std::size_t c = 0; c < kCategoryCount; ++c)
    EXPECT_EQ(logged.problems[c], reference.problems[c]) << c;
  // The chat stores through the raw reader: the same live messages; the deleted ones
  // that the file kept come back from the pages the log replaced.
  EXPECT_GT(reference.chatsLiveCount, 40u);
  EXPECT_EQ(logged.chatsLive, reference.chatsLive);
  // Backing the stores up in use moved rows with secure deletion, which may wipe a few
  // deleted rows from the file: every deleted message of the plain backup whose text is
  // still in the logged store or its log is found, and nothing else is.
  std::string storeBytes;
  for (const char* label : {"MM.sqlite", "QQ.db"})
    for (const test::Json* db : test::FindDatabases(truth, label)) {
      storeBytes += test::ReadFile(test::StoredFile(*logged_, *db));
      const std::string id = (*db)["logFileId"].Str();
      if (!id.empty()) storeBytes += test::ReadFile(*logged_ / id.substr(0, 2) / id);
    }
  std::istringstream plainDeleted(reference.chatsDeleted);
  std::size_t kept = 0, wiped = 0;
  for (std::string line; std::getline(plainDeleted, line);) {
    const std::string text = line.substr(line.rfind('|') + 1);
    const bool inFiles = storeBytes.find(text) != std::string::npos;
    const bool found = logged.chatsDeleted.find(line + '\n') != std::string::npos;
    EXPECT_EQ(found, inFiles) << line;
    (found ? kept : wiped)++;
  }
  EXPECT_GT(kept, 10u);
  EXPECT_LE(wiped, 3u);
  std::istringstream loggedDeleted(logged.chatsDeleted);
  for (std::string line; std::getline(loggedDeleted, line);)
    EXPECT_NE(reference.chatsDeleted.find(line + '\n'), std::string::npos) << line;
  EXPECT_EQ(logged.weChatProblem, "");
  EXPECT_EQ(logged.qqProblem, "");
}

TEST_F(StoredLogBackup, WithoutTheirLogsTheNewestRowsAreMissing) {
  // What the readers got before they looked for the stored logs: the files alone.
  const fs::path copy = Copy("unlisted");
  const test::Json truth = test::ReadTruth(copy);
  for (const char* label : {"sms.db", "AddressBook.sqlitedb", "CallHistory.storedata",
                            "NoteStore.sqlite", "ChatStorage.sqlite", "MM.sqlite", "QQ.db"})
    fs::remove(StoredLog(copy, truth, label));
  const Reading reference = ReadAll(*plain_);
  const Reading alone = ReadAll(copy);
  EXPECT_LT(alone.messageCount, reference.messageCount);
  EXPECT_LT(alone.contactCount, reference.contactCount);
  EXPECT_LT(alone.callCount, reference.callCount);
  EXPECT_LT(alone.noteCount, reference.noteCount);
  EXPECT_LT(alone.whatsAppCount, reference.whatsAppCount);
  EXPECT_LT(alone.chatsLiveCount, reference.chatsLiveCount);
  EXPECT_EQ(alone.weChatProblem,
            "the WeChat store of User1's write-ahead log is missing: the database is read "
            "without it");
  EXPECT_NE(alone.qqProblem.find("'s write-ahead log is missing"), std::string::npos)
      << alone.qqProblem;
  // The scan's warning and `scan --json` take them as the chat apps' category problems.
  EXPECT_EQ(alone.problems[static_cast<std::size_t>(Category::WeChat)], alone.weChatProblem);
  EXPECT_EQ(alone.problems[static_cast<std::size_t>(Category::QQ)], alone.qqProblem);
  // Listed in the manifest, missing from the folder: said per category.
  EXPECT_EQ(alone.problems[static_cast<std::size_t>(Category::Contacts)],
            "the address book's write-ahead log is missing from the backup: the database is "
            "read without it");
  EXPECT_EQ(alone.problems[static_cast<std::size_t>(Category::Notes)],
            "the notes database's write-ahead log is missing from the backup: the database is "
            "read without it");
}

TEST_F(StoredLogBackup, ACutOrGarbledLogStillGivesTheFileAndWhatTheLogHoldsSound) {
  const fs::path copy = Copy("damaged");
  const test::Json truth = test::ReadTruth(copy);
  // The message log cut in its last frame: its single transaction is lost.
  const fs::path smsLog = StoredLog(copy, truth, "sms.db");
  fs::resize_file(smsLog, fs::file_size(smsLog) - 500);
  // The address book's log overwritten with garbage.
  test::WriteFile(StoredLog(copy, truth, "AddressBook.sqlitedb"), std::string(20000, '\x7f'));
  const Reading reference = ReadAll(*plain_);
  const Reading damaged = ReadAll(copy);
  EXPECT_LT(damaged.messageCount, reference.messageCount);
  EXPECT_GT(damaged.messageCount, 0u);
  EXPECT_LT(damaged.contactCount, reference.contactCount);
  EXPECT_GT(damaged.contactCount, 0u);
  // Calls are all there; without the address book's log some lose their names.
  EXPECT_EQ(damaged.callCount, reference.callCount);
  EXPECT_NE(damaged.calls, reference.calls);
  EXPECT_EQ(damaged.notes, reference.notes);
  const std::string& messages = damaged.problems[static_cast<std::size_t>(Category::Messages)];
  EXPECT_EQ(messages.rfind("the message database's write-ahead log is cut short", 0), 0u)
      << messages;
  EXPECT_EQ(damaged.problems[static_cast<std::size_t>(Category::Contacts)],
            "the address book's write-ahead log is damaged (no log header): none of its changes "
            "are read");
  // The calls take names from the address book: read, and its log told there as well.
  EXPECT_EQ(damaged.problems[static_cast<std::size_t>(Category::CallHistory)],
            damaged.problems[static_cast<std::size_t>(Category::Contacts)]);
  EXPECT_EQ(damaged.problems[static_cast<std::size_t>(Category::Notes)], "");
}

// The rows of `table` that SQLite sees in the database file `path`, opened alone.
long long RowsOf(const fs::path& path, const char* table) {
  sqlite3* db = nullptr;
  long long n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    const std::string sql = std::string("SELECT count(*) FROM ") + table;
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** v, char**) {
          *static_cast<long long*>(out) = std::atoll(v[0]);
          return 0;
        },
        &n, nullptr);
  }
  sqlite3_close(db);
  return n;
}

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The recovered copies of the message database and the address book carry the rows of
// their logs; a log that cannot be applied leaves the plain copy of the stored file.
TEST_F(StoredLogBackup, RecoveredDatabaseCopiesHoldTheRowsOfTheirLogs) {
  testing::TempFolder out("dbcopies");
  auto copies = [&](const fs::path& backup, const std::string& tag) {
    BackupCatalog catalog;
    BackupRecord record;
    EXPECT_EQ(ReadBackupFolder(backup.string(), record), 0);
    SelectBackup(catalog, record);
    CLocalBuckupRecovery source;
    source.Attach(&catalog);
    EXPECT_EQ(source.OpenBackup(""), 0);
    const fs::path sms = out.path() / (tag + "-sms.sqlite");
    const fs::path book = out.path() / (tag + "-AddressBook.sqlitedb");
    EXPECT_EQ(source.CopyMessageDatabase(sms.string()), 0);
    EXPECT_EQ(source.CopyContactsDatabase(book.string()), 0);
    return std::make_pair(sms, book);
  };
  const auto before = test::SnapshotTree(*logged_);
  const auto [plainSms, plainBook] = copies(*plain_, "plain");
  const auto [loggedSms, loggedBook] = copies(*logged_, "logged");
  EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(*logged_)), "");
  EXPECT_GT(RowsOf(plainSms, "message"), 20);
  EXPECT_EQ(RowsOf(loggedSms, "message"), RowsOf(plainSms, "message"));
  EXPECT_EQ(RowsOf(loggedSms, "chat_message_join"), RowsOf(plainSms, "chat_message_join"));
  EXPECT_GT(RowsOf(plainBook, "ABPerson"), 5);
  EXPECT_EQ(RowsOf(loggedBook, "ABPerson"), RowsOf(plainBook, "ABPerson"));
  // The stored main file alone lacks the rows of the log: the copy is more than it.
  const test::Json truth = test::ReadTruth(*logged_);
  EXPECT_LT(RowsOf(*logged_ / std::string(kMessagesDbId).substr(0, 2) / kMessagesDbId, "message"),
            RowsOf(loggedSms, "message"));

  // A garbled log: the copy is the stored file, byte for byte, as before logs were read.
  const fs::path damaged = Copy("garbled-log");
  test::WriteFile(StoredLog(damaged, truth, "sms.db"), std::string(20000, '\x7f'));
  const auto [garbledSms, garbledBook] = copies(damaged, "garbled");
  EXPECT_EQ(Bytes(garbledSms),
            Bytes(damaged / std::string(kMessagesDbId).substr(0, 2) / kMessagesDbId));
}

// The real address books of the shared corpus, placed in a backup as a phone's backup
// stores them: the database and its log as two stored files named by their paths.
TEST(CorpusStoredLog, RealAddressBooksWithTheirLogsAsStoredFiles) {
  const char* zips[] = {
      "ileapp/addressBook/testdata.addressBook.addressBook.josh_ios15_ffs.zip",
      "ileapp/addressBook/testdata.addressBook.addressBook.belkasoft_ctf6_ios_device1.zip",
      "ileapp/addressBook/testdata.addressBook.addressBook.mvs_ios_2023.zip",
  };
  const char* env = std::getenv("BV_CORPUS_DIR");
  const fs::path corpus = env != nullptr ? fs::path(env) : fs::path("/work/shared/corpus");
  for (const char* zip : zips) {
    if (!fs::exists(corpus / zip)) GTEST_SKIP() << "corpus not present";
    testing::TempFolder dir("corpuslog");
    mkbackup::BackupOptions o;
    o.seed = 5;
    o.iosVersion = "15.3.1";
    const fs::path backup = test::BuildBackup(dir, o);
    const std::string cmd = "unzip -qo '" + (corpus / zip).string() + "' -d '" +
                            (dir.path() / "unzipped").string() + "' >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    ASSERT_TRUE(rc == 0 || (WIFEXITED(rc) && WEXITSTATUS(rc) == 1)) << zip;
    fs::path ab;
    for (const auto& e : fs::recursive_directory_iterator(dir.path() / "unzipped"))
      if (e.path().filename() == "AddressBook.sqlitedb") ab = e.path();
    ASSERT_FALSE(ab.empty()) << zip;
    fs::path log = ab;
    log += "-wal";
    // SQLite's own view, on a copy of the database with its log beside it.
    fs::create_directories(dir.path() / "view");
    fs::copy_file(ab, dir.path() / "view/ab");
    fs::copy_file(log, dir.path() / "view/ab-wal");
    long long expected = -1, persons = -1;
    {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open((dir.path() / "view/ab").c_str(), &db), SQLITE_OK);
      auto count = [&](const char* sql) {
        sqlite3_stmt* st = nullptr;
        long long n = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
          n = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
        return n;
      };
      // Every person is a contact, with or without a phone.
      expected = count("SELECT count(*) FROM ABPersonFullTextSearch_content");
      persons = count("SELECT count(*) FROM ABPerson");
      sqlite3_close(db);
    }
    ASSERT_GE(expected, 0) << zip;
    ASSERT_GE(persons, 0) << zip;  // the table is there once the log is applied
    // Into the backup: the address book's stored file replaced, its log stored as the
    // file of "HomeDomain-Library/AddressBook/AddressBook.sqlitedb-wal" and listed.
    const std::string abId = kAddressBookDbId;
    fs::copy_file(ab, backup / abId.substr(0, 2) / abId, fs::copy_options::overwrite_existing);
    const std::string logId =
        mkbackup::FileIdOf("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb-wal");
    fs::create_directories(backup / logId.substr(0, 2));
    fs::copy_file(log, backup / logId.substr(0, 2) / logId);
    {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open((backup / "Manifest.db").c_str(), &db), SQLITE_OK);
      const std::string sql =
          "INSERT INTO Files(fileID, domain, relativePath, flags) VALUES('" + logId +
          "', 'HomeDomain', 'Library/AddressBook/AddressBook.sqlitedb-wal', 1);";
      ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    const auto before = test::SnapshotTree(backup);
    BackupCatalog catalog;
    BackupRecord record;
    ASSERT_EQ(ReadBackupFolder(backup.string(), record), 0);
    SelectBackup(catalog, record);
    CLocalBuckupRecovery source;
    source.Attach(&catalog);
    ASSERT_EQ(source.OpenBackup(""), 0);
    std::list<ContactRecord> contacts;
    EXPECT_EQ(source.ReadContacts(contacts), 0) << zip;
    EXPECT_EQ(static_cast<long long>(contacts.size()), expected) << zip;
    EXPECT_EQ(source.ReadProblem(Category::Contacts), "") << zip;
    EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(backup)), "") << zip;
  }
}

}  // namespace
}  // namespace bv
