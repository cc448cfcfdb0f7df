#pragma once
// Helpers shared by the tests: a temporary folder that removes itself, backups built
// into it through mkbackup, and a small JSON reader for mkbackup-truth.json.
//
//   bv::test::TempDir dir;
//   bv::mkbackup::BackupOptions o;  o.messages = 50;
//   fs::path backup = bv::test::BuildBackup(dir, o);        // dir/backup
//   bv::test::Json truth = bv::test::ReadTruth(backup);
//   const bv::test::Json* sms = bv::test::FindDatabase(truth, "sms.db");
//   auto rows = bv::test::LiveRows(*sms, "message");        // objects: rowid, values
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mkbackup.h"

namespace bv::test {

namespace fs = std::filesystem;

// A fresh folder under the system temporary folder (named "<tag>-XXXXXX"), removed with
// everything in it when the object goes, also what a test left read-only or immutable.
// The one temporary folder of the tests.
class TempDir {
 public:
  explicit TempDir(const std::string& tag = "bvtest");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  // The path of `name` inside the folder, as a UTF-8 string.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// Every entry below a folder (relative path -> kind, permission bits and bytes), for
// checks that a run left a backup exactly as it was. Links are recorded by target.
std::map<std::string, std::string> SnapshotTree(const fs::path& folder);
// What differs between two snapshots, one entry a line ("added: x", "removed: y",
// "changed: z"); empty when they are equal. Short enough for a failure message.
std::string TreeChanges(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after);

// Makes a folder tree read-only for the lifetime of the object: every entry loses its
// write bits, and where the file system allows it (as root, which ignores write bits)
// it becomes immutable as well. Restored on destruction, so the tree can be removed.
class ReadOnlyTree {
 public:
  explicit ReadOnlyTree(const fs::path& folder);
  ~ReadOnlyTree();
  ReadOnlyTree(const ReadOnlyTree&) = delete;
  ReadOnlyTree& operator=(const ReadOnlyTree&) = delete;
  // True when a file really cannot be created in the folder now (else a test of
  // read-only media proves nothing here and should be skipped).
  bool Effective() const;

 private:
  fs::path folder_;
  std::vector<std::pair<fs::path, fs::perms>> perms_;
  std::vector<fs::path> immutable_;
};

// Writes a backup into dir/name; a failure aborts the test run with mkbackup's message.
fs::path BuildBackup(const TempDir& dir, const mkbackup::BackupOptions& options,
                     const std::string& name = "backup");

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

// A database whose latest changes live only in its write-ahead log, as a phone in use
// leaves it: `mainSql` runs and stays in the database file, then the log is switched on
// and `logSql` runs without a checkpoint; the file and its log are copied to `database`
// and `log` while the connection still holds them (closing would checkpoint). Throws
// std::runtime_error with SQLite's message on failure.
void WriteDatabaseWithLog(const fs::path& database, const fs::path& log, const std::string& mainSql,
                          const std::string& logSql);

// A parsed JSON value. Numbers keep their text, so 64-bit integers stay exact.
class Json {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // number text or string value
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // object members in file order

  bool IsNull() const { return kind == Kind::kNull; }
  // Member by name; a null value when absent (or when this is no object).
  const Json& operator[](const std::string& name) const;
  const Json& operator[](std::size_t index) const;
  std::size_t size() const { return kind == Kind::kArray ? items.size() : members.size(); }
  bool Has(const std::string& name) const;
  std::int64_t Int() const;
  double Number() const;
  const std::string& Str() const { return text; }

  // Throws std::runtime_error with the offset on malformed text.
  static Json Parse(const std::string& text);
};

// mkbackup-truth.json of a backup folder.
Json ReadTruth(const fs::path& backupFolder);
// The first database entry of the truth with this label (sms.db, MM.sqlite, ...).
const Json* FindDatabase(const Json& truth, const std::string& label);
// All database entries with this label (several accounts of one app).
std::vector<const Json*> FindDatabases(const Json& truth, const std::string& label);
// The live rows of a table of a database entry (each: {"rowid":N,"values":{...}}).
std::vector<const Json*> LiveRows(const Json& database, const std::string& table);
// The deleted rows of a database entry, optionally of one table.
std::vector<const Json*> DeletedRows(const Json& database, const std::string& table = "");
// Path of a database's stored file inside the backup folder.
fs::path StoredFile(const fs::path& backupFolder, const Json& database);

}  // namespace bv::test
