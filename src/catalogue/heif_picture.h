#pragma once
// Pictures in the HEIF container (HEIC from the camera of newer phones, AVIF) made
// viewable: decoded with libheif into 8-bit RGB and written as baseline JPEG with
// libjpeg. The preview shows such a picture from its JPEG, and recovery can write a
// JPEG beside each HEIC copy for programs that cannot open HEIC.
//
// The input is untrusted: libheif checks the container, the picture's size is
// bounded before anything is decoded, and every failure comes back as a result code
// with a reason in words, never as a crash or an exception.
//
// Thread-safe: every call works on its own decoder and encoder.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result_codes.h"

namespace bv {

// 8-bit RGB, rows packed (3 x width bytes each), top row first.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

// Pictures larger than this many pixels are refused (the largest camera pictures of
// phones have 48 million).
inline constexpr std::int64_t kHeifPixelLimit = 144'000'000;
// HEIF files larger than this are refused before they are read.
inline constexpr std::int64_t kHeifFileLimit = 512ll << 20;

// Decodes the primary picture of a HEIF file (rotation and mirroring applied, as a
// viewer shows it). 0, or kInvalidParameter with `reason` set ("not a HEIF picture:
// ...", "the picture is too large: ..."). With `exif`, also gives the picture's Exif
// data (see ExifForDecodedPicture), empty when it has none.
Result DecodeHeif(std::string_view bytes, RgbPicture& picture, std::string* reason = nullptr,
                  std::string* exif = nullptr);

// Encodes a picture as a baseline JPEG (quality 1 to 100), with `exif` (TIFF data) in
// its APP1 segment when given and small enough for one. 0, or kInvalidParameter with
// `reason` set.
Result EncodeJpeg(const RgbPicture& picture, int quality, std::string& jpeg,
                  std::string* reason = nullptr, std::string_view exif = {});

// The TIFF data of a HEIF Exif item (a 4-byte big-endian offset to the TIFF header,
// then the data, often with "Exif\0\0" first), with its Orientation set to 1: the
// decoded pixels are already turned as the picture is shown, and a viewer must not
// turn them again. Empty when the item is damaged (every offset is checked).
std::string ExifForDecodedPicture(std::string_view item);

// Decodes a JPEG; used to check what was written. 0, or kInvalidParameter.
Result DecodeJpeg(std::string_view jpeg, RgbPicture& picture, std::string* reason = nullptr);

// The JPEG of a HEIF file's bytes (DecodeHeif, then EncodeJpeg at quality 92), with
// the picture's Exif data (dates, camera, place) carried over.
Result HeifToJpeg(std::string_view heif, std::string& jpeg, std::string* reason = nullptr);

}  // namespace bv
