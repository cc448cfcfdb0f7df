// ReadOnlyFile, UniqueFd and the private run folders: what stands between a hostile
// backup (FIFOs, device nodes, folders in place of files) and a hang, and what keeps
// decrypted data from outliving its run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "platform/files.h"
#include "platform/private_folder.h"
#include "support.h"

namespace bv::platform {
namespace {

namespace fs = std::filesystem;

using TempFolder = bv::test::TempDir;

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Runs Open on another thread; a hang fails the test instead of stalling the suite (the
// FIFO is then opened for writing, which releases the blocked reader).
int OpenWithin(const fs::path& path, std::chrono::seconds limit) {
  auto pending = std::async(std::launch::async, [path] {
    ReadOnlyFile file;
    return file.Open(path);
  });
  if (pending.wait_for(limit) == std::future_status::ready) return pending.get();
  ADD_FAILURE() << "opening " << path << " hung";
  const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) ::close(writer);
  pending.wait();
  return 12345;
}

TEST(ReadOnlyFileTest, ReadsRegularFilesAtAnyOffset) {
  TempFolder dir;
  const fs::path file = dir.path() / "data";
  Write(file, "0123456789");
  ReadOnlyFile f;
  ASSERT_EQ(f.Open(file), 0);
  EXPECT_EQ(f.Size(), 10);
  EXPECT_NE(::fcntl(f.Fd(), F_GETFD) & FD_CLOEXEC, 0);
  char buf[8] = {};
  EXPECT_EQ(f.ReadAt(3, buf, 4), 4);
  EXPECT_EQ(std::string(buf, 4), "3456");
  // Short at the end, nothing beyond it.
  EXPECT_EQ(f.ReadAt(8, buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "89");
  EXPECT_EQ(f.ReadAt(100, buf, 8), 0);

  std::string whole;
  EXPECT_EQ(ReadWholeFile(file, whole), 0);
  EXPECT_EQ(whole, "0123456789");
  EXPECT_EQ(ReadWholeFile(file, whole, 9), EFBIG);
  EXPECT_TRUE(whole.empty());

  f.Close();
  int error = 0;
  EXPECT_EQ(f.ReadAt(0, buf, 1, &error), -1);
  EXPECT_EQ(error, EBADF);
}

TEST(ReadOnlyFileTest, FifosDevicesAndFoldersCountAsMissingWithoutHanging) {
  TempFolder dir;
  const fs::path fifo = dir.path() / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(OpenWithin(fifo, std::chrono::seconds(5)), kNotRegularFile);
  // A link to a device node is followed and refused the same way (no root needed).
  fs::create_symlink("/dev/zero", dir.path() / "zero");
  EXPECT_EQ(OpenWithin(dir.path() / "zero", std::chrono::seconds(5)), kNotRegularFile);
  EXPECT_EQ(OpenWithin("/dev/null", std::chrono::seconds(5)), kNotRegularFile);
  EXPECT_EQ(OpenWithin(dir.path(), std::chrono::seconds(5)), kNotRegularFile);
  EXPECT_EQ(CheckRegularFile(dir.path() / "missing"), ENOENT);
  EXPECT_EQ(CheckRegularFile(dir.path() / "missing" / "below"), ENOENT);
  Write(dir.path() / "plain", "x");
  EXPECT_EQ(CheckRegularFile(dir.path() / "plain" / "below"), ENOTDIR);

  for (int code : {kNotRegularFile, ENOENT, ENOTDIR}) EXPECT_TRUE(IsMissingFile(code)) << code;
  EXPECT_FALSE(IsMissingFile(EACCES));
  EXPECT_EQ(OpenErrorText(kNotRegularFile), "not a regular file");
  EXPECT_EQ(OpenErrorText(ENOENT), "No such file or directory");

  std::string whole = "left over";
  EXPECT_EQ(ReadWholeFile(fifo, whole), kNotRegularFile);
  EXPECT_TRUE(whole.empty());
}

TEST(ReadOnlyFileTest, UnreadableFilesGiveThePlatformError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempFolder dir;
  const fs::path file = dir.path() / "secret";
  Write(file, "x");
  fs::permissions(file, fs::perms::none);
  ReadOnlyFile f;
  EXPECT_EQ(f.Open(file), EACCES);
  EXPECT_FALSE(f.IsOpen());
}

TEST(UniqueFdTest, ClosesExactlyOnceAndMovesOwnership) {
  const int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    UniqueFd a(raw);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.Valid());
    EXPECT_EQ(b.Get(), raw);
    UniqueFd c;
    c = std::move(b);
    EXPECT_EQ(c.Get(), raw);
    EXPECT_EQ(::fcntl(raw, F_GETFD) >= 0, true);
  }
  EXPECT_EQ(::fcntl(raw, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);

  UniqueFd d(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int kept = d.Release();
  EXPECT_FALSE(d.Valid());
  EXPECT_GE(::fcntl(kept, F_GETFD), 0);  // released, not closed
  UniqueFd e(kept);
  EXPECT_EQ(e.Close(), 0);
  EXPECT_EQ(e.Close(), 0);  // nothing left to close
}

TEST(PrivateFolderTest, NamesCarryTheProcessAndReadBack) {
  int pid = 0;
  std::uint64_t start = 0;
  const std::string name = PrivateFolderName("run", 4321, 987654, 3);
  EXPECT_EQ(name, "run-4321-987654-3");
  ASSERT_TRUE(ParsePrivateFolderName(name, "run", pid, start));
  EXPECT_EQ(pid, 4321);
  EXPECT_EQ(start, 987654u);
  for (const char* bad : {"run-4321-987654", "run-x-1-2", "runs-1-2-3", "run-0-1-2", "run--1-2",
                          "run-1-2-3-4", "run-1-2-", "bv-db-1-2-3", "run-99999999999-1-2"}) {
    EXPECT_FALSE(ParsePrivateFolderName(bad, "run", pid, start)) << bad;
  }
}

TEST(PrivateFolderTest, IsOursAloneAndGoesWithEverythingInIt) {
  TempFolder dir;
  const fs::path parent = dir.path() / "made" / "here";
  fs::path made;
  {
    int error = -1;
    auto first = PrivateFolder::Create(parent, "run", &error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, 0);
    auto second = PrivateFolder::Create(parent, "run");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first->Path(), second->Path());
    made = first->Path();
    EXPECT_EQ(made.parent_path(), parent);
    struct stat st {};
    ASSERT_EQ(::stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(parent.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "levels we make are private too";
    int pid = 0;
    std::uint64_t start = 0;
    ASSERT_TRUE(ParsePrivateFolderName(made.filename().string(), "run", pid, start));
    EXPECT_EQ(pid, ::getpid());
    EXPECT_EQ(ProcessStartTime(pid), start);

    fs::create_directories(made / "sub");
    Write(made / "sub" / "plain", "secret");
    fs::permissions(made / "sub" / "plain", fs::perms::owner_read);
    // A link inside must not take anything outside with it.
    Write(dir.path() / "outside", "keep");
    fs::create_symlink(dir.path() / "outside", made / "link");
  }
  EXPECT_FALSE(fs::exists(made));
  EXPECT_TRUE(fs::exists(dir.path() / "outside"));

  Write(dir.path() / "file", "x");
  int error = 0;
  EXPECT_EQ(PrivateFolder::Create(dir.path() / "file", "run", &error), nullptr);
  EXPECT_NE(error, 0);
}

TEST(PrivateFolderTest, StaleFoldersOfEndedRunsGoAtTheNextStart) {
  TempFolder dir;
  const fs::path parent = dir.path();
  const int self = ::getpid();
  const std::uint64_t selfStart = ProcessStartTime(self).value_or(0);

  // A process that has ended: its id no longer names a running process.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_FALSE(ProcessStartTime(child).has_value());

  auto folder = [&](const std::string& name) {
    fs::create_directories(parent / name / "inner");
    Write(parent / name / "inner" / "plain", "secret");
    return parent / name;
  };
  const fs::path ours = folder(PrivateFolderName("run", self, selfStart, 7));
  const fs::path ended = folder(PrivateFolderName("run", child, 5, 0));
  // Our id with another start time: an earlier process that had the same id.
  const fs::path reused = folder(PrivateFolderName("run", self, selfStart + 1, 0));
  const fs::path otherPrefix = folder(PrivateFolderName("bv-db", child, 5, 0));
  const fs::path unrelated = folder("run-notes");
  Write(parent / PrivateFolderName("run", child, 5, 1), "a file, not ours to judge");
  fs::create_directories(dir.path() / "target");
  fs::create_directory_symlink(dir.path() / "target",
                               parent / PrivateFolderName("run", child, 5, 2));

  EXPECT_EQ(RemoveStalePrivateFolders(parent, "run"), 2u);
  EXPECT_TRUE(fs::exists(ours / "inner" / "plain"));
  EXPECT_FALSE(fs::exists(ended));
  EXPECT_FALSE(fs::exists(reused));
  EXPECT_TRUE(fs::exists(otherPrefix));
  EXPECT_TRUE(fs::exists(unrelated));
  EXPECT_TRUE(fs::exists(parent / PrivateFolderName("run", child, 5, 1)));
  EXPECT_TRUE(fs::is_symlink(parent / PrivateFolderName("run", child, 5, 2)));
  EXPECT_TRUE(fs::exists(dir.path() / "target"));

  EXPECT_EQ(RemoveStalePrivateFolders(parent, "bv-db"), 1u);
  EXPECT_EQ(RemoveStalePrivateFolders(dir.path() / "missing", "run"), 0u);
}

}  // namespace
}  // namespace bv::platform
