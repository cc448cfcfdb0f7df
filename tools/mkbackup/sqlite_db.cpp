// SQLite wrapper of mkbackup: creation with a chosen page size, inserts that record
// their rows in the truth, and deletes that leave the row bytes in the file.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "internal.h"

namespace bv::mkbackup {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "no connection"));
}

int Bind(sqlite3_stmt* stmt, int index, const Value& v) {
  if (std::holds_alternative<std::monostate>(v)) return sqlite3_bind_null(stmt, index);
  if (auto* n = std::get_if<std::int64_t>(&v)) return sqlite3_bind_int64(stmt, index, *n);
  if (auto* d = std::get_if<double>(&v)) return sqlite3_bind_double(stmt, index, *d);
  if (auto* s = std::get_if<std::string>(&v))
    return sqlite3_bind_text(stmt, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  const std::string& b = std::get<Blob>(v).bytes;
  return sqlite3_bind_blob(stmt, index, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

// Moves a live row of the truth to its deleted list; false when it is not live.
bool RecordDeleted(TruthDb& truth, TruthTable& t, std::int64_t rowid,
                   const std::string& probeColumn, const std::string& how) {
  auto it = t.rows.find(rowid);
  if (it == t.rows.end()) return false;
  TruthDeleted d;
  d.table = t.name;
  d.rowid = rowid;
  d.columns = t.columns;
  d.values = std::move(it->second);
  d.how = how;
  auto column = std::find(t.columns.begin(), t.columns.end(), probeColumn);
  if (column != t.columns.end()) {
    const Value& v = d.values[static_cast<std::size_t>(column - t.columns.begin())];
    if (auto* s = std::get_if<std::string>(&v)) d.probe = Utf8Prefix(*s, 32);
  }
  truth.deleted.push_back(std::move(d));
  t.rows.erase(it);
  return true;
}

}  // namespace

Db::Db(const std::filesystem::path& path, int pageSize) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  if (sqlite3_open_v2(path.string().c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("cannot create " + path.string() + ": " + message);
  }
  // The system library deletes securely by default; deleted rows must stay readable.
  Exec(
      "PRAGMA secure_delete=OFF; PRAGMA auto_vacuum=NONE; PRAGMA journal_mode=MEMORY;"
      " PRAGMA synchronous=OFF; PRAGMA page_size=" +
      std::to_string(pageSize) + ";");
}

Db::~Db() {
  Close();
}

void Db::Close() {
  if (db_) {
    // Inserters may still hold statements when a writer closes its database early;
    // close_v2 frees the connection once the last of them is finalized.
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
}

void Db::Exec(const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw std::runtime_error("SQL failed: " + text + " in: " + sql.substr(0, 200));
  }
}

std::set<std::string> ColumnsOf(Db& db, const std::string& table) {
  std::set<std::string> out;
  sqlite3_stmt* stmt = nullptr;
  std::string sql = "PRAGMA table_info(\"" + table + "\")";
  if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    Fail(db.handle(), sql);
  while (sqlite3_step(stmt) == SQLITE_ROW)
    out.insert(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
  sqlite3_finalize(stmt);
  return out;
}

Inserter::Inserter(Db& db, TruthTable* truth, const std::string& table,
                   std::vector<std::string> wanted)
    : db_(db), truth_(truth), columnCount_(wanted.size()) {
  // Columns that this iOS version's layout lacks are dropped, so one writer serves
  // every version.
  std::set<std::string> existing = ColumnsOf(db, table);
  std::vector<std::string> columns;
  for (const std::string& c : wanted) {
    bool has = existing.empty() || existing.count(c) || c == "docid" || c == "rowid";
    keep_.push_back(has);
    if (has) columns.push_back(c);
  }
  std::string sql = "INSERT INTO \"" + table + "\" (";
  std::string marks;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += (i ? "," : "") + std::string("\"") + columns[i] + "\"";
    marks += i ? ",?" : "?";
  }
  sql += ") VALUES (" + marks + ")";
  if (sqlite3_prepare_v2(db_.handle(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK)
    Fail(db_.handle(), "prepare " + sql);
  if (truth_) {
    if (truth_->columns.empty()) {
      truth_->columns = std::move(columns);
    } else if (truth_->columns != columns) {
      throw std::runtime_error("two column lists recorded for table " + table);
    }
  }
}

Inserter::~Inserter() {
  sqlite3_finalize(stmt_);
}

std::int64_t Inserter::Row(std::vector<Value> values) {
  if (values.size() != columnCount_) throw std::runtime_error("insert: wrong value count");
  sqlite3_reset(stmt_);
  if (std::find(keep_.begin(), keep_.end(), false) != keep_.end()) {
    std::vector<Value> kept;
    for (std::size_t i = 0; i < values.size(); ++i)
      if (keep_[i]) kept.push_back(std::move(values[i]));
    values = std::move(kept);
  }
  for (std::size_t i = 0; i < values.size(); ++i)
    if (Bind(stmt_, static_cast<int>(i + 1), values[i]) != SQLITE_OK) Fail(db_.handle(), "bind");
  if (sqlite3_step(stmt_) != SQLITE_DONE) Fail(db_.handle(), "insert");
  std::int64_t rowid = sqlite3_last_insert_rowid(db_.handle());
  if (truth_) truth_->rows[rowid] = std::move(values);
  return rowid;
}

void DeleteRows(Db& db, TruthDb& truth, const std::string& table,
                const std::vector<std::int64_t>& rowids, const std::string& probeColumn,
                const std::string& how) {
  // Pages written and freed in one transaction never reach the file; commit the
  // rows first so that what the delete frees still holds them.
  if (!sqlite3_get_autocommit(db.handle())) db.Exec("COMMIT; BEGIN;");
  TruthTable& t = truth.Table(table);
  sqlite3_stmt* stmt = nullptr;
  std::string sql = "DELETE FROM \"" + table + "\" WHERE rowid=?";
  if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    Fail(db.handle(), "prepare delete");
  for (std::int64_t rowid : rowids) {
    if (t.rows.count(rowid) == 0) continue;
    sqlite3_reset(stmt);
    sqlite3_bind_int64(stmt, 1, rowid);
    if (sqlite3_step(stmt) != SQLITE_DONE) {
      sqlite3_finalize(stmt);
      Fail(db.handle(), "delete");
    }
    RecordDeleted(truth, t, rowid, probeColumn, how);
  }
  sqlite3_finalize(stmt);
}

void ClearTable(Db& db, TruthDb& truth, const std::string& table, const std::string& probeColumn,
                const std::string& how) {
  if (!sqlite3_get_autocommit(db.handle())) db.Exec("COMMIT; BEGIN;");
  TruthTable& t = truth.Table(table);
  db.Exec("DELETE FROM \"" + table + "\";");
  std::vector<std::int64_t> all;
  for (const auto& [rowid, row] : t.rows) all.push_back(rowid);
  for (std::int64_t rowid : all) RecordDeleted(truth, t, rowid, probeColumn, how);
}

void UpdateRow(Db& db, TruthDb& truth, const std::string& table, std::int64_t rowid,
               const std::vector<std::pair<std::string, Value>>& changes) {
  TruthTable& t = truth.Table(table);
  auto row = t.rows.find(rowid);
  if (row == t.rows.end() || changes.empty()) return;
  std::string sql = "UPDATE \"" + table + "\" SET ";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    if (std::find(t.columns.begin(), t.columns.end(), changes[i].first) == t.columns.end())
      throw std::runtime_error("update of a column the truth does not record: " + changes[i].first);
    sql += (i ? ", \"" : "\"") + changes[i].first + "\"=?";
  }
  sql += " WHERE rowid=?";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    Fail(db.handle(), "prepare " + sql);
  for (std::size_t i = 0; i < changes.size(); ++i)
    if (Bind(stmt, static_cast<int>(i + 1), changes[i].second) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      Fail(db.handle(), "bind");
    }
  sqlite3_bind_int64(stmt, static_cast<int>(changes.size() + 1), rowid);
  const int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) Fail(db.handle(), "update");
  for (const auto& [column, value] : changes) {
    const auto at = std::find(t.columns.begin(), t.columns.end(), column) - t.columns.begin();
    row->second[static_cast<std::size_t>(at)] = value;
  }
}

std::vector<std::int64_t> RowidsWhere(TruthDb& truth, const std::string& table,
                                      const std::string& column,
                                      const std::vector<std::int64_t>& values) {
  TruthTable& t = truth.Table(table);
  std::vector<std::int64_t> out;
  auto it = std::find(t.columns.begin(), t.columns.end(), column);
  if (it == t.columns.end()) return out;
  const std::size_t index = static_cast<std::size_t>(it - t.columns.begin());
  std::set<std::int64_t> wanted(values.begin(), values.end());
  for (const auto& [rowid, row] : t.rows)
    if (auto* n = std::get_if<std::int64_t>(&row[index]); n && wanted.count(*n))
      out.push_back(rowid);
  return out;
}

void CheckProbes(TruthDb& truth, const std::filesystem::path& file) {
  if (truth.deleted.empty()) return;
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // One pass over the file for all probes of eight bytes or more, keyed by their
  // first eight bytes; a search per probe would be quadratic on large databases.
  auto key = [](const char* p) {
    std::uint64_t k;
    std::memcpy(&k, p, 8);
    return k;
  };
  std::unordered_map<std::uint64_t, std::vector<TruthDeleted*>> byKey;
  for (TruthDeleted& d : truth.deleted) {
    d.probeInFile = false;
    if (d.probe.size() >= 8) {
      byKey[key(d.probe.data())].push_back(&d);
    } else if (!d.probe.empty()) {
      d.probeInFile = bytes.find(d.probe) != std::string::npos;
    }
  }
  if (byKey.empty() || bytes.size() < 8) return;
  for (std::size_t i = 0; i + 8 <= bytes.size(); ++i) {
    auto it = byKey.find(key(bytes.data() + i));
    if (it == byKey.end()) continue;
    for (TruthDeleted* d : it->second)
      if (!d->probeInFile && bytes.compare(i, d->probe.size(), d->probe) == 0)
        d->probeInFile = true;
  }
}

std::string MoveNewestRowsIntoLog(const std::filesystem::path& file, TruthDb& truth,
                                  bool deleteSome) {
  namespace fs = std::filesystem;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
    Fail(db, "cannot open " + file.string());
  auto exec = [&](const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string message = error ? error : "error";
      sqlite3_free(error);
      sqlite3_close(db);
      throw std::runtime_error("log of " + truth.label + ": " + message + " in " +
                               sql.substr(0, 120));
    }
  };
  auto quoted = [](const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
  };
  struct Move {
    std::string table, copy, insert;
    std::vector<std::int64_t> rowids;
  };
  std::vector<Move> moves;
  for (TruthTable& t : truth.tables) {
    if (t.rows.size() < 3) continue;
    // Ordinary rowid tables only: a search table's content is kept in its "_content"
    // table, which readers read directly; its index tables stay in the file.
    sqlite3_stmt* st = nullptr;
    auto schemaOf = [&](const std::string& name) {
      std::string sql;
      if (sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE type='table' AND name=?", -1,
                             &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr)
          sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      }
      sqlite3_finalize(st);
      for (char& c : sql) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return sql;
    };
    std::string table = t.name;
    std::string upper = schemaOf(table);
    // A search table's rows are those of its content table, under the same row ids.
    if (upper.rfind("CREATE VIRTUAL", 0) == 0) {
      table = t.name + "_content";
      upper = schemaOf(table);
    }
    if (upper.empty() || upper.rfind("CREATE VIRTUAL", 0) == 0 ||
        upper.find("WITHOUT ROWID") != std::string::npos)
      continue;
    // Columns, and whether one of them is the row id under another name.
    std::vector<std::string> columns;
    int pkColumns = 0;
    bool integerKey = false;
    if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + quoted(table) + ")").c_str(), -1, &st,
                           nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        const unsigned char* type = sqlite3_column_text(st, 2);
        std::string typeText = type ? reinterpret_cast<const char*>(type) : "";
        for (char& c : typeText) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (sqlite3_column_int(st, 5) > 0) {
          ++pkColumns;
          integerKey = typeText == "INTEGER";
        }
      }
    }
    sqlite3_finalize(st);
    Move m;
    m.table = table;
    m.copy = "keep.t" + std::to_string(moves.size());
    const std::size_t n = t.rows.size() / 3;
    for (auto it = std::prev(t.rows.end(), static_cast<std::ptrdiff_t>(n)); it != t.rows.end();
         ++it)
      m.rowids.push_back(it->first);
    std::string list, names;
    for (std::int64_t id : m.rowids) list += (list.empty() ? "" : ",") + std::to_string(id);
    for (const std::string& c : columns) names += (names.empty() ? "" : ",") + quoted(c);
    const bool alias = pkColumns == 1 && integerKey;
    m.insert = alias ? "INSERT INTO main." + quoted(table) + " SELECT " + names + " FROM " + m.copy
                     : "INSERT INTO main." + quoted(table) + "(rowid," + names +
                           ") SELECT bv_rowid," + names + " FROM " + m.copy;
    m.copy = "CREATE TABLE " + m.copy + " AS SELECT rowid AS bv_rowid,* FROM main." +
             quoted(table) + " WHERE rowid IN (" + list + ");DELETE FROM main." + quoted(table) +
             " WHERE rowid IN (" + list + ");";
    moves.push_back(std::move(m));
  }
  // A database with no rows to move (nothing chosen for it) is backed up without a log.
  if (moves.empty()) {
    sqlite3_close(db);
    return {};
  }
  exec("ATTACH ':memory:' AS keep; PRAGMA secure_delete=ON; BEGIN;");
  for (const Move& m : moves) exec(m.copy);
  exec("COMMIT; PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA secure_delete=OFF;");
  exec("BEGIN;");
  for (const Move& m : moves) exec(m.insert + ";");
  exec("COMMIT;");
  // Deletions after those, which only the log's frames hold: every fifth moved row of the
  // tables whose deleted rows the readers list (the phone deletes while the log is open).
  const std::map<std::string, std::string> probes = {{"message", "text"},
                                                     {"ZWAMESSAGE", "ZTEXT"},
                                                     {"ZCALLRECORD", "ZADDRESS"},
                                                     {"call", "address"}};
  std::vector<std::pair<std::string, std::int64_t>> deletedInLog;
  exec("BEGIN;");
  for (const Move& m : moves) {
    if (!deleteSome || probes.count(m.table) == 0) continue;
    for (std::size_t i = 2; i < m.rowids.size(); i += 5) {
      exec("DELETE FROM main." + quoted(m.table) + " WHERE rowid=" + std::to_string(m.rowids[i]) +
           ";");
      deletedInLog.emplace_back(m.table, m.rowids[i]);
    }
  }
  exec("COMMIT;");
  // Taken before the close, which would checkpoint the log into the file.
  fs::path log = file;
  log += "-wal";
  fs::path without = file;
  without += ".main";
  fs::copy_file(file, without, fs::copy_options::overwrite_existing);
  std::string bytes;
  {
    std::ifstream in(log, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  sqlite3_close(db);
  fs::rename(without, file);
  std::error_code ec;
  fs::remove(log, ec);
  fs::path shm = file;
  shm += "-shm";
  fs::remove(shm, ec);
  if (bytes.empty()) throw std::runtime_error("log of " + truth.label + " is empty");
  for (const auto& [table, rowid] : deletedInLog)
    RecordDeleted(truth, truth.Table(table), rowid, probes.at(table), "log");
  for (Move& m : moves) {
    std::erase_if(m.rowids, [&](std::int64_t id) {
      return std::find(deletedInLog.begin(), deletedInLog.end(), std::make_pair(m.table, id)) !=
             deletedInLog.end();
    });
    truth.rowsInLog[m.table] = std::move(m.rowids);
  }
  return bytes;
}

TruthTable& TruthDb::Table(const std::string& name) {
  for (TruthTable& t : tables)
    if (t.name == name) return t;
  tables.push_back(TruthTable{});
  tables.back().name = name;
  return tables.back();
}

}  // namespace bv::mkbackup
