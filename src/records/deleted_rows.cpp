#include "records/deleted_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <tuple>
#include <unordered_set>

#include "common/local_time.h"
#include "platform/utf8.h"
#include "common/text.h"
#include "rawsqlite/carving.h"
#include "rawsqlite/chat_passes.h"
#include "records/item_tables.h"

namespace bv {

namespace {

// A serial type of the value's kind, for the signature's kind test.
std::uint64_t TypeOfKind(const GenericValue& v) {
  switch (v.kind) {
    case GenericValue::Null:
      return 0;
    case GenericValue::Integer:
      return 1;
    case GenericValue::Float:
      return 7;
    case GenericValue::Text:
      return 13;
    case GenericValue::Blob:
      return 12;
    case GenericValue::Other:
      break;
  }
  return 10;  // reserved: fits no column
}

// Every value of the reading is of a kind the live rows showed in its column. Column 0
// is left out: it is the row-id alias (NULL) or was lost with the row's head.
bool FitsLiveRows(const GenericRow& row, const ColumnSignature& signature, std::size_t columns) {
  if (row.values.empty()) return false;
  if (row.first_column + row.values.size() > columns) return false;
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    const std::size_t column = static_cast<std::size_t>(row.first_column) + i;
    if (column == 0) continue;
    // A spilled row's values behind the end of what its chain still gave are cut: their
    // numbers are lost, not of another kind.
    if (row.spilled && row.values[i].truncated && row.values[i].kind == GenericValue::Other)
      continue;
    if (!signature.Fits(column, TypeOfKind(row.values[i]))) return false;
  }
  return true;
}

}  // namespace

int DeletedRows::Column(std::string_view name) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (EqualsNoCase(columns[i], name)) return static_cast<int>(i);
  return -1;
}

const GenericValue* DeletedRows::Value(const GenericRow& row, int column) {
  if (column < 0) return nullptr;
  const int index = column - row.first_column;
  if (index < 0 || index >= static_cast<int>(row.values.size())) return nullptr;
  return &row.values[static_cast<std::size_t>(index)];
}

namespace {

// Bytes that people write: valid UTF-8 without NUL or control characters other than
// tab, line feed and carriage return. A carved value that is not is read from
// someone else's bytes.
bool LooksLikeText(std::string_view bytes) {
  for (unsigned char c : bytes)
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  return IsValidUtf8(bytes);
}

// A reading with a text value of bytes nobody writes (a control character, broken
// UTF-8) was written over in part by other bytes; its numbers there are not its own.
bool TextsLookLikeText(const GenericRow& row) {
  for (const GenericValue& v : row.values)
    if (v.kind == GenericValue::Text && !v.truncated && !LooksLikeText(v.bytes)) return false;
  return true;
}

}  // namespace

std::string DeletedRows::Text(const GenericRow& row, int column) {
  const GenericValue* v = Value(row, column);
  if (v == nullptr || v->kind != GenericValue::Text || v->truncated) return {};
  if (!LooksLikeText(v->bytes)) return {};
  return v->bytes;
}

std::string DeletedRows::TextOrBlob(const GenericRow& row, int column) {
  const GenericValue* v = Value(row, column);
  if (v == nullptr || v->truncated) return {};
  if (v->kind != GenericValue::Text && v->kind != GenericValue::Blob) return {};
  // Up to the first NUL, as a C string of the blob reads.
  const std::string_view text = std::string_view(v->bytes).substr(0, v->bytes.find('\0'));
  if (!LooksLikeText(text)) return {};
  return std::string(text);
}

bool DeletedRows::Number(const GenericRow& row, int column, double& value) {
  const GenericValue* v = Value(row, column);
  if (v == nullptr || v->truncated) return false;
  if (v->kind == GenericValue::Integer) {
    value = static_cast<double>(v->integer);
    return true;
  }
  if (v->kind == GenericValue::Float && std::isfinite(v->real)) {
    value = v->real;
    return true;
  }
  return false;
}

bool DeletedRows::Integer(const GenericRow& row, int column, std::int64_t& value) {
  const GenericValue* v = Value(row, column);
  if (v == nullptr || v->truncated || v->kind != GenericValue::Integer) return false;
  value = v->integer;
  return true;
}

Result ReadDeletedRows(const DatabaseFile& file, const std::string& table,
                       const std::vector<std::string>& columns, DeletedRows& out,
                       std::string_view uniqueColumn, bool everyRowHasIt) {
  out.columns = columns;
  out.rows.clear();
  if (columns.empty() || columns.size() > 32767) return kInvalidParameter;
  TablePass pass;
  // With its write-ahead log (the stored one, else a "-wal" beside the file), the
  // reader sees the database as SQLite's readers do and carves the log's older frames.
  std::string log = file.log;
  if (log.empty()) {
    std::error_code ec;
    const std::filesystem::path beside = platform::PathFromUtf8(file.path + "-wal");
    if (std::filesystem::is_regular_file(beside, ec)) log = file.path + "-wal";
  }
  if (const std::int32_t rc = pass.reader.open(file.path, log); rc != 0) return rc;
  pass.spilledRows = true;
  pass.counts.declaredTable = table;
  pass.counts.declaredColumns = static_cast<std::uint32_t>(columns.size());
  if (EqualsNoCase(table, "message")) pass.counts.message_columns = pass.counts.declaredColumns;
  if (EqualsNoCase(table, "ZWAMESSAGE"))
    pass.counts.wa_message_columns = pass.counts.declaredColumns;
  if (EqualsNoCase(table, "call")) pass.counts.call_columns = pass.counts.declaredColumns;
  const int unique = uniqueColumn.empty() ? -1 : out.Column(uniqueColumn);
  auto keyOf = [unique](const GenericRow& row) {
    const GenericValue* v = DeletedRows::Value(row, unique);
    if (v == nullptr || v->truncated || v->kind == GenericValue::Null) return std::string();
    return std::to_string(v->kind) + ':' + std::to_string(v->integer) + ':' + v->bytes;
  };
  // Live rows are kept as hashes of what tells them apart, read straight from their
  // records (a large table holds many thousands); only the deleted readings are
  // decoded and kept whole.
  std::vector<std::uint64_t> liveRows, liveKeys;
  // Where each cell or reading begins, (page, state, offset): the page as the reader shows
  // it now (state -1), or an older image of it that a write-ahead log replaced (see
  // RawDbFile::ShownState); see the overlap rule below.
  using Start = std::tuple<std::int32_t, std::int64_t, std::uint32_t>;
  std::vector<Start> starts;
  std::map<const GenericRow*, std::int64_t> stateOf;
  std::list<GenericRow> rows;
  ColumnSignature signature;
  GenericRow row;
  row.values.reserve(columns.size());
  GenericRowHash live;
  std::vector<std::uint8_t> scratch;
  const RowDecoder decoder = [&](RawDbFile& reader, const CellInput& cell) -> std::int32_t {
    if (cell.status == 0) {
      if (const std::int32_t rc = HashLiveCell(reader, cell, unique, live, scratch); rc != 0)
        return rc;
      starts.emplace_back(cell.pageIndex, reader.ShownState(), cell.offset);
      liveRows.push_back(live.values);
      if (live.hasKey) liveKeys.push_back(live.key);
      return 0;
    }
    if (const std::int32_t rc = DecodeGenericRow(reader, cell, row); rc != 0) return rc;
    if ((signature.empty() || FitsLiveRows(row, signature, columns.size())) &&
        TextsLookLikeText(row)) {
      // Readings at a wrong alignment go before the settling, so that they never stand
      // in for a sound reading of the same row.
      starts.emplace_back(row.page, reader.ShownState(), row.offset);
      rows.push_back(std::move(row));
      stateOf[&rows.back()] = reader.ShownState();
      // A kept reading takes its values along: room for the next one's at once,
      // rather than grown a value at a time.
      row.values.reserve(columns.size());
    }
    return 0;
  };
  const std::int32_t rc = read_table(pass, table, decoder, true, &signature);
  // The starts are only asked about the readings' ends: without readings, no order.
  if (!rows.empty()) std::sort(starts.begin(), starts.end());
  std::sort(liveRows.begin(), liveRows.end());
  std::sort(liveKeys.begin(), liveKeys.end());
  // SQLite writes a cell whole, so a cell or reading whose head lies inside a reading's
  // record was written over it later: that reading's bytes from there on belong to the
  // other row (dates, numbers that still decode), and it is no row.
  rows.remove_if([&starts, &stateOf](const GenericRow& r) {
    if (r.end <= r.offset) return false;
    const std::int64_t state = stateOf[&r];
    const auto next =
        std::upper_bound(starts.begin(), starts.end(), Start(r.page, state, r.offset));
    return next != starts.end() && std::get<0>(*next) == r.page && std::get<1>(*next) == state &&
           std::get<2>(*next) < r.end;
  });
  SettleDeletedRows(rows);
  // Deleted rows: none equal to a live one (SQLite left an old copy when it moved the
  // row), each value of the unique column once (two readings of one row that differ
  // elsewhere, one of them damaged), the first reading kept.
  auto isLive = [](const std::vector<std::uint64_t>& hashes, std::uint64_t h) {
    return std::binary_search(hashes.begin(), hashes.end(), h);
  };
  std::unordered_set<std::string> seen;
  for (auto it = rows.begin(); it != rows.end();) {
    const GenericRowHash hashes = HashGenericRow(*it, unique);
    bool keep = !isLive(liveRows, hashes.values);
    if (keep && unique >= 0) {
      const std::string key = keyOf(*it);
      keep =
          key.empty() ? !everyRowHasIt : !isLive(liveKeys, hashes.key) && seen.insert(key).second;
    }
    it = keep ? std::next(it) : rows.erase(it);
  }
  // No two rows held an overflow page at one time: when two readings took bytes from one
  // freed page in one state of the database (the file's, or the file's with its log: see
  // GenericRow::overflow_pages), a later row took that page after the earlier one was
  // deleted, and which of them it holds then cannot be told. Neither is listed.
  std::map<std::int32_t, int> claims;
  for (const GenericRow& r : rows)
    for (std::int32_t page :
         std::set<std::int32_t>(r.overflow_pages.begin(), r.overflow_pages.end()))
      ++claims[page];
  rows.remove_if([&claims](const GenericRow& r) {
    return std::any_of(r.overflow_pages.begin(), r.overflow_pages.end(),
                       [&claims](std::int32_t page) { return claims[page] > 1; });
  });
  out.rows = std::move(rows);
  return rc;
}

std::string PlausibleUtcDate(double unixSeconds) {
  static const double latest = static_cast<double>(std::time(nullptr)) + 366.0 * 86400.0;
  // Nothing on an iPhone is older than the phone: 2007-01-01.
  constexpr double kEarliest = 1167609600.0;
  std::string text;
  if (!std::isfinite(unixSeconds) || unixSeconds < kEarliest || unixSeconds > latest) return text;
  if (!FormatCivil(static_cast<std::int64_t>(std::floor(unixSeconds)), text)) text.clear();
  return text;
}

std::vector<std::string> DeclaredColumns(ReadOnlyDatabase& db, std::string_view table) {
  std::vector<std::string> names = TableColumns(db, table).Names();
  db.ForgetStatementError();
  return names;
}

}  // namespace bv
