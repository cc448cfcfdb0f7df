#include "common/time_zone.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>
#include <unicode/vtzone.h>

#include <cstdio>
#include <map>

namespace bv {

namespace {

constexpr std::int64_t kDay = 86400;
// Years 1 and 9999 bound every date text (iCalendar dates have four digits).
constexpr std::int64_t kFirstSecond = -62135596800LL;  // 0001-01-01 00:00:00
constexpr std::int64_t kLastSecond = 253402300799LL;   // 9999-12-31 23:59:59
// Zone names are short ("America/Argentina/ComodRivadavia" is among the longest).
constexpr std::size_t kLongestZoneName = 64;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// A zone of ICU for a name from a database, or null: unknown names, and names that
// are no plain zone identifier, never reach ICU's parser.
std::unique_ptr<icu::TimeZone> CreateZone(std::string_view name) {
  if (name.empty() || name.size() > kLongestZoneName) return nullptr;
  for (char c : name) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '/' || c == '_' || c == '-' || c == '+' || c == ':';
    if (!plain) return nullptr;
  }
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(
      icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), static_cast<int>(name.size())))));
  if (!zone || *zone == icu::TimeZone::getUnknown()) return nullptr;
  return zone;
}

}  // namespace

bool CivilFromUnix(std::int64_t unixSeconds, CivilTime& out) {
  if (unixSeconds < kFirstSecond || unixSeconds > kLastSecond) return false;
  const std::int64_t days = FloorDiv(unixSeconds, kDay);
  const std::int64_t secs = unixSeconds - days * kDay;
  // Civil date from a day count (proleptic Gregorian calendar).
  const std::int64_t z = days + 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  out.year = static_cast<std::int32_t>(y);
  out.month = static_cast<std::int32_t>(m);
  out.day = static_cast<std::int32_t>(d);
  out.hour = static_cast<std::int32_t>(secs / 3600);
  out.minute = static_cast<std::int32_t>(secs % 3600 / 60);
  out.second = static_cast<std::int32_t>(secs % 60);
  return true;
}

std::int64_t UnixFromCivil(const CivilTime& c) {
  const std::int64_t y = static_cast<std::int64_t>(c.year) - (c.month <= 2 ? 1 : 0);
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = c.month > 2 ? c.month - 3 : c.month + 9;
  const std::int64_t doy = (153 * mp + 2) / 5 + c.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + doe - 719468;
  return days * kDay + c.hour * 3600 + c.minute * 60 + c.second;
}

std::string CivilText(const CivilTime& c, bool dateOnly) {
  char buf[40];
  if (dateOnly)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
  return buf;
}

struct ZoneTable::Impl {
  // Unknown names map to null, so they are not parsed again.
  std::map<std::string, std::unique_ptr<icu::TimeZone>, std::less<>> zones;

  const icu::TimeZone* Find(std::string_view name) {
    auto it = zones.find(name);
    if (it == zones.end()) it = zones.emplace(std::string(name), CreateZone(name)).first;
    return it->second.get();
  }
};

ZoneTable::ZoneTable() : impl_(std::make_unique<Impl>()) {}
ZoneTable::~ZoneTable() = default;

bool ZoneTable::Known(std::string_view zone) {
  return impl_->Find(zone) != nullptr;
}

bool ZoneTable::OffsetAt(std::string_view zone, std::int64_t unixSeconds, std::int32_t& offset) {
  const icu::TimeZone* tz = impl_->Find(zone);
  if (tz == nullptr) return false;
  std::int32_t raw = 0, dst = 0;
  UErrorCode status = U_ZERO_ERROR;
  tz->getOffset(static_cast<UDate>(unixSeconds) * 1000.0, false, raw, dst, status);
  if (U_FAILURE(status)) return false;
  offset = (raw + dst) / 1000;
  return true;
}

std::string ZoneTable::CanonicalName(std::string_view zone) {
  const icu::TimeZone* tz = impl_->Find(zone);
  if (tz == nullptr) return {};
  icu::UnicodeString id;
  tz->getID(id);
  std::string out;
  id.toUTF8String(out);
  return out;
}

std::vector<std::string> VTimeZoneLines(std::string_view zone, std::int64_t fromUnixSeconds) {
  std::vector<std::string> lines;
  if (CreateZone(zone) == nullptr) return lines;
  std::unique_ptr<icu::VTimeZone> vtz(icu::VTimeZone::createVTimeZoneByID(
      icu::UnicodeString::fromUTF8(icu::StringPiece(zone.data(), static_cast<int>(zone.size())))));
  if (!vtz) return lines;
  icu::UnicodeString text;
  UErrorCode status = U_ZERO_ERROR;
  vtz->write(static_cast<UDate>(fromUnixSeconds) * 1000.0, text, status);
  if (U_FAILURE(status)) return lines;
  std::string utf8;
  text.toUTF8String(utf8);
  // ICU ends lines with CR LF and folds long ones (a line end and one blank): unfold
  // here; the document writer folds what it writes by its own rule.
  std::string line;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    if (c == '\r') continue;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (i + 1 < utf8.size() && (utf8[i + 1] == ' ' || utf8[i + 1] == '\t')) {
      ++i;  // a folded line goes on
      continue;
    }
    if (!line.empty()) lines.push_back(std::move(line));
    line.clear();
  }
  if (!line.empty()) lines.push_back(std::move(line));
  if (lines.empty() || lines.front() != "BEGIN:VTIMEZONE" || lines.back() != "END:VTIMEZONE")
    lines.clear();
  return lines;
}

}  // namespace bv
