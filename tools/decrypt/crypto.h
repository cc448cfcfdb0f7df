#pragma once
// The cryptographic steps of backup decryption, over OpenSSL's libcrypto:
// PBKDF2 for the password, RFC 3394 key unwrap for class and file keys, and
// AES-256-CBC with a zero IV for file contents. Every function is thread-safe.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bv::decrypt {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kKeySize = 32;         // AES-256 keys everywhere
inline constexpr std::size_t kWrappedKeySize = 40;  // RFC 3394 wrap of a 32-byte key
inline constexpr std::size_t kBlockSize = 16;

// Overwrites secrets before their memory is released.
void Wipe(Bytes& bytes);
void Wipe(std::string& text);

// PBKDF2 with HMAC-SHA256 or HMAC-SHA1; false when OpenSSL refuses the parameters.
bool Pbkdf2Sha256(const std::uint8_t* password, std::size_t passwordSize, const Bytes& salt,
                  std::uint32_t iterations, Bytes& out);
bool Pbkdf2Sha1(const std::uint8_t* password, std::size_t passwordSize, const Bytes& salt,
                std::uint32_t iterations, Bytes& out);

// RFC 3394 AES key unwrap with the default IV (A6…A6). False when the integrity
// check fails (a wrong key) or the sizes are not those of wrapped 32-byte keys.
bool AesUnwrap(const Bytes& kek, const Bytes& wrapped, Bytes& key);
// The reverse, for building encrypted fixtures.
bool AesWrap(const Bytes& kek, const Bytes& key, Bytes& wrapped);

// Length of valid PKCS#7 padding at the end of `data` (1..16), or 0 when the last
// block does not end in valid padding.
std::size_t Pkcs7PadLength(const std::uint8_t* data, std::size_t size);

enum class StreamStatus {
  kOk,          // decrypted, valid padding removed
  kBadPadding,  // decrypted, but the last block holds no valid padding: kept as is
  kTruncated,   // length not a whole number of blocks: the whole blocks were kept
  kEmpty,       // no ciphertext at all
  kReadError,
  kWriteError,
  kCipherError,
};
const char* StreamStatusText(StreamStatus status);

// Decrypts AES-256-CBC (zero IV) from `in` to `out` in chunks, so files of any size
// pass through a fixed buffer. Valid PKCS#7 padding is stripped; invalid padding is
// kept and reported rather than guessed at, and the plaintext is never cut to a
// recorded size. `written` receives the number of plaintext bytes written.
StreamStatus DecryptStream(const Bytes& key, std::FILE* in, std::FILE* out, std::uint64_t& written,
                           std::size_t chunkSize = 1 << 20);

// One-shot forms for small buffers (keys, tests, fixtures).
StreamStatus DecryptBuffer(const Bytes& key, const Bytes& cipher, Bytes& plain);
bool EncryptBuffer(const Bytes& key, const Bytes& plain, Bytes& cipher);

Bytes FromHex(const std::string& hex);
std::string ToHex(const Bytes& bytes);

}  // namespace bv::decrypt
