#pragma once
// The catalogue of one backup: one per run of the program, owned by the main window
// (or the command line). Not thread-safe: a scan, a preview or an export uses it from
// one worker thread at a time, as the front ends guarantee.
#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/types.h"
#include "platform/private_folder.h"
#include "records/record_types.h"

namespace bv {

struct BackupCatalog {
  std::string backupFolder;
  std::string workFolder;  // application data + TarnwickBackvault/
  BackupRecord current;
  std::vector<std::string> candidateFolders;
  std::vector<std::string> backupFiles;
  std::vector<ManifestEntry> manifest;
  ProgressCallback progressCallback = nullptr;
  void* progressUser = nullptr;
  std::int32_t progress = 0;
  std::int32_t progressStep = 0;
  bool hasManifestDb = false;
  AccountChats qqChats;
  AccountChats weChatChats;
  WhatsAppChatMap whatsAppChats;
  MediaList whatsAppAttachments;
  // Set when ReadAppMedia has refilled whatsAppAttachments in this scan.
  bool appMediaRead = false;
  // Why OpenBackup could not read the manifest, or read it only in part, in words
  // ("Manifest.mbdb is cut short after 85 records: ..."); empty when it was read whole.
  std::string manifestProblem;
  // Per category, why the last read could not read its source, in words; empty when it
  // could. Emptied by OpenBackup; filled by the data source's read slots (for WeChat and
  // QQ: why a store was read without (all of) its write-ahead log).
  std::array<std::string, kCategoryCount> readProblems;
  // The private folder of this scan's decrypted files (encrypted backups only). Replaced
  // by the next OpenBackup; removed with everything in it when reset or destroyed.
  std::unique_ptr<platform::PrivateFolder> decryptionRun;

  // Reports `position` through the callback (when there is one); returns its answer,
  // 0 without a callback.
  std::int32_t Report(std::int32_t position);
  // Adds `amount` to progress and reports the new value.
  std::int32_t Advance(std::int32_t amount);
  // The same, but never past the position at which a scan of every described category
  // ends (98 for a plain backup): the reads beyond those share what they leave.
  std::int32_t AdvanceWithinScan(std::int32_t amount);
};

// The position at which a scan of the described categories ends: the open's report of
// 1 and its unit, two units of photos, one each of message attachments, app media,
// WhatsApp and its attachments, and half a unit each for messages, contacts, calls
// and notes.
inline constexpr std::int32_t DescribedScanEnd(std::int32_t step) {
  return 1 + 7 * step + 4 * (step / 2);
}

// Creates the catalogue's work folder, removes what earlier runs left there and lists
// the backup root. `catalog` starts empty.
void InitCatalog(BackupCatalog& catalog);
// Empties the lists, removes this scan's decrypted files and runs the clean-up again;
// the counterpart of InitCatalog.
void DestroyCatalog(BackupCatalog& catalog);

}  // namespace bv
