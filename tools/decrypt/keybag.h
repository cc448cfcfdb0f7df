#pragma once
// The backup keybag ("BackupKeyBag" in Manifest.plist) and the way the password
// opens it.
//
// The keybag is a flat run of tag-length-value records, no outer container:
//
//   offset  size    field
//   0       4       tag, four ASCII letters ("VERS", "SALT", ...)
//   4       4       length of the value, big-endian
//   8       length  value; integer tags hold a 4-byte big-endian number
//
// Header records come first, then one group of records per protection class. The
// first "UUID" belongs to the header; every later "UUID" starts a class entry, and
// the records after it, up to the next "UUID", belong to that entry.
//
//   header tag  size  meaning
//   VERS        4     keybag version (3 before the SHA-256 stage existed, 5 after)
//   TYPE        4     1 for a backup keybag
//   UUID        16    keybag identifier
//   HMCK        40    wrapped HMAC key (not used for backups)
//   WRAP        4     keybag wrap flags (0 for backups)
//   SALT        20    salt of the PBKDF2-HMAC-SHA1 stage
//   ITER        4     iterations of the PBKDF2-HMAC-SHA1 stage
//   DPWT        4     present with the SHA-256 stage; meaning unknown
//   DPIC        4     iterations of the PBKDF2-HMAC-SHA256 stage
//   DPSL        20    salt of the PBKDF2-HMAC-SHA256 stage
//
//   class tag   size  meaning
//   UUID        16    key identifier (starts the entry)
//   CLAS        4     protection class (1..11)
//   WRAP        4     bit 1: wrapped with the password key; bit 0: also with the device key
//   KTYP        4     0 for AES keys
//   WPKY        40    the class key, RFC 3394-wrapped
//
// Password to key-encryption key (KEK):
//   with DPSL and DPIC: K1 = PBKDF2-HMAC-SHA256(password, DPSL, DPIC, 32)
//                       KEK = PBKDF2-HMAC-SHA1(K1, SALT, ITER, 32)
//   otherwise:          KEK = PBKDF2-HMAC-SHA1(password, SALT, ITER, 32)
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "crypto.h"

namespace bv::decrypt {

struct KeybagClass {
  std::uint32_t protectionClass = 0;
  std::uint32_t wrap = 0;
  std::uint32_t keyType = 0;
  Bytes wrappedKey;
};

struct Keybag {
  std::uint32_t version = 0;
  std::uint32_t type = 0;
  Bytes uuid;
  Bytes salt;
  std::uint32_t iterations = 0;
  Bytes dpSalt;                    // DPSL, empty when absent
  std::uint32_t dpIterations = 0;  // DPIC, 0 when absent
  bool hasDp = false;              // both DPSL and DPIC present
  std::vector<KeybagClass> classes;
};

// Parses a keybag blob. False, with a one-line reason, when a record runs past the
// end, an integer tag is not 4 bytes, or SALT/ITER are missing.
bool ParseKeybag(const std::uint8_t* data, std::size_t size, Keybag& keybag, std::string* error);

// Derives the KEK from the password bytes (UTF-8 as typed).
bool DeriveKek(const Keybag& keybag, const std::string& password, Bytes& kek);

// Class keys opened with the KEK, by protection class.
struct ClassKeys {
  std::map<std::uint32_t, Bytes> keys;
  ~ClassKeys();
  const Bytes* Find(std::uint32_t protectionClass) const;
};

enum class UnlockResult { kOk, kWrongPassword, kNoClasses };

// Unwraps every class key wrapped with the password (WRAP bit 1). Any failed
// integrity check means a wrong password; with eleven checks a false accept is out of
// the question.
UnlockResult UnlockKeybag(const Keybag& keybag, const Bytes& kek, ClassKeys& keys);

// A wrapped key as stored for the manifest and for each file:
//   offset  size  field
//   0       4     protection class, little-endian
//   4       40    the 32-byte key, RFC 3394-wrapped with that class key
struct WrappedKey {
  std::uint32_t protectionClass = 0;
  Bytes wrapped;
};
bool ParseWrappedKey(const std::uint8_t* data, std::size_t size, WrappedKey& key);

// Unwraps a per-file or manifest key. Tries `preferredClass` first when it is not 0
// and differs from the prefix, then the class in the prefix.
bool UnwrapFileKey(const ClassKeys& keys, const WrappedKey& wrapped, std::uint32_t preferredClass,
                   Bytes& key);

}  // namespace bv::decrypt
