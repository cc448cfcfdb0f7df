// Calendar events and task items of Calendar.sqlitedb, the reminders stores of iOS 13
// on, and Safari's bookmarks: the readers over databases built from the real table
// layouts (tools/mkbackup/ios-schemas.sql), with hand-worked expectations, and over
// damaged files.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <vector>

#include "platform/platform.h"
#include "records/readers.h"
#include "records_fixture.h"

namespace bv {
namespace {

using test::MakeDb;
using test::Q;
using test::Sql;
using test::TempFolder;

// Stored seconds (since 2001) of a UTC civil time, worked out by the platform.
std::int64_t Apple(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return platform::UtcToUnix(y, mo, d, h, mi, s) - 978307200;
}
std::string N(std::int64_t v) {
  return std::to_string(v);
}

std::vector<CalendarEventRecord> Events(const std::string& path, Result* result = nullptr) {
  std::list<CalendarEventRecord> list;
  const Result r = CalendarReader().ReadEvents(path, list);
  if (result != nullptr) *result = r;
  return {list.begin(), list.end()};
}

const CalendarEventRecord* ByTitle(const std::vector<CalendarEventRecord>& events,
                                   const std::string& title) {
  for (const CalendarEventRecord& e : events)
    if (e.title == title) return &e;
  return nullptr;
}

// The two CalendarItem layouts: iOS 6 (no end zone, locations without address) and
// iOS 11 (end_tz, Location.address).
class CalendarLayouts : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path_ = MakeDb(dir_, "Calendar.sqlitedb", GetParam());
    newer_ = std::string(GetParam()).find("11.2") != std::string::npos;
    Sql(path_,
        "INSERT INTO Calendar (ROWID, title) VALUES (1, 'Home'), (2, 'Work & Co'), (3, 'Tasks');");
  }
  // An event row: zone NULL when empty.
  void Event(int rowid, const std::string& title, std::int64_t start, std::int64_t end,
             const std::string& zone, int allDay = 0, int calendar = 1,
             const std::string& extra = "") {
    Sql(path_,
        "INSERT INTO CalendarItem (ROWID, summary, start_date, end_date, start_tz, all_day, "
        "calendar_id, entity_type" +
            std::string(extra.empty() ? "" : ", ") + extra.substr(0, extra.find('=')) +
            ") VALUES (" + N(rowid) + ", " + Q(title) + ", " + N(start) + ".0, " + N(end) + ".0, " +
            (zone.empty() ? "NULL" : Q(zone)) + ", " + N(allDay) + ", " + N(calendar) + ", 2" +
            (extra.empty() ? "" : ", " + extra.substr(extra.find('=') + 1)) + ");");
  }
  TempFolder dir_;
  std::string path_;
  bool newer_ = false;
};

TEST_P(CalendarLayouts, TimesAreShownInTheItemsOwnZone) {
  test::ZoneGuard zone("Asia/Tokyo");  // this computer's zone, for items without one
  // 2021-03-04 08:00 UTC is 09:00 in Berlin (winter), 03:00 in New York.
  Event(1, "Berlin", Apple(2021, 3, 4, 8), Apple(2021, 3, 4, 9, 30), "Europe/Berlin");
  // Summer time: 2021-07-01 08:00 UTC is 10:00 in Berlin; half-hour zone in Kolkata.
  Event(2, "Summer", Apple(2021, 7, 1, 8), Apple(2021, 7, 1, 9), "Europe/Berlin");
  Event(3, "Kolkata", Apple(2021, 7, 1, 8), Apple(2021, 7, 1, 9), "Asia/Kolkata");
  // A floating time is the stored wall clock itself.
  Event(4, "Floating", Apple(2021, 3, 5, 18, 30), Apple(2021, 3, 5, 20), "_float");
  // Without a usable zone: this computer's (Tokyo, +9).
  Event(5, "No zone", Apple(2021, 3, 6, 1), Apple(2021, 3, 6, 2), "");
  Event(6, "Bad zone", Apple(2021, 3, 6, 1), Apple(2021, 3, 6, 2), "Mars/Olympus_Mons");
  // Far past the year 2037 of old zone files: New York summer time still applies.
  Event(7, "2040", Apple(2040, 7, 4, 16), Apple(2040, 7, 4, 18), "America/New_York");
  // Sydney: southern summer in January (+11).
  Event(8, "Sydney", Apple(2021, 1, 10, 0), Apple(2021, 1, 10, 1), "Australia/Sydney");

  Result r = -1;
  const auto events = Events(path_, &r);
  EXPECT_EQ(r, kSuccess);
  ASSERT_EQ(events.size(), 8u);
  auto expect = [&](const char* title, const char* start, const char* end, ZoneKind kind) {
    const CalendarEventRecord* e = ByTitle(events, title);
    ASSERT_NE(e, nullptr) << title;
    EXPECT_EQ(e->start, start) << title;
    EXPECT_EQ(e->end, end) << title;
    EXPECT_EQ(e->zoneKind, kind) << title;
    EXPECT_EQ(e->allDay, 0);
  };
  expect("Berlin", "2021-03-04 09:00:00", "2021-03-04 10:30:00", ZoneKind::kZoned);
  expect("Summer", "2021-07-01 10:00:00", "2021-07-01 11:00:00", ZoneKind::kZoned);
  expect("Kolkata", "2021-07-01 13:30:00", "2021-07-01 14:30:00", ZoneKind::kZoned);
  expect("Floating", "2021-03-05 18:30:00", "2021-03-05 20:00:00", ZoneKind::kFloating);
  expect("No zone", "2021-03-06 10:00:00", "2021-03-06 11:00:00", ZoneKind::kLocal);
  expect("Bad zone", "2021-03-06 10:00:00", "2021-03-06 11:00:00", ZoneKind::kLocal);
  expect("2040", "2040-07-04 12:00:00", "2040-07-04 14:00:00", ZoneKind::kZoned);
  expect("Sydney", "2021-01-10 11:00:00", "2021-01-10 12:00:00", ZoneKind::kZoned);
  EXPECT_EQ(ByTitle(events, "Bad zone")->timeZone, "Mars/Olympus_Mons");
  EXPECT_EQ(ByTitle(events, "Berlin")->startSeconds, Apple(2021, 3, 4, 8));

  // Oldest first by the instant, not by the texts (Sydney's January comes first).
  std::int64_t previous = INT64_MIN;
  for (const auto& e : events) {
    EXPECT_GE(e.startSeconds, previous);
    previous = e.startSeconds;
  }
  EXPECT_EQ(events.front().title, "Sydney");
}

TEST(CalendarEndZone, TheEndIsShownInItsOwnZone) {
  // iOS 11 on: a flight leaves Berlin at 10:00 and lands in New York at 13:00 local.
  TempFolder dir;
  const std::string path = MakeDb(dir, "Calendar.sqlitedb", "Calendar.sqlitedb | iOS 11.2");
  Sql(path,
      "INSERT INTO CalendarItem (ROWID, summary, start_date, start_tz, end_date, end_tz, "
      "all_day, entity_type) VALUES (1, 'Flight', " +
          N(Apple(2021, 3, 4, 9)) + ", 'Europe/Berlin', " + N(Apple(2021, 3, 4, 18)) +
          ", 'America/New_York', 0, 2);");
  const auto events = Events(path);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].start, "2021-03-04 10:00:00");
  EXPECT_EQ(events[0].end, "2021-03-04 13:00:00");
  EXPECT_EQ(events[0].endTimeZone, "America/New_York");
}

TEST_P(CalendarLayouts, AllDayItemsAreDays) {
  test::ZoneGuard zone("America/Los_Angeles");  // must not move floating days
  // One day, ending on its last second.
  Event(1, "One day", Apple(2021, 3, 4), Apple(2021, 3, 4, 23, 59, 59), "_float", 1);
  // Three days, ending on the midnight after.
  Event(2, "Three days", Apple(2021, 3, 10), Apple(2021, 3, 13), "_float", 1);
  // An end before the start, and no end at all: one day.
  Event(3, "Backwards", Apple(2021, 4, 2), Apple(2021, 4, 1), "_float", 1);
  Sql(path_,
      "INSERT INTO CalendarItem (ROWID, summary, start_date, all_day, entity_type) "
      "VALUES (4, 'No end', " +
          N(Apple(2021, 5, 1)) + ", 1, 2);");
  // With a named zone an all-day item's days are that zone's.
  Event(5, "Zoned day", Apple(2021, 6, 1, 22), Apple(2021, 6, 2, 22), "Europe/Berlin", 1);

  const auto events = Events(path_);
  ASSERT_EQ(events.size(), 5u);
  auto expect = [&](const char* title, const char* start, const char* end) {
    const CalendarEventRecord* e = ByTitle(events, title);
    ASSERT_NE(e, nullptr) << title;
    EXPECT_EQ(e->allDay, 1);
    EXPECT_EQ(e->start, start) << title;
    EXPECT_EQ(e->end, end) << title;
  };
  expect("One day", "2021-03-04", "2021-03-04");
  expect("Three days", "2021-03-10", "2021-03-12");
  expect("Backwards", "2021-04-02", "2021-04-02");
  expect("No end", "2021-05-01", "2021-05-01");
  expect("Zoned day", "2021-06-02", "2021-06-02");  // Berlin midnight to midnight
}

TEST_P(CalendarLayouts, CalendarLocationNotesAndRepeats) {
  Event(1, "Weekly", Apple(2021, 3, 1, 9), Apple(2021, 3, 1, 10), "UTC", 0, 2, "location_id=1");
  Event(2, "Daily", Apple(2021, 3, 4, 9), Apple(2021, 3, 4, 10), "Europe/Berlin", 0, 1,
        "location_id=2");
  Event(3, "Birthday", Apple(2021, 3, 7), Apple(2021, 3, 7, 23, 59, 59), "_float", 1, 1);
  Event(4, "Odd rule", Apple(2021, 3, 8, 9), Apple(2021, 3, 8, 10), "UTC");
  Sql(path_, "INSERT INTO Location (ROWID, title) VALUES (1, 'Room 4'), (2, '');");
  if (newer_) Sql(path_, "UPDATE Location SET address = 'Main St 1' WHERE ROWID IN (1, 2);");
  Sql(path_,
      "UPDATE CalendarItem SET description = 'Bring\nthe key', url = 'https://x.org/?a=1' "
      "WHERE ROWID = 1;");
  Sql(path_,
      "INSERT INTO Recurrence (frequency, interval, count, end_date, owner_id) VALUES "
      "(2, 2, 10, NULL, 1), (1, 0, 0, " +
          N(Apple(2021, 3, 18, 8)) + ", 2), (4, 1, 0, NULL, 3), (9, 1, 0, NULL, 4);");

  const auto events = Events(path_);
  ASSERT_EQ(events.size(), 4u);
  const CalendarEventRecord* weekly = ByTitle(events, "Weekly");
  ASSERT_NE(weekly, nullptr);
  EXPECT_EQ(weekly->calendar, "Work & Co");
  EXPECT_EQ(weekly->location, newer_ ? "Room 4, Main St 1" : "Room 4");
  EXPECT_EQ(weekly->notes, "Bring\nthe key");
  EXPECT_EQ(weekly->url, "https://x.org/?a=1");
  EXPECT_EQ(weekly->recurrence, "Every 2 weeks, 10 times");
  EXPECT_EQ(weekly->repeat.frequency, 2);
  EXPECT_EQ(weekly->repeat.interval, 2);
  EXPECT_EQ(weekly->repeat.count, 10);
  const CalendarEventRecord* daily = ByTitle(events, "Daily");
  EXPECT_EQ(daily->location, newer_ ? "Main St 1" : "");        // an empty title takes the address
  EXPECT_EQ(daily->recurrence, "Every day, until 2021-03-18");  // 09:00 Berlin
  EXPECT_TRUE(daily->repeat.hasUntil);
  EXPECT_EQ(ByTitle(events, "Birthday")->recurrence, "Every year");
  EXPECT_EQ(ByTitle(events, "Odd rule")->recurrence, "");  // frequency 9 is no rule of ours
  EXPECT_EQ(ByTitle(events, "Odd rule")->repeat.frequency, 0);
}

TEST_P(CalendarLayouts, TasksAreNoEventsAndReadAsReminders) {
  Event(1, "Meeting", Apple(2021, 3, 1, 9), Apple(2021, 3, 1, 10), "UTC");
  Sql(path_,
      "INSERT INTO CalendarItem (ROWID, summary, description, due_date, due_tz, due_all_day, "
      "completion_date, priority, calendar_id, entity_type) VALUES "
      "(2, 'Buy milk', 'two litres', " +
          N(Apple(2021, 3, 2, 16)) + ", 'Europe/Paris', 0, NULL, 1, 3, 3), " +
          "(3, 'Pay rent', NULL, " + N(Apple(2021, 3, 1)) + ", '_float', 1, " +
          N(Apple(2021, 2, 28, 12)) + ", 5, 3, 3), (4, 'Someday', NULL, NULL, NULL, 0, NULL, " +
          "42, 3, 3);");
  const auto events = Events(path_);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].title, "Meeting");

  test::ZoneGuard zone("UTC");
  std::list<ReminderRecord> tasks;
  EXPECT_EQ(CalendarReader().ReadTasks(path_, tasks), kSuccess);
  ASSERT_EQ(tasks.size(), 3u);
  std::vector<ReminderRecord> t(tasks.begin(), tasks.end());
  // One list: by due date, the undated last.
  EXPECT_EQ(t[0].title, "Pay rent");
  EXPECT_EQ(t[0].due, "2021-03-01");
  EXPECT_EQ(t[0].allDay, 1);
  EXPECT_EQ(t[0].completed, 1);
  EXPECT_EQ(t[0].completionDate, "2021-02-28 12:00:00");
  EXPECT_EQ(t[0].priority, 5);
  EXPECT_EQ(t[1].title, "Buy milk");
  EXPECT_EQ(t[1].due, "2021-03-02 17:00:00");  // Paris, winter
  EXPECT_EQ(t[1].notes, "two litres");
  EXPECT_EQ(t[1].list, "Tasks");
  EXPECT_EQ(t[1].completed, 0);
  EXPECT_EQ(t[2].title, "Someday");
  EXPECT_FALSE(t[2].hasDue);
  EXPECT_EQ(t[2].due, "");
  EXPECT_EQ(t[2].priority, 0);  // 42 is no priority
}

INSTANTIATE_TEST_SUITE_P(Layouts, CalendarLayouts,
                         ::testing::Values("Calendar.sqlitedb | iOS 6.1.6",
                                           "Calendar.sqlitedb | iOS 11.2"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "iOS6" : "iOS11");
                         });

TEST(CalendarDamaged, MissingFilesAndTables) {
  TempFolder dir;
  Result r = 0;
  EXPECT_TRUE(Events(dir.File("absent.sqlitedb"), &r).empty());
  EXPECT_EQ(r, 14);  // SQLITE_CANTOPEN
  const std::string other = dir.File("other.db");
  Sql(other, "CREATE TABLE t (a);");
  EXPECT_TRUE(Events(other, &r).empty());
  EXPECT_EQ(r, kQueryFailed);
  std::list<ReminderRecord> tasks{ReminderRecord{}};
  EXPECT_EQ(CalendarReader().ReadTasks(other, tasks), kQueryFailed);
  EXPECT_TRUE(tasks.empty());  // replaced, not kept
  // Not a database at all.
  const std::string junk = dir.File("junk.sqlitedb");
  std::ofstream(junk, std::ios::binary) << std::string(5000, 'x');
  EXPECT_TRUE(Events(junk, &r).empty());
  EXPECT_NE(r, kSuccess);
}

// What each reader tells the data source about a file it could not read, or not whole.
TEST(CalendarDamaged, EachReaderSaysWhy) {
  using Kind = DatabaseIssue::Kind;
  TempFolder dir;
  const std::string absent = dir.File("absent.db");
  const std::string empty = dir.File("empty.db");
  std::ofstream(empty, std::ios::binary).flush();
  const std::string junk = dir.File("junk.db");
  std::ofstream(junk, std::ios::binary) << std::string(5000, 'x');
  const std::string other = dir.File("other.db");
  Sql(other, "CREATE TABLE t (a);");
  const std::string good = MakeDb(dir, "Calendar.sqlitedb", "Calendar.sqlitedb | iOS 11.2");
  Sql(good,
      "INSERT INTO CalendarItem (ROWID, summary, start_date, entity_type) VALUES (1, 'Kept', 0, "
      "2);");

  std::list<CalendarEventRecord> events;
  std::list<ReminderRecord> tasks;
  std::list<BookmarkRecord> bookmarks;
  const std::vector<std::pair<std::string, Kind>> cases{{absent, Kind::kMissing},
                                                        {empty, Kind::kEmpty},
                                                        {junk, Kind::kDamaged},
                                                        {other, Kind::kLayout},
                                                        {good, Kind::kNone}};
  for (const auto& [path, kind] : cases) {
    CalendarReader calendar;
    calendar.ReadEvents(path, events);
    EXPECT_EQ(calendar.Problem().kind, kind) << path;
    calendar.ReadTasks(path, tasks);
    EXPECT_EQ(calendar.Problem().kind, kind) << path;
    if (path == good) continue;  // a calendar database is no bookmark file
    BookmarkReader safari;
    safari.Read(path, bookmarks);
    EXPECT_EQ(safari.Problem().kind, kind) << path;
    ReminderReader reminders;
    reminders.ReadStores({path}, tasks);
    EXPECT_EQ(reminders.Problem().kind, kind) << path;
  }
  CalendarReader calendar;
  calendar.ReadEvents(other, events);
  EXPECT_EQ(calendar.Problem().detail, "no such table: CalendarItem");
  // A reader used again forgets the earlier file's issue.
  calendar.ReadEvents(good, events);
  EXPECT_TRUE(calendar.Problem().Ok());
  EXPECT_FALSE(events.empty());
  // Stores: the first one that could not be read is told; the good ones are read.
  ReminderReader reminders;
  reminders.ReadStores({empty, junk}, tasks);
  EXPECT_EQ(reminders.Problem().kind, Kind::kEmpty);
  // A bookmarks table without its key column is a layout this program does not read.
  const std::string keyless = dir.File("keyless.db");
  Sql(keyless, "CREATE TABLE bookmarks (title, url);");
  BookmarkReader safari;
  safari.Read(keyless, bookmarks);
  EXPECT_EQ(safari.Problem().kind, Kind::kLayout);
}

TEST(CalendarDamaged, NullsEverywhereAndDatesOutOfRange) {
  TempFolder dir;
  const std::string path = MakeDb(dir, "Calendar.sqlitedb", "Calendar.sqlitedb | iOS 11.2");
  // A row of NULLs, a calendar link to nowhere, dates past the year 9999 and before 1,
  // text where numbers belong, and broken UTF-8.
  Sql(path,
      "INSERT INTO CalendarItem (ROWID) VALUES (1);"
      "INSERT INTO CalendarItem (ROWID, summary, start_date, end_date, start_tz, all_day, "
      "calendar_id, location_id) VALUES (2, 'Far', 1.0e15, 2.0e15, 'UTC', 0, 99, 77);"
      "INSERT INTO CalendarItem (ROWID, summary, start_date, all_day) VALUES "
      "(3, 'Before', -1.0e12, 1);"
      "INSERT INTO CalendarItem (ROWID, summary, start_date, end_date, all_day) VALUES "
      "(4, CAST(X'4F6BFF20C3' AS TEXT), 'soon', X'00', 'yes');"
      "INSERT INTO Recurrence (frequency, interval, count, owner_id) VALUES "
      "(2, -5, -3, 2), (NULL, NULL, NULL, 1);");
  Result r = -1;
  const auto events = Events(path, &r);
  EXPECT_EQ(r, kSuccess);
  ASSERT_EQ(events.size(), 4u);
  const CalendarEventRecord* empty = nullptr;
  for (const auto& e : events)
    if (e.rowId == 1) empty = &e;
  ASSERT_NE(empty, nullptr);
  EXPECT_FALSE(empty->hasStart);
  EXPECT_EQ(empty->start, "");
  EXPECT_EQ(empty->title, "");
  EXPECT_EQ(empty->calendar, "");
  EXPECT_EQ(empty->recurrence, "");

  const CalendarEventRecord* far = ByTitle(events, "Far");
  ASSERT_NE(far, nullptr);
  EXPECT_TRUE(far->hasStart);
  EXPECT_EQ(far->start, "");  // no date text past 9999
  EXPECT_EQ(far->end, "");
  EXPECT_EQ(far->calendar, "");
  EXPECT_EQ(far->location, "");
  EXPECT_EQ(far->recurrence, "Every week");  // a negative interval and count read as none
  EXPECT_EQ(ByTitle(events, "Before")->start, "");
  // Broken bytes become U+FFFD, once per broken sequence.
  const CalendarEventRecord* broken = nullptr;
  for (const auto& e : events)
    if (e.rowId == 4) broken = &e;
  ASSERT_NE(broken, nullptr);
  EXPECT_EQ(broken->title, "Ok\xEF\xBF\xBD \xEF\xBF\xBD");
}

TEST(CalendarDamaged, SparseAndOldLayouts) {
  TempFolder dir;
  // Only the columns a reader cannot do without.
  const std::string sparse = dir.File("sparse.sqlitedb");
  Sql(sparse,
      "CREATE TABLE CalendarItem (summary TEXT, start_date REAL);"
      "INSERT INTO CalendarItem VALUES ('Bare', " +
          N(Apple(2021, 3, 4, 8)) + ");");
  test::ZoneGuard zone("UTC");
  auto events = Events(sparse);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].title, "Bare");
  EXPECT_EQ(events[0].start, "2021-03-04 08:00:00");
  EXPECT_EQ(events[0].zoneKind, ZoneKind::kLocal);
  std::list<ReminderRecord> tasks;
  EXPECT_EQ(CalendarReader().ReadTasks(sparse, tasks), kSuccess);  // no entity types: no tasks
  EXPECT_TRUE(tasks.empty());

  // Before iOS 5: the Event table, location as text.
  const std::string old =
      MakeDb(dir, "old.sqlitedb", "Calendar.sqlitedb (HomeDomain Library/Calendar");
  Sql(old,
      "INSERT INTO Calendar (ROWID, title) VALUES (1, 'Calendar');"
      "INSERT INTO Event (ROWID, summary, location, description, start_date, start_tz, "
      "end_date, all_day, calendar_id) VALUES (1, 'Lunch', 'Canteen', 'with Bo', " +
          N(Apple(2010, 5, 1, 10)) + ", 'Asia/Tokyo', " + N(Apple(2010, 5, 1, 11)) + ", 0, 1);");
  events = Events(old);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].start, "2010-05-01 19:00:00");
  EXPECT_EQ(events[0].location, "Canteen");
  EXPECT_EQ(events[0].notes, "with Bo");
  EXPECT_EQ(events[0].calendar, "Calendar");
  CalendarReader oldTasks;
  EXPECT_EQ(oldTasks.ReadTasks(old, tasks), kSuccess);  // events alone: no tasks, no problem
  EXPECT_TRUE(oldTasks.Problem().Ok());
}

// ---------------------------------------------------------------------------------
// Reminders stores (iOS 13 on).

class ReminderStores : public ::testing::TestWithParam<const char*> {
 protected:
  bool ListsOwnTable() const { return std::string(GetParam()).find("iOS 14") != std::string::npos; }
  // A store with an account and the lists `lists` (Z_PK 10, 11, ...).
  std::string Store(const std::string& name, const std::vector<std::string>& lists) {
    const std::string path = MakeDb(dir_, name, GetParam());
    Sql(path, "INSERT INTO ZREMCDOBJECT (Z_PK, Z_ENT, ZNAME) VALUES (1, 2, 'Account');");
    for (std::size_t i = 0; i < lists.size(); ++i) {
      const std::string pk = N(10 + static_cast<std::int64_t>(i));
      if (ListsOwnTable())
        Sql(path, "INSERT INTO ZREMCDBASELIST (Z_PK, Z_ENT, ZNAME) VALUES (" + pk + ", 3, " +
                      Q(lists[i]) + ");");
      else  // the list's name is the numbered attribute of the shared table
        Sql(path, "INSERT INTO ZREMCDOBJECT (Z_PK, Z_ENT, ZNAME1) VALUES (" + pk + ", 3, " +
                      Q(lists[i]) + ");");
    }
    return path;
  }
  TempFolder dir_;
};

TEST_P(ReminderStores, EveryStoreWithListsStatesAndDates) {
  test::ZoneGuard zone("UTC");
  const std::string a = Store("Data-local.sqlite", {"Groceries", "Work"});
  const std::string b = Store("Data-ABC.sqlite", {"Family"});
  Sql(a,
      "INSERT INTO ZREMCDREMINDER (Z_PK, ZTITLE, ZNOTES, ZDUEDATE, ZALLDAY, ZTIMEZONE, "
      "ZCOMPLETED, ZCOMPLETIONDATE, ZPRIORITY, ZMARKEDFORDELETION, ZLIST, ZCKIDENTIFIER) VALUES "
      "(1, 'Eggs', '12, brown', " +
          N(Apple(2021, 3, 4, 16)) + ", 0, 'America/Los_Angeles', 0, NULL, 1, 0, 10, 'U1'), " +
          "(2, 'Report', NULL, " + N(Apple(2021, 3, 5)) + ", 1, NULL, 1, " +
          N(Apple(2021, 3, 4, 20, 15)) + ".5, 9, 0, 11, 'U2'), " +
          "(3, 'Old idea', NULL, NULL, 0, NULL, 0, NULL, 0, 1, 11, NULL), " +
          "(4, 'Loose', NULL, NULL, 0, NULL, 0, NULL, 0, 0, 999, NULL);");
  Sql(b,
      "INSERT INTO ZREMCDREMINDER (Z_PK, ZTITLE, ZLIST, ZCOMPLETED) VALUES (1, 'Call mum', 10, "
      "0);");

  std::list<ReminderRecord> list;
  int withTable = 0;
  EXPECT_EQ(ReminderReader().ReadStores({a, b}, list, &withTable), kSuccess);
  EXPECT_EQ(withTable, 2);
  ASSERT_EQ(list.size(), 5u);
  std::vector<ReminderRecord> r(list.begin(), list.end());
  // By list name (the list-less one first), then due date.
  EXPECT_EQ(r[0].title, "Loose");
  EXPECT_EQ(r[0].list, "");
  EXPECT_EQ(r[1].title, "Call mum");
  EXPECT_EQ(r[1].list, "Family");
  EXPECT_EQ(r[2].title, "Eggs");
  EXPECT_EQ(r[2].list, "Groceries");
  EXPECT_EQ(r[2].notes, "12, brown");
  EXPECT_EQ(r[2].due, "2021-03-04 08:00:00");  // Los Angeles
  EXPECT_EQ(r[2].zoneKind, ZoneKind::kZoned);
  EXPECT_EQ(r[2].priority, 1);
  EXPECT_EQ(r[2].uid, "U1");
  EXPECT_EQ(r[3].title, "Report");
  EXPECT_EQ(r[3].list, "Work");
  EXPECT_EQ(r[3].due, "2021-03-05");
  EXPECT_EQ(r[3].completed, 1);
  EXPECT_EQ(r[3].completionDate, "2021-03-04 20:15:00");
  EXPECT_EQ(r[4].title, "Old idea");
  EXPECT_EQ(r[4].deleted, 1);  // in Recently Deleted
  EXPECT_EQ(r[3].deleted, 0);
}

TEST_P(ReminderStores, BrokenStoresDoNotHideTheOthers) {
  const std::string good = Store("Data-good.sqlite", {"L"});
  Sql(good, "INSERT INTO ZREMCDREMINDER (Z_PK, ZTITLE, ZLIST) VALUES (1, 'Kept', 10);");
  const std::string other = dir_.File("Data-other.sqlite");
  Sql(other, "CREATE TABLE ZSOMETHING (Z_PK);");
  std::list<ReminderRecord> list;
  int withTable = -1;
  // A missing store gives its open code, a store of another layout 1006; the good one
  // is read either way.
  EXPECT_EQ(ReminderReader().ReadStores({dir_.File("Data-absent.sqlite"), good}, list, &withTable),
            14);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(withTable, 1);
  EXPECT_EQ(ReminderReader().ReadStores({other, good}, list, &withTable), kQueryFailed);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().title, "Kept");
  EXPECT_EQ(ReminderReader().ReadStores({}, list, &withTable), kSuccess);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(withTable, 0);
}

// A store in use keeps its newest reminders in its write-ahead log, which a backup
// stores as a file of its own under another name.
TEST_P(ReminderStores, StoresAreReadWithTheirLogs) {
  const std::string live = Store("Data-live.sqlite", {"L"});
  Sql(live, "INSERT INTO ZREMCDREMINDER (Z_PK, ZTITLE, ZLIST) VALUES (1, 'In the file', 10);");
  const std::string stored = dir_.File("3a7f0e"), storedLog = dir_.File("b9c2d4");
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(live.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "INSERT INTO ZREMCDREMINDER (Z_PK, ZTITLE, ZLIST) VALUES "
                           "(2, 'Only in the log', 10);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::filesystem::copy_file(live, stored);
    std::filesystem::copy_file(live + "-wal", storedLog);
    sqlite3_close(db);
  }
  std::list<ReminderRecord> list;
  ReminderReader withLog;
  EXPECT_EQ(withLog.ReadStores({DatabaseFile(stored, storedLog)}, list), kSuccess);
  EXPECT_EQ(list.size(), 2u);
  EXPECT_TRUE(withLog.Problem().Quiet());

  // A damaged log: the file's reminders, and the store says why the others are missing;
  // a store that cannot be read at all still comes first.
  const std::string damaged = dir_.File("damaged-log");
  std::string bytes = test::ReadFile(storedLog);
  bytes[0] ^= 0x01;
  test::WriteFile(damaged, bytes);
  ReminderReader cut;
  EXPECT_EQ(cut.ReadStores({DatabaseFile(stored, damaged)}, list), kSuccess);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().title, "In the file");
  EXPECT_EQ(cut.Problem().Describe("a reminders store"),
            "a reminders store's write-ahead log is damaged (no log header): none of its "
            "changes are read");
  ReminderReader both;
  both.ReadStores({DatabaseFile(stored, damaged), dir_.File("Data-absent.sqlite")}, list);
  EXPECT_EQ(both.Problem().kind, DatabaseIssue::Kind::kMissing);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReminderStores,
                         ::testing::Values("Data-*.sqlite (AppDomainGroup",
                                           "Data-*.sqlite | iOS 14"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "iOS13" : "iOS14");
                         });

TEST(ReminderStoreColumns, NumberedTitlesAndNoListTable) {
  // Core Data numbers an attribute that two entities of one table share; a store whose
  // title is ZTITLE1 and that has no list table at all is still read.
  TempFolder dir;
  const std::string path = dir.File("Data-x.sqlite");
  Sql(path,
      "CREATE TABLE ZREMCDREMINDER (Z_PK INTEGER PRIMARY KEY, ZTITLE1 VARCHAR, "
      "ZNOTES1 VARCHAR, ZTITLEDOCUMENT BLOB, ZDUEDATE TIMESTAMP, ZLIST INTEGER);"
      "INSERT INTO ZREMCDREMINDER VALUES (1, 'Numbered', 'n', X'01', NULL, 3);");
  std::list<ReminderRecord> list;
  EXPECT_EQ(ReminderReader().ReadStores({path}, list), kSuccess);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.front().title, "Numbered");
  EXPECT_EQ(list.front().notes, "n");
  EXPECT_EQ(list.front().list, "");
}

TEST(ReminderStoreKeys, OnlyTheStoresThemselves) {
  const std::string p = "AppDomainGroup-group.com.apple.reminders-Container_v1/Stores/";
  EXPECT_TRUE(IsRemindersStoreKey(p + "Data-local.sqlite"));
  EXPECT_TRUE(IsRemindersStoreKey(p + "Data-1C2D-33.sqlite"));
  EXPECT_FALSE(IsRemindersStoreKey(p + "Data-local.sqlite-wal"));
  EXPECT_FALSE(IsRemindersStoreKey(p + "Data-local.sqlite-shm"));
  EXPECT_FALSE(IsRemindersStoreKey(p + "Data-.sqlite"));
  EXPECT_FALSE(IsRemindersStoreKey(p + "Sub/Data-x.sqlite"));
  EXPECT_FALSE(IsRemindersStoreKey(p + "Other.sqlite"));
  EXPECT_FALSE(
      IsRemindersStoreKey("AppDomainGroup-group.com.apple.notes-Container_v1/Stores/"
                          "Data-local.sqlite"));
}

// ---------------------------------------------------------------------------------
// Safari bookmarks.

struct Mark {
  int id;
  const char* parent;  // SQL text: "NULL" or a number
  int type;
  const char* title;
  const char* url;
  int order;
  int deleted;
};

std::string BookmarksDb(const TempFolder& dir, const std::vector<Mark>& marks,
                        const char* section = "Bookmarks.db | iOS 9") {
  const std::string path = MakeDb(dir, "Bookmarks.db", section);
  for (const Mark& m : marks)
    Sql(path,
        "INSERT INTO bookmarks (id, parent, type, title, url, order_index, deleted) "
        "VALUES (" +
            N(m.id) + ", " + m.parent + ", " + N(m.type) + ", " + Q(m.title) + ", " +
            (m.url ? Q(m.url) : std::string("NULL")) + ", " + N(m.order) + ", " + N(m.deleted) +
            ");");
  return path;
}

std::vector<BookmarkRecord> Bookmarks(const std::string& path, Result* result = nullptr) {
  std::list<BookmarkRecord> list;
  const Result r = BookmarkReader().Read(path, list);
  if (result != nullptr) *result = r;
  return {list.begin(), list.end()};
}

TEST(SafariBookmarks, TreeOrderFolderPathsAndReadingList) {
  TempFolder dir;
  for (const char* section : {"Bookmarks.db (HomeDomain", "Bookmarks.db | iOS 9"}) {
    SCOPED_TRACE(section);
    TempFolder each;
    const std::string path =
        BookmarksDb(each,
                    {{0, "NULL", 1, "Root", nullptr, 0, 0},
                     {1, "0", 1, "BookmarksBar", nullptr, 0, 0},
                     {2, "0", 1, "BookmarksMenu", nullptr, 1, 0},
                     {3, "0", 1, "com.apple.ReadingList", nullptr, 2, 0},
                     // Siblings out of id order: order_index decides.
                     {10, "2", 0, "Second", "https://b.example/", 1, 0},
                     {11, "2", 1, "Work & Play", nullptr, 0, 0},
                     {12, "11", 0, "Deep <one>", "https://deep.example/?a=1&b=2", 0, 0},
                     {13, "1", 0, "On the bar", "https://bar.example/", 0, 0},
                     {14, "3", 0, "To read", "https://read.example/", 0, 0},
                     {15, "2", 0, "Gone", "https://gone.example/", 2, 1}},
                    section);
    Result r = -1;
    const auto b = Bookmarks(path, &r);
    EXPECT_EQ(r, kSuccess);
    std::vector<std::string> order;
    for (const auto& m : b) order.push_back(m.title);
    EXPECT_EQ(order, (std::vector<std::string>{"Favorites", "On the bar", "Bookmarks Menu",
                                               "Work & Play", "Deep <one>", "Second", "Gone",
                                               "Reading List", "To read"}));
    ASSERT_EQ(b.size(), 9u);
    EXPECT_EQ(b[0].kind, BookmarkKind::kFolder);
    EXPECT_TRUE(b[0].folder.empty());
    EXPECT_EQ(b[1].kind, BookmarkKind::kBookmark);
    EXPECT_EQ(BookmarkFolderText(b[1]), "Favorites");
    EXPECT_EQ(b[4].url, "https://deep.example/?a=1&b=2");
    EXPECT_EQ(BookmarkFolderText(b[4]), "Bookmarks Menu / Work & Play");
    EXPECT_EQ(b[4].parentId, 11);
    EXPECT_EQ(b[6].deleted, 1);
    EXPECT_EQ(b[5].deleted, 0);
    EXPECT_EQ(b[8].kind, BookmarkKind::kReadingList);
    EXPECT_EQ(BookmarkFolderText(b[8]), "Reading List");
  }
}

TEST(SafariBookmarks, OrphansCyclesAndDamage) {
  TempFolder dir;
  const std::string path = BookmarksDb(dir, {{0, "NULL", 1, "Root", nullptr, 0, 0},
                                             {1, "0", 1, "BookmarksBar", nullptr, 0, 0},
                                             // A parent that is gone.
                                             {20, "99", 0, "Orphan", "https://o.example/", 0, 0},
                                             // Two folders that hold each other.
                                             {30, "31", 1, "Loop A", nullptr, 0, 0},
                                             {31, "30", 1, "Loop B", nullptr, 0, 0},
                                             {32, "31", 0, "In loop", "https://l.example/", 0, 0},
                                             // Its own parent: a second root.
                                             {40, "40", 1, "Self", nullptr, 0, 0}});
  Result r = -1;
  const auto b = Bookmarks(path, &r);
  EXPECT_EQ(r, kSuccess);
  // Everything but the two roots, each once.
  ASSERT_EQ(b.size(), 5u);
  std::multiset<std::string> titles;
  for (const auto& m : b) titles.insert(m.title);
  EXPECT_EQ(titles,
            (std::multiset<std::string>{"Favorites", "Orphan", "Loop A", "Loop B", "In loop"}));
  for (const auto& m : b)
    if (m.title == "Orphan") {
      EXPECT_TRUE(m.folder.empty());
    }

  Result missing = 0;
  EXPECT_TRUE(Bookmarks(dir.File("none.db"), &missing).empty());
  EXPECT_EQ(missing, 14);
  const std::string other = dir.File("other.db");
  Sql(other, "CREATE TABLE bookmark_other (id);");
  EXPECT_TRUE(Bookmarks(other, &missing).empty());
  EXPECT_EQ(missing, kQueryFailed);
  // NULLs everywhere but the id.
  const std::string nulls = dir.File("nulls.db");
  Sql(nulls,
      "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, parent, type, title, url);"
      "INSERT INTO bookmarks (id) VALUES (1), (2);");
  const auto bare = Bookmarks(nulls, &missing);
  EXPECT_EQ(missing, kSuccess);
  EXPECT_TRUE(bare.empty());  // two roots and nothing under them
}

}  // namespace
}  // namespace bv
