#include "records/item_tables.h"

#include "common/text.h"

namespace bv {

namespace {

struct NameList {
  std::vector<std::string> names;
  int column = 0;
};

int CollectName(void* context, StatementRow& row) {
  auto* list = static_cast<NameList*>(context);
  const char* name = row.Text(list->column);
  if (name != nullptr && *name != '\0') list->names.emplace_back(name);
  return 0;
}

std::string SqlLiteral(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

TableColumns::TableColumns(ReadOnlyDatabase& db, std::string_view table) {
  NameList list;
  list.column = 1;  // cid, name, type, notnull, dflt_value, pk
  const std::string sql = "PRAGMA table_info(" + SqlLiteral(table) + ");";
  db.Each(sql.c_str(), CollectName, &list);
  names_ = std::move(list.names);
}

bool TableColumns::Has(std::string_view column) const {
  for (const std::string& name : names_)
    if (EqualsNoCase(name, column)) return true;
  return false;
}

std::string TableColumns::First(std::initializer_list<std::string_view> columns) const {
  for (std::string_view c : columns)
    for (const std::string& name : names_)
      if (EqualsNoCase(name, c)) return name;
  return {};
}

std::string TableColumns::Select(std::string_view alias,
                                 std::initializer_list<std::string_view> columns) const {
  const std::string name = First(columns);
  if (name.empty()) return "NULL";
  return std::string(alias) + "." + QuoteIdentifier(name);
}

std::string TableColumns::SelectNumbered(std::string_view alias, std::string_view prefix) const {
  std::vector<std::string> found;
  for (const std::string& name : names_) {
    if (name.size() < prefix.size() ||
        !EqualsNoCase(std::string_view(name).substr(0, prefix.size()), prefix))
      continue;
    bool digits = true;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
      if (name[i] < '0' || name[i] > '9') digits = false;
    if (digits) found.push_back(std::string(alias) + "." + QuoteIdentifier(name));
  }
  if (found.empty()) return "NULL";
  if (found.size() == 1) return found.front();
  std::string out = "COALESCE(";
  for (std::size_t i = 0; i < found.size(); ++i) out += (i ? ", " : "") + found[i];
  return out + ")";
}

DatabaseIssue MissingTableIssue(const ReadOnlyDatabase& db, std::string_view table) {
  if (!db.Issue().Ok()) return db.Issue();
  return {DatabaseIssue::Kind::kLayout, "no such table: " + std::string(table), {}};
}

std::vector<std::string> TableNames(ReadOnlyDatabase& db) {
  NameList list;
  list.column = 0;
  db.Each("SELECT name FROM sqlite_master WHERE type = 'table';", CollectName, &list);
  return std::move(list.names);
}

std::string TextOf(const StatementRow& row, int column) {
  return ValidUtf8(row.Text(column));
}

}  // namespace bv
