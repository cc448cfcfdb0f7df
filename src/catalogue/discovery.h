#pragma once
// Finding the backups of this user and reading each one's device facts from its
// Info.plist. A text plist is read line by line, with plain substring searches, and the
// values' XML character references decoded; a binary plist ("bplist00", written by
// newer desktop software) is read with libplist into the same fields and formats.
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/types.h"
#include "common/result_codes.h"

namespace bv {

// Appends the entries of `folder` (files and folders, except names beginning with
// ".") as full paths, in the order the file system gives them. False when the folder
// cannot be enumerated.
bool ListFolder(const std::string& folder, std::vector<std::string>& entries);

// Empties candidateFolders and lists the backup root into it.
Result FindCandidates(BackupCatalog& catalog);
// Same, over a given root (the command line's --root).
Result FindCandidatesIn(BackupCatalog& catalog, const std::string& root);

// A record for every candidate with a readable Info.plist, appended to `records` and
// ordered newest first (stable).
Result ListBackups(const BackupCatalog& catalog, std::vector<BackupRecord>& records);

// Fills `record` from the Info.plist of a folder the user browsed to; 87 (and the
// record untouched) when there is none.
Result ReadBackupFolder(const std::string& folder, BackupRecord& record);
// The device facts of an Info.plist's bytes, as the reader of the file takes them:
// display name, last backup date (converted to local time), phone number, system
// version and serial number into `record`. Text form line by line, with the values'
// character references decoded; binary form ("bplist00") through libplist. Untrusted
// bytes: any input gives some record, never a read outside them.
void ParseInfoPlist(std::string_view bytes, BackupRecord& record);

// True when the backup's files are enciphered: its address book does not start with
// "SQLite". A backup without an address book is encrypted when Manifest.plist
// (binary or XML) says IsEncrypted.
bool ProbeEncrypted(const std::string& backupFolder);

// Makes `record` the backup of the next scan.
void SelectBackup(BackupCatalog& catalog, const BackupRecord& record);

// "YYYY-MM-DD HH:MM:SS" taken as UTC, shifted by the standard-time bias (minutes west
// of UTC) and formatted back. Text without the separators comes back unchanged.
std::string ConvertBackupDate(const std::string& text, int biasMinutes);

}  // namespace bv
