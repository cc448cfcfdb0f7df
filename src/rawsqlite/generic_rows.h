#pragma once
// Decodes the rows of any table with the table pass, column by column, for people who
// judge a recovery (the carve command) and for the fuzz target.
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "rawsqlite/raw_db_file.h"

namespace bv {

struct GenericValue {
  enum Kind { Null, Integer, Float, Text, Blob, Other } kind = Null;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;       // text (UTF-8) or blob contents
  bool truncated = false;  // the content ran past the bytes available
};

struct GenericRow {
  std::int32_t status = 0;   // 0 live, 1 deleted
  std::int32_t page = 0;     // page index
  std::uint32_t offset = 0;  // cell or candidate offset
  std::int64_t row_id = 0;   // live rows only
  int first_column = 0;      // 1 when the carved-header rule lost column 0
  std::vector<GenericValue> values;
};

// Runs the table pass over `table` (freed pages included when `use_freed_pages`),
// decoding every row generically. `columns` overrides the column count of names the
// reader does not know (0 keeps its table). Returns 0 or an error code.
std::int32_t ReadGenericRows(RawDbFile& reader, const std::string& table, bool use_freed_pages,
                             std::list<GenericRow>& rows);

}  // namespace bv
