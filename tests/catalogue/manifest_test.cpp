#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/manifest.h"
#include "catalogue_fixture.h"
#include "common/hash.h"

namespace bv {
namespace {

using testing::TempFolder;
using testing::WriteFile;

// Builds Manifest.mbdb bytes record by record.
class MbdbWriter {
 public:
  MbdbWriter() { bytes_ = std::string("mbdb\x05\x00", 6); }
  MbdbWriter& Record(const std::string& domain, const std::string* path, std::uint16_t mode,
                     int properties = 0) {
    Str(&domain);
    Str(path);
    Str(nullptr);  // link target: absent
    std::string hash(20, '\xAB');
    Str(&hash);    // data hash
    Str(nullptr);  // encryption key
    U16(mode);
    bytes_.append(8, '\x01');      // inode
    bytes_.append(4 * 5, '\x02');  // uid, gid, mtime, atime, ctime
    bytes_.append(8, '\x00');      // size
    bytes_.push_back('\x04');      // flag
    bytes_.push_back(static_cast<char>(properties));
    for (int i = 0; i < properties; ++i) {
      std::string name = "n" + std::to_string(i), value = "v";
      Str(&name);
      Str(&value);
    }
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  void U16(std::uint16_t v) {
    bytes_.push_back(static_cast<char>(v >> 8));
    bytes_.push_back(static_cast<char>(v & 0xFF));
  }
  void Str(const std::string* s) {
    if (!s) {
      U16(0xFFFF);
      return;
    }
    U16(static_cast<std::uint16_t>(s->size()));
    bytes_ += *s;
  }
  std::string bytes_;
};

std::vector<ManifestEntry> Parse(const std::string& bytes, Result* result = nullptr) {
  std::vector<ManifestEntry> entries;
  Result r = ParseManifestMbdb(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                               entries);
  if (result) *result = r;
  return entries;
}

TEST(MbdbTest, FilesGiveEntriesDirectoriesAndEmptyPathsDoNot) {
  const std::string sms = "Library/SMS/sms.db", dir = "Library/SMS", empty;
  MbdbWriter w;
  w.Record("HomeDomain", &sms, 0x81A4, 2)
      .Record("HomeDomain", &dir, 0x41ED)
      .Record("HomeDomain", &empty, 0x81A4)
      .Record("HomeDomain", nullptr, 0x81A4);
  Result r;
  auto entries = Parse(w.bytes(), &r);
  EXPECT_EQ(r, 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].key, "HomeDomain-Library/SMS/sms.db");
  EXPECT_EQ(entries[0].fileId, "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

TEST(MbdbTest, WrongMagicShortAndTruncatedFiles) {
  Result r;
  EXPECT_TRUE(Parse("mbdx\x05\x00xxxxxxxx", &r).empty());
  EXPECT_EQ(r, 87);
  EXPECT_TRUE(Parse(std::string("mbdb\x05\x00", 6), &r).empty());
  EXPECT_EQ(r, 87);
  const std::string a = "a.jpg", b = "b.jpg";
  MbdbWriter w;
  w.Record("CameraRollDomain", &a, 0x81A4).Record("CameraRollDomain", &b, 0x81A4, 1);
  // Every cut inside the second record keeps exactly the first one.
  const std::size_t full = w.bytes().size();
  MbdbWriter one;
  one.Record("CameraRollDomain", &a, 0x81A4);
  for (std::size_t cut = one.bytes().size() + 1; cut < full; ++cut) {
    auto entries = Parse(w.bytes().substr(0, cut), &r);
    ASSERT_EQ(r, 0);
    ASSERT_EQ(entries.size(), 1u) << "cut at " << cut;
  }
  EXPECT_EQ(Parse(w.bytes()).size(), 2u);
}

TEST(MbdbTest, LengthsRunningPastTheEndStopCleanly) {
  std::string bytes("mbdb\x05\x00", 6);
  bytes += "\xFF\xFE";  // a 65534-byte string in a tiny file
  bytes += "abc";
  Result r;
  EXPECT_TRUE(Parse(bytes, &r).empty());
  EXPECT_EQ(r, 0);
}

TEST(MbdbTest, LoadFromFile) {
  TempFolder dir("mbdb");
  const std::string p = "Media/DCIM/100APPLE/IMG_0001.JPG";
  MbdbWriter w;
  w.Record("CameraRollDomain", &p, 0x81A4);
  WriteFile(dir.path() / "Manifest.mbdb", w.bytes());
  std::vector<ManifestEntry> entries;
  EXPECT_EQ(LoadManifestMbdb((dir.path() / "Manifest.mbdb").string(), entries), 0);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].fileId, Sha1Hex("CameraRollDomain-" + p));
  EXPECT_EQ(LoadManifestMbdb((dir.path() / "none.mbdb").string(), entries), 6009);
  EXPECT_EQ(LoadManifestMbdb("", entries), 87);
}

void MakeManifestDb(const std::filesystem::path& path,
                    const std::vector<std::tuple<std::string, std::string, const char*>>& rows) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(db,
                   "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, "
                   "flags INTEGER, file BLOB);"
                   "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Files VALUES (?, ?, ?, 1, NULL)", -1, &st, nullptr);
  for (const auto& [id, domain, rel] : rows) {
    sqlite3_bind_text(st, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, domain.c_str(), -1, SQLITE_TRANSIENT);
    if (rel)
      sqlite3_bind_text(st, 3, rel, -1, SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, 3);
    sqlite3_step(st);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST(ManifestDbTest, RowsBecomeEntriesNullPathGivesBareDomain) {
  TempFolder dir("mdb");
  MakeManifestDb(dir.path() / "Manifest.db",
                 {{"3d0d7e5fb2ce288813306e4d4636395e047a3d28", "HomeDomain", "Library/SMS/sms.db"},
                  {"aaaa", "HomeDomain", nullptr}});
  std::vector<ManifestEntry> entries{{"stale", "stale"}};
  ASSERT_EQ(LoadManifestDb((dir.path() / "Manifest.db").string(), entries), 0);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, "HomeDomain-Library/SMS/sms.db");
  EXPECT_EQ(entries[1].key, "HomeDomain");
  EXPECT_EQ(entries[1].fileId, "aaaa");
}

TEST(ManifestDbTest, UnreadableDatabaseIsAQueryFailure) {
  TempFolder dir("mdbbad");
  WriteFile(dir.path() / "Manifest.db", std::string(4096, '\x5a'));  // enciphered bytes
  std::vector<ManifestEntry> entries;
  EXPECT_EQ(LoadManifestDb((dir.path() / "Manifest.db").string(), entries), 1006);
  EXPECT_TRUE(entries.empty());
}

TEST(StoredFilePathTest, EachLayoutHasItsRule) {
  BackupCatalog c;
  c.backupFolder = "/b";
  c.hasManifestDb = true;
  EXPECT_EQ(StoredFilePath(c, kMessagesDbId), "/b/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  c.hasManifestDb = false;
  EXPECT_EQ(StoredFilePath(c, kMessagesDbId), "/b/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  c.hasManifestDb = true;
  c.current.encrypted = true;
  EXPECT_EQ(StoredFilePath(c, kMessagesDbId), "/b/3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

struct ProgressLog {
  std::vector<int> positions;
  static std::int32_t Record(void* user, std::int32_t pos) {
    static_cast<ProgressLog*>(user)->positions.push_back(pos);
    return 0;
  }
};

TEST(OpenBackupTest, PlainNewerBackupPrefersDecryptedCopy) {
  TempFolder dir("open");
  MakeManifestDb(dir.path() / "Manifest.db", {{"1111", "HomeDomain", "a"}});
  MakeManifestDb(dir.path() / "Manifest.db-decypted",
                 {{"2222", "HomeDomain", "b"}, {"3333", "X", "c"}});
  BackupCatalog c;
  c.backupFolder = dir.wide();
  c.manifest = {{"old", "old"}};
  ProgressLog log;
  c.progressCallback = ProgressLog::Record;
  c.progressUser = &log;
  EXPECT_EQ(OpenBackup(c, ""), 0);
  EXPECT_TRUE(c.hasManifestDb);
  ASSERT_EQ(c.manifest.size(), 2u);
  EXPECT_EQ(c.manifest[0].fileId, "2222");
  EXPECT_EQ(log.positions, (std::vector<int>{0, 1, 12}));
  EXPECT_EQ(c.progressStep, 11);
}

TEST(OpenBackupTest, NoManifestAtAllIs87AndOlderLayoutReadsMbdb) {
  TempFolder dir("open2");
  BackupCatalog c;
  c.backupFolder = dir.wide();
  EXPECT_EQ(OpenBackup(c, ""), 87);
  EXPECT_TRUE(c.manifest.empty());
  EXPECT_EQ(c.progress, 12);

  const std::string p = "Library/SMS/sms.db";
  MbdbWriter w;
  w.Record("HomeDomain", &p, 0x81A4);
  WriteFile(dir.path() / "Manifest.mbdb", w.bytes());
  EXPECT_EQ(OpenBackup(c, ""), 0);
  EXPECT_FALSE(c.hasManifestDb);
  ASSERT_EQ(c.manifest.size(), 1u);
}

}  // namespace
}  // namespace bv
