// The demo root: backups of different devices, layouts, versions and dates.
#include "encrypt_backup.h"
#include "internal.h"

namespace bv::mkbackup {

int WriteDemoRoot(const std::filesystem::path& root, std::string* error) {
  struct Demo {
    const char* folder;
    Layout layout;
    const char* ios;
    const char* name;
    const char* date;
    std::uint64_t seed;
    BackupOptions::InfoPlistForm infoPlist = BackupOptions::InfoPlistForm::kXml;
    bool xmlReferences = false;
  };
  const Demo demos[] = {
      // Written by newer desktop software: a binary Info.plist.
      {"00008030-001A2B3C4D5E6F70", Layout::kNewer, "14.3", "Anna's iPhone", "2021-03-04T05:06:07Z",
       1, BackupOptions::InfoPlistForm::kBinary},
      {"a1b2c3d4e5f60718293a4b5c6d7e8f9012345678", Layout::kOlder, "9.3.5", "Work iPhone",
       "2017-06-18T21:40:00Z", 2},
      // A name with character references in the file ("Tom &amp; Ann&apos;s iPhone").
      {"00008101-000C1D2E3F405162", Layout::kNewer, "12.4", "Tom & Ann's iPhone",
       "2019-11-30T09:15:00Z", 3, BackupOptions::InfoPlistForm::kXml, true},
      {"f0e1d2c3b4a5968778695a4b3c2d1e0f12345678", Layout::kOlder, "6.1.6", "Old iPhone 4S",
       "2013-02-10T18:00:00Z", 4},
  };
  for (const Demo& d : demos) {
    BackupOptions o;
    o.layout = d.layout;
    o.iosVersion = d.ios;
    o.displayName = d.name;
    o.date = d.date;
    o.seed = d.seed;
    o.infoPlist = d.infoPlist;
    o.xmlReferences = d.xmlReferences;
    o.media = 10;
    o.manifestExtra = 20;
    int rc = WriteBackup(o, root / d.folder, error);
    if (rc != 0) return rc;
  }
  // One backup made with a backup password, as most people's are. Small iteration
  // counts keep the demo quick; the scheme is the phone's.
  BackupOptions locked;
  locked.iosVersion = "13.5";
  locked.displayName = "Locked iPhone";
  locked.date = "2020-08-09T12:00:00Z";
  locked.seed = 5;
  const auto folder = root / "00008020-0011223344556677";
  int rc = WriteBackup(locked, folder, error);
  if (rc != 0) return rc;
  EncryptOptions enc;
  enc.password = kDemoPassword;
  enc.dpic = 10000;
  enc.iter = 1000;
  enc.seed = locked.seed;
  return EncryptBackup(folder, folder, enc, error);
}

}  // namespace bv::mkbackup
