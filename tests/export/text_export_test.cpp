#include "export/text_export.h"

#include <gtest/gtest.h>

#include "export_fixture.h"

namespace bv {
namespace {

using test::Slurp;
using test::TempDir;

ContactRecord Contact(std::string phone, std::string email = "") {
  ContactRecord c;
  c.name = "Ann";
  c.phone = std::move(phone);
  c.email = std::move(email);
  c.address = "Addr";
  c.url = "U";
  c.extra = "X";
  c.organization = "Org";
  return c;
}

std::string LineOf(const ContactRecord& c) {
  std::string csv;
  AppendContactCsvLine(csv, c);
  return csv;
}

// Splits one CSV line (with quoting) into its columns.
std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> cols(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cols.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cols.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cols.emplace_back();
    } else if (c != '\n') {
      cols.back() += c;
    }
  }
  return cols;
}

TEST(TextFileTest, ByteOrderMarkAndCrLfEverywhere) {
  EXPECT_EQ(TextFileBytes(""), "\xEF\xBB\xBF");
  EXPECT_EQ(TextFileBytes("a\nb\n"),
            "\xEF\xBB\xBF"
            "a\r\nb\r\n");
  TempDir dir;
  OutputFolder folder;
  ASSERT_EQ(OutputFolder::OpenRoot(dir / "sub", folder), 0);
  PendingFile file;
  ASSERT_EQ(file.Create(folder, "x.txt"), 0);
  ASSERT_EQ(WriteTextFile(file, "\u00e9\n"), 0);
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(Slurp(dir / "sub" / "x.txt"), "\xEF\xBB\xBF\xC3\xA9\r\n");
}

TEST(TextFileTest, MessageLinesAreRightAlignedLabels) {
  MessageRecord in;
  in.name = "Ann";
  in.sender = "+1555";
  in.date = "2021-01-02 03:04:05";
  in.text = "hello\nthere";
  MessageRecord out = in;
  out.isFromMe = 1;
  MessageRecord unknown = in;
  unknown.name = "Unknown";
  std::list<MessageRecord> list{in, out, unknown};
  EXPECT_EQ(MessageText(&list),
            "      From: Ann(+1555)\n      Data: 2021-01-02 03:04:05\n   "
            "Content: hello\nthere\n\n"
            "        To: Ann(+1555)\n      Data: 2021-01-02 03:04:05\n   "
            "Content: hello\nthere\n\n"
            "      From: +1555\n      Data: 2021-01-02 03:04:05\n   Content: "
            "hello\nthere\n\n");
  TempDir dir;
  OutputFolder folder;
  ASSERT_EQ(OutputFolder::OpenRoot(dir.path(), folder), 0);
  std::list<MessageRecord> none;
  PendingFile file;
  ASSERT_EQ(file.Create(folder, "e.txt"), 0);
  ASSERT_EQ(WriteMessageTextFile(file, &none), 0);
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(Slurp(dir / "e.txt"), "\xEF\xBB\xBF");
}

TEST(CsvTest, ValuesAreQuotedOnlyWhenNeeded) {
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
  EXPECT_EQ(CsvField(""), "");
}

TEST(CsvTest, WhatsAppCsvKeepsFiveColumns) {
  WhatsAppMessageRecord m;
  m.senderName = "Sam";
  m.pushName = "+44 7700";
  m.date = "2020-01-01 00:00:00";
  m.text = "hi, there \"you\"";
  WhatsAppMessageRecord me = m;
  me.isFromMe = 1;
  me.text = "ok";
  std::list<WhatsAppMessageRecord> list{m, me};
  EXPECT_EQ(WhatsAppCsv(&list),
            "Chats,Name/Phone,Date,Type,Content\n"
            "Sam,+44 7700,2020-01-01 00:00:00,Received,\"hi, there \"\"you\"\"\"\n"
            "Sam,+44 7700,2020-01-01 00:00:00,Send,ok\n");
  EXPECT_EQ(WhatsAppText(&list).substr(0, 29), "      From: Sam(+44 7700)\n   ");
}

TEST(ContactCsvTest, HeaderHasSeventeenColumns) {
  std::string header = kContactsCsvHeader;
  EXPECT_EQ(Columns(header).size(),
            18u);  // 17 names, then the empty piece after the last comma
  EXPECT_EQ(header.back(), '\n');
}

TEST(ContactCsvTest, PhoneAndEmailColumnsFillFourEach) {
  // One number, no e-mail: three empty phone columns and four empty e-mail
  // columns.
  auto cols = Columns(LineOf(Contact("+1 555")));
  ASSERT_EQ(cols.size(), 18u);
  EXPECT_EQ(cols[0], "Ann");
  EXPECT_EQ(cols[1], "+1 555");
  for (int i = 2; i <= 8; ++i) EXPECT_EQ(cols[i], "") << i;
  EXPECT_EQ(cols[9], "Addr");
  EXPECT_EQ(cols[12], "Org");
  EXPECT_EQ(cols[13], " ");
  EXPECT_EQ(LineOf(Contact("+1 555")), "Ann,+1 555,,,,,,,,Addr,U,X,Org, ,,,,\n");

  // Two numbers separated by a newline.
  cols = Columns(LineOf(Contact("1\n2", "a@x")));
  ASSERT_EQ(cols.size(), 18u);
  EXPECT_EQ(cols[1], "1");
  EXPECT_EQ(cols[2], "2");
  EXPECT_EQ(cols[3], "");
  EXPECT_EQ(cols[5], "a@x");
  EXPECT_EQ(cols[9], "Addr");

  // No phone at all.
  EXPECT_EQ(LineOf(Contact("")), "Ann,,,,,,,,,Addr,U,X,Org, ,,,,\n");
}

TEST(ContactCsvTest, FiveNumbersAddAColumn) {
  auto cols = Columns(LineOf(Contact("1\n2\n3\n4\n5", "e")));
  ASSERT_EQ(cols.size(), 19u);
  EXPECT_EQ(cols[5], "5");
  EXPECT_EQ(cols[6], "e");  // e-mail columns start one later
}

TEST(ContactCsvTest, CommasAndQuotesInValuesNoLongerShiftColumns) {
  ContactRecord c = Contact("+1 555, ext 2\n+1 666");
  c.name = "Doe, \"JD\" John";
  c.address = "1 Main St\nSpringfield, IL";
  auto cols = Columns(LineOf(c));
  ASSERT_EQ(cols.size(), 18u);
  EXPECT_EQ(cols[0], "Doe, \"JD\" John");
  EXPECT_EQ(cols[1], "+1 555, ext 2");
  EXPECT_EQ(cols[2], "+1 666");
  EXPECT_EQ(cols[9], "1 Main St\nSpringfield, IL");
  EXPECT_EQ(cols[12], "Org");
}

}  // namespace
}  // namespace bv
