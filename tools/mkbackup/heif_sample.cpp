// Real HEIF pictures for backups: encoded with libheif (x265 for HEIC, libaom for AVIF),
// as the camera of a newer phone writes them. Encoders give the same bytes for the same
// input, and pictures are kept per variant, so backups stay byte-stable and quick.
#include <libheif/heif.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <tuple>

#include "internal.h"
#include "mkbackup.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BV_MKBACKUP_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(BV_MKBACKUP_ASAN)
// libx265 as libheif 1.15 drives it keeps a few blocks of its own that it never frees
// (libheif learned to call x265_cleanup later). Not ours to fix: without this, every
// sanitizer run that writes a backup with HEIC pictures would report them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libx265.so\n";
}
#endif

namespace bv::mkbackup {

namespace {

heif_error Append(heif_context*, const void* data, size_t size, void* out) {
  static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

std::string Encode(HeifCodec codec, int width, int height, unsigned variant,
                   const std::string& exif, std::string* error) {
  auto fail = [&](const char* what, const heif_error& e) {
    if (error) *error = std::string(what) + ": " + (e.message ? e.message : "?");
    return std::string();
  };
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_image* image = nullptr;
  heif_image_handle* handle = nullptr;
  std::string out;
  const heif_compression_format format =
      codec == HeifCodec::kAvif ? heif_compression_AV1 : heif_compression_HEVC;
  heif_error e = heif_context_get_encoder_for_format(context, format, &encoder);
  if (e.code == heif_error_Ok) {
    heif_encoder_set_lossy_quality(encoder, 70);
    e = heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  }
  if (e.code == heif_error_Ok)
    e = heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
  if (e.code == heif_error_Ok) {
    int stride = 0;
    std::uint8_t* p = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const HeifSampleColour c = HeifSampleColourAt(width, height, variant, x, y);
        std::uint8_t* px = p + static_cast<std::ptrdiff_t>(y) * stride + 3 * x;
        px[0] = c.r, px[1] = c.g, px[2] = c.b;
      }
    e = heif_context_encode_image(context, image, encoder, nullptr, &handle);
  }
  if (e.code == heif_error_Ok && !exif.empty()) {
    // libheif finds the TIFF header after "Exif\0\0" and writes its offset itself.
    const std::string block = std::string("Exif\0\0", 6) + exif;
    e = heif_context_add_exif_metadata(context, handle, block.data(),
                                       static_cast<int>(block.size()));
  }
  if (e.code == heif_error_Ok) {
    heif_writer writer{1, Append};
    e = heif_context_write(context, &writer, &out);
  }
  if (handle) heif_image_handle_release(handle);
  if (image) heif_image_release(image);
  if (encoder) heif_encoder_release(encoder);
  heif_context_free(context);
  if (e.code != heif_error_Ok) return fail("libheif cannot encode the sample picture", e);
  return out;
}

}  // namespace

HeifSampleColour HeifSampleColourAt(int width, int height, unsigned variant, int x, int y) {
  HeifSampleColour c;
  c.r = static_cast<std::uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
  c.g = static_cast<std::uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
  c.b = static_cast<std::uint8_t>(40 + (variant % 8) * 25);
  return c;
}

std::string HeifSampleDate(unsigned variant) {
  char date[32];
  std::snprintf(date, sizeof date, "2021:03:%02u 12:%02u:00", 1 + variant % 28, variant % 60);
  return date;
}

std::string SampleExif(const std::string& dateTimeOriginal, int orientation, bool bigEndian) {
  std::string t;
  auto u16 = [&](unsigned v) {
    const char a = static_cast<char>(v & 0xFF), b = static_cast<char>((v >> 8) & 0xFF);
    t += bigEndian ? b : a;
    t += bigEndian ? a : b;
  };
  auto u32 = [&](std::uint32_t v) {
    if (bigEndian) {
      u16(v >> 16);
      u16(v & 0xFFFF);
    } else {
      u16(v & 0xFFFF);
      u16(v >> 16);
    }
  };
  const std::string make("Apple", 6), model("iPhone 12", 10);
  const std::string date = dateTimeOriginal + std::string(1, '\0');
  //   8: IFD0, 4 entries: Make, Model, Orientation, Exif IFD pointer
  //   8 + 2 + 48 + 4 = 62: Exif IFD, 1 entry: DateTimeOriginal; then the texts
  const std::uint32_t exifIfd = 62, texts = exifIfd + 2 + 12 + 4;
  t += bigEndian ? "MM" : "II";
  u16(42);
  u32(8);
  u16(4);
  u16(0x010F), u16(2), u32(static_cast<std::uint32_t>(make.size())), u32(texts);
  u16(0x0110), u16(2), u32(static_cast<std::uint32_t>(model.size())),
      u32(texts + static_cast<std::uint32_t>(make.size()));
  u16(0x0112), u16(3), u32(1), u16(static_cast<unsigned>(orientation)), u16(0);
  u16(0x8769), u16(4), u32(1), u32(exifIfd);
  u32(0);
  u16(1);
  u16(0x9003), u16(2), u32(static_cast<std::uint32_t>(date.size())),
      u32(texts + static_cast<std::uint32_t>(make.size() + model.size()));
  u32(0);
  return t + make + model + date;
}

std::string HeifPictureWithExif(HeifCodec codec, int width, int height, unsigned variant,
                                const std::string& exif, std::string* error) {
  static std::mutex lock;
  static std::map<std::tuple<int, int, int, unsigned, std::string>, std::string> made;
  const auto key = std::make_tuple(static_cast<int>(codec), width, height, variant, exif);
  std::lock_guard<std::mutex> hold(lock);
  auto it = made.find(key);
  if (it != made.end()) return it->second;
  std::string bytes = Encode(codec, width, height, variant, exif, error);
  if (!bytes.empty()) made.emplace(key, bytes);
  return bytes;
}

std::string HeifPicture(HeifCodec codec, int width, int height, unsigned variant,
                        std::string* error) {
  return HeifPictureWithExif(codec, width, height, variant,
                             SampleExif(HeifSampleDate(variant), 1, false), error);
}

}  // namespace bv::mkbackup
