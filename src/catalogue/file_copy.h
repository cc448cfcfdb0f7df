#pragma once
// Copies of backup files into the output tree, with per-chunk progress.
#include <string>

#include "catalogue/backup_catalog.h"
#include "common/result_codes.h"
#include "records/readonly_db.h"

namespace bv {

// Copies `source` to `destination` (creating its folders) in 64 KiB chunks, reporting
// each chunk to `callback`. The backup file is opened read-only; sizes are 64-bit. The
// destination must not exist yet (a link under its name is not followed); a copy that
// does not end well is removed. 0, the callback's non-zero answer, or the platform's
// error code (of the failed open, read, write or close); every non-zero end is
// reported once more with percent 100.
Result CopyBackupFile(const std::string& source, const std::string& destination,
                      CopyCallback callback, void* user);

// Copy the message / address-book database of the current backup to `destination`
// (UTF-8), replacing a file that is there. 0 or the platform's error code.
Result CopyMessageDatabase(const BackupCatalog& catalog, const std::string& destination);
Result CopyContactsDatabase(const BackupCatalog& catalog, const std::string& destination);
// A database with its stored write-ahead log, written as one database file with the log's
// rows in it (page for page, freed pages included). Anything but kSuccess leaves the
// caller to copy the main file alone.
Result CopyDatabaseWithLog(const DatabaseFile& file, const std::string& destination);

}  // namespace bv
