#pragma once
// Shared bits of the export tests: a temporary folder, file reading, and a
// recorder of the reports a writer makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform/platform.h"
#include "support.h"

namespace bv::test {

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::string Utf8(const std::string& w) {
  return w;
}

inline fs::path SourceTemplates() {
  const char* dir = std::getenv("BV_SOURCE_DIR");
  return fs::path(dir ? dir : ".") / "data" / "template";
}

struct ReportLog {
  struct Call {
    std::int32_t percent;
    std::int32_t error;
    std::string path;
  };
  std::vector<Call> calls;
  // Answer 2 from this call on (1-based); 0 never.
  std::size_t stopAt = 0;

  static std::int32_t Callback(void* user, std::int32_t percent, std::int32_t error,
                               const std::string& path) {
    auto* log = static_cast<ReportLog*>(user);
    log->calls.push_back({percent, error, path});
    return (log->stopAt != 0 && log->calls.size() >= log->stopAt) ? 2 : 0;
  }
};

inline std::size_t CountOf(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

}  // namespace bv::test
