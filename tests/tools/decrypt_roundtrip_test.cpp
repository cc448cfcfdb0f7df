// Backups encrypted by mkbackup's encryptor and decrypted by the tool, for both
// layouts: every file comes back byte for byte, whatever its size and padding.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "backup_decryptor.h"
#include "platform/process.h"
#include "platform/platform.h"
#include "support.h"
#include "tests/tools/decrypt_fixture.h"
#include "tools/mkbackup/encrypt_backup.h"

namespace bv::decrypt {
namespace {

namespace fs = std::filesystem;
namespace td = testing_decrypt;

struct Layout {
  bool newer;
  const char* name;
};

class DecryptRoundTrip : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    plain_ = dir_.path() / "plain";
    encrypted_ = dir_.path() / "encrypted";
    files_ = td::SampleFiles();
    if (GetParam().newer) {
      td::WriteNewerPlain(plain_, files_);
    } else {
      td::WriteOlderPlain(plain_, files_);
    }
    mkbackup::EncryptOptions o;
    o.password = password_;
    o.dpic = 10;
    o.iter = 10;
    std::string error;
    ASSERT_EQ(mkbackup::EncryptBackup(plain_, encrypted_, o, &error), 0) << error;
  }

  fs::path StoredPath(const std::string& id) const {
    return GetParam().newer ? encrypted_ / id.substr(0, 2) / id : encrypted_ / id;
  }

  td::TempDir dir_;
  fs::path plain_;
  fs::path encrypted_;
  std::vector<td::PlainFile> files_;
  std::string password_ = "pass word \"quoted\" 'single' ünï";
};

TEST_P(DecryptRoundTrip, EveryFileComesBackExactly) {
  // The encryptor really enciphered the files.
  for (const auto& f : files_) {
    if (f.content.size() < 16) continue;
    EXPECT_NE(td::ReadAll(StoredPath(td::IdOf(f))).substr(0, 16), f.content.substr(0, 16));
  }
  const auto before = test::SnapshotTree(encrypted_);
  std::vector<std::string> lines;
  RunStats stats;
  int code = 0;
  {
    // Read-only media (and, as root, immutable files): the tool writes only its output.
    test::ReadOnlyTree readOnly(encrypted_);
    code = DecryptBackupFolder(
        encrypted_, dir_.path() / "out", password_,
        [&](const std::string& l) { lines.push_back(l); }, &stats);
  }
  ASSERT_EQ(code, kExitOk);
  EXPECT_EQ(test::TreeChanges(before, test::SnapshotTree(encrypted_)), "")
      << "the backup was changed";
  for (const auto& f : files_) {
    EXPECT_EQ(td::ReadAll(dir_.path() / "out" / td::IdOf(f)), f.content) << f.path;
  }
  EXPECT_EQ(stats.decrypted, files_.size());
  EXPECT_EQ(stats.skipped, 0u);
  EXPECT_EQ(lines.front(), "Count: 0");
  EXPECT_EQ(lines.back(), "Count: " + std::to_string(files_.size()));
  // Only stored files (and the decrypted manifest) land in the output, flat, and only
  // our user may read them.
  std::size_t outputs = 0;
  for (const auto& e : fs::directory_iterator(dir_.path() / "out")) {
    EXPECT_TRUE(e.is_regular_file());
    EXPECT_EQ(e.status().permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write)
        << e.path();
    ++outputs;
  }
  EXPECT_EQ(outputs, files_.size() + (GetParam().newer ? 1 : 0));
  EXPECT_FALSE(fs::exists(encrypted_ / "Manifest.db-decypted"));

  if (GetParam().newer) {
    // The decrypted manifest lies in the output folder and SQLite reads it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((dir_.path() / "out" / "Manifest.db-decypted").c_str(), &db,
                              SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db, "SELECT count(*) FROM Files WHERE flags = 1", -1, &st, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), static_cast<int>(files_.size()));
    sqlite3_finalize(st);
    sqlite3_close(db);
    EXPECT_NE(td::ReadAll(encrypted_ / "Manifest.db").substr(0, 6), "SQLite");
  }
}

TEST_P(DecryptRoundTrip, WrongPasswordWritesNothing) {
  std::vector<std::string> lines;
  EXPECT_EQ(DecryptBackupFolder(encrypted_, dir_.path() / "out", "pass word",
                                [&](const std::string& l) { lines.push_back(l); }),
            kExitWrongPassword);
  EXPECT_EQ(lines, std::vector<std::string>{"Wrong password"});
  EXPECT_FALSE(fs::exists(encrypted_ / "Manifest.db-decypted"));
  EXPECT_TRUE(fs::is_empty(dir_.path() / "out"));
  // The empty password is a password like any other.
  EXPECT_EQ(DecryptBackupFolder(encrypted_, dir_.path() / "out", "", nullptr), kExitWrongPassword);
}

TEST_P(DecryptRoundTrip, DamagedFilesAreReportedAndTheRestDecrypted) {
  // Cut one stored file inside a block and swap another for garbage of a block's size.
  const std::string cutId = td::IdOf(files_[2]);
  const std::string garbageId = td::IdOf(files_[3]);
  fs::resize_file(StoredPath(cutId), fs::file_size(StoredPath(cutId)) - 5);
  td::WriteAll(StoredPath(garbageId), td::RandomBytes(32, 77));
  std::vector<std::string> lines;
  RunStats stats;
  const int code = DecryptBackupFolder(
      encrypted_, dir_.path() / "out", password_, [&](const std::string& l) { lines.push_back(l); },
      &stats);
  EXPECT_EQ(code, kExitOk);
  EXPECT_EQ(stats.warnings, 2u);
  auto has = [&](const std::string& text) {
    for (const auto& l : lines) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("Warning: " + cutId));
  EXPECT_TRUE(has("Warning: " + garbageId));
  // The cut file keeps every whole block it had.
  const std::string cut = td::ReadAll(dir_.path() / "out" / cutId);
  EXPECT_EQ(cut, files_[2].content.substr(0, cut.size()));
  EXPECT_GT(cut.size(), files_[2].content.size() - 32);
  for (std::size_t i : {0u, 1u, 4u, 5u}) {
    EXPECT_EQ(td::ReadAll(dir_.path() / "out" / td::IdOf(files_[i])), files_[i].content);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, DecryptRoundTrip,
                         ::testing::Values(Layout{true, "Newer"}, Layout{false, "Older"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Older layout: a file key that no longer unwraps is skipped and reported, the others
// are decrypted, and the exit code says some were skipped.
TEST(DecryptRun, UnwrappableFileKeyIsSkipped) {
  td::TempDir dir;
  const auto files = td::SampleFiles();
  td::WriteOlderPlain(dir.path() / "plain", files);
  mkbackup::EncryptOptions o;
  o.password = "pw";
  o.iter = 5;
  ASSERT_EQ(mkbackup::EncryptBackup(dir.path() / "plain", dir.path() / "enc", o), 0);
  // The manifest of the older layout is plain: flip a bit inside the first file key.
  std::string mbdb = td::ReadAll(dir.path() / "enc" / "Manifest.mbdb");
  const std::size_t at = mbdb.find(files[0].path);
  ASSERT_NE(at, std::string::npos);
  // path, link (ff ff), digest (ff ff), key length (2), class prefix (4), wrapped key
  mbdb[at + files[0].path.size() + 2 + 2 + 2 + 4 + 10] ^= 0x01;
  td::WriteAll(dir.path() / "enc" / "Manifest.mbdb", mbdb);

  std::vector<std::string> lines;
  RunStats stats;
  EXPECT_EQ(DecryptBackupFolder(
                dir.path() / "enc", dir.path() / "out", "pw",
                [&](const std::string& l) { lines.push_back(l); }, &stats),
            kExitSomeSkipped);
  EXPECT_EQ(stats.skipped, 1u);
  EXPECT_EQ(stats.decrypted, files.size() - 1);
  EXPECT_FALSE(fs::exists(dir.path() / "out" / td::IdOf(files[0])));
  bool reported = false;
  for (const auto& l : lines) {
    reported = reported || l == "Skipped: " + td::IdOf(files[0]) + " (file key does not unwrap)";
  }
  EXPECT_TRUE(reported);
  EXPECT_EQ(td::ReadAll(dir.path() / "out" / td::IdOf(files[4])), files[4].content);
}

// A manifest row whose identifier is no identifier never names a path: it is reported
// and nothing is written outside the output folder. (A plain backup: files are copied.)
TEST(DecryptRun, HostileIdentifierIsRefused) {
  td::TempDir dir;
  const auto files = td::SampleFiles();
  td::WriteNewerPlain(dir.path() / "backup", files);
  td::WriteAll(dir.path() / "escape", "stored beside the backup");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path() / "backup" / "Manifest.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "INSERT INTO Files VALUES ('../escape', 'D', 'p', 1, NULL);"
                         "INSERT INTO Files VALUES ('../../out-escape', 'D', 'q', 1, NULL);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::vector<std::string> lines;
  RunStats stats;
  EXPECT_EQ(DecryptBackupFolder(
                dir.path() / "backup", dir.path() / "nested" / "out", "",
                [&](const std::string& l) { lines.push_back(l); }, &stats),
            kExitSomeSkipped);
  EXPECT_EQ(stats.skipped, 2u);
  EXPECT_EQ(stats.copied, files.size());
  EXPECT_FALSE(fs::exists(dir.path() / "nested" / "escape"));
  EXPECT_FALSE(fs::exists(dir.path() / "out-escape"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Skipped: ? (bad file identifier)"), 2);
  EXPECT_EQ(td::ReadAll(dir.path() / "nested" / "out" / td::IdOf(files[0])), files[0].content);
}

// The tool itself, as a process: the password arrives on standard input, spaces and
// quotes and all, and never as an argument.
TEST(DecryptToolProcess, ReadsThePasswordFromStandardInput) {
  const char* bin = std::getenv("BV_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  td::TempDir dir;
  const auto files = td::SampleFiles();
  td::WriteNewerPlain(dir.path() / "plain", files);
  mkbackup::EncryptOptions o;
  o.password = "  two  spaces \"and\" quotes ";
  o.dpic = 20;
  o.iter = 20;
  ASSERT_EQ(mkbackup::EncryptBackup(dir.path() / "plain", dir.path() / "enc", o), 0);

  auto run = [&](const std::string& input, std::string& output) {
    platform::Process p;
    EXPECT_EQ(p.Start({(fs::path(bin) / "tool").string(), (dir.path() / "enc").string(),
                       (dir.path() / "out").string()}),
              0);
    p.WriteInput(input);
    p.CloseInput();
    while (!p.OutputClosed()) {
      p.Wait(5);
      p.ReadAvailable(output);
    }
    p.Wait(-1);
    return p.ExitCode();
  };
  std::string output;
  EXPECT_EQ(run(o.password + "\r\n", output), kExitOk) << output;
  EXPECT_NE(output.find("Count: " + std::to_string(files.size())), std::string::npos);
  EXPECT_EQ(td::ReadAll(dir.path() / "out" / td::IdOf(files[2])), files[2].content);
  output.clear();
  EXPECT_EQ(run("two spaces\n", output), kExitWrongPassword);
  EXPECT_EQ(output, "Wrong password\n");
}

}  // namespace
}  // namespace bv::decrypt
