// Feeds arbitrary bytes to the HEIF picture decoder and, when a picture comes out,
// through the JPEG writer and reader that the preview and recovery use; and to the
// Exif item reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/heif_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bv::RgbPicture picture;
  std::string reason;
  if (bv::DecodeHeif(bytes, picture, &reason) == 0) {
    if (picture.pixels.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
      __builtin_trap();
    std::string jpeg;
    if (bv::EncodeJpeg(picture, 80, jpeg, &reason) != 0) __builtin_trap();
    bv::RgbPicture back;
    if (bv::DecodeJpeg(jpeg, back, &reason) != 0 || back.width != picture.width ||
        back.height != picture.height)
      __builtin_trap();
  } else if (reason.empty()) {
    __builtin_trap();
  }
  // The same bytes as a JPEG: the reader must refuse or decode, never overrun.
  bv::DecodeJpeg(bytes, picture, &reason);
  // And as a HEIF Exif item: what comes back fits one JPEG segment.
  if (bv::ExifForDecodedPicture(bytes).size() > 65535) __builtin_trap();
  return 0;
}
