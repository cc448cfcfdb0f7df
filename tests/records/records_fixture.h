#pragma once
// Helpers for the reader tests: a temporary folder, databases built from the real iOS
// table layouts (tools/mkbackup/ios-schemas.sql, one section per database and version),
// and the real databases of the shared corpus unpacked into a temporary folder.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support.h"

namespace bv::test {

namespace fs = std::filesystem;

// The shared temporary folder under the name these tests have always used.
using TempFolder = TempDir;

// The section of ios-schemas.sql whose "-- @@ section:" line contains `marker`.
inline std::string SchemaSection(const std::string& marker) {
  const char* src = std::getenv("BV_SOURCE_DIR");
  fs::path file = (src != nullptr ? fs::path(src)
                                  : fs::path(__FILE__).parent_path().parent_path().parent_path()) /
                  "tools/mkbackup/ios-schemas.sql";
  std::ifstream in(file);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  const std::string head = "-- @@ section:";
  std::size_t at = 0;
  while ((at = text.find(head, at)) != std::string::npos) {
    const std::size_t lineEnd = text.find('\n', at);
    if (text.substr(at, lineEnd - at).find(marker) != std::string::npos) {
      const std::size_t next = text.find(head, lineEnd);
      return text.substr(at, next == std::string::npos ? std::string::npos : next - at);
    }
    at = lineEnd;
  }
  ADD_FAILURE() << "no schema section " << marker << " in " << file;
  return {};
}

// Runs `sql` (several statements) on the database at `path`, creating it if needed.
inline void Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  const std::string message = error != nullptr ? error : "";
  sqlite3_free(error);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message << "\n" << sql.substr(0, 300);
}

// A database at `path` with the tables of the given schema section.
inline std::string MakeDb(const TempFolder& folder, const std::string& name,
                          const std::string& marker) {
  const std::string path = folder.File(name);
  Sql(path, SchemaSection(marker));
  return path;
}

// SQL text literal.
inline std::string Q(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// Sets TZ for the life of the object (the readers convert some dates to local time).
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

inline fs::path CorpusFolder() {
  const char* env = std::getenv("BV_CORPUS_DIR");
  return env != nullptr ? fs::path(env) : fs::path("/work/shared/corpus");
}

// Unpacks a corpus zip (path relative to the corpus folder) into `into` and returns
// the path of the first file whose name is `fileName`; empty when the corpus is absent.
inline std::string UnpackCorpus(const std::string& zip, const fs::path& into,
                                const std::string& fileName) {
  const fs::path archive = CorpusFolder() / zip;
  if (!fs::exists(archive)) return {};
  const std::string cmd =
      "unzip -qo '" + archive.string() + "' -d '" + into.string() + "' >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  // 1 is unzip's "warnings" (it strips the absolute paths of one archive).
  if (rc != 0 && !(WIFEXITED(rc) && WEXITSTATUS(rc) == 1)) return {};
  for (const auto& e : fs::recursive_directory_iterator(into))
    if (e.path().filename() == fileName) return e.path().string();
  return {};
}

// Counts rows of `sql` with the sqlite3 library, independently of the readers.
inline long long CountRows(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  long long n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return n;
}

}  // namespace bv::test
