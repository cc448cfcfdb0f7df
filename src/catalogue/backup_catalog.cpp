#include "catalogue/backup_catalog.h"

#include <algorithm>
#include <filesystem>

#include "catalogue/decrypt.h"
#include "catalogue/discovery.h"
#include "platform/platform.h"

namespace bv {

std::int32_t BackupCatalog::Report(std::int32_t position) {
  return progressCallback ? progressCallback(progressUser, position) : 0;
}

std::int32_t BackupCatalog::Advance(std::int32_t amount) {
  progress += amount;
  return Report(progress);
}

std::int32_t BackupCatalog::AdvanceWithinScan(std::int32_t amount) {
  const std::int32_t room = DescribedScanEnd(progressStep) - progress;
  return Advance(std::clamp(amount, 0, std::max(room, 0)));
}

void InitCatalog(BackupCatalog& catalog) {
  const auto work = platform::WorkFolder();
  if (!work.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(work, ec);
    catalog.workFolder = platform::Utf8FromPath(work / "");
  }
  CleanUp(catalog);
  FindCandidates(catalog);
}

void DestroyCatalog(BackupCatalog& catalog) {
  catalog.manifest.clear();
  catalog.backupFiles.clear();
  catalog.candidateFolders.clear();
  catalog.decryptionRun.reset();
  CleanUp(catalog);
}

}  // namespace bv
