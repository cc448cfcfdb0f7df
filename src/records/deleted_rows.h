#pragma once
// Rows that a record database no longer shows: the deleted rows of one table, carved
// from its pages by the raw reader (freeblocks, unallocated space, freed pages) and
// settled, so that no copy of a live row is listed and each deleted row comes once.
// The readers turn them into records of their own kind with `deleted` set.
//
// Columns are known by name (from the table's CREATE statement as SQLite reports it),
// so that the layouts of every system version are read alike.
//
// Thread-compatible: every call opens its own reader.
#include <list>
#include <string>
#include <string_view>
#include <vector>

#include "common/result_codes.h"
#include "rawsqlite/generic_rows.h"
#include "records/readonly_db.h"

namespace bv {

class DeletedRows {
 public:
  // The table's columns, in their stored order (the row-id alias included).
  std::vector<std::string> columns;
  // The deleted rows, each once (status 1), in the order the pages hold them.
  std::list<GenericRow> rows;

  // The position of column `name` (ASCII case ignored), or -1.
  int Column(std::string_view name) const;
  // The value of column `column` of `row`; null when the carving lost it (a row whose
  // head was overwritten) or the column is -1.
  static const GenericValue* Value(const GenericRow& row, int column);
  // The value as text; empty for anything but a whole text of valid UTF-8 without
  // control characters (other than tab, line feed and carriage return).
  static std::string Text(const GenericRow& row, int column);
  // The same for a text that the app stores as a blob (an address), as SQLite hands a
  // blob to a reader asking for text.
  static std::string TextOrBlob(const GenericRow& row, int column);
  // The value as a number (integers and reals); false when there is none.
  static bool Number(const GenericRow& row, int column, double& value);
  static bool Integer(const GenericRow& row, int column, std::int64_t& value);
};

// Reads the deleted rows of `table`, whose columns are `columns`, from `file`. A
// reading whose values are of kinds the table's live rows never hold in those columns
// is left out. Result: 0, or the code of the first read that failed (what was read
// before it is kept).
//
// The database is read with its write-ahead log (`file.log`, else a "-wal" beside
// it): live rows as SQLite sees them with the log applied, deleted rows also from the
// log's older page images.
// `uniqueColumn`, when the table has one (a message's guid), is a column whose value no
// two rows share: a reading that holds a live row's value there is an old copy of that
// row (SQLite moved it, or a page split left it behind), even when other bytes of the
// copy were overwritten since; of two readings with one value the first is kept. With
// `everyRowHasIt` (the column is NOT NULL), a reading without a value there is no row.
Result ReadDeletedRows(const DatabaseFile& file, const std::string& table,
                       const std::vector<std::string>& columns, DeletedRows& out,
                       std::string_view uniqueColumn = {}, bool everyRowHasIt = false);

// "YYYY-MM-DD HH:MM:SS" (UTC) of a time in seconds since 1970, when it lies between
// 2007 (the first iPhone) and a year from now: a carved row with a time outside that was read at a
// wrong alignment or holds someone else's bytes. Empty otherwise.
std::string PlausibleUtcDate(double unixSeconds);

// The columns of `table` of an open database (none when it has no such table).
std::vector<std::string> DeclaredColumns(ReadOnlyDatabase& db, std::string_view table);

}  // namespace bv
