#pragma once
// Text helpers shared by every subsystem.
#include <cstdint>
#include <string>
#include <string_view>

namespace bv {

// UTF-8 to wide; a null pointer gives an empty string. Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(const char* utf8);
std::wstring Utf8ToWide(std::string_view utf8);
// Wide to UTF-8; lone surrogates and out-of-range values become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// Replaces every occurrence of `from`, scanning left to right and resuming after the
// inserted text. An empty `from` changes nothing.
void ReplaceAll(std::wstring& text, std::wstring_view from, std::wstring_view to);

// Case-insensitive comparison that folds ASCII letters only. Returns <0, 0, >0.
int CompareNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::wstring_view a, std::wstring_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
// Case-insensitive substring search (ASCII folding); npos when absent.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Leading-digits decimal conversion as the C runtime's atoi does it: optional blanks,
// optional sign, then digits; 0 when there are none. Saturates instead of overflowing.
std::int32_t ParseInt32(const char* text);
std::int64_t ParseInt64(const char* text);

// "%d Hour %d Min", "%d Min %d Sec" or "%d Sec".
std::wstring FormatDuration(std::int64_t seconds);
// "%.2f TB/GB/MB/KB" or "%d Bytes".
std::wstring FormatSize(std::int64_t bytes);

// Escapes UTF-8 text for a JSON string literal (without the quotes): quote, backslash
// and control characters; other bytes pass through.
std::string JsonEscape(std::string_view text);

// Lowercase hexadecimal of a byte range.
std::string HexLower(const unsigned char* data, std::size_t size);

}  // namespace bv
