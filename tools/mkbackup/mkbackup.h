#pragma once
// mkbackup: writes synthetic but realistic phone backups for tests, the demo and
// benchmarks. Everything written depends only on the options (seed included): the
// same options give byte-identical folders, so tests may compare files.
//
//   bv::mkbackup::BackupOptions o;           // newer layout, iOS 14.3, small counts
//   o.seed = 7; o.messages = 100;
//   std::string error;
//   int rc = bv::mkbackup::WriteBackup(o, folder, &error);   // 0 on success
//
// A backup folder holds Info.plist (text XML or binary), Manifest.plist, Status.plist, the
// manifest (Manifest.db with stored files in two-character sub-folders for the newer
// layout; Manifest.mbdb with flat stored files for the older one), the databases of
// the chosen iOS version (table layouts from ios-schemas.sql beside this header),
// WeChat and QQ stores with deleted rows, Calendar.sqlitedb, the reminders stores and
// Bookmarks.db, and media files of every detected type (HEIC and AVIF pictures encoded
// for real).
// Beside the backup folder's contents lies mkbackup-truth.json, which lists what was
// written: device facts, every stored file (key, identifier, size, true type), every
// live row per table (columns written by us; the rest hold their defaults), and
// every deleted row (table, row id, values, and a probe: bytes of the row that stay
// in the database file, with probeInFile saying whether they are really there, and
// how: "row" freeblock, "page" emptied page on the freelist, "table" dropped table,
// "fts" search-table row). The truth describes the input, not any reader's output.
// It lies inside the backup folder; readers never look at it.
//
// WriteDemoRoot writes a folder of several backups (newer and older layouts,
// different devices and dates) for the demo and for tests of backup discovery.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bv::mkbackup {

enum class Layout { kNewer, kOlder };

struct BackupOptions {
  Layout layout = Layout::kNewer;
  // "Product Version" of the device; chooses the table layouts of every database.
  // Empty: 14.3 for the newer layout, 9.3.5 for the older one.
  std::string iosVersion;
  std::uint64_t seed = 1;
  std::string displayName = "Test iPhone";
  // "Last Backup Date", ISO 8601 in UTC (2021-03-04T05:06:07Z).
  std::string date = "2021-03-04T05:06:07Z";
  // Empty: derived from the seed.
  std::string serialNumber;
  std::string phoneNumber;

  // How Info.plist is written: text XML, one key or value per line, as the sync
  // software writes it; or a binary property list, as newer desktop software may.
  enum class InfoPlistForm { kXml, kBinary };
  InfoPlistForm infoPlist = InfoPlistForm::kXml;
  // Text form only: also write apostrophes and quotes as entities and every non-ASCII
  // character as a numeric character reference ("Ann&apos;s &#x1F4F1;"), as some
  // writers do. Off: only "&", "<" and ">" are escaped.
  bool xmlReferences = false;

  int messages = 60;
  int contacts = 25;
  int calls = 30;
  int notes = 12;
  int whatsapp = 40;
  int wechat = 40;
  int qq = 40;
  // Page sizes of the WeChat and of the QQ stores, one account per size (powers of two
  // from 512 to 65536). Empty: two accounts each, WeChat 1024 and 65536, QQ 4096 and
  // 1024.
  std::vector<int> wechatPageSizes;
  std::vector<int> qqPageSizes;
  // The chat stores go on being used after the deletions, as the apps use them: one
  // conversation cleared at once, one emptied row by row, and rounds of new messages
  // (WeChat's with TableVer 1 and 2 mixed), updates that make rows grow (SQLite writes
  // them anew and the old cells stay behind as stale copies of live rows) and single
  // deletions. Needs deletedRows.
  bool chatChurn = false;
  // Page size of the message, call, WhatsApp, address book and older notes databases (a
  // power of two from 512 to 65536; 0: 4096, as the phone writes them).
  int recordPageSize = 0;
  // Calendar events (a few fixed ones with odd times are added when this is not 0),
  // reminders (per store from iOS 13 on) and Safari bookmarks (Reading List items add a
  // quarter).
  int events = 24;
  int reminders = 14;
  int bookmarks = 20;
  // Media files beyond the fixed set of one file per detected type and placement.
  int media = 0;
  // Further manifest entries (small files and directories) beyond the real ones.
  int manifestExtra = 0;
  // Delete chosen rows (and whole pages) in every database after writing it.
  bool deletedRows = true;
  // The databases the phone keeps open (sms.db, the address book, the call history, the
  // note stores, WhatsApp's ChatStorage.sqlite and the WeChat and QQ stores) are backed
  // up in use: the newest third
  // of each table's rows lives only in a write-ahead log, stored as a file of its own
  // (same domain, path + "-wal"). The truth lists those rows under "rowsInLog".
  bool writeAheadLogs = false;
  // With writeAheadLogs: every fifth row moved into the log of the message, call and
  // WhatsApp tables is deleted again in the log's later frames (deletions that only the
  // log holds; the truth lists them as deleted rows, how "log").
  bool logDeletions = false;
  bool writeTruth = true;
};

// Writes one backup into `folder` (created when missing; existing files of the same
// names are replaced). Returns 0, or 87 with a message in *error.
int WriteBackup(const BackupOptions& options, const std::filesystem::path& folder,
                std::string* error = nullptr);

// The backup password of the demo root's encrypted backup.
inline constexpr const char* kDemoPassword = "tarnwick demo";

// Writes the demo root: one sub-folder per backup, named by a device identifier; one
// of them is encrypted with kDemoPassword.
int WriteDemoRoot(const std::filesystem::path& root, std::string* error = nullptr);

// The backup file identifier: SHA-1 of "domain-relativePath" in lowercase hex.
std::string FileIdOf(const std::string& domain, const std::string& relativePath);

// Real HEIF pictures as newer phones take them: HEVC-coded (.HEIC) or AV1-coded
// (.AVIF), width x height pixels of a colour pattern chosen by `variant` (see
// HeifSampleColourAt). The same arguments give the same bytes. Empty, with a message
// in *error, when libheif cannot encode here.
// Each carries Exif data as a phone's camera writes it (SampleExif of the variant's
// date, orientation 1).
enum class HeifCodec { kHevc, kAvif };
std::string HeifPicture(HeifCodec codec, int width, int height, unsigned variant,
                        std::string* error = nullptr);
// The same with the given Exif data (TIFF, as SampleExif makes it; empty for none).
std::string HeifPictureWithExif(HeifCodec codec, int width, int height, unsigned variant,
                                const std::string& exif, std::string* error = nullptr);
// Exif data (TIFF, little-endian "II" or big-endian "MM") with Make "Apple", Model
// "iPhone 12", the Orientation tag and DateTimeOriginal ("YYYY:MM:DD HH:MM:SS").
std::string SampleExif(const std::string& dateTimeOriginal, int orientation, bool bigEndian);
// The DateTimeOriginal of HeifPicture's variant.
std::string HeifSampleDate(unsigned variant);
struct HeifSampleColour {
  std::uint8_t r = 0, g = 0, b = 0;
};
// The colour of pixel (x, y) before encoding: red grows to the right, green downwards,
// blue is set by the variant.
HeifSampleColour HeifSampleColourAt(int width, int height, unsigned variant, int x, int y);
// The size of the HEIF pictures that backups hold.
inline constexpr int kHeifSampleWidth = 96;
inline constexpr int kHeifSampleHeight = 64;

// `text` as the message app stores it in message.attributedBody: an NSAttributedString
// in NSArchiver's typedstream form, its string an NSString (or an NSMutableString).
std::string AttributedBody(const std::string& text, bool mutableString = false);

// The embedded copy of ios-schemas.sql (table layouts per iOS version).
const std::string& IosSchemas();

}  // namespace bv::mkbackup
