// Feeds arbitrary record texts, zone names and times to the iCalendar writer: whatever a
// database held, the file must stay well formed: CR LF line ends and nothing else of
// control, lines of at most 75 octets that each hold whole UTF-8 characters.
//
// Input: 24 bytes of numbers (start, end, due as signed 64-bit little-endian), one byte
// of flags, then NUL-separated texts: title, notes, location, zone, uid, calendar.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "export/icalendar.h"

namespace {

std::int64_t Read64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<std::int64_t>(v);
}

bool WholeCharacters(const std::string& s) {
  return bv::ValidUtf8(s) == s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 25) return 0;
  const std::int64_t start = Read64(data), end = Read64(data + 8), due = Read64(data + 16);
  const std::uint8_t flags = data[24];
  std::vector<std::string> texts;
  std::string current;
  for (std::size_t i = 25; i < size; ++i) {
    if (data[i] == 0) {
      texts.push_back(bv::ValidUtf8(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  texts.push_back(bv::ValidUtf8(current));
  texts.resize(6);

  bv::CalendarEventRecord e;
  e.rowId = start;
  e.title = texts[0];
  e.notes = texts[1];
  e.location = texts[2];
  e.timeZone = e.endTimeZone = texts[3];
  e.uid = texts[4];
  e.calendar = texts[5];
  e.url = texts[1];
  e.hasStart = (flags & 1) != 0;
  e.startSeconds = start;
  e.hasEnd = (flags & 2) != 0;
  e.endSeconds = end;
  e.allDay = (flags & 4) != 0;
  e.zoneKind = e.endZoneKind = static_cast<bv::ZoneKind>((flags >> 3) % 3);
  e.repeat.frequency = (flags >> 5) % 5;
  e.repeat.interval = static_cast<std::int32_t>(end % 7);
  e.repeat.hasUntil = (flags & 0x80) != 0;
  e.repeat.untilSeconds = due;
  bv::ReminderRecord r;
  r.title = texts[0];
  r.notes = texts[1];
  r.list = texts[5];
  r.timeZone = texts[3];
  r.uid = texts[4];
  r.hasDue = (flags & 2) != 0;
  r.dueSeconds = due;
  r.allDay = (flags & 4) != 0;
  r.zoneKind = e.zoneKind;
  r.completed = flags & 1;
  r.hasCompletion = (flags & 0x40) != 0;
  r.completionSeconds = end;
  r.priority = static_cast<std::int32_t>(due % 12);

  bv::ICalendarWriter writer(1600000000);
  writer.AddEvent(e);
  writer.AddEvent(e);  // the same UID twice
  writer.AddTodo(r);
  const std::string doc = writer.Document();
  std::size_t at = 0;
  while (at < doc.size()) {
    const std::size_t cr = doc.find("\r\n", at);
    if (cr == std::string::npos) __builtin_trap();  // a line without CR LF
    const std::string line = doc.substr(at, cr - at);
    if (line.size() > 75 || !WholeCharacters(line)) __builtin_trap();
    for (unsigned char c : line)
      if ((c < 0x20 && c != '\t') || c == 0x7F) __builtin_trap();
    at = cr + 2;
  }
  return 0;
}
