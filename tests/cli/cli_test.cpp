#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command.h"
#include "cli_run.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;

class ListCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("bvcli-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    Backup("one", "Work \"Phone\"", "2020-01-02T10:00:00Z", "13.1");
    Backup("two", "Tom &amp; Ann", "2019-12-31T23:00:00Z", "11.4");
    std::ofstream(root_ / "stray.txt") << "x";
    ::setenv("TZ", "UTC", 1);
  }
  void TearDown() override { fs::remove_all(root_); }
  void Backup(const std::string& dir, const std::string& name, const std::string& date,
              const std::string& version) {
    fs::create_directories(root_ / dir);
    std::ofstream(root_ / dir / "Info.plist")
        << "<plist>\n<dict>\n<key>Display Name</key>\n<string>" << name
        << "</string>\n<key>Last Backup Date</key>\n<date>" << date
        << "</date>\n<key>Product Version</key>\n<string>" << version
        << "</string>\n<key>Serial Number</key>\n<string>SN-" << dir
        << "</string>\n</dict>\n</plist>\n";
  }
  fs::path root_;
};

TEST_F(ListCommandTest, JsonIsNewestFirstAndEscaped) {
  Outcome r = Cli({"list", "--root", root_.string(), "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string expected =
      "[\n {\"displayName\": \"Work \\\"Phone\\\"\", \"lastBackupDate\": \"2020-01-02 10:00:00\", "
      "\"serialNumber\": \"SN-one\", \"phoneNumber\": \"\", \"newerSystem\": true, \"encrypted\": "
      "false, "
      "\"folder\": \"" +
      (root_ / "one").string() +
      "\"},\n"
      " {\"displayName\": \"Tom & Ann\", \"lastBackupDate\": \"2019-12-31 23:00:00\", "
      "\"serialNumber\": \"SN-two\", \"phoneNumber\": \"\", \"newerSystem\": false, \"encrypted\": "
      "false, "
      "\"folder\": \"" +
      (root_ / "two").string() + "\"}\n]\n";
  EXPECT_EQ(r.out, expected);
}

TEST_F(ListCommandTest, TextListingAndEmptyRoot) {
  Outcome r = Cli({"list", "--root", root_.string()});
  ASSERT_EQ(r.code, 0);
  EXPECT_LT(r.out.find("Work \"Phone\""), r.out.find("Tom & Ann"));
  fs::create_directories(root_ / "empty-root");
  r = Cli({"list", "--root", (root_ / "empty-root").string(), "--json"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "[]\n");
}

TEST(CliTest, UsageErrorsAndFailures) {
  EXPECT_EQ(Cli({}).code, kExitUsage);
  Outcome unknown = Cli({"frobnicate"});
  EXPECT_EQ(unknown.code, kExitUsage);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);
  EXPECT_EQ(Cli({"list", "--bogus"}).code, kExitUsage);
  Outcome missing = Cli({"list", "--root", "/no/such/root/here"});
  EXPECT_EQ(missing.code, kExitFailed);
  EXPECT_FALSE(missing.err.empty());
  Outcome help = Cli({"help"});
  EXPECT_EQ(help.code, kExitOk);
  EXPECT_NE(help.out.find("list [--root DIR] [--json]"), std::string::npos);
}

TEST(CliTest, JsonEscapeControlCharacters) {
  EXPECT_EQ(JsonEscape(std::string("a\"b\\c\n\x01", 7)), "a\\\"b\\\\c\\n\\u0001");
}

}  // namespace
}  // namespace bv::cli
