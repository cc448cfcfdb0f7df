#pragma once
// A read-only SQLite connection to a database of a backup, closed on destruction.
//
// Backup files are evidence and may sit on read-only media, so nothing is ever written
// beside them:
//  - without a "-wal" file beside the database, it is opened immutable (no locks, no
//    "-shm" file, no hot-journal recovery);
//  - with a non-empty "-wal" beside it (extracted app folders keep one), the database
//    and its log are copied into a private temporary folder first and opened there, so
//    that SQLite can replay the log without touching the original.
// Not thread-safe; one connection per reader and per statement, as the readers use it
// (so SQLite is spared its per-call connection mutex).
#include <filesystem>
#include <string>

struct sqlite3;

namespace bv {

class StatementRow;

// Row callback of sqlite3_exec: (context, column count, column texts, column names).
using SqliteRowCallback = int (*)(void* context, int columns, char** values, char** names);
// Row callback over a stepped statement; non-zero stops the statement as with exec.
using StatementRowCallback = int (*)(void* context, StatementRow& row);

class ReadOnlyDatabase {
 public:
  ReadOnlyDatabase() = default;
  ~ReadOnlyDatabase();
  ReadOnlyDatabase(const ReadOnlyDatabase&) = delete;
  ReadOnlyDatabase& operator=(const ReadOnlyDatabase&) = delete;

  // Opens the database at `utf8Path`. Returns 0 or the non-zero SQLite open code
  // (14, SQLITE_CANTOPEN, for a missing file). After a failure nothing is open.
  int Open(const std::string& utf8Path);
  bool IsOpen() const { return db_ != nullptr; }
  // For statements that revisit pages all over the file (the message join): keep every
  // page read. Scans keep SQLite's small default cache, which they reuse instead of
  // allocating page after page.
  void CacheWholeFile();
  // Runs `sql` with a row callback. Returns true when SQLite reported an error
  // message (already freed here), false when the statement ran to its end.
  bool Exec(const char* sql, SqliteRowCallback callback, void* context);
  // The same statements and the same answer, stepped here so that the callback can
  // read numeric columns without their text.
  bool Each(const char* sql, StatementRowCallback callback, void* context);
  void Close();

 private:
  sqlite3* db_ = nullptr;
  std::filesystem::path tempFolder_;  // private copy for a database with a log
};

}  // namespace bv
