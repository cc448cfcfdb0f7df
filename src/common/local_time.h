#pragma once
// Local date texts "YYYY-MM-DD HH:MM:SS" of many Unix times in a row (record dates,
// chat message times), without asking the platform for every value.
#include <array>
#include <cstdint>
#include <string>

namespace bv {

// One object per read or pass: the zone's offset is asked of the platform once per
// UTC day (at its first and last second) and reused for the values of that day; a day
// on which the offset changes is converted value by value. Not thread-safe.
class LocalTimeFormatter {
 public:
  // Empty for a value the platform cannot convert.
  std::string FromUnixSeconds(std::int64_t unixSeconds);
  // The same into `out`, whose buffer is reused (no allocation for a run of values).
  void FromUnixSeconds(std::int64_t unixSeconds, std::string& out);

 private:
  static constexpr std::int64_t kVaries = INT64_MIN;
  static constexpr std::int64_t kNoDay = INT64_MIN;
  // Offsets of recently seen days, by day number modulo the table size (a stored day
  // that is not the one asked for is asked of the platform again). 4096 days cover
  // eleven years: a chat store's messages come in no order of time, and a smaller
  // table asked the platform again and again for stores of more than a few years.
  struct DayOffset {
    std::int64_t day = kNoDay;
    std::int64_t offset = 0;
  };
  std::array<DayOffset, 4096> dayOffset_{};
};

// "YYYY-MM-DD HH:MM:SS" of seconds since 1970 in UTC, for years 1000 to 9999; false
// outside them.
bool FormatCivil(std::int64_t unixSeconds, std::string& out);

}  // namespace bv
