#include "common/text.h"

#include <climits>
#include <cstdio>

namespace bv {

namespace {
unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Bytes of the valid sequence that starts at `at` (a byte of 0x80 and up), or, for a
// broken one, 0 with `broken` set to the bytes it spans: the lead byte and the
// continuation bytes that followed it.
std::size_t SequenceAt(std::string_view s, std::size_t at, std::size_t& broken) {
  const unsigned char c = static_cast<unsigned char>(s[at]);
  int extra;
  char32_t cp, min;
  if ((c & 0xE0) == 0xC0) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    broken = 1;
    return 0;
  }
  int got = 0;
  while (got < extra && at + 1 + got < s.size() &&
         (static_cast<unsigned char>(s[at + 1 + got]) & 0xC0) == 0x80) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[at + 1 + got]) & 0x3F);
    ++got;
  }
  if (got < extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    broken = static_cast<std::size_t>(1 + got);
    return 0;
  }
  return static_cast<std::size_t>(1 + extra);
}

// Skips ASCII eight bytes at a time: most texts of a backup are mostly ASCII.
std::size_t AsciiRun(std::string_view s, std::size_t at) {
  const char* p = s.data();
  const std::size_t n = s.size();
  while (at + 8 <= n) {
    std::uint64_t word;
    __builtin_memcpy(&word, p + at, 8);
    if ((word & 0x8080808080808080ULL) != 0) break;
    at += 8;
  }
  while (at < n && static_cast<unsigned char>(p[at]) < 0x80) ++at;
  return at;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
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

std::size_t ValidUtf8Prefix(std::string_view bytes) {
  std::size_t at = 0;
  for (;;) {
    at = AsciiRun(bytes, at);
    if (at == bytes.size()) return at;
    std::size_t broken = 0;
    const std::size_t n = SequenceAt(bytes, at, broken);
    if (n == 0) return at;
    at += n;
  }
}

void AssignValidUtf8(std::string& out, std::string_view bytes) {
  std::size_t at = ValidUtf8Prefix(bytes);
  if (at == bytes.size()) {
    out.assign(bytes);
    return;
  }
  // A replacement (3 bytes) stands for at least one byte.
  out.clear();
  out.reserve(bytes.size() + 16);
  out.append(bytes.substr(0, at));
  std::size_t run = at;  // start of the valid bytes not yet copied
  while (at < bytes.size()) {
    at = AsciiRun(bytes, at);
    if (at == bytes.size()) break;
    std::size_t broken = 0;
    const std::size_t n = SequenceAt(bytes, at, broken);
    if (n != 0) {
      at += n;
      continue;
    }
    out.append(bytes.substr(run, at - run));
    out.append(kReplacement, 3);
    at += broken;
    run = at;
  }
  out.append(bytes.substr(run));
}

std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  AssignValidUtf8(out, bytes);
  return out;
}

std::string ValidUtf8(const char* bytes) {
  if (!bytes) return {};
  return ValidUtf8(std::string_view(bytes));
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

std::size_t Utf8Offset(std::string_view text, std::size_t characters) {
  std::size_t at = 0;
  for (; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
      if (characters == 0) return at;
      --characters;
    }
  }
  return at;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  std::size_t pos = text.find(from);
  if (pos == std::string::npos) return;
  // Built once into a new text: replacing in place moves the rest of the text at every
  // match. Scanning on after each match of the original text is the same as resuming
  // after the inserted text.
  std::string out;
  out.reserve(text.size() + (to.size() > from.size() ? 8 * (to.size() - from.size()) : 0));
  std::size_t done = 0;
  do {
    out.append(text, done, pos - done);
    out.append(to);
    done = pos + from.size();
    pos = text.find(from, done);
  } while (pos != std::string::npos);
  out.append(text, done, std::string::npos);
  text.swap(out);
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // most characters of sorted texts agree: skip folding them
    // Bytes compare unsigned, so UTF-8 orders as its code points do.
    const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
bool EqualsNoCase(std::string_view a, std::string_view b) {
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

std::string FormatDuration(std::int64_t seconds) {
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
  return buf;
}

std::string FormatSize(std::int64_t bytes) {
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
  return buf;
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
