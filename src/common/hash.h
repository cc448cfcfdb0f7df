#pragma once
// SHA-1 (FIPS 180-4) and MD5 (RFC 1321), our own code: backup file identifiers and
// WeChat chat table names are built from them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bv {

// Thread-compatible: one object per thread.
class Sha1 {
 public:
  Sha1();
  void Update(const void* data, std::size_t size);
  std::array<std::uint8_t, 20> Final();

 private:
  void Block(const std::uint8_t* block);
  std::uint32_t h_[5];
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t total_ = 0;
};

class Md5 {
 public:
  Md5();
  void Update(const void* data, std::size_t size);
  std::array<std::uint8_t, 16> Final();

 private:
  void Block(const std::uint8_t* block);
  std::uint32_t s_[4];
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
  std::uint64_t total_ = 0;
};

// 40 lowercase hexadecimal digits.
std::string Sha1Hex(std::string_view data);
// 32 lowercase hexadecimal digits.
std::string Md5Hex(std::string_view data);

}  // namespace bv
