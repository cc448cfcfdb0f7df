#include "rawsqlite/generic_rows.h"

#include <cstring>

#include "rawsqlite/chat_passes.h"
#include "rawsqlite/record_cursor.h"

namespace bv {

namespace {

GenericValue ValueOf(const Column& col) {
  GenericValue v;
  if (col.type == 0) return v;
  if (col.type == 8 || col.type == 9) {
    v.kind = GenericValue::Integer;
    v.integer = col.type == 9 ? 1 : 0;
    return v;
  }
  if (!col.Fits()) {
    v.kind = col.IsText()   ? GenericValue::Text
             : col.IsBlob() ? GenericValue::Blob
                            : GenericValue::Other;
    v.truncated = true;
    if (col.offset < col.bytes.size())
      v.bytes.assign(reinterpret_cast<const char*>(col.bytes.data() + col.offset),
                     col.bytes.size() - col.offset);
    return v;
  }
  if (col.type == 7) {
    v.kind = GenericValue::Float;
    const std::uint64_t bits = col.Unsigned();
    std::memcpy(&v.real, &bits, sizeof v.real);
  } else if (col.IsInteger()) {
    v.kind = GenericValue::Integer;
    v.integer = col.Signed();
  } else if (col.IsText() || col.IsBlob()) {
    v.kind = col.IsText() ? GenericValue::Text : GenericValue::Blob;
    v.bytes.assign(col.Text());
  } else {
    v.kind = GenericValue::Other;
  }
  return v;
}

}  // namespace

std::int32_t ReadGenericRows(RawDbFile& reader, const std::string& table, bool use_freed_pages,
                             std::list<GenericRow>& rows) {
  const RowDecoder decoder = [&rows](RawDbFile& r, const CellInput& cell) -> std::int32_t {
    GenericRow row;
    row.status = cell.status;
    row.offset = cell.offset;
    row.page = cell.page_index;
    Bytes bytes = Tail(cell.page, cell.offset);
    std::vector<std::uint8_t> joined;
    if (!cell.carved) {
      if (std::int32_t rc = r.read_live_payload(cell.page, cell.offset, cell.next, joined, bytes);
          rc != 0)
        return rc;
    }
    RecordCursor cursor;
    if (!cursor.Open(r, bytes, cell.carved, cell.carved ? r.expected_columns(r.current_table) : 0))
      return 87;
    row.row_id = cell.carved ? 0 : static_cast<std::int64_t>(cursor.row_id);
    Column col;
    bool first = true;
    // A damaged live header could name millions of columns; no real table has more
    // than SQLite's own limit.
    while (cursor.Next(col) && row.values.size() < 32767) {
      if (first) row.first_column = col.index;
      first = false;
      row.values.push_back(ValueOf(col));
    }
    rows.push_back(std::move(row));
    return 0;
  };
  return read_table(reader, table, decoder, use_freed_pages);
}

}  // namespace bv
