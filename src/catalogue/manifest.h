#pragma once
// The backup folder layout: the two manifest formats, the stored-file path rule and the
// fixed identifiers of the databases the readers open.
//
// Manifest.mbdb (older layout), all numbers big-endian:
//
//   offset  size  field
//   0       4     magic "mbdb"
//   4       2     version (not examined)
//   6       ...   records, one after another to the end of the file
//
// Record:
//   string  domain            first part of the key
//   string  path              second part of the key
//   string  link target       dropped
//   string  data hash         dropped
//   string  encryption key    dropped
//   u16     mode              (mode & 0xE000) == 0x4000 marks a directory
//   u64     inode number      dropped
//   u32     user id, u32 group id, u32 mtime, u32 atime, u32 ctime   dropped
//   u64     size              dropped
//   u8      flag              dropped
//   u8      property count    n
//   n x (string name, string value)                                  dropped
//
// string: u16 length then that many bytes; 0xFFFF is an absent string with no bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "common/result_codes.h"

namespace bv {

inline constexpr const char* kMessagesDbId = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr const char* kAddressBookDbId = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr const char* kCallHistoryNewerId = "5a4935c78a5255723f707230a451d79c540d2741";
inline constexpr const char* kCallHistoryOlderId = "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca";
inline constexpr const char* kNotesOlderId = "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c";
inline constexpr const char* kNotesNewerId = "4f98687d8ab0d6d1a371110e6b7300f6e465bef2";
// HomeDomain Library/Calendar/Calendar.sqlitedb and Library/Safari/Bookmarks.db.
inline constexpr const char* kCalendarDbId = "2041457d5fe04d39d0ab481178355df6781e6858";
inline constexpr const char* kSafariBookmarksId = "d1f062e2da26192a6625d968274bfda8d07821e4";

// Where the stored file of `fileId` lies in the current backup: directly in the folder
// for an encrypted (decrypted) or older backup, in a two-character sub-folder for a plain
// newer one.
std::string StoredFilePath(const BackupCatalog& catalog, const std::string& fileId);
// The same path as the file system takes it (UTF-8), for walks that open many files.
// `folder` is the backup folder in that form.
std::string StoredFileNative(const BackupCatalog& catalog, const std::string& folder,
                             const std::string& fileId);

// The stored file of the write-ahead log of the database stored as `fileId`: the
// manifest entry of the same domain and path + "-wal" (stored files are named by a hash
// of their path, so the log never lies beside its database). Empty when the manifest
// lists none.
std::string StoredLogPath(const BackupCatalog& catalog, const std::string& fileId);

// Reads the Files table of Manifest.db (or its decrypted copy). 0, sqlite3_open's code
// (14 as well for a path that is no regular file, which SQLite is never handed), or 1006
// when the statement fails (rows read before the failure are kept). `problem`, when
// given, receives what is wrong in words, to follow the file's name ("is damaged: file
// is not a database"), or is emptied.
Result LoadManifestDb(const std::string& path, std::vector<ManifestEntry>& entries,
                      std::string* problem = nullptr);

// Reads Manifest.mbdb. 0; 6009 when it cannot be opened (or is no regular file: a FIFO
// counts as missing); 87 when the path is empty, memory runs out or the magic is wrong. `problem`
// as above; it is also set (with result 0) when the file is cut short.
Result LoadManifestMbdb(const std::string& path, std::vector<ManifestEntry>& entries,
                        std::string* problem = nullptr);
// Parses the bytes of a Manifest.mbdb. 87 when the magic is wrong or the data too short.
// A record cut short ends parsing and is not added; `records`, when given, receives the
// number of whole records and `complete` whether the data ended after one.
Result ParseManifestMbdb(const unsigned char* data, std::size_t size,
                         std::vector<ManifestEntry>& entries, bool* complete = nullptr,
                         std::size_t* records = nullptr);

// Starts a scan: resets progress, decrypts when needed and loads the manifest. Whatever
// kept the manifest from being read whole is told in `catalog.manifestProblem`.
Result OpenBackup(BackupCatalog& catalog, const std::string& password);

}  // namespace bv
