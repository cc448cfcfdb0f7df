#pragma once
// Copies of backup files into the output tree, with per-chunk progress.
#include <string>

#include "catalogue/backup_catalog.h"
#include "common/result_codes.h"

namespace bv {

// Copies `source` to `destination` (creating its folders) in 64 KiB chunks, reporting
// each chunk to `callback`. The backup file is opened read-only; sizes are 64-bit.
// 0, 87 when either file cannot be opened, the callback's non-zero answer, or the
// platform's error code; every non-zero end is reported once more with percent 100.
Result CopyBackupFile(const std::wstring& source, const std::wstring& destination,
                      CopyCallback callback, void* user);

// Copy the message / address-book database of the current backup to `destination`,
// replacing a file that is there. Always 0.
Result CopyMessageDatabase(const BackupCatalog& catalog, const std::string& destination);
Result CopyContactsDatabase(const BackupCatalog& catalog, const std::string& destination);

}  // namespace bv
