// The readers over real databases of public forensic images (copied out of the shared
// corpus into a temporary folder; several keep most of their data in a "-wal" log).
// Expected counts come from the sqlite3 library reading the same files.
#include <gtest/gtest.h>

#include "records/contact_reader.h"
#include "records/note_reader.h"
#include "records/whatsapp_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::CountRows;
using test::TempFolder;
using test::UnpackCorpus;

struct AddressBookCase {
  const char* zip;
  long long withPhone;  // persons with a phone text, all that the lookup table keeps
};

TEST(CorpusAddressBooks, NewerLayoutPersonsAreRead) {
  const AddressBookCase cases[] = {
      {"ileapp/addressBook/testdata.addressBook.addressBook.josh_ios15_ffs.zip", 6},
      {"ileapp/addressBook/testdata.addressBook.addressBook.belkasoft_ctf6_ios_device1.zip", 0},
      {"ileapp/addressBook/testdata.addressBook.addressBook.mvs_ios_2023.zip", 0},
  };
  for (const auto& c : cases) {
    TempFolder t;
    const std::string ab = UnpackCorpus(c.zip, t.path(), "AddressBook.sqlitedb");
    if (ab.empty()) GTEST_SKIP() << "corpus not present";
    // The evidence folder stays as it was: no "-shm" or journal appears beside it.
    const auto before = std::distance(
        std::filesystem::directory_iterator(t.path() / std::filesystem::path(ab).parent_path()),
        std::filesystem::directory_iterator());
    std::list<ContactRecord> contacts;
    EXPECT_EQ(ContactReader().Read(ab, contacts), 0) << c.zip;
    const auto after =
        std::distance(std::filesystem::directory_iterator(std::filesystem::path(ab).parent_path()),
                      std::filesystem::directory_iterator());
    EXPECT_EQ(before, after);
    std::vector<NamedPhone> lookup;
    EXPECT_EQ(LoadNameLookup(ab, lookup), 0) << c.zip;
    EXPECT_EQ(static_cast<long long>(lookup.size()), c.withPhone) << c.zip;
    // Cross-check with the library on a copy: every person is listed, the lookup table
    // keeps those with a phone text.
    std::filesystem::copy(std::filesystem::path(ab).parent_path(), t.path() / "copy");
    const std::string copy = (t.path() / "copy/AddressBook.sqlitedb").string();
    EXPECT_EQ(static_cast<long long>(contacts.size()),
              CountRows(copy, "SELECT count(*) FROM ABPersonFullTextSearch_content"))
        << c.zip;
    EXPECT_EQ(
        CountRows(copy, "SELECT count(*) FROM ABPersonFullTextSearch_content WHERE c16Phone <> ''"),
        c.withPhone);
    if (c.withPhone > 0) {
      // A company without a person's name is listed under the company's name.
      bool apple = false;
      for (auto& p : contacts) {
        if (p.organization != "Apple Inc.") continue;
        apple = true;
        EXPECT_EQ(p.name, "Apple Inc.");
        // The numbers and addresses one by one, not the search table's variants.
        EXPECT_EQ(p.phones, (std::vector<std::string>{"1-800-MY-APPLE"}));
        EXPECT_EQ(p.urls, (std::vector<std::string>{"http://www.apple.com"}));
      }
      EXPECT_TRUE(apple);
    }
  }
}

TEST(CorpusNoteStore, Ios17NotesAreRead) {
  TempFolder t;
  const std::string store = UnpackCorpus("ileapp/notes/testdata.notes.notes.josh_ios17_ffs.zip",
                                         t.path(), "NoteStore.sqlite");
  if (store.empty()) GTEST_SKIP() << "corpus not present";
  std::list<NoteRecord> notes;
  EXPECT_EQ(NoteReader().Read(t.File("no-older-store"), store, notes), 0);
  EXPECT_EQ(notes.size(), 13u);
  // The whole text from the note's document (title line and blank lines included); a
  // locked note's document is encrypted: its snippet stands in. iOS 17 keeps the
  // creation date in ZCREATIONDATE3 only.
  int found = 0;
  for (auto& n : notes) {
    EXPECT_EQ(n.date.size(), 19u) << n.title;
    if (n.title == "My First Note") {
      EXPECT_EQ(n.body, "My First Note\n\nThis is my first note.  Nothing special. \n");
      EXPECT_EQ(n.date, "2020-03-28 00:36:48");
      ++found;
    }
    if (n.title == "iOS 16 Note") {
      EXPECT_EQ(n.body,
                "iOS 16 Note\n\nHere is my first iOS 16 note. \n\nThis is DFIR Two. I wrote this "
                "sentence. ");
      ++found;
    }
    if (n.title == "iOS 17 Locked Note") {
      EXPECT_EQ(n.date, "2024-07-28 14:24:56");
      ++found;
    }
  }
  EXPECT_EQ(found, 3);
}

TEST(CorpusWhatsApp, ChatStorageMessagesAreRead) {
  TempFolder t;
  const std::string db =
      UnpackCorpus("ileapp/whatsApp/testdata.whatsApp.whatsAppMessages.josh_ios15_ffs.zip",
                   t.path(), "ChatStorage.sqlite");
  if (db.empty()) GTEST_SKIP() << "corpus not present";
  const long long expected = CountRows(
      db,
      "SELECT count(*) FROM ZWAMESSAGE m WHERE m.ZCHATSESSION <> 0 AND (coalesce(m.ZTEXT,'') <> ''"
      " OR coalesce((SELECT ZTITLE FROM ZWAMEDIAITEM i WHERE i.ZMESSAGE = m.Z_PK AND m.Z_PK <> 0"
      " ORDER BY i.rowid LIMIT 1),'') <> '')");
  WhatsAppChatMap chats;
  EXPECT_EQ(WhatsAppReader().Read(db, chats), 0);
  long long count = 0;
  for (auto& [k, list] : chats) {
    count += static_cast<long long>(list.size());
    for (auto& m : list) {
      EXPECT_EQ(m.date.size(), 19u);
      EXPECT_FALSE(m.chatTitle().empty());
      if (m.isFromMe) {
        EXPECT_EQ(m.senderName, "Me");
      }
    }
  }
  EXPECT_EQ(count, expected);
  EXPECT_EQ(count, 15);
  ASSERT_EQ(chats.count(5), 1u);
  EXPECT_EQ(chats[5].front().chatTitle(), "This Is DFIR Two");
}

}  // namespace
}  // namespace bv
