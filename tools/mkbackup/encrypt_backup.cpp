// Encryption of a written plain backup into its encrypted twin. Independent of the
// decryption tool's code on purpose: a round trip between two implementations catches
// what one implementation agreeing with itself would not.
#include "encrypt_backup.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace bv::mkbackup {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kFileClass = 3;  // NSFileProtectionCompleteUntilFirstUserAuthentication
constexpr std::uint32_t kManifestClass = 3;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

// Key material: deterministic from the seed (SHA-256 in counter mode) or from the
// system's random source.
class KeySource {
 public:
  explicit KeySource(std::uint64_t seed) : seed_(seed) {}
  Bytes Take(std::size_t n) {
    Bytes out(n);
    if (seed_ == 0) {
      if (RAND_bytes(out.data(), static_cast<int>(n)) != 1) Fail("no random bytes");
      return out;
    }
    std::size_t filled = 0;
    while (filled < n) {
      std::uint8_t input[16];
      for (int i = 0; i < 8; ++i) input[i] = static_cast<std::uint8_t>(seed_ >> (8 * i));
      for (int i = 0; i < 8; ++i) input[8 + i] = static_cast<std::uint8_t>(counter_ >> (8 * i));
      ++counter_;
      std::uint8_t digest[32];
      unsigned int length = 0;
      EVP_Digest(input, sizeof input, digest, &length, EVP_sha256(), nullptr);
      const std::size_t take = std::min<std::size_t>(n - filled, length);
      std::memcpy(out.data() + filled, digest, take);
      filled += take;
    }
    return out;
  }

 private:
  std::uint64_t seed_;
  std::uint64_t counter_ = 0;
};

struct CtxDeleter {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

Bytes Pbkdf2(const EVP_MD* md, const std::uint8_t* pw, std::size_t pwSize, const Bytes& salt,
             std::uint32_t iterations) {
  Bytes out(32);
  static const std::uint8_t kNothing = 0;
  if (iterations == 0 || iterations > 0x7FFFFFFF ||
      PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(pwSize ? pw : &kNothing),
                        static_cast<int>(pwSize), salt.data(), static_cast<int>(salt.size()),
                        static_cast<int>(iterations), md, 32, out.data()) != 1) {
    Fail("key derivation failed");
  }
  return out;
}

// RFC 3394 wrap of a 32-byte key with the default IV.
Bytes Wrap(const Bytes& kek, const Bytes& key) {
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx) Fail("no cipher context");
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  Bytes out(key.size() + 16);
  int length = 0;
  int tail = 0;
  if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, kek.data(), nullptr) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &length, key.data(), static_cast<int>(key.size())) !=
          1 ||
      EVP_EncryptFinal_ex(ctx.get(), out.data() + length, &tail) != 1) {
    Fail("key wrap failed");
  }
  out.resize(static_cast<std::size_t>(length + tail));
  if (out.size() != 40) Fail("key wrap gave an unexpected size");
  return out;
}

// Class (little-endian) followed by the wrapped key, as stored for files and the manifest.
Bytes StoredKey(std::uint32_t protectionClass, const Bytes& wrapped) {
  Bytes out = {static_cast<std::uint8_t>(protectionClass),
               static_cast<std::uint8_t>(protectionClass >> 8),
               static_cast<std::uint8_t>(protectionClass >> 16),
               static_cast<std::uint8_t>(protectionClass >> 24)};
  out.insert(out.end(), wrapped.begin(), wrapped.end());
  return out;
}

// AES-256-CBC, zero IV, PKCS#7, streamed through a fixed buffer; written to a
// temporary name and renamed, so in-place encryption never reads its own output.
void EncryptFile(const Bytes& key, const fs::path& from, const fs::path& to) {
  const fs::path partial = to.string() + ".encrypting";
  {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!in || !out) Fail("cannot open " + from.string());
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    static const std::uint8_t kIv[16] = {};
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), kIv) != 1) {
      Fail("cipher init failed");
    }
    std::vector<char> inBuf(1 << 20);
    std::vector<std::uint8_t> outBuf(inBuf.size() + 16);
    int length = 0;
    while (in) {
      in.read(inBuf.data(), static_cast<std::streamsize>(inBuf.size()));
      const std::streamsize got = in.gcount();
      if (got <= 0) break;
      if (EVP_EncryptUpdate(ctx.get(), outBuf.data(), &length,
                            reinterpret_cast<const std::uint8_t*>(inBuf.data()),
                            static_cast<int>(got)) != 1) {
        Fail("encryption failed");
      }
      out.write(reinterpret_cast<const char*>(outBuf.data()), length);
    }
    if (in.bad()) Fail("cannot read " + from.string());
    if (EVP_EncryptFinal_ex(ctx.get(), outBuf.data(), &length) != 1) Fail("encryption failed");
    out.write(reinterpret_cast<const char*>(outBuf.data()), length);
    if (!out) Fail("cannot write " + to.string());
  }
  std::error_code ec;
  fs::rename(partial, to, ec);
  if (ec) Fail("cannot rename " + partial.string());
}

struct Keys {
  std::map<std::uint32_t, Bytes> classKeys;
  Bytes keybag;
  ~Keys() {
    for (auto& entry : classKeys) OPENSSL_cleanse(entry.second.data(), entry.second.size());
  }
};

void PutTag(Bytes& out, const char* tag, const Bytes& value) {
  out.insert(out.end(), tag, tag + 4);
  const std::uint32_t n = static_cast<std::uint32_t>(value.size());
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(n >> s));
  out.insert(out.end(), value.begin(), value.end());
}
void PutTag(Bytes& out, const char* tag, std::uint32_t value) {
  PutTag(out, tag,
         Bytes{static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
               static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

// The keybag as the phone writes it: header, then classes 11 down to 1; the
// device-bound classes (11, 10, 9, 5) carry WRAP 3, which off the phone still passes the
// password unwrap.
void BuildKeybag(const EncryptOptions& o, bool withDp, KeySource& random, Keys& keys) {
  const Bytes salt = random.Take(20);
  Bytes kek;
  if (withDp) {
    const Bytes dpsl = random.Take(20);
    Bytes first = Pbkdf2(EVP_sha256(), reinterpret_cast<const std::uint8_t*>(o.password.data()),
                         o.password.size(), dpsl, o.dpic);
    kek = Pbkdf2(EVP_sha1(), first.data(), first.size(), salt, o.iter);
    OPENSSL_cleanse(first.data(), first.size());
    PutTag(keys.keybag, "VERS", 5);
    PutTag(keys.keybag, "TYPE", 1);
    PutTag(keys.keybag, "UUID", random.Take(16));
    PutTag(keys.keybag, "HMCK", Bytes(40, 0));
    PutTag(keys.keybag, "WRAP", 0);
    PutTag(keys.keybag, "SALT", salt);
    PutTag(keys.keybag, "ITER", o.iter);
    PutTag(keys.keybag, "DPWT", 1);
    PutTag(keys.keybag, "DPIC", o.dpic);
    PutTag(keys.keybag, "DPSL", dpsl);
  } else {
    kek = Pbkdf2(EVP_sha1(), reinterpret_cast<const std::uint8_t*>(o.password.data()),
                 o.password.size(), salt, o.iter);
    PutTag(keys.keybag, "VERS", 3);
    PutTag(keys.keybag, "TYPE", 1);
    PutTag(keys.keybag, "UUID", random.Take(16));
    PutTag(keys.keybag, "HMCK", Bytes(40, 0));
    PutTag(keys.keybag, "WRAP", 0);
    PutTag(keys.keybag, "SALT", salt);
    PutTag(keys.keybag, "ITER", o.iter);
  }
  for (std::uint32_t c = 11; c >= 1; --c) {
    const bool deviceBound = c == 11 || c == 10 || c == 9 || c == 5;
    Bytes classKey = random.Take(32);
    PutTag(keys.keybag, "UUID", random.Take(16));
    PutTag(keys.keybag, "CLAS", c);
    PutTag(keys.keybag, "WRAP", deviceBound ? 3 : 2);
    PutTag(keys.keybag, "KTYP", 0);
    PutTag(keys.keybag, "WPKY", Wrap(kek, classKey));
    keys.classKeys[c] = std::move(classKey);
  }
  OPENSSL_cleanse(kek.data(), kek.size());
}

struct PlistDeleter {
  void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

PlistPtr ReadPlist(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return PlistPtr(nullptr);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  plist_t root = nullptr;
  plist_from_memory(raw.data(), static_cast<uint32_t>(raw.size()), &root);
  return PlistPtr(root);
}

std::string ToBinary(plist_t root) {
  char* bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bin, &length);
  std::string out(bin ? bin : "", bin ? length : 0);
  if (bin) plist_to_bin_free(bin);
  if (out.empty()) Fail("cannot encode a property list");
  return out;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Fail("cannot write " + path.string());
}

// Adds EncryptionKey (NSMutableData with inline NS.data, as the phone's archiver writes
// it) to an MBFile archive, or builds a minimal archive when the row had none.
std::string WithEncryptionKey(const void* blob, int blobSize, const Bytes& storedKey,
                              std::uint32_t protectionClass, std::uint64_t size) {
  plist_t root = nullptr;
  if (blob && blobSize > 0) {
    plist_from_memory(static_cast<const char*>(blob), static_cast<uint32_t>(blobSize), &root);
  }
  PlistPtr guard(root);
  plist_t objects = root ? plist_dict_get_item(root, "$objects") : nullptr;
  plist_t file =
      objects && plist_array_get_size(objects) > 1 ? plist_array_get_item(objects, 1) : nullptr;
  if (!file || plist_get_node_type(file) != PLIST_DICT) {
    guard.reset(plist_new_dict());
    root = guard.get();
    plist_dict_set_item(root, "$version", plist_new_uint(100000));
    plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(root, "$top", top);
    objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    file = plist_new_dict();
    plist_dict_set_item(file, "Size", plist_new_uint(size));
    plist_array_append_item(objects, file);
    plist_dict_set_item(root, "$objects", objects);
  }
  const uint32_t dataIndex = plist_array_get_size(objects);
  plist_t data = plist_new_dict();
  plist_dict_set_item(
      data, "NS.data",
      plist_new_data(reinterpret_cast<const char*>(storedKey.data()), storedKey.size()));
  plist_dict_set_item(data, "$class", plist_new_uid(dataIndex + 1));
  plist_array_append_item(objects, data);
  plist_t cls = plist_new_dict();
  plist_t classes = plist_new_array();
  plist_array_append_item(classes, plist_new_string("NSMutableData"));
  plist_array_append_item(classes, plist_new_string("NSData"));
  plist_array_append_item(classes, plist_new_string("NSObject"));
  plist_dict_set_item(cls, "$classes", classes);
  plist_dict_set_item(cls, "$classname", plist_new_string("NSMutableData"));
  plist_array_append_item(objects, cls);
  plist_dict_set_item(file, "EncryptionKey", plist_new_uid(dataIndex));
  plist_dict_set_item(file, "ProtectionClass", plist_new_uint(protectionClass));
  return ToBinary(root);
}

bool IsFileId(const std::string& name) {
  if (name.size() != 40) return false;
  for (char c : name) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Info.plist, Status.plist, the truth and anything else that is neither a manifest nor
// a stored file.
void CopyOtherFiles(const fs::path& from, const fs::path& to) {
  if (fs::equivalent(from, to)) return;
  for (const fs::directory_entry& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    if (name == "Manifest.db" || name == "Manifest.mbdb" || name == "Manifest.plist" ||
        name == "Manifest.db-decypted" || IsFileId(name)) {
      continue;
    }
    fs::copy_file(e.path(), to / name, fs::copy_options::overwrite_existing);
  }
}

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};

Bytes EncryptNewer(const fs::path& plain, const fs::path& out, KeySource& random,
                   const Keys& keys) {
  // Work on a plain copy of the manifest, add the keys, then encrypt it as a whole.
  const fs::path work = out / "Manifest.db.plain-work";
  fs::copy_file(plain / "Manifest.db", work, fs::copy_options::overwrite_existing);
  {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(work.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(raw);
      Fail("cannot open the manifest copy");
    }
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    sqlite3_exec(raw, "PRAGMA journal_mode=MEMORY; BEGIN;", nullptr, nullptr, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* update = nullptr;
    if (sqlite3_prepare_v2(raw, "SELECT rowid, fileID, flags, file FROM Files", -1, &select,
                           nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(raw, "UPDATE Files SET file = ? WHERE rowid = ?", -1, &update,
                           nullptr) != SQLITE_OK) {
      sqlite3_finalize(select);
      Fail("the manifest has no Files table");
    }
    struct Updates {
      std::int64_t rowid;
      std::string blob;
    };
    std::vector<Updates> updates;
    while (sqlite3_step(select) == SQLITE_ROW) {
      const unsigned char* idText = sqlite3_column_text(select, 1);
      const std::string id = idText ? reinterpret_cast<const char*>(idText) : "";
      if (sqlite3_column_int64(select, 2) != 1 || !IsFileId(id)) continue;
      const fs::path stored = plain / id.substr(0, 2) / id;
      if (!fs::is_regular_file(stored)) continue;
      Bytes fileKey = random.Take(32);
      fs::create_directories(out / id.substr(0, 2));
      EncryptFile(fileKey, stored, out / id.substr(0, 2) / id);
      const Bytes stored44 = StoredKey(kFileClass, Wrap(keys.classKeys.at(kFileClass), fileKey));
      OPENSSL_cleanse(fileKey.data(), fileKey.size());
      const void* blob = sqlite3_column_blob(select, 3);
      const int blobSize = sqlite3_column_bytes(select, 3);
      updates.push_back(
          {sqlite3_column_int64(select, 0),
           WithEncryptionKey(blob, blobSize, stored44, kFileClass, fs::file_size(stored))});
    }
    sqlite3_finalize(select);
    for (const Updates& u : updates) {
      sqlite3_bind_blob(update, 1, u.blob.data(), static_cast<int>(u.blob.size()), SQLITE_STATIC);
      sqlite3_bind_int64(update, 2, u.rowid);
      if (sqlite3_step(update) != SQLITE_DONE) {
        sqlite3_finalize(update);
        Fail("cannot update the manifest copy");
      }
      sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    if (sqlite3_exec(raw, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK) {
      Fail("cannot commit the manifest copy");
    }
  }
  Bytes dbKey = random.Take(32);
  EncryptFile(dbKey, work, out / "Manifest.db");
  fs::remove(work);
  const Bytes manifestKey =
      StoredKey(kManifestClass, Wrap(keys.classKeys.at(kManifestClass), dbKey));
  OPENSSL_cleanse(dbKey.data(), dbKey.size());
  return manifestKey;
}

// Copies the mbdb record by record, filling in the encryption key of each stored file.
void EncryptOlder(const fs::path& plain, const fs::path& out, KeySource& random, const Keys& keys) {
  std::ifstream in(plain / "Manifest.mbdb", std::ios::binary);
  const std::string mbdb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (mbdb.size() < 6 || mbdb.compare(0, 4, "mbdb") != 0) Fail("Manifest.mbdb has no header");
  std::string result = mbdb.substr(0, 6);
  std::size_t pos = 6;
  auto need = [&](std::size_t n) {
    if (mbdb.size() - pos < n) Fail("Manifest.mbdb is cut short");
  };
  auto readString = [&](std::string* value) {
    need(2);
    const std::size_t length =
        (static_cast<unsigned char>(mbdb[pos]) << 8) | static_cast<unsigned char>(mbdb[pos + 1]);
    const std::size_t start = pos;
    pos += 2;
    if (length != 0xFFFF) {
      need(length);
      if (value) *value = mbdb.substr(pos, length);
      pos += length;
    } else if (value) {
      value->clear();
    }
    return mbdb.substr(start, pos - start);
  };
  while (pos < mbdb.size()) {
    std::string domain;
    std::string path;
    result += readString(&domain);
    result += readString(&path);
    result += readString(nullptr);  // link target
    result += readString(nullptr);  // data hash
    const std::string oldKey = readString(nullptr);
    need(40);
    std::string fixed = mbdb.substr(pos, 40);
    pos += 40;
    const unsigned mode =
        (static_cast<unsigned char>(fixed[0]) << 8) | static_cast<unsigned char>(fixed[1]);
    const std::string id = [&] {
      const std::string key = domain + "-" + path;
      unsigned char digest[20];
      unsigned int length = 0;
      EVP_Digest(key.data(), key.size(), digest, &length, EVP_sha1(), nullptr);
      static const char kHex[] = "0123456789abcdef";
      std::string hex;
      for (unsigned i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
      }
      return hex;
    }();
    const fs::path stored = plain / id;
    if ((mode & 0xF000) == 0x8000 && fs::is_regular_file(stored)) {
      Bytes fileKey = random.Take(32);
      EncryptFile(fileKey, stored, out / id);
      const Bytes stored44 = StoredKey(kFileClass, Wrap(keys.classKeys.at(kFileClass), fileKey));
      OPENSSL_cleanse(fileKey.data(), fileKey.size());
      result += static_cast<char>(0);
      result += static_cast<char>(stored44.size());
      result.append(stored44.begin(), stored44.end());
      fixed[38] = static_cast<char>(kFileClass);
    } else {
      result += oldKey;
    }
    result += fixed;
    const std::size_t properties = static_cast<unsigned char>(fixed[39]);
    for (std::size_t i = 0; i < properties * 2; ++i) result += readString(nullptr);
  }
  WriteBytes(out / "Manifest.mbdb", result);
}

}  // namespace

int EncryptBackup(const fs::path& plainFolder, const fs::path& encryptedFolder,
                  const EncryptOptions& options, std::string* error) {
  try {
    fs::create_directories(encryptedFolder);
    const bool newer = fs::exists(plainFolder / "Manifest.db");
    if (!newer && !fs::exists(plainFolder / "Manifest.mbdb")) {
      Fail("no Manifest.db or Manifest.mbdb in " + plainFolder.string());
    }
    if (options.iter == 0 || (newer && options.dpic == 0))
      Fail("iteration counts must be positive");
    KeySource random(options.seed);
    Keys keys;
    BuildKeybag(options, newer, random, keys);
    CopyOtherFiles(plainFolder, encryptedFolder);

    PlistPtr manifest = ReadPlist(plainFolder / "Manifest.plist");
    if (!manifest || plist_get_node_type(manifest.get()) != PLIST_DICT) {
      manifest.reset(plist_new_dict());
    }
    if (newer) {
      const Bytes manifestKey = EncryptNewer(plainFolder, encryptedFolder, random, keys);
      plist_dict_set_item(
          manifest.get(), "ManifestKey",
          plist_new_data(reinterpret_cast<const char*>(manifestKey.data()), manifestKey.size()));
    } else {
      EncryptOlder(plainFolder, encryptedFolder, random, keys);
      plist_dict_remove_item(manifest.get(), "ManifestKey");
    }
    plist_dict_set_item(
        manifest.get(), "BackupKeyBag",
        plist_new_data(reinterpret_cast<const char*>(keys.keybag.data()), keys.keybag.size()));
    plist_dict_set_item(manifest.get(), "IsEncrypted", plist_new_bool(1));
    WriteBytes(encryptedFolder / "Manifest.plist", ToBinary(manifest.get()));
    return 0;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return 87;
  }
}

}  // namespace bv::mkbackup
