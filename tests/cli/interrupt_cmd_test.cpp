// Ctrl-C and SIGTERM sent to a real backvault-cli while it decrypts a backup: the scan is
// cancelled as the stop button would, the summary says so, the exit code is 130 or 143,
// the private folder of decrypted files is gone and the backup is as it was. A run that
// is killed outright leaves its folder, which the next start removes.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "encrypt_backup.h"
#include "platform/process.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class InterruptCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    mkbackup::BackupOptions o;
    o.seed = 4;
    o.messages = 10;
    const fs::path plain = test::BuildBackup(*dir_, o, "plain");
    // Slow key derivation: the tool stays silent for a second or so, as with a real
    // backup, and the signal lands while it works.
    mkbackup::EncryptOptions e;
    e.password = kPassword;
    e.dpic = 4000000;
    e.iter = 10;
    std::string error;
    ASSERT_EQ(mkbackup::EncryptBackup(plain, dir_->path() / "enc", e, &error), 0) << error;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    const char* bin = std::getenv("BV_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    cli_ = fs::path(bin) / "backvault-cli";
    if (!fs::exists(cli_) || !fs::exists(fs::path(bin) / "tool")) GTEST_SKIP() << "not built";
    data_ = work_.path() / "data";
    xdg_ = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", data_.string());
  }

  fs::path RunParent() const { return data_ / "TarnwickBackvault" / "TarnwickTempFile"; }
  std::vector<fs::path> Runs() const {
    std::vector<fs::path> runs;
    std::error_code ec;
    for (fs::directory_iterator it(RunParent(), ec), end; !ec && it != end; it.increment(ec))
      runs.push_back(it->path());
    return runs;
  }

  struct Result {
    int code = -1;
    std::string output;
    bool sawRunFolder = false;
  };
  // Starts the command with the password on its standard input, sends `signal` once its
  // private folder exists, and collects everything it prints until it ends.
  Result RunAndSignal(const std::vector<std::string>& args, int signal) {
    Result r;
    platform::Process p;
    std::vector<std::string> argv = {cli_.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(p.Start(argv), 0);
    p.WriteInput(std::string(kPassword) + "\n");
    p.CloseInput();
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    bool sent = false;
    while (!p.OutputClosed() && Clock::now() < deadline) {
      if (!sent && !Runs().empty()) {
        r.sawRunFolder = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(p.Pid(), signal);
        sent = true;
      }
      p.Wait(5);
      p.ReadAvailable(r.output);
    }
    if (!p.Wait(10000)) ADD_FAILURE() << "backvault-cli did not end";
    p.ReadAvailable(r.output);
    r.code = p.ExitCode();
    return r;
  }

  static constexpr const char* kPassword = "slow to derive";
  static test::TempDir* dir_;
  test::TempDir work_;
  fs::path cli_;
  fs::path data_;
  std::unique_ptr<test::ScopedEnv> xdg_;
};
test::TempDir* InterruptCommandTest::dir_ = nullptr;

TEST_F(InterruptCommandTest, SigintAndSigtermDuringDecryptionCancelTheScanAndLeaveNothing) {
  const fs::path enc = dir_->path() / "enc";
  const auto before = test::SnapshotTree(enc);
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    const auto start = Clock::now();
    const Result r = RunAndSignal({"scan", enc.string(), "--password-stdin", "--json"}, signal);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    ASSERT_TRUE(r.sawRunFolder) << r.output;
    EXPECT_EQ(r.code, 128 + signal) << r.output;
    EXPECT_NE(r.output.find("backvault-cli scan: cancelled"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("could not be opened"), std::string::npos) << r.output;
    EXPECT_TRUE(Runs().empty()) << "decrypted files were left behind";
    EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(enc)), "");
  }
  // The chats command the same way.
  const Result r = RunAndSignal({"chats", enc.string(), "--password-stdin"}, SIGINT);
  ASSERT_TRUE(r.sawRunFolder);
  EXPECT_EQ(r.code, 130) << r.output;
  EXPECT_NE(r.output.find("backvault-cli chats: cancelled"), std::string::npos) << r.output;
  EXPECT_TRUE(Runs().empty());
}

TEST_F(InterruptCommandTest, AKilledRunsFolderGoesAtTheNextStart) {
  const fs::path enc = dir_->path() / "enc";
  const Result killed = RunAndSignal({"scan", enc.string(), "--password-stdin"}, SIGKILL);
  ASSERT_TRUE(killed.sawRunFolder);
  EXPECT_EQ(killed.code, 128 + SIGKILL);
  ASSERT_EQ(Runs().size(), 1u) << "a killed run cannot clean up after itself";
  // Its tool ended with it: nothing goes on writing into the folder.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto left = test::SnapshotTree(Runs().front());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(test::TreeChanges(left, test::SnapshotTree(Runs().front())), "");

  // Any next start of the program, whatever it does, removes it.
  platform::Process next;
  ASSERT_EQ(next.Start({cli_.string(), "scan", (dir_->path() / "plain").string(), "--categories",
                        "notes"}),
            0);
  next.CloseInput();
  ASSERT_TRUE(next.Wait(30000));
  EXPECT_EQ(next.ExitCode(), 0);
  EXPECT_TRUE(Runs().empty());
}

}  // namespace
}  // namespace bv::cli
