#pragma once
// Text helpers shared by every subsystem. Text is UTF-8 in std::string throughout.
#include <cstdint>
#include <string>
#include <string_view>

namespace bv {

// Bytes from a database or a file become text here, and only here: valid UTF-8 is
// taken as it is; every broken sequence (a stray or missing continuation byte, an
// overlong form, a surrogate, a value beyond U+10FFFF) becomes one U+FFFD and reading
// resumes at the first byte it did not use. Never throws. A null pointer gives an
// empty text, and a C string ends at its NUL.
std::string ValidUtf8(const char* bytes);
std::string ValidUtf8(std::string_view bytes);
// The same into `out` (its buffer is reused).
void AssignValidUtf8(std::string& out, std::string_view bytes);
// Length of the longest prefix of `bytes` that is valid UTF-8.
std::size_t ValidUtf8Prefix(std::string_view bytes);
inline bool IsValidUtf8(std::string_view bytes) {
  return ValidUtf8Prefix(bytes) == bytes.size();
}
// UTF-16 (a phone's device name) as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view utf16);

// Characters (code points) of valid UTF-8 text: every byte that is not a continuation
// byte starts one.
std::size_t Utf8Length(std::string_view text);
// Byte offset of the end of the first `characters` characters (the size when the text
// is shorter).
std::size_t Utf8Offset(std::string_view text, std::size_t characters);

// Replaces every occurrence of `from`, scanning left to right and resuming after the
// inserted text. An empty `from` changes nothing.
void ReplaceAll(std::string& text, std::string_view from, std::string_view to);

// Case-insensitive comparison that folds ASCII letters only (the one rule of the
// program: lists, device names, app identifiers). Returns <0, 0, >0. On UTF-8 it orders
// as the same comparison of code points would.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Case-insensitive substring search (ASCII folding); npos when absent.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from = 0);

// Leading-digits decimal conversion as the C runtime's atoi does it: optional blanks,
// optional sign, then digits; 0 when there are none. Saturates instead of overflowing.
std::int32_t ParseInt32(const char* text);
std::int64_t ParseInt64(const char* text);

// "%d Hour %d Min", "%d Min %d Sec" or "%d Sec".
std::string FormatDuration(std::int64_t seconds);
// "%.2f TB/GB/MB/KB" or "%d Bytes".
std::string FormatSize(std::int64_t bytes);

// Escapes UTF-8 text for a JSON string literal (without the quotes): quote, backslash
// and control characters; other bytes pass through.
std::string JsonEscape(std::string_view text);

// Lowercase hexadecimal of a byte range.
std::string HexLower(const unsigned char* data, std::size_t size);

}  // namespace bv
