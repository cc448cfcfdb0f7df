// Opens arbitrary bytes as a database and runs both chat store passes (which settle
// their deleted records) and a generic carve of a table with a known column count,
// settled too. Nothing may crash, hang or leak.
#include <cstdint>
#include <list>
#include <string>

#include "fuzz/scratch_file.h"
#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bv::fuzz::ScratchFile file("bv_rawsqlite_fuzz_", "");
  file.Write(data, size);
  const std::string& path = file.path();

  bv::ChatMap wechat;
  bv::WeChatPass(path, wechat);
  bv::ChatMap qq;
  bv::QQPass(path, qq);
  bv::TablePass pass;
  if (pass.reader.open(path) == 0) {
    std::list<bv::GenericRow> rows;
    bv::ReadGenericRows(pass, "message", true, rows);
    bv::SettleDeletedRows(rows);
    pass.counts.otherColumns = 3;
    pass.spilledRows = true;  // deleted rows that spilled into overflow pages too
    rows.clear();
    bv::ReadGenericRows(pass, "t", true, rows);
    bv::SettleDeletedRows(rows);
  }
  return 0;
}
