// Deleted rows whose payload spilled into overflow pages: real sms.db files of the iOS
// layouts on 1024-byte pages, long messages deleted with secure deletion off, read back
// over their freed chains; a chain whose pages a later row took never lends its bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "records/deleted_rows.h"
#include "records/readonly_db.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Q;
using test::Sql;
using test::TempFolder;

const char* const kLayouts[] = {"sms.db | iOS 6.1.6", "sms.db | iOS 12.4"};

// Sentences of about `bytes` bytes, each with `tag`, a few of them not ASCII.
std::string LongText(const std::string& tag, std::size_t bytes) {
  std::string text = tag;
  for (int i = 0; text.size() < bytes; ++i)
    text +=
        " " + tag + " " + std::to_string(i) + (i % 7 == 3 ? " über café 見て." : " of the day.");
  return text;
}

std::string InsertMessage(int rowid, const std::string& text, long long date) {
  return "INSERT INTO message(ROWID,guid,text,handle_id,date,is_from_me,service) VALUES(" +
         std::to_string(rowid) + ",'G" + std::to_string(rowid) + "'," + Q(text) + ",1," +
         std::to_string(date) + ",0,'SMS');";
}

// An sms.db on 1024-byte pages with 40 short messages (rows 1-40) and the long ones
// given (rows 101 on); with `freelist`, the page of a dropped table is already free, so the
// chains freed later become leaves of the freelist rather than its first trunk.
std::string MakeSms(const TempFolder& t, const char* layout, const std::vector<std::string>& longs,
                    bool freelist) {
  const std::string path = MakeDb(t, "sms.db", layout);
  Sql(path, "PRAGMA page_size=1024; VACUUM;");
  std::string sql = "PRAGMA secure_delete=OFF; BEGIN;";
  sql += "INSERT INTO handle(ROWID,id,country,service) VALUES(1,'+15550001111','us','SMS');";
  for (int i = 1; i <= 40; ++i)
    sql += InsertMessage(i, "short message " + std::to_string(i), 600000000 + i * 60);
  for (std::size_t i = 0; i < longs.size(); ++i)
    sql +=
        InsertMessage(101 + static_cast<int>(i), longs[i], 610000000 + static_cast<long long>(i));
  if (freelist) sql += "CREATE TABLE scratch(x); INSERT INTO scratch VALUES(1);";
  sql += "COMMIT;";
  Sql(path, sql);
  if (freelist) Sql(path, "PRAGMA secure_delete=OFF; DROP TABLE scratch;");
  return path;
}

std::vector<std::string> Columns(const std::string& path) {
  ReadOnlyDatabase db;
  EXPECT_EQ(db.Open(path), 0);
  return DeclaredColumns(db, "message");
}

// The deleted messages' texts, each with its date.
std::multiset<std::pair<std::string, std::int64_t>> DeletedTexts(const std::string& path) {
  DeletedRows rows;
  EXPECT_EQ(ReadDeletedRows(path, "message", Columns(path), rows, "guid", true), 0);
  const int text = rows.Column("text"), date = rows.Column("date");
  std::multiset<std::pair<std::string, std::int64_t>> found;
  for (const GenericRow& row : rows.rows) {
    std::int64_t when = 0;
    DeletedRows::Integer(row, date, when);
    found.insert({DeletedRows::Text(row, text), when});
  }
  return found;
}

TEST(DeletedSpilledRows, LongMessagesComeBackWholeWithTheColumnsBehindTheirText) {
  for (const char* layout : kLayouts) {
    for (const bool freelist : {true, false}) {
      SCOPED_TRACE(std::string(layout) + (freelist ? ", freelist" : ", empty freelist"));
      TempFolder t;
      // One to five overflow pages each.
      const std::vector<std::string> longs = {LongText("first", 1500), LongText("second", 2900),
                                              LongText("third", 4200), LongText("fourth", 5100)};
      const std::string path = MakeSms(t, layout, longs, freelist);
      Sql(path,
          "PRAGMA secure_delete=OFF; BEGIN; DELETE FROM message WHERE ROWID > 100 OR ROWID = 7;"
          " COMMIT;");
      const auto found = DeletedTexts(path);
      std::set<std::string> texts;
      for (const auto& [text, date] : found) texts.insert(text);
      int whole = 0;
      for (std::size_t i = 0; i < longs.size(); ++i) {
        // The date lies behind the text, on the chain's last page.
        if (found.count({longs[i], 610000000 + static_cast<std::int64_t>(i)}) == 1) ++whole;
      }
      // With an empty freelist the first freed overflow page becomes its trunk, and the
      // row it belonged to lost bytes: it may be missing, never mixed up.
      if (freelist) {
        EXPECT_EQ(whole, 4);
      }
      EXPECT_GE(whole, 3);
      EXPECT_EQ(found.count({"short message 7", 600000000 + 7 * 60}), 1u);
      for (const std::string& text : texts) {
        if (text.empty() || text == "short message 7") continue;
        EXPECT_TRUE(std::find(longs.begin(), longs.end(), text) != longs.end())
            << "a text no deleted row held: " << text.substr(0, 40);
      }
    }
  }
}

TEST(DeletedSpilledRows, PagesTakenByALaterRowLendNoBytes) {
  for (const char* layout : kLayouts) {
    SCOPED_TRACE(layout);
    TempFolder t;
    const std::string early = LongText("early", 4000);
    const std::string path = MakeSms(t, layout, {early}, false);
    // Rows behind it, so that the later message below lands on another leaf, and one
    // free page, so that the early message's chain becomes leaves of the freelist.
    std::string more = "PRAGMA secure_delete=OFF; BEGIN;";
    for (int i = 110; i < 170; ++i)
      more += InsertMessage(i, "short message " + std::to_string(i), 600000000 + i * 60);
    Sql(path, more + "CREATE TABLE scratch(x); INSERT INTO scratch VALUES(1); COMMIT;");
    Sql(path, "PRAGMA secure_delete=OFF; DROP TABLE scratch;");
    Sql(path, "PRAGMA secure_delete=OFF; DELETE FROM message WHERE ROWID = 101;");
    // A row of another table takes freed pages for its chain: the early message's chain
    // now holds its text, in use.
    const std::string other = LongText("other", 4000);
    EXPECT_EQ(DeletedTexts(path).count({early, 610000000}), 1u);
    Sql(path, "PRAGMA secure_delete=OFF; CREATE TABLE other(t); INSERT INTO other VALUES(" +
                  Q(other) + ");");
    for (const auto& [text, date] : DeletedTexts(path)) {
      EXPECT_TRUE(text.empty() || text == early) << text.substr(0, 40);
      EXPECT_EQ(text.find("other"), std::string::npos);
    }
    Sql(path, "PRAGMA secure_delete=OFF; DROP TABLE other;");
    // A later message of the same table takes them, and is deleted too: its chain is free
    // again, and neither message may show the other's bytes.
    const std::string later = LongText("later", 4000);
    Sql(path, "PRAGMA secure_delete=OFF; " + InsertMessage(300, later, 620000000));
    Sql(path, "PRAGMA secure_delete=OFF; DELETE FROM message WHERE ROWID = 300;");
    for (const auto& [text, date] : DeletedTexts(path)) {
      if (text.empty() || text.rfind("short", 0) == 0) continue;
      EXPECT_TRUE(text == early || text == later) << text.substr(0, 40);
      EXPECT_EQ(date, text == early ? 610000000 : 620000000);
    }
  }
}

std::uint32_t Be32At(const std::string& b, std::size_t at) {
  return (std::uint32_t{static_cast<std::uint8_t>(b[at])} << 24) |
         (std::uint32_t{static_cast<std::uint8_t>(b[at + 1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(b[at + 2])} << 8) |
         static_cast<std::uint8_t>(b[at + 3]);
}

void PutBe32(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// A freed chain is read only over pages that are still freelist leaves and whose links
// agree with the row's length; either damage leaves the row out rather than filling it
// up with the bytes of a page that says something else.
TEST(DeletedSpilledRows, ChainsAreReadOverFreeLeavesWhoseLinksAgree) {
  TempFolder t;
  const std::string early = LongText("early", 4000);
  const std::string path = MakeSms(t, kLayouts[1], {early}, true);
  Sql(path, "PRAGMA secure_delete=OFF; DELETE FROM message WHERE ROWID = 101;");
  ASSERT_EQ(DeletedTexts(path).count({early, 610000000}), 1u);
  const std::string sound = test::ReadFile(path);
  // The freelist: one trunk (the dropped table's page) whose leaves are the chain's pages.
  const std::size_t trunk = (Be32At(sound, 32) - 1) * 1024;
  const std::uint32_t leaves = Be32At(sound, trunk + 4);
  ASSERT_GE(leaves, 4u);  // over 4,000 bytes less the local part, on pages of 1,020
  std::set<std::uint32_t> linked, pages;
  std::uint32_t last = 0;
  for (std::uint32_t i = 0; i < leaves; ++i) {
    const std::uint32_t page = Be32At(sound, trunk + 8 + 4 * i);
    pages.insert(page);
    const std::uint32_t link = Be32At(sound, (page - 1) * 1024);
    if (link == 0) last = page;
    linked.insert(link);
  }
  ASSERT_NE(last, 0u);
  std::uint32_t second = 0;  // a page in the middle of the chain
  for (std::uint32_t page : pages)
    if (linked.count(page) != 0 && page != last) second = page;
  ASSERT_NE(second, 0u);

  auto rewritten = [&](const std::function<void(std::string&)>& change) {
    std::string bytes = sound;
    change(bytes);
    const std::string damaged = (t.path() / "damaged.db").string();
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
    return DeletedTexts(damaged);
  };
  // The middle page taken off the freelist (as an allocation would): it is in use.
  const auto taken = rewritten([&](std::string& b) {
    for (std::uint32_t i = 0; i < leaves; ++i)
      if (Be32At(b, trunk + 8 + 4 * i) == second)
        PutBe32(b, trunk + 8 + 4 * i, Be32At(b, trunk + 8 + 4 * (leaves - 1)));
    PutBe32(b, trunk + 4, leaves - 1);
    PutBe32(b, 36, Be32At(b, 36) - 1);
  });
  // The last page links on, as a page of a longer chain would.
  const auto relinked =
      rewritten([&](std::string& b) { PutBe32(b, (last - 1) * 1024, *pages.begin()); });
  for (const auto* found : {&taken, &relinked}) {
    EXPECT_EQ(found->count({early, 610000000}), 0u);
    for (const auto& [text, date] : *found)
      EXPECT_TRUE(text.empty() || text.rfind("short", 0) == 0) << text.substr(0, 40);
  }
}

}  // namespace
}  // namespace bv
