#include "records/calendar_time.h"

#include <limits>

namespace bv {

namespace {

constexpr std::int64_t kDay = 86400;

// "YYYY-MM-DD HH:MM:SS" (wide, as the local formatter gives it) into its fields.
bool ParseDateText(std::string_view text, CivilTime& out) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kShape - 1) return false;
  std::int32_t fields[6] = {};
  int field = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] != 'd') {
      if (text[i] != kShape[i]) return false;
      ++field;
    } else if (text[i] < '0' || text[i] > '9') {
      return false;
    } else {
      fields[field] = fields[field] * 10 + (text[i] - '0');
    }
  }
  out = CivilTime{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
  return true;
}

const char* FrequencyUnit(std::int32_t frequency, bool plural) {
  switch (frequency) {
    case 1:
      return plural ? "days" : "day";
    case 2:
      return plural ? "weeks" : "week";
    case 3:
      return plural ? "months" : "month";
    case 4:
      return plural ? "years" : "year";
    default:
      return nullptr;
  }
}

}  // namespace

bool UnixFromAppleSeconds(std::int64_t appleSeconds, std::int64_t& unixSeconds) {
  if (appleSeconds > std::numeric_limits<std::int64_t>::max() - kAppleEpochOffset) return false;
  unixSeconds = appleSeconds + kAppleEpochOffset;
  return true;
}

ZoneKind CalendarClock::KindOf(std::string_view zoneColumn) {
  if (zoneColumn == kFloatingZone) return ZoneKind::kFloating;
  if (zones_.Known(zoneColumn)) return ZoneKind::kZoned;
  return ZoneKind::kLocal;
}

bool CalendarClock::WallClock(std::int64_t appleSeconds, ZoneKind kind, std::string_view zone,
                              CivilTime& out) {
  std::int64_t unix = 0;
  if (!UnixFromAppleSeconds(appleSeconds, unix)) return false;
  switch (kind) {
    case ZoneKind::kFloating:
      return CivilFromUnix(unix, out);
    case ZoneKind::kZoned: {
      std::int32_t offset = 0;
      if (!zones_.OffsetAt(zone, unix, offset)) return false;
      return CivilFromUnix(unix + offset, out);
    }
    case ZoneKind::kLocal:
      break;
  }
  CivilTime probe;
  if (!CivilFromUnix(unix, probe)) return false;  // outside the years every text uses
  return ParseDateText(local_.FromUnixSeconds(unix), out);
}

std::string CalendarClock::Text(std::int64_t appleSeconds, ZoneKind kind, std::string_view zone,
                                bool dateOnly) {
  CivilTime civil;
  if (!WallClock(appleSeconds, kind, zone, civil)) return {};
  return CivilText(civil, dateOnly);
}

std::string CalendarClock::DayOrTime(std::int64_t appleSeconds, bool allDay, ZoneKind kind,
                                     std::string_view zone) {
  if (!allDay) return Text(appleSeconds, kind, zone);
  return Text(appleSeconds, kind == ZoneKind::kZoned ? kind : ZoneKind::kFloating, zone, true);
}

CivilTime NextDay(const CivilTime& day) {
  CivilTime midnight{day.year, day.month, day.day, 0, 0, 0};
  CivilTime next;
  if (!CivilFromUnix(UnixFromCivil(midnight) + kDay, next)) return midnight;
  return next;
}

CivilTime PreviousDay(const CivilTime& day) {
  CivilTime midnight{day.year, day.month, day.day, 0, 0, 0};
  CivilTime previous;
  if (!CivilFromUnix(UnixFromCivil(midnight) - kDay, previous)) return midnight;
  return previous;
}

bool CalendarClock::AllDayRange(std::int64_t startSeconds, bool hasEnd, std::int64_t endSeconds,
                                ZoneKind kind, std::string_view zone, CivilTime& first,
                                CivilTime& afterLast) {
  // An all-day item has no zone of its own: without a named zone its days are the
  // stored wall clock's.
  const ZoneKind dayKind = kind == ZoneKind::kZoned ? kind : ZoneKind::kFloating;
  CivilTime start;
  if (!WallClock(startSeconds, dayKind, zone, start)) return false;
  first = CivilTime{start.year, start.month, start.day, 0, 0, 0};
  afterLast = NextDay(first);
  CivilTime end;
  if (hasEnd && WallClock(endSeconds, dayKind, zone, end)) {
    const CivilTime endDay{end.year, end.month, end.day, 0, 0, 0};
    const bool atMidnight = end.hour == 0 && end.minute == 0 && end.second == 0;
    const CivilTime after = atMidnight ? endDay : NextDay(endDay);
    if (UnixFromCivil(after) > UnixFromCivil(first)) afterLast = after;
  }
  return true;
}

std::string RecurrenceText(const CalendarRecurrence& rule, ZoneKind kind, std::string_view zone,
                           CalendarClock& clock) {
  const char* unit = FrequencyUnit(rule.frequency, rule.interval > 1);
  if (unit == nullptr) return {};
  std::string text = "Every ";
  if (rule.interval > 1) text += std::to_string(rule.interval) + " ";
  text += unit;
  if (rule.count > 0) {
    text += ", " + std::to_string(rule.count) + (rule.count == 1 ? " time" : " times");
  } else if (rule.hasUntil) {
    const std::string until = clock.Text(rule.untilSeconds, kind, zone, true);
    if (!until.empty()) text += ", until " + until;
  }
  return text;
}

}  // namespace bv
