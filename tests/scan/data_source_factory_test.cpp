#include <gtest/gtest.h>

#include "catalogue/backup_catalog.h"
#include "catalogue/local_recovery.h"
#include "scan/data_source_factory.h"

namespace bv {
namespace {

TEST(DataSourceFactoryTest, LocalKindAttachesToTheCatalogueOtherKindsGiveNothing) {
  BackupCatalog c;
  auto local = CreateDataSource(kLocalBackupSource, &c);
  ASSERT_TRUE(local);
  EXPECT_TRUE(local->IsLocalBackup(0));
  auto* concrete = dynamic_cast<CLocalBuckupRecovery*>(local.get());
  ASSERT_NE(concrete, nullptr);
  EXPECT_EQ(concrete->Catalog(), &c);
  EXPECT_EQ(CreateDataSource(7, &c), nullptr);
  EXPECT_EQ(CreateDataSource(-1, &c), nullptr);
}

}  // namespace
}  // namespace bv
