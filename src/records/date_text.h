#pragma once
// Date texts of the readers: "YYYY-MM-DD HH:MM:SS".
#include <cstdint>
#include <string>

namespace bv {

// Seconds between 1970-01-01 and 2001-01-01, the reference date of iOS stores.
inline constexpr std::int64_t kAppleEpochOffset = 978307200;

// A column holding seconds since 2001-01-01 00:00:00 UTC as text (SQLite hands REAL
// values as "704735807.221498"): the whole seconds, converted to the local time of
// this machine. Empty when the value cannot be converted (out of the platform's
// range); a null column gives an empty text too.
std::wstring LocalDateFromAppleSeconds(const char* column);

}  // namespace bv
