#pragma once
// Builds the data source of a scan: kind 1 reads a backup folder (target: the
// BackupCatalog), kind 0 a connected phone (target: the device context). Any other
// kind gives no data source.
#include <cstdint>
#include <memory>

#include "catalogue/data_source.h"

namespace bv {

inline constexpr std::int32_t kLocalBackupSource = 1;
inline constexpr std::int32_t kDeviceSource = 0;

std::unique_ptr<IPhoneRecoveryParse> CreateDataSource(std::int32_t kind, void* target);

}  // namespace bv
