#include "catalogue/heif_picture.h"

#include <libheif/heif.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace bv {

namespace {

void Say(std::string* reason, std::string text) {
  if (reason) *reason = std::move(text);
}

struct HeifContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct HeifImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};

std::string HeifMessage(const heif_error& e) {
  return e.message && *e.message ? e.message : "unknown error";
}

// libjpeg reports a fatal error through error_exit, which must not return: it jumps
// back to the setjmp of the call that started the work. The functions that set the
// jump hold no C++ objects with destructors between setjmp and the libjpeg calls.
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

// Encodes into a buffer that libjpeg allocates; the caller frees it. False with
// `message` filled on a failure.
bool EncodeInto(const RgbPicture& picture, int quality, std::string_view app1, unsigned char** out,
                unsigned long* size, char* message) {
  jpeg_compress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.emit_message = JpegSilence;
  error.message[0] = '\0';
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::memcpy(message, error.message, sizeof error.message);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, size);
  info.image_width = static_cast<JDIMENSION>(picture.width);
  info.image_height = static_cast<JDIMENSION>(picture.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  if (!app1.empty())
    jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()),
                      static_cast<unsigned>(app1.size()));
  const std::size_t stride = static_cast<std::size_t>(picture.width) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture.pixels.data() + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

// Reads the header and then the rows into `pixels`, which is sized here. False with
// `message` filled.
bool DecodeFrom(const unsigned char* data, unsigned long size, int* width, int* height,
                std::vector<unsigned char>* pixels, char* message) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.emit_message = JpegSilence;
  error.message[0] = '\0';
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    std::memcpy(message, error.message, sizeof error.message);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  if (static_cast<std::int64_t>(info.image_width) * info.image_height > kHeifPixelLimit) {
    std::snprintf(message, JMSG_LENGTH_MAX, "the picture is too large: %u x %u", info.image_width,
                  info.image_height);
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_start_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  const std::size_t stride = static_cast<std::size_t>(info.output_width) * 3;
  // Our one allocation, made in this frame (never inside a libjpeg call).
  pixels->assign(stride * info.output_height, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels->data() + info.output_scanline * stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// TIFF numbers in the data's own byte order.
struct Tiff {
  std::string& data;
  bool little;
  std::uint32_t U16(std::size_t at) const {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + at;
    return little ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
  }
  std::uint32_t U32(std::size_t at) const {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + at;
    return little ? (p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24)
                  : (std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
  }
  void Put16(std::size_t at, std::uint32_t v) {
    data[at] = static_cast<char>(little ? v & 0xFF : v >> 8);
    data[at + 1] = static_cast<char>(little ? v >> 8 : v & 0xFF);
  }
};

// The largest Exif data one JPEG APP1 segment holds (65535 less the length field and
// "Exif\0\0").
constexpr std::size_t kApp1Limit = 65535 - 2 - 6;

std::string ExifOf(const heif_image_handle* handle) {
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1) return {};
  const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
  if (size == 0 || size > 16 * kApp1Limit) return {};
  std::string item(size, '\0');
  if (heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok) return {};
  return ExifForDecodedPicture(item);
}

}  // namespace

std::string ExifForDecodedPicture(std::string_view item) {
  //   offset  size  field (HEIF Exif item)
  //   0       4     offset of the TIFF header from byte 4, big-endian
  //   4       ...   data; often "Exif\0\0" right before the TIFF header
  // TIFF: "II" or "MM", 42, offset of IFD0; IFD0: entry count (2), 12-byte entries
  // (tag 2, type 2, count 4, value 4); Orientation is tag 0x0112, one SHORT.
  if (item.size() < 4) return {};
  const auto* b = reinterpret_cast<const unsigned char*>(item.data());
  const std::uint64_t skip =
      4 + (std::uint64_t(b[0]) << 24 | std::uint64_t(b[1]) << 16 | std::uint64_t(b[2]) << 8 | b[3]);
  if (skip > item.size()) return {};
  std::string_view rest = item.substr(static_cast<std::size_t>(skip));
  if (rest.starts_with(std::string_view("Exif\0\0", 6))) rest.remove_prefix(6);
  std::string data(rest);
  if (data.size() < 8 || data.size() > kApp1Limit) return {};
  Tiff t{data, data.compare(0, 2, "II") == 0};
  if (!t.little && data.compare(0, 2, "MM") != 0) return {};
  if (t.U16(2) != 42) return {};
  const std::uint64_t ifd = t.U32(4);
  if (ifd < 8 || ifd + 2 > data.size()) return {};
  const std::uint32_t count = t.U16(static_cast<std::size_t>(ifd));
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t e = ifd + 2 + 12ull * i;
    if (e + 12 > data.size()) return {};
    const auto at = static_cast<std::size_t>(e);
    if (t.U16(at) == 0x0112 && t.U16(at + 2) == 3 && t.U32(at + 4) == 1) t.Put16(at + 8, 1);
  }
  return data;
}

Result DecodeHeif(std::string_view bytes, RgbPicture& picture, std::string* reason,
                  std::string* exif) {
  picture = RgbPicture{};
  if (exif) exif->clear();
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (!context) {
    Say(reason, "out of memory");
    return kInvalidParameter;
  }
  // libheif's own bound on the picture's size (the square of this width).
  heif_context_set_maximum_image_size_limit(context.get(), 12000);
  heif_error e = heif_context_read_from_memory_without_copy(context.get(), bytes.data(),
                                                            bytes.size(), nullptr);
  if (e.code != heif_error_Ok) {
    Say(reason, "not a HEIF picture: " + HeifMessage(e));
    return kInvalidParameter;
  }
  heif_image_handle* rawHandle = nullptr;
  e = heif_context_get_primary_image_handle(context.get(), &rawHandle);
  std::unique_ptr<heif_image_handle, HeifHandleFree> handle(rawHandle);
  if (e.code != heif_error_Ok || !handle) {
    Say(reason, "the HEIF file holds no picture: " + HeifMessage(e));
    return kInvalidParameter;
  }
  const std::int64_t w = heif_image_handle_get_width(handle.get());
  const std::int64_t h = heif_image_handle_get_height(handle.get());
  if (w <= 0 || h <= 0 || w * h > kHeifPixelLimit) {
    Say(reason, "the picture is too large: " + std::to_string(w) + " x " + std::to_string(h));
    return kInvalidParameter;
  }
  heif_image* rawImage = nullptr;
  e = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                        nullptr);
  std::unique_ptr<heif_image, HeifImageFree> image(rawImage);
  if (e.code != heif_error_Ok || !image) {
    Say(reason, "the HEIF picture cannot be decoded: " + HeifMessage(e));
    return kInvalidParameter;
  }
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (!plane || width <= 0 || height <= 0 || stride < width * 3 ||
      heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
    Say(reason, "the HEIF picture decodes to no 8-bit RGB picture");
    return kInvalidParameter;
  }
  if (static_cast<std::int64_t>(width) * height > kHeifPixelLimit) {
    Say(reason,
        "the picture is too large: " + std::to_string(width) + " x " + std::to_string(height));
    return kInvalidParameter;
  }
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  picture.pixels.resize(row * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    std::memcpy(picture.pixels.data() + row * static_cast<std::size_t>(y),
                plane + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y), row);
  picture.width = width;
  picture.height = height;
  if (exif) *exif = ExifOf(handle.get());
  return kSuccess;
}

Result EncodeJpeg(const RgbPicture& picture, int quality, std::string& jpeg, std::string* reason,
                  std::string_view exif) {
  jpeg.clear();
  if (picture.width <= 0 || picture.height <= 0 || picture.width > 65500 ||
      picture.height > 65500 ||
      picture.pixels.size() !=
          static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3) {
    Say(reason, "no picture to encode");
    return kInvalidParameter;
  }
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX] = {};
  std::string app1;
  if (!exif.empty() && exif.size() <= kApp1Limit)
    app1 = std::string("Exif\0\0", 6) + std::string(exif);
  const bool ok = EncodeInto(picture, quality, app1, &out, &size, message);
  if (ok && out) jpeg.assign(reinterpret_cast<const char*>(out), size);
  std::free(out);
  if (!ok) {
    Say(reason, std::string("the JPEG cannot be written: ") + message);
    return kInvalidParameter;
  }
  return kSuccess;
}

Result DecodeJpeg(std::string_view jpeg, RgbPicture& picture, std::string* reason) {
  picture = RgbPicture{};
  char message[JMSG_LENGTH_MAX] = {};
  int width = 0, height = 0;
  if (jpeg.empty() || !DecodeFrom(reinterpret_cast<const unsigned char*>(jpeg.data()),
                                  static_cast<unsigned long>(jpeg.size()), &width, &height,
                                  &picture.pixels, message)) {
    Say(reason, std::string("not a readable JPEG: ") + (message[0] ? message : "no data"));
    picture.pixels.clear();
    return kInvalidParameter;
  }
  picture.width = width;
  picture.height = height;
  return kSuccess;
}

Result HeifToJpeg(std::string_view heif, std::string& jpeg, std::string* reason) {
  RgbPicture picture;
  std::string exif;
  if (Result r = DecodeHeif(heif, picture, reason, &exif); r != kSuccess) return r;
  return EncodeJpeg(picture, 92, jpeg, reason, exif);
}

}  // namespace bv
