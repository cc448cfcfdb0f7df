#pragma once
// Paths from UTF-8 text and back. std::filesystem would convert narrow and wide text
// with the program's locale (and throw under LANG=C); these go through char8_t, which
// it takes as UTF-8 always.
#include <filesystem>
#include <string>
#include <string_view>

namespace bv::platform {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

}  // namespace bv::platform
