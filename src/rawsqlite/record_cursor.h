#pragma once
// Walks the columns of one record, live (payload length, row id and header size
// present) or carved (the carved-header rule decides the columns). Every read stays
// inside the bytes it was given.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "rawsqlite/raw_db_file.h"

namespace bv {

struct Column {
  int index = 0;
  std::uint64_t type = 0;
  std::uint64_t size = 0;    // content bytes
  std::uint64_t offset = 0;  // content position in the record bytes
  Bytes bytes;               // the record bytes

  bool IsText() const { return type >= 13 && type % 2 == 1; }
  bool IsBlob() const { return type >= 12 && type % 2 == 0; }
  bool IsInteger() const { return type >= 1 && type <= 6; }
  // The content lies inside the bytes.
  bool Fits() const { return offset <= bytes.size() && size <= bytes.size() - offset; }
  std::string_view Text() const {
    if (!Fits()) return {};
    return {reinterpret_cast<const char*>(bytes.data() + offset), static_cast<std::size_t>(size)};
  }
  // Big-endian integer of 1 to 8 bytes; 0 when it does not fit.
  std::uint64_t Unsigned() const {
    if (!Fits() || size == 0 || size > 8) return type == 9 ? 1 : 0;
    std::uint64_t v = 0;
    for (std::uint64_t i = 0; i < size; ++i) v = (v << 8) | bytes[offset + i];
    return v;
  }
  std::int64_t Signed() const {
    const std::uint64_t v = Unsigned();
    if (size == 0 || size >= 8) return static_cast<std::int64_t>(v);
    const unsigned bits = static_cast<unsigned>(size * 8);
    const std::uint64_t sign = 1ull << (bits - 1);
    return static_cast<std::int64_t>((v ^ sign) - sign);
  }
};

class RecordCursor {
 public:
  // Live: reads payload length, row id and header size. Carved: `columns` is C of the
  // carved-header rule (0 makes the record unreadable). False when no header fits.
  bool Open(const RawDbFile& reader, Bytes bytes, bool carved, std::uint32_t columns) {
    bytes_ = bytes;
    if (bytes.empty()) return false;
    if (!carved) {
      int length_bytes = 0, rowid_bytes = 0, header_bytes = 0;
      payload_length =
          RawDbFile::read_varint(bytes, static_cast<std::int64_t>(bytes.size()), length_bytes);
      row_id = RawDbFile::read_varint(Tail(bytes, length_bytes),
                                      static_cast<std::int64_t>(bytes.size()) - length_bytes,
                                      rowid_bytes);
      const std::uint64_t start =
          static_cast<std::uint64_t>(length_bytes) + static_cast<std::uint64_t>(rowid_bytes);
      if (start >= bytes.size()) return false;
      const std::uint64_t header = RawDbFile::read_varint(
          Tail(bytes, start), static_cast<std::int64_t>(bytes.size() - start), header_bytes);
      if (header_bytes <= 0 || header < static_cast<std::uint64_t>(header_bytes)) return false;
      pos_ = start + static_cast<std::uint64_t>(header_bytes);
      end_ = start + header;
      content_ = end_;
      remaining_ = ~0ull;
      column_ = 0;
      return true;
    }
    return OpenCarved(reader, bytes, columns, bytes[0] == 0 ? 0 : 1);
  }

  // Carved, with the first column given instead of taken from the first byte: 0 reads
  // C serial types for columns 0..C-1, 1 reads C-1 types for columns 1..C-1. `skip`
  // content bytes are passed over before the first column's contents (those of a
  // column whose type was lost but whose contents were not).
  bool OpenCarved(const RawDbFile& reader, Bytes bytes, std::uint32_t columns, int first_column,
                  std::uint32_t skip = 0) {
    bytes_ = bytes;
    if (bytes.empty() || columns == 0) return false;
    const std::uint32_t count = first_column == 0 ? columns : columns - 1;
    column_ = first_column == 0 ? 0 : 1;
    first_ = column_;
    const std::uint32_t types_length = reader.varints_length(bytes, count);
    if (types_length == 0 && count != 0) return false;
    pos_ = 0;
    end_ = types_length;
    content_ = std::uint64_t{types_length} + skip;
    remaining_ = count;
    return true;
  }

  // The next column; false at the end of the header.
  bool Next(Column& col) {
    if (remaining_ == 0 || pos_ >= end_ || pos_ >= bytes_.size()) return false;
    // Serial types of one byte, nearly all of them, are read as they are.
    int length = 1;
    std::uint64_t type = bytes_[static_cast<std::size_t>(pos_)];
    if (type >= 0x80) {
      length = 0;
      type = RawDbFile::read_varint(
          Tail(bytes_, pos_),
          static_cast<std::int64_t>(std::min<std::uint64_t>(end_, bytes_.size()) - pos_), length);
      if (length <= 0) return false;
    }
    pos_ += static_cast<std::uint64_t>(length);
    --remaining_;
    col.index = column_++;
    col.type = type;
    col.size = SerialContentSize(type);
    col.offset = content_;
    col.bytes = bytes_;
    content_ = content_ + col.size < content_ ? ~0ull : content_ + col.size;
    return true;
  }

  // The end of the contents of the columns walked so far (of the whole record once the
  // walk is over), from the start of the bytes.
  std::uint64_t ContentEnd() const { return content_; }
  // The first column of a carved reading (1 when column 0's type was lost).
  int FirstColumn() const { return first_; }

  std::uint64_t payload_length = 0;
  std::uint64_t row_id = 0;

 private:
  Bytes bytes_;
  std::uint64_t pos_ = 0;
  std::uint64_t end_ = 0;
  std::uint64_t content_ = 0;
  std::uint64_t remaining_ = 0;
  int column_ = 0;
  int first_ = 0;
};

}  // namespace bv
