#pragma once
// Builds real SQLite files through the SQLite library for the raw reader's tests: the
// WeChat and QQ chat layouts, deletions left in place (secure_delete off), and a
// reference read of the live rows through the library. Temporary folders are the
// shared TempDir of tests/support.
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "support.h"

namespace bv::test {

namespace fs = std::filesystem;

struct Value {
  enum Kind { Null, Int, Text } kind = Null;
  std::int64_t i = 0;
  std::string s;
  static Value I(std::int64_t v) { return {Int, v, {}}; }
  static Value T(std::string v) { return {Text, 0, std::move(v)}; }
  static Value N() { return {}; }
};

class Db {
 public:
  Db(const std::string& path, int page_size) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open");
    Exec("PRAGMA page_size=" + std::to_string(page_size));
    Exec("PRAGMA secure_delete=OFF");
    Exec("PRAGMA auto_vacuum=NONE");
    Exec("PRAGMA journal_mode=DELETE");
    Exec("PRAGMA synchronous=OFF");
  }
  ~Db() { sqlite3_close(db_); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string text = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(sql + ": " + text);
    }
  }
  // INSERT INTO table VALUES (?, ?, ...) with the values given.
  void Insert(const std::string& table, const std::vector<Value>& values) {
    std::string sql = "INSERT INTO \"" + table + "\" VALUES (";
    for (std::size_t i = 0; i < values.size(); ++i) sql += i ? ",?" : "?";
    sql += ")";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      if (values[i].kind == Value::Int)
        sqlite3_bind_int64(stmt, at, values[i].i);
      else if (values[i].kind == Value::Text)
        sqlite3_bind_text(stmt, at, values[i].s.data(), static_cast<int>(values[i].s.size()),
                          SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error("insert: " + std::string(sqlite3_errmsg(db_)));
  }
  // Rows of a query, each column as text (NULL as "<null>").
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const unsigned char* text = sqlite3_column_text(stmt, c);
        row.push_back(text ? reinterpret_cast<const char*>(text) : "<null>");
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

// WeChat layout: Friend with 13 columns (user name 1, nick name 2, type 6); chat tables
// as the phone writes them (TableVer, MesLocalID, MesSvrID, CreateTime, Message, Status,
// ImgStatus, Type, Des).
inline void CreateFriendTable(Db& db) {
  db.Exec(
      "CREATE TABLE Friend (FriendID INTEGER PRIMARY KEY, UsrName TEXT, NickName TEXT, Uin "
      "INTEGER, Email TEXT, Mobile TEXT, Type INTEGER, LastChatTime INTEGER, Draft TEXT, "
      "DraftTime INTEGER, Sex INTEGER, ImgStatus INTEGER, Remark TEXT)");
}
inline void AddFriend(Db& db, const std::string& user, const std::string& nick, int type) {
  db.Insert("Friend", {Value::N(), Value::T(user), Value::T(nick), Value::I(0), Value::N(),
                       Value::N(), Value::I(type), Value::I(0), Value::N(), Value::I(0),
                       Value::I(1), Value::I(0), Value::N()});
}
// `rowid_first`: the row-id alias is column 0 (MesLocalID first) instead of TableVer.
inline void CreateChatTable(Db& db, const std::string& table, bool rowid_first = false) {
  if (rowid_first)
    db.Exec("CREATE TABLE " + table +
            " (MesLocalID INTEGER PRIMARY KEY AUTOINCREMENT, TableVer INTEGER DEFAULT 1, MesSvrID "
            "INTEGER DEFAULT 0, CreateTime INTEGER DEFAULT 0, Message TEXT, Status INTEGER "
            "DEFAULT 0, ImgStatus INTEGER DEFAULT 0, Type INTEGER, Des INTEGER)");
  else
    db.Exec("CREATE TABLE " + table +
            " (TableVer INTEGER DEFAULT 1, MesLocalID INTEGER PRIMARY KEY AUTOINCREMENT, MesSvrID "
            "INTEGER DEFAULT 0, CreateTime INTEGER DEFAULT 0, Message TEXT, Status INTEGER "
            "DEFAULT 0, ImgStatus INTEGER DEFAULT 0, Type INTEGER, Des INTEGER)");
}
inline void AddChat(Db& db, const std::string& table, std::int64_t svr, std::int64_t time,
                    const std::string& text, int des, bool rowid_first = false) {
  if (rowid_first)
    db.Insert(table, {Value::N(), Value::I(1), Value::I(svr), Value::I(time), Value::T(text),
                      Value::I(2), Value::I(0), Value::I(1), Value::I(des)});
  else
    db.Insert(table, {Value::I(1), Value::N(), Value::I(svr), Value::I(time), Value::T(text),
                      Value::I(2), Value::I(0), Value::I(1), Value::I(des)});
}

// QQ layout: tb_c2cTables (one column) and tb_c2cMsg_<peer> with 50 columns (peer 1 as
// text, time 2, direction 4, text 6; the rest filler).
inline void CreateQQTables(Db& db) {
  db.Exec("CREATE TABLE tb_c2cTables (uin TEXT)");
}
inline void CreateQQMessageTable(Db& db, const std::string& table) {
  std::string sql = "CREATE TABLE " + table +
                    " (msgId INTEGER PRIMARY KEY, uin TEXT, time INTEGER, type INTEGER, flag "
                    "INTEGER, read INTEGER, content TEXT";
  for (int i = 7; i < 50; ++i) sql += ", c" + std::to_string(i) + " INTEGER";
  db.Exec(sql + ")");
}
inline void AddQQMessage(Db& db, const std::string& table, const std::string& peer,
                         std::int64_t time, const std::string& text, int flag) {
  std::vector<Value> v{Value::N(),     Value::T(peer), Value::I(time), Value::I(0),
                       Value::I(flag), Value::I(1),    Value::T(text)};
  for (int i = 7; i < 50; ++i) v.push_back(i % 3 == 0 ? Value::I(i) : Value::N());
  db.Insert(table, v);
}

// A text of `length` printable characters (some multi-byte) from a seed.
inline std::string RandomText(std::mt19937& rng, std::size_t length) {
  static const char* pieces[] = {
      "a",        "b", "c", "x", "y", "z", " ", "0", "1", "\xe4\xbd\xa0", "\xe5\xa5\xbd",
      "\xc3\xa9", "Q", "!"};
  std::string text;
  while (text.size() < length) text += pieces[rng() % 14];
  return text;
}

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}
inline void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("write " + path);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace bv::test
