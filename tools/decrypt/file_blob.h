#pragma once
// The `file` column of the Files table in Manifest.db: a binary property list written
// by NSKeyedArchiver that describes one backed-up file (class MBFile).
//
//   { "$archiver": "NSKeyedArchiver", "$version": 100000,
//     "$top": { "root": UID(r) },
//     "$objects": [ "$null", { MBFile fields... }, ... ] }
//
//   MBFile field      value
//   Size              integer, plaintext size as recorded (not trusted for cutting)
//   ProtectionClass   integer (may be missing)
//   EncryptionKey     UID -> { "NS.data": data | UID -> data, "$class": ... }
//                     the data is 44 bytes: little-endian class + 40-byte wrapped key
//   Mode, UserID, GroupID, LastModified, Birth, ...   not needed here
//
// A file without EncryptionKey is stored plain.
#include <cstdint>
#include <string>

#include "crypto.h"

namespace bv::decrypt {

struct FileBlobInfo {
  bool hasKey = false;
  Bytes encryptionKey;                // the 44 bytes
  std::uint32_t protectionClass = 0;  // 0 when missing
  std::int64_t size = -1;             // -1 when missing
};

// False when the bytes are no property list or carry no MBFile object.
bool ParseFileBlob(const std::uint8_t* data, std::size_t size, FileBlobInfo& info);

}  // namespace bv::decrypt
