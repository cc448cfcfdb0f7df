#include "export/html_export.h"

#include <gtest/gtest.h>

#include "export_fixture.h"

namespace bv {
namespace {

using test::CountOf;
using test::ReportLog;
using test::Slurp;
using test::TempDir;

MessageRecord Msg(int fromMe, int deleted, std::string text, std::string name = "",
                  std::string sender = "+15550001") {
  MessageRecord m;
  m.isFromMe = fromMe;
  m.deleted = deleted;
  m.text = std::move(text);
  m.name = std::move(name);
  m.sender = std::move(sender);
  m.date = "2021-03-04 05:06:07";
  return m;
}

TEST(HtmlEscapeTest, MarkupAndBreaksInRecordTexts) {
  EXPECT_EQ(HtmlEscape("<script>alert('x')</script> & \"q\""),
            "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;");
  EXPECT_EQ(HtmlEscape("a\nb"), "a\nb");
  EXPECT_EQ(HtmlEscapeMessage("a\r\nb\nc\rd"), "a<br>b<br>c<br>d");
  EXPECT_EQ(HtmlEscapeMessage("\u4f60\u597d \U0001F600"),
            "\xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80");
}

TEST(TemplateTest, SplitAtFirstContentAndTitleOnlyInHead) {
  TempDir dir;
  test::WriteFile(dir / "t.html",
                  "<title>{|title|}</title>{|title|}|{|content|}|{|title|}{|content|}end");
  TemplateParts p;
  ASSERT_EQ(LoadTemplate(p, dir / "t.html", "iPhone's Notes of <Bob & Co>"), 0);
  EXPECT_EQ(p.head,
            "<title>iPhone&#39;s Notes of &lt;Bob &amp; "
            "Co&gt;</title>iPhone&#39;s Notes of "
            "&lt;Bob &amp; Co&gt;|");
  // The second placeholder and the title after the content stay as they are.
  EXPECT_EQ(p.tail, "|{|title|}{|content|}end");
}

TEST(TemplateTest, MissingOrUnusableTemplatesAreRefused) {
  TempDir dir;
  TemplateParts p;
  EXPECT_EQ(LoadTemplate(p, dir / "absent.html", "x"), ENOENT);
  test::WriteFile(dir / "empty.html", "");
  EXPECT_EQ(LoadTemplate(p, dir / "empty.html", "x"), kInvalidParameter);
  TemplateParts q;
  test::WriteFile(dir / "nocontent.html", "<html>{|title|}</html>");
  EXPECT_EQ(LoadTemplate(q, dir / "nocontent.html", "x"), kInvalidParameter);
}

TEST(TemplateTest, ShippedTemplatesHaveTheirPlaceholdersInOrder) {
  for (TemplateKind k : {TemplateKind::CallHistory, TemplateKind::Notes, TemplateKind::Contacts,
                         TemplateKind::Messages, TemplateKind::WhatsApp}) {
    const std::string text = Slurp(test::SourceTemplates() / TemplateFileName(k));
    SCOPED_TRACE(TemplateFileName(k));
    ASSERT_EQ(CountOf(text, "{|content|}"), 1u);
    const std::size_t content = text.find("{|content|}");
    EXPECT_LT(text.find("{|title|}"), content);
    if (k == TemplateKind::Messages || k == TemplateKind::WhatsApp) {
      EXPECT_LT(text.find("{|person|}"), content);
      for (const char* cls : {".date", ".send_msg", ".recv_msg", ".del_send_msg", ".del_recv_msg"})
        EXPECT_NE(text.find(cls), std::string::npos) << cls;
    }
    // No external resources: nothing is fetched when the document is opened.
    EXPECT_EQ(text.find("http"), std::string::npos);
    EXPECT_NE(text.find("@media print"), std::string::npos);
    EXPECT_NE(text.find("charset=\"utf-8\""), std::string::npos);
  }
  const std::string print = Slurp(test::SourceTemplates() / "Print.html");
  EXPECT_EQ(CountOf(print, "{|content|}"), 1u);
  EXPECT_NE(print.find("function Init()"), std::string::npos);
  EXPECT_NE(print.find("window.print()"), std::string::npos);
}

TEST(FragmentTest, MessageBlocksByDirectionAndDeletion) {
  EXPECT_EQ(MessageBlock(Msg(1, 0, "hi")),
            "<div class=\"date\">Date: 2021-03-04 05:06:07 Me:</div>\r\n"
            "<div class=\"send_msg\">hi</div>\r\n");
  EXPECT_EQ(MessageBlock(Msg(1, 3, "hi")),
            "<div class=\"date\">Date: 2021-03-04 05:06:07 Me:</div>\r\n"
            "<div class=\"del_send_msg\">hi</div>\r\n");
  // A received message without an address-book name shows the number.
  EXPECT_EQ(MessageBlock(Msg(0, 0, "a<b\nc", "Unknown")),
            "<div class=\"date\">Date: 2021-03-04 05:06:07 +15550001:</div>\r\n"
            "<div class=\"recv_msg\">a&lt;b<br>c</div>\r\n");
  EXPECT_EQ(MessageBlock(Msg(0, 1, "x", "Ann")),
            "<div class=\"date\">Date: 2021-03-04 05:06:07 Ann:</div>\r\n"
            "<div class=\"del_recv_msg\">x</div>\r\n");

  WhatsAppMessageRecord w;
  w.date = "d";
  w.text = "t";
  w.pushName = "push";
  w.senderName = "";
  w.deleted = 1;
  EXPECT_EQ(WhatsAppBlock(w),
            "<div class=\"date\">Date: d push:</div>\r\n<div "
            "class=\"del_recv_msg\">t</div>\r\n");
  w.senderName = "Sam";
  w.deleted = 0;
  EXPECT_EQ(WhatsAppBlock(w),
            "<div class=\"date\">Date: d Sam:</div>\r\n<div "
            "class=\"recv_msg\">t</div>\r\n");
}

TEST(FragmentTest, TableRows) {
  ContactRecord c;
  c.name = "Ann <A>";
  c.phone = "+1 555\n+1 666";
  c.email = "a@x";
  c.address = "Street\n1";
  c.url = "u";
  c.extra = "s";
  c.organization = "O&O";
  EXPECT_EQ(ContactRow(c),
            "\t<tr><td>Ann &lt;A&gt;</td><td>+1 555<br />+1 "
            "666</td><td>a@x</td><td>Street\n1</td>"
            "<td>u</td><td>s</td><td>O&amp;O</td></tr>\r\n");

  CallRecord missed;
  missed.answered = 1;
  missed.duration = 0;
  missed.name = "N";
  missed.address = "A";
  missed.date = "D";
  EXPECT_EQ(CallRow(missed),
            "\t<tr><td>N</td><td>A</td><td>D</"
            "td><td>Incoming</td><td>Missed</td></tr>\r\n");
  CallRecord longCall = missed;
  longCall.answered = 0;
  longCall.duration = 3725;
  EXPECT_EQ(ValidUtf8(CallRow(longCall)).find("<td>Outgoing</td><td>1 Hour 2 Min</td>") !=
                std::string::npos,
            true);
  longCall.duration = 0;
  EXPECT_EQ(CallDurationText(longCall), "Canceled");

  NoteRecord n;
  n.title = "T";
  n.date = "D";
  n.body = "line1\nline2";
  EXPECT_EQ(NoteRow(n), "\t<tr><td>T</td><td>D</td><td>line1\nline2</td></tr>\r\n");
}

class ConversationDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir / "Sms.html", "<h1>{|title|}</h1><p>{|person|}</p>{|content|}<end>");
    ASSERT_EQ(LoadTemplate(parts, dir / "Sms.html", "iPhone's Messages of Phone"), 0);
    messages = {Msg(0, 0, "one"), Msg(1, 0, "two"), Msg(0, 1, "three")};
    MessageRecord conv = messages.back();
    conv.name = "Bob <b>";
    FillPerson(parts, MessagePersonLine(conv));
    ASSERT_EQ(OutputFolder::OpenRoot(dir / "out", folder), 0);
  }
  std::size_t FilesInFolder() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "out")) ++n;
    return n;
  }
  TempDir dir;
  TemplateParts parts;
  std::list<MessageRecord> messages;
  OutputFolder folder;
};

TEST_F(ConversationDocumentTest, ReportsEachMessageButTheLastAndWritesTheWholeDocument) {
  ReportLog log;
  PendingFile file;
  ASSERT_EQ(file.Create(folder, "Bob.html"), 0);
  ASSERT_EQ(WriteMessageDocument(parts, file, &messages, &ReportLog::Callback, &log), 0);
  // The outcome (100) is the caller's, once the file has its name.
  ASSERT_EQ(log.calls.size(), 2u);
  EXPECT_EQ(log.calls[0].percent, 33);
  EXPECT_EQ(log.calls[1].percent, 66);
  EXPECT_EQ(log.calls[1].path, platform::Utf8FromPath(dir / "out" / "Bob.html"));
  // Nothing under the final name before the commit.
  EXPECT_FALSE(fs::exists(dir / "out" / "Bob.html"));
  ASSERT_EQ(file.Commit(), 0);
  const std::string doc = Slurp(dir / "out" / "Bob.html");
  EXPECT_EQ(doc.rfind("<h1>iPhone&#39;s Messages of Phone</h1><p>Name: Bob "
                      "&lt;b&gt;, Phone: +15550001</p>",
                      0),
            0u);
  EXPECT_EQ(CountOf(doc, "<div class=\"date\">"), 3u);
  EXPECT_NE(doc.find("<div class=\"del_recv_msg\">three</div>\r\n<end>"), std::string::npos);
  EXPECT_EQ(FilesInFolder(), 1u);
}

TEST_F(ConversationDocumentTest, StopWritesNothingAndReturnsTheAnswer) {
  ReportLog log;
  log.stopAt = 1;
  {
    PendingFile file;
    ASSERT_EQ(file.Create(folder, "Bob.html"), 0);
    EXPECT_EQ(WriteMessageDocument(parts, file, &messages, &ReportLog::Callback, &log), 2);
    ASSERT_EQ(log.calls.size(), 1u);
  }
  // Dropped uncommitted: no document cut short, no temporary file left.
  EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(ConversationDocumentTest, EmptyConversationWritesDocumentWithoutReport) {
  ReportLog log;
  std::list<MessageRecord> none;
  PendingFile empty, absent;
  ASSERT_EQ(empty.Create(folder, "e.html"), 0);
  ASSERT_EQ(absent.Create(folder, "n.html"), 0);
  EXPECT_EQ(WriteMessageDocument(parts, empty, &none, &ReportLog::Callback, &log), 0);
  EXPECT_EQ(WriteMessageDocument(parts, absent, nullptr, &ReportLog::Callback, &log), 0);
  ASSERT_EQ(empty.Commit(), 0);
  ASSERT_EQ(absent.Commit(), 0);
  EXPECT_TRUE(log.calls.empty());
  EXPECT_EQ(Slurp(dir / "out" / "e.html").find("<div"), std::string::npos);
  EXPECT_EQ(Slurp(dir / "out" / "n.html"), Slurp(dir / "out" / "e.html"));
}

TEST(CollectedDocumentTest, HeadRowsTail) {
  TempDir dir;
  TemplateParts p;
  p.head = "H";
  p.rows = "R";
  p.tail = "T";
  OutputFolder folder;
  ASSERT_EQ(OutputFolder::OpenRoot(dir / "a" / "b", folder), 0);
  PendingFile file;
  ASSERT_EQ(file.Create(folder, "d.html"), 0);
  ASSERT_EQ(WriteCollectedDocument(p, file), 0);
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(Slurp(dir / "a" / "b" / "d.html"), "HRT");
}

}  // namespace
}  // namespace bv
