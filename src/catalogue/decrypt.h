#pragma once
// Encrypted backups: the decryption tool is a program of its own ("tool" beside our
// executable). The catalogue stages a copy as "tool.exe" in its work folder, runs it
// on the backup with an output folder, hands it the password on its standard input
// and watches its output for "Count:" (files done) and "Wrong password". Afterwards
// the output folder is read as a flat backup.
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
// data folder) and created; kept afterwards.
std::filesystem::path TemporaryRoot();
// The temporary root + "TarnwickBackvaultBackupPath": where the tool writes.
std::filesystem::path DecryptedOutputFolder();

// Runs the tool over `catalog.current.folder`. Result: 0 (the tool ran and accepted the
// password); -110 for "Wrong password"; 87 when the tool cannot be staged or started;
// or the non-zero answer of the progress callback. `outputFolder` is set whatever
// happens. `toolFolder` is where "tool" is looked for (empty: platform::HelperProgram).
Result DecryptBackup(BackupCatalog& catalog, const std::wstring& password,
                     std::wstring& outputFolder, const std::filesystem::path& toolFolder = {});

// The encrypted branch of OpenBackup, after progress was reset and the lists emptied:
// sets progressStep to 10, fills backupFiles with the backup's files (one folder level
// down), runs DecryptBackup and, on success, refills backupFiles with the decrypted
// output and names that folder in `decryptedFolder`. OpenBackup returns any non-zero
// result at once; on 0 it loads the manifest from the backup's own folder (where the
// tool left "Manifest.db-decypted") and then makes `decryptedFolder` the backupFolder.
Result PrepareEncryptedBackup(BackupCatalog& catalog, const std::wstring& password,
                              std::wstring& decryptedFolder);

// Removes the files directly inside the decrypted-output folder (not the folder) and
// the preview copies tmp.jpg, tmp.avi and tmp.wav of the work folder. Run when the
// catalogue is created and when it is destroyed. "Manifest.db-decypted" in a backup
// folder and the staged tool stay.
void CleanUp(BackupCatalog& catalog);

}  // namespace bv
