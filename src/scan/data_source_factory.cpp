#include "scan/data_source_factory.h"

#include "catalogue/local_recovery.h"
#include "device/device_recovery.h"

namespace bv {

std::unique_ptr<IPhoneRecoveryParse> CreateDataSource(std::int32_t kind, void* target) {
  std::unique_ptr<IPhoneRecoveryParse> source;
  if (kind == kLocalBackupSource) source = std::make_unique<CLocalBuckupRecovery>();
  if (kind == kDeviceSource) source = std::make_unique<CDeviceRecovery>();  // target: IDeviceAccess
  if (source) source->Attach(target);
  return source;
}

}  // namespace bv
