#pragma once
// Two ways of reading one result row, with the same answers, for the row callbacks:
//
//  - ExecRow: the column texts that sqlite3_exec hands to a row callback;
//  - StatementRow: a stepped prepared statement. Numbers that a record keeps as
//    numbers are read as numbers, so SQLite does not first print them as text that
//    the reader then parses again. Wherever the shortcut could give anything other
//    than the text would, it asks SQLite for the text and takes the text path.
//
// Row callbacks are written once as templates over the row type; every answer here
// equals the text rule of ExecRow (null pointer for NULL, text up to its first NUL,
// leading-digits integers that saturate). Text enters the program through Utf8(),
// which makes it valid UTF-8.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "common/text.h"
#include "records/date_text.h"

struct sqlite3_stmt;

namespace bv {

// `bytes` when they are valid UTF-8, else a view of `scratch` holding them mended.
inline std::string_view MendedView(std::string_view bytes, std::string& scratch) {
  if (IsValidUtf8(bytes)) return bytes;
  scratch = ValidUtf8(bytes);
  return scratch;
}

class ExecRow {
 public:
  ExecRow(int columns, char** values) : columns_(columns), values_(values) {}
  // The column's text, or nullptr for NULL (and for a column the row lacks).
  const char* Text(int i) const {
    return i < columns_ && values_ != nullptr ? values_[i] : nullptr;
  }
  // The column's text as UTF-8 (invalid bytes become U+FFFD); empty for NULL.
  std::string Utf8(int i) const { return ValidUtf8(Text(i)); }
  // The same text as a view: of the row's own bytes when they are valid UTF-8 (the
  // usual case, no copy), else of `scratch`, which then holds the mended text.
  std::string_view Utf8View(int i, std::string& scratch) const {
    const char* text = Text(i);
    return MendedView(text != nullptr ? std::string_view(text) : std::string_view(), scratch);
  }
  std::int32_t Int32(int i) const { return ParseInt32(Text(i)); }
  std::int64_t Int64(int i) const { return ParseInt64(Text(i)); }
  // Length in characters (UTF-8 lead bytes) of the column's text; 0 for NULL.
  std::size_t TextLength(int i) const { return CharacterCount(Text(i)); }
  // Whole seconds of a date column, as ColumnWholeSeconds reads its text.
  bool WholeSeconds(int i, std::int64_t& seconds) const {
    return ColumnWholeSeconds(Text(i), seconds);
  }
  // A blob column: exec hands over text only, so the bytes up to the first NUL.
  std::string_view Bytes(int i) const {
    const char* text = Text(i);
    return text != nullptr ? std::string_view(text) : std::string_view();
  }

  static std::size_t CharacterCount(const char* text) {
    std::size_t n = 0;
    for (const char* c = text; c != nullptr && *c != '\0'; ++c)
      if ((static_cast<unsigned char>(*c) & 0xC0) != 0x80) ++n;
    return n;
  }

 private:
  int columns_;
  char** values_;
};

class StatementRow {
 public:
  explicit StatementRow(sqlite3_stmt* statement);
  const char* Text(int i) const;
  // The bytes of a blob (or text) column, NULs included; empty for NULL. Valid until
  // the row moves on.
  std::string_view Bytes(int i) const;
  std::string Utf8(int i) const;
  std::string_view Utf8View(int i, std::string& scratch) const;
  std::int32_t Int32(int i) const;
  std::int64_t Int64(int i) const;
  std::size_t TextLength(int i) const;
  bool WholeSeconds(int i, std::int64_t& seconds) const;

  // The leading-digits integer that the text of the REAL `value` (as SQLite prints
  // it) gives, when that is certain without printing; false when in doubt.
  static bool TruncatedReal(double value, std::int64_t& out);

 private:
  sqlite3_stmt* statement_;
  int columns_;
};

// The same integer clamped into 32 bits, as ParseInt32 saturates.
inline std::int32_t Saturate32(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

}  // namespace bv
