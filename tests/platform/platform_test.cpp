#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/process.h"

namespace bv::platform {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_.c_str(), old_.c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

fs::path TempDir(const char* tag) {
  fs::path p =
      fs::temp_directory_path() / (std::string("bvplat-") + tag + "-" + std::to_string(::getpid()));
  fs::remove_all(p);
  fs::create_directories(p);
  return p;
}

TEST(FoldersTest, FollowXdgDataHomeThenHome) {
  ScopedEnv home("HOME", "/tmp/bv-home");
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/tmp/bv-xdg");
    EXPECT_EQ(AppDataFolder(), fs::path("/tmp/bv-xdg"));
    EXPECT_EQ(BackupRoot(), fs::path("/tmp/bv-xdg/Apple Computer/MobileSync/Backup"));
    EXPECT_EQ(WorkFolder(), fs::path("/tmp/bv-xdg/TarnwickBackvault"));
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(AppDataFolder(), fs::path("/tmp/bv-home/.local/share"));
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv nohome("HOME", nullptr);
    EXPECT_TRUE(AppDataFolder().empty());
    EXPECT_TRUE(BackupRoot().empty());
  }
}

TEST(FoldersTest, ExecutableFolderHoldsThisTest) {
  fs::path folder = ExecutableFolder();
  EXPECT_TRUE(fs::exists(folder / "test_platform"));
}

TEST(PathsTest, WideAndUtf8PathsRoundTrip) {
  std::string w = "/tmp/Tom & Ann \u4E2D\u6587/\U0001F600.jpg";
  fs::path p = PathFromUtf8(w);
  EXPECT_EQ(p.native(), "/tmp/Tom & Ann \xE4\xB8\xAD\xE6\x96\x87/\xF0\x9F\x98\x80.jpg");
  EXPECT_EQ(Utf8FromPath(p), w);
}

TEST(TimeTest, BiasIsStandardTimeMinutesWest) {
  {
    ScopedEnv tz("TZ", "UTC");
    EXPECT_EQ(TimeZoneBiasMinutes(), 0);
  }
  {
    ScopedEnv tz("TZ", "Asia/Shanghai");
    EXPECT_EQ(TimeZoneBiasMinutes(), -480);
  }
  {
    // New York in summer still gives the standard-time bias (300), not 240.
    ScopedEnv tz("TZ", "EST5EDT");
    EXPECT_EQ(TimeZoneBiasMinutes(), 300);
  }
}

TEST(TimeTest, UtcConversionAndFormatting) {
  EXPECT_EQ(UtcToUnix(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(UtcToUnix(2001, 1, 1, 0, 0, 0), 978307200);
  EXPECT_EQ(UtcToUnix(2024, 2, 29, 12, 0, 0), 1709208000);
  std::string out;
  ASSERT_TRUE(FormatUtcTime(978307200, out));
  EXPECT_EQ(out, "2001-01-01 00:00:00");
  ScopedEnv tz("TZ", "Asia/Shanghai");
  ASSERT_TRUE(FormatLocalTime(978307200, out));
  EXPECT_EQ(out, "2001-01-01 08:00:00");
}

TEST(VolumesTest, ListsMountedFileSystemsWithFreeSpace) {
  auto volumes = MountedVolumes();
  for (const auto& v : volumes) EXPECT_EQ(v.device.rfind("/dev/", 0), 0u) << v.device;
  EXPECT_GT(FreeSpace(fs::temp_directory_path()), 0u);
  EXPECT_EQ(FreeSpace("/no/such/folder/anywhere"), 0u);
}

TEST(ErrorTextTest, UsEnglishWhateverTheLocale) {
  EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(ErrorText(EACCES), "Permission denied");
}

TEST(FileCopyTest, CopiesReplacingAndReportsErrors) {
  fs::path dir = TempDir("copy");
  {
    std::ofstream(dir / "a", std::ios::binary) << std::string(300000, 'q');
    std::ofstream(dir / "b", std::ios::binary) << "old content that is longer than nothing";
  }
  EXPECT_EQ(CopyFileReplace(dir / "a", dir / "b"), 0);
  EXPECT_EQ(FileSize(dir / "b"), 300000);
  EXPECT_EQ(CopyFileReplace(dir / "missing", dir / "c"), ENOENT);
  int error = 0;
  EXPECT_EQ(FileSize(dir / "missing", &error), -1);
  EXPECT_EQ(error, ENOENT);
  fs::remove_all(dir);
}

TEST(ProcessTest, PipesBothWaysAndExitCode) {
  Process p;
  ASSERT_EQ(p.Start({"/bin/sh", "-c", "read line; echo \"got:$line\"; echo oops >&2; exit 3"}), 0);
  // The argument vector reaches the child unsplit: no shell parses our arguments.
  ASSERT_EQ(p.WriteInput("pass word with 'quotes'\n"), 0);
  p.CloseInput();
  ASSERT_TRUE(p.Wait(10000));
  std::string out;
  while (!p.OutputClosed()) {
    if (p.ReadAvailable(out) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(out, "got:pass word with 'quotes'\noops\n");
  EXPECT_EQ(p.ExitCode(), 3);
}

TEST(ProcessTest, ReadsWithoutBlockingAndKillsOnlyItsChild) {
  Process p;
  ASSERT_EQ(p.Start({"/bin/sleep", "30"}), 0);
  std::string out;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(p.Available(), 0u);
  EXPECT_EQ(p.ReadAvailable(out), 0u);
  EXPECT_FALSE(p.Wait(20));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(p.Running());
  const int pid = p.Pid();
  p.Kill();
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ExitCode(), 128 + 9);
  EXPECT_NE(::kill(pid, 0), 0);  // reaped: the pid is gone
}

TEST(ProcessTest, MissingProgramIsAnError) {
  Process p;
  EXPECT_NE(p.Start({"/no/such/program"}), 0);
  EXPECT_EQ(p.Pid(), -1);
}

TEST(ProcessTest, DestructorEndsARunningChild) {
  int pid;
  {
    Process p;
    ASSERT_EQ(p.Start({"/bin/sleep", "30"}), 0);
    pid = p.Pid();
  }
  EXPECT_NE(::kill(pid, 0), 0);
}

}  // namespace
}  // namespace bv::platform
