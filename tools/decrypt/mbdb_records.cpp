#include "mbdb_records.h"

#include <openssl/evp.h>

#include <cstring>

namespace bv::decrypt {

namespace {

class Cursor {
 public:
  Cursor(const std::uint8_t* data, std::size_t size, std::size_t pos)
      : data_(data), size_(size), pos_(pos) {}
  bool AtEnd() const { return pos_ >= size_; }

  bool Number(std::size_t width, std::uint64_t& value) {
    if (size_ - pos_ < width) return false;
    value = 0;
    for (std::size_t i = 0; i < width; ++i) value = (value << 8) | data_[pos_ + i];
    pos_ += width;
    return true;
  }
  // Reads a string; `present` is false for the 0xFFFF marker.
  bool String(std::string& out, bool* present = nullptr) {
    std::uint64_t length = 0;
    if (!Number(2, length)) return false;
    out.clear();
    if (present) *present = length != 0xFFFF;
    if (length == 0xFFFF) return true;
    if (size_ - pos_ < length) return false;
    out.assign(reinterpret_cast<const char*>(data_ + pos_), static_cast<std::size_t>(length));
    pos_ += static_cast<std::size_t>(length);
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_;
};

bool ParseRecord(Cursor& c, MbdbRecord& r) {
  std::string ignored;
  std::string key;
  bool keyPresent = false;
  std::uint64_t number = 0;
  if (!c.String(r.domain) || !c.String(r.path) || !c.String(ignored) || !c.String(ignored) ||
      !c.String(key, &keyPresent)) {
    return false;
  }
  r.hasKey = keyPresent && !key.empty();
  r.encryptionKey.assign(key.begin(), key.end());
  if (!c.Number(2, number)) return false;
  r.mode = static_cast<std::uint16_t>(number);
  // inode, user, group, three times
  if (!c.Number(8, number) || !c.Number(4, number) || !c.Number(4, number) ||
      !c.Number(4, number) || !c.Number(4, number) || !c.Number(4, number)) {
    return false;
  }
  if (!c.Number(8, r.size)) return false;
  if (!c.Number(1, number)) return false;
  r.protectionClass = static_cast<std::uint8_t>(number);
  std::uint64_t properties = 0;
  if (!c.Number(1, properties)) return false;
  for (std::uint64_t i = 0; i < properties; ++i) {
    if (!c.String(ignored) || !c.String(ignored)) return false;
  }
  return true;
}

}  // namespace

std::string Sha1Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha1(), nullptr);
  return ToHex(Bytes(digest, digest + length));
}

bool ParseMbdb(const std::uint8_t* data, std::size_t size, std::vector<MbdbRecord>& records,
               bool* complete) {
  records.clear();
  if (complete) *complete = false;
  if (!data || size < 6 || std::memcmp(data, "mbdb", 4) != 0) return false;
  Cursor c(data, size, 6);
  while (!c.AtEnd()) {
    MbdbRecord r;
    if (!ParseRecord(c, r)) return true;  // cut short: keep what came before
    r.fileId = Sha1Hex(r.domain + "-" + r.path);
    records.push_back(std::move(r));
  }
  if (complete) *complete = true;
  return true;
}

}  // namespace bv::decrypt
