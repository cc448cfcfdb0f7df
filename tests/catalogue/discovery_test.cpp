#include <gtest/gtest.h>

#include "catalogue/backup_catalog.h"
#include "catalogue/discovery.h"
#include "catalogue_fixture.h"
#include "platform/platform.h"

namespace bv {
namespace {

using testing::ScopedEnv;
using testing::TempFolder;
using testing::WriteFile;

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
         "</dict>\n</plist>\n";
}

std::string Key(const std::string& key, const std::string& value, const char* tag = "string") {
  return "\t<key>" + key + "</key>\n\t<" + tag + ">" + value + "</" + tag + ">\n";
}

const std::string kSqliteHeader = std::string("SQLite format 3") + '\0' + std::string(496, 'x');

TEST(InfoPlistTest, ReadsTheDeviceFacts) {
  ScopedEnv tz("TZ", "UTC");
  TempFolder dir("plist");
  WriteFile(dir.path() / "Info.plist",
            Plist(Key("Build Version", "16A366") + Key("Device Name", "iPhone") +
                  Key("Display Name", "Tom &amp; Ann\xE2\x80\x99s iPhone") +
                  Key("Last Backup Date", "2019-05-12T10:20:30Z", "date") +
                  Key("Phone Number", "+1 (555) 010-9999") + Key("Product Version", "12.4.1") +
                  Key("Serial Number", "F17XK0ABC123") + Key("Unique Identifier", "00008020")));
  BackupRecord r;
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  // Character references are decoded (plist_values_test.cpp has the cases).
  EXPECT_EQ(r.displayName, "Tom & Ann\u2019s iPhone");
  EXPECT_EQ(r.lastBackupDate, "2019-05-12 10:20:30");
  EXPECT_EQ(r.phoneNumber, "+1 (555) 010-9999");
  EXPECT_EQ(r.serialNumber, "F17XK0ABC123");
  EXPECT_TRUE(r.newerSystem);
  EXPECT_FALSE(r.encrypted);
  EXPECT_EQ(r.folder, dir.wide());
}

TEST(InfoPlistTest, VersionsKeyOrderAndMissingValues) {
  ScopedEnv tz("TZ", "UTC");
  TempFolder dir("plist2");
  // Serial number first: reading stops there, so the display name is never seen.
  WriteFile(dir.path() / "Info.plist",
            Plist(Key("Serial Number", "SN1") + Key("Display Name", "Late") +
                  Key("Product Version", "12.0")));
  BackupRecord r;
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_EQ(r.serialNumber, "SN1");
  EXPECT_TRUE(r.displayName.empty());
  EXPECT_FALSE(r.newerSystem);

  WriteFile(dir.path() / "Info.plist",
            Plist(Key("Product Version", "11.4") + Key("Display Name", "X")));
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_FALSE(r.newerSystem);
  EXPECT_EQ(r.displayName, "X");
  WriteFile(dir.path() / "Info.plist", Plist(Key("Product Version", "12.0")));
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_TRUE(r.newerSystem);

  // A key on the last line, and a value line without its opening tag.
  WriteFile(dir.path() / "Info.plist",
            "<key>Phone Number</key>\n<integer>5</integer>\n<key>Display Name</key>");
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_TRUE(r.phoneNumber.empty());
  EXPECT_TRUE(r.displayName.empty());
}

TEST(InfoPlistTest, MissingPlistLeavesRecordUnchanged) {
  TempFolder dir("noplist");
  BackupRecord r;
  r.serialNumber = "keep";
  EXPECT_EQ(ReadBackupFolder(dir.wide(), r), 87);
  EXPECT_EQ(r.serialNumber, "keep");
}

TEST(InfoPlistTest, LongLinesAreReadInPieces) {
  ScopedEnv tz("TZ", "UTC");
  TempFolder dir("long");
  // A 5000-byte line before the keys must not hide or break them.
  WriteFile(dir.path() / "Info.plist",
            Plist("\t<key>Junk</key>\n\t<string>" + std::string(5000, 'j') + "</string>\n" +
                  Key("Display Name", "After")));
  BackupRecord r;
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_EQ(r.displayName, "After");
}

TEST(DateConversionTest, StandardTimeBiasApplied) {
  EXPECT_EQ(ConvertBackupDate("2019-05-12 23:30:00", -480), "2019-05-13 07:30:00");
  EXPECT_EQ(ConvertBackupDate("2019-05-12 23:30:00", 300), "2019-05-12 18:30:00");
  EXPECT_EQ(ConvertBackupDate("2020-02-29 00:00:00", 0), "2020-02-29 00:00:00");
  EXPECT_EQ(ConvertBackupDate("2019-05-12", 0), "2019-05-12");  // no time: unconverted
}

TEST(DateConversionTest, PlistDatesWithAndWithoutTAndZ) {
  ScopedEnv tz("TZ", "Asia/Shanghai");
  TempFolder dir("dates");
  WriteFile(dir.path() / "Info.plist",
            Plist(Key("Last Backup Date", "2019-05-12T23:30:00Z", "date")));
  BackupRecord r;
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_EQ(r.lastBackupDate, "2019-05-13 07:30:00");
  WriteFile(dir.path() / "Info.plist",
            Plist(Key("Last Backup Date", "2019-05-12 23:30:00", "date")));
  ASSERT_EQ(ReadBackupFolder(dir.wide(), r), 0);
  EXPECT_EQ(r.lastBackupDate, "2019-05-13 07:30:00");
}

TEST(ProbeEncryptedTest, AddressBookHeaderDecides) {
  TempFolder dir("probe");
  const std::string id = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
  // No address book at all: not encrypted.
  EXPECT_FALSE(ProbeEncrypted(dir.wide()));
  // Older layout, flat.
  WriteFile(dir.path() / id, std::string(600, '\x9c'));
  EXPECT_TRUE(ProbeEncrypted(dir.wide()));
  WriteFile(dir.path() / id, "sQLiTe" + std::string(600, 'x'));
  EXPECT_FALSE(ProbeEncrypted(dir.wide()));
  // Older layout with only the .mddata name.
  std::filesystem::remove(dir.path() / id);
  WriteFile(dir.path() / (id + ".mddata"), std::string(600, '\x01'));
  EXPECT_TRUE(ProbeEncrypted(dir.wide()));
  // Newer layout: Manifest.db present, address book in its two-character folder.
  WriteFile(dir.path() / "Manifest.db", kSqliteHeader);
  WriteFile(dir.path() / "31" / id, kSqliteHeader);
  EXPECT_FALSE(ProbeEncrypted(dir.wide()));
  WriteFile(dir.path() / "31" / id, std::string(600, '\x77'));
  EXPECT_TRUE(ProbeEncrypted(dir.wide()));
}

TEST(ProbeEncryptedTest, WorksOnReadOnlyFiles) {
  TempFolder dir("probero");
  const auto file = dir.path() / "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
  WriteFile(file, std::string(600, '\x9c'));
  if (!testing::MakeReadOnly(dir.path())) GTEST_SKIP() << "cannot make files read-only here";
  EXPECT_TRUE(ProbeEncrypted(dir.wide()));
}

TEST(ListBackupsTest, OnlyFoldersWithInfoPlistNewestFirstStable) {
  ScopedEnv tz("TZ", "UTC");
  TempFolder root("root");
  WriteFile(
      root.path() / "a" / "Info.plist",
      Plist(Key("Display Name", "Old") + Key("Last Backup Date", "2019-12-31T23:00:00Z", "date")));
  WriteFile(
      root.path() / "b" / "Info.plist",
      Plist(Key("Display Name", "New") + Key("Last Backup Date", "2020-01-02T10:00:00Z", "date")));
  WriteFile(root.path() / "c" / "Info.plist",
            Plist(Key("Display Name", "Twin1") +
                  Key("Last Backup Date", "2019-06-01T00:00:00Z", "date")));
  WriteFile(root.path() / "d" / "Info.plist",
            Plist(Key("Display Name", "Twin2") +
                  Key("Last Backup Date", "2019-06-01T00:00:00Z", "date")));
  WriteFile(root.path() / "stray.txt", "not a backup");
  std::filesystem::create_directories(root.path() / "empty");
  WriteFile(root.path() / ".hidden" / "Info.plist", Plist(Key("Display Name", "Hidden")));

  BackupCatalog catalog;
  FindCandidatesIn(catalog, root.wide());
  EXPECT_EQ(catalog.candidateFolders.size(), 6u);  // every entry but the dot folder
  for (const auto& c : catalog.candidateFolders) EXPECT_EQ(c.find(".hidden"), std::string::npos);

  std::vector<BackupRecord> records;
  ASSERT_EQ(ListBackups(catalog, records), 0);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].displayName, "New");
  EXPECT_EQ(records[1].displayName, "Old");
  // Equal dates keep the order in which the candidates were listed.
  std::vector<std::string> twins = {records[2].displayName, records[3].displayName};
  std::size_t first = 0, second = 0;
  for (std::size_t i = 0; i < catalog.candidateFolders.size(); ++i) {
    if (catalog.candidateFolders[i].ends_with("/c")) first = i;
    if (catalog.candidateFolders[i].ends_with("/d")) second = i;
  }
  EXPECT_EQ(twins[0], first < second ? "Twin1" : "Twin2");
}

TEST(CatalogTest, InitListsThePlatformBackupRootAndSelectBackupSetsCurrent) {
  TempFolder data("appdata");
  ScopedEnv xdg("XDG_DATA_HOME", data.path().c_str());
  WriteFile(data.path() / "Apple Computer/MobileSync/Backup/dev1/Info.plist",
            Plist(Key("Display Name", "Phone")));
  BackupCatalog catalog;
  InitCatalog(catalog);
  EXPECT_TRUE(std::filesystem::is_directory(data.path() / "TarnwickBackvault"));
  ASSERT_EQ(catalog.candidateFolders.size(), 1u);
  std::vector<BackupRecord> records;
  ListBackups(catalog, records);
  ASSERT_EQ(records.size(), 1u);
  SelectBackup(catalog, records[0]);
  EXPECT_EQ(catalog.backupFolder, records[0].folder);
  EXPECT_EQ(catalog.current.displayName, "Phone");
  DestroyCatalog(catalog);
  EXPECT_TRUE(catalog.candidateFolders.empty());
}

TEST(CatalogTest, MissingBackupRootGivesNoCandidates) {
  TempFolder data("noroot");
  ScopedEnv xdg("XDG_DATA_HOME", data.path().c_str());
  BackupCatalog catalog;
  EXPECT_EQ(FindCandidates(catalog), 0);
  EXPECT_TRUE(catalog.candidateFolders.empty());
}

}  // namespace
}  // namespace bv
