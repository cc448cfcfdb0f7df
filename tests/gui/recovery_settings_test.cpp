// The recovery options kept with the user's settings and handed to the job.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/lang/language_store.h"
#include "app/recovery_settings.h"
#include "export/recovery_job.h"
#include "platform/utf8.h"
#include "scan/scan_session.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class RecoverySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    root = fs::path(tmp.path().toStdString());
    WriteFile(root / "program" / "config.ini",
              "[DefaultLanguage]\r\nDefault=English\r\n\r\n[Languages]\r\nEnglish=English\r\n");
    WriteFile(root / "program" / "Languages" / "English.ini", "[Messages]\r\nMSG0401=Error\r\n");
  }
  QTemporaryDir tmp;
  fs::path root;
};

TEST_F(RecoverySettingsTest, OffUntilChosenAndKeptBesideTheLanguage) {
  // A program run from its own folder keeps its settings in config.ini.
  bv::lang::CLanguageStore store(bv::platform::Utf8FromPath(root / "program") + "/");
  EXPECT_FALSE(bv::ReadRecoverySettings(store).heicJpeg);
  ASSERT_TRUE(bv::WriteRecoverySettings(store, {true}));
  EXPECT_TRUE(bv::ReadRecoverySettings(store).heicJpeg);
  const std::string config = ReadFile(root / "program" / "config.ini");
  EXPECT_NE(config.find("[Recovery]\r\nHeicJpeg=1"), std::string::npos) << config;
  EXPECT_NE(config.find("[Languages]\r\nEnglish=English"), std::string::npos) << config;
  ASSERT_TRUE(bv::WriteRecoverySettings(store, {false}));
  EXPECT_FALSE(bv::ReadRecoverySettings(store).heicJpeg);

  // An installed program writes the user's own file and leaves the shipped one alone;
  // the shipped value counts until the user chose.
  WriteFile(root / "program" / "config.ini",
            "[DefaultLanguage]\r\nDefault=English\r\n[Recovery]\r\nHeicJpeg=1\r\n");
  const std::string shipped = ReadFile(root / "program" / "config.ini");
  const fs::path user = root / "home" / "settings.ini";
  bv::lang::CLanguageStore installed(bv::platform::Utf8FromPath(root / "program") + "/",
                                     bv::platform::Utf8FromPath(user));
  EXPECT_TRUE(bv::ReadRecoverySettings(installed).heicJpeg);
  ASSERT_TRUE(bv::WriteRecoverySettings(installed, {false}));
  EXPECT_FALSE(bv::ReadRecoverySettings(installed).heicJpeg);
  EXPECT_EQ(ReadFile(root / "program" / "config.ini"), shipped);
  EXPECT_NE(ReadFile(user).find("HeicJpeg=0"), std::string::npos);

  bv::ScanStores stores;
  bv::CStatisticsObj selection;
  bv::CRecoverJob job(stores, selection, nullptr, "phone",
                      bv::platform::Utf8FromPath(root / "out"));
  bv::ApplyRecoverySettings({true}, job);
  EXPECT_TRUE(job.HeicJpeg());
  bv::ApplyRecoverySettings({false}, job);
  EXPECT_FALSE(job.HeicJpeg());
}

}  // namespace
