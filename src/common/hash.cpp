#include "common/hash.h"

#include <cstring>

#include "common/text.h"

namespace bv {

namespace {
inline std::uint32_t Rotl(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
         std::uint32_t(p[3]);
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

// Feeds bytes into 64-byte blocks; shared by both digests.
template <typename Hash>
void Feed(Hash& h, std::uint8_t* buffer, std::size_t& buffered, std::uint64_t& total,
          const void* data, std::size_t size) {
  const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
  total += size;
  if (buffered) {
    std::size_t take = 64 - buffered < size ? 64 - buffered : size;
    std::memcpy(buffer + buffered, p, take);
    buffered += take;
    p += take;
    size -= take;
    if (buffered == 64) {
      h(buffer);
      buffered = 0;
    }
  }
  while (size >= 64) {
    h(p);
    p += 64;
    size -= 64;
  }
  if (size) {
    std::memcpy(buffer, p, size);
    buffered = size;
  }
}
}  // namespace

Sha1::Sha1() : h_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void Sha1::Block(const std::uint8_t* block) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d), k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d, k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d, k = 0xCA62C1D6u;
    }
    std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d, d = c, c = Rotl(b, 30), b = a, a = t;
  }
  h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e;
}

void Sha1::Update(const void* data, std::size_t size) {
  auto block = [this](const std::uint8_t* b) { Block(b); };
  Feed(block, buffer_, buffered_, total_, data, size);
}

std::array<std::uint8_t, 20> Sha1::Final() {
  const std::uint64_t bits = total_ * 8;
  const std::uint8_t pad = 0x80;
  Update(&pad, 1);
  const std::uint8_t zero = 0;
  while (buffered_ != 56) Update(&zero, 1);
  std::uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Update(len, 8);
  std::array<std::uint8_t, 20> out{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(h_[i] >> (24 - 8 * j));
  return out;
}

Md5::Md5() : s_{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u} {}

void Md5::Block(const std::uint8_t* block) {
  static const std::uint32_t K[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const int R[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                            5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                            4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                            6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i) m[i] = LoadLe32(block + 4 * i);
  std::uint32_t a = s_[0], b = s_[1], c = s_[2], d = s_[3];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d), g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d, g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d), g = (7 * i) % 16;
    }
    std::uint32_t t = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + K[i] + m[g], R[i]);
    a = t;
  }
  s_[0] += a, s_[1] += b, s_[2] += c, s_[3] += d;
}

void Md5::Update(const void* data, std::size_t size) {
  auto block = [this](const std::uint8_t* b) { Block(b); };
  Feed(block, buffer_, buffered_, total_, data, size);
}

std::array<std::uint8_t, 16> Md5::Final() {
  const std::uint64_t bits = total_ * 8;
  const std::uint8_t pad = 0x80;
  Update(&pad, 1);
  const std::uint8_t zero = 0;
  while (buffered_ != 56) Update(&zero, 1);
  std::uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(len, 8);
  std::array<std::uint8_t, 16> out{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(s_[i] >> (8 * j));
  return out;
}

std::string Sha1Hex(std::string_view data) {
  Sha1 h;
  h.Update(data.data(), data.size());
  auto d = h.Final();
  return HexLower(d.data(), d.size());
}

std::string Md5Hex(std::string_view data) {
  Md5 h;
  h.Update(data.data(), data.size());
  auto d = h.Final();
  return HexLower(d.data(), d.size());
}

}  // namespace bv
