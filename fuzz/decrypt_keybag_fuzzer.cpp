// Keybag blobs from Manifest.plist, and the wrapped-key prefix parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "keybag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bv::decrypt::Keybag keybag;
  std::string error;
  if (bv::decrypt::ParseKeybag(data, size, keybag, &error)) {
    // A cheap key: unwrapping must fail cleanly on whatever the classes hold.
    bv::decrypt::ClassKeys keys;
    bv::decrypt::UnlockKeybag(keybag, bv::decrypt::Bytes(32, 0), keys);
  }
  bv::decrypt::WrappedKey wrapped;
  bv::decrypt::ParseWrappedKey(data, size, wrapped);
  return 0;
}
