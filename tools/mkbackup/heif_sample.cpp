// Real HEIF pictures for backups: encoded with libheif (x265 for HEIC, libaom for AVIF),
// as the camera of a newer phone writes them. Encoders give the same bytes for the same
// input, and pictures are kept per variant, so backups stay byte-stable and quick.
#include <libheif/heif.h>

#include <map>
#include <mutex>
#include <tuple>

#include "internal.h"
#include "mkbackup.h"

namespace bv::mkbackup {

namespace {

heif_error Append(heif_context*, const void* data, size_t size, void* out) {
  static_cast<std::string*>(out)->append(static_cast<const char*>(data), size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

std::string Encode(HeifCodec codec, int width, int height, unsigned variant, std::string* error) {
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

std::string HeifPicture(HeifCodec codec, int width, int height, unsigned variant,
                        std::string* error) {
  static std::mutex lock;
  static std::map<std::tuple<int, int, int, unsigned>, std::string> made;
  const auto key = std::make_tuple(static_cast<int>(codec), width, height, variant);
  std::lock_guard<std::mutex> hold(lock);
  auto it = made.find(key);
  if (it != made.end()) return it->second;
  std::string bytes = Encode(codec, width, height, variant, error);
  if (!bytes.empty()) made.emplace(key, bytes);
  return bytes;
}

}  // namespace bv::mkbackup
