#include "records/ordering.h"

namespace bv {

bool DateDigits(std::string_view text, std::uint64_t& value) {
  static const char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (text.size() != sizeof kShape - 1) return false;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (kShape[i] == 'd') {
      if (c < '0' || c > '9') return false;
      v = v * 10 + static_cast<std::uint64_t>(c - '0');
    } else if (c != static_cast<char>(kShape[i])) {
      return false;
    }
  }
  value = v;
  return true;
}

}  // namespace bv
