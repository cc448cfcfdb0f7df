// Folders entered without following links, files that appear under their names only
// when whole, names that are numbered instead of replaced, and the check that keeps an
// output folder out of the backup.
#include "export/output_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <set>

#include "export/output_paths.h"
#include "export_fixture.h"
#include "platform/utf8.h"

namespace bv {
namespace {

using test::Slurp;
using test::TempDir;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.insert(platform::Utf8FromPath(e.path().filename()));
  return names;
}

TEST(NumberedNameTest, StemAndExtensionAsTheFileSystemLibrarySplitsThem) {
  EXPECT_EQ(NumberedName("IMG_0001.JPG", 0), "IMG_0001.JPG");
  EXPECT_EQ(NumberedName("IMG_0001.JPG", 2), "IMG_0001(2).JPG");
  EXPECT_EQ(NumberedName("notes", 1), "notes(1)");
  EXPECT_EQ(NumberedName("a.tar.gz", 1), "a.tar(1).gz");
  EXPECT_EQ(NumberedName(".profile", 1), ".profile(1)");
  // Non-ASCII names in the "C" locale this test runs in: nothing goes through it.
  EXPECT_EQ(NumberedName("\xC3\x89mil(+1555).html", 3), "\xC3\x89mil(+1555)(3).html");
  EXPECT_EQ(NumberedName("Team Alpha \xF0\x9F\x9A\x80.txt", 1),
            "Team Alpha \xF0\x9F\x9A\x80(1).txt");
}

TEST(MakeUniquePathTest, NonAsciiNamesInTheCLocale) {
  TempDir dir;
  const fs::path taken = dir.path() / platform::PathFromUtf8("\xC3\x89mil.jpg");
  test::WriteFile(taken, "1");
  EXPECT_EQ(MakeUniquePath(taken), dir.path() / platform::PathFromUtf8("\xC3\x89mil(1).jpg"));
  const std::string wide = platform::Utf8FromPath(taken);
  EXPECT_EQ(MakeUniquePath(wide), "" + platform::Utf8FromPath(dir.path()) + "/\u00c9mil(1).jpg");
}

class OutputFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OutputFolder::OpenRoot(dir / "out", root), 0); }
  TempDir dir;
  OutputFolder root;
};

TEST_F(OutputFolderTest, SubFoldersAreMadeOrEnteredButNeverThroughALink) {
  OutputFolder a, again, inner;
  ASSERT_EQ(root.Enter("Camera Roll", a), 0);
  EXPECT_EQ(a.Path(), dir / "out" / "Camera Roll");
  ASSERT_EQ(root.Enter("Camera Roll", again), 0);  // an existing folder is entered
  ASSERT_EQ(a.Enter("\xE6\x9D\x8E", inner), 0);
  EXPECT_TRUE(
      fs::is_directory(dir / "out" / "Camera Roll" / platform::PathFromUtf8("\xE6\x9D\x8E")));

  // A link to a folder elsewhere, a dangling link, a file where a folder is wanted.
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "out" / "Message");
  fs::create_symlink(dir / "nowhere", dir / "out" / "Notes");
  test::WriteFile(dir / "out" / "Contacts", "a file");
  OutputFolder refused;
  EXPECT_EQ(root.Enter("Message", refused), ELOOP);
  EXPECT_EQ(root.Enter("Notes", refused), ELOOP);
  EXPECT_EQ(root.Enter("Contacts", refused), ENOTDIR);
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  for (const char* bad : {"", ".", "..", "a/b"}) EXPECT_EQ(root.Enter(bad, refused), EINVAL) << bad;
}

TEST_F(OutputFolderTest, AFileAppearsUnderItsNameOnlyWhenCommitted) {
  PendingFile file;
  ASSERT_EQ(file.Create(root, "doc.html"), 0);
  ASSERT_EQ(file.Write("<html>"), 0);
  ASSERT_EQ(file.Write("</html>"), 0);
  EXPECT_FALSE(fs::exists(dir / "out" / "doc.html"));
  EXPECT_EQ(file.TempPath().parent_path(), dir / "out");
  EXPECT_TRUE(fs::exists(file.TempPath()));
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(Slurp(dir / "out" / "doc.html"), "<html></html>");
  EXPECT_EQ(Names(dir / "out"), std::set<std::string>{"doc.html"});

  // Dropped before its commit, a file leaves nothing behind.
  {
    PendingFile dropped;
    ASSERT_EQ(dropped.Create(root, "half.html"), 0);
    ASSERT_EQ(dropped.Write("<ht"), 0);
  }
  EXPECT_EQ(Names(dir / "out"), std::set<std::string>{"doc.html"});
}

TEST_F(OutputFolderTest, TakenNamesAreNumberedNeverReplaced) {
  test::WriteFile(dir / "out" / "a.txt", "first");
  fs::create_symlink(dir / "target", dir / "out" / "a(1).txt");  // dangling: still a name
  PendingFile file;
  ASSERT_EQ(file.Create(root, "a.txt"), 0);
  EXPECT_EQ(file.Name(), "a(2).txt");
  // Taken meanwhile, by another job writing into the same folder.
  test::WriteFile(dir / "out" / "a(2).txt", "other job");
  ASSERT_EQ(file.Write("second"), 0);
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(file.Name(), "a(3).txt");
  EXPECT_EQ(file.FinalPath(), dir / "out" / "a(3).txt");
  EXPECT_EQ(Slurp(dir / "out" / "a.txt"), "first");
  EXPECT_EQ(Slurp(dir / "out" / "a(2).txt"), "other job");
  EXPECT_EQ(Slurp(dir / "out" / "a(3).txt"), "second");
  EXPECT_FALSE(fs::exists(dir / "target"));  // the link was never written through
}

TEST_F(OutputFolderTest, AReservedNameIsCommittedOnlyWhenARegularFileIsThere) {
  PendingFile copied;
  ASSERT_EQ(copied.Reserve(root, "IMG_0001.JPG"), 0);
  EXPECT_FALSE(fs::exists(copied.TempPath()));
  test::WriteFile(copied.TempPath(), "jpeg bytes");  // the writer makes it
  ASSERT_EQ(copied.Commit(), 0);
  EXPECT_EQ(Slurp(dir / "out" / "IMG_0001.JPG"), "jpeg bytes");

  PendingFile never;
  ASSERT_EQ(never.Reserve(root, "b.jpg"), 0);
  EXPECT_EQ(never.Commit(), ENOENT);
  EXPECT_FALSE(fs::exists(dir / "out" / "b.jpg"));

  // A link put under the temporary name is not taken for the copy.
  test::WriteFile(dir / "secret", "not ours");
  PendingFile planted;
  ASSERT_EQ(planted.Reserve(root, "c.jpg"), 0);
  fs::create_symlink(dir / "secret", planted.TempPath());
  EXPECT_EQ(planted.Commit(), ELOOP);
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out" / "c.jpg")));
  EXPECT_EQ(Slurp(dir / "secret"), "not ours");
  EXPECT_EQ(Names(dir / "out"), std::set<std::string>{"IMG_0001.JPG"});
}

// A real write failure from the kernel: a file-size limit makes write() fail with EFBIG
// (the way a full disk fails with ENOSPC). The first failure sticks and the file is
// removed instead of being committed cut short.
TEST_F(OutputFolderTest, AFailedWriteIsReportedAndLeavesNoFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path out = dir / "out";
  auto child = [&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    OutputFolder folder;
    if (OutputFolder::OpenRoot(out, folder) != 0) ::_exit(10);
    PendingFile file;
    if (file.Create(folder, "big.html") != 0) ::_exit(11);
    const std::string block(3000, 'x');
    if (file.Write(block) != 0) ::_exit(12);
    const Result second = file.Write(block);
    const Result third = file.Write("y");
    const Result committed = file.Commit();
    const bool nothingLeft = fs::is_empty(out);
    ::_exit(second == EFBIG && third == EFBIG && committed == EFBIG && nothingLeft ? 0 : 20);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(fs::is_empty(out));
}

class OutputFolderProblemTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(backup / "3d"); }
  TempDir dir;
  fs::path backup = dir / "Backup" / "00008030-001A";
};

TEST_F(OutputFolderProblemTest, TheBackupAndEveryFolderInsideItAreRefused) {
  EXPECT_NE(OutputFolderProblem(backup, backup).find("is the backup folder itself"),
            std::string::npos);
  EXPECT_NE(OutputFolderProblem(backup, backup / "").find("itself"), std::string::npos);
  EXPECT_NE(OutputFolderProblem(backup, backup / "3d").find("lies inside the backup folder"),
            std::string::npos);
  // Not there yet: it would be made inside.
  EXPECT_FALSE(OutputFolderProblem(backup, backup / "new" / "deeper").empty());
  // Reached with "..", through a link, and relative to the working folder.
  EXPECT_FALSE(OutputFolderProblem(backup, dir / "Backup" / "x" / ".." / "00008030-001A").empty());
  fs::create_directory_symlink(backup, dir / "link");
  EXPECT_FALSE(OutputFolderProblem(backup, dir / "link").empty());
  EXPECT_FALSE(OutputFolderProblem(backup, dir / "link" / "out").empty());
  EXPECT_FALSE(OutputFolderProblem(dir / "link", backup / "out").empty());
  const fs::path cwd = fs::current_path();
  fs::current_path(backup);
  EXPECT_FALSE(OutputFolderProblem(backup, "out").empty());
  EXPECT_FALSE(OutputFolderProblem(backup, ".").empty());
  fs::current_path(cwd);
  EXPECT_TRUE(fs::is_empty(backup / "3d"));
  EXPECT_FALSE(fs::exists(backup / "new"));
}

TEST_F(OutputFolderProblemTest, AnOutputTreeThatWouldReachIntoTheBackupIsRefused) {
  // The backup sits where the recovery writes its messages.
  const fs::path out = dir / "Recovered";
  const fs::path inTree = out / "Message" / "phone";
  fs::create_directories(inTree);
  const std::string problem = OutputFolderProblem(inTree, out);
  EXPECT_NE(problem.find("where recovered files are written"), std::string::npos) << problem;
  // Below a folder the recovery does not write into, it is left alone.
  fs::create_directories(out / "Backups" / "phone");
  EXPECT_EQ(OutputFolderProblem(out / "Backups" / "phone", out), "");
}

TEST_F(OutputFolderProblemTest, FoldersBesideTheBackupAreFine) {
  EXPECT_EQ(OutputFolderProblem(backup, dir / "Backup" / "00008030-001A-out"), "");
  EXPECT_EQ(OutputFolderProblem(backup, dir / "Backup"), "");
  EXPECT_EQ(OutputFolderProblem(backup, dir / "elsewhere" / "new"), "");
  EXPECT_EQ(OutputFolderProblem(dir / "no-backup-here", dir / "no-backup-here" / "x"), "");
}

}  // namespace
}  // namespace bv
