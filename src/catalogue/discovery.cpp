#include "catalogue/discovery.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/plist_values.h"
#include "common/stable_sort.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace bv {

namespace {

constexpr const char* kAddressBookId = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

// fgets-style reader over the file's bytes: a line into a 2048-byte buffer, longer lines in
// 2047-byte pieces; a zero byte ends the piece's text as it ends a C string.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}
  bool Next(std::string& line) {
    if (at_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', at_);
    end = end == std::string_view::npos ? text_.size() : end + 1;
    end = std::min(end, at_ + 2047);
    std::string_view piece = text_.substr(at_, end - at_);
    at_ = end;
    line.assign(piece.substr(0, piece.find('\0')));
    return true;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// Info.plist files of real backups stay well below this; more is not a backup's.
constexpr std::uint64_t kInfoPlistLimit = 256ull << 20;

// Text after `open` in `line`, cut at `close`; false when the opening tag is missing.
bool ValueBetween(const std::string& line, const char* open, const char* close, std::string& out) {
  std::string cut = line;
  std::size_t end = cut.find(close);
  if (end != std::string::npos) cut.resize(end);
  std::size_t start = cut.find(open);
  if (start == std::string::npos) return false;
  out = cut.substr(start + std::strlen(open));
  return true;
}

// Text after `open` in `line`, cut at `close`, with its XML character references
// decoded ("Tom &amp; Ann" reads "Tom & Ann"); false when the opening tag is missing.
bool DecodedValueBetween(const std::string& line, const char* open, const char* close,
                         std::string& out) {
  if (!ValueBetween(line, open, close, out)) return false;
  out = DecodeXmlReferences(out);
  return true;
}

// A binary Info.plist: the same keys into the same fields, in the same formats as the
// line reader gives them.
void ReadBinaryInfoPlistInto(std::string_view bytes, BackupRecord& r) {
  InfoPlistValues values;
  if (!ReadBinaryInfoPlist(bytes, values)) return;
  if (values.displayName) r.displayName = ValidUtf8(*values.displayName);
  if (values.lastBackupDate)
    r.lastBackupDate = ConvertBackupDate(*values.lastBackupDate, platform::TimeZoneBiasMinutes());
  if (values.phoneNumber) r.phoneNumber = ValidUtf8(*values.phoneNumber);
  if (values.productVersion) r.newerSystem = ParseInt32(values.productVersion->c_str()) > 11;
  if (values.serialNumber) r.serialNumber = ValidUtf8(*values.serialNumber);
}

// Manifest.plist's IsEncrypted; false when it cannot be read or does not say.
bool ManifestSaysEncrypted(const std::string& path) {
  // Regular files only, never waiting on a FIFO.
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes, kInfoPlistLimit) != 0) return false;
  return ReadManifestEncryptedFlag(bytes).value_or(false);
}

bool ReadInfoPlist(const std::string& folder, BackupRecord& record) {
  const std::string path = WithSeparator(folder) + "Info.plist";
  // A FIFO or device node named Info.plist counts as missing rather than hanging the list.
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes, kInfoPlistLimit) != 0) return false;
  BackupRecord r;
  ParseInfoPlist(bytes, r);
  r.folder = folder;
  r.encrypted = ProbeEncrypted(folder);
  record = std::move(r);
  return true;
}

}  // namespace

void ParseInfoPlist(std::string_view bytes, BackupRecord& r) {
  // Newer desktop software may write a binary property list: its values are read with a
  // property-list parser; text files keep the line reader.
  if (IsBinaryPlist(bytes)) {
    ReadBinaryInfoPlistInto(bytes, r);
    return;
  }
  LineReader reader(bytes);
  std::string line, value;
  const int bias = platform::TimeZoneBiasMinutes();
  while (reader.Next(line)) {
    if (line.find("<key>Display Name</key>") != std::string::npos) {
      if (reader.Next(value)) {
        std::string v;
        if (DecodedValueBetween(value, "<string>", "</string>", v)) r.displayName = ValidUtf8(v);
      }
    } else if (line.find("<key>Last Backup Date</key>") != std::string::npos) {
      if (reader.Next(value)) {
        std::string v;
        if (DecodedValueBetween(value, "<date>", "</date>", v)) {
          std::size_t t = v.find('T');
          if (t != std::string::npos) v[t] = ' ';
          std::size_t z = v.find('Z');
          if (z != std::string::npos) v.resize(z);
          r.lastBackupDate = ValidUtf8(ConvertBackupDate(v, bias));
        }
      }
    } else if (line.find("<key>Phone Number</key>") != std::string::npos) {
      std::string v;
      if (reader.Next(value) && DecodedValueBetween(value, "<string>", "</string>", v))
        r.phoneNumber = ValidUtf8(v);
    } else if (line.find("<key>Product Version</key>") != std::string::npos) {
      if (reader.Next(value)) {
        std::string v;
        if (DecodedValueBetween(value, "<string>", "</string>", v))
          r.newerSystem = ParseInt32(v.c_str()) > 11;
      }
    } else if (line.find("<key>Serial Number</key>") != std::string::npos) {
      std::string v;
      if (reader.Next(value) && DecodedValueBetween(value, "<string>", "</string>", v))
        r.serialNumber = ValidUtf8(v);
      break;  // nothing after the serial number is looked at
    }
  }
}

bool ListFolder(const std::string& folder, std::vector<std::string>& entries) {
  const std::string prefix = WithSeparator(folder);
  DIR* dir = ::opendir(prefix.c_str());
  if (!dir) return false;
  while (dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    // A path, not a text: the name's bytes as they are, so that it opens again.
    entries.push_back(prefix + e->d_name);
  }
  ::closedir(dir);
  return true;
}

Result FindCandidatesIn(BackupCatalog& catalog, const std::string& root) {
  catalog.candidateFolders.clear();
  ListFolder(root, catalog.candidateFolders);
  return kSuccess;
}

Result FindCandidates(BackupCatalog& catalog) {
  catalog.candidateFolders.clear();
  auto root = platform::BackupRoot();
  if (root.empty()) return kInvalidParameter;  // no application data folder at all
  ListFolder(platform::Utf8FromPath(root), catalog.candidateFolders);
  return kSuccess;
}

Result ListBackups(const BackupCatalog& catalog, std::vector<BackupRecord>& records) {
  for (const auto& candidate : catalog.candidateFolders) {
    BackupRecord r;
    if (ReadInfoPlist(candidate, r)) records.push_back(std::move(r));
  }
  if (records.size() >= 2) {
    StableMergeSort(records, [](const BackupRecord& a, const BackupRecord& b) {
      return CompareNoCase(a.lastBackupDate, b.lastBackupDate) > 0;
    });
  }
  return kSuccess;
}

Result ReadBackupFolder(const std::string& folder, BackupRecord& record) {
  return ReadInfoPlist(folder, record) ? kSuccess : kInvalidParameter;
}

bool ProbeEncrypted(const std::string& backupFolder) {
  const std::string base = WithSeparator(backupFolder);
  std::error_code ec;
  const bool newer = std::filesystem::exists(base + "Manifest.db", ec);
  const std::string path = newer ? base + "31/" + kAddressBookId : base + kAddressBookId;
  // Read-only and regular files only: the probe must work on read-only media, never change
  // a backup and never wait on a FIFO.
  platform::ReadOnlyFile f;
  // Without an address book to look at, the manifest's own flag says it.
  if (f.Open(path) != 0 && f.Open(path + ".mddata") != 0)
    return ManifestSaysEncrypted(base + "Manifest.plist");
  char head[512] = {};
  const std::int64_t read = f.ReadAt(0, head, sizeof head);
  const std::size_t n = read > 0 ? static_cast<std::size_t>(read) : 0;
  // A file shorter than six bytes cannot start with "SQLite": its bytes are not a database.
  return !(n >= 6 && EqualsNoCase(std::string_view(head, 6), "SQLite"));
}

void SelectBackup(BackupCatalog& catalog, const BackupRecord& record) {
  catalog.current = record;
  catalog.backupFolder = record.folder;
}

std::string ConvertBackupDate(const std::string& text, int biasMinutes) {
  const std::size_t d1 = text.find('-');
  const std::size_t d2 = d1 == std::string::npos ? d1 : text.find('-', d1 + 1);
  const std::size_t sp = d2 == std::string::npos ? d2 : text.find(' ', d2 + 1);
  const std::size_t c1 = sp == std::string::npos ? sp : text.find(':', sp + 1);
  const std::size_t c2 = c1 == std::string::npos ? c1 : text.find(':', c1 + 1);
  if (c2 == std::string::npos) return text;
  const int year = ParseInt32(text.c_str());
  const int month = ParseInt32(text.c_str() + d1 + 1);
  const int day = ParseInt32(text.c_str() + d2 + 1);
  const int hour = ParseInt32(text.c_str() + sp + 1);
  const int minute = ParseInt32(text.c_str() + c1 + 1);
  const int second = ParseInt32(text.c_str() + c2 + 1);
  const std::int64_t t = platform::UtcToUnix(year, month, day, hour, minute, second) -
                         static_cast<std::int64_t>(biasMinutes) * 60;
  std::string out;
  if (!platform::FormatUtcTime(t, out)) return text;
  return out;
}

}  // namespace bv
