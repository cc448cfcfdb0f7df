#pragma once
// Encrypted backups: the decryption tool is a program of its own ("tool" beside our
// executable). Each run gets a private folder (0700, under the work folder's
// "TarnwickTempFile") that nobody else shares: the catalogue stages a copy of the tool
// there as "tool.exe", runs it on the backup with the output folder
// "TarnwickBackvaultBackupPath" inside it, hands it the password on its standard input and
// watches its output for "Count:" (files done) and "Wrong password". The tool writes the
// decrypted files and the decrypted manifest "Manifest.db-decypted" only there, never into
// the backup. Afterwards the output folder is read as a flat backup. The private folder
// goes with the catalogue's `decryptionRun` (a new scan, the data source's end, the
// catalogue's end); folders of runs that were killed go at the next start (CleanUp).
//
// Runs on the scan thread only; blocks it while the tool runs. A stop from the progress
// callback ends the watching and our own child with it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "common/result_codes.h"
#include "platform/platform.h"

namespace bv {

// Below this much free space on the application-data volume, decrypted copies go to
// the mounted file system with the most room instead.
inline constexpr std::uint64_t kTemporaryRootMinFree = 15ull << 30;

// Where decrypted copies may go, best first: application data + TarnwickBackvault/
// TarnwickTempFile when its volume has more than 15 GiB free (`appDataFree` empty:
// unknown); otherwise TarnwickTempFile at the root of the volume with the most free
// bytes (the first one on a tie; volumes with 0 free bytes count as unreadable). The
// remaining choices follow as fall-backs for a root that cannot be created (a volume
// root that is not ours to write), the application-data one always last. Pure: no file
// system access.
std::vector<std::filesystem::path> TemporaryRootChoices(
    const std::filesystem::path& appData, std::optional<std::uint64_t> appDataFree,
    const std::vector<platform::Volume>& volumes);

// The temporary root of this run: computed on first use (for the current application
// data folder) and created; kept afterwards. Device copies live there.
std::filesystem::path TemporaryRoot();
// The temporary root + "TarnwickBackvaultBackupPath": the one output folder that every
// decryption shared before runs got folders of their own. CleanUp still empties it, so
// that plaintext an earlier version left there does not stay.
std::filesystem::path DecryptedOutputFolder();

// Where the private folders of decryption runs are made: the work folder +
// "TarnwickTempFile" (the system's temporary folder when there is no work folder).
std::filesystem::path DecryptionRunParent(const BackupCatalog& catalog);
// Names of those folders: "run-<pid>-<start time>-<n>" (platform/private_folder.h).
inline constexpr const char* kDecryptionRunPrefix = "run";
// The tool's output folder inside a run's private folder.
inline constexpr const char* kDecryptedOutputName = "TarnwickBackvaultBackupPath";
// The decrypted manifest, which the tool writes into its output folder.
inline constexpr const char* kDecryptedManifestName = "Manifest.db-decypted";

// Runs the tool over `catalog.current.folder` in a fresh private folder, which replaces
// `catalog.decryptionRun`. Result: 0 (the tool ran and accepted the password); -110 for
// "Wrong password"; 87 when no private folder can be made, the tool cannot be staged or
// started, or it was ended by a signal; or the non-zero answer of the progress callback
// (also that of the final report). `outputFolder` is set whenever the private folder
// was made. `toolFolder` is where "tool" is looked for (empty: platform::HelperProgram).
// On a failure, and when the tool printed an "Error:" line, `catalog.manifestProblem`
// says what happened.
Result DecryptBackup(BackupCatalog& catalog, const std::string& password, std::string& outputFolder,
                     const std::filesystem::path& toolFolder = {});

// The encrypted branch of OpenBackup, after progress was reset and the lists emptied:
// sets progressStep to 10, fills backupFiles with the backup's files (one folder level
// down), runs DecryptBackup and, on success, refills backupFiles with the decrypted
// files of the output folder and names that folder in `decryptedFolder`. OpenBackup
// returns any non-zero result at once; on 0 it loads the manifest from the tool's
// "Manifest.db-decypted" there and then makes `decryptedFolder` the backupFolder.
Result PrepareEncryptedBackup(BackupCatalog& catalog, const std::string& password,
                              std::string& decryptedFolder);

// Removes the private folders of decryption runs whose process has ended (killed runs),
// likewise the private copies of databases with a log (records/readonly_db.h), the files
// directly inside the shared output folder of earlier versions, and the
// preview copies tmp.jpg, tmp.avi and tmp.wav of the work folder. Run when the catalogue
// is created and when it is destroyed. Folders of runs that are still going (this one's
// included) and anything in a backup folder stay.
void CleanUp(BackupCatalog& catalog);

}  // namespace bv
