#include <gtest/gtest.h>

#include <vector>

#include "common/text.h"
#include "records/message_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Q;
using test::Sql;
using test::TempFolder;

struct Msg {
  int rowId;
  int handle;
  const char* text;  // nullptr for NULL
  long long date;
  int fromMe = 0;
  int chat = 1;
};

// Members of chats 1 to 3 (chat id, handle ids); a chat not named has no member rows.
using Members = std::vector<std::pair<int, std::vector<int>>>;

// sms.db of the given layout with handles, chats and messages joined to chats.
std::string MakeSmsDb(const TempFolder& t, const std::string& section,
                      const std::vector<std::pair<int, std::string>>& handles,
                      const std::vector<Msg>& msgs, const Members& members = {}) {
  const std::string path = MakeDb(t, "sms.db", section);
  std::string sql = "BEGIN;";
  for (auto& [id, addr] : handles)
    sql += "INSERT INTO handle(ROWID,id,country,service) VALUES(" + std::to_string(id) + "," +
           Q(addr) + ",'us','SMS');";
  for (int c = 1; c <= 3; ++c)
    sql += "INSERT INTO chat(ROWID,guid,style,state) VALUES(" + std::to_string(c) + ",'SMS;-;c" +
           std::to_string(c) + "',45,3);";
  for (const auto& [chat, handleIds] : members)
    for (int h : handleIds)
      sql += "INSERT INTO chat_handle_join(chat_id,handle_id) VALUES(" + std::to_string(chat) +
             "," + std::to_string(h) + ");";
  for (const Msg& m : msgs) {
    sql += "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me,service) VALUES(" +
           std::to_string(m.rowId) + ",'G" + std::to_string(m.rowId) + "'," +
           (m.text ? Q(m.text) : "NULL") + "," + std::to_string(m.handle) + "," +
           std::to_string(m.date) + "," + std::to_string(m.fromMe) + ",'SMS');";
    if (m.chat != 0)
      sql += "INSERT INTO chat_message_join(chat_id,message_id) VALUES(" + std::to_string(m.chat) +
             "," + std::to_string(m.rowId) + ");";
  }
  Sql(path, sql + "COMMIT;");
  return path;
}

// AddressBook.sqlitedb with the newer search-table layout (c16Phone).
std::string MakeAddressBook(
    const TempFolder& t,
    const std::vector<std::tuple<std::string, std::string, std::string>>& people,
    bool olderLayout = false) {
  const std::string path = MakeDb(t, olderLayout ? "ab-old.sqlitedb" : "ab.sqlitedb",
                                  olderLayout ? "OLD full-text layout" : "NEW full-text layout");
  std::string sql = "BEGIN;";
  int doc = 1;
  for (auto& [first, last, phone] : people) {
    sql += std::string("INSERT INTO ABPersonFullTextSearch_content(docid,c0First,c1Last,") +
           (olderLayout ? "c15Phone" : "c16Phone") + ") VALUES(" + std::to_string(doc++) + "," +
           Q(first) + "," + Q(last) + "," + Q(phone) + ");";
  }
  Sql(path, sql + "COMMIT;");
  return path;
}

const char kIos6[] = "sms.db | iOS 6.1.6";
const char kIos12[] = "sms.db | iOS 12.4";

struct Recorder {
  std::vector<int> positions;
  int answerAt = -1;  // report index that answers 2
  static std::int32_t Callback(void* user, std::int32_t percent) {
    auto* r = static_cast<Recorder*>(user);
    r->positions.push_back(percent);
    return static_cast<int>(r->positions.size()) - 1 == r->answerAt ? 2 : 0;
  }
};

TEST(MessageReaderDates, SecondsAndNanosecondsGiveTheSameUtcText) {
  for (auto [section, value] :
       {std::pair<const char*, long long>{kIos6, 600000000LL}, {kIos12, 600000000000000000LL}}) {
    TempFolder t;
    auto sms = MakeSmsDb(t, section, {{1, "+15551234567"}}, {{1, 1, "hello", value}});
    ConversationMap map;
    EXPECT_EQ(MessageReader({}).Read(sms, t.File("none.sqlitedb"), map), 14) << section;
    ASSERT_EQ(map.size(), 1u) << section;
    EXPECT_EQ(map[1].front().date, "2020-01-06 10:40:00") << section;
    EXPECT_EQ(map[1].front().text, "hello");
    EXPECT_EQ(map[1].front().sender, "+15551234567");
    EXPECT_EQ(map[1].front().rowId, 1);
  }
}

std::vector<std::string> Texts(const std::list<MessageRecord>& list) {
  std::vector<std::string> texts;
  for (const MessageRecord& m : list) texts.push_back(m.text.str());
  return texts;
}

TEST(MessageReaderRows, TextlessMessagesAreLeftOutAndEveryOtherOneIsListedOnce) {
  // Chat 1 is the one-to-one chat of handle 1 (its member row is missing: its messages
  // say who it is with). A message in no chat goes by its handle, one with neither a
  // chat nor a handle row has nowhere to go.
  TempFolder t;
  auto sms = MakeSmsDb(t, kIos12, {{1, "a@b.c"}},
                       {{1, 1, "kept", 1000000000000000LL, 1},
                        {2, 1, "", 2000000000000000LL},
                        {3, 1, nullptr, 3000000000000000LL},
                        {4, 1, "no chat", 4000000000000000LL, 0, 0},
                        {5, 0, "no handle", 5000000000000000LL, 1},
                        {6, 9, "unknown handle", 6000000000000000LL},
                        {7, 9, "nowhere", 7000000000000000LL, 0, 0}});
  ConversationMap map;
  MessageReader({}).Read(sms, "", map);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(Texts(map[1]),
            (std::vector<std::string>{"kept", "no chat", "no handle", "unknown handle"}));
  EXPECT_EQ(map[1].front().isFromMe, 1);
  // Each keeps its own sender: the owner's message without a handle has none.
  std::vector<std::string> senders;
  for (const MessageRecord& m : map[1]) senders.push_back(m.sender.str());
  EXPECT_EQ(senders, (std::vector<std::string>{"a@b.c", "a@b.c", "", ""}));
  EXPECT_EQ(std::next(map[1].begin())->chat, nullptr);  // the message in no chat
  ASSERT_NE(map[1].front().chat, nullptr);
  EXPECT_EQ(map[1].front().chat->chatId, 1);
  EXPECT_FALSE(map[1].front().chat->isGroup);
}

// Texts go into the records from SQLite's bytes: valid ones as they are (short and
// long alike), broken bytes mended to U+FFFD in text and sender, a NUL ends a text.
TEST(MessageReaderRows, BrokenBytesAreMendedAndValidTextsKeptWhole) {
  TempFolder t;
  const std::string longText(300, 'x');
  auto sms = MakeSmsDb(t, kIos12, {{1, "a@b.c"}},
                       {{1, 1, "hi", 1000000000000000LL},
                        {2, 1, "placeholder", 2000000000000000LL},
                        {3, 1, longText.c_str(), 3000000000000000LL},
                        {4, 1, "placeholder", 4000000000000000LL}});
  Sql(sms,
      "UPDATE message SET text = CAST(X'6F6BC3' AS TEXT) WHERE ROWID = 2;"
      "UPDATE message SET text = CAST(X'61620063' AS TEXT) WHERE ROWID = 4;"
      "UPDATE handle SET id = CAST(X'2B31FF32' AS TEXT) WHERE ROWID = 1;");
  ConversationMap map;
  MessageReader({}).Read(sms, "", map);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(Texts(map[1]), (std::vector<std::string>{"hi", "ok\xEF\xBF\xBD", longText, "ab"}));
  for (const MessageRecord& m : map[1])
    EXPECT_EQ(m.sender,
              "+1\xEF\xBF\xBD"
              "2");
}

TEST(MessageReaderGrouping, OrderedByDateAndGroupedByHandleAcrossChats) {
  TempFolder t;
  auto sms = MakeSmsDb(t, kIos6, {{1, "+1111111"}, {2, "+2222222"}},
                       {{1, 2, "b-late", 500, 0, 1},
                        {2, 1, "a-mid", 300, 0, 2},
                        {3, 1, "a-early", 100, 0, 3},
                        {4, 2, "b-early", 200, 1, 1}},
                       {{1, {2}}, {2, {1}}, {3, {1}}});
  ConversationMap map;
  map[7].push_back(MessageRecord{});  // the reader only adds
  MessageReader({}).Read(sms, "", map);
  ASSERT_EQ(map.size(), 3u);
  std::vector<std::string> a, b;
  for (auto& m : map[1]) a.push_back(m.text.str());
  for (auto& m : map[2]) b.push_back(m.text.str());
  EXPECT_EQ(a, (std::vector<std::string>{"a-early", "a-mid"}));
  EXPECT_EQ(b, (std::vector<std::string>{"b-early", "b-late"}));
  EXPECT_EQ(map.begin()->first, 1);
}

// Chat 1 is Anna's alone; chat 2 the group "Weekend trip" of Anna, Li and Bob; chat 3
// a group without a name. Message 8 is joined to chats 1 and 2; message 9 to none.
struct ChatFixture {
  TempFolder t;
  std::string sms, ab;
  explicit ChatFixture(const char* section = kIos12) {
    sms = MakeSmsDb(
        t, section,
        {{1, "+15550000001"}, {2, "+15550000002"}, {3, "bob@example.com"}, {4, "+15550000004"}},
        {{1, 1, "hi anna", 10},
         {2, 1, "group hello", 20, 0, 2},
         {3, 0, "owner to group", 30, 1, 2},
         {4, 2, "from li", 25, 0, 2},
         {5, 3, "from bob", 40, 0, 2},
         {6, 4, "small group", 15, 0, 3},
         {7, 0, "owner small", 16, 1, 3},
         {8, 1, "in two chats", 50, 0, 1},
         {9, 2, "no chat", 60, 0, 0}},
        {{1, {1}}, {2, {3, 1, 2}}, {3, {2, 4}}});
    Sql(sms, "INSERT INTO chat_message_join(chat_id,message_id) VALUES(2,8);");
    if (std::string(section) != kIos6)
      Sql(sms,
          "UPDATE chat SET display_name='Weekend trip' WHERE ROWID=2;"
          "UPDATE chat SET display_name='' WHERE ROWID=3;");
    ab = MakeAddressBook(t, {{"Anna", "", "+15550000001 "}, {"Li", "", "+15550000002 "}});
  }
};

TEST(MessageReaderChats, GroupChatsAreOneConversationEachMessageOnceWithItsSender) {
  ChatFixture f;
  ConversationMap map;
  ASSERT_EQ(MessageReader({}).Read(f.sms, f.ab, map), 0);
  // Two one-to-one conversations under their handles, two groups under keys of their
  // own below every handle key, in chat order.
  std::vector<std::int32_t> keys;
  for (const auto& [key, list] : map) keys.push_back(key);
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_LT(keys[0], keys[1]);
  EXPECT_LT(keys[1], 1);
  EXPECT_EQ(keys[2], 1);
  EXPECT_EQ(keys[3], 2);
  std::size_t total = 0;
  for (const auto& [key, list] : map) total += list.size();
  EXPECT_EQ(total, 9u);  // every message once

  EXPECT_EQ(Texts(map[1]), (std::vector<std::string>{"hi anna", "in two chats"}));
  EXPECT_EQ(Texts(map[2]), (std::vector<std::string>{"no chat"}));
  EXPECT_EQ(map[2].front().chat, nullptr);
  EXPECT_EQ(map[1].back().chat->chatId, 1);  // the lower of its two chats

  const auto& trip = map[keys[0]];
  EXPECT_EQ(Texts(trip),
            (std::vector<std::string>{"group hello", "from li", "owner to group", "from bob"}));
  std::vector<std::pair<std::string, std::string>> who;
  for (const MessageRecord& m : trip) who.emplace_back(m.sender, m.name);
  EXPECT_EQ(
      who,
      (std::vector<std::pair<std::string, std::string>>{
          {"+15550000001", "Anna"}, {"+15550000002", "Li"}, {"", ""}, {"bob@example.com", ""}}));
  EXPECT_EQ(std::next(trip.begin(), 2)->isFromMe, 1);
  const MessageChatInfo& chat = *trip.front().chat;
  for (const MessageRecord& m : trip) EXPECT_EQ(m.chat.get(), &chat);  // one shared chat
  EXPECT_EQ(chat.chatId, 2);
  EXPECT_EQ(chat.key, keys[0]);
  EXPECT_TRUE(chat.isGroup);
  EXPECT_EQ(chat.label, "Weekend trip");
  EXPECT_EQ(chat.members,
            (std::vector<std::string>{"+15550000001", "+15550000002", "bob@example.com"}));
  EXPECT_EQ(chat.memberNames, (std::vector<std::string>{"Anna", "Li", ""}));

  const auto& small = map[keys[1]];
  EXPECT_EQ(Texts(small), (std::vector<std::string>{"small group", "owner small"}));
  EXPECT_EQ(small.front().chat->label, "Li, +15550000004");  // no display name: members
  EXPECT_EQ(small.front().chat->chatId, 3);
}

TEST(MessageReaderChats, WithoutNamesOrDisplayNamesLabelsAreTheMembersNumbers) {
  ChatFixture f(kIos6);  // chats of iOS 6 have no display name
  ConversationMap map;
  MessageReader({}).Read(f.sms, "", map);  // no address book
  ASSERT_EQ(map.size(), 4u);
  EXPECT_EQ(map.begin()->second.front().chat->label, "+15550000001, +15550000002, bob@example.com");
  EXPECT_EQ(map[1].front().name, "");
}

TEST(MessageReaderChats, GroupKeysStayClearOfEveryHandleKey) {
  // Handle rows with negative ids and keys already in the map: the group goes below.
  TempFolder t;
  auto sms = MakeSmsDb(
      t, kIos12, {{-5, "+1500"}, {1, "+1501"}, {2, "+1502"}},
      {{1, -5, "minus five", 1, 0, 0}, {2, 1, "group a", 2, 0, 1}, {3, 2, "group b", 3, 0, 1}},
      {{1, {1, 2}}});
  ConversationMap map;
  map[-9].push_back(MessageRecord{});
  MessageReader({}).Read(sms, "", map);
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(Texts(map[-5]), (std::vector<std::string>{"minus five"}));
  EXPECT_LT(map.begin()->first, -9);
  EXPECT_EQ(Texts(map.begin()->second), (std::vector<std::string>{"group a", "group b"}));
}

TEST(MessageReaderChats, WithoutTheChatMemberTableMessagesGoByHandle) {
  ChatFixture f;
  Sql(f.sms, "DROP TABLE chat_handle_join;");
  ConversationMap map;
  ASSERT_EQ(MessageReader({}).Read(f.sms, f.ab, map), 0);
  // As the older statement reads: per handle, in chats only, handle rows only.
  ASSERT_EQ(map.size(), 4u);
  EXPECT_EQ(Texts(map[1]),
            (std::vector<std::string>{"hi anna", "group hello", "in two chats", "in two chats"}));
  EXPECT_EQ(Texts(map[2]), (std::vector<std::string>{"from li"}));
  EXPECT_EQ(map[1].front().chat, nullptr);
}

TEST(MessageReaderNames, SubstringMatchInAddressBookRowOrder) {
  TempFolder t;
  auto sms = MakeSmsDb(t, kIos12,
                       {{1, "+15551234567"},
                        {2, "5551234567"},
                        {3, "+1 (555) 123-4567"},
                        {4, "x@example.com"},
                        {5, "+4470000"}},
                       // In no chat: each goes by its own handle.
                       {{1, 1, "m1", 1, 0, 0},
                        {2, 2, "m2", 2, 0, 0},
                        {3, 3, "m3", 3, 0, 0},
                        {4, 4, "m4", 4, 0, 0},
                        {5, 5, "m5", 5, 0, 0}});
  auto ab = MakeAddressBook(t, {{"Nophone", "Person", ""},
                                {"Anna", "Berg", "+15551234567 +15559876543 "},
                                {"Second", "Match", "+15551234567 "},
                                {"", "Mail", "x@example.com "},
                                {"", "", "+4470000"}});
  ConversationMap map;
  EXPECT_EQ(MessageReader({}).Read(sms, ab, map), 0);
  EXPECT_EQ(map[1].front().name, "Anna Berg");
  EXPECT_EQ(map[2].front().name, "Anna Berg");  // substring
  EXPECT_EQ(map[3].front().name, "");           // no normalisation
  EXPECT_EQ(map[4].front().name, "Mail");       // e-mail found inside a phone text
  EXPECT_EQ(map[5].front().name, "");           // a nameless person gives an empty name
}

TEST(MessageReaderNames, HandleRowsBeyond32BitsKeepTheirOwnNames) {
  // Both handle ids saturate to the same 32-bit value; each message still gets the
  // name of its own sender, and repeated messages of one handle the same name.
  TempFolder t;
  const std::string sms =
      MakeSmsDb(t, kIos12, {{1, "+15550001111"}}, {{1, 1, "a", 1}, {2, 1, "b", 2}});
  Sql(sms,
      "INSERT INTO handle(ROWID,id,country,service) VALUES(3000000000,'+15552222222','us','SMS'),"
      "(3000000001,'+15553333333','us','SMS');"
      "INSERT INTO message(ROWID,guid,text,handle_id,date) VALUES(3,'G3','c',3000000000,3),"
      "(4,'G4','d',3000000001,4),(5,'G5','e',3000000000,5);"
      "INSERT INTO chat_message_join(chat_id,message_id) VALUES(1,3),(1,4),(1,5);");
  auto ab = MakeAddressBook(
      t,
      {{"One", "", "+15550001111 "}, {"Two", "", "+15552222222 "}, {"Three", "", "+15553333333 "}});
  ConversationMap map;
  EXPECT_EQ(MessageReader({}).Read(sms, ab, map), 0);
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& [handle, list] : map)
    for (const MessageRecord& m : list) got.emplace_back(m.text, m.name);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {"a", "One"}, {"b", "One"}, {"c", "Two"}, {"d", "Three"}, {"e", "Two"}}));
}

TEST(MessageReaderNames, OlderAddressBookLayoutGivesNamesAndResult1006) {
  TempFolder t;
  auto sms = MakeSmsDb(t, kIos6, {{1, "+15551234567"}}, {{1, 1, "m1", 1}});
  auto ab = MakeAddressBook(t, {{"Old", "Layout", "+15551234567"}}, true);
  ConversationMap map;
  EXPECT_EQ(MessageReader({}).Read(sms, ab, map), kQueryFailed);
  EXPECT_EQ(map[1].front().name, "Old Layout");
}

TEST(MessageReaderFailures, WrongOrMissingDatabases) {
  TempFolder t;
  auto ab = MakeAddressBook(t, {{"A", "B", "123"}});
  ConversationMap map;
  EXPECT_EQ(MessageReader({}).Read(ab, ab, map), kQueryFailed);  // address book as sms.db
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(MessageReader({}).Read(t.File("missing.db"), ab, map), 14);
  EXPECT_TRUE(map.empty());
  EXPECT_FALSE(std::filesystem::exists(t.File("missing.db")));  // never created
}

TEST(MessageReaderProgress, ReportsAndStops) {
  TempFolder t;
  auto sms = MakeSmsDb(t, kIos12, {{1, "+15551234567"}}, {{1, 1, "m1", 1}});
  auto ab = MakeAddressBook(t, {{"A", "B", "+15551234567"}});
  {
    Recorder r;
    ConversationMap map;
    ProgressSink sink{Recorder::Callback, &r, 40, 11};
    EXPECT_EQ(MessageReader(sink).Read(sms, ab, map), 0);
    EXPECT_EQ(r.positions, (std::vector<int>{42, 42, 51}));
    EXPECT_EQ(map.size(), 1u);
  }
  {
    Recorder r;
    r.answerAt = 0;  // stop at the first report: no address book, nothing added
    ConversationMap map;
    ProgressSink sink{Recorder::Callback, &r, 0, 20};
    EXPECT_EQ(MessageReader(sink).Read(sms, ab, map), 0);  // the last report answered 0
    EXPECT_EQ(r.positions, (std::vector<int>{4, 20}));
    EXPECT_TRUE(map.empty());
  }
  {
    Recorder r;
    r.answerAt = 1;  // stop asked at the address-book report: still the final report
    ConversationMap map;
    ProgressSink sink{Recorder::Callback, &r, 0, 20};
    EXPECT_EQ(MessageReader(sink).Read(sms, ab, map), 0);
    EXPECT_EQ(r.positions, (std::vector<int>{4, 5, 20}));
    EXPECT_EQ(map.size(), 1u);
  }
  {
    Recorder r;
    r.answerAt = 0;
    ConversationMap map;
    ProgressSink sink{Recorder::Callback, &r, 10, 10};
    // A failed open still makes the final report, whose answer is the result.
    EXPECT_EQ(MessageReader(sink).Read(t.File("missing"), ab, map), 2);
    EXPECT_EQ(r.positions, (std::vector<int>{20}));
  }
}

TEST(MessageReaderNames, ManyContactsGiveTheSameNamesAsAPlainWalk) {
  // 3,000 contacts with generated phone texts (large enough for the gram index) and
  // senders that hit, miss, and hit several persons.
  TempFolder t;
  std::vector<std::tuple<std::string, std::string, std::string>> people;
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(5550000 + i * 7);
    people.emplace_back("P" + std::to_string(i), "", "(555) " + n + " +1555" + n + " " + n + " ");
  }
  auto ab = MakeAddressBook(t, people);
  std::vector<std::pair<int, std::string>> handles;
  std::vector<Msg> msgs;
  const char* texts[] = {"x"};
  for (int h = 1; h <= 400; ++h) {
    std::string addr = h % 3 == 0   ? "+1555" + std::to_string(5550000 + h * 91)
                       : h % 3 == 1 ? std::to_string(555000 + h)  // prefix of several
                                    : "+9" + std::to_string(h);   // nobody
    handles.emplace_back(h, addr);
    msgs.push_back({h, h, texts[0], h, 0, 0});  // in no chat: one conversation per handle
  }
  auto sms = MakeSmsDb(t, kIos12, handles, msgs);
  ConversationMap map;
  ASSERT_EQ(MessageReader({}).Read(sms, ab, map), 0);
  ASSERT_EQ(map.size(), 400u);
  int named = 0;
  for (auto& [h, list] : map) {
    const std::string sender = list.front().sender.str();
    std::string expected;
    for (auto& [first, last, phone] : people) {
      if (ValidUtf8(phone).find(sender) != std::string::npos) {
        expected = ValidUtf8(first + last);
        break;
      }
    }
    EXPECT_EQ(list.front().name, expected) << sender;
    named += !expected.empty();
  }
  EXPECT_GT(named, 100);
}

}  // namespace
}  // namespace bv
