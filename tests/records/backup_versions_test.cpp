// The readers over whole backups written by mkbackup for several iOS versions: what
// they list must agree with the rows that mkbackup-truth.json says each database holds.
// The expectations are worked out here from the truth alone (plain loops, no reader
// code), so a fault in a reader's shortcuts (typed columns, name index, ordering)
// shows as a difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <map>
#include <set>
#include <tuple>

#include "common/text.h"
#include "records/readers.h"
#include "records/readonly_db.h"
#include "support.h"

namespace bv {
namespace {

using test::Json;

struct Version {
  const char* ios;
  mkbackup::Layout layout;
};

std::string Utc(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

constexpr std::int64_t kApple = 978307200;

std::string W(const std::string& s) {
  return ValidUtf8(s);
}

// Text of a truth value: strings as they are, blobs decoded, anything else empty.
std::string TextOf(const Json& v) {
  if (v.kind == Json::Kind::kString) return v.Str();
  if (v.kind == Json::Kind::kObject && v.Has("blob")) {
    const std::string& hex = v["blob"].Str();
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  }
  return {};
}

// Rows of a table by rowid.
std::map<std::int64_t, const Json*> ByRowid(const Json& db, const std::string& table) {
  std::map<std::int64_t, const Json*> rows;
  for (const Json* r : test::LiveRows(db, table)) rows[(*r)["rowid"].Int()] = &(*r)["values"];
  return rows;
}

class BackupVersions : public ::testing::TestWithParam<Version> {
 protected:
  void SetUp() override {
    mkbackup::BackupOptions o;
    o.layout = GetParam().layout;
    o.iosVersion = GetParam().ios;
    o.seed = 29;
    o.messages = 150;
    o.contacts = 40;
    o.calls = 60;
    o.notes = 14;
    o.whatsapp = 80;
    o.wechat = 4;
    o.qq = 4;
    backup_ = test::BuildBackup(dir_, o);
    truth_ = test::ReadTruth(backup_);
  }

  std::string Path(const std::string& label) const {
    const Json* db = test::FindDatabase(truth_, label);
    return db != nullptr ? test::StoredFile(backup_, *db).string() : std::string();
  }
  int Major() const { return std::atoi(GetParam().ios); }

  // Phone texts of the address book's search table in row order, with names.
  std::vector<std::pair<std::string, std::string>> PhoneBook() const {
    std::vector<std::pair<std::string, std::string>> book;
    const Json* ab = test::FindDatabase(truth_, "AddressBook.sqlitedb");
    if (ab == nullptr) return book;
    for (const auto& [rowid, v] : ByRowid(*ab, "ABPersonFullTextSearch")) {
      const std::string phone = TextOf((*v)["Phone"]);
      if (phone.empty()) continue;
      book.emplace_back(W(phone), ShownName(*v));
    }
    return book;
  }
  // The name as the phone shows it, for the name parts that mkbackup writes (its only
  // CJK parts are single Han characters and the two-part names below).
  static std::string ShownName(const Json& person) {
    const std::string first = W(TextOf(person["First"])), last = W(TextOf(person["Last"]));
    const std::set<std::string> cjk = {"\u674e", "\u738b", "\u5c0f\u660e", "\u3055\u304f\u3089",
                                       "\u5c71\u7530"};
    if (first.empty() && last.empty()) return W(TextOf(person["Organization"]));
    if (first.empty() || last.empty()) return first + last;
    if (cjk.count(first) && cjk.count(last)) return last + first;
    return first + " " + last;
  }
  static std::string NameIn(const std::vector<std::pair<std::string, std::string>>& book,
                            const std::string& number) {
    for (const auto& [phone, name] : book)
      if (phone.find(number) != std::string::npos) return name;
    return {};
  }
  // The address book has the newer search-table layout from iOS 10 on.
  Result AddressBookResult() const { return Major() >= 10 ? kSuccess : kQueryFailed; }

  test::TempDir dir_;
  test::fs::path backup_;
  Json truth_;
};

TEST_P(BackupVersions, MessagesMatchTheTruth) {
  const Json* sms = test::FindDatabase(truth_, "sms.db");
  ASSERT_NE(sms, nullptr);
  const auto messages = ByRowid(*sms, "message");
  const auto handles = ByRowid(*sms, "handle");
  const auto chats = ByRowid(*sms, "chat");
  const auto book = PhoneBook();
  // From iOS 16 on, some texts are only in the attributed string (the truth has them).
  const Json& bodies = (*sms)["bodyTexts"];
  auto textOf = [&](std::int64_t rowid, const Json& v) {
    std::string text = TextOf(v["text"]);
    if (text.empty() && bodies.Has(std::to_string(rowid)))
      text = bodies[std::to_string(rowid)].Str();
    return text;
  };
  std::map<std::int64_t, std::int64_t> chatOf;  // message rowid: its lowest live chat
  for (const Json* j : test::LiveRows(*sms, "chat_message_join")) {
    const Json& v = (*j)["values"];
    auto [it, fresh] = chatOf.emplace(v["message_id"].Int(), v["chat_id"].Int());
    if (!fresh) it->second = std::min(it->second, v["chat_id"].Int());
  }
  std::map<std::int64_t, std::set<std::int64_t>> members;  // chat: handle ids with a row
  for (const Json* j : test::LiveRows(*sms, "chat_handle_join")) {
    const Json& v = (*j)["values"];
    if (handles.count(v["handle_id"].Int()))
      members[v["chat_id"].Int()].insert(v["handle_id"].Int());
  }
  auto handleText = [&](std::int64_t h) { return W(TextOf((*handles.at(h))["id"])); };

  // Where each message with text belongs: a one-to-one chat's handle, a group's chat id
  // (its key is the reader's own), or, in no chat, its handle when that has a row.
  std::map<std::int64_t, std::int64_t> handleOf, groupOf;
  std::int64_t lowestHandle = 0;
  for (const auto& [rowid, v] : messages) {
    if (textOf(rowid, *v).empty()) continue;
    const std::int64_t handle = (*v)["handle_id"].Int();
    if (auto c = chatOf.find(rowid); c != chatOf.end()) {
      ASSERT_FALSE(members[c->second].empty()) << "mkbackup writes every chat's members";
      if (members[c->second].size() == 1)
        handleOf[rowid] = *members[c->second].begin();
      else
        groupOf[rowid] = c->second;
    } else if (handles.count(handle)) {
      handleOf[rowid] = handle;
    }
  }
  for (const auto& [rowid, h] : handleOf) lowestHandle = std::min(lowestHandle, h);
  ASSERT_GT(handleOf.size(), 20u);
  ASSERT_GT(groupOf.size(), 5u);
  std::set<std::int64_t> ownerInGroups;
  for (const auto& [rowid, chat] : groupOf)
    if ((*messages.at(rowid))["handle_id"].Int() == 0) ownerInGroups.insert(chat);
  EXPECT_FALSE(ownerInGroups.empty()) << "the owner writes to a group";

  ConversationMap map;
  EXPECT_EQ(MessageReader({}).Read(Path("sms.db"), Path("AddressBook.sqlitedb"), map),
            AddressBookResult());
  std::set<std::int64_t> listed;
  std::map<std::int64_t, std::int32_t> keyOfGroup;
  int named = 0;
  // The deleted messages the truth knows, by what a record shows of them, with the chat
  // of their deleted join row (0 without one).
  std::map<std::int64_t, std::int64_t> deletedChatOf;
  for (const Json& d : (*sms)["deleted"].items)
    if (d["table"].Str() == "chat_message_join")
      deletedChatOf[d["values"]["message_id"].Int()] = d["values"]["chat_id"].Int();
  std::multimap<std::tuple<std::string, std::string, std::int64_t, std::int64_t>, std::int64_t>
      deleted;
  for (const Json& d : (*sms)["deleted"].items) {
    if (d["table"].Str() != "message") continue;
    const Json& v = d["values"];
    const std::int64_t date = v["date"].Int();
    const std::int64_t seconds = Major() >= 11 ? date / 1000000000 : date;
    // A text kept only in the attributed body, as for live messages.
    const std::string text = textOf(d["rowid"].Int(), v);
    const auto chat = deletedChatOf.find(d["rowid"].Int());
    deleted.emplace(
        std::tuple{W(text), W(Utc(seconds + kApple)), v["handle_id"].Int(), v["is_from_me"].Int()},
        chat == deletedChatOf.end() ? 0 : chat->second);
  }
  int deletedListed = 0;
  for (const auto& [key, list] : map) {
    std::string previous;
    bool inDeleted = false;
    for (const MessageRecord& m : list) {
      if (m.deleted != 0) {
        // After the live ones, in date order, each a deleted row of the truth, once.
        if (!inDeleted) previous.clear();
        inDeleted = true;
        EXPECT_LE(CompareNoCase(previous, m.date), 0) << "deleted ones not in date order";
        previous = m.date;
        auto it = deleted.find({m.text.str(), m.date.str(), m.handleId, m.isFromMe});
        EXPECT_NE(it, deleted.end()) << "not a deleted message: " << m.text << " " << m.date;
        // In its handle's conversation, or in the chat of its deleted join row.
        if (key != m.handleId) {
          ASSERT_NE(m.chat, nullptr) << m.text;
          EXPECT_EQ(key, m.chat->key);
          if (it != deleted.end()) {
            EXPECT_EQ(m.chat->chatId, it->second) << m.text;
          }
        }
        if (it != deleted.end()) deleted.erase(it);
        EXPECT_EQ(m.sender, handles.count(m.handleId) ? handleText(m.handleId) : std::string());
        ++deletedListed;
        continue;
      }
      EXPECT_FALSE(inDeleted) << "a live message after the deleted ones";
      EXPECT_TRUE(listed.insert(m.rowId).second) << "listed twice: " << m.rowId;
      EXPECT_LE(CompareNoCase(previous, m.date), 0) << "conversation not in date order";
      previous = m.date;
      auto row = messages.find(m.rowId);
      ASSERT_NE(row, messages.end()) << m.rowId;
      const Json& v = *row->second;
      if (auto g = groupOf.find(m.rowId); g != groupOf.end()) {
        ASSERT_NE(m.chat, nullptr);
        EXPECT_EQ(m.chat->chatId, g->second);
        EXPECT_EQ(m.chat->key, key);
        EXPECT_TRUE(m.chat->isGroup);
        EXPECT_LT(key, lowestHandle) << "a group's key is no handle's";
        auto [it, fresh] = keyOfGroup.emplace(g->second, key);
        EXPECT_EQ(it->second, key) << "one conversation per group";
        // The label: the display name, else the members' names or numbers.
        std::string label;
        if (chats.count(g->second)) label = W(TextOf((*chats.at(g->second))["display_name"]));
        if (label.empty())
          for (std::int64_t h : members[g->second]) {
            const std::string name = NameIn(book, handleText(h));
            label += (label.empty() ? "" : ", ") + (name.empty() ? handleText(h) : name);
          }
        EXPECT_EQ(m.chat->label, label);
      } else {
        ASSERT_TRUE(handleOf.count(m.rowId)) << "listed but belongs nowhere: " << m.rowId;
        EXPECT_EQ(handleOf.at(m.rowId), key);
        EXPECT_TRUE(m.chat == nullptr || !m.chat->isGroup);
      }
      EXPECT_EQ(m.text, W(textOf(m.rowId, v)));
      EXPECT_EQ(m.isFromMe, v["is_from_me"].Int());
      EXPECT_EQ(m.handleId, v["handle_id"].Int());  // each message keeps its own sender
      const std::int64_t handle = v["handle_id"].Int();
      EXPECT_EQ(m.sender, handles.count(handle) ? handleText(handle) : std::string());
      // Seconds up to iOS 10, nanoseconds from iOS 11.
      const std::int64_t date = v["date"].Int();
      const std::int64_t seconds = Major() >= 11 ? date / 1000000000 : date;
      EXPECT_EQ(m.date, W(Utc(seconds + kApple)));
      EXPECT_EQ(m.name, m.sender.empty() ? std::string() : NameIn(book, m.sender.str()))
          << m.sender;
      named += !m.name.empty();
      EXPECT_TRUE(m.extra.empty());
    }
  }
  EXPECT_EQ(listed.size(), handleOf.size() + groupOf.size());
  EXPECT_GT(deletedListed, 0) << "mkbackup deletes messages in every version";
  EXPECT_EQ(keyOfGroup.size(), 3u);  // mkbackup's three groups
  if (Major() >= 6) {
    EXPECT_GT(named, 0);  // iOS 4 has no search table to name from
  }
}

TEST_P(BackupVersions, ContactsMatchTheTruth) {
  const Json* ab = test::FindDatabase(truth_, "AddressBook.sqlitedb");
  ASSERT_NE(ab, nullptr);
  // Every person, with or without a phone, with the values of the value table one by
  // one: "name|phones|e-mails|web addresses".
  std::map<std::int64_t, std::array<std::string, 3>> values;  // person: by kind
  for (const Json* j : test::LiveRows(*ab, "ABMultiValue")) {
    const Json& v = (*j)["values"];
    const std::int64_t property = v["property"].Int();
    const int kind = property == 3 ? 0 : property == 4 ? 1 : property == 22 ? 2 : -1;
    const std::string value = W(TextOf(v["value"]));
    if (kind >= 0 && !value.empty()) values[v["record_id"].Int()][kind] += value + ",";
  }
  std::multiset<std::string> expected;
  int withoutPhone = 0, companies = 0, cjk = 0;
  for (const auto& [rowid, v] : ByRowid(*ab, "ABPersonFullTextSearch")) {
    const std::string name = ShownName(*v);
    const auto& own = values[rowid];
    expected.insert((name.empty() ? "No Name" : name) + "|" + own[0] + "|" + own[1] + "|" + own[2]);
    withoutPhone += TextOf((*v)["Phone"]).empty();
    companies += TextOf((*v)["First"]).empty() && TextOf((*v)["Last"]).empty();
    cjk += name == "\u738b\u5c0f\u660e" || name == "\u5c71\u7530\u3055\u304f\u3089";
  }
  // iOS 4 has no search table: neither statement runs and nobody is listed.
  if (Major() >= 6) {
    ASSERT_GT(expected.size(), 5u);
    EXPECT_GT(withoutPhone, 0);
    EXPECT_GT(companies, 0);
    EXPECT_GT(cjk, 0);
  }

  std::list<ContactRecord> contacts;
  EXPECT_EQ(ContactReader().Read(Path("AddressBook.sqlitedb"), contacts), AddressBookResult());
  std::multiset<std::string> got;
  const ContactRecord* previous = nullptr;
  bool deletedSeen = false;
  for (const ContactRecord& c : contacts) {
    // Deleted persons follow the live ones (their own test checks them).
    if (c.deleted != 0) {
      deletedSeen = true;
      continue;
    }
    EXPECT_FALSE(deletedSeen) << "a live person after a deleted one";
    std::array<std::string, 3> own;
    for (const std::string& x : c.phones) own[0] += x + ",";
    for (const std::string& x : c.emails) own[1] += x + ",";
    for (const std::string& x : c.urls) own[2] += x + ",";
    got.insert(c.name + "|" + own[0] + "|" + own[1] + "|" + own[2]);
    if (previous != nullptr) {
      EXPECT_LE(CompareNoCase(previous->name, c.name), 0);
    }
    previous = &c;
  }
  EXPECT_EQ(got, expected);
}

TEST_P(BackupVersions, CallsMatchTheTruth) {
  // The newer call database when the backup has it, else the older one (no calls).
  const bool newer = test::FindDatabase(truth_, "CallHistory.storedata") != nullptr;
  const std::string callDb = Path(newer ? "CallHistory.storedata" : "call_history.db");
  ASSERT_FALSE(callDb.empty());
  const auto book = PhoneBook();
  std::multiset<std::tuple<std::string, std::string, int, int, std::string>> expected;
  if (newer) {
    for (const auto& [rowid, v] :
         ByRowid(*test::FindDatabase(truth_, "CallHistory.storedata"), "ZCALLRECORD")) {
      const std::string address = W(TextOf((*v)["ZADDRESS"]));
      if (address.empty()) continue;
      const auto seconds = static_cast<std::int64_t>(std::floor((*v)["ZDATE"].Number()));
      expected.insert({W(Utc(seconds + kApple)), address, static_cast<int>((*v)["ZANSWERED"].Int()),
                       static_cast<int>(std::trunc((*v)["ZDURATION"].Number())),
                       address.size() > 4 ? NameIn(book, address) : std::string()});
    }
    ASSERT_GT(expected.size(), 10u);
  }

  std::list<CallRecord> calls;
  EXPECT_EQ(CallHistoryReader().Read(callDb, Path("AddressBook.sqlitedb"), calls),
            AddressBookResult());
  std::multiset<std::tuple<std::string, std::string, int, int, std::string>> got;
  // The deleted calls the truth knows (the older table's dates are Unix seconds).
  const Json* db = test::FindDatabase(truth_, newer ? "CallHistory.storedata" : "call_history.db");
  ASSERT_NE(db, nullptr);
  std::multiset<std::tuple<std::string, std::string, int, int, std::string>> deleted;
  for (const Json& d : (*db)["deleted"].items) {
    const Json& v = d["values"];
    const std::string address = W(TextOf(v[newer ? "ZADDRESS" : "address"]));
    const double date = v[newer ? "ZDATE" : "date"].Number();
    const auto seconds = static_cast<std::int64_t>(std::floor(date)) + (newer ? kApple : 0);
    deleted.insert({W(Utc(seconds)), address,
                    static_cast<int>(v[newer ? "ZANSWERED" : "answered"].Int()),
                    static_cast<int>(std::trunc(v[newer ? "ZDURATION" : "duration"].Number())),
                    address.size() > 4 ? NameIn(book, address) : std::string()});
  }
  std::string previous;
  bool inDeleted = false;
  int deletedListed = 0;
  for (const CallRecord& c : calls) {
    if (c.deleted != 0) {
      if (!inDeleted) previous.clear();
      inDeleted = true;
      auto it = deleted.find({c.date.str(), c.address, c.answered, c.duration, c.name});
      EXPECT_NE(it, deleted.end()) << "not a deleted call: " << c.date << " " << c.address;
      if (it != deleted.end()) deleted.erase(it);
      ++deletedListed;
    } else {
      EXPECT_FALSE(inDeleted) << "a live call after the deleted ones";
      got.insert({c.date.str(), c.address, c.answered, c.duration, c.name});
    }
    EXPECT_LE(CompareNoCase(previous, c.date), 0) << "calls not oldest first";
    previous = c.date;
  }
  EXPECT_EQ(got, expected);
  EXPECT_GT(deletedListed, 0) << "mkbackup deletes calls in every version";
}

TEST_P(BackupVersions, NotesComeFromTheStoreThatHoldsThem) {
  const Json* older = test::FindDatabase(truth_, "notes.sqlite");
  const Json* newer = test::FindDatabase(truth_, "NoteStore.sqlite");
  // Titles of the notes that the chosen store lists, and their dates.
  std::multiset<std::pair<std::string, std::string>> expected;
  if (older != nullptr) {
    const auto bodies = ByRowid(*older, "ZNOTEBODY");
    for (const auto& [pk, v] : ByRowid(*older, "ZNOTE")) {
      auto body = bodies.find((*v)["ZBODY"].Int());
      const std::string text = body != bodies.end() ? TextOf((*body->second)["ZCONTENT"]) : "";
      std::string title = W(TextOf((*v)["ZTITLE"]));
      if (title.empty() && text.empty()) continue;
      CleanNoteText(title);
      // This machine's local time is UTC in the tests.
      const auto seconds = static_cast<std::int64_t>(std::trunc((*v)["ZCREATIONDATE"].Number()));
      expected.insert({title, W(Utc(seconds + kApple))});
    }
  }
  const bool olderListed = !expected.empty();
  if (!olderListed && newer != nullptr) {
    for (const auto& [pk, v] : ByRowid(*newer, "ZICCLOUDSYNCINGOBJECT")) {
      std::string title = W(TextOf((*v)["ZTITLE1"]));
      if (title.empty() && TextOf((*v)["ZSNIPPET"]).empty()) continue;
      CleanNoteText(title);
      // The first creation date that is set: iOS 17 keeps it in ZCREATIONDATE3 only.
      const Json* createdAt = &(*v)["ZCREATIONDATE"];
      for (const char* column : {"ZCREATIONDATE3", "ZCREATIONDATE1"})
        if (createdAt->kind != Json::Kind::kNumber) createdAt = &(*v)[column];
      const Json& created = *createdAt;
      const std::string date =
          created.kind == Json::Kind::kNumber
              ? W(Utc(static_cast<std::int64_t>(std::floor(created.Number())) + kApple))
              : std::string();
      expected.insert({title, date});
    }
  }
  ASSERT_GT(expected.size(), 3u);

  std::list<NoteRecord> notes;
  // A backup without the older store: its open fails and the newer store is read.
  NoteReader().Read(
      Path("notes.sqlite").empty() ? (backup_ / "absent").string() : Path("notes.sqlite"),
      Path("NoteStore.sqlite"), notes);
  std::multiset<std::pair<std::string, std::string>> got;
  std::string previous;
  bool first = true;
  bool deletedSeen = false;
  for (const NoteRecord& n : notes) {
    // Deleted notes follow the live ones (their own order is the scorer's to check).
    if (n.deleted != 0) {
      deletedSeen = true;
      continue;
    }
    EXPECT_FALSE(deletedSeen) << "a live note after a deleted one";
    got.insert({n.title, n.date.str()});
    if (!first) {
      EXPECT_GE(CompareNoCase(previous, n.date), 0) << "notes not newest first";
    }
    previous = n.date;
    first = false;
  }
  EXPECT_EQ(got, expected);
}

TEST_P(BackupVersions, WhatsAppChatsMatchTheTruth) {
  const Json* db = test::FindDatabase(truth_, "ChatStorage.sqlite");
  ASSERT_NE(db, nullptr);
  const auto sessions = ByRowid(*db, "ZWACHATSESSION");
  std::map<std::int64_t, std::string> jidsOf;  // session: member JIDs joined
  for (const auto& [pk, m] : ByRowid(*db, "ZWAGROUPMEMBER")) {
    std::string& jids = jidsOf[(*m)["ZCHATSESSION"].Int()];
    jids += (jids.empty() ? "" : ",") + W(TextOf((*m)["ZMEMBERJID"]));
  }
  std::map<std::int64_t, std::string> mediaTitle;
  for (const auto& [pk, m] : ByRowid(*db, "ZWAMEDIAITEM")) {
    const std::int64_t message = (*m)["ZMESSAGE"].Int();
    if (message != 0 && !mediaTitle.count(message)) mediaTitle[message] = W(TextOf((*m)["ZTITLE"]));
  }
  struct Expected {
    std::int64_t session;
    std::string text, date, jids;
    bool fromMe;
  };
  std::map<std::int64_t, Expected> expected;  // by Z_PK
  for (const auto& [pk, v] : ByRowid(*db, "ZWAMESSAGE")) {
    const std::int64_t session = (*v)["ZCHATSESSION"].Int();
    if (session == 0) continue;
    std::string text = W(TextOf((*v)["ZTEXT"]));
    if (text.empty() && mediaTitle.count(pk)) text = mediaTitle[pk];
    if (text.empty()) continue;
    const auto seconds = static_cast<std::int64_t>(std::trunc((*v)["ZMESSAGEDATE"].Number()));
    std::string jids;
    if (auto s = sessions.find(session); s != sessions.end())
      jids = jidsOf.count(session) ? jidsOf[session] : W(TextOf((*s->second)["ZCONTACTJID"]));
    expected[pk] = {session, text, W(Utc(seconds + kApple)), jids, (*v)["ZISFROMME"].Int() != 0};
  }
  ASSERT_GT(expected.size(), 20u);

  // The deleted messages with a text, by what a record shows of them.
  std::multiset<std::tuple<std::int64_t, std::string, std::string, int>> deleted;
  for (const Json& d : (*db)["deleted"].items) {
    const Json& v = d["values"];
    if (d["table"].Str() != "ZWAMESSAGE" || TextOf(v["ZTEXT"]).empty()) continue;
    const auto seconds = static_cast<std::int64_t>(std::floor(v["ZMESSAGEDATE"].Number()));
    deleted.emplace(v["ZCHATSESSION"].Int(), W(TextOf(v["ZTEXT"])), W(Utc(seconds + kApple)),
                    static_cast<int>(v["ZISFROMME"].Int()));
  }
  ASSERT_FALSE(deleted.empty()) << "mkbackup deletes WhatsApp messages";
  const std::size_t deletedRows = deleted.size();

  WhatsAppChatMap chats;
  EXPECT_EQ(WhatsAppReader().Read(Path("ChatStorage.sqlite"), chats), kSuccess);
  std::size_t listed = 0, deletedListed = 0;
  for (const auto& [session, list] : chats) {
    std::string previous;
    bool inDeleted = false;
    for (const WhatsAppMessageRecord& m : list) {
      if (m.deleted != 0) {
        // After the live ones of its chat, in date order, each a deleted row, once.
        if (!inDeleted) previous.clear();
        inDeleted = true;
        EXPECT_LE(CompareNoCase(previous, m.date), 0) << "deleted ones not in date order";
        previous = m.date;
        auto it = deleted.find({session, m.text, m.date.str(), m.isFromMe});
        EXPECT_NE(it, deleted.end()) << "not a deleted message: " << m.text;
        if (it != deleted.end()) deleted.erase(it);
        EXPECT_EQ(m.sessionId, session);
        if (m.isFromMe != 0) {
          EXPECT_EQ(m.senderName, "Me");
        }
        if (sessions.count(session)) {
          EXPECT_NE(m.chat, nullptr);
        }
        ++deletedListed;
        continue;
      }
      EXPECT_FALSE(inDeleted) << "a live message after the deleted ones";
      ++listed;
      auto e = expected.find(m.messageId);
      ASSERT_NE(e, expected.end()) << m.messageId;
      EXPECT_EQ(m.sessionId, e->second.session);
      EXPECT_EQ(session, e->second.session);
      EXPECT_EQ(m.text, e->second.text);
      EXPECT_EQ(m.date, e->second.date);
      EXPECT_EQ(m.chatJids(), e->second.jids);
      if (e->second.fromMe) {  // outgoing: "Me", never a push name
        EXPECT_EQ(m.senderName, "Me");
        EXPECT_TRUE(m.pushName.empty());
      }
      EXPECT_LE(CompareNoCase(previous, m.date), 0) << "chat not in date order";
      previous = m.date;
    }
  }
  EXPECT_EQ(listed, expected.size());
  // Deleted rows whose cells later inserts wrote over cannot come back; most are there.
  EXPECT_GE(deletedListed * 10, deletedRows * 5) << deletedListed << " of " << deletedRows;

  // The text file of the busiest chat has one block per message, in the same order.
  auto busiest = std::max_element(chats.begin(), chats.end(), [](const auto& a, const auto& b) {
    return a.second.size() < b.second.size();
  });
  ASSERT_NE(busiest, chats.end());
  const test::fs::path out = dir_ / "chat.txt";
  EXPECT_EQ(WriteWhatsAppChatText(chats, busiest->first, out.string(), nullptr, nullptr), 0);
  const std::string file = test::ReadFile(out);
  std::size_t blocks = 0;
  for (std::size_t at = 0; (at = file.find(":\r\n    ", at)) != std::string::npos; ++at) ++blocks;
  EXPECT_EQ(blocks, busiest->second.size());
}

TEST_P(BackupVersions, ExecFormOfTheRowCallbacksMakesTheSameRecords) {
  // The readers step their statements; the same callbacks in the form of sqlite3_exec
  // must turn the same rows into the same records.
  ReadOnlyDatabase db;
  ASSERT_EQ(db.Open(Path("ChatStorage.sqlite")), 0);
  WhatsAppReader byExec, byStatement;
  EXPECT_FALSE(db.Exec(kWhatsAppMessageStatement, WhatsAppReader::MessageRow, &byExec));
  EXPECT_FALSE(db.Each(kWhatsAppMessageStatement, WhatsAppReader::MessageRow, &byStatement));
  ASSERT_EQ(byExec.messages.size(), byStatement.messages.size());
  ASSERT_GT(byExec.messages.size(), 20u);
  for (auto a = byExec.messages.begin(), b = byStatement.messages.begin();
       a != byExec.messages.end(); ++a, ++b) {
    EXPECT_EQ(std::tie(a->messageId, a->isFromMe, a->sessionId, a->date, a->pushName, a->text),
              std::tie(b->messageId, b->isFromMe, b->sessionId, b->date, b->pushName, b->text));
  }
  EXPECT_FALSE(db.Exec(kWhatsAppMediaStatement, WhatsAppReader::MediaRow, &byExec));
  EXPECT_FALSE(db.Each(kWhatsAppMediaStatement, WhatsAppReader::MediaRow, &byStatement));
  ASSERT_EQ(byExec.media.size(), byStatement.media.size());
  for (std::size_t i = 0; i < byExec.media.size(); ++i) {
    EXPECT_EQ(byExec.media[i].mediaMessage, byStatement.media[i].mediaMessage);
    EXPECT_EQ(byExec.media[i].mediaTitle, byStatement.media[i].mediaTitle);
  }

  if (Major() < 6) return;  // no search table to read persons from
  ReadOnlyDatabase ab;
  ASSERT_EQ(ab.Open(Path("AddressBook.sqlitedb")), 0);
  const char* statement = Major() >= 10 ? kAddressBookStatementNew : kAddressBookStatementOld;
  ContactRows exec, stepped;
  EXPECT_FALSE(ab.Exec(statement, ContactRow, &exec));
  EXPECT_FALSE(ab.Each(statement, ContactRow, &stepped));
  ASSERT_EQ(exec.listed.size(), stepped.listed.size());
  ASSERT_GT(exec.listed.size(), 5u);
  for (auto a = exec.listed.begin(), b = stepped.listed.begin(); a != exec.listed.end(); ++a, ++b) {
    EXPECT_EQ(std::tie(a->name, a->organization, a->phone, a->email, a->url),
              std::tie(b->name, b->organization, b->phone, b->email, b->url));
  }
}

// Wall clock of a Unix time in a named zone, by the C library's own zone files (not by
// the zone rules the readers use).
std::string WallClockIn(const std::string& zone, std::int64_t unixSeconds, bool dateOnly = false) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", zone.c_str(), 1);
  tzset();
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  if (old != nullptr)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  char buf[32];
  std::strftime(buf, sizeof buf, dateOnly ? "%Y-%m-%d" : "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::int64_t Whole(const Json& v) {
  return static_cast<std::int64_t>(std::trunc(v.Number()));
}

// A stored time as the lists show it: a named zone's wall clock, a floating (or
// zone-less, in these UTC tests) time's stored clock.
std::string StoredTime(const Json& seconds, const std::string& zone, bool dateOnly = false) {
  if (seconds.IsNull()) return {};
  const std::int64_t unix = Whole(seconds) + kApple;
  if (zone.empty() || zone == "_float") {
    const std::string text = Utc(unix);
    return dateOnly ? text.substr(0, 10) : text;
  }
  return WallClockIn(zone, unix, dateOnly);
}

TEST_P(BackupVersions, CalendarEventsMatchTheTruth) {
  const Json* cal = test::FindDatabase(truth_, "Calendar.sqlitedb");
  ASSERT_NE(cal, nullptr);
  const bool modern = Major() >= 5;
  std::map<std::int64_t, std::string> calendars, locations;
  for (const auto& [rowid, v] : ByRowid(*cal, "Calendar")) calendars[rowid] = TextOf((*v)["title"]);
  for (const auto& [rowid, v] : ByRowid(*cal, "Location")) {
    std::string place = TextOf((*v)["title"]);
    const std::string address = TextOf((*v)["address"]);
    if (place.empty())
      place = address;
    else if (!address.empty())
      place += ", " + address;
    locations[rowid] = place;
  }
  std::map<std::int64_t, std::string> repeats;
  for (const auto& [rowid, v] : ByRowid(*cal, "Recurrence")) {
    static const char* units[] = {"day", "week", "month", "year"};
    const auto frequency = (*v)["frequency"].Int();
    const auto interval = (*v)["interval"].Int();
    std::string text = std::string("Every ") +
                       (interval > 1 ? std::to_string(interval) + " " : "") + units[frequency - 1] +
                       (interval > 1 ? "s" : "");
    if ((*v)["count"].Int() > 0)
      text += ", " + std::to_string((*v)["count"].Int()) + " times";
    else if (!(*v)["end_date"].IsNull())
      text += ", until " + Utc(Whole((*v)["end_date"]) + kApple).substr(0, 10);
    repeats[(*v)["owner_id"].Int()] = text;
  }
  using Row = std::tuple<std::string, std::string, std::string, std::string, std::string,
                         std::string, std::string>;
  std::multiset<Row> expected;
  for (const auto& [rowid, v] : ByRowid(*cal, modern ? "CalendarItem" : "Event")) {
    if ((*v)["entity_type"].Int() == 3) continue;  // a task
    const std::string zone = TextOf((*v)["start_tz"]);
    std::string start, end;
    if ((*v)["all_day"].Int() != 0) {
      start = StoredTime((*v)["start_date"], "_float", true);
      // The last day: the end's day, or the day before a midnight end.
      const std::int64_t endUnix = Whole((*v)["end_date"]) + kApple;
      end = Utc(endUnix % 86400 == 0 ? endUnix - 86400 : endUnix).substr(0, 10);
    } else {
      start = StoredTime((*v)["start_date"], zone);
      end = StoredTime((*v)["end_date"], zone);
    }
    const std::string place =
        modern ? (locations.count((*v)["location_id"].Int()) ? locations[(*v)["location_id"].Int()]
                                                             : "")
               : TextOf((*v)["location"]);
    expected.insert({TextOf((*v)["summary"]), calendars[(*v)["calendar_id"].Int()], start, end,
                     place, TextOf((*v)["description"]),
                     repeats.count(rowid) ? repeats[rowid] : std::string()});
  }
  ASSERT_GT(expected.size(), 10u);

  std::list<CalendarEventRecord> events;
  EXPECT_EQ(CalendarReader().ReadEvents(Path("Calendar.sqlitedb"), events), kSuccess);
  std::multiset<Row> got;
  for (const CalendarEventRecord& e : events)
    got.insert({e.title, e.calendar, e.start, e.end, e.location, e.notes, e.recurrence});
  EXPECT_EQ(got, expected);
}

TEST_P(BackupVersions, RemindersMatchTheTruth) {
  using Row = std::tuple<std::string, std::string, std::string, std::string, int, int, int>;
  std::multiset<Row> expected;
  std::vector<std::string> stores;
  for (const Json* store : test::FindDatabases(truth_, "Reminders store")) {
    stores.push_back(test::StoredFile(backup_, *store).string());
    std::map<std::int64_t, std::string> lists;
    for (const auto& [pk, v] : ByRowid(*store, "ZREMCDBASELIST")) lists[pk] = TextOf((*v)["ZNAME"]);
    for (const auto& [pk, v] : ByRowid(*store, "ZREMCDOBJECT"))
      if ((*v)["Z_ENT"].Int() == 3) lists[pk] = TextOf((*v)["ZNAME1"]);
    for (const auto& [pk, v] : ByRowid(*store, "ZREMCDREMINDER")) {
      const bool allDay = (*v)["ZALLDAY"].Int() != 0;
      expected.insert(
          {lists[(*v)["ZLIST"].Int()], TextOf((*v)["ZTITLE"]), TextOf((*v)["ZNOTES"]),
           StoredTime((*v)["ZDUEDATE"], allDay ? "_float" : TextOf((*v)["ZTIMEZONE"]), allDay),
           static_cast<int>((*v)["ZCOMPLETED"].Int()),
           static_cast<int>((*v)["ZMARKEDFORDELETION"].Int()),
           static_cast<int>((*v)["ZPRIORITY"].Int())});
    }
  }
  const Json* cal = test::FindDatabase(truth_, "Calendar.sqlitedb");
  ASSERT_NE(cal, nullptr);
  if (stores.empty()) {
    std::map<std::int64_t, std::string> calendars;
    for (const auto& [rowid, v] : ByRowid(*cal, "Calendar"))
      calendars[rowid] = TextOf((*v)["title"]);
    for (const auto& [rowid, v] : ByRowid(*cal, "CalendarItem")) {
      if ((*v)["entity_type"].Int() != 3) continue;
      const bool allDay = (*v)["due_all_day"].Int() != 0;
      expected.insert({calendars[(*v)["calendar_id"].Int()], TextOf((*v)["summary"]),
                       TextOf((*v)["description"]),
                       StoredTime((*v)["due_date"], TextOf((*v)["due_tz"]), allDay),
                       (*v)["completion_date"].IsNull() ? 0 : 1, 0,
                       static_cast<int>((*v)["priority"].Int())});
    }
  }
  // Reminders arrived with iOS 5, and moved out of the calendar with iOS 13.
  if (Major() >= 5) {
    ASSERT_GT(expected.size(), 5u);
  }
  EXPECT_EQ(stores.empty(), Major() < 13);

  std::list<ReminderRecord> reminders;
  if (stores.empty())
    EXPECT_EQ(CalendarReader().ReadTasks(Path("Calendar.sqlitedb"), reminders), kSuccess);
  else
    EXPECT_EQ(ReminderReader().ReadStores({stores.begin(), stores.end()}, reminders), kSuccess);
  std::multiset<Row> got;
  for (const ReminderRecord& r : reminders)
    got.insert({r.list, r.title, r.notes, r.due, r.completed, r.deleted, r.priority});
  EXPECT_EQ(got, expected);
}

TEST_P(BackupVersions, BookmarksMatchTheTruth) {
  const Json* db = test::FindDatabase(truth_, "Bookmarks.db");
  if (Major() < 5) {
    EXPECT_EQ(db, nullptr);  // a property list on those systems
    return;
  }
  ASSERT_NE(db, nullptr);
  const auto rows = ByRowid(*db, "bookmarks");
  auto shown = [](const std::string& title) {
    if (title == "BookmarksBar") return std::string("Favorites");
    if (title == "BookmarksMenu") return std::string("Bookmarks Menu");
    if (title == "com.apple.ReadingList") return std::string("Reading List");
    return title;
  };
  using Row = std::tuple<std::string, std::string, std::string, int, int>;
  std::multiset<Row> expected;
  for (const auto& [id, v] : rows) {
    if ((*v)["parent"].IsNull()) continue;  // the root
    // Folder titles up to the root.
    std::string path;
    bool reading = false;
    for (auto p = rows.find((*v)["parent"].Int());
         p != rows.end() && !(*p->second)["parent"].IsNull();
         p = rows.find((*p->second)["parent"].Int())) {
      const std::string title = TextOf((*p->second)["title"]);
      reading = reading || title == "com.apple.ReadingList";
      path = shown(title) + (path.empty() ? "" : " / " + path);
    }
    const bool folder = (*v)["type"].Int() == 1;
    expected.insert({folder ? shown(TextOf((*v)["title"])) : TextOf((*v)["title"]),
                     TextOf((*v)["url"]), path,
                     folder    ? 1
                     : reading ? 2
                               : 0,
                     static_cast<int>((*v)["deleted"].Int())});
  }
  ASSERT_GT(expected.size(), 10u);

  std::list<BookmarkRecord> bookmarks;
  EXPECT_EQ(BookmarkReader().Read(Path("Bookmarks.db"), bookmarks), kSuccess);
  std::multiset<Row> got;
  for (const BookmarkRecord& b : bookmarks)
    got.insert({b.title, b.url, BookmarkFolderText(b), static_cast<int>(b.kind), b.deleted});
  EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Ios, BackupVersions,
                         ::testing::Values(Version{"4.2.1", mkbackup::Layout::kOlder},
                                           Version{"6.1.6", mkbackup::Layout::kOlder},
                                           Version{"9.3.5", mkbackup::Layout::kOlder},
                                           Version{"10.3.3", mkbackup::Layout::kNewer},
                                           Version{"11.2", mkbackup::Layout::kNewer},
                                           Version{"13.5", mkbackup::Layout::kNewer},
                                           Version{"14.3", mkbackup::Layout::kNewer},
                                           Version{"17.3", mkbackup::Layout::kNewer}),
                         [](const auto& info) {
                           std::string name = std::string("iOS_") + info.param.ios;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
}  // namespace bv
