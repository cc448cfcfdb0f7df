// Opens arbitrary bytes as a database and runs both chat store passes and a generic
// carve of a table with a known column count. Nothing may crash, hang or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>

#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"

namespace {

std::string TempPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/bv_rawsqlite_fuzz_" + std::to_string(getpid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = TempPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  bv::ChatMap wechat;
  bv::WeChatPass(path, wechat);
  bv::ChatMap qq;
  bv::QQPass(path, qq);
  bv::RawDbFile reader;
  if (reader.open(path) == 0) {
    std::list<bv::GenericRow> rows;
    bv::ReadGenericRows(reader, "message", true, rows);
    reader.other_columns = 3;
    rows.clear();
    bv::ReadGenericRows(reader, "t", true, rows);
  }
  return 0;
}
