#include "catalogue/manifest.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include "catalogue/decrypt.h"
#include "common/hash.h"
#include "common/text.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace bv {

namespace {

// Manifests of real backups hold a few hundred thousand records, far below this.
constexpr std::uint64_t kMbdbLimit = 4ull << 30;

// What ReadOnlyFile::Open's answer means for a manifest, to follow its name.
std::string OpenProblem(int openError) {
  if (openError == platform::kNotRegularFile) return "is not a regular file";
  if (platform::IsMissingFile(openError)) return "is missing";
  return "cannot be read: " + platform::ErrorText(openError);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(platform::PathFromUtf8(path), ec);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

int ManifestRow(void* context, int columns, char** values, char**) {
  auto* entries = static_cast<std::vector<ManifestEntry>*>(context);
  ManifestEntry e;
  if (columns > 0 && values[0]) e.fileId = values[0];
  if (columns > 1 && values[1]) e.key = values[1];
  if (columns > 2 && values[2]) {
    e.key += '-';
    e.key += values[2];
  }
  entries->push_back(std::move(e));
  return 0;
}

// Bounds-checked big-endian cursor over the mbdb bytes.
class Cursor {
 public:
  Cursor(const unsigned char* data, std::size_t size) : p_(data), size_(size) {}
  bool AtEnd() const { return pos_ >= size_; }
  bool Skip(std::size_t n) {
    if (size_ - pos_ < n) return false;
    pos_ += n;
    return true;
  }
  bool U8(std::uint32_t& v) {
    if (size_ - pos_ < 1) return false;
    v = p_[pos_++];
    return true;
  }
  bool U16(std::uint32_t& v) {
    if (size_ - pos_ < 2) return false;
    v = (std::uint32_t(p_[pos_]) << 8) | p_[pos_ + 1];
    pos_ += 2;
    return true;
  }
  bool String(std::string* out) {
    std::uint32_t len;
    if (!U16(len)) return false;
    if (len == 0xFFFF) {
      if (out) out->clear();
      return true;
    }
    if (size_ - pos_ < len) return false;
    if (out) out->assign(reinterpret_cast<const char*>(p_ + pos_), len);
    pos_ += len;
    return true;
  }

 private:
  const unsigned char* p_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string StoredFilePath(const BackupCatalog& catalog, const std::string& fileId) {
  return StoredFileNative(catalog, catalog.backupFolder, fileId);
}

std::string StoredFileNative(const BackupCatalog& catalog, const std::string& folder,
                             const std::string& fileId) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path.push_back('/');
  if (!(catalog.current.encrypted || !catalog.hasManifestDb || fileId.size() < 2)) {
    path.append(fileId, 0, 2);
    path.push_back('/');
  }
  path += fileId;
  return path;
}

std::string StoredLogPath(const BackupCatalog& catalog, const std::string& fileId) {
  std::string logKey;
  for (const ManifestEntry& e : catalog.manifest) {
    if (e.fileId == fileId) {
      logKey = e.key + "-wal";
      break;
    }
  }
  if (logKey.size() <= 4) return {};
  for (const ManifestEntry& e : catalog.manifest)
    if (e.key == logKey) return StoredFilePath(catalog, e.fileId);
  return {};
}

Result LoadManifestDb(const std::string& path, std::vector<ManifestEntry>& entries,
                      std::string* problem) {
  if (problem) problem->clear();
  // SQLite would wait forever on a FIFO: only a regular file is handed to it.
  platform::ReadOnlyFile probe;
  const int open = probe.Open(platform::PathFromUtf8(path));
  if (open != 0) {
    if (problem) *problem = OpenProblem(open);
    return SQLITE_CANTOPEN;
  }
  const bool empty = probe.Size() == 0;
  probe.Close();
  sqlite3* db = nullptr;
  // Read-only: a backup folder is never written to.
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (rc != SQLITE_OK) {
    if (problem) *problem = "cannot be opened: " + std::string(sqlite3_errstr(rc));
    if (db) sqlite3_close(db);
    return rc;
  }
  std::vector<ManifestEntry> read;
  char* error = nullptr;
  rc = sqlite3_exec(db, "select fileID,domain, relativePath from Files;", ManifestRow, &read,
                    &error);
  Result result = kSuccess;
  if (rc != SQLITE_OK) {
    if (problem) {
      *problem = empty
                     ? std::string("is empty (0 bytes)")
                     : "is damaged: " + std::string(error != nullptr ? error : sqlite3_errstr(rc));
    }
    sqlite3_free(error);
    result = kQueryFailed;
  }
  sqlite3_close(db);
  entries = std::move(read);
  return result;
}

Result ParseManifestMbdb(const unsigned char* data, std::size_t size,
                         std::vector<ManifestEntry>& entries, bool* complete,
                         std::size_t* records) {
  if (complete) *complete = false;
  if (records) *records = 0;
  if (size <= 6 || data[0] != 'm' || data[1] != 'b' || data[2] != 'd' || data[3] != 'b')
    return kInvalidParameter;
  Cursor c(data, size);
  c.Skip(6);
  bool whole = true;
  std::size_t count = 0;
  while (!c.AtEnd()) {
    std::string domain, path;
    std::uint32_t mode = 0, properties = 0, scratch = 0;
    bool ok = c.String(&domain) && c.String(&path) && c.String(nullptr) && c.String(nullptr) &&
              c.String(nullptr) && c.U16(mode) && c.Skip(8) && c.Skip(4 * 5) && c.Skip(8) &&
              c.U8(scratch) && c.U8(properties);
    for (std::uint32_t i = 0; ok && i < properties; ++i)
      ok = c.String(nullptr) && c.String(nullptr);
    if (!ok) {  // a record cut short is not added
      whole = false;
      break;
    }
    ++count;
    if (!domain.empty() && !path.empty() && (mode & 0xE000) != 0x4000) {
      ManifestEntry e;
      e.key = domain + "-" + path;
      e.fileId = Sha1Hex(e.key);
      entries.push_back(std::move(e));
    }
  }
  if (complete) *complete = whole;
  if (records) *records = count;
  return kSuccess;
}

Result LoadManifestMbdb(const std::string& path, std::vector<ManifestEntry>& entries,
                        std::string* problem) {
  if (problem) problem->clear();
  if (path.empty()) return kInvalidParameter;
  std::string bytes;
  try {
    const int rc = platform::ReadWholeFile(platform::PathFromUtf8(path), bytes, kMbdbLimit);
    // Not there, unreadable, or no regular file (a FIFO must not hang the scan).
    if (rc != 0) {
      if (problem) *problem = OpenProblem(rc);
      return kMbdbUnopenable;
    }
  } catch (const std::bad_alloc&) {
    if (problem) *problem = "is too large to be read";
    return kInvalidParameter;
  }
  std::vector<ManifestEntry> read;
  bool complete = false;
  std::size_t records = 0;
  Result r = ParseManifestMbdb(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                               read, &complete, &records);
  if (r != kSuccess) {
    if (problem) *problem = "is damaged: it does not begin with the \"mbdb\" header";
    return r;
  }
  if (!complete && problem) {
    *problem = "is cut short after " + std::to_string(records) +
               " records: the files listed after them are missing";
  }
  entries = std::move(read);
  return r;
}

Result OpenBackup(BackupCatalog& catalog, const std::string& password) {
  catalog.progress = 0;
  catalog.progressStep = 11;
  catalog.Report(0);
  catalog.backupFiles.clear();
  catalog.candidateFolders.clear();
  catalog.manifest.clear();
  catalog.appMediaRead = false;
  catalog.manifestProblem.clear();
  for (std::string& problem : catalog.readProblems) problem.clear();
  // The previous scan's decrypted files are not this scan's business.
  catalog.decryptionRun.reset();

  const std::string folder = catalog.backupFolder;
  catalog.hasManifestDb = FileExists(Join(folder, "Manifest.db"));

  std::string decrypted;
  if (catalog.current.encrypted) {
    Result r = PrepareEncryptedBackup(catalog, password, decrypted);
    if (r != kSuccess) return r;
  } else {
    catalog.progress = 1;
    catalog.Report(1);
  }

  Result result;
  std::string problem;
  if (catalog.hasManifestDb) {
    const std::string db = Join(folder, "Manifest.db");
    // The tool leaves its decrypted copy in its private output folder; a plain backup may
    // carry a decrypted copy of its own beside Manifest.db.
    const std::string copy = decrypted.empty() ? Join(folder, kDecryptedManifestName)
                                               : Join(decrypted, kDecryptedManifestName);
    if (!FileExists(db)) {
      result = kInvalidParameter;
      problem = "Manifest.db is missing";
    } else if (FileExists(copy)) {
      result = LoadManifestDb(copy, catalog.manifest, &problem);
      if (!problem.empty()) problem = "the decrypted manifest " + problem;
    } else {
      result = LoadManifestDb(db, catalog.manifest, &problem);
      if (!decrypted.empty()) {
        // The encrypted Manifest.db cannot be read by itself: say why there is no copy.
        problem = "the decryption tool wrote no decrypted manifest";
        if (!catalog.manifestProblem.empty()) problem += " (" + catalog.manifestProblem + ")";
      } else if (!problem.empty()) {
        problem = "Manifest.db " + problem;
      }
    }
  } else {
    const std::string mbdb = Join(folder, "Manifest.mbdb");
    if (FileExists(mbdb)) {
      result = LoadManifestMbdb(mbdb, catalog.manifest, &problem);
      if (!problem.empty()) problem = "Manifest.mbdb " + problem;
    } else {
      result = kInvalidParameter;
      problem = "the folder has neither Manifest.db nor Manifest.mbdb";
    }
  }
  // What the tool said stays when the manifest itself was fine.
  if (!problem.empty() || result != kSuccess) catalog.manifestProblem = problem;

  if (!decrypted.empty()) {
    catalog.backupFolder = decrypted;
    catalog.current.folder = decrypted;
  }
  catalog.Advance(catalog.progressStep);
  return result;
}

}  // namespace bv
