#include "records/readonly_db.h"

#include <sqlite3.h>

#include "platform/files.h"
#include "platform/private_folder.h"
#include "records/row_access.h"

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
      return {};
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

int ReadOnlyDatabase::Open(const std::string& utf8Path) {
  Close();
  issue_ = {};
  if (utf8Path.empty()) {  // no file: never a temporary database
    issue_.kind = DatabaseIssue::Kind::kMissing;
    return SQLITE_CANTOPEN;
  }
  const fs::path path = PathFromUtf8(utf8Path);
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
  }
  fs::path log = path;
  log += "-wal";
  std::error_code ec;
  const bool hasLog = fs::is_regular_file(log, ec) && fs::file_size(log, ec) > 0 && !ec;

  if (hasLog && fs::is_regular_file(path, ec)) {
    std::error_code tempEc;
    tempFolder_ =
        platform::PrivateFolder::Create(fs::temp_directory_path(tempEc), kPrivateCopyPrefix);
    if (tempFolder_) {
      const fs::path copy = tempFolder_->Path() / "db";
      fs::path copyLog = copy;
      copyLog += "-wal";
      std::error_code e1, e2;
      fs::copy_file(path, copy, fs::copy_options::overwrite_existing, e1);
      fs::copy_file(log, copyLog, fs::copy_options::overwrite_existing, e2);
      if (!e1 && !e2) {
        const std::u8string u8 = copy.u8string();
        const std::string name(u8.begin(), u8.end());
        int rc = sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc == SQLITE_OK) return 0;
        sqlite3_close(db_);
        db_ = nullptr;
      }
      tempFolder_.reset();
    }
    // No private copy possible: read in place; SQLite may then need a "-shm" beside it.
    int rc = sqlite3_open_v2(utf8Path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      NoteStatementError(sqlite3_errstr(rc));
      sqlite3_close(db_);
      db_ = nullptr;
    }
    return rc;
  }

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
