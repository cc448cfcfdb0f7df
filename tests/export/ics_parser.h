#pragma once
// A strict reader of iCalendar files (RFC 5545) for the tests: it refuses what a
// careful importer could refuse, so a file that passes here imports anywhere.
//   - UTF-8 throughout; every line ends with CR LF; no bare CR or LF;
//   - physical lines of at most 75 octets, each valid UTF-8 on its own (a fold never
//     cuts a character); continuation lines start with one blank;
//   - content lines: name *(";" param) ":" value, names of letters, digits and "-",
//     parameter values plain (no control, quote, ";", ":" or ",") or quoted;
//   - components nest (BEGIN/END match), one VCALENDAR with VERSION:2.0 and PRODID;
//   - TEXT values: only \\ \; \, \n \N escapes, no bare ";" (nor "," outside list
//     values), no control characters but tab;
//   - VEVENT/VTODO: one UID and one DTSTAMP (UTC); dates and date-times well formed;
//     DTSTART of VEVENT present; DTEND of the same type and after DTSTART; every TZID
//     names a VTIMEZONE of the file; RRULE with FREQ and an UNTIL of DTSTART's form;
//     COMPLETED in UTC, PRIORITY 0-9, STATUS of the component's set.
// Parse throws std::runtime_error naming the line and the rule broken.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bv::test {

struct IcsProperty {
  std::string name;
  std::map<std::string, std::string> params;
  std::string value;         // raw
  std::string Text() const;  // TEXT value unescaped
};

struct IcsComponent {
  std::string name;
  std::vector<IcsProperty> properties;
  std::vector<IcsComponent> children;

  const IcsProperty* Find(const std::string& property) const {
    for (const IcsProperty& p : properties)
      if (p.name == property) return &p;
    return nullptr;
  }
  std::size_t Count(const std::string& property) const {
    std::size_t n = 0;
    for (const IcsProperty& p : properties) n += p.name == property;
    return n;
  }
  // The unescaped text of a property, empty when absent.
  std::string Text(const std::string& property) const {
    const IcsProperty* p = Find(property);
    return p ? p->Text() : std::string();
  }
};

namespace ics_detail {

[[noreturn]] inline void Fail(std::size_t line, const std::string& what) {
  throw std::runtime_error("line " + std::to_string(line) + ": " + what);
}

inline bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t extra;
    if (c < 0x80)
      extra = 0;
    else if (c >= 0xC2 && c <= 0xDF)
      extra = 1;
    else if ((c & 0xF0) == 0xE0)
      extra = 2;
    else if (c >= 0xF0 && c <= 0xF4)
      extra = 3;
    else
      return false;
    if (s.size() - i < 1 + extra) return false;
    for (std::size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += 1 + extra;
  }
  return true;
}

inline bool Digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

// "YYYYMMDD"
inline bool IsDate(std::string_view v) {
  if (v.size() != 8 || !Digits(v)) return false;
  const int m = std::stoi(std::string(v.substr(4, 2))), d = std::stoi(std::string(v.substr(6, 2)));
  return m >= 1 && m <= 12 && d >= 1 && d <= 31;
}
// "YYYYMMDDTHHMMSS" with an optional "Z".
inline bool IsDateTime(std::string_view v, bool* utc = nullptr) {
  const bool z = !v.empty() && v.back() == 'Z';
  if (z) v.remove_suffix(1);
  if (v.size() != 15 || v[8] != 'T' || !IsDate(v.substr(0, 8)) || !Digits(v.substr(9)))
    return false;
  const int h = std::stoi(std::string(v.substr(9, 2))),
            mi = std::stoi(std::string(v.substr(11, 2))),
            s = std::stoi(std::string(v.substr(13, 2)));
  if (h > 23 || mi > 59 || s > 60) return false;
  if (utc) *utc = z;
  return true;
}

inline void CheckText(std::size_t line, std::string_view v, bool list) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(v[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) Fail(line, "control character in a text value");
    if (c == ';' || (c == ',' && !list)) Fail(line, "unescaped separator in a text value");
    if (c == '\\') {
      if (i + 1 >= v.size()) Fail(line, "backslash at the end of a text value");
      const char n = v[i + 1];
      if (n != '\\' && n != ';' && n != ',' && n != 'n' && n != 'N')
        Fail(line, std::string("unknown escape \\") + n);
      ++i;
    }
  }
}

}  // namespace ics_detail

inline std::string IcsProperty::Text() const {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char n = value[++i];
      out += (n == 'n' || n == 'N') ? '\n' : n;
    } else {
      out += value[i];
    }
  }
  return out;
}

// The whole file: one VCALENDAR component.
inline IcsComponent ParseIcs(const std::string& bytes) {
  using namespace ics_detail;
  if (!ValidUtf8(bytes)) Fail(0, "not UTF-8");
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) Fail(0, "byte-order mark");
  // Physical lines.
  std::vector<std::string> physical;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t cr = bytes.find('\r', start);
    const std::size_t lf = bytes.find('\n', start);
    if (cr == std::string::npos || lf != cr + 1 || lf < cr)
      Fail(physical.size() + 1, "line not ended by CR LF");
    std::string line = bytes.substr(start, cr - start);
    if (line.find('\n') != std::string::npos) Fail(physical.size() + 1, "bare LF");
    if (line.size() > 75) Fail(physical.size() + 1, "longer than 75 octets");
    if (!ValidUtf8(line)) Fail(physical.size() + 1, "a fold cuts a character");
    physical.push_back(std::move(line));
    start = lf + 1;
  }
  // Logical lines.
  std::vector<std::pair<std::size_t, std::string>> logical;
  for (std::size_t i = 0; i < physical.size(); ++i) {
    const std::string& l = physical[i];
    if (!l.empty() && (l[0] == ' ' || l[0] == '\t')) {
      if (logical.empty()) Fail(i + 1, "continuation without a line");
      logical.back().second += l.substr(1);
    } else {
      if (l.empty()) Fail(i + 1, "empty line");
      logical.push_back({i + 1, l});
    }
  }
  // Content lines into components.
  std::vector<IcsComponent> stack;
  IcsComponent root;
  bool done = false;
  for (const auto& [n, text] : logical) {
    if (done) Fail(n, "content after END:VCALENDAR");
    IcsProperty p;
    std::size_t i = 0;
    while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '-'))
      p.name += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
    if (p.name.empty()) Fail(n, "no property name");
    while (i < text.size() && text[i] == ';') {
      ++i;
      std::string key;
      while (i < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '-'))
        key += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
      if (key.empty() || i >= text.size() || text[i] != '=') Fail(n, "bad parameter");
      ++i;
      std::string value;
      if (i < text.size() && text[i] == '"') {
        const std::size_t close = text.find('"', i + 1);
        if (close == std::string::npos) Fail(n, "unclosed quoted parameter");
        value = text.substr(i + 1, close - i - 1);
        for (unsigned char c : value)
          if (c < 0x20 && c != '\t') Fail(n, "control character in a parameter");
        i = close + 1;
      } else {
        while (i < text.size() && text[i] != ';' && text[i] != ':') {
          const unsigned char c = static_cast<unsigned char>(text[i]);
          if (c < 0x20 || c == '"' || c == ',' || c == 0x7F) Fail(n, "unsafe parameter text");
          value += text[i++];
        }
      }
      p.params[key] = value;
    }
    if (i >= text.size() || text[i] != ':') Fail(n, "no ':' after the name");
    p.value = text.substr(i + 1);
    if (p.name == "BEGIN") {
      stack.push_back(IcsComponent{p.value, {}, {}});
      continue;
    }
    if (p.name == "END") {
      if (stack.empty() || stack.back().name != p.value) Fail(n, "END does not match BEGIN");
      IcsComponent c = std::move(stack.back());
      stack.pop_back();
      if (stack.empty()) {
        if (c.name != "VCALENDAR") Fail(n, "outermost component is not VCALENDAR");
        root = std::move(c);
        done = true;
      } else {
        stack.back().children.push_back(std::move(c));
      }
      continue;
    }
    if (stack.empty()) Fail(n, "property outside any component");
    static const std::set<std::string> kText = {"SUMMARY", "LOCATION", "DESCRIPTION",
                                                "UID",     "TZNAME",   "PRODID"};
    if (kText.count(p.name)) CheckText(n, p.value, false);
    if (p.name == "CATEGORIES") CheckText(n, p.value, true);
    stack.back().properties.push_back(std::move(p));
  }
  if (!done || !stack.empty()) Fail(logical.size(), "file does not end with END:VCALENDAR");
  if (logical.front().second != "BEGIN:VCALENDAR") Fail(1, "does not begin with BEGIN:VCALENDAR");
  if (root.Count("VERSION") != 1 || root.Find("VERSION")->value != "2.0") Fail(0, "VERSION");
  if (root.Count("PRODID") != 1) Fail(0, "PRODID");

  // Components.
  std::set<std::string> zones;
  std::map<std::string, std::string> firstOnset;  // TZID: its earliest observance
  for (const IcsComponent& c : root.children) {
    if (c.name != "VTIMEZONE") continue;
    if (c.Count("TZID") != 1) Fail(0, "VTIMEZONE without one TZID");
    std::size_t observances = 0;
    for (const IcsComponent& o : c.children) {
      if (o.name != "STANDARD" && o.name != "DAYLIGHT") Fail(0, "unknown VTIMEZONE part");
      if (o.Count("DTSTART") != 1 || o.Count("TZOFFSETFROM") != 1 || o.Count("TZOFFSETTO") != 1)
        Fail(0, "observance without DTSTART or offsets");
      if (!IsDateTime(o.Find("DTSTART")->value)) Fail(0, "observance DTSTART");
      ++observances;
    }
    if (observances == 0) Fail(0, "VTIMEZONE without observances");
    zones.insert(c.Find("TZID")->value);
    std::string first = "99999999T999999";
    for (const IcsComponent& o : c.children) first = std::min(first, o.Find("DTSTART")->value);
    firstOnset[c.Find("TZID")->value] = first;
  }
  // A DATE or DATE-TIME property: its form, checked against its parameters.
  struct When {
    bool date = false, utc = false, zoned = false;
    std::string value;
  };
  auto when = [&](const IcsProperty& p) {
    When w;
    w.value = p.value;
    auto type = p.params.find("VALUE");
    if (type != p.params.end() && type->second == "DATE") {
      if (!IsDate(p.value)) Fail(0, p.name + " is no date: " + p.value);
      if (p.params.count("TZID")) Fail(0, p.name + ": a date with a TZID");
      w.date = true;
      return w;
    }
    if (type != p.params.end() && type->second != "DATE-TIME") Fail(0, p.name + ": VALUE");
    if (!IsDateTime(p.value, &w.utc)) Fail(0, p.name + " is no date-time: " + p.value);
    if (auto z = p.params.find("TZID"); z != p.params.end()) {
      if (w.utc) Fail(0, p.name + ": UTC with a TZID");
      if (!zones.count(z->second)) Fail(0, p.name + ": TZID without VTIMEZONE: " + z->second);
      // A time before every onset of its zone has no offset a reader could take.
      if (p.value < firstOnset[z->second])
        Fail(0, p.name + " " + p.value + " before the first observance of " + z->second);
      w.zoned = true;
    }
    return w;
  };
  for (const IcsComponent& c : root.children) {
    if (c.name == "VTIMEZONE") continue;
    if (c.name != "VEVENT" && c.name != "VTODO") Fail(0, "unexpected component " + c.name);
    if (c.Count("UID") != 1) Fail(0, c.name + " without one UID");
    if (c.Count("DTSTAMP") != 1) Fail(0, c.name + " without one DTSTAMP");
    bool utc = false;
    if (!IsDateTime(c.Find("DTSTAMP")->value, &utc) || !utc) Fail(0, "DTSTAMP not in UTC");
    for (const char* once : {"DTSTART", "DTEND", "DUE", "SUMMARY", "LOCATION", "DESCRIPTION",
                             "STATUS", "COMPLETED", "PRIORITY", "RRULE", "URL"})
      if (c.Count(once) > 1) Fail(0, std::string(once) + " more than once");
    When start;
    if (const IcsProperty* s = c.Find("DTSTART")) start = when(*s);
    if (c.name == "VEVENT") {
      if (!c.Find("DTSTART")) Fail(0, "VEVENT without DTSTART");
      if (const IcsProperty* e = c.Find("DTEND")) {
        const When end = when(*e);
        if (end.date != start.date) Fail(0, "DTEND of another type than DTSTART");
        if (end.value.substr(0, 15) <= start.value.substr(0, 15) && !end.zoned && !start.zoned &&
            end.utc == start.utc)
          Fail(0, "DTEND not after DTSTART");
      }
      for (const char* status : {"STATUS"})
        if (const IcsProperty* st = c.Find(status))
          if (st->value != "TENTATIVE" && st->value != "CONFIRMED" && st->value != "CANCELLED")
            Fail(0, "VEVENT STATUS " + st->value);
    } else {
      if (const IcsProperty* d = c.Find("DUE")) when(*d);
      if (const IcsProperty* st = c.Find("STATUS"))
        if (st->value != "NEEDS-ACTION" && st->value != "COMPLETED" && st->value != "IN-PROCESS" &&
            st->value != "CANCELLED")
          Fail(0, "VTODO STATUS " + st->value);
      if (const IcsProperty* done = c.Find("COMPLETED")) {
        bool z = false;
        if (!IsDateTime(done->value, &z) || !z) Fail(0, "COMPLETED not in UTC");
      }
    }
    if (const IcsProperty* p = c.Find("PRIORITY"))
      if (!Digits(p->value) || std::stoi(p->value) > 9) Fail(0, "PRIORITY " + p->value);
    if (const IcsProperty* r = c.Find("RRULE")) {
      if (r->value.rfind("FREQ=", 0) != 0) Fail(0, "RRULE without FREQ first");
      const std::size_t u = r->value.find("UNTIL=");
      if (u != std::string::npos) {
        if (r->value.find("COUNT=") != std::string::npos) Fail(0, "RRULE with COUNT and UNTIL");
        std::string until = r->value.substr(u + 6);
        until = until.substr(0, until.find(';'));
        bool z = false;
        if (start.date) {
          if (!IsDate(until)) Fail(0, "UNTIL not a date for a date start");
        } else if (!IsDateTime(until, &z) || z != (start.utc || start.zoned)) {
          Fail(0, "UNTIL of another form than DTSTART: " + until);
        }
      }
    }
  }
  return root;
}

}  // namespace bv::test
