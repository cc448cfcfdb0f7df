#pragma once
// A read-only SQLite connection to a database of a backup, closed on destruction.
//
// Backup files are evidence and may sit on read-only media, so nothing is ever written
// beside them:
//  - without a "-wal" file beside the database, it is opened immutable (no locks, no
//    "-shm" file, no hot-journal recovery);
//  - with a non-empty write-ahead log (a "-wal" beside it, as extracted app folders keep
//    it, or the log that a backup stores as a file of its own, named by the caller), the
//    database and its log are copied into a private temporary folder first and opened
//    there, so that SQLite can replay the log without touching the original. A log that
//    does not check (see rawsqlite/wal_log.h) is applied up to its last sound commit, or
//    not at all, and the issue says so; the database is read either way. The folder (0700,
//    "bv-db-<pid>-<start>-<n>" in the system's temporary folder) goes with the
//    connection; one that a killed run left is removed at the next start (the catalogue's
//    clean-up calls RemoveStalePrivateFolders with kPrivateCopyPrefix).
// Not thread-safe; one connection per reader and per statement, as the readers use it
// (so SQLite is spared its per-call connection mutex).
#include <filesystem>
#include <memory>
#include <string>

#include "platform/private_folder.h"

struct sqlite3;

namespace bv {

// Names of the private folders that hold copies of databases with a log.
inline constexpr const char* kPrivateCopyPrefix = "bv-db";

class StatementRow;

// Why a database of a backup could not be read, for the user. The readers keep one per
// database they depend on; the data source turns it into a sentence per category.
struct DatabaseIssue {
  enum class Kind {
    kNone,        // read to its end
    kMissing,     // no such file in the backup
    kNotRegular,  // a FIFO, a device node or a folder in its place
    kEmpty,       // 0 bytes
    kUnreadable,  // the platform refused to read it (detail: its error text)
    kDamaged,     // SQLite refused it or a statement failed (detail: SQLite's message)
    kLayout,      // a table or column the statement needs is not there: a layout (of an
                  // older or newer system) this program does not read (detail: SQLite's)
  };
  Kind kind = Kind::kNone;
  std::string detail;
  // Why the database's write-ahead log was applied only in part or not at all ("is cut
  // short after 12 saved page changes: the later ones are not read"); the database was
  // read without what it lacks. Empty when there was no log or all of it applied.
  std::string logProblem;

  bool Ok() const { return kind == Kind::kNone; }
  // Nothing to tell: read whole, with its whole log.
  bool Quiet() const { return Ok() && logProblem.empty(); }
  // "<what> is damaged: file is not a database", "<what> is missing from the backup",
  // "<what>'s write-ahead log is damaged ...", ...; empty when there is nothing to say.
  std::string Describe(const std::string& what) const;
};

// A database file of a backup, and where its write-ahead log is when the backup keeps
// it under a name of its own (stored files are named by a hash of their path, so the
// log never lies beside the database there). Without `log`, a "-wal" beside `path` is
// used when there is one. Paths are UTF-8.
struct DatabaseFile {
  std::string path;
  std::string log;
  DatabaseFile() = default;
  DatabaseFile(std::string databasePath) : path(std::move(databasePath)) {}  // NOLINT: implicit
  DatabaseFile(const char* databasePath) : path(databasePath) {}             // NOLINT: implicit
  DatabaseFile(std::string databasePath, std::string logPath)
      : path(std::move(databasePath)), log(std::move(logPath)) {}
};

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

  // Opens the database `file.path`, with its log. Returns 0 or the non-zero SQLite open
  // code (14, SQLITE_CANTOPEN, for a missing file, and for a FIFO, a device node or a
  // folder, which SQLite is never handed: it would wait on them forever). After a
  // failure nothing is open. A log that cannot be read or applied never fails the open.
  int Open(const DatabaseFile& file);
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
  // Writes the open database, as read (its log applied), page for page into a database
  // file at `destination` (replaced): freed pages keep their bytes. 0 or the SQLite code.
  int CopyTo(const std::filesystem::path& destination);

  // What went wrong with the last Open, Exec or Each; kNone when nothing did. A file of 0
  // bytes opens (SQLite reads it as an empty database) but stays kEmpty, which says more
  // than the "no such table" its statements then give.
  const DatabaseIssue& Issue() const { return issue_; }
  // For a statement that was only a first try (a layout probe): its error was expected.
  void ForgetStatementError() {
    if (issue_.kind == DatabaseIssue::Kind::kDamaged ||
        issue_.kind == DatabaseIssue::Kind::kLayout) {
      issue_.kind = DatabaseIssue::Kind::kNone;
      issue_.detail.clear();
    }
  }

 private:
  void NoteStatementError(const char* message);
  int OpenImmutable(const std::filesystem::path& path);
  // Opens a private copy of `path` with `logBytes` as its log; false when that cannot
  // be made or SQLite cannot read the copy with the log (the folder is gone then).
  bool OpenWithLog(const std::filesystem::path& path, const std::string& logBytes);
  sqlite3* db_ = nullptr;
  DatabaseIssue issue_;
  std::unique_ptr<platform::PrivateFolder> tempFolder_;  // copy of a database with a log
};

}  // namespace bv
