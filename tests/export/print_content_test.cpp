#include "export/print_content.h"

#include <gtest/gtest.h>

#include "export_fixture.h"

namespace bv {
namespace {

using test::CountOf;
using test::TempDir;

class PrintContentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CallRecord live;
    live.name = "Live";
    live.answered = 1;
    live.duration = 3725;
    CallRecord gone = live;
    gone.name = "Gone <b>";
    gone.deleted = 1;
    gone.duration = 0;
    gone.answered = 0;
    stores.calls = {live, gone};
    stats.AddCalls(stores.calls);

    MessageRecord m;
    m.handleId = 4;
    m.name = "Unknown";
    m.sender = "+1555";
    m.text = "<img src=x onerror=alert(1)>\nsecond";
    m.date = "2021-01-01 00:00:00";
    stores.conversations[4] = {m};
    stores.conversationList = BuildConversationList(stores.conversations);
    stats.AddConversations(stores.conversationList);

    WhatsAppMessageRecord w;
    w.sessionId = 3;
    w.chat = std::make_shared<const WhatsAppChatInfo>(WhatsAppChatInfo{"", "", "Family"});
    w.senderName = "Ann";
    w.pushName = "ann";
    w.text = "hi & bye";
    w.date = "d";
    WhatsAppMessageRecord me = w;
    me.isFromMe = 1;
    me.text = "ok";
    stores.chats[3] = {w, me};
    stores.chatList = BuildChatList(stores.chats);
    stats.AddChats(stores.chatList);

    stores.cameraRoll = {MediaItem{}};
    stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  }
  std::string Build(Category c, bool deletedOnly, const std::atomic<bool>* cancel = nullptr) {
    std::string content;
    last = BuildPrintContent(stores, stats, c, deletedOnly, cancel, content);
    return content;
  }
  ScanStores stores;
  CStatisticsObj stats;
  Result last = 0;
};

TEST_F(PrintContentTest, CallsTickedAndDeletedOnly) {
  const std::string all = Build(Category::CallHistory, false);
  EXPECT_EQ(CountOf(all, "<div>\r\n"), 2u);
  EXPECT_NE(all.find("<p><span>Duration:</span>1 Hour 2 Min</p>\r\n"), std::string::npos);
  EXPECT_NE(all.find("<p><span>Name:</span>Gone &lt;b&gt;</p>\r\n"), std::string::npos);
  EXPECT_NE(all.find("<p><span>Type:</span>Outgoing</p>\r\n<p><span>Duration:</"
                     "span>Canceled</p>"),
            std::string::npos);

  const std::string deleted = Build(Category::CallHistory, true);
  EXPECT_EQ(CountOf(deleted, "<div>\r\n"), 1u);
  EXPECT_EQ(deleted.find("Live"), std::string::npos);

  // Unticking the deleted call leaves nothing to print with the filter on.
  stats.SetTicked(stats.FindEntry(&stores.calls.back()), false);
  EXPECT_EQ(Build(Category::CallHistory, true), "");
  EXPECT_EQ(CountOf(Build(Category::CallHistory, false), "<div>"), 1u);
}

TEST_F(PrintContentTest, MessagesAreEscapedAndUnknownNamesShowTheNumber) {
  const std::string content = Build(Category::Messages, false);
  EXPECT_EQ(content,
            "<div>\r\n<p><span>From:</span>+1555</"
            "p>\r\n<p><span>Date:</span>2021-01-01 00:00:00</p>\r\n"
            "<p><span>Content:</span>&lt;img src=x "
            "onerror=alert(1)&gt;<br>second</p>\r\n</div>\r\n");
}

TEST_F(PrintContentTest, ChatsListEveryMessageOnOneLine) {
  const std::string content = Build(Category::WhatsApp, false);
  EXPECT_NE(content.find("<p><span>Chats:</span>Family</p>\r\n<p><span>Name:</span>Ann</p>\r\n"
                         "<p><span>Phone "
                         "Number:</span>ann</p>\r\n<p><span>Content:</span></p>\r\n"
                         "<p>Ann (d): hi &amp; bye</p><p>Me (d): ok</p></div>\r\n"),
            std::string::npos);
}

TEST_F(PrintContentTest, MediaPrintsNothingAndCancelStops) {
  EXPECT_EQ(Build(Category::CameraRoll, false), "");
  EXPECT_EQ(last, 0);
  std::atomic<bool> cancel{true};
  EXPECT_EQ(Build(Category::CallHistory, false, &cancel), "");
  EXPECT_EQ(last, kStopped);
}

TEST_F(PrintContentTest, RemindersEventsAndBookmarksPrintTheirCards) {
  ReminderRecord r;
  r.title = "Eggs & <milk>";
  r.notes = "a\nb";
  stores.reminders = {r};
  r.title = "Gone";
  r.deleted = 1;
  stores.reminders.push_back(r);
  stats.AddReminders(stores.reminders);
  CalendarEventRecord e;
  e.title = "Lunch";
  e.start = "2021-03-04 12:00:00";
  e.zoneKind = ZoneKind::kFloating;
  stores.events = {e};
  stats.AddEvents(stores.events);
  BookmarkRecord b;
  b.title = "Site";
  b.url = "https://s.example/?a=1&b=2";
  stores.bookmarks = {b};
  stats.AddBookmarks(stores.bookmarks);

  EXPECT_EQ(Build(Category::Reminder, false),
            "<div>\r\n<p><span>Title:</span>Eggs &amp; &lt;milk&gt;</p>\r\n"
            "<p><span>State:</span>Open</p>\r\n<p><span>Notes:</span>a<br>b</p>\r\n"
            "<p><span>Status:</span>Normal</p>\r\n</div>\r\n"
            "<div>\r\n<p><span>Title:</span>Gone</p>\r\n<p><span>State:</span>Open</p>\r\n"
            "<p><span>Notes:</span>a<br>b</p>\r\n<p><span>Status:</span>Deleted</p>\r\n</div>\r\n");
  EXPECT_EQ(CountOf(Build(Category::Reminder, true), "<div>"), 1u);
  EXPECT_NE(Build(Category::Calendar, false).find("<p><span>Time Zone:</span>Floating</p>"),
            std::string::npos);
  EXPECT_NE(Build(Category::SafariBookmark, false)
                .find("<p><span>Address:</span>https://s.example/?a=1&amp;b=2</p>"),
            std::string::npos);
  stats.SetTicked(stats.FindEntry(&stores.bookmarks.front()), false);
  EXPECT_EQ(Build(Category::SafariBookmark, false), "");
}

TEST(PrintPageTest, TemplateHeadContentTail) {
  TempDir dir;
  test::WriteFile(dir / "Print.html", "<a>{|content|}<b>{|content|}");
  PrintTemplate t = LoadPrintTemplate(dir / "Print.html");
  EXPECT_EQ(t.head, "<a>");
  EXPECT_EQ(t.tail, "<b>{|content|}");
  ASSERT_EQ(WritePrintPage(t, "X", dir / "Print" / "page"), 0);
  EXPECT_EQ(test::Slurp(dir / "Print" / "page"), "<a>X<b>{|content|}");
  // A missing template gives a page of the content alone.
  PrintTemplate none = LoadPrintTemplate(dir / "absent.html");
  ASSERT_EQ(WritePrintPage(none, "X", dir / "p2"), 0);
  EXPECT_EQ(test::Slurp(dir / "p2"), "X");
}

// The page is written while printing; an installed program's own folder is not writable
// by its user, so the page goes to the work folder. The template is one of the data files.
TEST(PrintPageTest, PageInWorkFolderTemplateAmongDataFiles) {
  TempDir dir;
  test::ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
  EXPECT_EQ(DefaultPrintPage(), dir / "data" / "TarnwickBackvault" / "Print" / "page");
  // The test runs from the build's bin folder, where the data files lie beside it.
  EXPECT_EQ(DefaultPrintTemplate(),
            std::filesystem::path(BV_TEST_BIN_DIR) / "template" / "Print.html");
  EXPECT_TRUE(std::filesystem::is_regular_file(DefaultPrintTemplate()));
}

}  // namespace
}  // namespace bv
