// Feeds arbitrary bytes to the Manifest.mbdb parser: it must stop cleanly at the last
// whole record and never read outside the buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "catalogue/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<bv::ManifestEntry> entries;
  bool complete = false;
  std::size_t records = 0;
  bv::ParseManifestMbdb(data, size, entries, &complete, &records);
  for (const auto& e : entries) {
    if (e.fileId.size() != 40) __builtin_trap();
  }
  // Every entry comes from a whole record; directories and nameless records give none.
  if (entries.size() > records) __builtin_trap();
  return 0;
}
