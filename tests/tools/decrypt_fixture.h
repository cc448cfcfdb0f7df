#pragma once
// Small plain backups for the decryption tests: a Manifest.db (Files table with MBFile
// blobs) and stored files in two-character folders, or a Manifest.mbdb with flat
// stored files; then encrypted with mkbackup's encryptor.
#include <openssl/evp.h>
#include <plist/plist.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace bv::testing_decrypt {

namespace fs = std::filesystem;

struct PlainFile {
  std::string domain;
  std::string path;
  std::string content;
  std::int64_t recordedSize = -1;  // Size written in the manifest; -1: the true size
};

inline std::string Sha1HexOf(const std::string& text) {
  unsigned char d[20];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), d, &n, EVP_sha1(), nullptr);
  static const char k[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) {
    out += k[d[i] >> 4];
    out += k[d[i] & 15];
  }
  return out;
}

inline std::string IdOf(const PlainFile& f) {
  return Sha1HexOf(f.domain + "-" + f.path);
}

inline std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string MbFileBlob(const PlainFile& f) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "$version", plist_new_uint(100000));
  plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(1));
  plist_dict_set_item(root, "$top", top);
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t file = plist_new_dict();
  plist_dict_set_item(
      file, "Size",
      plist_new_uint(f.recordedSize >= 0 ? static_cast<std::uint64_t>(f.recordedSize)
                                         : f.content.size()));
  plist_dict_set_item(file, "Mode", plist_new_uint(0100644));
  plist_dict_set_item(file, "ProtectionClass", plist_new_uint(3));
  plist_dict_set_item(file, "RelativePath", plist_new_uid(2));
  plist_array_append_item(objects, file);
  plist_array_append_item(objects, plist_new_string(f.path.c_str()));
  plist_dict_set_item(root, "$objects", objects);
  char* bin = nullptr;
  uint32_t len = 0;
  plist_to_bin(root, &bin, &len);
  std::string out(bin, len);
  plist_to_bin_free(bin);
  plist_free(root);
  return out;
}

inline void WriteManifestPlist(const fs::path& folder) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "IsEncrypted", plist_new_bool(0));
  plist_dict_set_item(root, "Version", plist_new_string("10.0"));
  char* bin = nullptr;
  uint32_t len = 0;
  plist_to_bin(root, &bin, &len);
  WriteAll(folder / "Manifest.plist", std::string(bin, len));
  plist_to_bin_free(bin);
  plist_free(root);
}

// Newer layout: Manifest.db and stored files under <id[0:2]>/<id>. A directory row is
// added too, as real manifests have them.
inline void WriteNewerPlain(const fs::path& folder, const std::vector<PlainFile>& files) {
  fs::create_directories(folder);
  WriteManifestPlist(folder);
  WriteAll(folder / "Info.plist", "<plist><dict></dict></plist>\n");
  sqlite3* db = nullptr;
  sqlite3_open((folder / "Manifest.db").c_str(), &db);
  const std::string schema =
      "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, "
      "flags INTEGER, file BLOB); CREATE TABLE Properties (key TEXT PRIMARY KEY, value "
      "BLOB); INSERT INTO Files VALUES ('" +
      Sha1HexOf("HomeDomain-Library") + "', 'HomeDomain', 'Library', 2, NULL);";
  sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO Files VALUES (?, ?, ?, 1, ?)", -1, &st, nullptr);
  for (const PlainFile& f : files) {
    const std::string id = IdOf(f);
    const std::string blob = MbFileBlob(f);
    sqlite3_bind_text(st, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, f.domain.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, f.path.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_reset(st);
    WriteAll(folder / id.substr(0, 2) / id, f.content);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

inline void PutString(std::string& out, const std::string& s) {
  out += static_cast<char>(s.size() >> 8);
  out += static_cast<char>(s.size() & 0xFF);
  out += s;
}

// Older layout: Manifest.mbdb and flat stored files; one folder record and one file
// record with extended attributes.
inline void WriteOlderPlain(const fs::path& folder, const std::vector<PlainFile>& files) {
  fs::create_directories(folder);
  WriteManifestPlist(folder);
  WriteAll(folder / "Info.plist", "<plist><dict></dict></plist>\n");
  std::string m = std::string("mbdb\x05\x00", 6);
  auto record = [&](const std::string& domain, const std::string& path, std::uint16_t mode,
                    std::uint64_t size, int properties) {
    PutString(m, domain);
    PutString(m, path);
    m += "\xff\xff";  // link
    m += "\xff\xff";  // digest
    m += "\xff\xff";  // key
    m += static_cast<char>(mode >> 8);
    m += static_cast<char>(mode & 0xFF);
    m += std::string(8 + 4 + 4 + 12, '\x01');
    for (int s = 56; s >= 0; s -= 8) m += static_cast<char>((size >> s) & 0xFF);
    m += '\x04';
    m += static_cast<char>(properties);
    for (int i = 0; i < properties; ++i) {
      PutString(m, "name" + std::to_string(i));
      PutString(m, "value");
    }
  };
  record("HomeDomain", "Library", 0x41ED, 0, 0);
  int index = 0;
  for (const PlainFile& f : files) {
    record(f.domain, f.path, 0x81A4, f.content.size(), index++ % 2);
    WriteAll(folder / IdOf(f), f.content);
  }
  WriteAll(folder / "Manifest.mbdb", m);
}

inline std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

// Files of the sizes that matter for padding and streaming.
inline std::vector<PlainFile> SampleFiles() {
  return {
      {"HomeDomain", "Library/SMS/sms.db",
       std::string("SQLite format 3\0", 16) + RandomBytes(4080, 1)},
      {"HomeDomain", "Library/Notes/empty.txt", ""},
      {"MediaDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", RandomBytes(3 * (1 << 20) + 5, 2)},
      {"AppDomain-net.whatsapp.WhatsApp", "Documents/ChatStorage.sqlite", RandomBytes(17, 3)},
      {"HomeDomain", "Library/Preferences/a b \"c\".plist", "exactly sixteen!"},
      // The recorded size disagrees with the content, as it does for databases that
      // changed while the phone backed them up: the content wins.
      {"HomeDomain", "Library/CallHistoryDB/CallHistory.storedata", RandomBytes(8192, 4), 4000},
  };
}

using TempDir = bv::test::TempDir;

}  // namespace bv::testing_decrypt
