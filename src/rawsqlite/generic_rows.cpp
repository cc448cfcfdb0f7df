#include "rawsqlite/generic_rows.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "rawsqlite/chat_passes.h"
#include "rawsqlite/overflow_chain.h"
#include "rawsqlite/record_cursor.h"

namespace bv {

namespace {

// A value as the record holds it, its bytes left where they are (the page or the
// joined payload): what the row decoder copies and what the live-row hash reads.
struct ValueView {
  GenericValue::Kind kind = GenericValue::Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string_view bytes;
  bool truncated = false;
};

ValueView ViewOf(const Column& col) {
  ValueView v;
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
      v.bytes = std::string_view(reinterpret_cast<const char*>(col.bytes.data() + col.offset),
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
    v.bytes = col.Text();
  } else {
    v.kind = GenericValue::Other;
  }
  return v;
}

GenericValue ValueOf(const Column& col) {
  const ValueView view = ViewOf(col);
  GenericValue v;
  v.kind = view.kind;
  v.integer = view.integer;
  v.real = view.real;
  v.bytes.assign(view.bytes);
  v.truncated = view.truncated;
  return v;
}

ValueView ViewOf(const GenericValue& value) {
  return ValueView{value.kind, value.integer, value.real, value.bytes, value.truncated};
}

// One value into a running row hash: its kind and size, its number (the bits of a
// real), its bytes eight at a time. Called for every column of every live row, so it
// stays inline and calls nothing for the many NULLs and small numbers.
inline void MixValue(std::uint64_t& h, const ValueView& v) {
  auto mix = [&h](std::uint64_t x) { h = (h ^ x) * 1099511628211ull + (h >> 29); };
  std::uint64_t number = static_cast<std::uint64_t>(v.integer);
  if (v.kind == GenericValue::Float) std::memcpy(&number, &v.real, sizeof number);
  mix((static_cast<std::uint64_t>(v.kind) + 1) | (static_cast<std::uint64_t>(v.bytes.size()) << 8));
  mix(number);
  const char* p = v.bytes.data();
  std::size_t left = v.bytes.size();
  for (; left >= 8; left -= 8, p += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, 8);
    mix(word);
  }
  if (left > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, left);
    mix(word);
  }
}

constexpr std::uint64_t kHashStart = 1469598103934665603ull;

// The key of a unique column's value: its kind, its integer and its bytes (a real
// counts by its kind alone).
std::uint64_t KeyHash(const ValueView& v) {
  std::uint64_t h = kHashStart;
  ValueView key = v;
  key.real = 0;
  MixValue(h, key);
  return h;
}

// The value of column `column` of a row, or null when the row has no such column.
const GenericValue* ValueAt(const GenericRow& row, int column) {
  const int index = column - row.first_column;
  if (index < 0 || index >= static_cast<int>(row.values.size())) return nullptr;
  return &row.values[static_cast<std::size_t>(index)];
}

bool SameValue(const GenericValue& a, const GenericValue& b) {
  return a.kind == b.kind && a.integer == b.integer && a.bytes == b.bytes &&
         (a.kind != GenericValue::Float || a.real == b.real);
}

// `whole` equals `part` in every column from 1 on, where a value that `part` holds cut
// short may be the beginning of `whole`'s.
bool Covers(const GenericRow& whole, const GenericRow& part) {
  const int end = std::max(whole.first_column + static_cast<int>(whole.values.size()),
                           part.first_column + static_cast<int>(part.values.size()));
  for (int column = 1; column < end; ++column) {
    const GenericValue* a = ValueAt(whole, column);
    const GenericValue* b = ValueAt(part, column);
    if (a == nullptr || b == nullptr) return false;
    if (b->truncated) {
      if (a->kind != b->kind || a->bytes.compare(0, b->bytes.size(), b->bytes) != 0) return false;
    } else if (a->truncated || !SameValue(*a, *b)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string GenericRowKey(const GenericRow& row) {
  std::string key;
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    if (row.first_column + static_cast<int>(i) < 1) continue;
    const GenericValue& v = row.values[i];
    key += static_cast<char>('0' + v.kind);
    key += std::to_string(v.kind == GenericValue::Float ? 0 : v.integer);
    if (v.kind == GenericValue::Float) key += std::to_string(v.real);
    key += ':' + std::to_string(v.bytes.size()) + ':' + v.bytes;
  }
  return key;
}

void SettleDeletedRows(std::list<GenericRow>& rows) {
  auto truncated = [](const GenericRow& row) {
    for (const GenericValue& v : row.values)
      if (v.truncated) return true;
    return false;
  };
  // The first column from 1 on that is not NULL, with its value, as a key that a value
  // cut short is a prefix of: the column, the kind, then the bytes (texts and blobs) or
  // the number. (Rows alike up to there share it; column 1 alone is NULL in every row
  // of a table whose row-id alias it is.)
  auto keyColumn = [](const GenericRow& row) {
    int column = 1;
    for (const GenericValue* v = ValueAt(row, column);
         v != nullptr && v->kind == GenericValue::Null; v = ValueAt(row, ++column)) {
    }
    return column;
  };
  auto firstKey = [&](const GenericRow& row) {
    const int column = keyColumn(row);
    const GenericValue* v = ValueAt(row, column);
    std::string key = std::to_string(column) + ':';
    if (v == nullptr) return key;
    key += static_cast<char>('A' + v->kind);
    if (v->kind == GenericValue::Text || v->kind == GenericValue::Blob || v->truncated)
      return key + v->bytes;
    return key + '#' + std::to_string(v->integer) + '#' + std::to_string(v->real);
  };
  std::vector<std::list<GenericRow>::iterator> order;
  for (auto it = rows.begin(); it != rows.end(); ++it) order.push_back(it);
  std::vector<bool> keep(order.size(), true);
  // Whole rows by their values from column 1 on: live ones first, then deleted ones in
  // list order; a deleted row whose values are taken goes. The rows that took a key are
  // kept by the key's hash (thousands of whole keys would weigh as much as the rows);
  // a hash that matches is checked against the whole keys.
  std::unordered_map<std::uint64_t, std::vector<std::size_t>> seen;
  const auto take = [&](std::size_t i) {
    const std::string key = GenericRowKey(*order[i]);
    std::vector<std::size_t>& holders = seen[std::hash<std::string>{}(key)];
    for (std::size_t j : holders)
      if (GenericRowKey(*order[j]) == key) return false;
    holders.push_back(i);
    return true;
  };
  for (std::size_t i = 0; i < order.size(); ++i)
    if (order[i]->status == 0) take(i);
  // Rows that may cover a reading cut short, by their key column.
  std::map<std::string, std::vector<std::size_t>> byFirst;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const GenericRow& row = *order[i];
    if (row.status != 0 && !truncated(row) && !take(i)) keep[i] = false;
    if (keep[i]) byFirst[firstKey(row)].push_back(i);
  }
  for (std::size_t i = 0; i < order.size(); ++i) {
    const GenericRow& row = *order[i];
    if (row.status == 0 || !truncated(row)) continue;
    // A reading cut short goes when a whole row, or an earlier kept cut one, begins the
    // same way.
    const std::string key = firstKey(row);
    auto covered = [&](const std::vector<std::size_t>& candidates) {
      for (std::size_t j : candidates) {
        if (j == i || !keep[j]) continue;
        const GenericRow& other = *order[j];
        if ((!truncated(other) || (other.status != 0 && j < i)) && Covers(other, row)) return true;
      }
      return false;
    };
    // The rows whose key column begins with this one's (equals it, when not cut).
    const GenericValue* first = ValueAt(row, keyColumn(row));
    const bool cutFirst = first != nullptr && first->truncated;
    for (auto it = byFirst.lower_bound(key); it != byFirst.end() && keep[i]; ++it) {
      if (cutFirst ? it->first.compare(0, key.size(), key) != 0 : it->first != key) break;
      if (covered(it->second)) keep[i] = false;
    }
  }
  for (std::size_t i = 0; i < order.size(); ++i)
    if (!keep[i]) rows.erase(order[i]);
}

namespace {

// Opens the record of `cell` (a live cell's payload joined from its overflow pages
// into `joined`) and hands `visit` each column, at most SQLite's limit of them: a
// damaged live header could name millions. Returns 0, a failed page read's code, or 87
// for a record that cannot be read.
// With `deleted` (a row being decoded), a deleted row that spilled is joined from its
// freed overflow chain (see overflow_chain.h): `deleted` learns the chain's pages and
// `spilledEnd` where a carved row's local part and link end in the page.
template <typename Visit>
std::int32_t WalkCell(RawDbFile& r, const CellInput& cell, std::vector<std::uint8_t>& joined,
                      RecordCursor& cursor, Visit&& visit, GenericRow* deleted = nullptr,
                      std::uint64_t* spilledEnd = nullptr) {
  Bytes bytes = Tail(cell.page, cell.offset);
  if (cell.carved) {
    // A deleted row that spilled keeps its rest on freed overflow pages, if anywhere.
    if (deleted != nullptr && spilledEnd != nullptr)
      deleted->spilled =
          JoinSpilledCarving(r, cell.page, cell.pageIndex, cell.offset, cell.next, cell.columns,
                             joined, bytes, *spilledEnd, &deleted->overflow_pages);
  } else if (deleted != nullptr && cell.status != 0 && !r.ShowsOlderState() &&
             JoinSpilledFreedCell(r, cell.page, cell.pageIndex, cell.offset, joined, bytes,
                                  &deleted->overflow_pages)) {
    // A cell of a freed page: its chain was freed with it and is read only as far as
    // its pages are still free (in an older image the cell was live then, and its chain
    // is read as it was then, below).
    deleted->spilled = true;
  } else if (std::int32_t rc =
                 r.read_live_payload(cell.page, cell.offset, cell.next, joined, bytes);
             rc != 0) {
    return rc;
  }
  if (!cursor.Open(r, bytes, cell.carved, cell.columns)) return 87;
  Column col;
  for (std::size_t count = 0; count < 32767 && cursor.Next(col); ++count) visit(col);
  return 0;
}

}  // namespace

std::int32_t DecodeGenericRow(RawDbFile& r, const CellInput& cell, GenericRow& row) {
  row.values.clear();  // keeps its room for the next row of a pass
  row.first_column = 0;
  row.overflow_pages.clear();
  row.spilled = false;
  row.status = cell.status;
  row.offset = cell.offset;
  row.page = cell.pageIndex;
  std::vector<std::uint8_t> joined;
  std::uint64_t spilledEnd = 0;
  RecordCursor cursor;
  bool first = true;
  const std::int32_t rc = WalkCell(
      r, cell, joined, cursor,
      [&](const Column& col) {
        if (first) row.first_column = col.index;
        first = false;
        row.values.push_back(ValueOf(col));
      },
      &row, &spilledEnd);
  if (rc != 0) return rc;
  row.row_id = cell.carved ? 0 : static_cast<std::int64_t>(cursor.row_id);
  row.end = !cell.carved ? 0 : spilledEnd != 0 ? spilledEnd : cell.offset + cursor.ContentEnd();
  return 0;
}

GenericRowHash HashGenericRow(const GenericRow& row, int keyColumn) {
  GenericRowHash out;
  out.values = kHashStart;
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    const int column = row.first_column + static_cast<int>(i);
    const ValueView v = ViewOf(row.values[i]);
    if (column >= 1) MixValue(out.values, v);
    if (column == keyColumn && !v.truncated && v.kind != GenericValue::Null) {
      out.key = KeyHash(v);
      out.hasKey = true;
    }
  }
  return out;
}

std::int32_t HashLiveCell(RawDbFile& r, const CellInput& cell, int keyColumn, GenericRowHash& out,
                          std::vector<std::uint8_t>& scratch) {
  out = GenericRowHash{};
  out.values = kHashStart;
  RecordCursor cursor;
  return WalkCell(r, cell, scratch, cursor, [&](const Column& col) {
    // NULL and the constants 0 and 1, most of a wide table's columns, are mixed as their
    // views are without ViewOf.
    if (col.type == 0 || col.type == 8 || col.type == 9) {
      ValueView v;
      if (col.type != 0) {
        v.kind = GenericValue::Integer;
        v.integer = col.type == 9 ? 1 : 0;
      }
      if (col.index >= 1) MixValue(out.values, v);
      if (col.index == keyColumn && col.type != 0) {
        out.key = KeyHash(v);
        out.hasKey = true;
      }
      return;
    }
    const ValueView v = ViewOf(col);
    if (col.index >= 1) MixValue(out.values, v);
    if (col.index == keyColumn && !v.truncated && v.kind != GenericValue::Null) {
      out.key = KeyHash(v);
      out.hasKey = true;
    }
  });
}

std::int32_t ReadGenericRows(TablePass& pass, const std::string& table, bool use_freed_pages,
                             std::list<GenericRow>& rows, ColumnSignature* signature) {
  const RowDecoder decoder = [&rows](RawDbFile& r, const CellInput& cell) -> std::int32_t {
    GenericRow row;
    if (std::int32_t rc = DecodeGenericRow(r, cell, row); rc != 0) return rc;
    rows.push_back(std::move(row));
    return 0;
  };
  return read_table(pass, table, decoder, use_freed_pages, signature);
}

}  // namespace bv
