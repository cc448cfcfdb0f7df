#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "records/call_history_reader.h"
#include "records/contact_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Q;
using test::Sql;
using test::TempFolder;

struct Person {
  std::string first, last, org, phone, email, url;
};

// One test body over both column layouts of the address book's search table.
class AddressBookLayouts : public ::testing::TestWithParam<bool> {
 protected:
  bool Older() const { return GetParam(); }
  std::string Make(const std::vector<Person>& people) {
    const std::string path =
        MakeDb(t_, "ab.sqlitedb", Older() ? "OLD full-text layout" : "NEW full-text layout");
    const std::string cols = Older() ? "c15Phone,c16Email,c19URL" : "c16Phone,c17Email,c20URL";
    std::string sql = "BEGIN;";
    int doc = 1;
    for (const Person& p : people) {
      auto v = [](const std::string& s) { return s == "<null>" ? std::string("NULL") : Q(s); };
      sql += "INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last,c6Organization," +
             cols + ") VALUES(" + std::to_string(doc++) + "," + v(p.first) + "," + v(p.last) + "," +
             v(p.org) + "," + v(p.phone) + "," + v(p.email) + "," + v(p.url) + ");";
    }
    Sql(path, sql + "COMMIT;");
    return path;
  }
  Result Expected() const { return Older() ? kQueryFailed : kSuccess; }
  TempFolder t_;
};

TEST_P(AddressBookLayouts, ContactsModeFieldsNamesAndOrder) {
  auto ab = Make({{"carl", "", "", "3", "", ""},
                  {"Anna", "Berg", "Org", "+1 555 ", "anna@x.se", "http://a"},
                  {"", "Only", "", "1", "", ""},
                  {"<null>", "<null>", "Corp", "2", "", ""},
                  {"Bert", "", "", "4", "", ""},
                  {"No", "Phone", "", "", "np@x", ""},
                  {"Null", "Phone", "", "<null>", "", ""},
                  {"<null>", "<null>", "<null>", "5", "", ""}});
  std::list<ContactRecord> contacts{ContactRecord{}};  // replaced, not appended to
  EXPECT_EQ(ContactReader().Read(ab, contacts), Expected());
  // Every person, with or without a phone; a company is named by its organization.
  std::vector<std::string> names;
  for (auto& c : contacts) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Anna Berg", "Bert", "carl", "Corp", "No Name",
                                             "No Phone", "Null Phone", "Only"}));
  const ContactRecord& anna = contacts.front();
  EXPECT_EQ(anna.first, "Anna");
  EXPECT_EQ(anna.last, "Berg");
  EXPECT_EQ(anna.phone, "+1 555 ");
  EXPECT_EQ(anna.email, "anna@x.se");
  EXPECT_EQ(anna.url, "http://a");
  EXPECT_EQ(anna.organization, "Org");
  EXPECT_TRUE(anna.address.empty());
  EXPECT_EQ(anna.deleted, 0);
}

TEST_P(AddressBookLayouts, NameModeKeepsEmptyNames) {
  auto ab = Make({{"", "", "", "123", "", ""},
                  {"X", "", "", "", "x@y", ""},
                  {"", "", "Pizza Place", "456", "", ""},
                  {"Ann", "Lee", "", "789", "", ""}});
  std::vector<NamedPhone> rows;
  EXPECT_EQ(LoadNameLookup(ab, rows), Expected());
  // Messages and calls still need a phone to name anyone.
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].name, "");
  EXPECT_EQ(rows[1].name, "Pizza Place");
  EXPECT_EQ(rows[2].name, "Ann Lee");
}

TEST_P(AddressBookLayouts, CallsGetNamesOrderAndDurations) {
  auto ab = Make({{"Short", "", "", "1234 ", "", ""},
                  {"First", "Hit", "", "+15550001 ", "", ""},
                  {"Second", "Hit", "", "+15550001 +15550002 ", "", ""}});
  const std::string calls = MakeDb(t_, "CallHistory.storedata", "iOS 10.3.3 and iOS 11.2");
  Sql(calls,
      "INSERT INTO ZCALLRECORD(Z_PK,ZANSWERED,ZDURATION,ZADDRESS,ZDATE) VALUES"
      "(1,1,65.7,CAST('+15550001' AS BLOB),600000100.5),"
      "(2,0,0,'1234',600000300),"
      "(3,1,0,'15550002',600000200),"
      "(4,1,3,'',600000400),"
      "(5,1,3,NULL,600000500);");
  std::list<CallRecord> list;
  EXPECT_EQ(CallHistoryReader().Read(calls, ab, list), Expected());
  ASSERT_EQ(list.size(), 3u);
  auto it = list.begin();
  EXPECT_EQ(it->date, "2020-01-06 10:41:40");  // oldest first
  EXPECT_EQ(it->duration, 65);
  EXPECT_EQ(it->answered, 1);
  EXPECT_EQ(it->address, "+15550001");
  EXPECT_EQ(it->name, "First Hit");
  ++it;
  EXPECT_EQ(it->address, "15550002");
  EXPECT_EQ(it->name, "Second Hit");
  ++it;
  EXPECT_EQ(it->address, "1234");
  EXPECT_EQ(it->name, "");  // four characters never get a name
  EXPECT_EQ(it->answered, 0);
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, AddressBookLayouts, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "c15Phone" : "c16Phone"; });

TEST(PersonNames, AsThePhoneShowsThem) {
  struct Case {
    const char* first;
    const char* last;
    const char* org;
    const char* name;
  };
  const Case cases[] = {
      {"Anna", "Berg", "", "Anna Berg"},
      {"Ren\u00e9e", "M\u00fcller", "Acme", "Ren\u00e9e M\u00fcller"},
      {"\u5c0f\u660e", "\u738b", "", "\u738b\u5c0f\u660e"},  // Han: last first
      {"\u3055\u304f\u3089", "\u5c71\u7530", "", "\u5c71\u7530\u3055\u304f\u3089"},  // kana + Han
      {"\ubbfc\uc900", "\uae40", "", "\uae40\ubbfc\uc900"},                          // Hangul
      {"\U00020000", "\u738b", "", "\u738b\U00020000"},  // beyond the BMP
      {"Wang", "\u738b", "", "Wang \u738b"},             // only one part CJK
      {"\u674e", "Smith", "", "\u674e Smith"},
      {"\u674e a", "\u738b", "", "\u674e a \u738b"},  // a Latin letter inside
      {"\u660e", "", "Acme", "\u660e"},               // one part alone
      {"", "\u738b", "", "\u738b"},
      {"", "", "Acme Corp", "Acme Corp"},  // a company
      {"", "", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PersonName(c.first, c.last, c.org), c.name) << c.first << "|" << c.last;
  EXPECT_FALSE(IsCjkText(""));
  EXPECT_FALSE(IsCjkText("\u738b."));
  EXPECT_TRUE(IsCjkText("\u30ab\u30bf\u30ab\u30ca"));
  EXPECT_FALSE(IsCjkText("\xE7\x8E"));  // a cut character is no CJK text
}

TEST(ContactReaderFailures, NoSearchTableOrNoFile) {
  TempFolder t;
  // iOS 4 address book: no full-text-search tables at all.
  const std::string ab4 = MakeDb(t, "ab4.sqlitedb", "AddressBook.sqlitedb | iOS 4.2.1");
  std::list<ContactRecord> contacts;
  EXPECT_EQ(ContactReader().Read(ab4, contacts), kQueryFailed);
  EXPECT_TRUE(contacts.empty());
  contacts.push_back(ContactRecord{});
  EXPECT_EQ(ContactReader().Read(t.File("missing.sqlitedb"), contacts), 14);
  EXPECT_EQ(contacts.size(), 1u);  // left unchanged
}

TEST(CallHistoryReaderDatabases, OlderFileAndStoredataLayouts) {
  TempFolder t;
  const std::string ab = MakeDb(t, "ab.sqlitedb", "NEW full-text layout");
  // call_history.db has no ZCALLRECORD: no calls, and its error does not show.
  const std::string old = MakeDb(t, "call_history.db", "call_history.db | iOS 6.1.6");
  Sql(old, "INSERT INTO call(address,date,duration,flags) VALUES('+15550001',1339531490,10,4);");
  std::list<CallRecord> list{CallRecord{}};
  EXPECT_EQ(CallHistoryReader().Read(old, ab, list), 0);
  EXPECT_TRUE(list.empty());
  // The iOS 9 storedata (18 columns) reads like the later one.
  const std::string ios9 = MakeDb(t, "ios9.storedata", "CallHistory.storedata (HomeDomain");
  Sql(ios9,
      "INSERT INTO ZCALLRECORD(Z_PK,ZANSWERED,ZDURATION,ZADDRESS,ZDATE) VALUES"
      "(1,0,12.9,'+4912345',0);");
  EXPECT_EQ(CallHistoryReader().Read(ios9, ab, list), 0);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().date, "2001-01-01 00:00:00");
  EXPECT_EQ(list.front().duration, 12);
}

TEST(CallHistoryReaderFailures, OpenCodesAndKeptList) {
  TempFolder t;
  const std::string calls = MakeDb(t, "c.storedata", "iOS 10.3.3 and iOS 11.2");
  Sql(calls, "INSERT INTO ZCALLRECORD(Z_PK,ZADDRESS,ZDATE) VALUES(1,'+15550001',5);");
  std::list<CallRecord> list;
  // Address book missing: calls listed without names, its open code is the result.
  EXPECT_EQ(CallHistoryReader().Read(calls, t.File("none"), list), 14);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().name, "");
  // Call database missing: the list is kept, names cleared, order applied.
  CallRecord a;
  a.date = "2020-01-02 00:00:00";
  a.address = "b";
  a.name = "stale";
  CallRecord b;
  b.date = "2020-01-01 00:00:00";
  b.address = "a";
  list = {a, b};
  EXPECT_EQ(CallHistoryReader().Read(t.File("none"), calls, list), 14);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.front().address, "a");
  EXPECT_EQ(list.back().name, "");
}

}  // namespace
}  // namespace bv

#include "support.h"

namespace bv {
namespace {

// Over a phone's address book with deleted persons: the live persons are what a backup
// without deletions lists, less the deleted ones, which follow in name order, each a
// person of the whole book and none a live one.
TEST(DeletedContacts, FollowTheLiveOnesWhichStayAsTheyAre) {
  test::TempDir dir("bv-deleted-contacts");
  mkbackup::BackupOptions o;
  o.layout = mkbackup::Layout::kNewer;
  o.iosVersion = "14.3";
  o.seed = 7;
  o.contacts = 60;
  o.messages = o.calls = o.notes = o.whatsapp = o.wechat = o.qq = 0;
  using Person = std::tuple<std::string, std::string, std::string>;
  // Deleted persons whose row spilled into overflow pages (a long note): where a later
  // cell took the end of its local part, or its chain, it cannot be read whole.
  std::multiset<Person> spilled;
  auto read = [&](bool deletions, const std::string& name) {
    o.deletedRows = deletions;
    const std::filesystem::path backup = test::BuildBackup(dir, o, name);
    const test::Json truth = test::ReadTruth(backup);
    const test::Json& book = *test::FindDatabase(truth, "AddressBook.sqlitedb");
    for (const test::Json* r : test::DeletedRows(book, "ABPerson")) {
      const test::Json& v = (*r)["values"];
      auto text = [&](const char* c) {
        return v.Has(c) && v[c].kind == test::Json::Kind::kString ? v[c].Str() : std::string();
      };
      if (text("Note").size() > 4096 - 35)
        spilled.insert({text("First"), text("Last"), text("Organization")});
    }
    std::list<ContactRecord> contacts;
    EXPECT_EQ(
        ContactReader().Read(
            test::StoredFile(backup, *test::FindDatabase(truth, "AddressBook.sqlitedb")).string(),
            contacts),
        0);
    return contacts;
  };
  const std::list<ContactRecord> whole = read(false, "whole");
  const std::list<ContactRecord> after = read(true, "after");
  auto person = [](const ContactRecord& c) { return Person{c.first, c.last, c.organization}; };
  std::multiset<Person> wholeBook, live, deleted;
  for (const ContactRecord& c : whole) {
    EXPECT_EQ(c.deleted, 0);
    wholeBook.insert(person(c));
  }
  auto it = after.begin();
  for (; it != after.end() && it->deleted == 0; ++it) live.insert(person(*it));
  const ContactRecord* previous = nullptr;
  for (; it != after.end(); ++it) {
    ASSERT_EQ(it->deleted, 1) << "a live person after a deleted one: " << it->name;
    EXPECT_EQ(it->name, PersonName(it->first, it->last, it->organization));
    EXPECT_EQ(wholeBook.count(person(*it)), 1u) << it->name;
    EXPECT_EQ(live.count(person(*it)), 0u) << it->name;
    if (previous != nullptr) {
      EXPECT_LE(CompareNoCase(previous->name, it->name), 0);
    }
    previous = &*it;
    deleted.insert(person(*it));
  }
  EXPECT_GT(deleted.size(), 2u);
  // Every person of the whole book is listed once, live or deleted (those whose row
  // spilled: at most once).
  std::multiset<Person> listed = live;
  listed.insert(deleted.begin(), deleted.end());
  std::vector<Person> missing, extra;
  std::set_difference(wholeBook.begin(), wholeBook.end(), listed.begin(), listed.end(),
                      std::back_inserter(missing));
  std::set_difference(listed.begin(), listed.end(), wholeBook.begin(), wholeBook.end(),
                      std::back_inserter(extra));
  for (const Person& p : missing)
    if (spilled.count(p) == 0)
      ADD_FAILURE() << "not listed: " << std::get<0>(p) << " " << std::get<1>(p);
  EXPECT_FALSE(spilled.empty());
  for (const Person& p : extra)
    ADD_FAILURE() << "listed too often: " << std::get<0>(p) << " " << std::get<1>(p);
}

// A deleted person whose whole cell survived (its leaf page was freed with it) keeps its
// row id, and with it the numbers and addresses of its deleted value rows; a person carved
// from free space has lost the id, and gets none (never another person's).
TEST(DeletedContacts, PersonsWithTheirRowIdGetTheirOwnNumbers) {
  TempFolder t;
  const std::string ab = MakeDb(t, "ab.sqlitedb", "NEW full-text layout");
  Sql(ab, "PRAGMA page_size=1024; VACUUM;");
  std::string sql = "PRAGMA secure_delete=OFF; BEGIN;";
  sql += "INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last) VALUES(1,'Live','One');";
  for (int i = 1; i <= 60; ++i) {
    const std::string id = std::to_string(i);
    sql += "INSERT INTO ABPerson(ROWID,First,Last,Organization,guid) VALUES(" + id + ",'Person" +
           id + "','Surname of person number " + id + "','Company " + id + "','GP" + id + "');";
    sql += "INSERT INTO ABMultiValue(UID,record_id,property,identifier,label,value,guid) VALUES(" +
           std::to_string(2 * i) + "," + id + ",3,0,1,'+1555000" + id + "','GV" + id + "a');";
    sql += "INSERT INTO ABMultiValue(UID,record_id,property,identifier,label,value,guid) VALUES(" +
           std::to_string(2 * i + 1) + "," + id + ",4,1,2,'p" + id + "@example.com','GV" + id +
           "b');";
  }
  Sql(ab, sql + "COMMIT;");
  // A run of persons (whole leaf pages go onto the freelist) and a few single ones.
  Sql(ab,
      "PRAGMA secure_delete=OFF; BEGIN; DELETE FROM ABMultiValue WHERE record_id BETWEEN 15 AND 45"
      " OR record_id IN (5, 52); DELETE FROM ABPerson WHERE ROWID BETWEEN 15 AND 45 OR ROWID IN "
      "(5, 52); COMMIT;");
  std::list<ContactRecord> contacts;
  ASSERT_EQ(ContactReader().Read(ab, contacts), 0);
  int deleted = 0, withNumbers = 0;
  for (const ContactRecord& c : contacts) {
    if (c.deleted == 0) continue;
    ++deleted;
    ASSERT_EQ(c.first.rfind("Person", 0), 0u) << c.first;
    const std::string id = c.first.substr(6);
    if (c.phones.empty() && c.emails.empty()) continue;
    ++withNumbers;
    // Each value its own (a value row that was not carved is missing, never replaced).
    for (const std::string& phone : c.phones) EXPECT_EQ(phone, "+1555000" + id) << c.first;
    for (const std::string& email : c.emails)
      EXPECT_EQ(email, "p" + id + "@example.com") << c.first;
    EXPECT_LE(c.phones.size() + c.emails.size(), 2u);
  }
  EXPECT_GE(deleted, 20);
  EXPECT_GE(withNumbers, 8);
}

}  // namespace
}  // namespace bv
