#include "records/row_access.h"

#include <sqlite3.h>

namespace bv {

StatementRow::StatementRow(sqlite3_stmt* statement)
    : statement_(statement), columns_(sqlite3_column_count(statement)) {}

const char* StatementRow::Text(int i) const {
  if (i >= columns_) return nullptr;
  return reinterpret_cast<const char*>(sqlite3_column_text(statement_, i));
}

std::string_view StatementRow::Bytes(int i) const {
  if (i >= columns_) return {};
  const void* bytes = sqlite3_column_blob(statement_, i);
  if (bytes == nullptr) return {};
  return std::string_view(static_cast<const char*>(bytes),
                          static_cast<std::size_t>(sqlite3_column_bytes(statement_, i)));
}

std::string StatementRow::Utf8(int i) const {
  std::string scratch;
  const std::string_view text = Utf8View(i, scratch);
  return text.data() == scratch.data() ? std::move(scratch) : std::string(text);
}

std::string_view StatementRow::Utf8View(int i, std::string& scratch) const {
  const char* text = Text(i);
  if (text == nullptr) return {};
  // The length SQLite already knows; a callback would see the text up to a NUL.
  const std::size_t bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement_, i));
  const void* nul = std::memchr(text, '\0', bytes);
  const std::size_t length = nul != nullptr ? static_cast<const char*>(nul) - text : bytes;
  return MendedView(std::string_view(text, length), scratch);
}

bool StatementRow::TruncatedReal(double value, std::int64_t& out) {
  if (!std::isfinite(value)) return false;
  const double magnitude = std::fabs(value);
  // SQLite prints a REAL with 15 significant digits, in exponent form below 1e-4 and
  // from 1e15 up: there the leading digits are not the integer part.
  if (magnitude >= 1e14 || (magnitude != 0 && magnitude < 1e-4)) return false;
  const double whole = std::trunc(magnitude);
  const double fraction = magnitude - whole;
  int digits = 1;
  for (double p = 10; p <= whole; p *= 10) ++digits;
  const int decimals = 15 - digits;  // at least 1 below 1e14
  // Rounding to that many places (give or take a unit of the last) carries into the
  // integer part only for a fraction this close to 1; leave those to the text.
  static constexpr double kTenths[] = {1,    1e-1, 1e-2,  1e-3,  1e-4,  1e-5,  1e-6, 1e-7,
                                       1e-8, 1e-9, 1e-10, 1e-11, 1e-12, 1e-13, 1e-14};
  if (fraction != 0 && 1.0 - fraction <= kTenths[decimals - 1]) return false;
  out = static_cast<std::int64_t>(std::trunc(value));
  return true;
}

std::int64_t StatementRow::Int64(int i) const {
  if (i >= columns_) return 0;
  switch (sqlite3_column_type(statement_, i)) {
    case SQLITE_NULL:
      return 0;
    case SQLITE_INTEGER:
      return sqlite3_column_int64(statement_, i);
    case SQLITE_FLOAT: {
      std::int64_t v = 0;
      if (TruncatedReal(sqlite3_column_double(statement_, i), v)) return v;
      break;
    }
    default:
      break;
  }
  return ParseInt64(Text(i));
}

std::int32_t StatementRow::Int32(int i) const {
  if (i >= columns_) return 0;
  switch (sqlite3_column_type(statement_, i)) {
    case SQLITE_NULL:
      return 0;
    case SQLITE_INTEGER:
      return Saturate32(sqlite3_column_int64(statement_, i));
    case SQLITE_FLOAT: {
      std::int64_t v = 0;
      if (TruncatedReal(sqlite3_column_double(statement_, i), v)) return Saturate32(v);
      break;
    }
    default:
      break;
  }
  return ParseInt32(Text(i));
}

bool StatementRow::WholeSeconds(int i, std::int64_t& seconds) const {
  if (i >= columns_) return false;
  switch (sqlite3_column_type(statement_, i)) {
    case SQLITE_NULL:
      return false;
    case SQLITE_INTEGER:
      seconds = sqlite3_column_int64(statement_, i);
      return true;
    case SQLITE_FLOAT:
      if (TruncatedReal(sqlite3_column_double(statement_, i), seconds)) return true;
      break;
    default:
      break;
  }
  return ColumnWholeSeconds(Text(i), seconds);
}

std::size_t StatementRow::TextLength(int i) const {
  if (i >= columns_) return 0;
  if (sqlite3_column_type(statement_, i) == SQLITE_INTEGER) {
    // Decimal digits of the value as SQLite prints it, with a minus sign.
    const std::int64_t v = sqlite3_column_int64(statement_, i);
    std::uint64_t u = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    std::size_t n = v < 0 ? 2 : 1;
    while (u >= 10) {
      u /= 10;
      ++n;
    }
    return n;
  }
  return ExecRow::CharacterCount(Text(i));
}

}  // namespace bv
