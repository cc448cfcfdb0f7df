#include "platform/utf8.h"

#include <cstdint>

namespace bv::platform {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::wstring DecodeUtf8(std::string_view s) {
  // Every byte yields at most one wide character (a four-byte sequence at most two
  // UTF-16 units), so the result never outgrows the input: size it once and write
  // through a pointer instead of growing it character by character.
  const std::size_t n = s.size();
  std::wstring out(n, L'\0');
  wchar_t* dst = out.data();
  std::size_t j = 0;
  std::size_t i = 0;
  auto put = [&](char32_t cp) {
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0x10000) {
        cp -= 0x10000;
        dst[j++] = static_cast<wchar_t>(0xD800 + (cp >> 10));
        dst[j++] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        return;
      }
    }
    dst[j++] = static_cast<wchar_t>(cp);
  };
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      dst[j++] = static_cast<wchar_t>(c);
      ++i;
      continue;
    }
    int extra;
    char32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      put(kReplacement);
      ++i;
      continue;
    }
    int got = 0;
    while (got < extra && i + 1 + got < n &&
           (static_cast<unsigned char>(s[i + 1 + got]) & 0xC0) == 0x80) {
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + 1 + got]) & 0x3F);
      ++got;
    }
    if (got < extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      // One replacement per broken sequence; resume at the first byte not consumed.
      put(kReplacement);
      i += 1 + got;
      continue;
    }
    put(cp);
    i += 1 + extra;
  }
  out.resize(j);
  return out;
}

std::string EncodeUtf8(std::wstring_view w) {
  // Texts are mostly ASCII: copy the ASCII prefix in one sized pass.
  std::size_t ascii = 0;
  while (ascii < w.size() && static_cast<std::uint32_t>(w[ascii]) < 0x80) ++ascii;
  std::string out(ascii, '\0');
  for (std::size_t i = 0; i < ascii; ++i) out[i] = static_cast<char>(w[i]);
  if (ascii == w.size()) return out;
  out.reserve(w.size() + (w.size() - ascii) * 2);
  for (std::size_t i = ascii; i < w.size(); ++i) {
    char32_t cp = static_cast<char32_t>(w[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size()) {
        const char32_t lo = static_cast<char32_t>(w[i + 1]);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          ++i;
        }
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
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
  return out;
}

}  // namespace bv::platform
