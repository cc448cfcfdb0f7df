// A database and its write-ahead log from arbitrary bytes (the first four bytes, big-
// endian, give the database's length; the rest after it is the log), read by the raw
// reader with the log: both chat store passes and a generic carve, which walk the
// log's newest images and carve its older ones. Nothing may crash, hang or leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>

#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"

namespace {

std::string TempPath(const char* what) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/bv_rawsqlite_wal_fuzz_" +
         std::to_string(getpid()) + what;
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size != 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static const std::string db = TempPath(".db");
  static const std::string log = TempPath(".log");
  std::size_t split = (std::size_t{data[0]} << 24) | (std::size_t{data[1]} << 16) |
                      (std::size_t{data[2]} << 8) | data[3];
  if (split > size - 4) split = size - 4;
  Write(db, data + 4, split);
  Write(log, data + 4 + split, size - 4 - split);

  bv::ChatMap wechat;
  bv::WeChatPass(db, log, wechat);
  bv::ChatMap qq;
  bv::QQPass(db, log, qq);
  bv::TablePass pass;
  if (pass.reader.open(db, log) == 0) {
    std::list<bv::GenericRow> rows;
    pass.counts.otherColumns = 3;
    pass.spilledRows = true;  // deleted rows that spilled into overflow pages too
    bv::ReadGenericRows(pass, "t", true, rows);
    bv::SettleDeletedRows(rows);
    // Every older image must be readable as a whole page or refused, never more.
    std::vector<std::uint8_t> page(pass.reader.PageSize());
    for (const auto& image : pass.reader.SupersededImages())
      pass.reader.ReadOlderImage(image, page.data());
  }
  return 0;
}
