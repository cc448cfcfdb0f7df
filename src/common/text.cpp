#include "common/text.h"

#include <climits>
#include <cstdio>

#include "platform/utf8.h"

namespace bv {

namespace {
wchar_t FoldAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}
unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

template <typename View, typename Unit>
int CompareFolded(View a, View b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // most characters of sorted texts agree: skip folding them
    auto ca = FoldAscii(static_cast<Unit>(a[i]));
    auto cb = FoldAscii(static_cast<Unit>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename T>
T ParseLeadingInt(const char* text, T lo, T hi) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  T value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    int digit = *p - '0';
    if (!negative) {
      if (value > (hi - digit) / 10) return hi;
      value = static_cast<T>(value * 10 + digit);
    } else {
      if (value < (lo + digit) / 10) return lo;
      value = static_cast<T>(value * 10 - digit);
    }
  }
  return value;
}
}  // namespace

std::wstring Utf8ToWide(const char* utf8) {
  if (!utf8) return {};
  return Utf8ToWide(std::string_view(utf8));
}

std::wstring Utf8ToWide(std::string_view utf8) {
  return platform::DecodeUtf8(utf8);
}

std::string WideToUtf8(std::wstring_view wide) {
  return platform::EncodeUtf8(wide);
}

void ReplaceAll(std::wstring& text, std::wstring_view from, std::wstring_view to) {
  if (from.empty()) return;
  std::size_t pos = text.find(from);
  if (pos == std::wstring::npos) return;
  // Built once into a new text: replacing in place moves the rest of the text at every
  // match. Scanning on after each match of the original text is the same as resuming
  // after the inserted text.
  std::wstring out;
  out.reserve(text.size() + (to.size() > from.size() ? 8 * (to.size() - from.size()) : 0));
  std::size_t done = 0;
  do {
    out.append(text, done, pos - done);
    out.append(to);
    done = pos + from.size();
    pos = text.find(from, done);
  } while (pos != std::wstring::npos);
  out.append(text, done, std::wstring::npos);
  text.swap(out);
}

int CompareNoCase(std::string_view a, std::string_view b) {
  return CompareFolded<std::string_view, unsigned char>(a, b);
}
int CompareNoCase(std::wstring_view a, std::wstring_view b) {
  return CompareFolded<std::wstring_view, wchar_t>(a, b);
}
bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}
bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from <= haystack.size() ? from : std::string_view::npos;
  if (needle.size() > haystack.size()) return std::string_view::npos;
  for (std::size_t i = from; i + needle.size() <= haystack.size(); ++i) {
    if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

std::int32_t ParseInt32(const char* text) {
  return ParseLeadingInt<std::int32_t>(text, INT32_MIN, INT32_MAX);
}
std::int64_t ParseInt64(const char* text) {
  return ParseLeadingInt<std::int64_t>(text, INT64_MIN, INT64_MAX);
}

std::wstring FormatDuration(std::int64_t seconds) {
  char buf[64];
  if (seconds >= 3600) {
    std::snprintf(buf, sizeof buf, "%d Hour %d Min", static_cast<int>(seconds / 3600),
                  static_cast<int>((seconds % 3600) / 60));
  } else if (seconds >= 60) {
    std::snprintf(buf, sizeof buf, "%d Min %d Sec", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
  } else {
    std::snprintf(buf, sizeof buf, "%d Sec", static_cast<int>(seconds));
  }
  return Utf8ToWide(std::string_view(buf));
}

std::wstring FormatSize(std::int64_t bytes) {
  constexpr std::int64_t kKB = 1024, kMB = kKB << 10, kGB = kMB << 10, kTB = kGB << 10;
  char buf[64];
  const double b = static_cast<double>(bytes);
  if (bytes >= kTB)
    std::snprintf(buf, sizeof buf, "%.2f TB", b / static_cast<double>(kTB));
  else if (bytes >= kGB)
    std::snprintf(buf, sizeof buf, "%.2f GB", b / static_cast<double>(kGB));
  else if (bytes >= kMB)
    std::snprintf(buf, sizeof buf, "%.2f MB", b / static_cast<double>(kMB));
  else if (bytes >= kKB)
    std::snprintf(buf, sizeof buf, "%.2f KB", b / static_cast<double>(kKB));
  else
    std::snprintf(buf, sizeof buf, "%d Bytes", static_cast<int>(bytes));
  return Utf8ToWide(std::string_view(buf));
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

std::string HexLower(const unsigned char* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(size * 2, '0');
  for (std::size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 15];
  }
  return out;
}

}  // namespace bv
