#include "backup_decryptor.h"

#include <plist/plist.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include "crypto.h"
#include "platform/files.h"
#include "file_blob.h"
#include "keybag.h"
#include "mbdb_records.h"

namespace bv::decrypt {

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct PlistDeleter {
  void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};

// Regular files only: a FIFO or device node in a backup must not hang the tool.
bool ReadWholeFile(const fs::path& path, Bytes& out) {
  std::string bytes;
  if (bv::platform::ReadWholeFile(path, bytes, std::uint64_t{4} << 30) != 0) return false;
  out.assign(bytes.begin(), bytes.end());
  return true;
}

// Creates (or empties) an output file for our user alone: decrypted data is never left
// readable by others, whatever the umask, and a link planted in the output folder is
// not followed.
FilePtr CreatePrivate(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  ::fchmod(fd, 0600);
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return FilePtr(file);
}

// Copies a stored file that needs no decryption into a private output file.
bool CopyPrivate(const fs::path& from, const fs::path& to) {
  bv::platform::ReadOnlyFile in;
  if (in.Open(from) != 0) return false;
  FilePtr out = CreatePrivate(to);
  if (!out) return false;
  std::vector<char> buf(1 << 16);
  std::uint64_t offset = 0;
  for (;;) {
    const std::int64_t n = in.ReadAt(offset, buf.data(), buf.size());
    if (n < 0) return false;
    if (n == 0) break;
    if (std::fwrite(buf.data(), 1, static_cast<std::size_t>(n), out.get()) !=
        static_cast<std::size_t>(n))
      return false;
    offset += static_cast<std::uint64_t>(n);
  }
  return std::fclose(out.release()) == 0;
}

bool IsFileId(const std::string& id) {
  if (id.size() != 40) return false;
  for (char c : id) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

struct ManifestPlist {
  Bytes keybag;
  Bytes manifestKey;
  bool isEncrypted = false;
};

bool ReadManifestPlist(const fs::path& path, ManifestPlist& out, std::string& error) {
  Bytes raw;
  if (!ReadWholeFile(path, raw) || raw.empty()) {
    error = "cannot read Manifest.plist";
    return false;
  }
  if (raw.size() > 0xFFFFFFFFu) {
    error = "Manifest.plist too large";
    return false;
  }
  plist_t root = nullptr;
  plist_from_memory(reinterpret_cast<const char*>(raw.data()), static_cast<uint32_t>(raw.size()),
                    &root);
  std::unique_ptr<void, PlistDeleter> guard(root);
  if (!root || plist_get_node_type(root) != PLIST_DICT) {
    error = "Manifest.plist is not a property list";
    return false;
  }
  auto data = [&](const char* key, Bytes& target) {
    plist_t node = plist_dict_get_item(root, key);
    if (!node || plist_get_node_type(node) != PLIST_DATA) return;
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    if (bytes) target.assign(bytes, bytes + length);
  };
  data("BackupKeyBag", out.keybag);
  data("ManifestKey", out.manifestKey);
  plist_t flag = plist_dict_get_item(root, "IsEncrypted");
  if (flag && plist_get_node_type(flag) == PLIST_BOOLEAN) {
    uint8_t v = 0;
    plist_get_bool_val(flag, &v);
    out.isEncrypted = v != 0;
  } else {
    out.isEncrypted = !out.keybag.empty();
  }
  return true;
}

class Run {
 public:
  Run(const fs::path& backup, const fs::path& output, const LineSink& print)
      : backup_(backup), output_(output), print_(print) {}

  ClassKeys keys;
  bool encrypted = false;
  RunStats stats;

  void Line(const std::string& text) {
    if (print_) print_(text);
  }
  // One line per file would outrun a reader that looks every few milliseconds on a
  // backup of small files, so lines come at most every 10 ms; Finish prints the last.
  void Count() {
    ++handled_;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPrint_ >= std::chrono::milliseconds(10)) Finish();
  }
  void Finish() {
    lastPrint_ = std::chrono::steady_clock::now();
    Line("Count: " + std::to_string(handled_));
  }
  void Skip(const std::string& id, const std::string& reason) {
    ++stats.skipped;
    Line("Skipped: " + id + " (" + reason + ")");
  }

  // Writes one stored file into the output folder, decrypted with `wrapped` when the
  // file has a key.
  void HandleFile(const std::string& id, const fs::path& stored, const Bytes* wrappedKey,
                  std::uint32_t preferredClass) {
    const fs::path target = output_ / id;
    if (!wrappedKey) {
      if (!CopyPrivate(stored, target)) {
        std::error_code ec;
        fs::remove(target, ec);
        Skip(id, "copy failed");
      } else {
        ++stats.copied;
      }
      Count();
      return;
    }
    Bytes key;
    WrappedKey parsed;
    if (!encrypted || !ParseWrappedKey(wrappedKey->data(), wrappedKey->size(), parsed)) {
      Skip(id, "unusable file key");
      Count();
      return;
    }
    if (!UnwrapFileKey(keys, parsed, preferredClass, key)) {
      Skip(id, "file key does not unwrap");
      Count();
      return;
    }
    std::uint64_t written = 0;
    const StreamStatus status = DecryptFile(key, stored, target, written);
    Wipe(key);
    switch (status) {
      case StreamStatus::kOk:
        ++stats.decrypted;
        break;
      case StreamStatus::kBadPadding:
      case StreamStatus::kTruncated:
      case StreamStatus::kEmpty:
        ++stats.decrypted;
        ++stats.warnings;
        Line("Warning: " + id + " (" + StreamStatusText(status) + ")");
        break;
      default: {
        std::error_code ec;
        fs::remove(target, ec);
        Skip(id, StreamStatusText(status));
        break;
      }
    }
    Count();
  }

  static StreamStatus DecryptFile(const Bytes& key, const fs::path& from, const fs::path& to,
                                  std::uint64_t& written) {
    // A FIFO or device node in place of a stored file must not hang the tool.
    if (bv::platform::CheckRegularFile(from) != 0) return StreamStatus::kReadError;
    FilePtr in(std::fopen(from.c_str(), "rb"));
    if (!in) return StreamStatus::kReadError;
    FilePtr out = CreatePrivate(to);
    if (!out) return StreamStatus::kWriteError;
    StreamStatus status = DecryptStream(key, in.get(), out.get(), written);
    if (std::fclose(out.release()) != 0 && status != StreamStatus::kReadError) {
      status = StreamStatus::kWriteError;
    }
    return status;
  }

  int handled() const { return static_cast<int>(handled_); }

 private:
  fs::path backup_;
  fs::path output_;
  LineSink print_;
  std::uint64_t handled_ = 0;
  std::chrono::steady_clock::time_point lastPrint_{};
};

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};

// Decrypts (or copies) Manifest.db to `target`. Returns false with `error` set.
bool PrepareManifestDb(Run& run, const fs::path& backup, const ManifestPlist& plist,
                       const fs::path& target, std::string& error) {
  const fs::path source = backup / "Manifest.db";
  if (plist.manifestKey.empty()) {
    // Older backups keep the database in plain text; a copy keeps the decrypted name
    // in step with the current manifest.
    if (CopyPrivate(source, target)) return true;
    std::error_code ec;
    fs::remove(target, ec);
    error = "cannot copy Manifest.db";
    return false;
  }
  WrappedKey wrapped;
  Bytes key;
  if (!ParseWrappedKey(plist.manifestKey.data(), plist.manifestKey.size(), wrapped) ||
      !UnwrapFileKey(run.keys, wrapped, 0, key)) {
    error = "ManifestKey does not unwrap";
    return false;
  }
  std::uint64_t written = 0;
  const StreamStatus status = Run::DecryptFile(key, source, target, written);
  Wipe(key);
  if (status != StreamStatus::kOk && status != StreamStatus::kBadPadding) {
    std::error_code ec;
    fs::remove(target, ec);
    error = std::string("cannot decrypt Manifest.db: ") + StreamStatusText(status);
    return false;
  }
  return true;
}

int NewerLayout(Run& run, const fs::path& backup, const fs::path& output,
                const ManifestPlist& plist) {
  std::string error;
  // Into our output folder, never into the backup: it may be read-only evidence, and
  // plaintext must not stay beside it.
  const fs::path manifest = output / "Manifest.db-decypted";
  if (!PrepareManifestDb(run, backup, plist, manifest, error)) {
    run.Line("Error: " + error);
    return kExitFailed;
  }

  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(manifest.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, DbCloser> db(raw);
  sqlite3_stmt* stmt = nullptr;
  if (rc != SQLITE_OK || sqlite3_prepare_v2(raw, "SELECT fileID, flags, file FROM Files", -1, &stmt,
                                            nullptr) != SQLITE_OK) {
    run.Line("Error: cannot read the Files table of Manifest.db");
    return kExitFailed;
  }
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* idText = sqlite3_column_text(stmt, 0);
    const std::string id = idText ? reinterpret_cast<const char*>(idText) : "";
    const std::int64_t flags = sqlite3_column_int64(stmt, 1);
    // Folders and links have no stored file; nor do the odd rows without identifier.
    if (flags == 2 || flags == 4 || id.empty()) continue;
    if (!IsFileId(id)) {
      // Never let a damaged row name a path outside the output folder.
      run.Skip("?", "bad file identifier");
      continue;
    }
    fs::path stored = backup / id.substr(0, 2) / id;
    std::error_code ec;
    if (!fs::is_regular_file(stored, ec)) stored = backup / id;
    if (!fs::is_regular_file(stored, ec)) continue;  // nothing stored for this row

    FileBlobInfo info;
    const void* blob = sqlite3_column_blob(stmt, 2);
    const int blobSize = sqlite3_column_bytes(stmt, 2);
    const bool parsed = blob && blobSize > 0 &&
                        ParseFileBlob(static_cast<const std::uint8_t*>(blob),
                                      static_cast<std::size_t>(blobSize), info);
    if (run.encrypted && !parsed) {
      run.Skip(id, "no file description");
      run.Count();
      continue;
    }
    run.HandleFile(id, stored, info.hasKey ? &info.encryptionKey : nullptr, info.protectionClass);
  }
  if (step != SQLITE_DONE) run.Line("Error: Manifest.db could not be read to the end");
  sqlite3_finalize(stmt);
  return step == SQLITE_DONE ? kExitOk : kExitFailed;
}

int OlderLayout(Run& run, const fs::path& backup) {
  Bytes raw;
  if (!ReadWholeFile(backup / "Manifest.mbdb", raw)) {
    run.Line("Error: cannot read Manifest.mbdb");
    return kExitFailed;
  }
  std::vector<MbdbRecord> records;
  bool complete = false;
  if (!ParseMbdb(raw.data(), raw.size(), records, &complete)) {
    run.Line("Error: Manifest.mbdb has no mbdb header");
    return kExitFailed;
  }
  for (const MbdbRecord& r : records) {
    if (!r.IsRegularFile()) continue;
    const fs::path stored = backup / r.fileId;
    std::error_code ec;
    if (!fs::is_regular_file(stored, ec)) continue;
    run.HandleFile(r.fileId, stored, r.hasKey ? &r.encryptionKey : nullptr, r.protectionClass);
  }
  if (!complete) {
    run.Line("Error: Manifest.mbdb is cut short");
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int DecryptBackupFolder(const fs::path& backupFolder, const fs::path& outputFolder,
                        const std::string& password, const LineSink& print, RunStats* stats) {
  Run run(backupFolder, outputFolder, print);
  ManifestPlist plist;
  std::string error;
  if (!ReadManifestPlist(backupFolder / "Manifest.plist", plist, error)) {
    run.Line("Error: " + error);
    return kExitFailed;
  }
  std::error_code ec;
  fs::create_directories(outputFolder, ec);
  if (!fs::is_directory(outputFolder, ec)) {
    run.Line("Error: cannot create the output folder");
    return kExitFailed;
  }

  run.encrypted = plist.isEncrypted && !plist.keybag.empty();
  if (run.encrypted) {
    Keybag keybag;
    if (!ParseKeybag(plist.keybag.data(), plist.keybag.size(), keybag, &error)) {
      run.Line("Error: " + error);
      return kExitFailed;
    }
    Bytes kek;
    if (!DeriveKek(keybag, password, kek)) {
      run.Line("Error: key derivation failed");
      return kExitFailed;
    }
    const UnlockResult unlock = UnlockKeybag(keybag, kek, run.keys);
    Wipe(kek);
    if (unlock == UnlockResult::kWrongPassword) {
      run.Line("Wrong password");
      return kExitWrongPassword;
    }
    if (unlock == UnlockResult::kNoClasses) {
      run.Line("Error: keybag holds no class keys");
      return kExitFailed;
    }
  }
  run.Finish();  // "Count: 0": the password was accepted

  int code = kExitOk;
  if (fs::exists(backupFolder / "Manifest.db", ec)) {
    code = NewerLayout(run, backupFolder, outputFolder, plist);
  } else if (fs::exists(backupFolder / "Manifest.mbdb", ec)) {
    code = OlderLayout(run, backupFolder);
  } else {
    run.Line("Error: the backup has neither Manifest.db nor Manifest.mbdb");
    code = kExitFailed;
  }
  if (run.handled() > 0) run.Finish();
  if (stats) *stats = run.stats;
  if (code == kExitOk && run.stats.skipped > 0) code = kExitSomeSkipped;
  return code;
}

}  // namespace bv::decrypt
