// Table layouts: the sections of ios-schemas.sql, one per database and iOS version.
#include <sstream>
#include <stdexcept>

#include "internal.h"

namespace bv::mkbackup {

extern const char kIosSchemasText[];

const std::string& IosSchemas() {
  static const std::string text(kIosSchemasText);
  return text;
}

const std::vector<SchemaSection>& Sections() {
  static const std::vector<SchemaSection> sections = [] {
    std::vector<SchemaSection> out;
    std::istringstream in(IosSchemas());
    std::string line;
    const std::string marker = "-- @@ section: ";
    while (std::getline(in, line)) {
      if (line.rfind(marker, 0) == 0) {
        out.push_back(SchemaSection{line.substr(marker.size()), ""});
      } else if (!out.empty()) {
        out.back().body += line;
        out.back().body += '\n';
      }
    }
    return out;
  }();
  return sections;
}

const SchemaSection& FindSection(std::string_view prefix) {
  for (const SchemaSection& s : Sections())
    if (std::string_view(s.title).substr(0, prefix.size()) == prefix) return s;
  throw std::runtime_error("no schema section " + std::string(prefix));
}

std::vector<std::string> CreateStatements(const SchemaSection& section) {
  std::vector<std::string> out;
  std::istringstream in(section.body);
  std::string line, current;
  while (std::getline(in, line)) {
    if (line.rfind("--", 0) == 0) continue;
    current += line;
    current += '\n';
    if (line.find(';') != std::string::npos) {
      if (current.find("CREATE") != std::string::npos) out.push_back(current);
      current.clear();
    }
  }
  return out;
}

std::string TableNameOf(const std::string& createStatement) {
  const std::string head = "CREATE TABLE ";
  std::size_t at = createStatement.find(head);
  if (at == std::string::npos) return "";
  std::size_t start = at + head.size();
  std::size_t end = createStatement.find_first_of(" (\n", start);
  std::string name = createStatement.substr(start, end - start);
  if (name.size() >= 2 && (name.front() == '\'' || name.front() == '"'))
    name = name.substr(1, name.size() - 2);
  return name;
}

std::string CommentedVirtualTable(const SchemaSection& section) {
  std::istringstream in(section.body);
  std::string line, out;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside && line.rfind("-- CREATE VIRTUAL TABLE", 0) == 0) inside = true;
    if (inside) {
      if (line.rfind("-- ", 0) != 0) break;
      out += line.substr(3);
      out += '\n';
      if (line.find(");") != std::string::npos) break;
    }
  }
  return out;
}

void CreateOverlay(Db& db, TruthDb& truth, const std::vector<std::string>& sectionPrefixes,
                   const std::set<std::string>& skip) {
  // Table name -> (statement, section title), in order of first appearance.
  std::vector<std::pair<std::string, std::pair<std::string, std::string>>> tables;
  for (const std::string& prefix : sectionPrefixes) {
    const SchemaSection& section = FindSection(prefix);
    for (const std::string& statement : CreateStatements(section)) {
      std::string name = TableNameOf(statement);
      if (name.empty() || skip.count(name)) continue;
      bool replaced = false;
      for (auto& t : tables) {
        if (t.first == name) {
          t.second = {statement, section.title};
          replaced = true;
        }
      }
      if (!replaced) tables.push_back({name, {statement, section.title}});
    }
  }
  for (auto& [name, def] : tables) {
    db.Exec(def.first);
    truth.Table(name).section = def.second;
  }
}

Version ParseVersion(const std::string& text) {
  Version v{0, 0};
  std::size_t i = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9')
    v.major = v.major * 10 + (text[i++] - '0');
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
      v.minor = v.minor * 10 + (text[i++] - '0');
  }
  if (v.major < 4 || v.major > 30) throw std::runtime_error("unsupported iOS version " + text);
  return v;
}

}  // namespace bv::mkbackup
