#pragma once
// Statements over tables whose layout changes between iOS versions: the readers of
// calendar items, reminders and bookmarks ask a table for its columns and select the
// ones it has by name, with NULL in place of those it lacks. Names compare without
// regard to ASCII case, as SQLite compares them.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "records/readonly_db.h"
#include "records/row_access.h"

namespace bv {

class TableColumns {
 public:
  TableColumns() = default;
  // The columns of `table`; none when the database has no such table.
  TableColumns(ReadOnlyDatabase& db, std::string_view table);

  bool Exists() const { return !names_.empty(); }
  bool Has(std::string_view column) const;
  // The first of `columns` that the table has; empty when it has none of them.
  std::string First(std::initializer_list<std::string_view> columns) const;
  // `alias."column"` for the first of `columns` that the table has, else "NULL".
  std::string Select(std::string_view alias, std::initializer_list<std::string_view> columns) const;
  // COALESCE over every column that starts with `prefix` and then has only digits
  // (Core Data numbers repeated attribute names: ZNAME, ZNAME1, ZNAME2); "NULL" when
  // there is none.
  std::string SelectNumbered(std::string_view alias, std::string_view prefix) const;

  const std::vector<std::string>& Names() const { return names_; }

 private:
  std::vector<std::string> names_;
};

// The names of the tables of a database (sqlite_master), in their stored order.
std::vector<std::string> TableNames(ReadOnlyDatabase& db);

// Why a read that needs `table` found nothing to read: the database's own issue when it
// has one (an empty or damaged file has no tables either), else a layout without the table.
DatabaseIssue MissingTableIssue(const ReadOnlyDatabase& db, std::string_view table);

// An SQL identifier in double quotes, inner quotes doubled.
std::string QuoteIdentifier(std::string_view name);

// A column's text as valid UTF-8 (broken sequences become U+FFFD); empty for NULL.
std::string TextOf(const StatementRow& row, int column);

}  // namespace bv
