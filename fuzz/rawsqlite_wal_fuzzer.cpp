// A database and its write-ahead log from arbitrary bytes (the first four bytes, big-
// endian, give the database's length; the rest after it is the log), read by the raw
// reader with the log: both chat store passes and a generic carve, which walk the
// log's newest images and carve its older ones. Nothing may crash, hang or leak.
#include <cstdint>
#include <list>
#include <string>

#include "fuzz/scratch_file.h"
#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static const bv::fuzz::ScratchFile dbFile("bv_rawsqlite_wal_fuzz_", ".db");
  static const bv::fuzz::ScratchFile logFile("bv_rawsqlite_wal_fuzz_", ".log");
  const std::string& db = dbFile.path();
  const std::string& log = logFile.path();
  std::size_t split = (std::size_t{data[0]} << 24) | (std::size_t{data[1]} << 16) |
                      (std::size_t{data[2]} << 8) | data[3];
  if (split > size - 4) split = size - 4;
  dbFile.Write(data + 4, split);
  logFile.Write(data + 4 + split, size - 4 - split);

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
