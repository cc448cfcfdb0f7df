#include "records/note_document.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "common/text.h"

namespace bv {

bool InflateDocument(std::string_view compressed, std::string& out, std::size_t limit) {
  out.clear();
  if (compressed.empty()) return false;
  z_stream z{};
  // 32 + 15: a gzip or a zlib header, told apart by its first bytes.
  if (inflateInit2(&z, 32 + MAX_WBITS) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(compressed.size(), UINT_MAX));
  char buffer[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = sizeof buffer - z.avail_out;
    if (out.size() + produced > limit) {
      rc = Z_MEM_ERROR;
      break;
    }
    out.append(buffer, produced);
    // No progress with input left means the stream wants more than there is.
    if (rc == Z_BUF_ERROR || (rc == Z_OK && produced == 0 && z.avail_in == 0)) break;
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) {
    out.clear();
    return false;
  }
  return true;
}

namespace {

bool ReadVarint(std::string_view& in, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in.empty()) return false;
    const auto byte = static_cast<unsigned char>(in.front());
    in.remove_prefix(1);
    value |= std::uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;  // more than ten bytes
}

}  // namespace

bool ProtoFields::Next(std::uint32_t& field, int& type, std::string_view& bytes,
                       std::uint64_t& number) {
  if (failed_ || rest_.empty()) return false;
  std::uint64_t key = 0;
  if (!ReadVarint(rest_, key) || (key >> 3) == 0 || (key >> 3) > 0x1FFFFFFF) {
    failed_ = true;
    return false;
  }
  field = static_cast<std::uint32_t>(key >> 3);
  type = static_cast<int>(key & 7);
  bytes = {};
  number = 0;
  switch (type) {
    case 0:
      if (ReadVarint(rest_, number)) return true;
      break;
    case 1:
    case 5: {
      const std::size_t width = type == 1 ? 8 : 4;
      if (rest_.size() < width) break;
      for (std::size_t i = 0; i < width; ++i)
        number |= std::uint64_t{static_cast<unsigned char>(rest_[i])} << (8 * i);
      rest_.remove_prefix(width);
      return true;
    }
    case 2: {
      std::uint64_t length = 0;
      if (!ReadVarint(rest_, length) || length > rest_.size()) break;
      bytes = rest_.substr(0, static_cast<std::size_t>(length));
      rest_.remove_prefix(static_cast<std::size_t>(length));
      return true;
    }
    default:
      break;
  }
  failed_ = true;
  return false;
}

bool FindBytesField(std::string_view message, std::uint32_t field, std::string_view& out) {
  ProtoFields fields(message);
  std::uint32_t number = 0;
  int type = 0;
  std::string_view bytes;
  std::uint64_t value = 0;
  while (fields.Next(number, type, bytes, value)) {
    if (number == field && type == 2) {
      out = bytes;
      return true;
    }
  }
  return false;
}

bool DecodeNoteDocument(std::string_view zdata, std::string& text) {
  text.clear();
  std::string document;
  if (!InflateDocument(zdata, document)) return false;
  std::string_view inner, note, bytes;
  if (!FindBytesField(document, 2, inner) || !FindBytesField(inner, 3, note) ||
      !FindBytesField(note, 2, bytes))
    return false;
  text = ValidUtf8(bytes);
  return true;
}

}  // namespace bv
