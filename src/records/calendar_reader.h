#pragma once
// Events of Calendar.sqlitedb (HomeDomain, Library/Calendar/Calendar.sqlitedb), and the
// reminders that iOS 5 to 12 keep in the same file as calendar items of the task kind.
//
// Layouts read (columns located by name, so added or moved columns do not matter):
//   - iOS 5 on: CalendarItem (summary, start_date, start_tz, end_date, all_day,
//     description, url, location_id -> Location.title/address, calendar_id ->
//     Calendar.title, entity_type: 3 marks a task, anything else an event; due_date,
//     due_tz, due_all_day, completion_date and priority for tasks) and Recurrence
//     (owner_id -> CalendarItem, frequency 1-4, interval, count, end_date);
//   - before iOS 5: Event (the same times, location as text), no tasks.
// Times are seconds since 2001; see calendar_time.h for how their zones are read.
// Runs on the scan thread; one object per read.
#include <list>
#include <string>

#include "common/result_codes.h"
#include "records/readonly_db.h"
#include "records/record_types.h"

namespace bv {

// The entity type of a task item in CalendarItem.
inline constexpr std::int32_t kCalendarTaskEntity = 3;

class CalendarReader {
 public:
  // Replaces `events` by the events of the database, in the order of their start
  // (events without a start last), then of their row. Result: the open code of the
  // database, 1006 when it holds no event table or its statement fails, else 0.
  Result ReadEvents(const DatabaseFile& path, std::list<CalendarEventRecord>& events);
  // Replaces `reminders` by the task items, in the order ReminderReader gives. Result:
  // the open code, 1006 when the database has neither the CalendarItem table nor the
  // older Event table, else 0 (a layout without tasks, the older one included, gives
  // none).
  Result ReadTasks(const DatabaseFile& path, std::list<ReminderRecord>& reminders);

  // After either read: why the database could not be read, or only in part (a failing
  // statement included, and a database without the table the read needs).
  const DatabaseIssue& Problem() const { return problem_; }

 private:
  DatabaseIssue problem_;
};

// Orders reminders by list, then due date (undated ones last), then title; stable.
void SortReminders(std::list<ReminderRecord>& reminders);

}  // namespace bv
