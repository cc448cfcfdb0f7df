// Feeds arbitrary bytes to the type recognisers, over the full buffer and over the
// 128-byte window that the device source uses, and to the ftyp box reader.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/detection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bv::FtypBox box;
  if (bv::ParseFtypBox(data, size, box)) {
    if (box.size < 16 || box.size > size || box.data != data) __builtin_trap();
    box.HasCompatible("mif1");
    box.HasCompatible("bad");
  }
  int code = bv::RecogniseBuffer(data, size);
  if (code != bv::kTypeUnknown && bv::ExtensionOfCode(code)[0] == '\0') __builtin_trap();
  // The buffer variant always reads 128 bytes: give it exactly that many.
  std::vector<unsigned char> window(128, 0);
  std::memcpy(window.data(), data, size < 128 ? size : 128);
  bv::DetectionContext ctx;
  std::string name;
  bv::DetectBufferType(window.data(), ctx, name);
  return 0;
}
