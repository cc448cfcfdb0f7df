#include "common/local_time.h"

#include <cstring>
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

// The two digits of 0 to 99 at `at`.
void PutTwo(char* at, std::int64_t value) {
  static constexpr char kDigits[] =
      "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243"
      "4445464748495051525354555657585960616263646566676869707172737475767778798081828384858687"
      "888990919293949596979899";
  std::memcpy(at, kDigits + 2 * value, 2);
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
  // Written in place, two digits at a time: this runs for every date and message time.
  out.resize(19);
  char* text = out.data();
  PutTwo(text, year / 100);
  PutTwo(text + 2, year % 100);
  text[4] = '-';
  PutTwo(text + 5, month);
  text[7] = '-';
  PutTwo(text + 8, day);
  text[10] = ' ';
  PutTwo(text + 11, secs / 3600);
  text[13] = ':';
  PutTwo(text + 14, secs / 60 % 60);
  text[16] = ':';
  PutTwo(text + 17, secs % 60);
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
