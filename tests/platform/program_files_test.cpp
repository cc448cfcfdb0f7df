#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/program_files.h"

namespace bv::platform {
namespace {

namespace fs = std::filesystem;

// A prefix laid out as an install: bin/, the helper folder and the data folder as the
// build configured them relative to bin/.
class ProgramFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("bv-progfiles-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    prefix_ = base_ / "prefix";
    fs::create_directories(Bin());
  }
  void TearDown() override { fs::remove_all(base_); }

  fs::path Bin() const { return prefix_ / "bin"; }
  fs::path Helpers() const { return (Bin() / InstalledHelperFolder()).lexically_normal(); }
  fs::path Data() const { return (Bin() / InstalledDataFolder()).lexically_normal(); }
  static void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  void Install() {
    Touch(Helpers() / "tool");
    Touch(Helpers() / "extract");
    Touch(Data() / "config.ini");
    fs::create_directories(Data() / "template");
  }

  fs::path base_, prefix_;
};

TEST_F(ProgramFilesTest, InstallFoldersLieOutsideBinAndApart) {
  // A layout that put helpers or data into bin/ itself would shadow the build's lookup.
  EXPECT_FALSE(InstalledHelperFolder().empty());
  EXPECT_FALSE(InstalledDataFolder().empty());
  EXPECT_NE(Helpers(), Bin());
  EXPECT_NE(Data(), Bin());
  EXPECT_NE(Helpers(), Data());
}

TEST_F(ProgramFilesTest, InstalledTreeIsFoundFromBinAndAfterMovingIt) {
  Install();
  EXPECT_EQ(HelperProgramFor(Bin(), "tool"), Helpers() / "tool");
  EXPECT_EQ(HelperProgramFor(Bin(), "extract"), Helpers() / "extract");
  EXPECT_EQ(DataFolderFor(Bin()), Data());

  // The whole tree moved elsewhere: nothing points back at the old prefix.
  const fs::path moved = base_ / "elsewhere" / "opt";
  fs::create_directories(moved.parent_path());
  fs::rename(prefix_, moved);
  prefix_ = moved;
  EXPECT_EQ(HelperProgramFor(Bin(), "tool"), Helpers() / "tool");
  EXPECT_EQ(DataFolderFor(Bin()), Data());
  EXPECT_TRUE(fs::exists(HelperProgramFor(Bin(), "tool")));
}

TEST_F(ProgramFilesTest, BuildLayoutBesideTheExecutableComesFirst) {
  Install();
  // A build keeps everything beside the executables; those win over an install's.
  Touch(Bin() / "tool");
  Touch(Bin() / "template" / "Sms.html");
  EXPECT_EQ(HelperProgramFor(Bin(), "tool"), Bin() / "tool");
  EXPECT_EQ(HelperProgramFor(Bin(), "extract"), Helpers() / "extract");
  EXPECT_EQ(DataFolderFor(Bin()), Bin());
  // Any one of the data files marks the folder as the data folder.
  fs::remove_all(Bin() / "template");
  Touch(Bin() / "config.ini");
  EXPECT_EQ(DataFolderFor(Bin()), Bin());
}

TEST_F(ProgramFilesTest, NothingFoundNamesThePlaceBesideTheExecutable) {
  // So that "cannot start .../tool" points where a build would have put it.
  EXPECT_EQ(HelperProgramFor(Bin(), "tool"), Bin() / "tool");
  EXPECT_EQ(DataFolderFor(Bin()), Bin());
  // A folder that merely has the helper's name is no program.
  fs::create_directories(Helpers() / "tool");
  EXPECT_EQ(HelperProgramFor(Bin(), "tool"), Bin() / "tool");
}

TEST_F(ProgramFilesTest, NonAsciiPrefix) {
  prefix_ = base_ / u8"Programme für alle";
  fs::create_directories(Bin());
  Install();
  EXPECT_EQ(HelperProgramFor(Bin(), "tool"), Helpers() / "tool");
  EXPECT_TRUE(DataFolderFor(Bin()).u8string() == Data().u8string());
}

}  // namespace
}  // namespace bv::platform
