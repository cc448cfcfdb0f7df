#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "catalogue/file_copy.h"
#include "catalogue/manifest.h"
#include "catalogue_fixture.h"

namespace bv {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

struct CopyLog {
  struct Call {
    int percent, status;
  };
  std::vector<Call> calls;
  int stopAfter = -1;
  static std::int32_t Cb(void* u, std::int32_t percent, std::int32_t status, const std::string&) {
    auto* log = static_cast<CopyLog*>(u);
    log->calls.push_back({percent, status});
    return static_cast<int>(log->calls.size()) == log->stopAfter ? 2 : 0;
  }
};

TEST(CopyBackupFileTest, CopiesInChunksCreatingFolders) {
  TempFolder dir("copy");
  std::string data(65536 * 2 + 100, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  WriteFile(dir.path() / "src", data);
  CopyLog log;
  const auto dest = dir.path() / "out/a/b/file.jpg";
  EXPECT_EQ(CopyBackupFile((dir.path() / "src").string(), dest.string(), CopyLog::Cb, &log), 0);
  EXPECT_EQ(ReadFile(dest), data);
  ASSERT_EQ(log.calls.size(), 3u);
  EXPECT_EQ(log.calls[0].percent, 49);
  EXPECT_EQ(log.calls[2].percent, 100);
}

TEST(CopyBackupFileTest, ZeroLengthMakesEmptyFileWithoutReports) {
  TempFolder dir("copy0");
  WriteFile(dir.path() / "src", "");
  CopyLog log;
  EXPECT_EQ(CopyBackupFile((dir.path() / "src").string(), (dir.path() / "dst").string(),
                           CopyLog::Cb, &log),
            0);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "dst"));
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "dst"), 0u);
  EXPECT_TRUE(log.calls.empty());
}

TEST(CopyBackupFileTest, StopAfterFirstChunkAndMissingSource) {
  TempFolder dir("copystop");
  WriteFile(dir.path() / "src", std::string(200000, 'z'));
  CopyLog log;
  log.stopAfter = 1;
  EXPECT_EQ(CopyBackupFile((dir.path() / "src").string(), (dir.path() / "dst").string(),
                           CopyLog::Cb, &log),
            2);
  ASSERT_EQ(log.calls.size(), 2u);
  EXPECT_EQ(log.calls[1].percent, 100);
  EXPECT_EQ(log.calls[1].status, 2);
  // A copy cut short does not stay under the destination's name.
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "dst"));

  // The system's reason, not a code of our own that reads "The parameter is incorrect.".
  CopyLog missing;
  EXPECT_EQ(CopyBackupFile((dir.path() / "nope").string(), (dir.path() / "d2").string(),
                           CopyLog::Cb, &missing),
            ENOENT);
  ASSERT_EQ(missing.calls.size(), 1u);
  EXPECT_EQ(missing.calls[0].status, ENOENT);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "d2"));
}

// The destination is always a new file: an existing one is neither replaced nor
// written through when it is a link.
TEST(CopyBackupFileTest, AnExistingDestinationIsLeftAlone) {
  TempFolder dir("copyexisting");
  WriteFile(dir.path() / "src", "new bytes");
  WriteFile(dir.path() / "taken", "old bytes");
  WriteFile(dir.path() / "victim", "victim");
  std::filesystem::create_symlink(dir.path() / "victim", dir.path() / "link");
  for (const char* name : {"taken", "link"}) {
    CopyLog log;
    EXPECT_EQ(CopyBackupFile((dir.path() / "src").string(), (dir.path() / name).string(),
                             CopyLog::Cb, &log),
              EEXIST)
        << name;
  }
  EXPECT_EQ(ReadFile(dir.path() / "taken"), "old bytes");
  EXPECT_EQ(ReadFile(dir.path() / "victim"), "victim");
}

TEST(CopyBackupFileTest, FilesOverFourGiBAreCopiedWhole) {
  TempFolder dir("copybig");
  const auto src = dir.path() / "sparse";
  const std::int64_t size = (std::int64_t{1} << 32) + 1;
  {
    int fd = ::open(src.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "A", 1, 0), 1);
    ASSERT_EQ(::pwrite(fd, "Z", 1, size - 1), 1);
    ::close(fd);
  }
  if (std::filesystem::space(dir.path()).available < static_cast<std::uintmax_t>(size) + (1u << 30))
    GTEST_SKIP() << "not enough free space for a 4 GiB copy";
  struct Last {
    int percent = -1, calls = 0;
    static std::int32_t Cb(void* u, std::int32_t p, std::int32_t, const std::string&) {
      auto* l = static_cast<Last*>(u);
      if (p < l->percent) return 99;  // percentages never go backwards (no overflow)
      l->percent = p;
      ++l->calls;
      return 0;
    }
  } last;
  const auto dst = dir.path() / "copy";
  EXPECT_EQ(CopyBackupFile(src.string(), dst.string(), Last::Cb, &last), 0);
  EXPECT_EQ(std::filesystem::file_size(dst), static_cast<std::uintmax_t>(size));
  EXPECT_EQ(last.percent, 100);
  EXPECT_EQ(last.calls, 65537);
  int fd = ::open(dst.c_str(), O_RDONLY);
  char c = 0;
  ASSERT_EQ(::pread(fd, &c, 1, size - 1), 1);
  EXPECT_EQ(c, 'Z');
  ::close(fd);
}

TEST(CopyDatabaseTest, CopiesFixedDatabasesReplacing) {
  TempFolder dir("copydb");
  BackupCatalog c;
  c.backupFolder = dir.wide();
  c.hasManifestDb = true;
  WriteFile(dir.path() / "3d" / kMessagesDbId, "messages");
  WriteFile(dir.path() / "31" / kAddressBookDbId, "contacts");
  WriteFile(dir.path() / "out.db", "previous content, longer");
  EXPECT_EQ(CopyMessageDatabase(c, (dir.path() / "out.db").string()), 0);
  EXPECT_EQ(ReadFile(dir.path() / "out.db"), "messages");
  EXPECT_EQ(CopyContactsDatabase(c, (dir.path() / "ab.db").string()), 0);
  EXPECT_EQ(ReadFile(dir.path() / "ab.db"), "contacts");
  // A copy that cannot be made says why (it used to answer 0 whatever happened).
  EXPECT_EQ(CopyMessageDatabase(c, (dir.path() / "no-folder" / "out.db").string()), ENOENT);
  std::filesystem::remove(dir.path() / "31" / kAddressBookDbId);
  EXPECT_EQ(CopyContactsDatabase(c, (dir.path() / "ab2.db").string()), ENOENT);
}

}  // namespace
}  // namespace bv
