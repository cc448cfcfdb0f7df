#pragma once
// Named time zones ("Europe/Berlin") and civil dates, for calendar items that carry
// their own zone. Zone rules come from ICU's time-zone data, so a wall clock of any
// year (past or far future) is converted by the rules that held then, and a zone can
// be written out as an iCalendar VTIMEZONE component. Nothing here reads the locale
// or the machine's own zone.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bv {

// A broken-down date and time of the proleptic Gregorian calendar.
struct CivilTime {
  std::int32_t year = 1970;
  std::int32_t month = 1;  // 1..12
  std::int32_t day = 1;    // 1..31
  std::int32_t hour = 0;
  std::int32_t minute = 0;
  std::int32_t second = 0;
};

// The civil time of seconds since 1970 read as UTC (or as a wall clock already shifted
// by its offset). False outside the years 1 to 9999, which every date text here uses.
bool CivilFromUnix(std::int64_t unixSeconds, CivilTime& out);
// Seconds since 1970 of a civil time read as UTC.
std::int64_t UnixFromCivil(const CivilTime& civil);
// "YYYY-MM-DD HH:MM:SS", or "YYYY-MM-DD" with `dateOnly`.
std::string CivilText(const CivilTime& civil, bool dateOnly = false);

// Zones looked up by name and kept for the next value of the same zone. Names that no
// zone carries (empty, "_float", a misspelt name, Windows names) are unknown. One
// object per read or per document; not thread-safe.
class ZoneTable {
 public:
  ZoneTable();
  ~ZoneTable();
  ZoneTable(const ZoneTable&) = delete;
  ZoneTable& operator=(const ZoneTable&) = delete;

  bool Known(std::string_view zone);
  // The zone's offset from UTC in seconds (daylight saving included) at the UTC instant.
  // False for an unknown zone.
  bool OffsetAt(std::string_view zone, std::int64_t unixSeconds, std::int32_t& offset);
  // The zone's canonical name as ICU spells it ("Asia/Calcutta" may come back as it is);
  // empty for an unknown zone.
  std::string CanonicalName(std::string_view zone);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The lines of the VTIMEZONE component of a known zone (BEGIN:VTIMEZONE to
// END:VTIMEZONE), with the observances that apply from `fromUnixSeconds` on; each line
// without its line end and not yet folded. Empty for an unknown zone.
std::vector<std::string> VTimeZoneLines(std::string_view zone, std::int64_t fromUnixSeconds);

}  // namespace bv
