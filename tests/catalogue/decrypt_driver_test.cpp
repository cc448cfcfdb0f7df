// The decryption driver: staging and running the tool, the watching loop with its
// markers and progress, the password on standard input, the temporary root and the
// clean-up. A scripted stand-in plays the tool where exact output matters; the real
// tool decrypts real encrypted fixtures.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "catalogue/decrypt.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "platform/platform.h"
#include "platform/private_folder.h"
#include "support.h"
#include "tests/tools/decrypt_fixture.h"
#include "tools/mkbackup/encrypt_backup.h"

namespace bv {
namespace {

namespace fs = std::filesystem;
namespace td = testing_decrypt;

struct Progress {
  std::vector<std::int32_t> reports;
  std::int32_t stopAt = -1;          // answer 2 once a report reaches this
  std::atomic<bool> stopNow{false};  // answer 2 from now on
  static std::int32_t Callback(void* user, std::int32_t percent) {
    auto* self = static_cast<Progress*>(user);
    self->reports.push_back(percent);
    if (self->stopNow) return 2;
    return self->stopAt >= 0 && percent >= self->stopAt ? 2 : 0;
  }
  // The positions as the scan page shows them: a silent tool makes the driver report
  // the last position again now and then, and 0 is where every scan starts.
  std::vector<std::int32_t> Steps() const {
    std::vector<std::int32_t> steps;
    for (std::int32_t r : reports)
      if (r != 0 && (steps.empty() || steps.back() != r)) steps.push_back(r);
    return steps;
  }
};

class DecryptDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
      const char* value = std::getenv(name);
      savedEnv_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("XDG_DATA_HOME", (dir_.path() / "data").c_str(), 1);
    setenv("HOME", dir_.path().c_str(), 1);
    fs::create_directories(platform::WorkFolder());
    catalog_.workFolder = platform::Utf8FromPath(platform::WorkFolder() / "");
    backup_ = dir_.path() / "backup";
    fs::create_directories(backup_);
    catalog_.current.folder = platform::Utf8FromPath(backup_);
    catalog_.current.encrypted = true;
    catalog_.backupFolder = catalog_.current.folder;
    catalog_.progressCallback = &Progress::Callback;
    catalog_.progressUser = &progress_;
    catalog_.progressStep = 10;
    // The stand-in, delivered as "tool" in a folder of its own.
    fakeFolder_ = dir_.path() / "fakebin";
    fs::create_directories(fakeFolder_);
    fs::copy_file(fs::path(std::getenv("BV_BIN_DIR")) / "decrypt_fake_tool", fakeFolder_ / "tool");
  }

  void TearDown() override {
    for (const auto& [name, value] : savedEnv_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

  void Script(const std::string& text) { td::WriteAll(backup_ / "fake_script.txt", text); }

  Result RunFake(const std::string& password = "pw") {
    std::string out;
    const Result r = DecryptBackup(catalog_, password, out, fakeFolder_);
    output_ = platform::PathFromUtf8(out);
    return r;
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv_;
  td::TempDir dir_;
  fs::path backup_;
  fs::path fakeFolder_;
  fs::path output_;
  BackupCatalog catalog_;
  Progress progress_;
};

TEST_F(DecryptDriver, CountMarkersDriveProgress) {
  Script("print Count: 0\nsleep 150\nprint Count: 5\nsleep 150\nprint Count: 10\n");
  catalog_.backupFiles.assign(20, "x");
  EXPECT_EQ(RunFake(), kSuccess);
  EXPECT_EQ(catalog_.progress, 1);
  // 0 -> 1 at the first marker, then 1 + 10 * n / 20, then the end advance. A busy
  // machine may hand two lines over in one read; the later count stands then.
  const std::vector<std::int32_t> steps = progress_.Steps();
  const std::vector<std::int32_t> all = {1, 3, 6, 11};
  EXPECT_TRUE(std::includes(all.begin(), all.end(), steps.begin(), steps.end()))
      << ::testing::PrintToString(steps);
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps.front(), 1);
  EXPECT_EQ(steps[steps.size() - 2], 6);
  EXPECT_EQ(steps.back(), 11);
  EXPECT_TRUE(std::is_sorted(progress_.reports.begin(), progress_.reports.end()));
  // The tool wrote into the run's private folder, where its own staged copy lies too.
  ASSERT_NE(catalog_.decryptionRun, nullptr);
  const fs::path run = catalog_.decryptionRun->Path();
  EXPECT_EQ(output_, run / "TarnwickBackvaultBackupPath");
  EXPECT_EQ(run.parent_path(), platform::WorkFolder() / "TarnwickTempFile");
  EXPECT_FALSE(fs::exists(platform::WorkFolder() / "tool.exe"));
  // The staged copy carries the platform's executable header.
  const std::string staged = td::ReadAll(run / "tool.exe");
  EXPECT_EQ(staged.substr(0, 4),
            "\x7f"
            "ELF");
}

TEST_F(DecryptDriver, NoFilesCountsAsZeroShare) {
  Script("print Count: 7\n");
  EXPECT_EQ(RunFake(), kSuccess);
  EXPECT_EQ(progress_.Steps(), (std::vector<std::int32_t>{1, 11}));
}

TEST_F(DecryptDriver, WrongPasswordMarkerGivesMinus110) {
  Script("print Wrong password\n");
  EXPECT_EQ(RunFake(), kWrongPassword);
  EXPECT_EQ(catalog_.progress, 0);  // never accepted
}

TEST_F(DecryptDriver, SilentToolEndsWithSuccess) {
  Script("exit 1\n");
  EXPECT_EQ(RunFake(), kSuccess);
  EXPECT_EQ(progress_.Steps(), (std::vector<std::int32_t>{10}));
}

TEST_F(DecryptDriver, AToolEndedBySignalIsAFailureNotASuccess) {
  Script("print Count: 0\nsignal 9\n");
  EXPECT_EQ(RunFake(), kInvalidParameter);
  EXPECT_NE(catalog_.manifestProblem.find("ended by signal 9"), std::string::npos)
      << catalog_.manifestProblem;
}

TEST_F(DecryptDriver, TheToolsErrorLineIsKeptForTheUser) {
  Script("print Count: 0\nprint Error: cannot read the Files table of Manifest.db\nexit 1\n");
  EXPECT_EQ(RunFake(), kSuccess);
  EXPECT_EQ(catalog_.manifestProblem,
            "the decryption tool reported: cannot read the Files table of Manifest.db");
}

// Deriving the key of a real backup keeps the tool silent for seconds; a stop must not
// wait for its next line.
TEST_F(DecryptDriver, StopReachesASilentTool) {
  Script("sleep 20000\nprint Count: 0\n");
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    progress_.stopNow = true;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunFake(), kStopped);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(DecryptDriver, StopFromCallbackEndsTheWatching) {
  Script("print Count: 1\nsleep 20000\nprint Count: 2\n");
  catalog_.backupFiles.assign(4, "x");
  progress_.stopAt = 3;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunFake(), kStopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(DecryptDriver, MissingToolGives87EvenAfterAnEarlierStaging) {
  Script("print Count: 0\n");
  ASSERT_EQ(RunFake(), kSuccess);  // leaves a staged tool.exe behind
  std::string out;
  EXPECT_EQ(DecryptBackup(catalog_, "pw", out, dir_.path() / "empty"), kInvalidParameter);
  EXPECT_FALSE(out.empty());
}

TEST_F(DecryptDriver, PasswordArrivesExactlyOnStandardInput) {
  Script("save_password\n");
  const std::string password = " spaced \"double\" 'single' \\back ünï ";
  EXPECT_EQ(RunFake(password), kSuccess);
  EXPECT_EQ(td::ReadAll(output_ / "password.txt"), password);
  Script("save_password\n");
  EXPECT_EQ(RunFake(""), kSuccess);
  EXPECT_EQ(td::ReadAll(output_ / "password.txt"), "");
}

// A process's command line, or nothing once it has gone. Read by hand: a stream's
// buffer throws when read() fails, and it fails with ESRCH for a process reaped
// between the open and the read.
std::string CommandLineOf(const fs::path& entry) {
  const int fd = ::open((entry / "cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

TEST_F(DecryptDriver, PasswordNeverInAnyCommandLine) {
  Script("sleep 1500\nprint Count: 1\n");
  const std::string password = "Secret-Pw-4711";
  std::atomic<bool> done{false};
  std::thread runner([&] {
    RunFake(password);
    done = true;
  });
  bool sawTool = false;
  bool leaked = false;
  while (!done) {
    // Processes come and go during the walk: the walk must never throw (the runner
    // thread would be left unjoined and end the whole test program).
    std::error_code ec;
    for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
      const std::string cmdline = CommandLineOf(it->path());
      if (cmdline.find("tool.exe") != std::string::npos) sawTool = true;
      if (cmdline.find(password) != std::string::npos) leaked = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  runner.join();
  EXPECT_TRUE(sawTool);  // otherwise the check below proves nothing
  EXPECT_FALSE(leaked);
}

TEST_F(DecryptDriver, EachRunHasAPrivateFolderThatGoesWithIt) {
  Script("print Count: 0\nsave_password\n");
  ASSERT_EQ(RunFake("first"), kSuccess);
  ASSERT_NE(catalog_.decryptionRun, nullptr);
  const fs::path first = catalog_.decryptionRun->Path();
  EXPECT_EQ(fs::status(first).permissions() & fs::perms::mask, fs::perms::owner_all);
  EXPECT_EQ(fs::status(output_).permissions() & fs::perms::mask, fs::perms::owner_all);
  EXPECT_EQ(td::ReadAll(output_ / "password.txt"), "first");

  // The next run replaces it: the first one's plaintext is gone before the second starts.
  ASSERT_EQ(RunFake("second"), kSuccess);
  const fs::path second = catalog_.decryptionRun->Path();
  EXPECT_NE(first, second);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_EQ(td::ReadAll(output_ / "password.txt"), "second");

  catalog_.decryptionRun.reset();
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::is_empty(platform::WorkFolder() / "TarnwickTempFile"));
}

TEST_F(DecryptDriver, CleanUpRemovesKilledRunsAndWhatOlderVersionsLeft) {
  Script("print Count: 0\n");
  ASSERT_EQ(RunFake(), kSuccess);
  const fs::path live = catalog_.decryptionRun->Path();
  // A run that was killed: its process is gone.
  const fs::path parent = platform::WorkFolder() / "TarnwickTempFile";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  const fs::path killed = parent / platform::PrivateFolderName("run", child, 1, 0);
  td::WriteAll(killed / "TarnwickBackvaultBackupPath" / "3d0d7e5fb2ce288813306e4d4636395e047a3d28",
               "plaintext");
  // The private copy of a database with a log that the killed run was reading.
  const fs::path copy =
      fs::temp_directory_path() / platform::PrivateFolderName("bv-db", child, 1, 0);
  td::WriteAll(copy / "db", "plaintext");
  // The one shared output folder of earlier versions.
  const fs::path shared = DecryptedOutputFolder();
  fs::create_directories(shared / "sub");
  td::WriteAll(shared / "3d0d7e5fb2ce288813306e4d4636395e047a3d28", "x");
  td::WriteAll(shared / "sub" / "keep", "x");
  td::WriteAll(platform::WorkFolder() / "tmp.jpg", "x");
  td::WriteAll(platform::WorkFolder() / "tmp.wav", "x");
  td::WriteAll(platform::WorkFolder() / "other", "x");
  td::WriteAll(backup_ / "Manifest.db-decypted", "x");

  CleanUp(catalog_);
  EXPECT_FALSE(fs::exists(killed));
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_TRUE(fs::exists(live)) << "this run is still going";
  EXPECT_FALSE(fs::exists(shared / "3d0d7e5fb2ce288813306e4d4636395e047a3d28"));
  EXPECT_TRUE(fs::exists(shared / "sub" / "keep"));
  EXPECT_FALSE(fs::exists(platform::WorkFolder() / "tmp.jpg"));
  EXPECT_FALSE(fs::exists(platform::WorkFolder() / "tmp.wav"));
  EXPECT_TRUE(fs::exists(platform::WorkFolder() / "other"));
  // Nothing in a backup folder is ever touched.
  EXPECT_TRUE(fs::exists(backup_ / "Manifest.db-decypted"));
}

TEST(DecryptTemporaryRoot, ChoiceOverVolumes) {
  const fs::path appData = "/home/u/.local/share";
  const fs::path own = appData / "TarnwickBackvault" / "TarnwickTempFile";
  const std::uint64_t gib = 1ull << 30;
  std::vector<platform::Volume> volumes = {{"/", "/dev/sda1", 20 * gib},
                                           {"/data", "/dev/sdb1", 300 * gib},
                                           {"/bad", "/dev/sdc1", 0},
                                           {"/other", "/dev/sdd1", 300 * gib}};
  // More than 15 GiB where the application data lives: stay there.
  auto choices = TemporaryRootChoices(appData, 15 * gib + 1, volumes);
  ASSERT_FALSE(choices.empty());
  EXPECT_EQ(choices.front(), own);
  // Exactly 15 GiB is not enough: the volume with the most room, the first on a tie;
  // the unreadable one is never chosen and the own root comes last.
  choices = TemporaryRootChoices(appData, 15 * gib, volumes);
  EXPECT_EQ(choices, (std::vector<fs::path>{"/data/TarnwickTempFile", "/other/TarnwickTempFile",
                                            "/TarnwickTempFile", own}));
  // Free space unknown: the same as too little.
  EXPECT_EQ(TemporaryRootChoices(appData, std::nullopt, volumes).front(),
            fs::path("/data/TarnwickTempFile"));
  // No volume at all still gives a place.
  EXPECT_EQ(TemporaryRootChoices(appData, 1, {}), std::vector<fs::path>{own});
}

// The real tool on encrypted fixtures, through the preparation OpenBackup runs.
class DecryptRealTool : public DecryptDriver {
 protected:
  void Encrypt(bool newer) {
    files_ = td::SampleFiles();
    if (newer) {
      td::WriteNewerPlain(dir_.path() / "plain", files_);
    } else {
      td::WriteOlderPlain(dir_.path() / "plain", files_);
    }
    mkbackup::EncryptOptions o;
    o.password = "right horse \"battery\"";
    o.dpic = 10;
    o.iter = 10;
    ASSERT_EQ(mkbackup::EncryptBackup(dir_.path() / "plain", backup_, o), 0);
  }
  std::vector<td::PlainFile> files_;
};

TEST_F(DecryptRealTool, WrongPasswordThroughOpenBackupGivesMinus110) {
  Encrypt(true);
  EXPECT_EQ(OpenBackup(catalog_, "wrong horse"), kWrongPassword);
  EXPECT_EQ(catalog_.backupFolder, platform::Utf8FromPath(backup_));
  EXPECT_TRUE(catalog_.manifest.empty());
  EXPECT_EQ(OpenBackup(catalog_, ""), kWrongPassword);
}

TEST_F(DecryptRealTool, BothLayoutsOpenAsFlatBackups) {
  for (bool newer : {true, false}) {
    SCOPED_TRACE(newer ? "newer" : "older");
    fs::remove_all(backup_);
    fs::remove_all(dir_.path() / "plain");
    fs::create_directories(backup_);
    Encrypt(newer);
    const auto before = test::SnapshotTree(backup_);
    std::string decrypted;
    {
      test::ReadOnlyTree readOnly(backup_);
      ASSERT_EQ(PrepareEncryptedBackup(catalog_, "right horse \"battery\"", decrypted), kSuccess);
    }
    EXPECT_EQ(catalog_.progressStep, 10);
    ASSERT_NE(catalog_.decryptionRun, nullptr);
    const fs::path output = platform::PathFromUtf8(decrypted);
    EXPECT_EQ(output, catalog_.decryptionRun->Path() / "TarnwickBackvaultBackupPath");
    EXPECT_EQ(catalog_.backupFiles.size(), files_.size());
    for (const auto& f : files_) {
      EXPECT_EQ(td::ReadAll(output / td::IdOf(f)), f.content);
      EXPECT_EQ(fs::status(output / td::IdOf(f)).permissions() & fs::perms::mask,
                fs::perms::owner_read | fs::perms::owner_write);
    }
    // The decrypted manifest stays with the decrypted files, out of the backup.
    EXPECT_EQ(fs::exists(output / "Manifest.db-decypted"), newer);
    EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(backup_)), "");
    const fs::path run = catalog_.decryptionRun->Path();
    catalog_.decryptionRun.reset();
    EXPECT_FALSE(fs::exists(run));
  }
}

TEST_F(DecryptRealTool, OpenBackupReadsTheDecryptedManifest) {
  Encrypt(true);
  // A decrypted manifest that an earlier version left in the backup is stale: not read.
  td::WriteAll(backup_ / "Manifest.db-decypted", "stale");
  ASSERT_EQ(OpenBackup(catalog_, "right horse \"battery\""), kSuccess);
  EXPECT_EQ(catalog_.manifest.size(), files_.size() + 1);  // and the folder row
  EXPECT_EQ(catalog_.manifestProblem, "");
  ASSERT_NE(catalog_.decryptionRun, nullptr);
  EXPECT_EQ(platform::PathFromUtf8(catalog_.backupFolder),
            catalog_.decryptionRun->Path() / "TarnwickBackvaultBackupPath");
  EXPECT_EQ(catalog_.current.folder, catalog_.backupFolder);
  EXPECT_EQ(td::ReadAll(platform::PathFromUtf8(StoredFilePath(catalog_, td::IdOf(files_[0])))),
            files_[0].content);
  EXPECT_EQ(progress_.reports.front(), 0);
  EXPECT_EQ(progress_.reports.back(), 11);
}

// Two scans of encrypted backups at once (two windows, two command lines) share nothing:
// each stages its own tool and reads its own decrypted files.
TEST_F(DecryptRealTool, TwoRunsAtOnceShareNothing) {
  Encrypt(true);
  BackupCatalog other;
  other.workFolder = catalog_.workFolder;
  other.current = catalog_.current;
  other.backupFolder = catalog_.backupFolder;
  catalog_.progressCallback = nullptr;
  Result results[2] = {-1, -1};
  std::thread a([&] { results[0] = OpenBackup(catalog_, "right horse \"battery\""); });
  std::thread b([&] { results[1] = OpenBackup(other, "right horse \"battery\""); });
  a.join();
  b.join();
  EXPECT_EQ(results[0], kSuccess) << catalog_.manifestProblem;
  EXPECT_EQ(results[1], kSuccess) << other.manifestProblem;
  ASSERT_TRUE(catalog_.decryptionRun && other.decryptionRun);
  EXPECT_NE(catalog_.decryptionRun->Path(), other.decryptionRun->Path());
  for (BackupCatalog* c : {&catalog_, &other}) {
    EXPECT_EQ(c->manifest.size(), files_.size() + 1);
    for (const auto& f : files_)
      EXPECT_EQ(td::ReadAll(platform::PathFromUtf8(StoredFilePath(*c, td::IdOf(f)))), f.content);
  }
}

}  // namespace
}  // namespace bv
