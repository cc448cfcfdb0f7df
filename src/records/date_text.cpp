#include "records/date_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/text.h"
#include "platform/platform.h"

namespace bv {

bool ColumnWholeSeconds(const char* column, std::int64_t& seconds) {
  if (column == nullptr) return false;
  if (std::strpbrk(column, "eE") != nullptr) {
    // SQLite writes REAL values of 1e15 and more with an exponent; read the whole value
    // instead of its leading digits.
    const double value = std::strtod(column, nullptr);
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return false;
    seconds = static_cast<std::int64_t>(value);
  } else {
    seconds = ParseInt64(column);  // fraction dropped
  }
  return true;
}

namespace {

// Seconds since 1970 of a count since 2001; false when that leaves the range.
bool UnixFromApple(std::int64_t seconds, std::int64_t& unixSeconds) {
  if (seconds > std::numeric_limits<std::int64_t>::max() - kAppleEpochOffset) return false;
  unixSeconds = seconds + kAppleEpochOffset;
  return true;
}

// Whole seconds of a column; false when there is no value or it leaves the range.
bool ColumnSeconds(const char* column, std::int64_t& unixSeconds) {
  std::int64_t seconds = 0;
  return ColumnWholeSeconds(column, seconds) && UnixFromApple(seconds, unixSeconds);
}

}  // namespace

std::string LocalDateFormatter::FromUnixSeconds(std::int64_t unixSeconds) {
  return unix_.FromUnixSeconds(unixSeconds);
}

std::string LocalDateFormatter::FromAppleSeconds(const char* column) {
  std::int64_t unixSeconds = 0;
  if (!ColumnSeconds(column, unixSeconds)) return {};
  return FromUnixSeconds(unixSeconds);
}

std::string LocalDateFormatter::FromAppleWholeSeconds(std::int64_t seconds) {
  std::int64_t unixSeconds = 0;
  if (!UnixFromApple(seconds, unixSeconds)) return {};
  return FromUnixSeconds(unixSeconds);
}

std::string LocalDateFromAppleSeconds(const char* column) {
  std::int64_t unixSeconds = 0;
  if (!ColumnSeconds(column, unixSeconds)) return {};
  std::string text;
  if (!platform::FormatLocalTime(unixSeconds, text)) return {};
  return ValidUtf8(text);
}

}  // namespace bv
