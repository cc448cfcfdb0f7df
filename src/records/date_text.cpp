#include "records/date_text.h"

#include <limits>

#include "common/text.h"
#include "platform/platform.h"

namespace bv {

std::wstring LocalDateFromAppleSeconds(const char* column) {
  if (column == nullptr) return {};
  const std::int64_t seconds = ParseInt64(column);  // fraction dropped
  if (seconds > std::numeric_limits<std::int64_t>::max() - kAppleEpochOffset) return {};
  std::string text;
  if (!platform::FormatLocalTime(seconds + kAppleEpochOffset, text)) return {};
  return Utf8ToWide(text);
}

}  // namespace bv
