#pragma once
// Date texts of the readers: "YYYY-MM-DD HH:MM:SS".
#include <cstdint>
#include <string>

#include "common/local_time.h"

namespace bv {

// Seconds between 1970-01-01 and 2001-01-01, the reference date of iOS stores.
inline constexpr std::int64_t kAppleEpochOffset = 978307200;

// Seconds since 2001-01-01 00:00:00 UTC, as SQLite hands a column to a row callback
// ("704735807.221498", "6.0e+17"), converted to the local time of this machine.
// One object per read: the zone's offset is asked of the platform once per UTC day
// (at its first and last second) and reused for the values of that day; a day on
// which the offset changes is converted value by value. Not thread-safe.
class LocalDateFormatter {
 public:
  // Empty for a null column and for a value the platform cannot convert.
  std::string FromAppleSeconds(const char* column);
  // The same for the whole seconds that ColumnWholeSeconds gave.
  std::string FromAppleWholeSeconds(std::int64_t seconds);
  std::string FromUnixSeconds(std::int64_t unixSeconds);

 private:
  LocalTimeFormatter unix_;
};

// The whole seconds of such a column text: its leading integer, or the truncated
// value of a text in exponent form; false for a null column or an exponent value out
// of range.
bool ColumnWholeSeconds(const char* column, std::int64_t& seconds);

// The same for one value.
std::string LocalDateFromAppleSeconds(const char* column);

}  // namespace bv
