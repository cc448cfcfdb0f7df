#include "records/readonly_db.h"

#include <sqlite3.h>

#include "platform/files.h"
#include "platform/private_folder.h"
#include "rawsqlite/wal_log.h"
#include "records/row_access.h"

#include <fstream>
#include <system_error>

namespace bv {

namespace fs = std::filesystem;

namespace {

// A "file:" URI for `path`: everything outside the unreserved set and "/" is
// percent-encoded, so "?", "#" and "%" in folder names cannot end the path.
std::string FileUri(const fs::path& path, const char* query) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) absolute = path;
  const std::u8string u8 = absolute.generic_u8string();
  const std::string text(u8.begin(), u8.end());
  std::string uri = "file://";
  if (text.empty() || text.front() != '/') uri += '/';
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  uri += query;
  return uri;
}

fs::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::string DatabaseIssue::Describe(const std::string& what) const {
  switch (kind) {
    case Kind::kNone:
      return logProblem.empty() ? std::string() : what + "'s write-ahead log " + logProblem;
    case Kind::kMissing:
      return what + " is missing from the backup";
    case Kind::kNotRegular:
      return what + " is not a regular file";
    case Kind::kEmpty:
      return what + " is empty (0 bytes)";
    case Kind::kUnreadable:
      return what + " cannot be read: " + detail;
    case Kind::kDamaged:
      return what + " is damaged: " + detail;
    case Kind::kLayout:
      return what + " has a layout this program does not read (" + detail + ")";
  }
  return {};
}

ReadOnlyDatabase::~ReadOnlyDatabase() {
  Close();
}

int ReadOnlyDatabase::CopyTo(const fs::path& destination) {
  if (db_ == nullptr) return SQLITE_MISUSE;
  sqlite3* out = nullptr;
  int rc =
      sqlite3_open_v2(destination.c_str(), &out,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_backup* copy = sqlite3_backup_init(out, "main", db_, "main");
    if (copy == nullptr) {
      rc = sqlite3_errcode(out);
    } else {
      rc = sqlite3_backup_step(copy, -1);
      const int finished = sqlite3_backup_finish(copy);
      rc = rc == SQLITE_DONE ? finished : rc;
    }
  }
  const int closed = sqlite3_close(out);
  return rc != SQLITE_OK ? rc : closed;
}

int ReadOnlyDatabase::Open(const DatabaseFile& file) {
  Close();
  issue_ = {};
  if (file.path.empty()) {  // no file: never a temporary database
    issue_.kind = DatabaseIssue::Kind::kMissing;
    return SQLITE_CANTOPEN;
  }
  const fs::path path = PathFromUtf8(file.path);
  std::uint32_t pageSize = 0;  // of the database file's header; 0 when it has none
  {
    // SQLite opens with a blocking open(): a FIFO in place of the database would hang
    // the scan. The same rule as for every other file of a backup, before SQLite sees it.
    platform::ReadOnlyFile probe;
    const int rc = probe.Open(path);
    if (rc != 0) {
      issue_.kind = rc == platform::kNotRegularFile ? DatabaseIssue::Kind::kNotRegular
                    : platform::IsMissingFile(rc)   ? DatabaseIssue::Kind::kMissing
                                                    : DatabaseIssue::Kind::kUnreadable;
      issue_.detail = platform::OpenErrorText(rc);
      return SQLITE_CANTOPEN;
    }
    if (probe.Size() == 0) issue_.kind = DatabaseIssue::Kind::kEmpty;
    unsigned char header[18] = {};
    if (probe.ReadAt(0, header, sizeof header) == static_cast<std::int64_t>(sizeof header)) {
      pageSize = (std::uint32_t{header[16]} << 8) | header[17];
      if (pageSize == 1) pageSize = 65536;
    }
  }

  // The log: named by the caller (a backup's stored file), else beside the database.
  const bool named = !file.log.empty();
  fs::path logPath = named ? PathFromUtf8(file.log) : path;
  if (!named) logPath += "-wal";
  std::string logBytes;
  const int logRc = platform::ReadWholeFile(logPath, logBytes);
  if (logRc != 0) {
    logBytes.clear();
    // Beside the database a log is optional; one the backup lists must be there.
    if (named) {
      issue_.logProblem = platform::IsMissingFile(logRc)
                              ? "is missing from the backup: the database is read without it"
                              : "cannot be read (" + platform::OpenErrorText(logRc) +
                                    "): the database is read without it";
    }
  }
  if (!logBytes.empty()) {
    const WalLog log =
        ReadWalLog(reinterpret_cast<const unsigned char*>(logBytes.data()), logBytes.size());
    issue_.logProblem = log.problem;
    // SQLite would lay the log's pages over a file of another page size: a log of
    // another database, whose pages would only garble this one.
    if (log.headerValid && pageSize != 0 && log.pageSize != pageSize) {
      issue_.logProblem = "does not belong to the database (its pages are of " +
                          std::to_string(log.pageSize) + " bytes, the database's of " +
                          std::to_string(pageSize) + "): the database is read without it";
    } else if (log.headerValid) {
      if (OpenWithLog(path, logBytes)) return 0;
      if (issue_.logProblem.empty())
        issue_.logProblem = "could not be applied: the database is read without it";
    }
  }
  return OpenImmutable(path);
}

bool ReadOnlyDatabase::OpenWithLog(const fs::path& path, const std::string& logBytes) {
  std::error_code tempEc;
  tempFolder_ =
      platform::PrivateFolder::Create(fs::temp_directory_path(tempEc), kPrivateCopyPrefix);
  if (!tempFolder_) return false;
  const fs::path copy = tempFolder_->Path() / "db";
  fs::path copyLog = copy;
  copyLog += "-wal";
  std::error_code ec;
  fs::copy_file(path, copy, fs::copy_options::overwrite_existing, ec);
  bool written = !ec;
  if (written) {
    std::ofstream out(copyLog, std::ios::binary | std::ios::trunc);
    out.write(logBytes.data(), static_cast<std::streamsize>(logBytes.size()));
    out.close();
    written = !out.fail();
  }
  if (written) {
    const std::u8string u8 = copy.u8string();
    const std::string name(u8.begin(), u8.end());
    int rc =
        sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    // Reading the schema replays the log: a log SQLite cannot apply fails here rather
    // than in the reader's statement.
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    // The database alone may still be sound: it is read without the log then.
    if (issue_.logProblem.empty())
      issue_.logProblem = "could not be applied (" + message + "): the database is read without it";
  }
  tempFolder_.reset();
  return false;
}

int ReadOnlyDatabase::OpenImmutable(const fs::path& path) {
  const std::string uri = FileUri(path, "?immutable=1");
  int rc = sqlite3_open_v2(uri.c_str(), &db_,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    NoteStatementError(sqlite3_errstr(rc));
    sqlite3_close(db_);
    db_ = nullptr;
  }
  return rc;
}

void ReadOnlyDatabase::CacheWholeFile() {
  if (db_ == nullptr) return;
  // A page cache that holds the whole database (grown only as pages are read) saves
  // reading pages again. No memory map: a read error on damaged media would then be a
  // signal instead of an error code.
  sqlite3_exec(db_, "PRAGMA cache_size=-262144;", nullptr, nullptr, nullptr);
}

void ReadOnlyDatabase::NoteStatementError(const char* message) {
  if (issue_.kind == DatabaseIssue::Kind::kEmpty) return;  // says more than "no such table"
  issue_.detail = message != nullptr && *message != '\0' ? message : "unknown SQLite error";
  // A readable database without the table or column asked for is of another layout, not
  // damaged (a damaged schema gives "malformed" instead).
  const bool layout =
      issue_.detail.rfind("no such table", 0) == 0 || issue_.detail.rfind("no such column", 0) == 0;
  issue_.kind = layout ? DatabaseIssue::Kind::kLayout : DatabaseIssue::Kind::kDamaged;
}

bool ReadOnlyDatabase::Exec(const char* sql, SqliteRowCallback callback, void* context) {
  if (db_ == nullptr) return true;
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql, callback, context, &error);
  if (error != nullptr) {
    if (rc != SQLITE_ABORT) NoteStatementError(error);  // a callback's stop is no damage
    sqlite3_free(error);
    return true;
  }
  if (rc != SQLITE_OK) NoteStatementError(sqlite3_errstr(rc));
  return rc != SQLITE_OK;
}

bool ReadOnlyDatabase::Each(const char* sql, StatementRowCallback callback, void* context) {
  if (db_ == nullptr) return true;
  // The loop of sqlite3_exec: every statement of the text in turn, until one fails.
  const char* rest = sql;
  while (rest != nullptr && *rest != '\0') {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, rest, -1, &statement, &rest) != SQLITE_OK) {
      NoteStatementError(sqlite3_errmsg(db_));
      return true;
    }
    if (statement == nullptr) continue;  // only blanks or a comment
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      StatementRow row(statement);
      if (callback(context, row) != 0) {
        sqlite3_finalize(statement);
        return true;  // exec reports "query aborted"
      }
    }
    if (rc != SQLITE_DONE) NoteStatementError(sqlite3_errmsg(db_));
    const int finished = sqlite3_finalize(statement);
    if (rc == SQLITE_DONE && finished != SQLITE_OK) NoteStatementError(sqlite3_errstr(finished));
    if (rc != SQLITE_DONE || finished != SQLITE_OK) return true;
  }
  return false;
}

void ReadOnlyDatabase::Close() {
  if (db_ != nullptr) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
  tempFolder_.reset();
}

}  // namespace bv
