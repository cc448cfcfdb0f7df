// mkbackup-truth.json: what a backup holds, written as plain JSON by hand so that
// the output is byte-stable.
#include <cstdio>
#include <string>

#include "common/text.h"
#include "internal.h"

namespace bv::mkbackup {

namespace {

void AppendString(std::string& out, std::string_view text) {
  out += '"';
  out += JsonEscape(text);  // UTF-8 passes through unchanged
  out += '"';
}

void AppendValue(std::string& out, const Value& v) {
  if (std::holds_alternative<std::monostate>(v)) {
    out += "null";
  } else if (auto* n = std::get_if<std::int64_t>(&v)) {
    out += std::to_string(*n);
  } else if (auto* d = std::get_if<double>(&v)) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", *d);
    std::string text = buf;
    if (text.find_first_of(".eE") == std::string::npos) text += ".0";
    out += text;
  } else if (auto* s = std::get_if<std::string>(&v)) {
    AppendString(out, *s);
  } else {
    static const char* hex = "0123456789abcdef";
    out += "{\"blob\":\"";
    for (unsigned char c : std::get<Blob>(v).bytes) {
      out += hex[c >> 4];
      out += hex[c & 15];
    }
    out += "\"}";
  }
}

void AppendRow(std::string& out, const std::vector<std::string>& columns,
               const std::vector<Value>& values) {
  out += '{';
  for (std::size_t i = 0; i < columns.size() && i < values.size(); ++i) {
    if (i) out += ',';
    AppendString(out, columns[i]);
    out += ':';
    AppendValue(out, values[i]);
  }
  out += '}';
}

}  // namespace

std::string TruthToJson(const Truth& truth, const BackupOptions& options,
                        const std::string& iosVersion) {
  std::string out;
  out.reserve(1 << 20);
  out += "{\n\"generator\":\"mkbackup\",\n\"seed\":" + std::to_string(options.seed);
  out += ",\n\"layout\":";
  AppendString(out, options.layout == Layout::kNewer ? "newer" : "older");
  out += ",\n\"iosVersion\":";
  AppendString(out, iosVersion);
  out += ",\n\"device\":{";
  for (std::size_t i = 0; i < truth.device.size(); ++i) {
    if (i) out += ',';
    AppendString(out, truth.device[i].first);
    out += ':';
    AppendString(out, truth.device[i].second);
  }
  out += "},\n\"files\":[";
  for (std::size_t i = 0; i < truth.files.size(); ++i) {
    const TruthFile& f = truth.files[i];
    out += i ? ",\n" : "\n";
    out += "{\"domain\":";
    AppendString(out, f.domain);
    out += ",\"path\":";
    AppendString(out, f.path);
    out += ",\"key\":";
    AppendString(out, f.domain + "-" + f.path);
    out += ",\"fileId\":";
    AppendString(out, f.fileId);
    if (f.directory) {
      out += ",\"directory\":true";
    } else {
      out += ",\"storedAs\":";
      AppendString(out, f.storedAs);
      out += ",\"size\":" + std::to_string(f.size) + ",\"type\":";
      AppendString(out, f.type);
    }
    out += ",\"mode\":" + std::to_string(f.mode) + "}";
  }
  out += "\n],\n\"databases\":[";
  for (std::size_t i = 0; i < truth.databases.size(); ++i) {
    const TruthDb& db = *truth.databases[i];
    out += i ? ",\n" : "\n";
    out += "{\"label\":";
    AppendString(out, db.label);
    out += ",\"domain\":";
    AppendString(out, db.domain);
    out += ",\"path\":";
    AppendString(out, db.path);
    out += ",\"fileId\":";
    AppendString(out, db.fileId);
    out += ",\"pageSize\":" + std::to_string(db.pageSize);
    out += ",\"droppedTables\":[";
    for (std::size_t k = 0; k < db.droppedTables.size(); ++k) {
      if (k) out += ',';
      AppendString(out, db.droppedTables[k]);
    }
    out += "],\n\"tables\":[";
    for (std::size_t t = 0; t < db.tables.size(); ++t) {
      const TruthTable& table = db.tables[t];
      out += t ? ",\n" : "\n";
      out += "{\"name\":";
      AppendString(out, table.name);
      out += ",\"section\":";
      AppendString(out, table.section);
      out += ",\"rowCount\":" + std::to_string(table.rows.size()) + ",\"rows\":[";
      bool first = true;
      for (const auto& [rowid, values] : table.rows) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"rowid\":" + std::to_string(rowid) + ",\"values\":";
        AppendRow(out, table.columns, values);
        out += '}';
      }
      out += "]}";
    }
    out += "],\n\"logFileId\":";
    AppendString(out, db.logFileId);
    out += ",\"rowsInLog\":{";
    bool firstLog = true;
    for (const auto& [table, rowids] : db.rowsInLog) {
      if (!firstLog) out += ',';
      firstLog = false;
      AppendString(out, table);
      out += ":[";
      for (std::size_t k = 0; k < rowids.size(); ++k)
        out += (k ? "," : "") + std::to_string(rowids[k]);
      out += ']';
    }
    out += "},\n\"bodyTexts\":{";
    bool firstBody = true;
    for (const auto& [rowid, text] : db.bodyTexts) {
      if (!firstBody) out += ',';
      firstBody = false;
      AppendString(out, std::to_string(rowid));
      out += ':';
      AppendString(out, text);
    }
    out += "},\n\"deleted\":[";
    for (std::size_t d = 0; d < db.deleted.size(); ++d) {
      const TruthDeleted& del = db.deleted[d];
      out += d ? ",\n" : "\n";
      out += "{\"table\":";
      AppendString(out, del.table);
      out += ",\"rowid\":" + std::to_string(del.rowid) + ",\"how\":";
      AppendString(out, del.how);
      out += ",\"probe\":";
      AppendString(out, del.probe);
      out += del.probeInFile ? ",\"probeInFile\":true" : ",\"probeInFile\":false";
      out += ",\"values\":";
      AppendRow(out, del.columns, del.values);
      out += '}';
    }
    out += "]}";
  }
  out += "\n]\n}\n";
  return out;
}

}  // namespace bv::mkbackup
