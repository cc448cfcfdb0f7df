// Calendar and reminders: Calendar.sqlitedb (the Event table before iOS 5, CalendarItem
// with events and task items from iOS 5 on) and, from iOS 13 on, the reminders app's
// Core Data stores in its group container (one per account).
//
// Times are seconds since 2001 (REAL). A timed event carries an Olson zone in start_tz
// (or "_float" for a floating time, or nothing); an all-day event is floating, starts
// at the day's midnight read as UTC and ends at the last second of its last day, or,
// for some rows, at the midnight after it (both are seen in the wild).
#include <array>
#include <cstdio>
#include <memory>

#include "internal.h"

namespace bv::mkbackup {

namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 86400;

const char* kRemindersDomain = "AppDomainGroup-group.com.apple.reminders";

struct Event {
  std::string title, location, address, notes, url, zone, endZone;
  std::int64_t start = 0;  // seconds since 2001, the stored value
  std::int64_t end = 0;
  bool hasStart = true;
  bool allDay = false;
  int calendar = 1;
  // Repeat rule: frequency 0 none, else 1-4 with interval, count and end.
  int frequency = 0, interval = 1, count = 0;
  std::int64_t until = 0;
};

struct Task {
  std::string title, notes, zone;
  bool hasDue = false, allDay = false, completed = false, markedDeleted = false;
  std::int64_t due = 0, completion = 0, created = 0;
  int priority = 0;
  int list = 0;
};

// Texts that documents must escape or fold: commas, semicolons, backslashes, line
// breaks, quotes, markup characters, long lines of multi-byte characters.
const std::vector<std::string>& OddTexts() {
  static const std::vector<std::string> texts = {
      "Dentist; bring card, forms",
      "Line one\nLine two\\with backslash",
      "Grüße aus Köln — Treffen um 9",
      "會議 ☕ with 😀 team <b>&amp;</b> \"quoted\"",
      "Very long description that goes on and on past the seventy-five octet line limit of "
      "calendar files, with ümlauts, 中文字符 and emoji 🎉🎉🎉 placed where a fold could split "
      "them",
      "Trailing space and tab\t ",
  };
  return texts;
}

// The stored seconds of a UTC civil time.
std::int64_t AppleSeconds(int y, int mo, int d, int h, int mi, int s) {
  char iso[32];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02dZ", y, mo, d, h, mi, s);
  return ParseIsoDate(iso) - kAppleEpoch;
}

std::vector<Event> MakeEvents(const BackupOptions& o, Prng& rng) {
  static const std::array<const char*, 7> zones = {
      "Europe/Berlin", "America/New_York", "Asia/Tokyo", "Australia/Sydney", "Asia/Kolkata",
      "UTC",           "America/Sao_Paulo"};
  static const std::vector<std::string> places = {"Office", "Café Central", "Home",
                                                  "Room 4.12, Main St", "Zoo"};
  std::vector<Event> events;
  const std::int64_t base = ParseIsoDate(o.date) - kAppleEpoch - 40 * kDay;
  for (int i = 0; i < o.events; ++i) {
    Event e;
    e.title = i % 9 == 4 ? OddTexts()[static_cast<std::size_t>(i / 9) % OddTexts().size()]
                         : Sentence(rng, 1, 4);
    e.calendar = 1 + i % 3;
    const std::int64_t day = base + (i * 3 - 20) * kDay;
    const std::int64_t midnight = day - ((day % kDay) + kDay) % kDay;
    switch (i % 6) {
      case 0:  // all day, one day, ending on its last second
        e.allDay = true;
        e.zone = "_float";
        e.start = midnight;
        e.end = midnight + kDay - 1;
        break;
      case 1:  // all day over three days, ending on the midnight after
        e.allDay = true;
        e.zone = "_float";
        e.start = midnight;
        e.end = midnight + 3 * kDay;
        break;
      case 2:  // floating time of day
        e.zone = "_float";
        e.start = midnight + 18 * kHour + 30 * 60;
        e.end = e.start + 90 * 60;
        break;
      default:  // an instant in a named zone
        e.zone = zones[static_cast<std::size_t>(i) % zones.size()];
        e.start = midnight + rng.Range(6, 20) * kHour + (i % 2) * 30 * 60;
        e.end = e.start + rng.Range(1, 4) * 30 * 60;
        break;
    }
    if (i % 4 == 1) {
      e.location = places[static_cast<std::size_t>(i) % places.size()];
      if (i % 8 == 1) e.address = "1 Main Street, Springfield";
    }
    if (i % 3 == 0) e.notes = i % 9 == 3 ? OddTexts()[4] : Sentence(rng, 4, 12);
    if (i % 10 == 7) e.url = "https://example.org/meet?id=" + std::to_string(i) + "&x=1";
    switch (i % 8) {
      case 3:
        e.frequency = 2, e.interval = 2, e.count = 10;
        break;
      case 5:
        e.frequency = 1, e.until = e.start + 14 * kDay;
        break;
      case 6:
        e.frequency = 4;
        break;
      default:
        break;
    }
    events.push_back(std::move(e));
  }
  if (o.events > 0) {
    // Times that test the zone rules: an hour after a change to summer time, far in the
    // future (past the year 2037 of the old zone files), a time without a zone, and an
    // item without any start.
    Event dst;
    dst.title = "After the clocks change";
    dst.zone = "Europe/Berlin";
    dst.start = AppleSeconds(2021, 3, 28, 1, 30, 0);  // 03:30 summer time
    dst.end = dst.start + kHour;
    events.push_back(dst);
    Event far;
    far.title = "Anniversary in 2040";
    far.zone = "America/New_York";
    far.start = AppleSeconds(2040, 7, 4, 16, 0, 0);  // 12:00 summer time
    far.end = far.start + 2 * kHour;
    far.calendar = 2;
    events.push_back(far);
    Event noZone;
    noZone.title = "Without a zone";
    noZone.start = base + 5 * kDay + 10 * kHour;
    noZone.end = noZone.start + kHour;
    events.push_back(noZone);
    Event noStart;
    noStart.title = "Undated";
    noStart.hasStart = false;
    noStart.calendar = 3;
    events.push_back(noStart);
  }
  return events;
}

std::vector<Task> MakeTasks(const BackupOptions& o, Prng& rng, int lists) {
  std::vector<Task> tasks;
  const std::int64_t now = ParseIsoDate(o.date) - kAppleEpoch;
  for (int i = 0; i < o.reminders; ++i) {
    Task t;
    t.title = i % 7 == 3 ? OddTexts()[static_cast<std::size_t>(i / 7) % OddTexts().size()]
                         : Sentence(rng, 1, 5);
    if (i % 3 == 1) t.notes = Sentence(rng, 3, 9);
    t.list = 1 + i % lists;
    t.created = now - (o.reminders - i) * kDay - 3600;
    t.priority = std::array<int, 4>{0, 1, 5, 9}[static_cast<std::size_t>(i) % 4];
    if (i % 4 != 3) {
      t.hasDue = true;
      const std::int64_t day = now + (i - 5) * kDay;
      const std::int64_t midnight = day - ((day % kDay) + kDay) % kDay;
      if (i % 4 == 0) {
        t.allDay = true;
        t.due = midnight;
      } else {
        t.zone = i % 4 == 1 ? "Europe/Paris" : "America/Los_Angeles";
        t.due = midnight + 17 * kHour;
      }
    }
    if (i % 5 == 2) {
      t.completed = true;
      t.completion = t.created + 2 * kDay + 123;
    }
    t.markedDeleted = i % 11 == 9;
    tasks.push_back(std::move(t));
  }
  return tasks;
}

void WriteCalendarDb(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  const Version v = ctx.version();
  Prng rng(o.seed ^ 0xCA1E7DA5ull);
  TruthDb& truth = ctx.BeginDatabase("Calendar.sqlitedb", "HomeDomain",
                                     "Library/Calendar/Calendar.sqlitedb", 4096);
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  const bool modern = v.major >= 5;
  const char* section = !modern        ? "Calendar.sqlitedb (HomeDomain"
                        : v.major < 10 ? "Calendar.sqlitedb | iOS 6.1.6"
                                       : "Calendar.sqlitedb | iOS 11.2";
  CreateOverlay(db, truth, {section});
  // Reminders live here from iOS 5 to 12; from 13 on in the reminders app's stores.
  const bool tasksHere = modern && v.major < 13;
  {
    if (modern) {
      Inserter store(db, &truth.Table("Store"), "Store", {"ROWID", "name", "type", "disabled"});
      store.Row({std::int64_t{1}, std::string("Default"), std::int64_t{0}, std::int64_t{0}});
      store.Row({std::int64_t{2}, std::string("iCloud"), std::int64_t{2}, std::int64_t{0}});
    }
    Inserter cal(db, &truth.Table("Calendar"), "Calendar",
                 {"ROWID", "store_id", "title", "color", "supported_entity_types", "UUID"});
    const char* titles[] = {"Home", "Work", "Family & Friends", "Reminders", "Groceries 🛒"};
    const int count = tasksHere ? 5 : 3;
    for (int i = 0; i < count; ++i)
      cal.Row({std::int64_t{i + 1}, std::int64_t{i < 2 ? 1 : 2}, std::string(titles[i]),
               std::string("#1BADF8"), std::int64_t{i < 3 ? 4 : 8}, Guid(rng)});
  }

  const std::vector<Event> events = MakeEvents(o, rng);
  std::vector<std::int64_t> itemRows;
  {
    Inserter item(
        db, &truth.Table(modern ? "CalendarItem" : "Event"), modern ? "CalendarItem" : "Event",
        {"ROWID",         "summary",           "location",      "location_id",     "description",
         "start_date",    "start_tz",          "end_date",      "end_tz",          "all_day",
         "calendar_id",   "orig_item_id",      "orig_event_id", "status",          "url",
         "last_modified", "unique_identifier", "hidden",        "has_recurrences", "has_attendees",
         "UUID",          "entity_type",       "priority",      "due_date",        "due_tz",
         "due_all_day",   "completion_date",   "creation_date"});
    // Locations and repeat rules have tables of their own from iOS 5 on.
    std::unique_ptr<Inserter> location, rule;
    if (modern) {
      location = std::make_unique<Inserter>(
          db, &truth.Table("Location"), "Location",
          std::vector<std::string>{"ROWID", "title", "address", "item_owner_id"});
      rule = std::make_unique<Inserter>(
          db, &truth.Table("Recurrence"), "Recurrence",
          std::vector<std::string>{"ROWID", "frequency", "interval", "week_start", "count",
                                   "end_date", "owner_id", "UUID"});
    }
    std::int64_t rowid = 0, locations = 0, rules = 0;
    const std::int64_t modified = ParseIsoDate(o.date) - kAppleEpoch - 3 * kDay;
    for (const Event& e : events) {
      ++rowid;
      Value locationId{};
      if (modern && !e.location.empty()) {
        ++locations;
        location->Row(
            {locations, e.location, e.address.empty() ? Value{} : Value{e.address}, rowid});
        locationId = locations;
      }
      const Value start = e.hasStart ? Value{static_cast<double>(e.start)} : Value{};
      const Value end = e.hasStart ? Value{static_cast<double>(e.end)} : Value{};
      const Value zone = e.zone.empty() ? Value{} : Value{e.zone};
      item.Row({rowid,
                e.title,
                e.location.empty() ? Value{} : Value{e.location},
                locationId,
                e.notes.empty() ? Value{} : Value{e.notes},
                start,
                zone,
                end,
                e.endZone.empty() ? zone : Value{e.endZone},
                std::int64_t{e.allDay ? 1 : 0},
                std::int64_t{e.calendar},
                std::int64_t{0},
                std::int64_t{0},
                std::int64_t{0},
                e.url.empty() ? Value{} : Value{e.url},
                static_cast<double>(modified + rowid),
                Guid(rng) + "@example.com",
                std::int64_t{0},
                std::int64_t{e.frequency != 0 ? 1 : 0},
                std::int64_t{0},
                Guid(rng),
                std::int64_t{2},
                std::int64_t{0},
                Value{},
                Value{},
                std::int64_t{0},
                Value{},
                static_cast<double>(modified - 100 + rowid)});
      if (modern && e.frequency != 0) {
        ++rules;
        rule->Row({rules, std::int64_t{e.frequency}, std::int64_t{e.interval}, std::int64_t{1},
                   std::int64_t{e.count},
                   e.until != 0 ? Value{static_cast<double>(e.until)} : Value{}, rowid, Guid(rng)});
      }
      itemRows.push_back(rowid);
    }
    if (tasksHere) {
      const std::vector<Task> tasks = MakeTasks(o, rng, 2);
      for (const Task& t : tasks) {
        ++rowid;
        item.Row({rowid,
                  t.title,
                  Value{},
                  Value{},
                  t.notes.empty() ? Value{} : Value{t.notes},
                  Value{},
                  Value{},
                  Value{},
                  Value{},
                  std::int64_t{0},
                  std::int64_t{3 + t.list},
                  std::int64_t{0},
                  std::int64_t{0},
                  std::int64_t{0},
                  Value{},
                  static_cast<double>(t.created + 60),
                  Guid(rng),
                  std::int64_t{0},
                  std::int64_t{0},
                  std::int64_t{0},
                  Guid(rng),
                  std::int64_t{3},
                  std::int64_t{t.priority},
                  t.hasDue ? Value{static_cast<double>(t.due)} : Value{},
                  t.allDay || t.zone.empty() ? Value{std::string("_float")} : Value{t.zone},
                  std::int64_t{t.allDay ? 1 : 0},
                  t.completed ? Value{static_cast<double>(t.completion)} : Value{},
                  static_cast<double>(t.created)});
      }
    }
  }
  if (o.deletedRows && itemRows.size() >= 8) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 2; k < itemRows.size(); k += 7) rows.push_back(itemRows[k]);
    DeleteRows(db, truth, modern ? "CalendarItem" : "Event", rows, "summary", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 700);
}

// One reminders store: an account, its lists and their reminders.
void WriteRemindersStore(BackupContext& ctx, const std::string& name, const std::string& account,
                         const std::vector<std::string>& lists, std::uint64_t salt) {
  const BackupOptions& o = ctx.options();
  const Version v = ctx.version();
  Prng rng(o.seed ^ salt);
  TruthDb& truth =
      ctx.BeginDatabase("Reminders store", kRemindersDomain, "Container_v1/Stores/" + name, 4096);
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  const bool ownListTable = v.major >= 14;
  CreateOverlay(db, truth,
                {ownListTable ? "Data-*.sqlite | iOS 14" : "Data-*.sqlite (AppDomainGroup"});
  {
    Inserter keys(db, &truth.Table("Z_PRIMARYKEY"), "Z_PRIMARYKEY",
                  {"Z_ENT", "Z_NAME", "Z_SUPER", "Z_MAX"});
    keys.Row({std::int64_t{1}, std::string("REMCDObject"), std::int64_t{0}, std::int64_t{9}});
    keys.Row({std::int64_t{2}, std::string("REMCDAccount"), std::int64_t{1}, std::int64_t{1}});
    keys.Row({std::int64_t{3}, std::string("REMCDList"), std::int64_t{1},
              static_cast<std::int64_t>(lists.size())});
    keys.Row({std::int64_t{4}, std::string("REMCDReminder"), std::int64_t{0},
              std::int64_t{o.reminders}});
    // iOS 13: the account (ZNAME) and its lists (ZNAME1) are objects of one table.
    Inserter objects(db, &truth.Table("ZREMCDOBJECT"), "ZREMCDOBJECT",
                     {"Z_PK", "Z_ENT", "Z_OPT", "ZMARKEDFORDELETION", "ZTYPE", "ZACCOUNT",
                      "ZCKIDENTIFIER", "ZNAME", "ZNAME1"});
    objects.Row({std::int64_t{1}, std::int64_t{2}, std::int64_t{1}, std::int64_t{0},
                 std::int64_t{2}, Value{}, Guid(rng), account, Value{}});
    if (ownListTable) {
      Inserter baseLists(db, &truth.Table("ZREMCDBASELIST"), "ZREMCDBASELIST",
                         {"Z_PK", "Z_ENT", "Z_OPT", "ZISGROUP", "ZMARKEDFORDELETION", "ZACCOUNT",
                          "ZCKIDENTIFIER", "ZNAME"});
      for (std::size_t i = 0; i < lists.size(); ++i)
        baseLists.Row({static_cast<std::int64_t>(i + 1), std::int64_t{3}, std::int64_t{1},
                       std::int64_t{0}, std::int64_t{0}, std::int64_t{1}, Guid(rng), lists[i]});
    } else {
      for (std::size_t i = 0; i < lists.size(); ++i)
        objects.Row({static_cast<std::int64_t>(i + 2), std::int64_t{3}, std::int64_t{1},
                     std::int64_t{0}, Value{}, std::int64_t{1}, Guid(rng), Value{}, lists[i]});
    }
  }
  // List rows: 1.. on iOS 14 on, 2.. on iOS 13 (after the account).
  const int firstList = ownListTable ? 1 : 2;
  std::vector<std::int64_t> rows;
  {
    Inserter ins(
        db, &truth.Table("ZREMCDREMINDER"), "ZREMCDREMINDER",
        {"Z_PK", "Z_ENT", "Z_OPT", "ZALLDAY", "ZCOMPLETED", "ZFLAGGED", "ZMARKEDFORDELETION",
         "ZPRIORITY", "ZACCOUNT", "ZLIST", "ZCOMPLETIONDATE", "ZCREATIONDATE", "ZDUEDATE",
         "ZLASTMODIFIEDDATE", "ZCKIDENTIFIER", "ZNOTES", "ZTIMEZONE", "ZTITLE"});
    const std::vector<Task> tasks = MakeTasks(o, rng, static_cast<int>(lists.size()));
    std::int64_t pk = 0;
    for (const Task& t : tasks) {
      ++pk;
      ins.Row({pk, std::int64_t{4}, std::int64_t{2}, std::int64_t{t.allDay ? 1 : 0},
               std::int64_t{t.completed ? 1 : 0}, std::int64_t{pk % 6 == 0 ? 1 : 0},
               std::int64_t{t.markedDeleted ? 1 : 0}, std::int64_t{t.priority}, std::int64_t{1},
               std::int64_t{firstList + t.list - 1},
               t.completed ? Value{static_cast<double>(t.completion) + 0.5} : Value{},
               static_cast<double>(t.created),
               t.hasDue ? Value{static_cast<double>(t.due)} : Value{},
               static_cast<double>(t.created + 600), Guid(rng),
               t.notes.empty() ? Value{} : Value{t.notes}, t.zone.empty() ? Value{} : Value{t.zone},
               t.title});
      rows.push_back(pk);
    }
  }
  if (o.deletedRows && rows.size() >= 6) {
    std::vector<std::int64_t> gone;
    for (std::size_t k = 4; k < rows.size(); k += 6) gone.push_back(rows[k]);
    DeleteRows(db, truth, "ZREMCDREMINDER", gone, "ZTITLE", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 650);
}

}  // namespace

void WriteCalendar(BackupContext& ctx) {
  WriteCalendarDb(ctx);
  if (ctx.version().major >= 13) {
    // The local store and an iCloud account's store.
    WriteRemindersStore(ctx, "Data-local.sqlite", "On My iPhone", {"Reminders", "Errands"},
                        0x4E3D1);
    Prng rng(ctx.options().seed ^ 0x1C10D);
    WriteRemindersStore(ctx, "Data-" + Guid(rng) + ".sqlite", "iCloud",
                        {"Shopping", "Family ❤️", "Work"}, 0x4E3D2);
  }
}

}  // namespace bv::mkbackup
