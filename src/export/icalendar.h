#pragma once
// iCalendar files (RFC 5545) of recovered events (Calendar.ics, VEVENT) and reminders
// (Reminders.ics, VTODO), for importing them back into a calendar program.
//
//   BEGIN:VCALENDAR / VERSION:2.0 / PRODID / CALSCALE:GREGORIAN
//   one VTIMEZONE per zone that a TZID names (rules from ICU, from the zone's earliest
//   use in the file on)
//   VEVENT: UID, DTSTAMP, DTSTART and DTEND (VALUE=DATE for all-day items, the end being
//   the day after the last; TZID=zone with the wall clock for an item in a named zone;
//   a floating wall clock without zone; UTC with "Z" for an instant without a zone),
//   SUMMARY, LOCATION, DESCRIPTION, URL, CATEGORIES (the calendar), RRULE
//   VTODO: UID, DTSTAMP, SUMMARY, DESCRIPTION, DUE (as DTSTART), STATUS:COMPLETED with
//   COMPLETED (UTC), PRIORITY, CATEGORIES (the list)
//
// Text values are escaped (backslash, semicolon, comma, line breaks as \n; other
// control characters dropped); every line ends with CR LF and is folded at 75 octets
// without cutting a UTF-8 sequence. UIDs are unique within a file: a repeated one gets
// the row number appended. An event without a start that a date can be written for
// cannot be an iCalendar event and is left out (it is still in the HTML and CSV
// documents). Not thread-safe; one object per file.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "records/calendar_time.h"
#include "records/record_types.h"

namespace bv {

// TEXT value escaping of RFC 5545 3.3.11.
std::string IcsEscapeText(std::string_view text);
// One content line folded at 75 octets (continuations start with a blank), with its
// CR LF; a UTF-8 sequence is never cut.
std::string IcsFoldLine(std::string_view line);

class ICalendarWriter {
 public:
  // `nowUnixSeconds` stands for DTSTAMP where a record has no change date.
  explicit ICalendarWriter(std::int64_t nowUnixSeconds);

  // False when the event was left out (no usable start).
  bool AddEvent(const CalendarEventRecord& event);
  void AddTodo(const ReminderRecord& reminder);
  std::size_t Components() const { return components_; }
  std::size_t Skipped() const { return skipped_; }

  // The whole file.
  std::string Document() const;

 private:
  // A property with a date or date-time of a stored time; false when it has none.
  bool TimeProperty(std::vector<std::string>& lines, std::string_view name,
                    std::int64_t appleSeconds, ZoneKind kind, const std::string& zone);
  std::string Stamp(bool hasModified, std::int64_t modifiedSeconds) const;
  std::string Uid(const std::string& stored, const char* kind, std::int64_t rowId);
  void Put(std::vector<std::string>& lines, std::string line) { lines.push_back(std::move(line)); }

  std::int64_t now_;
  CalendarClock clock_;
  std::vector<std::string> body_;              // unfolded lines of the components
  std::map<std::string, std::int64_t> zones_;  // TZID: earliest Unix time it is used for
  std::set<std::string> uids_;
  std::size_t components_ = 0;
  std::size_t skipped_ = 0;
};

}  // namespace bv
