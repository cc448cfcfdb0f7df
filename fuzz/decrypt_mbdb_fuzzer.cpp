// Manifest.mbdb records as the decryption tool reads them (with encryption keys).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mbdb_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<bv::decrypt::MbdbRecord> records;
  bool complete = false;
  bv::decrypt::ParseMbdb(data, size, records, &complete);
  return 0;
}
