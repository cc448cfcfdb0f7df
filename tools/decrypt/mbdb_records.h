#pragma once
// Records of "Manifest.mbdb", the file index of older backups, as far as decryption
// needs them (the catalogue has its own reader for the manifest itself).
//
//   file header
//   offset  size  field
//   0       4     magic "mbdb"
//   4       2     version (5 0)
//   6       ...   records, one after another, to the end of the file
//
//   record (all numbers big-endian; "string" = 2-byte length + bytes,
//           length 0xFFFF = absent, nothing follows)
//   field            size
//   domain           string
//   relative path    string
//   link target      string
//   data hash        string
//   encryption key   string   absent = stored plain; else 44 bytes (see WrappedKey)
//   mode             2        0x8000 file, 0x4000 folder, 0xA000 link (top 4 bits)
//   inode            8
//   user id          4
//   group id         4
//   modified         4
//   status changed   4
//   created          4
//   size             8
//   protection class 1
//   property count   1
//   properties       count × (name string, value string)
#include <cstdint>
#include <string>
#include <vector>

#include "crypto.h"

namespace bv::decrypt {

struct MbdbRecord {
  std::string domain;
  std::string path;
  bool hasKey = false;
  Bytes encryptionKey;  // the 44 bytes when present
  std::uint16_t mode = 0;
  std::uint64_t size = 0;
  std::uint8_t protectionClass = 0;
  std::string fileId;  // SHA-1 of "domain-path", 40 lowercase hex digits

  bool IsRegularFile() const { return (mode & 0xF000) == 0x8000; }
};

// Parses the whole file image. Records cut short at the end are dropped and the
// records before them kept; `complete` tells whether the data ended cleanly. False
// only when the magic is wrong.
bool ParseMbdb(const std::uint8_t* data, std::size_t size, std::vector<MbdbRecord>& records,
               bool* complete = nullptr);

// 40 lowercase hex digits of SHA-1 of the text.
std::string Sha1Hex(const std::string& text);

}  // namespace bv::decrypt
