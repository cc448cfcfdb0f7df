#pragma once
// UTF-8 <-> wide conversion that never throws: invalid input becomes U+FFFD.
// wchar_t is UTF-32 here; on a 16-bit wchar_t platform surrogate pairs are used.
#include <string>
#include <string_view>

namespace bv::platform {

std::wstring DecodeUtf8(std::string_view utf8);
std::string EncodeUtf8(std::wstring_view wide);

}  // namespace bv::platform
