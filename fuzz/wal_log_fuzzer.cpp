// Reads arbitrary bytes as a write-ahead log and walks what it found: the newest
// committed page images must lie inside the input. Nothing may crash, hang or leak.
#include <cstdint>
#include <cstdlib>

#include "rawsqlite/wal_log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const bv::WalLog log = bv::ReadWalLog(data, size);
  if (log.committed > log.frames.size()) std::abort();
  for (const auto& [page, offset] : bv::NewestCommittedPages(log)) {
    if (page == 0 || offset + log.pageSize > size) std::abort();
  }
  return 0;
}
