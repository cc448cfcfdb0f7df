// Deleted rows of the record databases: real databases of the iOS layouts, rows deleted
// with secure deletion off (as the phone does), read back by column name and turned
// into records after the live ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "records/deleted_rows.h"
#include "records/message_reader.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Q;
using test::Sql;
using test::TempFolder;

const char kIos6[] = "sms.db | iOS 6.1.6";
const char kIos12[] = "sms.db | iOS 12.4";

// Seconds since 2001 of day `day` of 2020 at noon, in the unit of the layout.
long long AppleDate(int day, bool nanoseconds) {
  const long long seconds = 599572800LL + day * 86400LL;  // 2020-01-01 12:00:00
  return nanoseconds ? seconds * 1000000000LL : seconds;
}

struct Sms {
  std::string path;
  std::vector<std::string> deletedTexts;  // the deleted rows' texts still in the file
};

bool FileHolds(const std::string& path, const std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return all.find(bytes) != std::string::npos;
}

// An sms.db of `section` with two handles, a chat each, `count` messages alternating
// between them (texts "message N ..."), and every fourth message deleted.
Sms MakeChurnedSms(const TempFolder& t, const char* section, int count, bool nanoseconds) {
  Sms sms;
  sms.path = MakeDb(t, "sms.db", section);
  std::string sql = "PRAGMA secure_delete=OFF; BEGIN;";
  sql += "INSERT INTO handle(ROWID,id,country,service) VALUES(1,'+15550001111','us','SMS');";
  sql += "INSERT INTO handle(ROWID,id,country,service) VALUES(2,'ann@example.com','us','SMS');";
  for (int c = 1; c <= 2; ++c) {
    sql += "INSERT INTO chat(ROWID,guid,style,state) VALUES(" + std::to_string(c) + ",'c" +
           std::to_string(c) + "',45,3);";
    sql += "INSERT INTO chat_handle_join(chat_id,handle_id) VALUES(" + std::to_string(c) + "," +
           std::to_string(c) + ");";
  }
  for (int i = 1; i <= count; ++i) {
    const int handle = 1 + i % 2;
    const std::string text = "message " + std::to_string(i) + " about the weekend plans";
    sql += "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me,service) VALUES(" +
           std::to_string(i) + ",'G" + std::to_string(i) + "'," + Q(text) + "," +
           std::to_string(handle) + "," + std::to_string(AppleDate(count - i, nanoseconds)) + "," +
           std::to_string(i % 3 == 0 ? 1 : 0) + ",'SMS');";
    sql += "INSERT INTO chat_message_join(chat_id,message_id) VALUES(" + std::to_string(handle) +
           "," + std::to_string(i) + ");";
    if (i % 4 == 0) sms.deletedTexts.push_back(text);
  }
  sql += "COMMIT;";
  Sql(sms.path, sql);
  Sql(sms.path,
      "PRAGMA secure_delete=OFF; BEGIN; DELETE FROM chat_message_join WHERE message_id % 4 = 0;"
      " DELETE FROM message WHERE ROWID % 4 = 0; COMMIT;");
  // Rebalancing after the deletions writes over some of the freed cells.
  std::erase_if(sms.deletedTexts,
                [&](const std::string& text) { return !FileHolds(sms.path, text); });
  EXPECT_GE(sms.deletedTexts.size(), static_cast<std::size_t>(count / 8));
  return sms;
}

std::vector<std::string> ColumnsOf(const std::string& path, const std::string& table) {
  ReadOnlyDatabase db;
  EXPECT_EQ(db.Open(path), 0);
  return DeclaredColumns(db, table);
}

TEST(DeletedRows, EveryDeletedRowOnceByColumnNameAndNoLiveOne) {
  for (const char* section : {kIos6, kIos12}) {
    TempFolder t;
    const Sms sms = MakeChurnedSms(t, section, 400, section == kIos12);
    DeletedRows rows;
    // The guid tells an old copy of a live row whose date bytes a later freeblock head
    // overwrote (iOS 12: one such copy of message 362).
    ASSERT_EQ(ReadDeletedRows(sms.path, "message", ColumnsOf(sms.path, "message"), rows, "guid"),
              0);
    const int text = rows.Column("TEXT");  // names compare as SQLite compares them
    ASSERT_GE(text, 0);
    EXPECT_EQ(rows.Column("no_such_column"), -1);
    std::multiset<std::string> found;
    for (const GenericRow& row : rows.rows) {
      EXPECT_NE(row.status, 0);
      found.insert(DeletedRows::Text(row, text));
    }
    const std::multiset<std::string> expected(sms.deletedTexts.begin(), sms.deletedTexts.end());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                        std::back_inserter(missing));
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(missing.empty()) << section << ": " << missing.size() << " missing, first "
                                 << (missing.empty() ? "" : missing.front());
    EXPECT_TRUE(extra.empty()) << section << ": " << extra.size() << " extra, first "
                               << (extra.empty() ? "" : extra.front());
  }
}

// A freed record whose bytes were partly written over by later data is no row: here a
// text column of one deleted message holds a control character where "SMS" stood, so
// its other values (dates, numbers) cannot be trusted either.
TEST(DeletedRows, ReadingsWrittenOverInPartAreNoRows) {
  TempFolder t;
  const Sms sms = MakeChurnedSms(t, kIos12, 400, true);
  ASSERT_FALSE(sms.deletedTexts.empty());
  const std::string victim = sms.deletedTexts.front();
  {
    std::fstream f(sms.path, std::ios::in | std::ios::out | std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Every copy of the record (a rebalance may have left an older one).
    int copies = 0;
    for (std::size_t at = all.find(victim); at != std::string::npos;
         at = all.find(victim, at + 1), ++copies) {
      const std::size_t service = all.find("SMS", at + victim.size());
      ASSERT_LT(service, at + victim.size() + 16);  // the same record's service column
      f.clear();
      f.seekp(static_cast<std::streamoff>(service + 1));
      f.put('\x13');
    }
    ASSERT_GE(copies, 1);
  }
  DeletedRows rows;
  ASSERT_EQ(ReadDeletedRows(sms.path, "message", ColumnsOf(sms.path, "message"), rows, "guid"), 0);
  std::set<std::string> found;
  for (const GenericRow& row : rows.rows) found.insert(DeletedRows::Text(row, rows.Column("text")));
  EXPECT_EQ(found.count(victim), 0u);
  for (std::size_t i = 1; i < sms.deletedTexts.size(); ++i)
    EXPECT_EQ(found.count(sms.deletedTexts[i]), 1u) << sms.deletedTexts[i];
}

TEST(DeletedMessages, OldVersionsOfRewrittenRowsAreNoDeletedMessages) {
  // A value that grows no longer fits its cell: SQLite writes the row anew and frees the
  // old cell, which still holds the old row. Its message (text, date, sender) is live.
  TempFolder t;
  const std::string path = MakeDb(t, "sms.db", kIos12);
  std::string sql = "PRAGMA secure_delete=OFF; BEGIN;";
  sql += "INSERT INTO handle(ROWID,id,country,service) VALUES(1,'+15550001111','us','SMS');";
  for (int i = 1; i <= 60; ++i)
    sql += "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me) VALUES(" +
           std::to_string(i) + ",'G" + std::to_string(i) + "','short " + std::to_string(i) +
           "',1," + std::to_string(AppleDate(i, true)) + ",0);";
  Sql(path, sql + "COMMIT;");
  Sql(path,
      "PRAGMA secure_delete=OFF; UPDATE message SET guid = guid || "
      "'-a-much-longer-identifier-than-before' WHERE ROWID % 5 = 0;");
  DeletedRows rows;
  ASSERT_EQ(ReadDeletedRows(path, "message", ColumnsOf(path, "message"), rows), 0);
  ASSERT_FALSE(rows.rows.empty()) << "the old cells should still be readable";
  ConversationMap map;
  MessageReader({}).Read(path, "", map);
  ASSERT_EQ(map[1].size(), 60u);
  for (const MessageRecord& m : map[1]) EXPECT_EQ(m.deleted, 0) << m.text << " " << m.date;
}

TEST(DeletedRows, BadFilesGiveAnErrorAndNoRows) {
  TempFolder t;
  {
    std::ofstream junk(t.File("junk.db"), std::ios::binary);
    junk << std::string(5000, 'x');
  }
  DeletedRows rows;
  EXPECT_NE(ReadDeletedRows(t.File("junk.db"), "message", {"ROWID", "text"}, rows), 0);
  EXPECT_TRUE(rows.rows.empty());
  EXPECT_NE(ReadDeletedRows(t.File("missing.db"), "message", {"ROWID", "text"}, rows), 0);
  EXPECT_NE(ReadDeletedRows(t.File("junk.db"), "message", {}, rows), 0);
}

TEST(DeletedRows, DatesOutsideThePhonesLifetimeAreNoDates) {
  EXPECT_EQ(PlausibleUtcDate(1600000000.5), "2020-09-13 12:26:40");
  EXPECT_EQ(PlausibleUtcDate(1167609600.0), "2007-01-01 00:00:00");
  // A time read from the wrong bytes: days after the reference date, or far ahead.
  EXPECT_EQ(PlausibleUtcDate(978307200.0 + 6 * 86400.0), "");
  EXPECT_EQ(PlausibleUtcDate(0), "");
  EXPECT_EQ(PlausibleUtcDate(4e9), "");
  EXPECT_EQ(PlausibleUtcDate(std::nan("")), "");
}

TEST(DeletedMessages, AfterTheLiveOnesOfTheirConversationInDateOrder) {
  for (const char* section : {kIos6, kIos12}) {
    TempFolder t;
    const Sms sms = MakeChurnedSms(t, section, 120, section == kIos12);
    ConversationMap map;
    MessageReader({}).Read(sms.path, t.File("none.sqlitedb"), map);
    ASSERT_EQ(map.size(), 2u) << section;
    std::multiset<std::string> deleted;
    for (const auto& [key, list] : map) {
      bool inDeleted = false;
      std::string lastDate;
      for (const MessageRecord& m : list) {
        if (m.deleted == 0) {
          EXPECT_FALSE(inDeleted) << "a live message after a deleted one";
          continue;
        }
        if (!inDeleted) lastDate.clear();
        inDeleted = true;
        deleted.insert(m.text.str());
        EXPECT_GE(m.date, lastDate);
        lastDate = m.date;
        EXPECT_EQ(m.handleId, key);
        EXPECT_EQ(m.sender, key == 1 ? "+15550001111" : "ann@example.com");
        // The chat of the conversation's live messages.
        ASSERT_NE(m.chat, nullptr);
        EXPECT_EQ(m.chat->chatId, key);
        EXPECT_EQ(m.date.view().substr(0, 4), "2020");
      }
    }
    EXPECT_EQ(deleted, std::multiset<std::string>(sms.deletedTexts.begin(), sms.deletedTexts.end()))
        << section;
  }
}

TEST(DeletedMessages, LiveMessagesStayAsTheyWereWithoutDeletions) {
  // The same messages, once with none deleted and once read again: nothing deleted.
  TempFolder t;
  const std::string path = MakeDb(t, "sms.db", kIos12);
  std::string sql =
      "BEGIN; INSERT INTO handle(ROWID,id,country,service) VALUES(1,'+15550001111','us','SMS');";
  for (int i = 1; i <= 200; ++i)
    sql += "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me) VALUES(" +
           std::to_string(i) + ",'G" + std::to_string(i) + "','text " + std::to_string(i) + "',1," +
           std::to_string(AppleDate(i, true)) + ",0);";
  Sql(path, sql + "COMMIT;");
  ConversationMap map;
  MessageReader({}).Read(path, "", map);
  ASSERT_EQ(map[1].size(), 200u);
  for (const MessageRecord& m : map[1]) EXPECT_EQ(m.deleted, 0);
}

}  // namespace
}  // namespace bv

namespace bv {
namespace {

// Live rows are compared with deleted readings by hashes read straight from their
// records; those must be the hashes of the rows as DecodeGenericRow decodes them, and
// rows that differ in one value of any kind must hash apart.
TEST(LiveRowHashes, EqualToTheDecodedRowsAndApartWhereAnyValueDiffers) {
  TempFolder t;
  const std::string path = t.File("kinds.db");
  const std::string long1(9000, 'a');
  std::string long2 = long1;
  long2[8990] = 'b';  // on the third overflow page of 1024-byte pages
  std::string sql =
      "PRAGMA page_size=1024; CREATE TABLE t(id INTEGER PRIMARY KEY, k, a, b);"
      "CREATE TABLE u(x);"
      "INSERT INTO t(id,k,a,b) VALUES"
      "(1,'k1',1,NULL),(2,'k2',1.0,NULL),"      // integer and real of one value
      "(3,'k3','x',NULL),(4,'k4',x'78',NULL),"  // text and blob of one byte
      "(5,'k5',NULL,NULL),(6,'k6',0,NULL),(7,'k7','',NULL),"
      "(8,'k8','abcdefghi',NULL),(9,'k9','abcdefghj',NULL),"  // past the first 8 bytes
      "(10,'k10','" +
      long1 + "',NULL),(11,'k11','" + long2 +
      "',NULL),"
      "(12,NULL,'same',2),(13,NULL,'same',2),(14,NULL,'same',2.5),(15,1.5,'same',2);";
  Sql(path, sql);
  TablePass pass;
  ASSERT_EQ(pass.reader.open(path), 0);
  std::map<std::int64_t, GenericRowHash> hashes;
  GenericRow row;
  std::vector<std::uint8_t> scratch;
  const int key = 1;
  const RowDecoder decoder = [&](RawDbFile& reader, const CellInput& cell) -> std::int32_t {
    const std::int32_t decoded = DecodeGenericRow(reader, cell, row);
    GenericRowHash fromCell;
    EXPECT_EQ(HashLiveCell(reader, cell, key, fromCell, scratch), decoded);
    if (decoded != 0) return decoded;
    const GenericRowHash fromRow = HashGenericRow(row, key);
    EXPECT_EQ(fromCell.values, fromRow.values) << "row " << row.row_id;
    EXPECT_EQ(fromCell.hasKey, fromRow.hasKey) << "row " << row.row_id;
    EXPECT_EQ(fromCell.key, fromRow.key) << "row " << row.row_id;
    if (cell.status == 0) hashes[row.row_id] = fromCell;
    return 0;
  };
  EXPECT_EQ(read_table(pass, "t", decoder, false), 0);
  ASSERT_EQ(hashes.size(), 15u);
  // Every pair of rows 1..11 differs in column `a`, and in the key.
  for (std::int64_t i = 1; i <= 11; ++i) {
    EXPECT_TRUE(hashes[i].hasKey) << i;
    for (std::int64_t j = i + 1; j <= 11; ++j) {
      EXPECT_NE(hashes[i].values, hashes[j].values) << i << " " << j;
      EXPECT_NE(hashes[i].key, hashes[j].key) << i << " " << j;
    }
  }
  // Equal values from column 1 on: equal hashes, whatever the row id.
  EXPECT_EQ(hashes[12].values, hashes[13].values);
  EXPECT_FALSE(hashes[12].hasKey);  // NULL is no key
  EXPECT_NE(hashes[12].values, hashes[14].values);
  EXPECT_NE(hashes[12].values, hashes[15].values);
  EXPECT_TRUE(hashes[15].hasKey);
}

}  // namespace
}  // namespace bv
