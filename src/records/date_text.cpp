#include "records/date_text.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "common/text.h"
#include "platform/platform.h"

namespace bv {

std::wstring LocalDateFromAppleSeconds(const char* column) {
  if (column == nullptr) return {};
  std::int64_t seconds = 0;
  if (std::strpbrk(column, "eE") != nullptr) {
    // SQLite writes REAL values of 1e15 and more with an exponent; read the whole value
    // instead of its leading digits, and give up where it leaves the 64-bit range.
    const double value = std::strtod(column, nullptr);
    if (!std::isfinite(value) || std::fabs(value) >= 9.0e18) return {};
    seconds = static_cast<std::int64_t>(value);
  } else {
    seconds = ParseInt64(column);  // fraction dropped
  }
  if (seconds > std::numeric_limits<std::int64_t>::max() - kAppleEpochOffset) return {};
  std::string text;
  if (!platform::FormatLocalTime(seconds + kAppleEpochOffset, text)) return {};
  return Utf8ToWide(text);
}

}  // namespace bv
