#pragma once
// Pieces shared by the writers of mkbackup: the seeded generator, a thin SQLite
// wrapper that records every inserted and deleted row in the truth, the schema
// sections of ios-schemas.sql and the backup context that places stored files.
// Internal failures throw std::runtime_error; WriteBackup turns them into 87.
#include <sqlite3.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mkbackup.h"

namespace bv::mkbackup {

// SplitMix64: small, fast and the same on every platform.
class Prng {
 public:
  explicit Prng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n == 0 gives 0.
  std::uint64_t Below(std::uint64_t n) { return n == 0 ? 0 : Next() % n; }
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {  // inclusive
    return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo + 1)));
  }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }
  template <class T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }
  // A generator of its own for one part, so parts do not shift each other's draws.
  Prng Fork(std::uint64_t salt) { return Prng(Next() ^ (salt * 0x2545F4914F6CDD1Dull)); }

 private:
  std::uint64_t state_;
};

struct Blob {
  std::string bytes;
};
using Value = std::variant<std::monostate, std::int64_t, double, std::string, Blob>;

// ---- truth -------------------------------------------------------------------

struct TruthTable {
  std::string name;
  std::string section;               // ios-schemas.sql section the layout comes from ("" = our own)
  std::vector<std::string> columns;  // columns we wrote
  std::map<std::int64_t, std::vector<Value>> rows;  // live rows by row id
};

struct TruthDeleted {
  std::string table;
  std::int64_t rowid = 0;
  std::vector<std::string> columns;
  std::vector<Value> values;
  std::string probe;  // bytes of the row expected to stay in the file
  bool probeInFile = false;
  std::string how;  // "row" (freeblock), "page" (freelist), "table" (dropped table)
};

struct TruthDb {
  std::string label;  // sms.db, AddressBook.sqlitedb, ...
  std::string domain, path, fileId;
  int pageSize = 4096;
  std::deque<TruthTable> tables;  // deque: Inserters keep pointers into it
  std::vector<TruthDeleted> deleted;
  std::vector<std::string> droppedTables;
  // With a write-ahead log: its stored file, and per table the live rows that only the
  // log holds (the database file alone lacks them).
  std::string logFileId;
  std::map<std::string, std::vector<std::int64_t>> rowsInLog;
  // Texts that a reader must find in a document rather than a text column, by row id:
  // messages whose text column is NULL (their attributedBody), and the whole text of
  // notes of the newer store (ZICNOTEDATA.ZDATA; ZSNIPPET has only the first lines).
  std::map<std::int64_t, std::string> bodyTexts;
  TruthTable& Table(const std::string& name);
};

struct TruthFile {
  std::string domain, path, fileId, storedAs, type;
  std::int64_t size = 0;
  bool directory = false;
  int mode = 0;
};

struct Truth {
  std::vector<std::pair<std::string, std::string>> device;
  std::vector<TruthFile> files;
  std::vector<std::unique_ptr<TruthDb>> databases;
};

std::string TruthToJson(const Truth& truth, const BackupOptions& options,
                        const std::string& iosVersion);

// ---- SQLite -------------------------------------------------------------------

class Db {
 public:
  // Creates a fresh database file (removing any old one) with the given page size,
  // secure_delete off and no auto-vacuum, so deleted rows stay in the file.
  Db(const std::filesystem::path& path, int pageSize);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  void Exec(const std::string& sql);
  sqlite3* handle() { return db_; }
  void Close();

 private:
  sqlite3* db_ = nullptr;
};

class Inserter {
 public:
  // `truth` may be null (rows then go unrecorded).
  Inserter(Db& db, TruthTable* truth, const std::string& table, std::vector<std::string> columns);
  ~Inserter();
  Inserter(const Inserter&) = delete;
  Inserter& operator=(const Inserter&) = delete;
  // Inserts one row; returns its row id.
  std::int64_t Row(std::vector<Value> values);

 private:
  Db& db_;
  TruthTable* truth_;
  sqlite3_stmt* stmt_ = nullptr;
  std::size_t columnCount_;
  std::vector<bool> keep_;
};

std::set<std::string> ColumnsOf(Db& db, const std::string& table);

// Deletes rows by row id, moving them from the truth's live rows to its deleted list.
// `probeColumn` names the text column whose leading bytes become the probe.
void DeleteRows(Db& db, TruthDb& truth, const std::string& table,
                const std::vector<std::int64_t>& rowids, const std::string& probeColumn,
                const std::string& how);

// Deletes every row of a table with one statement (SQLite then empties the table's
// pages at once instead of row by row); the rows become deleted rows of the truth.
void ClearTable(Db& db, TruthDb& truth, const std::string& table, const std::string& probeColumn,
                const std::string& how);

// Sets columns of one row; the truth's live row follows. Every column must be one
// that the truth records for the table.
void UpdateRow(Db& db, TruthDb& truth, const std::string& table, std::int64_t rowid,
               const std::vector<std::pair<std::string, Value>>& changes);

// Row ids of the live rows whose integer `column` holds one of `values`.
std::vector<std::int64_t> RowidsWhere(TruthDb& truth, const std::string& table,
                                      const std::string& column,
                                      const std::vector<std::int64_t>& values);

// Checks every deleted row's probe against the bytes of the closed database file.
void CheckProbes(TruthDb& truth, const std::filesystem::path& file);

// Leaves the closed database `file` as a phone in use leaves it: the newest third of
// the live rows of each ordinary table (search tables' content included) is taken out
// of the file (securely deleted, so no trace stays in it) and written again with
// SQLite's write-ahead log on and no checkpoint; the file and the log are taken while
// the connection still holds them. Returns the log's bytes; `file` is the database
// without them. Records the moved rows in truth.rowsInLog.
std::string MoveNewestRowsIntoLog(const std::filesystem::path& file, TruthDb& truth,
                                  bool deleteSome = false);

// ---- schema sections ------------------------------------------------------------

struct SchemaSection {
  std::string title;  // text after "-- @@ section: "
  std::string body;
};
const std::vector<SchemaSection>& Sections();
// First section whose title starts with `prefix`; throws when none.
const SchemaSection& FindSection(std::string_view prefix);
// CREATE statements of a section (comment lines removed), in order.
std::vector<std::string> CreateStatements(const SchemaSection& section);
// Table name of a CREATE TABLE statement ("" for others).
std::string TableNameOf(const std::string& createStatement);
// Statement of the commented-out virtual table of a section ("" when none).
std::string CommentedVirtualTable(const SchemaSection& section);

// Creates the tables named by a list of sections, the later section's definition of
// a table replacing the earlier one; records the section per table in the truth.
// Tables in `skip` are left out.
void CreateOverlay(Db& db, TruthDb& truth, const std::vector<std::string>& sectionPrefixes,
                   const std::set<std::string>& skip = {});

// ---- backup context ---------------------------------------------------------------

struct Version {
  int major = 14, minor = 3;
};
Version ParseVersion(const std::string& text);

class BackupContext {
 public:
  BackupContext(const BackupOptions& options, std::filesystem::path folder);
  const BackupOptions& options() const { return options_; }
  const std::filesystem::path& folder() const { return folder_; }
  Version version() const { return version_; }
  const std::string& versionText() const { return versionText_; }
  bool newer() const { return options_.layout == Layout::kNewer; }
  Prng& prng() { return prng_; }
  Truth& truth() { return truth_; }

  // Path of the stored file of a key (sub-folder created for the newer layout).
  std::filesystem::path StoredPath(const std::string& fileId);
  // Writes a stored file and enters it in the manifest and the truth.
  void AddFile(const std::string& domain, const std::string& path, const std::string& bytes,
               const std::string& type, std::int64_t mtime);
  void AddDirectory(const std::string& domain, const std::string& path, std::int64_t mtime);
  // Starts a database: returns its truth; call FinishDatabase after closing it.
  TruthDb& BeginDatabase(const std::string& label, const std::string& domain,
                         const std::string& path, int pageSize);
  void FinishDatabase(TruthDb& db, std::int64_t mtime);

  struct Entry {
    std::string domain, path, fileId;
    bool directory = false;
    std::int64_t size = 0, mtime = 0, inode = 0;
    int mode = 0;
    std::string digest;  // raw SHA-1 of the content (older layout only)
  };
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  BackupOptions options_;
  std::filesystem::path folder_;
  Version version_;
  std::string versionText_;
  Prng prng_;
  Truth truth_;
  std::vector<Entry> entries_;
  std::set<std::string> madeDirs_;
};

// ---- writers of the parts --------------------------------------------------------

void WriteInfoPlists(BackupContext& ctx);
void WriteManifestDb(BackupContext& ctx);
void WriteManifestMbdb(BackupContext& ctx);
void WriteSmsDb(BackupContext& ctx);
void WriteAddressBook(BackupContext& ctx);
void WriteCallHistory(BackupContext& ctx);
void WriteNotes(BackupContext& ctx);
void WriteWhatsApp(BackupContext& ctx);
void WriteWeChat(BackupContext& ctx);
void WriteQQ(BackupContext& ctx);
void WriteCalendar(BackupContext& ctx);
void WriteSafari(BackupContext& ctx);
void WriteMedia(BackupContext& ctx);
void WriteExtraEntries(BackupContext& ctx);

// ---- content helpers ----------------------------------------------------------

// Seconds between 1970-01-01 and 2001-01-01.
constexpr std::int64_t kAppleEpoch = 978307200;
// Unix seconds of an ISO date "YYYY-MM-DDTHH:MM:SSZ"; throws on bad text.
std::int64_t ParseIsoDate(const std::string& text);
std::string FormatIsoDate(std::int64_t unixSeconds);

struct Person {
  std::string first, last, organization;
  std::vector<std::string> phones;  // E.164
  std::vector<std::string> emails;
  std::string url;
};
// The people of a backup: the address book, message handles and call partners all
// draw on this list so that names can be matched across databases.
std::vector<Person> MakePeople(std::uint64_t seed, int count);
// The longest prefix of at most `maxBytes` that does not cut a UTF-8 sequence.
std::string Utf8Prefix(const std::string& text, std::size_t maxBytes);
std::string Sentence(Prng& rng, int minWords, int maxWords);
// Sentences for a row that spills into overflow pages of a `pageSize`-byte page: from
// 1.1 to 2.5 page sizes long (at most 60,000 bytes), drawn from a generator of their own
// (`seed`) so that the rows written after it are the same with or without it.
std::string SpillingText(std::uint64_t seed, int pageSize);
// The page size of the message, call, WhatsApp, address book and older notes databases.
inline int RecordPageSize(const BackupOptions& o) {
  return o.recordPageSize != 0 ? o.recordPageSize : 4096;
}
std::string Guid(Prng& rng);  // 8-4-4-4-12 upper-case hex

// Media samples: content of one detected kind, at least `size` bytes.
std::string MediaBytes(const std::string& kind, Prng& rng, std::size_t size);

}  // namespace bv::mkbackup
