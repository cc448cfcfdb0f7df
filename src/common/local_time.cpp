#include "common/local_time.h"

#include <string>

#include "common/text.h"
#include "platform/platform.h"

namespace bv {

namespace {

constexpr std::int64_t kDay = 86400;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Local minus UTC at `unixSeconds`, from the platform's local text.
bool LocalOffset(std::int64_t unixSeconds, std::int64_t& offset) {
  std::string text;
  if (!platform::FormatLocalTime(unixSeconds, text)) return false;
  // "YYYY-MM-DD HH:MM:SS", read by hand: this runs for every new day of a read.
  static const char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kShape - 1) return false;
  int fields[6] = {};
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
  offset = platform::UtcToUnix(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]) -
           unixSeconds;
  return true;
}

void Put(std::string& out, std::size_t at, std::int64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

bool FormatCivil(std::int64_t unixSeconds, std::string& out) {
  if (unixSeconds < -30610224000LL || unixSeconds > 253402300799LL) return false;  // 1000..9999
  const std::int64_t days = FloorDiv(unixSeconds, kDay);
  const std::int64_t secs = unixSeconds - days * kDay;
  // Civil date from a day count (proleptic Gregorian calendar).
  const std::int64_t z = days + 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  out.assign("0000-00-00 00:00:00");
  Put(out, 0, year, 4);
  Put(out, 5, month, 2);
  Put(out, 8, day, 2);
  Put(out, 11, secs / 3600, 2);
  Put(out, 14, secs / 60 % 60, 2);
  Put(out, 17, secs % 60, 2);
  return true;
}

std::string LocalTimeFormatter::FromUnixSeconds(std::int64_t unixSeconds) {
  std::string out;
  FromUnixSeconds(unixSeconds, out);
  return out;
}

void LocalTimeFormatter::FromUnixSeconds(std::int64_t unixSeconds, std::string& out) {
  const std::int64_t day = FloorDiv(unixSeconds, kDay);
  DayOffset& slot =
      dayOffset_[static_cast<std::size_t>(static_cast<std::uint64_t>(day) % dayOffset_.size())];
  if (slot.day != day || day == kNoDay) {
    std::int64_t first = 0, last = 0;
    const bool same = day > INT64_MIN / kDay + 1 && day < INT64_MAX / kDay - 1 &&
                      LocalOffset(day * kDay, first) && LocalOffset(day * kDay + kDay - 1, last) &&
                      first == last;
    slot.day = day;
    slot.offset = same ? first : kVaries;
  }
  if (slot.offset != kVaries && FormatCivil(unixSeconds + slot.offset, out)) return;
  std::string text;
  if (!platform::FormatLocalTime(unixSeconds, text))
    out.clear();
  else
    AssignValidUtf8(out, text);
}

}  // namespace bv
