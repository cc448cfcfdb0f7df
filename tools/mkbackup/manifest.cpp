// The two manifest formats: Manifest.db (Files rows with an NSKeyedArchiver MBFile
// blob per file) and the older binary Manifest.mbdb.
#include <plist/plist.h>

#include <fstream>
#include <stdexcept>

#include "internal.h"

namespace bv::mkbackup {

namespace {

// Binary property list of one MBFile archive, as the sync software stores it.
std::string MbFileArchive(const BackupContext::Entry& e) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "$version", plist_new_uint(100000));
  plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(1));
  plist_dict_set_item(root, "$top", top);

  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t file = plist_new_dict();
  plist_dict_set_item(file, "LastModified", plist_new_uint(static_cast<std::uint64_t>(e.mtime)));
  plist_dict_set_item(file, "LastStatusChange",
                      plist_new_uint(static_cast<std::uint64_t>(e.mtime)));
  plist_dict_set_item(file, "Birth", plist_new_uint(static_cast<std::uint64_t>(e.mtime - 3600)));
  plist_dict_set_item(file, "Size", plist_new_uint(static_cast<std::uint64_t>(e.size)));
  plist_dict_set_item(file, "Mode", plist_new_uint(static_cast<std::uint64_t>(e.mode)));
  plist_dict_set_item(file, "UserID", plist_new_uint(501));
  plist_dict_set_item(file, "GroupID", plist_new_uint(501));
  plist_dict_set_item(file, "InodeNumber", plist_new_uint(static_cast<std::uint64_t>(e.inode)));
  plist_dict_set_item(file, "Flags", plist_new_uint(0));
  plist_dict_set_item(file, "ProtectionClass", plist_new_uint(e.directory ? 0 : 3));
  plist_dict_set_item(file, "RelativePath", plist_new_uid(2));
  plist_dict_set_item(file, "$class", plist_new_uid(3));
  plist_array_append_item(objects, file);
  plist_array_append_item(objects, plist_new_string(e.path.c_str()));
  plist_t cls = plist_new_dict();
  plist_t classes = plist_new_array();
  plist_array_append_item(classes, plist_new_string("MBFile"));
  plist_array_append_item(classes, plist_new_string("NSObject"));
  plist_dict_set_item(cls, "$classes", classes);
  plist_dict_set_item(cls, "$classname", plist_new_string("MBFile"));
  plist_array_append_item(objects, cls);
  plist_dict_set_item(root, "$objects", objects);

  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root, &bin, &length);
  std::string out(bin ? bin : "", bin ? length : 0);
  plist_to_bin_free(bin);
  plist_free(root);
  if (out.empty()) throw std::runtime_error("cannot encode an MBFile archive");
  return out;
}

void PutU16(std::string& out, unsigned v) {
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}
void PutU32(std::string& out, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((v >> s) & 0xFF);
}
void PutU64(std::string& out, std::uint64_t v) {
  for (int s = 56; s >= 0; s -= 8) out += static_cast<char>((v >> s) & 0xFF);
}
void PutString(std::string& out, const std::string& s) {
  if (s.size() >= 0xFFFF) throw std::runtime_error("mbdb string too long");
  PutU16(out, static_cast<unsigned>(s.size()));
  out += s;
}
void PutAbsent(std::string& out) {
  PutU16(out, 0xFFFF);
}

}  // namespace

void WriteManifestDb(BackupContext& ctx) {
  std::filesystem::path path = ctx.folder() / "Manifest.db";
  TruthDb truth;  // the manifest itself is described by the files list, not as rows
  Db db(path, 4096);
  db.Exec("PRAGMA user_version=2;");
  db.Exec("BEGIN;");
  CreateOverlay(db, truth, {"Manifest.db"});
  {
    Inserter ins(db, nullptr, "Files", {"fileID", "domain", "relativePath", "flags", "file"});
    for (const BackupContext::Entry& e : ctx.entries()) {
      ins.Row(
          {e.fileId, e.domain, e.path, std::int64_t{e.directory ? 2 : 1}, Blob{MbFileArchive(e)}});
    }
  }
  db.Exec("COMMIT;");
  db.Close();
}

void WriteManifestMbdb(BackupContext& ctx) {
  std::string out = "mbdb";
  out += '\x05';
  out += '\x00';
  std::size_t index = 0;
  for (const BackupContext::Entry& e : ctx.entries()) {
    PutString(out, e.domain);
    PutString(out, e.path);
    PutAbsent(out);            // link target
    PutString(out, e.digest);  // raw SHA-1 of the content; empty for directories
    PutAbsent(out);            // encryption key
    PutU16(out, static_cast<unsigned>(e.mode));
    PutU64(out, static_cast<std::uint64_t>(e.inode));
    PutU32(out, 501);
    PutU32(out, 501);
    PutU32(out, static_cast<std::uint32_t>(e.mtime));
    PutU32(out, static_cast<std::uint32_t>(e.mtime));
    PutU32(out, static_cast<std::uint32_t>(e.mtime - 3600));
    PutU64(out, static_cast<std::uint64_t>(e.size));
    out += static_cast<char>(e.directory ? 0 : 3);  // protection class
    // Some files carry extended attributes as property pairs.
    if (!e.directory && index % 5 == 0) {
      out += static_cast<char>(2);
      PutString(out, "com.apple.backup.tag");
      PutString(out, "t" + std::to_string(index));
      PutString(out, "com.apple.metadata:kMDItemWhereFroms");
      PutString(out, "");
    } else {
      out += static_cast<char>(0);
    }
    ++index;
  }
  std::ofstream file(ctx.folder() / "Manifest.mbdb", std::ios::binary | std::ios::trunc);
  file.write(out.data(), static_cast<std::streamsize>(out.size()));
  if (!file) throw std::runtime_error("cannot write Manifest.mbdb");
}

}  // namespace bv::mkbackup
