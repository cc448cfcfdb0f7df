#include "records/calendar_reader.h"

#include <map>

#include "records/calendar_time.h"
#include "records/item_tables.h"
#include "records/readonly_db.h"

namespace bv {

namespace {

// Columns of the event and task statements, in this order.
enum EventColumn {
  kRowId,
  kTitle,
  kStart,
  kStartZone,
  kEnd,
  kEndZone,
  kAllDay,
  kNotes,
  kUrl,
  kCalendarTitle,
  kLocationTitle,
  kLocationAddress,
  kUid,
  kModified,
  kCreated,
};
enum TaskColumn {
  kTaskRowId,
  kTaskTitle,
  kTaskNotes,
  kTaskDue,
  kTaskDueZone,
  kTaskDueAllDay,
  kTaskCompletion,
  kTaskPriority,
  kTaskList,
  kTaskUid,
  kTaskModified,
  kTaskCreated,
};

// The item table's statement over whichever layout the database has; empty when it
// has no item table. `modern` tells the layout with entity types and tasks.
std::string EventStatement(ReadOnlyDatabase& db, bool& modern, TableColumns& items) {
  items = TableColumns(db, "CalendarItem");
  modern = items.Exists();
  if (!modern) items = TableColumns(db, "Event");
  if (!items.Exists()) return {};
  const TableColumns calendars(db, "Calendar");
  const TableColumns locations(db, "Location");
  const bool joinCalendar = calendars.Has("title") && items.Has("calendar_id");
  const bool joinLocation = modern && locations.Has("ROWID") && items.Has("location_id");
  std::string sql = "SELECT ci.ROWID, " + items.Select("ci", {"summary", "title"}) + ", " +
                    items.Select("ci", {"start_date"}) + ", " + items.Select("ci", {"start_tz"}) +
                    ", " + items.Select("ci", {"end_date"}) + ", " +
                    items.Select("ci", {"end_tz"}) + ", " + items.Select("ci", {"all_day"}) + ", " +
                    items.Select("ci", {"description", "notes"}) + ", " +
                    items.Select("ci", {"url"}) + ", " +
                    (joinCalendar ? std::string("c.\"title\"") : std::string("NULL")) + ", ";
  if (joinLocation) {
    sql += locations.Select("l", {"title"}) + ", " + locations.Select("l", {"address"}) + ", ";
  } else {
    sql += items.Select("ci", {"location"}) + ", NULL, ";
  }
  sql += items.Select("ci", {"unique_identifier", "UUID"}) + ", " +
         items.Select("ci", {"last_modified"}) + ", " + items.Select("ci", {"creation_date"}) +
         " FROM " + QuoteIdentifier(modern ? "CalendarItem" : "Event") + " AS ci";
  if (joinCalendar) sql += " LEFT JOIN \"Calendar\" AS c ON c.ROWID = ci.\"calendar_id\"";
  if (joinLocation) sql += " LEFT JOIN \"Location\" AS l ON l.ROWID = ci.\"location_id\"";
  if (modern && items.Has("entity_type"))
    sql += " WHERE ci.\"entity_type\" IS NULL OR ci.\"entity_type\" <> " +
           std::to_string(kCalendarTaskEntity);
  return sql + ";";
}

struct RuleRows {
  std::map<std::int64_t, CalendarRecurrence> byOwner;
};

int RuleRow(void* context, StatementRow& row) {
  auto* rules = static_cast<RuleRows*>(context);
  const std::int64_t owner = row.Int64(0);
  if (rules->byOwner.count(owner) != 0) return 0;  // the first rule of an item counts
  CalendarRecurrence rule;
  rule.frequency = row.Int32(1);
  if (rule.frequency < 1 || rule.frequency > 4) return 0;
  rule.interval = row.Int32(2);
  if (rule.interval < 1) rule.interval = 1;
  rule.count = row.Int32(3);
  if (rule.count < 0) rule.count = 0;
  std::int64_t until = 0;
  if (row.WholeSeconds(4, until)) {
    rule.hasUntil = true;
    rule.untilSeconds = until;
  }
  rules->byOwner.emplace(owner, rule);
  return 0;
}

// The repeat rules of the items, by the row of their item.
std::map<std::int64_t, CalendarRecurrence> ReadRules(ReadOnlyDatabase& db) {
  RuleRows rules;
  const TableColumns columns(db, "Recurrence");
  const std::string owner = columns.First({"owner_id", "event_id"});
  if (owner.empty() || !columns.Has("frequency")) return {};
  const std::string sql =
      "SELECT r." + QuoteIdentifier(owner) + ", r.\"frequency\", " +
      columns.Select("r", {"interval"}) + ", " + columns.Select("r", {"count"}) + ", " +
      columns.Select("r", {"end_date"}) + " FROM \"Recurrence\" AS r ORDER BY r.ROWID;";
  db.Each(sql.c_str(), RuleRow, &rules);
  return std::move(rules.byOwner);
}

struct EventRows {
  CalendarClock clock;
  std::map<std::int64_t, CalendarRecurrence> rules;
  std::list<CalendarEventRecord> events;
};

// The seconds of a date column; false for NULL.
bool Seconds(const StatementRow& row, int column, std::int64_t& seconds) {
  return row.WholeSeconds(column, seconds);
}

int EventRow(void* context, StatementRow& row) {
  auto* rows = static_cast<EventRows*>(context);
  CalendarEventRecord e;
  e.rowId = row.Int64(kRowId);
  e.title = TextOf(row, kTitle);
  e.timeZone = TextOf(row, kStartZone);
  e.zoneKind = rows->clock.KindOf(e.timeZone);
  e.allDay = row.Int32(kAllDay) != 0 ? 1 : 0;
  e.hasStart = Seconds(row, kStart, e.startSeconds);
  e.hasEnd = Seconds(row, kEnd, e.endSeconds);
  e.endTimeZone = TextOf(row, kEndZone);
  if (e.endTimeZone.empty()) e.endTimeZone = e.timeZone;
  e.endZoneKind = rows->clock.KindOf(e.endTimeZone);
  e.notes = TextOf(row, kNotes);
  e.url = TextOf(row, kUrl);
  e.calendar = TextOf(row, kCalendarTitle);
  e.location = TextOf(row, kLocationTitle);
  const std::string address = TextOf(row, kLocationAddress);
  if (e.location.empty()) {
    e.location = address;
  } else if (!address.empty() && address != e.location) {
    e.location += ", " + address;
  }
  e.uid = TextOf(row, kUid);
  e.hasModified =
      Seconds(row, kModified, e.modifiedSeconds) || Seconds(row, kCreated, e.modifiedSeconds);

  CalendarClock& clock = rows->clock;
  if (e.allDay != 0 && e.hasStart) {
    CivilTime first, afterLast;
    if (clock.AllDayRange(e.startSeconds, e.hasEnd, e.endSeconds, e.zoneKind, e.timeZone, first,
                          afterLast)) {
      e.start = CivilText(first, true);
      e.end = CivilText(PreviousDay(afterLast), true);
    }
  } else {
    if (e.hasStart) e.start = clock.Text(e.startSeconds, e.zoneKind, e.timeZone);
    if (e.hasEnd) e.end = clock.Text(e.endSeconds, e.endZoneKind, e.endTimeZone);
  }
  if (auto rule = rows->rules.find(e.rowId); rule != rows->rules.end()) {
    e.repeat = rule->second;
    e.recurrence = RecurrenceText(e.repeat, e.allDay != 0 ? ZoneKind::kFloating : e.zoneKind,
                                  e.timeZone, clock);
  }
  rows->events.push_back(std::move(e));
  return 0;
}

struct TaskRows {
  CalendarClock clock;
  std::list<ReminderRecord> reminders;
};

int TaskRow(void* context, StatementRow& row) {
  auto* rows = static_cast<TaskRows*>(context);
  ReminderRecord r;
  r.rowId = row.Int64(kTaskRowId);
  r.title = TextOf(row, kTaskTitle);
  r.notes = TextOf(row, kTaskNotes);
  r.list = TextOf(row, kTaskList);
  r.uid = TextOf(row, kTaskUid);
  r.priority = row.Int32(kTaskPriority);
  if (r.priority < 0 || r.priority > 9) r.priority = 0;
  r.timeZone = TextOf(row, kTaskDueZone);
  r.zoneKind = rows->clock.KindOf(r.timeZone);
  r.allDay = row.Int32(kTaskDueAllDay) != 0 ? 1 : 0;
  r.hasDue = Seconds(row, kTaskDue, r.dueSeconds);
  if (r.hasDue) r.due = rows->clock.DayOrTime(r.dueSeconds, r.allDay != 0, r.zoneKind, r.timeZone);
  r.hasCompletion = Seconds(row, kTaskCompletion, r.completionSeconds);
  r.completed = r.hasCompletion ? 1 : 0;
  if (r.hasCompletion)
    r.completionDate = rows->clock.Text(r.completionSeconds, ZoneKind::kLocal, {});
  r.hasModified = Seconds(row, kTaskModified, r.modifiedSeconds) ||
                  Seconds(row, kTaskCreated, r.modifiedSeconds);
  rows->reminders.push_back(std::move(r));
  return 0;
}

}  // namespace

Result CalendarReader::ReadEvents(const DatabaseFile& path,
                                  std::list<CalendarEventRecord>& events) {
  events.clear();
  problem_ = {};
  ReadOnlyDatabase db;
  const int rc = db.Open(path);
  problem_ = db.Issue();
  if (rc != 0) return rc;
  bool modern = false;
  TableColumns items;
  const std::string sql = EventStatement(db, modern, items);
  if (sql.empty()) {
    problem_ = MissingTableIssue(db, "CalendarItem");
    return kQueryFailed;
  }
  EventRows rows;
  rows.rules = ReadRules(db);
  const bool failed = db.Each(sql.c_str(), EventRow, &rows);
  rows.events.sort([](const CalendarEventRecord& a, const CalendarEventRecord& b) {
    if (a.hasStart != b.hasStart) return a.hasStart;
    if (a.hasStart && a.startSeconds != b.startSeconds) return a.startSeconds < b.startSeconds;
    return a.rowId < b.rowId;
  });
  events.swap(rows.events);
  problem_ = db.Issue();
  return failed ? kQueryFailed : kSuccess;
}

Result CalendarReader::ReadTasks(const DatabaseFile& path, std::list<ReminderRecord>& reminders) {
  reminders.clear();
  problem_ = {};
  ReadOnlyDatabase db;
  const int rc = db.Open(path);
  problem_ = db.Issue();
  if (rc != 0) return rc;
  const TableColumns items(db, "CalendarItem");
  if (!items.Exists()) {
    // Before iOS 5 the database held events alone: no reminders to read, none lost.
    if (db.Issue().Ok() && TableColumns(db, "Event").Exists()) return kSuccess;
    problem_ = MissingTableIssue(db, "CalendarItem");
    return kQueryFailed;
  }
  if (!items.Has("entity_type")) return kSuccess;  // no task items in this layout
  const TableColumns calendars(db, "Calendar");
  const bool joinCalendar = calendars.Has("title") && items.Has("calendar_id");
  std::string sql =
      "SELECT ci.ROWID, " + items.Select("ci", {"summary", "title"}) + ", " +
      items.Select("ci", {"description", "notes"}) + ", " + items.Select("ci", {"due_date"}) +
      ", " + items.Select("ci", {"due_tz"}) + ", " + items.Select("ci", {"due_all_day"}) + ", " +
      items.Select("ci", {"completion_date"}) + ", " + items.Select("ci", {"priority"}) + ", " +
      (joinCalendar ? std::string("c.\"title\"") : std::string("NULL")) + ", " +
      items.Select("ci", {"unique_identifier", "UUID"}) + ", " +
      items.Select("ci", {"last_modified"}) + ", " + items.Select("ci", {"creation_date"}) +
      " FROM \"CalendarItem\" AS ci";
  if (joinCalendar) sql += " LEFT JOIN \"Calendar\" AS c ON c.ROWID = ci.\"calendar_id\"";
  sql += " WHERE ci.\"entity_type\" = " + std::to_string(kCalendarTaskEntity) + ";";
  TaskRows rows;
  const bool failed = db.Each(sql.c_str(), TaskRow, &rows);
  SortReminders(rows.reminders);
  reminders.swap(rows.reminders);
  problem_ = db.Issue();
  return failed ? kQueryFailed : kSuccess;
}

void SortReminders(std::list<ReminderRecord>& reminders) {
  reminders.sort([](const ReminderRecord& a, const ReminderRecord& b) {
    if (a.list != b.list) return a.list < b.list;
    if (a.hasDue != b.hasDue) return a.hasDue;
    if (a.hasDue && a.dueSeconds != b.dueSeconds) return a.dueSeconds < b.dueSeconds;
    return a.title < b.title;
  });
}

}  // namespace bv
