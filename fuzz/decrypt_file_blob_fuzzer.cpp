// MBFile archives from the `file` column of Manifest.db; also run through the padding
// check and a small CBC decryption, which take ciphertext of any length.
#include <cstddef>
#include <cstdint>

#include "crypto.h"
#include "file_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bv::decrypt::FileBlobInfo info;
  bv::decrypt::ParseFileBlob(data, size, info);
  bv::decrypt::Pkcs7PadLength(data, size);
  if (size <= 4096) {
    bv::decrypt::Bytes plain;
    bv::decrypt::DecryptBuffer(bv::decrypt::Bytes(32, 1), bv::decrypt::Bytes(data, data + size),
                               plain);
  }
  return 0;
}
