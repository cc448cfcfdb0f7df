#pragma once
// The times of calendar items and reminders as the phone stores them: seconds since
// 2001-01-01 00:00:00 UTC (REAL or INTEGER) beside a zone column. A named zone makes
// the value an instant shown in that zone; "_float" makes it a wall clock that was
// stored as if it were UTC (all-day items, floating events); without a usable zone the
// instant is shown in this computer's zone, as the other readers show their dates.
// One object per read or document; not thread-safe.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/time_zone.h"
#include "records/date_text.h"
#include "records/record_types.h"

namespace bv {

// The zone column value of a floating time.
inline constexpr std::string_view kFloatingZone = "_float";

// Seconds since 2001 to seconds since 1970; false when that leaves the range.
bool UnixFromAppleSeconds(std::int64_t appleSeconds, std::int64_t& unixSeconds);

class CalendarClock {
 public:
  ZoneKind KindOf(std::string_view zoneColumn);
  // The wall clock of a stored time. For kLocal, this computer's zone. False when the
  // value leaves the years 1 to 9999.
  bool WallClock(std::int64_t appleSeconds, ZoneKind kind, std::string_view zone, CivilTime& out);
  // "YYYY-MM-DD HH:MM:SS", or the date alone; empty when WallClock fails.
  std::string Text(std::int64_t appleSeconds, ZoneKind kind, std::string_view zone,
                   bool dateOnly = false);
  // The days of an all-day item: its first day and the day after its last (its end
  // as iCalendar counts it, never before the day after its first). The phone marks the
  // end either by the last second of the last day or by the midnight after it; both
  // give the same days here.
  bool AllDayRange(std::int64_t startSeconds, bool hasEnd, std::int64_t endSeconds, ZoneKind kind,
                   std::string_view zone, CivilTime& first, CivilTime& afterLast);
  // A due date or a reminder's day: the date alone for an all-day value (read as the
  // days of an all-day event), else the wall clock.
  std::string DayOrTime(std::int64_t appleSeconds, bool allDay, ZoneKind kind,
                        std::string_view zone);
  ZoneTable& Zones() { return zones_; }

 private:
  ZoneTable zones_;
  LocalTimeFormatter local_;
};

// The civil day after `day`.
CivilTime NextDay(const CivilTime& day);
CivilTime PreviousDay(const CivilTime& day);

// "Every day", "Every 2 weeks", then ", 10 times" or ", until 2021-05-01" (the end's
// date read as the event's own times are); empty when the event does not repeat.
std::string RecurrenceText(const CalendarRecurrence& rule, ZoneKind kind, std::string_view zone,
                           CalendarClock& clock);

}  // namespace bv
