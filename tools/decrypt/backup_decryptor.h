#pragma once
// One run of the decryption tool: opens the keybag of an encrypted backup with the
// password and writes, into the output folder only (never into the backup), the
// decrypted manifest as "Manifest.db-decypted" (newer backups) and every stored file,
// decrypted or copied, flat under its 40-digit identifier. Every file it writes is
// readable by our user alone (0600).
//
// Lines it prints (each ends with a line feed and is flushed at once):
//   "Count: n"              n files handled so far; "Count: 0" as soon as the password
//                           opened the keybag
//   "Wrong password"        the password did not open the keybag; nothing is written
//   "Skipped: <id> (<why>)" a file that could not be decrypted; the run goes on
//   "Warning: <id> (<why>)" a file written with a remark (bad padding, cut short)
//   "Error: <reason>"       the run cannot go on
// Only identifiers are printed, never names from the backup, so no backup content can
// pose as a marker.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace bv::decrypt {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,  // no usable manifest or keybag, or no output folder
  kExitWrongPassword = 2,
  kExitSomeSkipped = 3,  // finished, but some files could not be decrypted
};

struct RunStats {
  std::uint64_t decrypted = 0;
  std::uint64_t copied = 0;
  std::uint64_t skipped = 0;
  std::uint64_t warnings = 0;
};

using LineSink = std::function<void(const std::string& line)>;

// `password` is wiped by the caller; this function keeps no copy past its return.
int DecryptBackupFolder(const std::filesystem::path& backupFolder,
                        const std::filesystem::path& outputFolder, const std::string& password,
                        const LineSink& print, RunStats* stats = nullptr);

}  // namespace bv::decrypt
