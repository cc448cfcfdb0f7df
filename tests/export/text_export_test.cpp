#include "export/text_export.h"

#include <gtest/gtest.h>

#include "export_fixture.h"

namespace bv {
namespace {

using test::Slurp;
using test::TempDir;

ContactRecord Contact(std::wstring phone, std::wstring email = L"") {
  ContactRecord c;
  c.name = L"Ann";
  c.phone = std::move(phone);
  c.email = std::move(email);
  c.address = L"Addr";
  c.url = L"U";
  c.extra = L"X";
  c.organization = L"Org";
  return c;
}

std::wstring LineOf(const ContactRecord& c) {
  std::wstring csv;
  AppendContactCsvLine(csv, c);
  return csv;
}

// Splits one CSV line (with quoting) into its columns.
std::vector<std::wstring> Columns(const std::wstring& line) {
  std::vector<std::wstring> cols(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    wchar_t c = line[i];
    if (quoted) {
      if (c == L'"' && i + 1 < line.size() && line[i + 1] == L'"') {
        cols.back() += L'"';
        ++i;
      } else if (c == L'"') {
        quoted = false;
      } else {
        cols.back() += c;
      }
    } else if (c == L'"') {
      quoted = true;
    } else if (c == L',') {
      cols.emplace_back();
    } else if (c != L'\n') {
      cols.back() += c;
    }
  }
  return cols;
}

TEST(TextFileTest, ByteOrderMarkAndCrLfEverywhere) {
  EXPECT_EQ(TextFileBytes(L""), "\xEF\xBB\xBF");
  EXPECT_EQ(TextFileBytes(L"a\nb\n"),
            "\xEF\xBB\xBF"
            "a\r\nb\r\n");
  TempDir dir;
  OutputFolder folder;
  ASSERT_EQ(OutputFolder::OpenRoot(dir / "sub", folder), 0);
  PendingFile file;
  ASSERT_EQ(file.Create(folder, "x.txt"), 0);
  ASSERT_EQ(WriteTextFile(file, L"\u00e9\n"), 0);
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(Slurp(dir / "sub" / "x.txt"), "\xEF\xBB\xBF\xC3\xA9\r\n");
}

TEST(TextFileTest, MessageLinesAreRightAlignedLabels) {
  MessageRecord in;
  in.name = L"Ann";
  in.sender = L"+1555";
  in.date = L"2021-01-02 03:04:05";
  in.text = L"hello\nthere";
  MessageRecord out = in;
  out.isFromMe = 1;
  MessageRecord unknown = in;
  unknown.name = L"Unknown";
  std::list<MessageRecord> list{in, out, unknown};
  EXPECT_EQ(MessageText(&list),
            L"      From: Ann(+1555)\n      Data: 2021-01-02 03:04:05\n   "
            L"Content: hello\nthere\n\n"
            L"        To: Ann(+1555)\n      Data: 2021-01-02 03:04:05\n   "
            L"Content: hello\nthere\n\n"
            L"      From: +1555\n      Data: 2021-01-02 03:04:05\n   Content: "
            L"hello\nthere\n\n");
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
  EXPECT_EQ(CsvField(L"plain"), L"plain");
  EXPECT_EQ(CsvField(L"a,b"), L"\"a,b\"");
  EXPECT_EQ(CsvField(L"say \"hi\""), L"\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField(L"two\nlines"), L"\"two\nlines\"");
  EXPECT_EQ(CsvField(L""), L"");
}

TEST(CsvTest, WhatsAppCsvKeepsFiveColumns) {
  WhatsAppMessageRecord m;
  m.senderName = L"Sam";
  m.pushName = L"+44 7700";
  m.date = L"2020-01-01 00:00:00";
  m.text = L"hi, there \"you\"";
  WhatsAppMessageRecord me = m;
  me.isFromMe = 1;
  me.text = L"ok";
  std::list<WhatsAppMessageRecord> list{m, me};
  EXPECT_EQ(WhatsAppCsv(&list),
            L"Chats,Name/Phone,Date,Type,Content\n"
            L"Sam,+44 7700,2020-01-01 00:00:00,Received,\"hi, there \"\"you\"\"\"\n"
            L"Sam,+44 7700,2020-01-01 00:00:00,Send,ok\n");
  EXPECT_EQ(WhatsAppText(&list).substr(0, 29), L"      From: Sam(+44 7700)\n   ");
}

TEST(ContactCsvTest, HeaderHasSeventeenColumns) {
  std::wstring header = kContactsCsvHeader;
  EXPECT_EQ(Columns(header).size(),
            18u);  // 17 names, then the empty piece after the last comma
  EXPECT_EQ(header.back(), L'\n');
}

TEST(ContactCsvTest, PhoneAndEmailColumnsFillFourEach) {
  // One number, no e-mail: three empty phone columns and four empty e-mail
  // columns.
  auto cols = Columns(LineOf(Contact(L"+1 555")));
  ASSERT_EQ(cols.size(), 18u);
  EXPECT_EQ(cols[0], L"Ann");
  EXPECT_EQ(cols[1], L"+1 555");
  for (int i = 2; i <= 8; ++i) EXPECT_EQ(cols[i], L"") << i;
  EXPECT_EQ(cols[9], L"Addr");
  EXPECT_EQ(cols[12], L"Org");
  EXPECT_EQ(cols[13], L" ");
  EXPECT_EQ(LineOf(Contact(L"+1 555")), L"Ann,+1 555,,,,,,,,Addr,U,X,Org, ,,,,\n");

  // Two numbers separated by a newline.
  cols = Columns(LineOf(Contact(L"1\n2", L"a@x")));
  ASSERT_EQ(cols.size(), 18u);
  EXPECT_EQ(cols[1], L"1");
  EXPECT_EQ(cols[2], L"2");
  EXPECT_EQ(cols[3], L"");
  EXPECT_EQ(cols[5], L"a@x");
  EXPECT_EQ(cols[9], L"Addr");

  // No phone at all.
  EXPECT_EQ(LineOf(Contact(L"")), L"Ann,,,,,,,,,Addr,U,X,Org, ,,,,\n");
}

TEST(ContactCsvTest, FiveNumbersAddAColumn) {
  auto cols = Columns(LineOf(Contact(L"1\n2\n3\n4\n5", L"e")));
  ASSERT_EQ(cols.size(), 19u);
  EXPECT_EQ(cols[5], L"5");
  EXPECT_EQ(cols[6], L"e");  // e-mail columns start one later
}

TEST(ContactCsvTest, CommasAndQuotesInValuesNoLongerShiftColumns) {
  ContactRecord c = Contact(L"+1 555, ext 2\n+1 666");
  c.name = L"Doe, \"JD\" John";
  c.address = L"1 Main St\nSpringfield, IL";
  auto cols = Columns(LineOf(c));
  ASSERT_EQ(cols.size(), 18u);
  EXPECT_EQ(cols[0], L"Doe, \"JD\" John");
  EXPECT_EQ(cols[1], L"+1 555, ext 2");
  EXPECT_EQ(cols[2], L"+1 666");
  EXPECT_EQ(cols[9], L"1 Main St\nSpringfield, IL");
  EXPECT_EQ(cols[12], L"Org");
}

}  // namespace
}  // namespace bv
