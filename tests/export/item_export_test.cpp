// Documents of reminders, calendar events and Safari bookmarks: the iCalendar files read
// back by a strict parser of our own (every property, escaping, folding, zones), the
// browsers' bookmark file read back, and the recovery job's sets of documents, over
// hand-made records and over a whole mkbackup backup scanned as the scan page does.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "catalogue/discovery.h"
#include "export/icalendar.h"
#include "export/item_documents.h"
#include "export/recovery_job.h"
#include "export_fixture.h"
#include "ics_parser.h"
#include "platform/utf8.h"
#include "records/bookmark_reader.h"

namespace bv {
namespace {

using test::IcsComponent;
using test::ParseIcs;
using test::Slurp;
using test::TempDir;

std::int64_t Apple(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return platform::UtcToUnix(y, mo, d, h, mi, s) - 978307200;
}

CalendarEventRecord Timed(std::int64_t rowId, std::string title, std::int64_t start,
                          std::int64_t end, ZoneKind kind, std::string zone) {
  CalendarEventRecord e;
  e.rowId = rowId;
  e.title = std::move(title);
  e.hasStart = true;
  e.startSeconds = start;
  e.hasEnd = true;
  e.endSeconds = end;
  e.zoneKind = e.endZoneKind = kind;
  e.timeZone = e.endTimeZone = std::move(zone);
  e.uid = "uid-" + std::to_string(rowId);
  e.hasModified = true;
  e.modifiedSeconds = Apple(2021, 2, 1, 12);
  return e;
}

CalendarEventRecord AllDay(std::int64_t rowId, std::string title, std::int64_t start,
                           std::int64_t end) {
  CalendarEventRecord e = Timed(rowId, std::move(title), start, end, ZoneKind::kFloating, "_float");
  e.allDay = 1;
  return e;
}

std::vector<const IcsComponent*> Components(const IcsComponent& cal, const std::string& name) {
  std::vector<const IcsComponent*> out;
  for (const IcsComponent& c : cal.children)
    if (c.name == name) out.push_back(&c);
  return out;
}

const IcsComponent* ByUid(const IcsComponent& cal, const std::string& uid) {
  for (const IcsComponent& c : cal.children)
    if (c.Text("UID") == uid) return &c;
  return nullptr;
}

std::string Param(const IcsComponent& c, const std::string& property, const std::string& param) {
  const test::IcsProperty* p = c.Find(property);
  if (p == nullptr) return "<none>";
  auto it = p->params.find(param);
  return it == p->params.end() ? "" : it->second;
}

TEST(ICalendarText, EscapingAndFolding) {
  EXPECT_EQ(IcsEscapeText("a,b;c\\d\ne\r\nf\rg\th\x01i\x7Fj"), "a\\,b\\;c\\\\d\\ne\\nf\\ng\thij");
  // 75 octets stay on one line; 76 fold, the continuation carrying one blank.
  const std::string line75(75, 'x');
  EXPECT_EQ(IcsFoldLine(line75), line75 + "\r\n");
  EXPECT_EQ(IcsFoldLine(line75 + "y"), line75 + "\r\n y\r\n");
  // A four-byte character across the limit moves whole to the next line.
  const std::string emoji = "\xF0\x9F\x98\x80";
  const std::string folded = IcsFoldLine(std::string(73, 'a') + emoji + "bc");
  EXPECT_EQ(folded, std::string(73, 'a') + "\r\n " + emoji + "bc\r\n");
  // Continuations hold 74 octets after their blank.
  std::string long3(75 + 74 + 10, 'z');
  const std::string parts = IcsFoldLine(long3);
  EXPECT_EQ(parts, std::string(75, 'z') + "\r\n " + std::string(74, 'z') + "\r\n " +
                       std::string(10, 'z') + "\r\n");
}

// The parser the other tests rely on refuses each fault it is meant to catch.
TEST(ICalendarText, TheStrictParserRefusesBrokenFiles) {
  const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\n";
  const std::string tail = "END:VCALENDAR\r\n";
  auto event = [](const std::string& lines) {
    return "BEGIN:VEVENT\r\nUID:u\r\nDTSTAMP:20210101T000000Z\r\n" + lines + "END:VEVENT\r\n";
  };
  const std::string good = head + event("DTSTART:20210101T100000Z\r\nSUMMARY:a\\, b\r\n") + tail;
  EXPECT_NO_THROW(ParseIcs(good));
  const std::vector<std::string> bad = {
      // bare LF line ends
      "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:x\nEND:VCALENDAR\n",
      // a line of 76 octets
      head + event("DTSTART:20210101T100000Z\r\nSUMMARY:" + std::string(68, 'x') + "\r\n") + tail,
      // a fold inside a character
      head + event("DTSTART:20210101T100000Z\r\nSUMMARY:\xE4\xB8\r\n \xAD\r\n") + tail,
      // an unescaped comma and an unknown escape
      head + event("DTSTART:20210101T100000Z\r\nSUMMARY:a, b\r\n") + tail,
      head + event("DTSTART:20210101T100000Z\r\nSUMMARY:a\\x\r\n") + tail,
      // a zone that no VTIMEZONE defines, a time before the zone's first onset
      head + event("DTSTART;TZID=Europe/Berlin:20210101T100000\r\n") + tail,
      head +
          "BEGIN:VTIMEZONE\r\nTZID:Z\r\nBEGIN:STANDARD\r\nDTSTART:20210301T000000\r\n"
          "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" +
          event("DTSTART;TZID=Z:20210101T100000\r\n") + tail,
      // an end before the start, an end of another type
      head + event("DTSTART:20210101T100000Z\r\nDTEND:20210101T090000Z\r\n") + tail,
      head + event("DTSTART;VALUE=DATE:20210101\r\nDTEND:20210102T090000Z\r\n") + tail,
      // no UID; no DTSTART; a local DTSTAMP
      head +
          "BEGIN:VEVENT\r\nDTSTAMP:20210101T000000Z\r\nDTSTART:20210101T100000Z\r\nEND:VEVENT\r\n" +
          tail,
      head + event("") + tail,
      head + "BEGIN:VTODO\r\nUID:u\r\nDTSTAMP:20210101T000000\r\nEND:VTODO\r\n" + tail,
      // an UNTIL of the wrong form; a completion in local time
      head + event("DTSTART:20210101T100000Z\r\nRRULE:FREQ=DAILY;UNTIL=20210105T100000\r\n") + tail,
      head +
          "BEGIN:VTODO\r\nUID:u\r\nDTSTAMP:20210101T000000Z\r\nCOMPLETED:20210101T000000\r\nEND:"
          "VTODO\r\n" +
          tail,
      // components that do not nest
      head + "BEGIN:VEVENT\r\n" + tail,
      // a byte-order mark
      "\xEF\xBB\xBF" + good,
  };
  for (std::size_t i = 0; i < bad.size(); ++i)
    EXPECT_THROW(ParseIcs(bad[i]), std::runtime_error) << i;
}

TEST(ICalendarWriter, EventsReadBackByAStrictParser) {
  ICalendarWriter w(platform::UtcToUnix(2021, 3, 9, 10, 0, 0));
  // 08:00 UTC is 09:00 in Berlin; an hour and a half.
  CalendarEventRecord berlin = Timed(1, "Berlin", Apple(2021, 3, 4, 8), Apple(2021, 3, 4, 9, 30),
                                     ZoneKind::kZoned, "Europe/Berlin");
  berlin.calendar = "Work, Home";
  berlin.location = "Room 4;\r\nMain St";
  berlin.url = "https://x.org/a b?q=\"1\"";
  CalendarEventRecord floating = Timed(2, "Floating", Apple(2021, 3, 5, 18, 30),
                                       Apple(2021, 3, 5, 20), ZoneKind::kFloating, "_float");
  CalendarEventRecord local =
      Timed(3, "No zone", Apple(2021, 3, 6, 1), Apple(2021, 3, 6, 2), ZoneKind::kLocal, "");
  CalendarEventRecord day = AllDay(4, "One day", Apple(2021, 3, 4), Apple(2021, 3, 4, 23, 59, 59));
  day.repeat = {2, 2, 10, false, 0};
  CalendarEventRecord days = AllDay(5, "Three days", Apple(2021, 3, 10), Apple(2021, 3, 13));
  days.repeat = {4, 1, 0, true, Apple(2030, 3, 10)};
  CalendarEventRecord ny = Timed(6, "New York", Apple(2040, 7, 4, 16), Apple(2040, 7, 4, 18),
                                 ZoneKind::kZoned, "America/New_York");
  ny.repeat = {1, 1, 0, true, Apple(2040, 7, 10, 16)};
  floating.repeat = {3, 1, 0, true, Apple(2021, 6, 5, 18, 30)};
  CalendarEventRecord backwards = Timed(7, "Backwards", Apple(2021, 4, 1, 10), Apple(2021, 4, 1, 9),
                                        ZoneKind::kZoned, "Europe/Berlin");
  CalendarEventRecord undated;
  undated.rowId = 8;
  undated.title = "Undated";
  CalendarEventRecord far =
      Timed(9, "Far", 1000000000000000LL, 1000000000000001LL, ZoneKind::kLocal, "");
  CalendarEventRecord odd = Timed(10, "a,b;c\\d\ne \x01", Apple(2021, 5, 1, 12),
                                  Apple(2021, 5, 1, 13), ZoneKind::kZoned, "Asia/Kolkata");
  odd.notes = std::string(60, 'n') + "\xE4\xB8\xAD\xE6\x96\x87" + std::string(100, 'o') +
              "\xF0\x9F\x8E\x89 end";
  odd.uid = "uid-1";                 // the same as Berlin's: made unique
  odd.hasModified = false;           // DTSTAMP falls back to now
  odd.repeat = {9, 1, 0, false, 0};  // no rule of ours: none written
  ny.repeat.interval = 3;

  for (const CalendarEventRecord* e :
       {&berlin, &floating, &local, &day, &days, &ny, &backwards, &undated, &far, &odd})
    w.AddEvent(*e);
  EXPECT_EQ(w.Components(), 8u);
  EXPECT_EQ(w.Skipped(), 2u);  // no start; a start past the year 9999

  const std::string text = w.Document();
  IcsComponent cal;
  ASSERT_NO_THROW(cal = ParseIcs(text)) << text;
  EXPECT_EQ(Components(cal, "VEVENT").size(), 8u);
  // One zone each for Berlin, New York and Kolkata, as the TZIDs name them.
  std::set<std::string> zones;
  for (const IcsComponent* z : Components(cal, "VTIMEZONE")) zones.insert(z->Find("TZID")->value);
  EXPECT_EQ(zones, (std::set<std::string>{"America/New_York", "Asia/Kolkata", "Europe/Berlin"}));

  const IcsComponent* b = ByUid(cal, "uid-1");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Find("DTSTART")->value, "20210304T090000");
  EXPECT_EQ(Param(*b, "DTSTART", "TZID"), "Europe/Berlin");
  EXPECT_EQ(b->Find("DTEND")->value, "20210304T103000");
  EXPECT_EQ(b->Find("DTSTAMP")->value, "20210201T120000Z");
  EXPECT_EQ(b->Text("SUMMARY"), "Berlin");
  EXPECT_EQ(b->Text("LOCATION"), "Room 4;\nMain St");
  EXPECT_EQ(b->Text("CATEGORIES"), "Work, Home");
  EXPECT_EQ(b->Find("URL")->value, "https://x.org/a%20b?q=%221%22");

  const IcsComponent* f = ByUid(cal, "uid-2");
  EXPECT_EQ(f->Find("DTSTART")->value, "20210305T183000");
  EXPECT_EQ(Param(*f, "DTSTART", "TZID"), "");
  EXPECT_EQ(f->Find("RRULE")->value, "FREQ=MONTHLY;UNTIL=20210605T183000");  // floating form
  EXPECT_EQ(ByUid(cal, "uid-3")->Find("DTSTART")->value, "20210306T010000Z");

  const IcsComponent* d = ByUid(cal, "uid-4");
  EXPECT_EQ(d->Find("DTSTART")->value, "20210304");
  EXPECT_EQ(Param(*d, "DTSTART", "VALUE"), "DATE");
  EXPECT_EQ(d->Find("DTEND")->value, "20210305");  // the day after the last
  EXPECT_EQ(d->Find("RRULE")->value, "FREQ=WEEKLY;INTERVAL=2;COUNT=10");
  const IcsComponent* ds = ByUid(cal, "uid-5");
  EXPECT_EQ(ds->Find("DTEND")->value, "20210313");
  EXPECT_EQ(ds->Find("RRULE")->value, "FREQ=YEARLY;UNTIL=20300310");

  const IcsComponent* n = ByUid(cal, "uid-6");
  EXPECT_EQ(n->Find("DTSTART")->value, "20400704T120000");  // summer time, past 2037
  EXPECT_EQ(n->Find("RRULE")->value, "FREQ=DAILY;INTERVAL=3;UNTIL=20400710T160000Z");
  EXPECT_EQ(ByUid(cal, "uid-7")->Find("DTEND"), nullptr);  // an end before the start

  const IcsComponent* o = ByUid(cal, "uid-1-10");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->Text("SUMMARY"), "a,b;c\\d\ne ");  // the control character dropped
  EXPECT_EQ(o->Text("DESCRIPTION"), odd.notes);
  EXPECT_EQ(o->Find("DTSTAMP")->value, "20210309T100000Z");
  EXPECT_EQ(o->Find("RRULE"), nullptr);
  EXPECT_EQ(o->Find("DTSTART")->value, "20210501T173000");
}

TEST(ICalendarWriter, RemindersAsTodos) {
  ICalendarWriter w(platform::UtcToUnix(2021, 3, 9, 10, 0, 0));
  ReminderRecord a;
  a.rowId = 1;
  a.title = "Eggs, milk";
  a.list = "Groceries; weekly";
  a.notes = "12\nbrown";
  a.hasDue = true;
  a.dueSeconds = Apple(2021, 3, 4, 16);
  a.zoneKind = ZoneKind::kZoned;
  a.timeZone = "America/Los_Angeles";
  a.priority = 1;
  ReminderRecord b;
  b.rowId = 2;
  b.title = "Report";
  b.hasDue = true;
  b.allDay = 1;
  b.dueSeconds = Apple(2021, 3, 5);
  b.zoneKind = ZoneKind::kFloating;
  b.completed = 1;
  b.hasCompletion = true;
  b.completionSeconds = Apple(2021, 3, 4, 20, 15);
  b.priority = 42;  // no priority
  ReminderRecord c;
  c.rowId = 3;  // nothing but a row
  c.completed = 1;
  for (const ReminderRecord* r : {&a, &b, &c}) w.AddTodo(*r);
  const std::string text = w.Document();
  IcsComponent cal;
  ASSERT_NO_THROW(cal = ParseIcs(text)) << text;
  const auto todos = Components(cal, "VTODO");
  ASSERT_EQ(todos.size(), 3u);
  EXPECT_EQ(todos[0]->Text("SUMMARY"), "Eggs, milk");
  EXPECT_EQ(todos[0]->Text("CATEGORIES"), "Groceries; weekly");
  EXPECT_EQ(todos[0]->Text("DESCRIPTION"), "12\nbrown");
  EXPECT_EQ(todos[0]->Find("DUE")->value, "20210304T080000");
  EXPECT_EQ(Param(*todos[0], "DUE", "TZID"), "America/Los_Angeles");
  EXPECT_EQ(todos[0]->Find("STATUS")->value, "NEEDS-ACTION");
  EXPECT_EQ(todos[0]->Find("PRIORITY")->value, "1");
  EXPECT_EQ(todos[0]->Text("UID"), "backvault-reminder-1");
  EXPECT_EQ(todos[1]->Find("DUE")->value, "20210305");
  EXPECT_EQ(Param(*todos[1], "DUE", "VALUE"), "DATE");
  EXPECT_EQ(todos[1]->Find("STATUS")->value, "COMPLETED");
  EXPECT_EQ(todos[1]->Find("COMPLETED")->value, "20210304T201500Z");
  EXPECT_EQ(todos[1]->Find("PRIORITY"), nullptr);
  EXPECT_EQ(todos[2]->Find("COMPLETED"), nullptr);  // completed, date unknown
  EXPECT_EQ(todos[2]->Find("SUMMARY"), nullptr);
  EXPECT_EQ(Components(cal, "VTIMEZONE").size(), 1u);
}

// ---------------------------------------------------------------------------------
// The browsers' bookmark file, read back.

struct Node {
  std::string title;  // folder title, or link text
  std::string href;   // empty for a folder
  bool toolbar = false;
  std::vector<Node> children;
};

std::string Unescape(std::string s) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [from, to] : entities)
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
      s.replace(at, std::string(from).size(), to);
  return s;
}

// Reads <DL><p> lists of <DT><H3>folder</H3> and <DT><A HREF="...">link</A> lines,
// refusing anything else.
Node ParseBookmarkFile(const std::string& file) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < file.size();) {
    std::size_t nl = file.find('\n', at);
    if (nl == std::string::npos) throw std::runtime_error("last line without its end");
    std::string line = file.substr(at, nl - at);
    line.erase(0, line.find_first_not_of(' '));
    lines.push_back(line);
    at = nl + 1;
  }
  if (lines.size() < 8 || lines[0] != "<!DOCTYPE NETSCAPE-Bookmark-file-1>")
    throw std::runtime_error("no bookmark-file header");
  if (lines[4].find("charset=UTF-8") == std::string::npos) throw std::runtime_error("no charset");
  std::size_t i = 7;
  std::function<void(Node&)> list = [&](Node& into) {
    if (lines.at(i++) != "<DL><p>")
      throw std::runtime_error("no list at line " + std::to_string(i));
    while (true) {
      const std::string& l = lines.at(i);
      if (l == "</DL><p>") {
        ++i;
        return;
      }
      Node n;
      if (l.rfind("<DT><H3", 0) == 0) {
        const std::size_t gt = l.find('>', 7), end = l.rfind("</H3>");
        if (gt == std::string::npos || end == std::string::npos) throw std::runtime_error(l);
        n.toolbar = l.substr(7, gt - 7) == " PERSONAL_TOOLBAR_FOLDER=\"true\"";
        n.title = Unescape(l.substr(gt + 1, end - gt - 1));
        ++i;
        list(n);
      } else if (l.rfind("<DT><A HREF=\"", 0) == 0) {
        const std::size_t q = l.find('"', 13), end = l.rfind("</A>");
        if (q == std::string::npos || l.compare(q, 2, "\">") != 0 || end == std::string::npos)
          throw std::runtime_error(l);
        n.href = Unescape(l.substr(13, q - 13));
        n.title = Unescape(l.substr(q + 2, end - q - 2));
        ++i;
      } else {
        throw std::runtime_error("unexpected line: " + l);
      }
      into.children.push_back(std::move(n));
    }
  };
  Node root;
  list(root);
  if (i != lines.size()) throw std::runtime_error("content after the list");
  return root;
}

BookmarkRecord Mark(BookmarkKind kind, std::string title, std::string url,
                    std::vector<std::string> folder) {
  BookmarkRecord b;
  b.kind = kind;
  b.title = std::move(title);
  b.url = std::move(url);
  b.folder = std::move(folder);
  return b;
}

TEST(BookmarkFile, FoldersLinksAndEscapingReadBack) {
  const std::vector<BookmarkRecord> marks = {
      Mark(BookmarkKind::kFolder, "Favorites", "", {}),
      Mark(BookmarkKind::kBookmark, "News & <Weather>", "https://n.example/?a=1&b=\"2\"",
           {"Favorites"}),
      Mark(BookmarkKind::kFolder, "Empty", "", {"Bookmarks Menu"}),
      Mark(BookmarkKind::kBookmark, "Deep", "https://d.example/", {"Bookmarks Menu", "Work"}),
      Mark(BookmarkKind::kBookmark, "", "https://untitled.example/", {"Bookmarks Menu"}),
      Mark(BookmarkKind::kReadingList, "Later", "https://r.example/", {"Reading List"}),
      // A second Work folder on the same path is the same folder.
      Mark(BookmarkKind::kBookmark, "Deeper", "https://e.example/", {"Bookmarks Menu", "Work"})};
  std::vector<const BookmarkRecord*> items;
  for (const auto& m : marks) items.push_back(&m);
  Node root;
  ASSERT_NO_THROW(root = ParseBookmarkFile(NetscapeBookmarkFile(items)))
      << NetscapeBookmarkFile(items);
  ASSERT_EQ(root.children.size(), 3u);
  const Node& fav = root.children[0];
  EXPECT_EQ(fav.title, "Favorites");
  EXPECT_TRUE(fav.toolbar);
  ASSERT_EQ(fav.children.size(), 1u);
  EXPECT_EQ(fav.children[0].title, "News & <Weather>");
  EXPECT_EQ(fav.children[0].href, "https://n.example/?a=1&b=\"2\"");
  const Node& menu = root.children[1];
  EXPECT_EQ(menu.title, "Bookmarks Menu");
  EXPECT_FALSE(menu.toolbar);
  ASSERT_EQ(menu.children.size(), 3u);
  EXPECT_EQ(menu.children[0].title, "Empty");
  EXPECT_TRUE(menu.children[0].href.empty());
  EXPECT_TRUE(menu.children[0].children.empty());
  EXPECT_EQ(menu.children[1].title, "Work");
  ASSERT_EQ(menu.children[1].children.size(), 2u);
  EXPECT_EQ(menu.children[1].children[1].title, "Deeper");
  EXPECT_EQ(menu.children[2].title, "https://untitled.example/");  // no title: its address
  EXPECT_EQ(root.children[2].title, "Reading List");
  EXPECT_EQ(root.children[2].children.at(0).href, "https://r.example/");

  // Nothing ticked: a valid, empty file.
  EXPECT_NO_THROW(ParseBookmarkFile(NetscapeBookmarkFile({})));
}

TEST(ItemDocuments, RowsAndCsvLines) {
  ReminderRecord r;
  r.title = "a<b>&\"c\"";
  r.notes = "one\ntwo";
  r.completed = 1;
  r.priority = 5;
  r.deleted = 1;
  EXPECT_EQ(ReminderRow(r),
            "\t<tr><td>a&lt;b&gt;&amp;&quot;c&quot;</td><td></td><td></td><td>Completed</td>"
            "<td></td><td>Medium</td><td>one<br>two</td><td>Deleted</td></tr>\r\n");
  std::string csv;
  AppendReminderCsvLine(csv, r);
  EXPECT_EQ(csv, "\"a<b>&\"\"c\"\"\",,,Completed,,Medium,\"one\ntwo\",Deleted\n");
  EXPECT_EQ(Utf8TextFileBytes("x\ny\n"), "\xEF\xBB\xBFx\r\ny\r\n");
  BookmarkRecord b = Mark(BookmarkKind::kReadingList, "T, t", "https://x/", {"Reading List"});
  csv.clear();
  AppendBookmarkCsvLine(csv, b);
  EXPECT_EQ(csv, "\"T, t\",https://x/,Reading List,Reading List,Normal\n");
}

// ---------------------------------------------------------------------------------
// The recovery job's documents of the three categories.

class ItemRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    out = dir / "out";
    fs::create_directories(out);
    ReminderRecord r;
    r.rowId = 1;
    r.title = "Eggs";
    r.list = "Groceries";
    stores.reminders.push_back(r);
    r.rowId = 2;
    r.title = "Milk";
    r.deleted = 1;
    stores.reminders.push_back(r);
    stores.events.push_back(Timed(1, "Meeting <1>", Apple(2021, 3, 4, 8), Apple(2021, 3, 4, 9),
                                  ZoneKind::kZoned, "Europe/Berlin"));
    stores.events.back().start = "2021-03-04 09:00:00";
    stores.events.push_back(
        Timed(2, "Unticked", Apple(2021, 3, 5, 8), Apple(2021, 3, 5, 9), ZoneKind::kLocal, ""));
    CalendarEventRecord undated;
    undated.rowId = 3;
    undated.title = "Undated";
    stores.events.push_back(undated);
    stores.bookmarks.push_back(Mark(BookmarkKind::kFolder, "Favorites", "", {}));
    stores.bookmarks.push_back(
        Mark(BookmarkKind::kBookmark, "Site", "https://s.example/", {"Favorites"}));
    stats.AddReminders(stores.reminders);
    stats.AddEvents(stores.events);
    stats.AddBookmarks(stores.bookmarks);
    stats.SetTicked(stats.FindEntry(&*std::next(stores.events.begin())), false);
  }
  Result Run(const fs::path& templates) {
    CRecoverJob job(stores, stats, nullptr, "Dev", platform::Utf8FromPath(out));
    job.SetTemplateFolder(templates);
    job.SetJobStamp("20210304050607");
    job.SetNow(platform::UtcToUnix(2021, 3, 9, 10, 0, 0));
    const Result r = job.Run();
    done = job.DoneCount();
    failed = job.FailedCount();
    details = job.Details();
    return r;
  }
  TempDir dir;
  fs::path out;
  ScanStores stores;
  CStatisticsObj stats;
  std::int32_t done = 0, failed = 0;
  std::deque<DetailLine> details;
};

TEST_F(ItemRecovery, EachCategoryGetsItsSetOfDocuments) {
  ASSERT_EQ(Run(test::SourceTemplates()), kSuccess);
  EXPECT_EQ(done, 2 + 2 + 2);  // the unticked event is not exported
  EXPECT_EQ(failed, 0);
  const fs::path rem = out / "Reminders" / "20210304050607";
  const fs::path cal = out / "Calendar" / "20210304050607";
  const fs::path saf = out / "Safari Bookmarks" / "20210304050607";
  const std::string html = Slurp(cal / "Calendar.html");
  EXPECT_NE(html.find("<title>iPhone&#39;s Calendar of Dev</title>"), std::string::npos);
  EXPECT_NE(html.find("<td>Meeting &lt;1&gt;</td><td>2021-03-04 09:00:00</td>"), std::string::npos);
  EXPECT_EQ(test::CountOf(html, "\t<tr>"), 2u);
  EXPECT_EQ(html.find("Unticked"), std::string::npos);
  const std::string csv = Slurp(cal / "Calendar.csv");
  EXPECT_EQ(csv.rfind("\xEF\xBB\xBFTitle,Start,End,", 0), 0u);
  EXPECT_EQ(test::CountOf(csv, "\r\n"), 3u);
  IcsComponent ics;
  ASSERT_NO_THROW(ics = ParseIcs(Slurp(cal / "Calendar.ics")));
  EXPECT_EQ(Components(ics, "VEVENT").size(), 1u);  // the undated one only in HTML and CSV
  ASSERT_NO_THROW(ics = ParseIcs(Slurp(rem / "Reminders.ics")));
  EXPECT_EQ(Components(ics, "VTODO").size(), 2u);
  EXPECT_NE(Slurp(rem / "Reminders.html").find("<td>Milk</td>"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(rem / "Reminders.csv"));
  Node root = ParseBookmarkFile(Slurp(saf / "Bookmarks.html"));
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0].children.at(0).href, "https://s.example/");
  EXPECT_NE(Slurp(saf / "SafariBookmarks.html").find("<td>https://s.example/</td>"),
            std::string::npos);
  // One success line per record, naming the set's HTML document.
  std::map<std::string, int> lines;
  for (const DetailLine& d : details) {
    EXPECT_EQ(d.result, "Success");
    ++lines[test::Utf8(d.path)];
  }
  EXPECT_EQ(lines[platform::Utf8FromPath(cal / "Calendar.html")], 2);
  EXPECT_EQ(lines[platform::Utf8FromPath(rem / "Reminders.html")], 2);
  EXPECT_EQ(lines[platform::Utf8FromPath(saf / "SafariBookmarks.html")], 2);

  // A second job into the same folder numbers the names, never replaces them.
  ASSERT_EQ(Run(test::SourceTemplates()), kSuccess);
  EXPECT_TRUE(fs::is_regular_file(cal / "Calendar(1).ics"));
  EXPECT_EQ(Components(ParseIcs(Slurp(cal / "Calendar.ics")), "VEVENT").size(), 1u);
}

TEST_F(ItemRecovery, AMissingTemplateFailsOnlyItsOwnDocument) {
  const fs::path templates = dir / "templates";
  fs::create_directories(templates);
  for (const auto& e : fs::directory_iterator(test::SourceTemplates()))
    if (e.path().filename() != "Calendar.html")
      fs::copy_file(e.path(), templates / e.path().filename());
  ASSERT_EQ(Run(templates), kSuccess);  // the described templates are all there
  EXPECT_EQ(done, 6);
  EXPECT_EQ(failed, 2);  // the two events
  int calendarFailures = 0;
  for (const DetailLine& d : details)
    if (d.error != 0) {
      ++calendarFailures;
      EXPECT_NE(d.result.find("Calendar.html"), std::string::npos) << d.result;
    }
  EXPECT_EQ(calendarFailures, 2);
  const fs::path cal = out / "Calendar" / "20210304050607";
  EXPECT_FALSE(fs::exists(cal / "Calendar.html"));
  EXPECT_TRUE(fs::is_regular_file(cal / "Calendar.ics"));  // the rest is still written
  EXPECT_TRUE(fs::is_regular_file(cal / "Calendar.csv"));
  EXPECT_TRUE(fs::is_regular_file(out / "Reminders" / "20210304050607" / "Reminders.html"));
}

// The whole road over a mkbackup backup: scan the three categories as the scan page
// does, recover everything, and read the files back.
TEST(ItemRecoveryOfABackup, EverythingScannedIsInTheFiles) {
  TempDir dir;
  test::ScopedEnv xdg("XDG_DATA_HOME", (dir / "data").string());
  mkbackup::BackupOptions o;
  o.iosVersion = "14.3";
  o.events = 30;
  o.reminders = 12;
  o.bookmarks = 24;
  const fs::path backup = test::BuildBackup(dir, o);
  BackupCatalog catalog;
  InitCatalog(catalog);
  BackupRecord record;
  ASSERT_EQ(ReadBackupFolder(platform::Utf8FromPath(backup), record), kSuccess);
  CScanSession session;
  session.SetOpenedPause(std::chrono::milliseconds(0));
  ScanRequest request;
  request.catalog = &catalog;
  request.backup = record;
  request.chosen = CategorySet{};
  for (Category c : {Category::Reminder, Category::Calendar, Category::SafariBookmark})
    request.chosen[static_cast<int>(c)] = true;
  ASSERT_TRUE(session.Start(request));
  session.Wait();
  const ScanStores& s = session.Stores();
  ASSERT_GT(s.events.size(), 20u);
  ASSERT_GT(s.reminders.size(), 10u);
  ASSERT_GT(s.bookmarks.size(), 20u);

  const fs::path out = dir / "out";
  fs::create_directories(out);
  CRecoverJob job(s, session.Statistics(), session.DataSource(), "Test iPhone",
                  platform::Utf8FromPath(out));
  job.SetTemplateFolder(test::SourceTemplates());
  job.SetJobStamp("20210304050607");
  ASSERT_EQ(job.Run(), kSuccess);
  EXPECT_EQ(job.FailedCount(), 0);
  EXPECT_EQ(job.DoneCount(),
            static_cast<std::int32_t>(s.events.size() + s.reminders.size() + s.bookmarks.size()));

  const fs::path stamp = "20210304050607";
  const IcsComponent cal = ParseIcs(Slurp(out / "Calendar" / stamp / "Calendar.ics"));
  std::size_t dated = 0;
  for (const CalendarEventRecord& e : s.events) dated += !e.start.empty();
  EXPECT_EQ(Components(cal, "VEVENT").size(), dated);
  EXPECT_EQ(dated, s.events.size() - 1);  // mkbackup writes one undated event
  std::multiset<std::string> titles, expected;
  for (const IcsComponent* v : Components(cal, "VEVENT")) titles.insert(v->Text("SUMMARY"));
  for (const CalendarEventRecord& e : s.events)
    if (!e.start.empty() && !e.title.empty()) expected.insert(e.title);
  // Control characters are the only thing a SUMMARY may lose; mkbackup writes none
  // but a tab, which stays.
  EXPECT_EQ(titles, expected);
  const IcsComponent rem = ParseIcs(Slurp(out / "Reminders" / stamp / "Reminders.ics"));
  EXPECT_EQ(Components(rem, "VTODO").size(), s.reminders.size());

  const Node root = ParseBookmarkFile(Slurp(out / "Safari Bookmarks" / stamp / "Bookmarks.html"));
  std::size_t links = 0;
  std::function<void(const Node&)> count = [&](const Node& n) {
    for (const Node& c : n.children) {
      if (!c.href.empty()) ++links;
      count(c);
    }
  };
  count(root);
  std::size_t expectedLinks = 0;
  for (const BookmarkRecord& b : s.bookmarks) expectedLinks += b.kind != BookmarkKind::kFolder;
  EXPECT_EQ(links, expectedLinks);
  DestroyCatalog(catalog);
}

}  // namespace
}  // namespace bv
