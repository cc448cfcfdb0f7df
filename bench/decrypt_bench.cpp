// Decryption benchmark: key derivation of the tool against OpenSSL's own
// PKCS5_PBKDF2_HMAC with the same parameters, and file decryption throughput against
// `openssl enc -d -aes-256-cbc` on the same data. Each figure is the median of several
// runs made in this one process run, so both sides see the same machine state.
//
//   bench_decrypt [--size-mb N] [--runs N] [--dpic N] [--iter N] [--dir FOLDER]
//   defaults: 1024 MB, 5 runs, DPIC 1,000,000, ITER 10,000, the system's temp folder
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "crypto.h"
#include "keybag.h"

namespace fs = std::filesystem;
using bv::decrypt::Bytes;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Tag(Bytes& out, const char* tag, const Bytes& value) {
  out.insert(out.end(), tag, tag + 4);
  const auto n = static_cast<std::uint32_t>(value.size());
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(n >> s));
  out.insert(out.end(), value.begin(), value.end());
}
void Tag(Bytes& out, const char* tag, std::uint32_t v) {
  Tag(out, tag,
      Bytes{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

bool WriteCipherFile(const fs::path& path, const Bytes& key, std::uint64_t size) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[16] = {};
  EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv);
  std::mt19937_64 gen(42);
  std::vector<std::uint8_t> plain(1 << 20), cipher((1 << 20) + 16);
  int n = 0;
  for (std::uint64_t done = 0; done < size; done += plain.size()) {
    for (std::size_t i = 0; i < plain.size(); i += 8) {
      const std::uint64_t r = gen();
      std::memcpy(plain.data() + i, &r, 8);
    }
    EVP_EncryptUpdate(ctx, cipher.data(), &n, plain.data(), static_cast<int>(plain.size()));
    std::fwrite(cipher.data(), 1, static_cast<std::size_t>(n), out);
  }
  EVP_EncryptFinal_ex(ctx, cipher.data(), &n);
  std::fwrite(cipher.data(), 1, static_cast<std::size_t>(n), out);
  EVP_CIPHER_CTX_free(ctx);
  return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMb = 1024;
  int runs = 5;
  std::uint32_t dpic = 1'000'000;
  std::uint32_t iter = 10'000;
  fs::path dir = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--size-mb")
      sizeMb = std::strtoull(argv[i + 1], nullptr, 10);
    else if (a == "--runs")
      runs = std::atoi(argv[i + 1]);
    else if (a == "--dpic")
      dpic = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (a == "--iter")
      iter = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (a == "--dir")
      dir = argv[i + 1];
  }
  if (runs < 1 || sizeMb == 0 || dpic == 0 || iter == 0) return 2;

  // ---- key derivation -------------------------------------------------------------
  Bytes blob;
  Tag(blob, "VERS", 5);
  Tag(blob, "SALT", Bytes(20, 1));
  Tag(blob, "ITER", iter);
  Tag(blob, "DPIC", dpic);
  Tag(blob, "DPSL", Bytes(20, 2));
  bv::decrypt::Keybag keybag;
  if (!bv::decrypt::ParseKeybag(blob.data(), blob.size(), keybag, nullptr)) return 1;
  const std::string password = "benchmark password";
  std::vector<double> ours, reference;
  Bytes kek, check(32), first(32);
  for (int r = 0; r < runs; ++r) {
    auto t = Clock::now();
    bv::decrypt::DeriveKek(keybag, password, kek);
    ours.push_back(Seconds(t));
    t = Clock::now();
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), keybag.dpSalt.data(), 20,
                      static_cast<int>(dpic), EVP_sha256(), 32, first.data());
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(first.data()), 32, keybag.salt.data(), 20,
                      static_cast<int>(iter), EVP_sha1(), 32, check.data());
    reference.push_back(Seconds(t));
    if (check != kek) {
      std::fprintf(stderr, "derived keys differ\n");
      return 1;
    }
  }
  std::printf(
      "key derivation (DPIC %u, ITER %u): tool %.3f s, OpenSSL PKCS5_PBKDF2_HMAC %.3f s, "
      "tool/OpenSSL time ratio %.3f\n",
      dpic, iter, Median(ours), Median(reference), Median(ours) / Median(reference));

  // ---- throughput -----------------------------------------------------------------
  const Bytes key =
      bv::decrypt::FromHex("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff");
  const fs::path cipher = dir / "bv_bench_cipher.bin";
  const fs::path plainOurs = dir / "bv_bench_plain_tool.bin";
  const fs::path plainSsl = dir / "bv_bench_plain_openssl.bin";
  const std::uint64_t size = sizeMb << 20;
  if (!WriteCipherFile(cipher, key, size)) return 1;
  const std::string command = "openssl enc -d -aes-256-cbc -K " + bv::decrypt::ToHex(key) +
                              " -iv 00000000000000000000000000000000 -in '" + cipher.string() +
                              "' -out '" + plainSsl.string() + "'";
  std::vector<double> oursT, sslT;
  auto runOurs = [&] {
    fs::remove(plainOurs);
    const auto t = Clock::now();
    std::FILE* in = std::fopen(cipher.c_str(), "rb");
    std::FILE* out = std::fopen(plainOurs.c_str(), "wb");
    std::uint64_t written = 0;
    const auto status = bv::decrypt::DecryptStream(key, in, out, written);
    std::fclose(in);
    std::fclose(out);
    oursT.push_back(Seconds(t));
    return status == bv::decrypt::StreamStatus::kOk && written == size;
  };
  auto runSsl = [&] {
    fs::remove(plainSsl);
    const auto t = Clock::now();
    const bool ok = std::system(command.c_str()) == 0;
    sslT.push_back(Seconds(t));
    return ok;
  };
  // Alternate who goes first, so neither always pays for the other's writes.
  for (int r = 0; r < runs; ++r) {
    const bool ok = r % 2 ? (runSsl() && runOurs()) : (runOurs() && runSsl());
    if (!ok) {
      std::fprintf(stderr, "a decryption failed\n");
      return 1;
    }
  }
  const bool same = fs::file_size(plainOurs) == fs::file_size(plainSsl);
  const double mb = static_cast<double>(sizeMb);
  std::printf(
      "decryption of %llu MB: tool %.0f MB/s, openssl enc %.0f MB/s, tool/openssl "
      "throughput ratio %.2f%s\n",
      static_cast<unsigned long long>(sizeMb), mb / Median(oursT), mb / Median(sslT),
      Median(sslT) / Median(oursT), same ? "" : " (output sizes differ!)");
  fs::remove(cipher);
  fs::remove(plainOurs);
  fs::remove(plainSsl);
  return same ? 0 : 1;
}
