// Feeds arbitrary bytes to the Info.plist line reader: lines of any length, zero bytes,
// keys without values and dates without their separators must give a record, never a
// read outside the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "catalogue/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bv::BackupRecord record;
  bv::ParseInfoPlist(std::string_view(reinterpret_cast<const char*>(data), size), record);
  // Every value is cut from a single line of at most 2047 bytes.
  if (record.serialNumber.size() > 2047 || record.phoneNumber.size() > 2047) __builtin_trap();
  return 0;
}
