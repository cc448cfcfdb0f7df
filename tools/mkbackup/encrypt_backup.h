#pragma once
// Turns a plain backup written by mkbackup into its encrypted twin, the way the phone
// encrypts a backup when a backup password is set:
//   - a backup keybag (Manifest.plist "BackupKeyBag") with eleven class keys, each
//     RFC 3394-wrapped with the key derived from the password (PBKDF2-HMAC-SHA256 over
//     DPSL/DPIC, then PBKDF2-HMAC-SHA1 over SALT/ITER; the older layout has only the
//     SHA-1 stage);
//   - every stored file AES-256-CBC encrypted (zero IV, PKCS#7) with a key of its own,
//     that key wrapped with its class key and kept as 4-byte little-endian class +
//     40 bytes: in the MBFile `file` blob (EncryptionKey -> NS.data) of Manifest.db, or
//     in the encryption-key string of the Manifest.mbdb record;
//   - newer layout: Manifest.db encrypted as a whole with a key of its own, wrapped
//     with class 3 and kept as Manifest.plist "ManifestKey".
// Info.plist, Status.plist and mkbackup-truth.json are copied unchanged, so the truth
// stays that of the plain twin.
#include <cstdint>
#include <filesystem>
#include <string>

namespace bv::mkbackup {

struct EncryptOptions {
  std::string password;             // UTF-8, as typed
  std::uint32_t dpic = 10'000'000;  // SHA-256 stage (newer layout); tests use ~1000
  std::uint32_t iter = 10'000;      // SHA-1 stage
  // Salts and keys come from this seed, so equal options give equal folders. 0 takes
  // them from the system's random source instead.
  std::uint64_t seed = 1;
};

// Encrypts the backup in `plainFolder` into `encryptedFolder` (created when missing;
// may be the same folder, which is then encrypted in place). The layout is taken from
// the folder: Manifest.db (newer) or Manifest.mbdb (older). Returns 0, or 87 with a
// message in *error.
int EncryptBackup(const std::filesystem::path& plainFolder,
                  const std::filesystem::path& encryptedFolder, const EncryptOptions& options,
                  std::string* error = nullptr);

}  // namespace bv::mkbackup
