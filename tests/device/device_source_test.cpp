// The device data source against the fake phone: relay and full-file-system scans,
// the relay's edge cases, the connection failures and the clean-up of work files.
#include <plist/plist.h>

#include <algorithm>

#include "device/device_fixture.h"

namespace bv::test {
namespace {

std::size_t CountMessages(const ConversationMap& map) {
  std::size_t n = 0;
  for (const auto& [handle, list] : map) n += list.size();
  return n;
}

TEST_F(DeviceTest, RelayScanFillsMessagesAndContactsFromTheArchive) {
  phone_->afc2 = false;
  phone_->faults.maxReceive = 1000;  // the relay delivers in short pieces
  auto source = MakeSource();
  EXPECT_FALSE(source->IsLocalBackup(0));
  EXPECT_EQ(source->OpenBackup(""), 0);

  // The request: an XML property list asking for the user databases, framed by its
  // big-endian length.
  ASSERT_FALSE(phone_->relayRequest.empty());
  EXPECT_EQ(phone_->relayRequestLength, phone_->relayRequest.size());
  plist_t request = nullptr;
  plist_from_xml(phone_->relayRequest.data(),
                 static_cast<std::uint32_t>(phone_->relayRequest.size()), &request);
  ASSERT_NE(request, nullptr);
  plist_t sources = plist_dict_get_item(request, "Sources");
  ASSERT_NE(sources, nullptr);
  ASSERT_EQ(plist_array_get_size(sources), 1u);
  char* text = nullptr;
  plist_get_string_val(plist_array_get_item(sources, 0), &text);
  EXPECT_STREQ(text, "UserDatabases");
  free(text);
  plist_free(request);

  // A small archive: the end-of-transfer report (base 1 + 1), then 20 twice.
  EXPECT_EQ(log_.positions, (std::vector<std::int32_t>{1, 2, 20, 20}));
  const fs::path root = source->TemporaryRootFolder();
  EXPECT_TRUE(fs::exists(root / "Tarnwick"));
  EXPECT_FALSE(fs::exists(source->RelayArchivePath())) << "unpacked archive is deleted";
  // The cut copies are the phone's files byte for byte.
  EXPECT_EQ(ReadAll(root / "sms"), ReadAll(library_ / "SMS/sms.db"));
  EXPECT_EQ(ReadAll(root / "personcontent"),
            ReadAll(library_ / "AddressBook/AddressBook.sqlitedb"));

  ConversationMap messages;
  EXPECT_EQ(source->ReadMessages(messages), 0);
  EXPECT_EQ(CountMessages(messages), 5u);
  ASSERT_TRUE(messages.count(1));
  EXPECT_NE(messages[1].front().name.view().find("Ada"), std::string::npos)
      << "names from the cut address book";
  std::list<ContactRecord> contacts;
  EXPECT_EQ(source->ReadContacts(contacts), 0);
  EXPECT_EQ(contacts.size(), 2u);
  // Without the whole file system, notes and calls are not on this computer.
  std::list<NoteRecord> notes;
  source->ReadNotes(notes);
  EXPECT_TRUE(notes.empty());
  std::list<CallRecord> calls;
  source->ReadCallHistory(calls);
  EXPECT_TRUE(calls.empty());

  const fs::path out = tmp_.path() / "export/sms.db";
  fs::create_directories(out.parent_path());
  EXPECT_EQ(source->CopyMessageDatabase(out.string()), 0);
  EXPECT_EQ(ReadAll(out), ReadAll(library_ / "SMS/sms.db"));
}

TEST_F(DeviceTest, FullFileSystemScanCopiesTheFourDatabases) {
  auto source = MakeSource();
  ASSERT_TRUE(source->Session().fullFilesystem);
  EXPECT_EQ(source->OpenBackup(""), 0);
  const fs::path root = source->TemporaryRootFolder();
  EXPECT_EQ(ReadAll(root / "note"), ReadAll(library_ / "Notes/notes.sqlite"));
  EXPECT_EQ(ReadAll(root / "history"),
            ReadAll(root_ / "private/var/wireless/Library/CallHistory/call_history.db"));

  ConversationMap messages;
  EXPECT_EQ(source->ReadMessages(messages), 0);
  EXPECT_EQ(CountMessages(messages), 5u);
  std::list<ContactRecord> contacts;
  EXPECT_EQ(source->ReadContacts(contacts), 0);
  EXPECT_EQ(contacts.size(), 2u);
  std::list<NoteRecord> notes;
  EXPECT_EQ(source->ReadNotes(notes), 0);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes.front().title, "Two");
  std::list<CallRecord> calls;
  EXPECT_EQ(source->ReadCallHistory(calls), 0);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls.front().address, "+15550002");
  // The end advances: 20, then half a unit per reader.
  EXPECT_EQ(log_.positions.back(), 20 + 4 * (11 / 2));

  // After the copies the file service was reopened without the preference.
  const auto& c = phone_->calls;
  EXPECT_EQ(c.back(), "open afc");
  EXPECT_EQ(phone_->openFiles, 0) << "every device file is closed again";
}

TEST_F(DeviceTest, ReplyOfLengthZeroWritesNoArchive) {
  phone_->afc2 = false;
  phone_->faults.replyLengthZero = true;
  auto source = MakeSource();
  // The result is that of opening the file service on the relay's connection.
  EXPECT_EQ(source->OpenBackup(""), 0);
  EXPECT_FALSE(fs::exists(source->RelayArchivePath()));
  EXPECT_FALSE(fs::exists(source->TemporaryRootFolder() / "sms"));
  ConversationMap messages;
  source->ReadMessages(messages);
  EXPECT_TRUE(messages.empty());
}

TEST_F(DeviceTest, MembersBeyondTheSearchWindowAreNotCut) {
  phone_->afc2 = false;
  // Sorted first in the archive: 17 MiB ahead of the address book and the messages.
  WriteFile(library_ / "AAA/big.bin", std::string(17u << 20, '\0'));
  auto source = MakeSource();
  EXPECT_EQ(source->OpenBackup(""), 0);
  const fs::path root = source->TemporaryRootFolder();
  EXPECT_TRUE(fs::exists(root / "Tarnwick"));
  EXPECT_FALSE(fs::exists(root / "sms"));
  EXPECT_FALSE(fs::exists(root / "personcontent"));
}

TEST_F(DeviceTest, RelayProgressEvery32MiBAndStop) {
  phone_->afc2 = false;
  phone_->relayPayload = std::string(70u << 20, 'z');  // not an archive: unpacking fails
  {
    auto source = MakeSource();
    EXPECT_EQ(source->OpenBackup(""), 0);
    EXPECT_EQ(log_.positions, (std::vector<std::int32_t>{1, 2, 3, 4, 20, 20}));
    // Without "Everything is Ok" the archive stays, complete.
    EXPECT_EQ(fs::file_size(source->RelayArchivePath()), 70u << 20);
  }
  log_ = ProgressLog{};
  log_.stopAt = 2;
  auto source = MakeSource();
  EXPECT_EQ(source->OpenBackup(""), 2) << "a stop during the transfer ends the scan";
  EXPECT_EQ(log_.positions.front(), 1);
  EXPECT_EQ(log_.positions[1], 2);
  EXPECT_EQ(fs::file_size(source->RelayArchivePath()), 32u << 20)
      << "an earlier, longer archive leaves no tail";
}

TEST_F(DeviceTest, ReadingADirectoryOrAFailingReadGivesTheirMessages) {
  auto source = MakeSource();
  ASSERT_TRUE(source->Session().fullFilesystem);
  const fs::path local = tmp_.path() / "copy";
  EXPECT_EQ(source->copy_file("/private/var/mobile/Library/Notes", local), kInvalidParameter);
  EXPECT_EQ(source->LastError(), "尝试读取目录");
  EXPECT_FALSE(fs::exists(local));

  EXPECT_EQ(source->copy_file("/private/var/mobile/Library/Nothing.db", local), kInvalidParameter);
  EXPECT_EQ(source->LastError(),
            "准备查询该文件信息时失败: /private/var/mobile/Library/Nothing.db");

  phone_->faults.readFailsAfter = 4096;
  EXPECT_EQ(source->copy_file(kMessagesDevicePath, local), kInvalidParameter);
  EXPECT_EQ(source->LastError(), "读取文件出错");
  EXPECT_FALSE(fs::exists(local)) << "no half copy under the database's name";

  phone_->faults.readFailsAfter = -1;
  EXPECT_EQ(source->copy_file(kMessagesDevicePath, local), 0);
  EXPECT_EQ(ReadAll(local), ReadAll(library_ / "SMS/sms.db"));
  const FileInformation info = source->stat(kMessagesDevicePath);
  EXPECT_EQ(info.size, fs::file_size(library_ / "SMS/sms.db"));
  EXPECT_EQ(info.kind, 2);
  EXPECT_EQ(source->stat("/private/var/mobile/Library").kind, 0);
  EXPECT_EQ(phone_->openFiles, 0);
}

TEST_F(DeviceTest, ConnectionFailuresAreNamed) {
  struct Case {
    const char* what;
    void (*set)(FakePhoneFaults&);
    const char* text;
    bool relayFails;
  } cases[] = {
      {"connect", [](FakePhoneFaults& f) { f.connectFails = true; }, "连接失败", true},
      {"pairing", [](FakePhoneFaults& f) { f.pairingFails = true; }, "配对失败", true},
      {"session", [](FakePhoneFaults& f) { f.sessionFails = true; }, "开始会话失败", true},
      // The session that could not be stopped still serves the relay.
      {"stop session", [](FakePhoneFaults& f) { f.stopSessionFails = true; }, "关闭会话失败",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    phone_->faults = FakePhoneFaults{};
    c.set(phone_->faults);
    log_ = ProgressLog{};
    auto source = MakeSource();
    EXPECT_EQ(source->LastError(), c.text) << "the first connection fails with its text";
    const std::int32_t r = source->OpenBackup("");
    if (!c.relayFails) continue;
    EXPECT_EQ(r, kScanError);
    EXPECT_EQ(source->LastError(), c.text);
    EXPECT_EQ(log_.positions, (std::vector<std::int32_t>{1, 20}));
    ConversationMap messages;
    source->ReadMessages(messages);
    EXPECT_TRUE(messages.empty());
  }
}

TEST_F(DeviceTest, NoPhoneSaysSoEverywhere) {
  FakePhone none(root_);
  none.faults.absent = true;
  EXPECT_NE(none.Discover(), 0);
  CDeviceRecovery source;
  source.SetToolFolder(BinFolder());
  source.SetProgressCallback(&ProgressLog::Callback, &log_);
  source.Attach(&none);
  EXPECT_EQ(source.LastError(), "");
  EXPECT_EQ(source.OpenBackup(""), kScanError);
  EXPECT_EQ(source.LastError(), "未连接到iPhone");
  std::string name;
  EXPECT_EQ(source.device_name(name), kInvalidParameter);
  EXPECT_EQ(source.copy_file(kMessagesDevicePath, tmp_.path() / "x"), kInvalidParameter);
  EXPECT_THROW(source.connect_device(), DeviceError);
  EXPECT_TRUE(none.calls.empty()) << "nothing is asked of a phone that is not there";

  // Without any access object at all.
  CDeviceRecovery bare;
  bare.Attach(nullptr);
  EXPECT_EQ(bare.file_relay(), kScanError);
  EXPECT_EQ(bare.LastError(), "未连接到iPhone");
}

TEST_F(DeviceTest, DeviceNameFitsTheBuffer) {
  auto source = MakeSource();
  std::string name;
  phone_->name = u"Ada\u2019s iPhone \U0001F600";
  EXPECT_EQ(source->device_name(name), 0);
  EXPECT_EQ(name, "Ada\u2019s iPhone \U0001F600");
  phone_->name = std::u16string(255, u'n');
  EXPECT_EQ(source->device_name(name), 0);
  EXPECT_EQ(name.size(), 255u);
  phone_->name = std::u16string(300, u'n');
  name = "kept";
  EXPECT_EQ(source->device_name(name), kNameTooLong);
  EXPECT_EQ(name, "kept");
}

TEST_F(DeviceTest, MessageAttachmentsComeFromTheArchive) {
  phone_->afc2 = false;
  const std::string png = FakePng(700);
  WriteFile(library_ / "SMS/Attachments/0a/10/IMG_0001.jpeg", png);
  WriteFile(library_ / "SMS/Attachments/0b/11/empty.jpg", "");
  WriteFile(library_ / "SMS/Attachments/0c/12/notes.txt", std::string(600, 't'));
  WriteFile(library_ / "SMS/Attachments/0d/13/a.png", FakePng(800));
  WriteFile(library_ / "Other/Attachments/x.png", FakePng(900));  // not a message attachment
  auto source = MakeSource();
  ASSERT_EQ(source->OpenBackup(""), 0);
  const std::int32_t before = log_.positions.back();
  AttachmentList items;
  EXPECT_EQ(source->ReadMessageAttachments(items), 0);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items.front().name, "a.PNG");
  EXPECT_EQ(items.back().name, "IMG_0001.PNG");
  EXPECT_EQ(items.back().size, 700u);
  EXPECT_EQ(items.back().reserved, 0u);
  const fs::path copy = platform::PathFromUtf8(items.back().path);
  EXPECT_EQ(copy.parent_path(), source->TemporaryRootFolder());
  EXPECT_EQ(copy.filename().string().size(), 40u) << "named by a digest, not by the archive";
  EXPECT_EQ(ReadAll(copy), png);
  EXPECT_EQ(log_.positions.back(), before + 11);

  // Export copies them like backup files.
  const std::string out = platform::Utf8FromPath(tmp_.path() / "out/IMG_0001.PNG");
  EXPECT_EQ(source->CopyBackupFile(items.back().path, out, nullptr, nullptr), 0);
  EXPECT_EQ(ReadAll(tmp_.path() / "out/IMG_0001.PNG"), png);
}

TEST_F(DeviceTest, ConstructionAndDestructionClearOldWorkFiles) {
  fs::path root;
  fs::path work;
  {
    CDeviceRecovery first;
    root = first.TemporaryRootFolder();
    work = first.RelayArchivePath().parent_path();
  }
  WriteFile(root / "sms", "old");
  WriteFile(root / "TarnwickBackvaultBackupPath/0123", "old");
  WriteFile(root / "keep/inner", "kept");
  WriteFile(work / "tmp.jpg", "old");
  WriteFile(work / "Tarnwick.tmp", "kept");
  {
    CDeviceRecovery source;
    EXPECT_FALSE(fs::exists(root / "sms"));
    EXPECT_FALSE(fs::exists(root / "TarnwickBackvaultBackupPath/0123"));
    EXPECT_FALSE(fs::exists(work / "tmp.jpg"));
    EXPECT_TRUE(fs::exists(root / "keep/inner"));
    EXPECT_TRUE(fs::exists(work / "Tarnwick.tmp"));
    WriteFile(root / "history", "made during the run");
  }
  EXPECT_FALSE(fs::exists(root / "history"));
}

TEST_F(DeviceTest, ChatSlotsStayEmptyWithoutTheirDatabases) {
  auto source = MakeSource();
  AccountChats qq;
  AccountChats wechat;
  WhatsAppChatMap whatsapp;
  EXPECT_EQ(source->ReadQQ(qq), 0);
  EXPECT_EQ(source->ReadWeChat(wechat), 0);
  source->ReadWhatsApp(whatsapp);
  EXPECT_TRUE(qq.empty());
  EXPECT_TRUE(wechat.empty());
  EXPECT_TRUE(whatsapp.empty());
  MediaList camera;
  MediaList stream;
  EXPECT_EQ(source->ReadPhotos(camera, stream), 0);
  EXPECT_TRUE(camera.empty() && stream.empty());
}

// Puts a third person into the phone's address book in its write-ahead log, as a phone
// in use keeps it: the log is copied from the live connection before the close would
// fold it into the file.
void AddPersonInLog(const fs::path& addressBook) {
  const fs::path saved = addressBook.parent_path() / "saved";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(addressBook.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                         "INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last,c16Phone)"
                         " VALUES(3,'Grace','Hopper','+15550003');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  fs::path log = addressBook;
  log += "-wal";
  fs::copy_file(addressBook, saved);
  fs::copy_file(log, fs::path(saved) += "-wal");
  sqlite3_close(db);
  fs::rename(saved, addressBook);
  fs::rename(fs::path(saved) += "-wal", log);
  ASSERT_GT(fs::file_size(log), 0u);
}

TEST_F(DeviceTest, DatabasesComeWithTheirWriteAheadLogsAndNoStaleOne) {
  const fs::path addressBook = library_ / "AddressBook/AddressBook.sqlitedb";
  AddPersonInLog(addressBook);
  fs::path phoneLog = addressBook;
  phoneLog += "-wal";
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "whole file system" : "relay");
    phone_->afc2 = whole;
    auto source = MakeSource();
    ASSERT_EQ(source->Session().fullFilesystem, whole);
    ASSERT_EQ(source->OpenBackup(""), 0);
    const fs::path root = source->TemporaryRootFolder();
    EXPECT_EQ(ReadAll(root / "personcontent-wal"), ReadAll(phoneLog));
    std::list<ContactRecord> contacts;
    EXPECT_EQ(source->ReadContacts(contacts), 0);
    EXPECT_EQ(contacts.size(), 3u);
    ConversationMap messages;
    EXPECT_EQ(source->ReadMessages(messages), 0);
    EXPECT_EQ(CountMessages(messages), 5u);
    EXPECT_FALSE(fs::exists(root / "sms-wal")) << "the phone has no log of its messages";

    // The next scan of a phone without the log does not apply the one copied before.
    const std::string keep = ReadAll(phoneLog);
    fs::remove(phoneLog);
    ASSERT_EQ(source->OpenBackup(""), 0);
    EXPECT_FALSE(fs::exists(root / "personcontent-wal"));
    contacts.clear();
    EXPECT_EQ(source->ReadContacts(contacts), 0);
    EXPECT_EQ(contacts.size(), 2u);
    WriteFile(phoneLog, keep);
  }
  EXPECT_EQ(phone_->openFiles, 0);
}

}  // namespace
}  // namespace bv::test
