#include "export/icalendar.h"

#include <cstdio>

#include "common/time_zone.h"

namespace bv {

namespace {

constexpr std::size_t kLineOctets = 75;

const char* FrequencyName(std::int32_t frequency) {
  switch (frequency) {
    case 1:
      return "DAILY";
    case 2:
      return "WEEKLY";
    case 3:
      return "MONTHLY";
    case 4:
      return "YEARLY";
    default:
      return nullptr;
  }
}

std::string DateValue(const CivilTime& c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", c.year, c.month, c.day);
  return buf;
}

std::string DateTimeValue(const CivilTime& c, bool utc) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d%s", c.year, c.month, c.day, c.hour,
                c.minute, c.second, utc ? "Z" : "");
  return buf;
}

// A parameter value: quoted when it holds a character that would end it.
std::string ParamValue(std::string_view value) {
  std::string out;
  bool quote = false;
  for (char c : value) {
    if (c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) continue;
    if (c == ':' || c == ';' || c == ',') quote = true;
    out += c;
  }
  return quote ? "\"" + out + "\"" : out;
}

// A URI value: bytes that a URI may not hold literally are percent-encoded.
std::string UriValue(std::string_view uri) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : uri) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
        c == '`' || c == '{' || c == '|' || c == '}') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A stored UID as a TEXT value: control characters dropped, nothing escaped away.
std::string CleanUid(std::string_view uid) {
  std::string out;
  for (char c : uid)
    if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
  return out;
}

}  // namespace

std::string IcsEscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case ';':
        out += "\\;";
        break;
      case ',':
        out += "\\,";
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += c;
        break;
      default:
        // Other control characters may not appear in a text value.
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
        break;
    }
  }
  return out;
}

std::string IcsFoldLine(std::string_view line) {
  std::string out;
  out.reserve(line.size() + line.size() / kLineOctets * 3 + 2);
  std::size_t limit = kLineOctets;  // the first line; continuations lose one to the blank
  while (line.size() > limit) {
    std::size_t cut = limit;
    // Never between the bytes of one character.
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    if (cut == 0) cut = limit;  // not UTF-8 at all: cut where the limit is
    out.append(line.substr(0, cut));
    out += "\r\n ";
    line.remove_prefix(cut);
    limit = kLineOctets - 1;
  }
  out.append(line);
  out += "\r\n";
  return out;
}

ICalendarWriter::ICalendarWriter(std::int64_t nowUnixSeconds) : now_(nowUnixSeconds) {}

std::string ICalendarWriter::Stamp(bool hasModified, std::int64_t modifiedSeconds) const {
  CivilTime c;
  std::int64_t unix = 0;
  if (hasModified && UnixFromAppleSeconds(modifiedSeconds, unix) && CivilFromUnix(unix, c))
    return DateTimeValue(c, true);
  if (!CivilFromUnix(now_, c)) c = CivilTime{};
  return DateTimeValue(c, true);
}

std::string ICalendarWriter::Uid(const std::string& stored, const char* kind, std::int64_t rowId) {
  std::string uid = CleanUid(stored);
  if (uid.empty()) uid = std::string("backvault-") + kind + "-" + std::to_string(rowId);
  // Several rows of one item (a repeating event and its changed occurrences) share it.
  if (!uids_.insert(uid).second) {
    const std::string base = uid + "-" + std::to_string(rowId);
    uid = base;
    for (int n = 2; !uids_.insert(uid).second; ++n) uid = base + "-" + std::to_string(n);
  }
  return IcsEscapeText(uid);
}

bool ICalendarWriter::TimeProperty(std::vector<std::string>& lines, std::string_view name,
                                   std::int64_t appleSeconds, ZoneKind kind,
                                   const std::string& zone) {
  CivilTime c;
  std::int64_t unix = 0;
  if (!UnixFromAppleSeconds(appleSeconds, unix)) return false;
  switch (kind) {
    case ZoneKind::kZoned: {
      if (!clock_.WallClock(appleSeconds, kind, zone, c)) return false;
      auto [it, added] = zones_.emplace(zone, unix);
      if (!added && unix < it->second) it->second = unix;
      Put(lines, std::string(name) + ";TZID=" + ParamValue(zone) + ":" + DateTimeValue(c, false));
      return true;
    }
    case ZoneKind::kFloating:
      if (!clock_.WallClock(appleSeconds, kind, zone, c)) return false;
      Put(lines, std::string(name) + ":" + DateTimeValue(c, false));
      return true;
    case ZoneKind::kLocal:
      break;
  }
  // An instant without a zone: written as UTC, which every reader places right.
  if (!CivilFromUnix(unix, c)) return false;
  Put(lines, std::string(name) + ":" + DateTimeValue(c, true));
  return true;
}

bool ICalendarWriter::AddEvent(const CalendarEventRecord& e) {
  std::vector<std::string> lines;
  lines.push_back("BEGIN:VEVENT");
  lines.push_back("UID:" + Uid(e.uid, "event", e.rowId));
  lines.push_back("DTSTAMP:" + Stamp(e.hasModified, e.modifiedSeconds));
  bool started = false;
  ZoneKind untilKind = e.zoneKind;
  bool untilAsDate = false;
  if (e.hasStart && e.allDay != 0) {
    CivilTime first, afterLast;
    if (clock_.AllDayRange(e.startSeconds, e.hasEnd, e.endSeconds, e.zoneKind, e.timeZone, first,
                           afterLast)) {
      lines.push_back("DTSTART;VALUE=DATE:" + DateValue(first));
      lines.push_back("DTEND;VALUE=DATE:" + DateValue(afterLast));
      started = true;
      untilAsDate = true;
      if (untilKind != ZoneKind::kZoned) untilKind = ZoneKind::kFloating;
    }
  } else if (e.hasStart) {
    started = TimeProperty(lines, "DTSTART", e.startSeconds, e.zoneKind, e.timeZone);
    // An end at or before the start would make the file invalid; without it the event
    // is a moment.
    if (started && e.hasEnd && e.endSeconds > e.startSeconds)
      TimeProperty(lines, "DTEND", e.endSeconds, e.endZoneKind, e.endTimeZone);
  }
  if (!started) {
    ++skipped_;
    return false;
  }
  if (!e.title.empty()) lines.push_back("SUMMARY:" + IcsEscapeText(e.title));
  if (!e.location.empty()) lines.push_back("LOCATION:" + IcsEscapeText(e.location));
  if (!e.notes.empty()) lines.push_back("DESCRIPTION:" + IcsEscapeText(e.notes));
  if (!e.url.empty()) lines.push_back("URL:" + UriValue(e.url));
  if (!e.calendar.empty()) lines.push_back("CATEGORIES:" + IcsEscapeText(e.calendar));
  if (const char* frequency = FrequencyName(e.repeat.frequency)) {
    std::string rule = std::string("RRULE:FREQ=") + frequency;
    if (e.repeat.interval > 1) rule += ";INTERVAL=" + std::to_string(e.repeat.interval);
    bool valid = true;
    if (e.repeat.count > 0) {
      rule += ";COUNT=" + std::to_string(e.repeat.count);
    } else if (e.repeat.hasUntil) {
      // UNTIL takes the form of the start: a date, a floating time, or UTC.
      CivilTime c;
      std::int64_t unix = 0;
      if (untilAsDate) {
        valid = clock_.WallClock(e.repeat.untilSeconds, untilKind, e.timeZone, c);
        if (valid) rule += ";UNTIL=" + DateValue(c);
      } else if (untilKind == ZoneKind::kFloating) {
        valid = clock_.WallClock(e.repeat.untilSeconds, untilKind, e.timeZone, c);
        if (valid) rule += ";UNTIL=" + DateTimeValue(c, false);
      } else {
        valid = UnixFromAppleSeconds(e.repeat.untilSeconds, unix) && CivilFromUnix(unix, c);
        if (valid) rule += ";UNTIL=" + DateTimeValue(c, true);
      }
    }
    // A rule whose end cannot be written would repeat the event for ever: leave it out.
    if (valid) lines.push_back(rule);
  }
  lines.push_back("END:VEVENT");
  for (std::string& line : lines) body_.push_back(std::move(line));
  ++components_;
  return true;
}

void ICalendarWriter::AddTodo(const ReminderRecord& r) {
  std::vector<std::string> lines;
  lines.push_back("BEGIN:VTODO");
  lines.push_back("UID:" + Uid(r.uid, "reminder", r.rowId));
  lines.push_back("DTSTAMP:" + Stamp(r.hasModified, r.modifiedSeconds));
  if (!r.title.empty()) lines.push_back("SUMMARY:" + IcsEscapeText(r.title));
  if (!r.notes.empty()) lines.push_back("DESCRIPTION:" + IcsEscapeText(r.notes));
  if (r.hasDue) {
    if (r.allDay != 0) {
      CivilTime c;
      const ZoneKind dayKind = r.zoneKind == ZoneKind::kZoned ? r.zoneKind : ZoneKind::kFloating;
      if (clock_.WallClock(r.dueSeconds, dayKind, r.timeZone, c))
        lines.push_back("DUE;VALUE=DATE:" + DateValue(c));
    } else {
      TimeProperty(lines, "DUE", r.dueSeconds, r.zoneKind, r.timeZone);
    }
  }
  if (r.completed != 0) {
    lines.push_back("STATUS:COMPLETED");
    CivilTime c;
    std::int64_t unix = 0;
    if (r.hasCompletion && UnixFromAppleSeconds(r.completionSeconds, unix) &&
        CivilFromUnix(unix, c))
      lines.push_back("COMPLETED:" + DateTimeValue(c, true));
  } else {
    lines.push_back("STATUS:NEEDS-ACTION");
  }
  if (r.priority >= 1 && r.priority <= 9) lines.push_back("PRIORITY:" + std::to_string(r.priority));
  if (!r.list.empty()) lines.push_back("CATEGORIES:" + IcsEscapeText(r.list));
  lines.push_back("END:VTODO");
  for (std::string& line : lines) body_.push_back(std::move(line));
  ++components_;
}

std::string ICalendarWriter::Document() const {
  std::string out;
  auto put = [&out](std::string_view line) { out += IcsFoldLine(line); };
  put("BEGIN:VCALENDAR");
  put("VERSION:2.0");
  put("PRODID:-//Tarnwick//Backvault Pro//EN");
  put("CALSCALE:GREGORIAN");
  for (const auto& [zone, from] : zones_) {
    // ICU writes the observances that begin after `from`; a year earlier, both onsets of
    // a yearly rule come before the first time of the zone in the file, so no time of
    // it falls before every onset.
    const std::vector<std::string> lines = VTimeZoneLines(zone, from - 366 * 86400);
    for (const std::string& line : lines) {
      // The TZID as the events name it, whatever spelling the zone data prefers.
      if (line.rfind("TZID:", 0) == 0)
        put("TZID:" + IcsEscapeText(zone));
      else
        put(line);
    }
  }
  for (const std::string& line : body_) put(line);
  put("END:VCALENDAR");
  return out;
}

}  // namespace bv
