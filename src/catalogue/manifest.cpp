#include "catalogue/manifest.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include "catalogue/decrypt.h"
#include "common/hash.h"
#include "common/text.h"
#include "platform/platform.h"

namespace bv {

namespace {

bool FileExists(const std::wstring& path) {
  std::error_code ec;
  return std::filesystem::exists(platform::PathFromWide(path), ec);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'/') return folder + name;
  return folder + L"/" + name;
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

std::wstring StoredFilePath(const BackupCatalog& catalog, const std::string& fileId) {
  return Utf8ToWide(StoredFileNative(catalog, WideToUtf8(catalog.backupFolder), fileId));
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

Result LoadManifestDb(const std::wstring& path, std::vector<ManifestEntry>& entries) {
  sqlite3* db = nullptr;
  // Read-only: a backup folder is never written to.
  int rc = sqlite3_open_v2(WideToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (rc != SQLITE_OK) {
    if (db) sqlite3_close(db);
    return rc;
  }
  std::vector<ManifestEntry> read;
  char* error = nullptr;
  rc = sqlite3_exec(db, "select fileID,domain, relativePath from Files;", ManifestRow, &read,
                    &error);
  Result result = kSuccess;
  if (rc != SQLITE_OK) {
    sqlite3_free(error);
    result = kQueryFailed;
  }
  sqlite3_close(db);
  entries = std::move(read);
  return result;
}

Result ParseManifestMbdb(const unsigned char* data, std::size_t size,
                         std::vector<ManifestEntry>& entries) {
  if (size <= 6 || data[0] != 'm' || data[1] != 'b' || data[2] != 'd' || data[3] != 'b')
    return kInvalidParameter;
  Cursor c(data, size);
  c.Skip(6);
  while (!c.AtEnd()) {
    std::string domain, path;
    std::uint32_t mode = 0, count = 0, scratch = 0;
    bool ok = c.String(&domain) && c.String(&path) && c.String(nullptr) && c.String(nullptr) &&
              c.String(nullptr) && c.U16(mode) && c.Skip(8) && c.Skip(4 * 5) && c.Skip(8) &&
              c.U8(scratch) && c.U8(count);
    for (std::uint32_t i = 0; ok && i < count; ++i) ok = c.String(nullptr) && c.String(nullptr);
    if (!ok) break;  // a record cut short is not added
    if (!domain.empty() && !path.empty() && (mode & 0xE000) != 0x4000) {
      ManifestEntry e;
      e.key = domain + "-" + path;
      e.fileId = Sha1Hex(e.key);
      entries.push_back(std::move(e));
    }
  }
  return kSuccess;
}

Result LoadManifestMbdb(const std::wstring& path, std::vector<ManifestEntry>& entries) {
  if (path.empty()) return kInvalidParameter;
  std::ifstream in(platform::PathFromWide(path), std::ios::binary);
  if (!in) return kMbdbUnopenable;
  std::vector<unsigned char> bytes;
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::bad_alloc&) {
    return kInvalidParameter;
  }
  std::vector<ManifestEntry> read;
  Result r = ParseManifestMbdb(bytes.data(), bytes.size(), read);
  if (r == kSuccess) entries = std::move(read);
  return r;
}

Result OpenBackup(BackupCatalog& catalog, const std::wstring& password) {
  catalog.progress = 0;
  catalog.progressStep = 11;
  catalog.Report(0);
  catalog.messages.clear();
  catalog.backupFiles.clear();
  catalog.candidateFolders.clear();
  catalog.manifest.clear();
  catalog.appMediaRead = false;

  const std::wstring folder = catalog.backupFolder;
  catalog.hasManifestDb = FileExists(Join(folder, L"Manifest.db"));

  std::wstring decrypted;
  if (catalog.current.encrypted) {
    Result r = PrepareEncryptedBackup(catalog, password, decrypted);
    if (r != kSuccess) return r;
  } else {
    catalog.progress = 1;
    catalog.Report(1);
  }

  Result result;
  if (catalog.hasManifestDb) {
    const std::wstring db = Join(folder, L"Manifest.db");
    const std::wstring copy = Join(folder, L"Manifest.db-decypted");
    if (!FileExists(db))
      result = kInvalidParameter;
    else
      result = LoadManifestDb(FileExists(copy) ? copy : db, catalog.manifest);
  } else {
    const std::wstring mbdb = Join(folder, L"Manifest.mbdb");
    result = FileExists(mbdb) ? LoadManifestMbdb(mbdb, catalog.manifest) : kInvalidParameter;
  }

  if (!decrypted.empty()) {
    catalog.backupFolder = decrypted;
    catalog.current.folder = decrypted;
  }
  catalog.Advance(catalog.progressStep);
  return result;
}

}  // namespace bv
