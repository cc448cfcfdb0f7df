#include "crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace bv::decrypt {

namespace {

struct CtxDeleter {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

bool Pbkdf2(const EVP_MD* md, const std::uint8_t* password, std::size_t passwordSize,
            const Bytes& salt, std::uint32_t iterations, Bytes& out) {
  // OpenSSL takes the iteration count as int; 0 iterations is no derivation at all.
  if (iterations == 0 || iterations > 0x7FFFFFFFu || passwordSize > 0x7FFFFFFFu ||
      salt.size() > 0x7FFFFFFFu) {
    return false;
  }
  out.assign(kKeySize, 0);
  static const std::uint8_t kNothing = 0;
  return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(password ? password : &kNothing),
                           static_cast<int>(passwordSize), salt.empty() ? &kNothing : salt.data(),
                           static_cast<int>(salt.size()), static_cast<int>(iterations), md,
                           static_cast<int>(kKeySize), out.data()) == 1;
}

bool Wrap(bool unwrap, const Bytes& kek, const Bytes& in, Bytes& out) {
  const std::size_t expected = unwrap ? kWrappedKeySize : kKeySize;
  if (kek.size() != kKeySize || in.size() != expected) return false;
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return false;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, kek.data(), nullptr,
                        unwrap ? 0 : 1) != 1) {
    return false;
  }
  Bytes buffer(in.size() + 16, 0);
  int length = 0;
  if (EVP_CipherUpdate(ctx.get(), buffer.data(), &length, in.data(), static_cast<int>(in.size())) !=
          1 ||
      length <= 0) {
    Wipe(buffer);
    return false;
  }
  int tail = 0;
  if (EVP_CipherFinal_ex(ctx.get(), buffer.data() + length, &tail) != 1) {
    Wipe(buffer);
    return false;
  }
  length += tail;
  const std::size_t produced = static_cast<std::size_t>(length);
  if (produced != (unwrap ? kKeySize : kWrappedKeySize)) {
    Wipe(buffer);
    return false;
  }
  out.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(produced));
  Wipe(buffer);
  return true;
}

using Reader = std::function<long long(std::uint8_t*, std::size_t)>;  // -1 on error
using Writer = std::function<bool(const std::uint8_t*, std::size_t)>;

// CBC decryption that holds back the last plaintext block until the end, so padding
// can be judged once the whole ciphertext has been seen.
StreamStatus DecryptCore(const Bytes& key, const Reader& read, const Writer& write,
                         std::uint64_t& written, std::size_t chunkSize) {
  written = 0;
  if (key.size() != kKeySize) return StreamStatus::kCipherError;
  if (chunkSize < kBlockSize) chunkSize = kBlockSize;
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  static const std::uint8_t kZeroIv[kBlockSize] = {};
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv) != 1) {
    return StreamStatus::kCipherError;
  }
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);

  std::vector<std::uint8_t> in(chunkSize);
  std::vector<std::uint8_t> out(chunkSize + kBlockSize);
  std::uint8_t held[kBlockSize];
  bool haveHeld = false;
  std::uint64_t total = 0;
  auto emit = [&](const std::uint8_t* data, std::size_t size) {
    if (size == 0) return true;
    if (!write(data, size)) return false;
    written += size;
    return true;
  };

  for (;;) {
    const long long got = read(in.data(), in.size());
    if (got < 0) return StreamStatus::kReadError;
    if (got == 0) break;
    total += static_cast<std::uint64_t>(got);
    int produced = 0;
    if (EVP_DecryptUpdate(ctx.get(), out.data(), &produced, in.data(), static_cast<int>(got)) !=
        1) {
      return StreamStatus::kCipherError;
    }
    if (produced <= 0) continue;
    const std::size_t size = static_cast<std::size_t>(produced);
    if (haveHeld && !emit(held, kBlockSize)) return StreamStatus::kWriteError;
    if (!emit(out.data(), size - kBlockSize)) return StreamStatus::kWriteError;
    std::memcpy(held, out.data() + size - kBlockSize, kBlockSize);
    haveHeld = true;
  }
  OPENSSL_cleanse(out.data(), out.size());
  if (total == 0) return StreamStatus::kEmpty;

  StreamStatus status = StreamStatus::kOk;
  std::size_t keep = kBlockSize;
  if (total % kBlockSize != 0) {
    // A cut-off file: keep every whole block, since a damaged database is still worth
    // more to the user than none.
    status = StreamStatus::kTruncated;
  } else {
    int rest = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), out.data(), &rest) != 1) return StreamStatus::kCipherError;
    const std::size_t pad = haveHeld ? Pkcs7PadLength(held, kBlockSize) : 0;
    if (pad == 0) {
      status = StreamStatus::kBadPadding;
    } else {
      keep = kBlockSize - pad;
    }
  }
  if (haveHeld && !emit(held, keep)) return StreamStatus::kWriteError;
  OPENSSL_cleanse(held, sizeof held);
  return status;
}

}  // namespace

void Wipe(Bytes& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  bytes.clear();
}

void Wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

bool Pbkdf2Sha256(const std::uint8_t* password, std::size_t passwordSize, const Bytes& salt,
                  std::uint32_t iterations, Bytes& out) {
  return Pbkdf2(EVP_sha256(), password, passwordSize, salt, iterations, out);
}

bool Pbkdf2Sha1(const std::uint8_t* password, std::size_t passwordSize, const Bytes& salt,
                std::uint32_t iterations, Bytes& out) {
  return Pbkdf2(EVP_sha1(), password, passwordSize, salt, iterations, out);
}

bool AesUnwrap(const Bytes& kek, const Bytes& wrapped, Bytes& key) {
  return Wrap(true, kek, wrapped, key);
}

bool AesWrap(const Bytes& kek, const Bytes& key, Bytes& wrapped) {
  return Wrap(false, kek, key, wrapped);
}

std::size_t Pkcs7PadLength(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size % kBlockSize != 0) return 0;
  const std::uint8_t pad = data[size - 1];
  if (pad == 0 || pad > kBlockSize) return 0;
  for (std::size_t i = 1; i <= pad; ++i) {
    if (data[size - i] != pad) return 0;
  }
  return pad;
}

const char* StreamStatusText(StreamStatus status) {
  switch (status) {
    case StreamStatus::kOk:
      return "ok";
    case StreamStatus::kBadPadding:
      return "invalid padding, kept unpadded bytes";
    case StreamStatus::kTruncated:
      return "ciphertext cut short, kept whole blocks";
    case StreamStatus::kEmpty:
      return "no ciphertext";
    case StreamStatus::kReadError:
      return "read error";
    case StreamStatus::kWriteError:
      return "write error";
    case StreamStatus::kCipherError:
      return "cipher error";
  }
  return "unknown";
}

StreamStatus DecryptStream(const Bytes& key, std::FILE* in, std::FILE* out, std::uint64_t& written,
                           std::size_t chunkSize) {
  Reader read = [in](std::uint8_t* buffer, std::size_t max) -> long long {
    const std::size_t got = std::fread(buffer, 1, max, in);
    if (got == 0 && std::ferror(in)) return -1;
    return static_cast<long long>(got);
  };
  Writer write = [out](const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, out) == size;
  };
  return DecryptCore(key, read, write, written, chunkSize);
}

StreamStatus DecryptBuffer(const Bytes& key, const Bytes& cipher, Bytes& plain) {
  plain.clear();
  std::size_t offset = 0;
  Reader read = [&](std::uint8_t* buffer, std::size_t max) -> long long {
    const std::size_t n = std::min(max, cipher.size() - offset);
    std::copy(cipher.begin() + static_cast<std::ptrdiff_t>(offset),
              cipher.begin() + static_cast<std::ptrdiff_t>(offset + n), buffer);
    offset += n;
    return static_cast<long long>(n);
  };
  Writer write = [&](const std::uint8_t* data, std::size_t size) {
    plain.insert(plain.end(), data, data + size);
    return true;
  };
  std::uint64_t written = 0;
  return DecryptCore(key, read, write, written, 1 << 16);
}

bool EncryptBuffer(const Bytes& key, const Bytes& plain, Bytes& cipher) {
  if (key.size() != kKeySize) return false;
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  static const std::uint8_t kZeroIv[kBlockSize] = {};
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv) != 1) {
    return false;
  }
  cipher.assign(plain.size() + kBlockSize, 0);
  int length = 0;
  if (EVP_EncryptUpdate(ctx.get(), cipher.data(), &length, plain.data(),
                        static_cast<int>(plain.size())) != 1) {
    return false;
  }
  int tail = 0;
  if (EVP_EncryptFinal_ex(ctx.get(), cipher.data() + length, &tail) != 1) return false;
  cipher.resize(static_cast<std::size_t>(length + tail));
  return true;
}

Bytes FromHex(const std::string& hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Bytes out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int hi = nibble(hex[i]);
    const int lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return {};
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

std::string ToHex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace bv::decrypt
