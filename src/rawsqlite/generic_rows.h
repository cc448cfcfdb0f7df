#pragma once
// Decodes the rows of any table with the table pass, column by column, for people who
// judge a recovery (the carve command) and for the fuzz target.
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "rawsqlite/chat_passes.h"

namespace bv {

// A row keeps one of these per column (many thousands of carved rows wait at once):
// kind and flag share a word.
struct GenericValue {
  enum Kind : std::uint8_t { Null, Integer, Float, Text, Blob, Other } kind = Null;
  bool truncated = false;  // the content ran past the bytes available
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8) or blob contents
};

struct GenericRow {
  std::int32_t status = 0;   // 0 live, 1 deleted
  std::int32_t page = 0;     // page index
  std::uint32_t offset = 0;  // cell or candidate offset
  std::int64_t row_id = 0;   // live rows only
  int first_column = 0;      // 1 when the carved-header rule lost column 0
  // Carved: the offset just past the record's last byte as read (page bytes only).
  std::uint64_t end = 0;
  // A deleted row that spilled: the pages (0-based) of its freed overflow chain that were
  // read (see overflow_chain.h); -1 - page for a page read as the database file alone had
  // it (with a write-ahead log).
  std::vector<std::int32_t> overflow_pages;
  // The record spilled into overflow pages: the values cut short are those whose bytes
  // lay on pages of its chain that were no longer its own (or that it never reached).
  bool spilled = false;
  std::vector<GenericValue> values;
};

// Among the deleted rows: drops those whose values equal a live row's (a stale copy left
// when SQLite moved or rewrote the row) and lists each deleted row once, the most
// complete reading kept (a value cut by the page end gives way to a whole one that
// begins with it). Column 0 is left out of the comparison: a carved row may have lost
// it, and the row-id alias it often is holds NULL in every record. Live rows and the
// order of the list are kept.
void SettleDeletedRows(std::list<GenericRow>& rows);

// Decodes the cell or carving candidate `cell` into `row` (values from the first column
// the record holds). Returns 0, or 87 for a record that cannot be read.
std::int32_t DecodeGenericRow(RawDbFile& reader, const CellInput& cell, GenericRow& row);

// The values of a row from column 1 on as one text: equal for two rows exactly when
// SettleDeletedRows takes them for the same row.
std::string GenericRowKey(const GenericRow& row);

// What tells rows apart, for tables too large to keep every live row whole: a hash of
// the values from column 1 on (kind, number or the bits of a real, bytes), and one of
// the value in a unique column (kind, integer, bytes; none for NULL, a value cut short
// or a row without that column).
struct GenericRowHash {
  std::uint64_t values = 0;
  std::uint64_t key = 0;
  bool hasKey = false;
};

// The hashes of a decoded row, `keyColumn` the unique column (-1: none).
GenericRowHash HashGenericRow(const GenericRow& row, int keyColumn);

// The same hashes of the cell `cell`, read straight from its record without copying a
// value: equal to HashGenericRow of the row DecodeGenericRow makes of it, and the same
// result code. `scratch` holds the payload of a cell that spills to overflow pages.
std::int32_t HashLiveCell(RawDbFile& reader, const CellInput& cell, int keyColumn,
                          GenericRowHash& out, std::vector<std::uint8_t>& scratch);

// Runs the table pass over `table` (freed pages included when `use_freed_pages`),
// decoding every row generically, with the column counts of `pass.counts` and, when
// given, what `signature` knows of the columns for carving free space. Returns 0 or an
// error code.
std::int32_t ReadGenericRows(TablePass& pass, const std::string& table, bool use_freed_pages,
                             std::list<GenericRow>& rows, ColumnSignature* signature = nullptr);

}  // namespace bv
