// A backup and its encrypted twin (mkbackup's writer, then its encryptor) open to the
// same manifest and the same stored bytes, for both layouts: whatever a category reads
// from one it reads from the other.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "catalogue/decrypt.h"
#include "catalogue/discovery.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "mkbackup.h"
#include "platform/platform.h"
#include "tests/tools/decrypt_fixture.h"
#include "tools/mkbackup/encrypt_backup.h"

namespace bv {
namespace {

namespace fs = std::filesystem;
namespace td = testing_decrypt;

class DecryptTwin : public ::testing::TestWithParam<mkbackup::Layout> {};

TEST_P(DecryptTwin, EncryptedTwinOpensLikeThePlainBackup) {
  td::TempDir dir;
  // Our own application data folder for this test, the caller's back afterwards.
  struct EnvBack {
    std::string name;
    std::optional<std::string> value;
    ~EnvBack() {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  };
  auto save = [](const char* name) {
    const char* v = std::getenv(name);
    return EnvBack{name, v ? std::optional<std::string>(v) : std::nullopt};
  };
  EnvBack data = save("XDG_DATA_HOME");
  EnvBack home = save("HOME");
  setenv("XDG_DATA_HOME", (dir.path() / "data").c_str(), 1);
  setenv("HOME", dir.path().c_str(), 1);
  mkbackup::BackupOptions o;
  o.layout = GetParam();
  o.seed = 11;
  o.messages = 8;
  o.contacts = 5;
  o.calls = 5;
  o.notes = 3;
  o.whatsapp = 6;
  o.wechat = 4;
  o.qq = 4;
  std::string error;
  ASSERT_EQ(mkbackup::WriteBackup(o, dir.path() / "plain", &error), 0) << error;
  ASSERT_EQ(mkbackup::WriteBackup(o, dir.path() / "twin", &error), 0) << error;
  mkbackup::EncryptOptions e;
  e.password = "twin \"pass\"";
  e.dpic = 10;
  e.iter = 10;
  ASSERT_EQ(mkbackup::EncryptBackup(dir.path() / "twin", dir.path() / "twin", e, &error), 0)
      << error;
  EXPECT_EQ(td::ReadAll(dir.path() / "plain" / "mkbackup-truth.json"),
            td::ReadAll(dir.path() / "twin" / "mkbackup-truth.json"));
  auto open = [&](const fs::path& folder, BackupCatalog& catalog, const std::string& password) {
    fs::create_directories(platform::WorkFolder());
    catalog.workFolder = platform::Utf8FromPath(platform::WorkFolder() / "");
    BackupRecord record;
    EXPECT_EQ(ReadBackupFolder(platform::Utf8FromPath(folder), record), kSuccess);
    SelectBackup(catalog, record);
    return OpenBackup(catalog, password);
  };
  BackupCatalog plain;
  BackupCatalog twin;
  ASSERT_EQ(open(dir.path() / "plain", plain, ""), kSuccess);
  EXPECT_FALSE(plain.current.encrypted);
  ASSERT_EQ(open(dir.path() / "twin", twin, ValidUtf8(e.password)), kSuccess);
  EXPECT_TRUE(twin.current.encrypted);

  ASSERT_EQ(plain.manifest.size(), twin.manifest.size());
  ASSERT_FALSE(plain.manifest.empty());
  std::size_t compared = 0;
  for (std::size_t i = 0; i < plain.manifest.size(); ++i) {
    EXPECT_EQ(plain.manifest[i].key, twin.manifest[i].key);
    EXPECT_EQ(plain.manifest[i].fileId, twin.manifest[i].fileId);
    const fs::path a = platform::PathFromUtf8(StoredFilePath(plain, plain.manifest[i].fileId));
    const fs::path b = platform::PathFromUtf8(StoredFilePath(twin, twin.manifest[i].fileId));
    std::error_code ec;
    EXPECT_EQ(fs::is_regular_file(a, ec), fs::is_regular_file(b, ec)) << plain.manifest[i].key;
    if (fs::is_regular_file(a, ec)) {
      EXPECT_EQ(td::ReadAll(a), td::ReadAll(b)) << plain.manifest[i].key;
      ++compared;
    }
  }
  EXPECT_GT(compared, 20u);
  CleanUp(twin);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DecryptTwin,
                         ::testing::Values(mkbackup::Layout::kNewer, mkbackup::Layout::kOlder),
                         [](const auto& info) {
                           return std::string(info.param == mkbackup::Layout::kNewer ? "Newer"
                                                                                     : "Older");
                         });

}  // namespace
}  // namespace bv
