// The cpio cutter and walker over untrusted bytes (the phone's relay archive).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/cpio_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bv::MemberSpan span;
  for (const char* path :
       {"/var/mobile/Library/SMS/sms.db", "/var/mobile/Library/AddressBook/AddressBook.sqlitedb"}) {
    if (bv::FindMember(data, size, size, path, span)) {
      // The span must lie inside the archive.
      if (span.offset > size || span.size > size - span.offset) __builtin_trap();
    }
  }
  const bv::ByteReader read = [&](std::uint64_t offset, void* buffer, std::size_t n) {
    if (offset >= size) return std::size_t{0};
    if (n > size - offset) n = size - static_cast<std::size_t>(offset);
    std::memcpy(buffer, data + offset, n);
    return n;
  };
  bv::WalkCpio(read, size, [&](const bv::CpioMember& m) {
    if (m.dataOffset > size || m.header.fileSize > size - m.dataOffset) __builtin_trap();
    return true;
  });
  return 0;
}
