// The WeChat and QQ store passes over real SQLite files: live rows equal what the
// SQLite library reads, deleted rows come back with status 1, damaged files yield fewer
// records without failing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "common/hash.h"
#include "common/text.h"
#include "rawsqlite/chat_passes.h"
#include "rawsqlite/store_builder.h"

namespace bv {
namespace {

using test::Db;
using test::TempDir;

std::string UtcText(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

// (time, text, is_sender) of a message, for comparing without regard to order.
using Msg = std::tuple<std::string, std::string, int>;

std::multiset<Msg> Live(const std::list<ChatMessageRecord>& list) {
  std::multiset<Msg> out;
  for (const auto& r : list)
    if (r.status == 0) out.insert({r.time.str(), r.text, r.is_sender});
  return out;
}

std::multiset<Msg> Reference(Db& db, const std::string& sql) {
  std::multiset<Msg> out;
  for (const auto& row : db.Query(sql)) {
    if (row[1] == "<null>" || row[1].empty()) continue;
    out.insert(
        {ValidUtf8(UtcText(std::atoll(row[0].c_str()))), ValidUtf8(row[1]), row[2] == "0" ? 1 : 0});
  }
  return out;
}

class PassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  TempDir dir;
};

TEST_F(PassTest, WeChatTableNameIsMd5OfUserNameAndOrderIsByTime) {
  const std::string path = dir.File("MM.sqlite");
  {
    Db db(path, 4096);
    test::CreateFriendTable(db);
    test::AddFriend(db, "wxid_alice", "Alice", 3);
    test::AddFriend(db, "", "Nobody", 0);
    test::AddFriend(db, "wxid_nochat", "No table", 1);
    test::CreateChatTable(db, "Chat_29a6db07e8bbdb53f5d54cc3c309f3f1");
    test::CreateChatTable(db, "Chat_d41d8cd98f00b204e9800998ecf8427e");
    // Two messages in reverse time order must still come out sorted.
    test::AddChat(db, "Chat_29a6db07e8bbdb53f5d54cc3c309f3f1", 1, 1500000100, "second", 1);
    test::AddChat(db, "Chat_29a6db07e8bbdb53f5d54cc3c309f3f1", 2, 1500000000, "first", 0);
    test::AddChat(db, "Chat_d41d8cd98f00b204e9800998ecf8427e", 3, 0, "epoch", 1);
  }
  ChatMap map;
  ASSERT_EQ(WeChatPass(path, map), 0);
  ASSERT_EQ(map.size(), 2u);
  const auto& alice = map.at("wxid_alice");
  ASSERT_EQ(alice.size(), 2u);
  EXPECT_EQ(alice.front().text, "first");
  EXPECT_EQ(alice.front().time, "2017-07-14 02:40:00");
  EXPECT_EQ(alice.front().is_sender, 1);
  EXPECT_EQ(alice.back().is_sender, 0);
  EXPECT_EQ(alice.front().status, 0);
  EXPECT_EQ(alice.front().row_id, 2);
  EXPECT_TRUE(alice.front().sender.empty());
  const auto& nobody = map.at("");
  ASSERT_EQ(nobody.size(), 1u);
  EXPECT_EQ(nobody.front().time, "1970-01-01 00:00:00");
}

TEST_F(PassTest, FriendRowsLiveAndDeleted) {
  const std::string path = dir.File("friends.sqlite");
  {
    Db db(path, 1024);
    test::CreateFriendTable(db);
    const int types[] = {0, 1, 300, -5, 70000};
    for (int i = 0; i < 5; ++i)
      test::AddFriend(db, "wxid_f" + std::to_string(i), "Nick " + std::to_string(i), types[i]);
    db.Exec("DELETE FROM Friend WHERE UsrName = 'wxid_f2'");
  }
  TablePass pass;
  ASSERT_EQ(pass.reader.open(path), 0);
  std::list<WeChatFriendRecord> friends;
  ASSERT_EQ(
      read_table(
          pass, "Friend",
          [&](RawDbFile& r, const CellInput& c) { return decode_friend(r, c, friends); }, true),
      0);
  std::map<std::string, std::pair<int, int>> seen;  // user -> (type, status)
  for (const auto& f : friends) seen[f.user_name] = {f.type, f.status};
  EXPECT_EQ(seen["wxid_f0"], std::make_pair(0, 0));
  EXPECT_EQ(seen["wxid_f1"], std::make_pair(1, 0));
  EXPECT_EQ(seen["wxid_f3"], std::make_pair(-5, 0));
  EXPECT_EQ(seen["wxid_f4"], std::make_pair(70000, 0));
  ASSERT_TRUE(seen.count("wxid_f2"));  // the deleted row, carved from its freeblock
  EXPECT_EQ(seen["wxid_f2"], std::make_pair(300, 1));
  for (const auto& f : friends)
    if (f.user_name == "wxid_f1") {
      EXPECT_EQ(f.nick_name, "Nick 1");
    }
}

TEST_F(PassTest, TimeIsLocalTime) {
  const std::string path = dir.File("MM.sqlite");
  {
    Db db(path, 1024);
    test::CreateFriendTable(db);
    test::AddFriend(db, "wxid_bob", "Bob", 3);
    test::CreateChatTable(db, "Chat_8a7b11f2fd24e19a60664a5fe5d56342");
    test::AddChat(db, "Chat_8a7b11f2fd24e19a60664a5fe5d56342", 1, 0, "hello", 0);
  }
  setenv("TZ", "CST-8", 1);
  tzset();
  ChatMap map;
  ASSERT_EQ(WeChatPass(path, map), 0);
  ASSERT_EQ(map["wxid_bob"].size(), 1u);
  EXPECT_EQ(map["wxid_bob"].front().time, "1970-01-01 08:00:00");
}

TEST_F(PassTest, UnopenableAndNonDatabaseFiles) {
  ChatMap map;
  EXPECT_NE(WeChatPass(dir.File("missing.sqlite"), map), 0);
  test::WriteAll(dir.File("junk"), std::vector<std::uint8_t>(4096, 'x'));
  EXPECT_EQ(WeChatPass(dir.File("junk"), map), 87);
  EXPECT_EQ(QQPass(dir.File("junk"), map), 87);
  EXPECT_TRUE(map.empty());
}

// Live rows of the chat layouts equal, row for row, what the SQLite library returns, for
// random page sizes, text lengths up to several pages and deletions in between.
TEST_F(PassTest, LiveRowsEqualSqliteAcrossSeeds) {
  const int sizes[] = {512, 1024, 4096, 8192, 65536};
  for (unsigned seed = 1; seed <= 24; ++seed) {
    std::mt19937 rng(seed);
    const int page = sizes[rng() % 5];
    const bool rowid_first = rng() % 2 == 0;
    SCOPED_TRACE("seed " + std::to_string(seed) + " page " + std::to_string(page));
    const std::string path = dir.File("mm" + std::to_string(seed) + ".sqlite");
    std::vector<std::string> users;
    {
      Db db(path, page);
      test::CreateFriendTable(db);
      db.Exec("CREATE TABLE Other (a INTEGER, b TEXT, c BLOB)");
      for (int u = 0; u < 3; ++u) {
        users.push_back("wxid_" + std::to_string(seed) + "_" + std::to_string(u));
        test::AddFriend(db, users.back(), "nick", 3);
        test::CreateChatTable(db, "Chat_" + Md5Hex(users.back()), rowid_first);
      }
      db.Exec("BEGIN");
      for (int i = 0; i < 300; ++i) {
        const std::string& user = users[rng() % users.size()];
        std::size_t len = rng() % 10 == 0 ? rng() % (3 * page + 100) : rng() % 120 + 1;
        test::AddChat(db, "Chat_" + Md5Hex(user), i, 1400000000 + (rng() % 100000000),
                      test::RandomText(rng, len), static_cast<int>(rng() % 2), rowid_first);
        if (i % 7 == 0)
          db.Insert("Other", {test::Value::I(i), test::Value::T(test::RandomText(rng, rng() % 300)),
                              test::Value::N()});
      }
      db.Exec("COMMIT");
      for (const auto& user : users)
        db.Exec("DELETE FROM Chat_" + Md5Hex(user) +
                " WHERE MesSvrID % 5 = " + std::to_string(seed % 5));
    }
    ChatMap map;
    ASSERT_EQ(WeChatPass(path, map), 0);
    Db db(path, page);
    for (const auto& user : users) {
      const auto expected =
          Reference(db, "SELECT CreateTime, Message, Des FROM Chat_" + Md5Hex(user));
      const auto it = map.find(ValidUtf8(user));
      const auto actual = it == map.end() ? std::multiset<Msg>{} : Live(it->second);
      EXPECT_EQ(actual.size(), expected.size()) << user;
      EXPECT_TRUE(actual == expected) << user;
    }
  }
}

// A live row whose payload spills into overflow pages, with a deleted row (a freeblock)
// between it and the next live cell: its overflow link must be found where the file
// format puts it, not at the end of the gap.
TEST_F(PassTest, OverflowingLiveRowBesideAFreeblockIsIntact) {
  for (int page : {1024, 4096}) {
    const std::string path = dir.File("ovf" + std::to_string(page) + ".sqlite");
    const std::string table = "Chat_" + Md5Hex("wxid_ovf");
    std::mt19937 rng(static_cast<unsigned>(page));
    const std::string big = test::RandomText(rng, static_cast<std::size_t>(page) * 3);
    {
      Db db(path, page);
      test::CreateFriendTable(db);
      test::AddFriend(db, "wxid_ovf", "O", 3);
      test::CreateChatTable(db, table, true);
      db.Exec("BEGIN");
      test::AddChat(db, table, 1, 1500000001, "top row", 0, true);
      test::AddChat(db, table, 2, 1500000002, "deleted row between", 1, true);
      test::AddChat(db, table, 3, 1500000003, big, 0, true);
      test::AddChat(db, table, 4, 1500000004, "below", 1, true);
      db.Exec("COMMIT");
      db.Exec("DELETE FROM " + table + " WHERE MesSvrID = 2");
    }
    ChatMap map;
    ASSERT_EQ(WeChatPass(path, map), 0);
    const auto& list = map["wxid_ovf"];
    int live_big = 0;
    for (const auto& r : list)
      if (r.status == 0 && r.text == ValidUtf8(big)) ++live_big;
    EXPECT_EQ(live_big, 1) << page;
    EXPECT_EQ(Live(list).size(), 3u);
  }
}

struct Recovery {
  int deleted = 0;
  int found = 0;
  int junk = 0;  // deleted records equal to no row ever written
};

// Deleted rows (by number) that come back with status 1, equal time and text, and the
// deleted records that equal no row written.
Recovery Count(const ChatMap& map, const std::map<int, std::pair<std::int64_t, std::string>>& rows,
               const std::vector<int>& removed) {
  std::multiset<std::pair<std::string, std::string>> got;
  for (const auto& [key, list] : map)
    for (const auto& r : list)
      if (r.status == 1) got.insert({r.time.str(), r.text});
  auto key = [](const std::pair<std::int64_t, std::string>& row) {
    return std::make_pair(ValidUtf8(UtcText(row.first)), ValidUtf8(row.second));
  };
  Recovery result;
  for (int i : removed) {
    ++result.deleted;
    if (got.count(key(rows.at(i)))) ++result.found;
  }
  std::set<std::pair<std::string, std::string>> written;
  for (const auto& [i, row] : rows) written.insert(key(row));
  for (const auto& record : got) result.junk += written.count(record) == 0;
  return result;
}

// Deletes rows of a WeChat chat table in one of three ways and counts the deleted
// messages that come back with status 1, equal text and time.
Recovery DeletedWeChat(const TempDir& dir, int page, int kind, bool rowid_first) {
  const std::string path = dir.File("del" + std::to_string(page) + "_" + std::to_string(kind) +
                                    (rowid_first ? "r" : "p") + ".sqlite");
  const std::string table = "Chat_" + Md5Hex("wxid_del");
  std::mt19937 rng(static_cast<unsigned>(page + kind));
  std::map<int, std::pair<std::int64_t, std::string>> rows;
  std::vector<int> removed;
  {
    Db db(path, page);
    test::CreateFriendTable(db);
    test::AddFriend(db, "wxid_del", "Del", 3);
    test::CreateChatTable(db, table, rowid_first);
    db.Exec("BEGIN");
    const int n = std::min(kind == 2 ? 40 * page / 100 : 12 * page / 100, 1500);
    for (int i = 0; i < n; ++i) {
      const std::int64_t t = 1500000000 + i * 60;
      std::string text =
          "message " + std::to_string(i) + " " + test::RandomText(rng, rng() % 60 + 5);
      rows[i] = {t, text};
      test::AddChat(db, table, i, t, text, i % 2, rowid_first);
    }
    db.Exec("COMMIT");
    // 0: scattered rows (freeblocks); 1: the newest rows (unallocated space at the top
    // of the content area); 2: most rows, so that whole pages go to the freelist.
    for (int i = 0; i < n; ++i) {
      bool del = kind == 0 ? i % 3 == 1 : kind == 1 ? i >= n - n / 4 : i >= n / 10;
      if (del) removed.push_back(i);
    }
    db.Exec("BEGIN");
    for (int i : removed)
      db.Exec("DELETE FROM " + table + " WHERE MesSvrID = " + std::to_string(i));
    db.Exec("COMMIT");
  }
  ChatMap map;
  EXPECT_EQ(WeChatPass(path, map), 0);
  return Count(map, rows, removed);
}

// Share of deleted messages that come back, per page size and kind of deletion. The
// floors sit a little under what this reader measured; a fall means lost recovery.
TEST_F(PassTest, DeletedWeChatMessagesAreRecovered) {
  const char* kinds[] = {"freeblock", "unallocated", "freed page"};
  // [layout][page][kind] floors in percent; layout 0 = the phone's column order (column 0
  // TableVer, the row-id alias in column 1).
  const int floors[2][3][3] = {{{85, 85, 95}, {85, 70, 95}, {95, 30, 45}},
                               {{85, 85, 95}, {85, 70, 95}, {95, 30, 45}}};
  const int pages[] = {1024, 4096, 65536};
  for (int layout = 0; layout < 2; ++layout) {
    for (int pi = 0; pi < 3; ++pi) {
      for (int kind = 0; kind < 3; ++kind) {
        const Recovery r = DeletedWeChat(dir, pages[pi], kind, layout == 1);
        const double share = r.deleted ? 100.0 * r.found / r.deleted : 0.0;
        std::printf("recovery layout=%s page=%d kind=%s deleted=%d found=%d (%.0f%%) junk=%d\n",
                    layout ? "rowid-first" : "phone", pages[pi], kinds[kind], r.deleted, r.found,
                    share, r.junk);
        EXPECT_GE(share, floors[layout][pi][kind])
            << "layout " << layout << " page " << pages[pi] << " " << kinds[kind];
        // Deleted records that match no row ever written: a few from garbage
        // that passes every test, never more.
        EXPECT_LE(r.junk, r.deleted / 20 + 2)
            << "layout " << layout << " page " << pages[pi] << " " << kinds[kind];
      }
    }
  }
}

// The same for a QQ message table: deleted rows of the table's own pages and of freed
// pages whose peer column names the table's partner.
// `app_layout`: msgId an ordinary integer and the partner's number an integer, as the
// app writes them; otherwise msgId is the row-id alias and the number a text.
Recovery DeletedQQ(const TempDir& dir, int page, int kind, bool app_layout) {
  const std::string path = dir.File("qq" + std::to_string(page) + "_" + std::to_string(kind) +
                                    (app_layout ? "a" : "r") + ".db");
  const std::string table = "tb_c2cMsg_10001";
  std::mt19937 rng(static_cast<unsigned>(page * 7 + kind));
  std::map<int, std::pair<std::int64_t, std::string>> rows;
  std::vector<int> removed;
  {
    Db db(path, page);
    test::CreateQQTables(db);
    db.Insert("tb_c2cTables", {test::Value::T(table)});
    if (app_layout) {
      std::string sql = "CREATE TABLE " + table +
                        " (msgId INTEGER, uin INTEGER, time INTEGER, type INTEGER, flag INTEGER, "
                        "read INTEGER, content TEXT, picUrl TEXT";
      for (int i = 8; i < 50; ++i) sql += ", col" + std::to_string(i) + " INTEGER";
      db.Exec(sql + ")");
    } else {
      test::CreateQQMessageTable(db, table);
    }
    db.Exec("BEGIN");
    const int n = std::min(kind == 2 ? 30 * page / 100 : 8 * page / 100, 1200);
    for (int i = 0; i < n; ++i) {
      const std::int64_t t = 1500000000 + i * 60;
      std::string text = "qq " + std::to_string(i) + " " + test::RandomText(rng, rng() % 60 + 5);
      rows[i] = {t, text};
      if (app_layout) {
        std::vector<test::Value> v{test::Value::I(i + 1), test::Value::I(10001), test::Value::I(t),
                                   test::Value::I(0),     test::Value::I(i % 2), test::Value::I(1),
                                   test::Value::T(text),  test::Value::N()};
        for (int c = 8; c < 50; ++c) v.push_back(c % 3 == 0 ? test::Value::I(c) : test::Value::N());
        db.Insert(table, v);
      } else {
        test::AddQQMessage(db, table, "10001", t, text, i % 2);
      }
    }
    db.Exec("COMMIT");
    for (int i = 0; i < n; ++i) {
      bool del = kind == 0 ? i % 3 == 1 : kind == 1 ? i >= n - n / 4 : i >= n / 10;
      if (del) removed.push_back(i);
    }
    db.Exec("BEGIN");
    for (int i : removed)
      db.Exec("DELETE FROM " + table + " WHERE time = " + std::to_string(1500000000 + i * 60));
    db.Exec("COMMIT");
  }
  ChatMap map;
  EXPECT_EQ(QQPass(path, map), 0);
  return Count(map, rows, removed);
}

TEST_F(PassTest, DeletedQQMessagesAreRecovered) {
  const char* kinds[] = {"freeblock", "unallocated", "freed page"};
  // [layout][page][kind]; layout 0: msgId the row-id alias, 1: the app's own columns.
  const int floors[2][3][3] = {{{95, 85, 95}, {95, 75, 95}, {50, 45, 95}},
                               {{95, 85, 95}, {95, 75, 95}, {65, 45, 95}}};
  const int pages[] = {1024, 4096, 65536};
  for (int layout = 0; layout < 2; ++layout) {
    for (int pi = 0; pi < 3; ++pi) {
      for (int kind = 0; kind < 3; ++kind) {
        const Recovery r = DeletedQQ(dir, pages[pi], kind, layout == 1);
        const double share = r.deleted ? 100.0 * r.found / r.deleted : 0.0;
        std::printf("recovery qq layout=%s page=%d kind=%s deleted=%d found=%d (%.0f%%) junk=%d\n",
                    layout ? "app" : "rowid-first", pages[pi], kinds[kind], r.deleted, r.found,
                    share, r.junk);
        EXPECT_GE(share, floors[layout][pi][kind])
            << "layout " << layout << " page " << pages[pi] << " " << kinds[kind];
        EXPECT_LE(r.junk, r.deleted / 20 + 2)
            << "layout " << layout << " page " << pages[pi] << " " << kinds[kind];
      }
    }
  }
}

// QQ as the app writes it (msgId an ordinary integer, the partner's number an integer):
// a conversation deleted as a whole (its table dropped, its table-list row deleted)
// comes back under its number, and no listed conversation takes rows of another number
// from the freed pages.
TEST_F(PassTest, QQConversationDeletedAsAWholeComesBack) {
  for (int page : {1024, 4096}) {
    SCOPED_TRACE(page);
    const std::string path = dir.File("qqdrop" + std::to_string(page) + ".db");
    std::mt19937 rng(static_cast<unsigned>(page));
    std::map<std::string, std::set<std::string>> texts;  // peer -> texts written
    {
      Db db(path, page);
      test::CreateQQTables(db);
      int id = 0;
      for (const char* peer : {"10001", "20002", "30003"}) {
        const std::string table = std::string("tb_c2cMsg_") + peer;
        db.Insert("tb_c2cTables", {test::Value::T(table)});
        std::string sql = "CREATE TABLE " + table +
                          " (msgId INTEGER, uin INTEGER, time INTEGER, type INTEGER, flag "
                          "INTEGER, read INTEGER, content TEXT, picUrl TEXT";
        for (int i = 8; i < 50; ++i) sql += ", col" + std::to_string(i) + " INTEGER";
        db.Exec(sql + ")");
        db.Exec("BEGIN");
        for (int i = 0; i < 40; ++i) {
          const std::string text =
              std::string("to ") + peer + " " + std::to_string(i) + " " + test::RandomText(rng, 30);
          texts[peer].insert(text);
          std::vector<test::Value> v{test::Value::I(++id),
                                     test::Value::I(std::atoll(peer)),
                                     test::Value::I(1500000000 + id * 60),
                                     test::Value::I(0),
                                     test::Value::I(i % 2),
                                     test::Value::I(1),
                                     test::Value::T(text),
                                     test::Value::N()};
          for (int c = 8; c < 50; ++c) v.push_back(test::Value::N());
          db.Insert(std::string("tb_c2cMsg_") + peer, v);
        }
        db.Exec("COMMIT");
      }
      db.Exec("DELETE FROM tb_c2cMsg_20002 WHERE msgId % 2 = 0");
      db.Exec("DELETE FROM tb_c2cTables WHERE uin = 'tb_c2cMsg_30003'");
      db.Exec("DROP TABLE tb_c2cMsg_30003");
    }
    ChatMap map;
    ASSERT_EQ(QQPass(path, map), 0);
    const auto dropped = map.find("30003");
    ASSERT_NE(dropped, map.end());
    int back = 0;
    for (const auto& r : dropped->second) {
      EXPECT_EQ(r.status, 1);
      back += texts["30003"].count(r.text) != 0;
    }
    EXPECT_GE(back, 36);  // of 40
    // (A carved row may have lost a byte or two to later writes: compare the prefix
    // that names the partner.)
    for (const char* peer : {"10001", "20002"}) {
      for (const auto& r : map[ValidUtf8(peer)]) {
        const std::string text = r.text;
        EXPECT_EQ(text.rfind(std::string("to ") + peer + " ", 0), 0u) << peer << " holds " << text;
      }
    }
  }
}

TEST_F(PassTest, QQPassFiltersFreedPagesByPeer) {
  const std::string path = dir.File("QQ.db");
  std::mt19937 rng(5);
  {
    Db db(path, 1024);
    test::CreateQQTables(db);
    for (const char* peer : {"10001", "20002"}) {
      db.Insert("tb_c2cTables", {test::Value::T(std::string("tb_c2cMsg_") + peer)});
      test::CreateQQMessageTable(db, std::string("tb_c2cMsg_") + peer);
    }
    db.Insert("tb_c2cTables", {test::Value::T("")});
    db.Exec("BEGIN");
    for (int i = 0; i < 200; ++i) {
      test::AddQQMessage(db, "tb_c2cMsg_10001", "10001", 1500000000 + i,
                         "keep " + std::to_string(i), i % 2);
      test::AddQQMessage(db, "tb_c2cMsg_20002", "20002", 1500000000 + i,
                         "gone " + std::to_string(i) + test::RandomText(rng, 40), i % 2);
    }
    // A row of another number in the table's own pages is taken all the same.
    test::AddQQMessage(db, "tb_c2cMsg_10001", "99999", 1600000000, "foreign but live", 0);
    db.Exec("COMMIT");
    db.Exec("DROP TABLE tb_c2cMsg_20002");  // its pages go to the freelist
  }
  ChatMap map;
  ASSERT_EQ(QQPass(path, map), 0);
  const auto& mine = map.at("10001");
  int live = 0, foreign = 0;
  for (const auto& r : mine) {
    EXPECT_EQ(r.text.rfind("gone", 0), std::string::npos) << "a freed row of 20002 leaked in";
    if (r.status == 0) ++live;
    if (r.text == "foreign but live") ++foreign;
  }
  EXPECT_EQ(live, 201);
  EXPECT_EQ(foreign, 1);
  EXPECT_TRUE(std::is_sorted(mine.begin(), mine.end(),
                             [](const auto& a, const auto& b) { return a.time < b.time; }));
  EXPECT_EQ(mine.front().is_sender, 1);  // flag 0: the owner's message
  // The dropped table has no schema row; its freed pages still give its rows, as deleted.
  ASSERT_TRUE(map.count("20002"));
  int recovered = 0;
  for (const auto& r : map.at("20002")) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text.rfind("gone", 0), 0u);
    ++recovered;
  }
  EXPECT_GE(recovered, 150);
  EXPECT_EQ(map.count(""), 0u);
}

ChatMessageRecord Message(int status, const char* time, int sender, const char* text,
                          bool partial = false) {
  ChatMessageRecord m;
  m.status = status;
  m.time = time;
  m.is_sender = sender;
  m.text = text;
  m.partial = partial;
  return m;
}

std::vector<std::string> Listed(const std::list<ChatMessageRecord>& list) {
  std::vector<std::string> out;
  for (const auto& m : list)
    out.push_back((m.status ? "D " : "L ") + m.time + " " + std::to_string(m.is_sender) + " " +
                  m.text + (m.partial ? "…" : ""));
  return out;
}

// One store's chats settled: stale copies of live rows go, each deleted row stays once
// in its most complete reading (under a named chat rather than "Unknown"), live rows and
// distinct deleted rows are never touched.
TEST(SettleDeleted, StaleCopiesGoAndEachDeletedRowStaysOnce) {
  const char* ten = "2021-01-01 10:00:00";
  const char* eleven = "2021-01-01 11:00:00";
  const char* noon = "2021-01-01 12:00:00";
  ChatMap chats;
  chats["alice"] = {
      Message(0, ten, 1, "hello"),
      Message(1, ten, 1, "hello"),      // a stale copy of the live row
      Message(1, ten, 1, "hel", true),  // a damaged stale copy
      Message(1, ten, 0, "hello"),      // the other direction: another row
      Message(1, eleven, 1, "gone for good"),
      Message(1, eleven, 1, "gone for good"),  // read a second time
      Message(1, eleven, 1, "gone f", true),   // and once damaged
      Message(1, noon, 1, "only cut", true),   // no whole reading: the longest stays
      Message(1, noon, 1, "only", true),
      Message(1, noon, 1, "only cut", true),
      Message(1, "", 1, "gone for good"),  // read without its time
      Message(0, "2021-01-01 13:00:00", 0, "twin"),
      Message(0, "2021-01-01 13:00:00", 0, "twin"),  // two live rows alike stay
      Message(1, "2021-01-01 14:00:00", 1, "ok"),
      Message(1, "2021-01-01 14:00:00", 1, "ok!"),  // whole and distinct: both stay
  };
  chats["Unknown"] = {Message(1, eleven, 1, "gone for good"),
                      Message(1, "2021-01-01 15:00:00", 0, "only here")};
  chats["bob"] = {Message(1, eleven, 1, "gone for good")};
  SettleDeletedMessages(chats);
  EXPECT_EQ(Listed(chats["alice"]),
            (std::vector<std::string>{
                "L 2021-01-01 10:00:00 1 hello", "D 2021-01-01 10:00:00 0 hello",
                "D 2021-01-01 11:00:00 1 gone for good", "D 2021-01-01 12:00:00 1 only cut…",
                "L 2021-01-01 13:00:00 0 twin", "L 2021-01-01 13:00:00 0 twin",
                "D 2021-01-01 14:00:00 1 ok", "D 2021-01-01 14:00:00 1 ok!"}));
  EXPECT_EQ(Listed(chats["Unknown"]),
            (std::vector<std::string>{"D 2021-01-01 15:00:00 0 only here"}));
  EXPECT_EQ(chats.count("bob"), 0u);  // nothing of its own left
}

// Many rows: every deleted reading that repeats a live row (same time, direction and
// text) goes, and no other, whatever the number of live rows that share a time or
// whose times fall on neighbouring places of the look-up table.
TEST(SettleDeleted, ManyRowsOnlyCopiesOfLiveRowsGo) {
  std::mt19937 rng(11);
  ChatMap chats;
  std::list<ChatMessageRecord>& list = chats["carol"];
  std::vector<std::string> times;
  for (int i = 0; i < 3000; ++i) {
    // Few distinct seconds, so that many rows share a moment.
    char time[32];
    std::snprintf(time, sizeof time, "2020-0%d-1%d 1%d:%02d:%02d", 1 + i % 9, i % 10, i % 7,
                  (i * 13) % 60, (i * 7) % 60);
    times.push_back(time);
  }
  std::multiset<std::string> expected_deleted;
  std::set<std::string> live_rows;
  for (int i = 0; i < 6000; ++i) {
    const std::string& time = times[rng() % times.size()];
    const int sender = static_cast<int>(rng() % 2);
    const std::string text = "row " + std::to_string(i);
    list.push_back(Message(0, time.c_str(), sender, text.c_str()));
    live_rows.insert(time + "|" + std::to_string(sender) + "|" + text);
  }
  std::vector<ChatMessageRecord> live(list.begin(), list.end());
  for (int i = 0; i < 4000; ++i) {
    const ChatMessageRecord& of = live[rng() % live.size()];
    switch (rng() % 4) {
      case 0:  // a stale copy: goes
        list.push_back(Message(1, of.time.c_str(), of.is_sender, of.text.c_str()));
        break;
      case 1: {  // the same text at the same time, other direction: a row of its own
        list.push_back(Message(1, of.time.c_str(), 1 - of.is_sender, of.text.c_str()));
        const std::string key = of.time + "|" + std::to_string(1 - of.is_sender) + "|" + of.text;
        if (live_rows.count(key) == 0) expected_deleted.insert(key);
        break;
      }
      default: {  // a deleted row of its own at a live row's moment
        const std::string text = "gone " + std::to_string(i);
        list.push_back(Message(1, of.time.c_str(), of.is_sender, text.c_str()));
        expected_deleted.insert(of.time + "|" + std::to_string(of.is_sender) + "|" + text);
      }
    }
  }
  SettleDeletedMessages(chats);
  std::multiset<std::string> deleted;
  std::size_t live_left = 0;
  for (const ChatMessageRecord& m : chats["carol"]) {
    if (m.status == 0)
      ++live_left;
    else
      deleted.insert(m.time + "|" + std::to_string(m.is_sender) + "|" + m.text);
  }
  EXPECT_EQ(live_left, 6000u);
  // A row of its own read twice stays once.
  std::multiset<std::string> once;
  for (const std::string& key :
       std::set<std::string>(expected_deleted.begin(), expected_deleted.end()))
    once.insert(key);
  EXPECT_EQ(deleted, once);
}

// The deleted records of a pass: (time, text) -> how often listed.
std::map<std::pair<std::string, std::string>, int> DeletedCounts(const ChatMap& map) {
  std::map<std::pair<std::string, std::string>, int> out;
  for (const auto& [key, list] : map)
    for (const auto& r : list)
      if (r.status == 1) ++out[{r.time.str(), r.text}];
  return out;
}

// Rows that SQLite rewrote (they grew) leave stale copies in freeblocks, and pages freed
// when a run of rows went keep copies of rows moved to their neighbours: none of them is
// listed as deleted, and every deleted row is listed once.
TEST_F(PassTest, StaleCopiesOfLiveRowsAreNotListedAsDeleted) {
  const std::string path = dir.File("stale.sqlite");
  const std::string table = "Chat_" + Md5Hex("wxid_stale");
  std::map<int, std::string> texts;  // MesSvrID -> text
  {
    Db db(path, 1024);
    test::CreateFriendTable(db);
    test::AddFriend(db, "wxid_stale", "S", 3);
    test::CreateChatTable(db, table);
    std::mt19937 rng(3);
    db.Exec("BEGIN");
    for (int i = 0; i < 120; ++i) {
      texts[i] = "row " + std::to_string(i) + " " + test::RandomText(rng, 30 + rng() % 40);
      test::AddChat(db, table, i, 1500000000 + 60 * i, texts[i], i % 2);
    }
    db.Exec("COMMIT");
    // Delivered: the server id grows from one byte to eight, so each row is written anew.
    db.Exec("UPDATE " + table + " SET MesSvrID = MesSvrID + 4000000000000 WHERE MesSvrID % 3 = 0");
    db.Exec("DELETE FROM " + table + " WHERE MesSvrID BETWEEN 40 AND 90");
  }
  // The copies are there: some live text twice in the file, and on a freed page.
  const auto bytes = test::ReadAll(path);
  const std::string file(bytes.begin(), bytes.end());
  int twice = 0, goneInFile = 0;
  std::set<std::string> live;
  for (const auto& [id, text] : texts) {
    if (id >= 40 && id <= 90 && id % 3 != 0) {
      goneInFile += file.find(text) != std::string::npos;
      continue;
    }
    live.insert(text);
    const auto first = file.find(text);
    twice += first != std::string::npos && file.find(text, first + 1) != std::string::npos;
  }
  ASSERT_GT(twice, 10);
  RawDbFile reader;
  ASSERT_EQ(reader.open(path), 0);
  ASSERT_FALSE(reader.free_pages.empty());
  int onFreedPages = 0;
  for (std::int32_t index : reader.free_pages) {
    const std::string page = file.substr(static_cast<std::size_t>(index) * 1024, 1024);
    for (const std::string& text : live) onFreedPages += page.find(text) != std::string::npos;
  }
  ASSERT_GT(onFreedPages, 0);

  ChatMap map;
  ASSERT_EQ(WeChatPass(path, map), 0);
  EXPECT_EQ(Live(map["wxid_stale"]).size(), live.size());
  for (const auto& [key, count] : DeletedCounts(map)) {
    EXPECT_EQ(live.count(std::string(key.second)), 0u) << "a live row listed as deleted";
    EXPECT_EQ(count, 1) << std::string(key.second);
  }
  // The deleted rows themselves come back (those a page merge did not overwrite).
  ASSERT_GT(goneInFile, 5);
  EXPECT_GE(DeletedCounts(map).size(), static_cast<std::size_t>(goneInFile));
}

// A deleted cell that more than one strategy finds (a freeblock whose pointer entry is
// left behind beyond the cell count): several raw readings, one listed message.
TEST_F(PassTest, SameDeletedCellFoundByTwoStrategiesIsListedOnce) {
  const std::string path = dir.File("twice.sqlite");
  const std::string table = "Chat_" + Md5Hex("wxid_twice");
  {
    Db db(path, 4096);
    test::CreateFriendTable(db);
    test::AddFriend(db, "wxid_twice", "T", 3);
    test::CreateChatTable(db, table);
    db.Exec("BEGIN");
    // Row id 100 first: its cell lies at the end of the page and its pointer entry, the
    // highest row id's, comes last in the array.
    db.Exec("INSERT INTO " + table +
            " VALUES (1, 100, 9, 1500000009, 'message number 9', 2, 0, 1, 0)");
    for (int i = 0; i < 9; ++i)
      db.Exec("INSERT INTO " + table + " VALUES (1, " + std::to_string(i + 1) + ", " +
              std::to_string(i) + ", " + std::to_string(1500000000 + i) + ", 'message number " +
              std::to_string(i) + "', 2, 0, 1, 0)");
    db.Exec("COMMIT");
    db.Exec("DELETE FROM " + table + " WHERE MesSvrID = 9");
  }
  TablePass pass;
  ASSERT_EQ(pass.reader.open(path), 0);
  int readings = 0;
  ChatPassState state;
  std::list<ChatMessageRecord> raw;
  ASSERT_EQ(read_table(
                pass, table,
                [&](RawDbFile& r, const CellInput& c) {
                  return decode_chat_message(r, c, raw, ChatLayout::WeChat, state);
                },
                false),
            0);
  for (const auto& m : raw) readings += m.status == 1 && m.text == "message number 9";
  ASSERT_GE(readings, 2);

  ChatMap map;
  ASSERT_EQ(WeChatPass(path, map), 0);
  const auto counts = DeletedCounts(map);
  ASSERT_EQ(counts.size(), 1u);
  EXPECT_EQ(counts.begin()->second, 1);
  EXPECT_EQ(counts.begin()->first.second, "message number 9");
}

// A whole conversation deleted, row by row or with one statement, on every page size:
// every row comes back once, also when no chat of the store has a live row left.
TEST_F(PassTest, WholeConversationDeletedComesBackOnEveryPageSize) {
  for (int page : {512, 1024, 2048, 4096, 8192, 16384, 32768, 65536}) {
    for (bool others : {true, false}) {
      SCOPED_TRACE("page " + std::to_string(page) + (others ? " with" : " without") +
                   " live rows elsewhere");
      const std::string path =
          dir.File("whole" + std::to_string(page) + (others ? "o" : "n") + ".sqlite");
      const int rows = std::clamp(page / 150, 3, 400);  // one page of rows
      std::mt19937 rng(static_cast<unsigned>(page));
      std::map<std::string, std::set<std::string>> gone;  // user -> texts deleted
      {
        Db db(path, page);
        test::CreateFriendTable(db);
        for (const char* user : {"wxid_rows", "wxid_clear", "wxid_live"}) {
          test::AddFriend(db, user, user, 3);
          test::CreateChatTable(db, "Chat_" + Md5Hex(user));
        }
        db.Exec("BEGIN");
        int id = 0;
        for (const char* user : {"wxid_rows", "wxid_clear", "wxid_live"}) {
          for (int i = 0; i < rows; ++i) {
            const std::string text = std::string(user) + " " + std::to_string(i) + " " +
                                     test::RandomText(rng, 10 + rng() % 30);
            ++id;
            test::AddChat(db, "Chat_" + Md5Hex(user), id, 1500000000 + 60 * id, text, i % 2);
            if (std::string(user) != "wxid_live") gone[user].insert(std::string(text));
          }
        }
        db.Exec("COMMIT");
        std::vector<int> order(static_cast<std::size_t>(rows));
        for (int i = 0; i < rows; ++i) order[static_cast<std::size_t>(i)] = i + 1;
        std::shuffle(order.begin(), order.end(), rng);
        for (int i : order)
          db.Exec("DELETE FROM Chat_" + Md5Hex("wxid_rows") +
                  " WHERE MesSvrID = " + std::to_string(i));
        db.Exec("DELETE FROM Chat_" + Md5Hex("wxid_clear"));
        if (!others) db.Exec("DELETE FROM Chat_" + Md5Hex("wxid_live"));
      }
      ChatMap map;
      ASSERT_EQ(WeChatPass(path, map), 0);
      for (const char* user : {"wxid_rows", "wxid_clear"}) {
        std::multiset<std::string> listed;
        for (const auto& r : map[std::string(user)]) {
          EXPECT_EQ(r.status, 1);
          listed.insert(r.text);
        }
        EXPECT_EQ(listed, std::multiset<std::string>(gone[user].begin(), gone[user].end())) << user;
      }
    }
  }
}

// Truncated files, cyclic links and random damage: fewer records, never a crash or hang.
TEST_F(PassTest, DamagedStoresYieldFewerRecords) {
  const std::string path = dir.File("good.sqlite");
  const std::string user = "wxid_damage";
  const std::string table = "Chat_" + Md5Hex(user);
  {
    Db db(path, 1024);
    test::CreateFriendTable(db);
    test::AddFriend(db, user, "D", 3);
    test::CreateChatTable(db, table, true);
    std::mt19937 rng(9);
    db.Exec("BEGIN");
    for (int i = 0; i < 400; ++i)
      test::AddChat(db, table, i, 1500000000 + i,
                    test::RandomText(rng, rng() % 30 == 0 ? 3000 : 50), i % 2, true);
    db.Exec("COMMIT");
    db.Exec("DELETE FROM " + table + " WHERE MesSvrID % 4 = 0");
  }
  ChatMap good;
  ASSERT_EQ(WeChatPass(path, good), 0);
  const std::multiset<Msg> live = Live(good[ValidUtf8(user)]);
  ASSERT_EQ(live.size(), 300u);
  const auto bytes = test::ReadAll(path);
  // Every live row read from a damaged copy is one of the good file's live rows.
  auto subset = [&](const std::multiset<Msg>& part) {
    return std::includes(live.begin(), live.end(), part.begin(), part.end());
  };

  // Cut short anywhere: the live rows that remain are a subset; half the file still
  // holds some of them.
  for (std::size_t cut :
       {bytes.size() / 2, bytes.size() - 700, std::size_t{1500}, std::size_t{100}}) {
    const std::string p = dir.File("cut");
    test::WriteAll(p, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
    ChatMap m;
    WeChatPass(p, m);
    const auto part = Live(m[ValidUtf8(user)]);
    EXPECT_TRUE(subset(part)) << cut;
    if (cut == bytes.size() / 2) {
      EXPECT_GT(part.size(), 50u);
    }
  }

  // Every 4-byte link of every interior and overflow page turned into a self-reference.
  {
    auto damaged = bytes;
    const std::size_t page = 1024;
    for (std::size_t at = page; at + page <= damaged.size(); at += page) {
      const std::uint32_t self = static_cast<std::uint32_t>(at / page + 1);
      const std::uint8_t link[4] = {
          static_cast<std::uint8_t>(self >> 24), static_cast<std::uint8_t>(self >> 16),
          static_cast<std::uint8_t>(self >> 8), static_cast<std::uint8_t>(self)};
      if (damaged[at] == 0x05)
        std::copy(link, link + 4, damaged.begin() + static_cast<std::ptrdiff_t>(at + 8));
      else if (damaged[at] != 0x0D && damaged[at] != 0x02 && damaged[at] != 0x0A)
        std::copy(link, link + 4, damaged.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const std::string p = dir.File("cycles");
    test::WriteAll(p, damaged);
    ChatMap m;
    EXPECT_EQ(WeChatPass(p, m), 0);
    EXPECT_TRUE(subset(Live(m[ValidUtf8(user)])));
  }

  // Random bytes over the pages.
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    auto damaged = bytes;
    for (int i = 0; i < 60; ++i)
      damaged[100 + rng() % (damaged.size() - 100)] = static_cast<std::uint8_t>(rng());
    const std::string p = dir.File("random");
    test::WriteAll(p, damaged);
    ChatMap m;
    WeChatPass(p, m);
    QQPass(p, m);
  }
}

}  // namespace
}  // namespace bv
