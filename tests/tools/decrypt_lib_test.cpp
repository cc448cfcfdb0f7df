// The decryption tool's library: public test vectors for the keybag, the derived keys,
// key unwrap and the 16-byte test file; padding, streaming and file descriptions.
#include <gtest/gtest.h>

#include <cstdio>

#include "backup_decryptor.h"
#include "crypto.h"
#include "file_blob.h"
#include "keybag.h"
#include "mbdb_records.h"
#include "tests/tools/decrypt_fixture.h"

namespace bv::decrypt {
namespace {

namespace fs = std::filesystem;

using testing_decrypt::TempDir;

const char kWpky102[] =
    "528c9c5171bf8bef1ea397cf29d2a838c90529df02a6ad2f823a1c6f3a5b2040e2a309c520c6a2ab";
const char kWpkyPre102[] =
    "eba582ae3f5731863d270bd875e4c15566bd7847f98536f6674cf6cadc113f8b5bb7a71ebc48b7a5";
const char kWrappedZeroKey[] =
    "97317494343807e690fd1e431413963dc0e3deb4907fb89fa36ce65126d0ea1301381fb3a2941e2f";

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

// The all-zero keybags of the public fixtures (password "0000").
Bytes ZeroKeybag(bool withDp) {
  Bytes kb;
  Tag(kb, "VERS", withDp ? 5 : 3);
  Tag(kb, "TYPE", 1);
  Tag(kb, "UUID", Bytes(16, 0));
  Tag(kb, "HMCK", Bytes(40, 0));
  Tag(kb, "WRAP", 0);
  Tag(kb, "SALT", Bytes(20, 0));
  Tag(kb, "ITER", 10000);
  if (withDp) {
    Tag(kb, "DPWT", 1);
    Tag(kb, "DPIC", 10000000);
    Tag(kb, "DPSL", Bytes(20, 0));
  }
  for (std::uint32_t c = 11; c >= 1; --c) {
    Tag(kb, "UUID", Bytes(16, 0));
    Tag(kb, "CLAS", c);
    Tag(kb, "WRAP", (c == 11 || c == 10 || c == 9 || c == 5) ? 3 : 2);
    Tag(kb, "KTYP", 0);
    Tag(kb, "WPKY", FromHex(withDp ? kWpky102 : kWpkyPre102));
  }
  return kb;
}

TEST(DecryptKeybag, ParsesTheNewerPublicKeybagByTag) {
  const Bytes blob = ZeroKeybag(true);
  Keybag kb;
  std::string error;
  ASSERT_TRUE(ParseKeybag(blob.data(), blob.size(), kb, &error)) << error;
  EXPECT_EQ(kb.version, 5u);
  EXPECT_EQ(kb.type, 1u);
  EXPECT_EQ(kb.iterations, 10000u);
  EXPECT_EQ(kb.salt, Bytes(20, 0));
  EXPECT_TRUE(kb.hasDp);
  EXPECT_EQ(kb.dpIterations, 10000000u);
  ASSERT_EQ(kb.classes.size(), 11u);
  EXPECT_EQ(kb.classes[0].protectionClass, 11u);
  EXPECT_EQ(kb.classes[0].wrap, 3u);  // the header's WRAP did not leak into a class
  EXPECT_EQ(kb.classes[7].protectionClass, 4u);
  EXPECT_EQ(kb.classes[7].wrap, 2u);
  EXPECT_EQ(ToHex(kb.classes[10].wrappedKey), kWpky102);
}

TEST(DecryptKeybag, RejectsDamagedBlobs) {
  const Bytes good = ZeroKeybag(false);
  Keybag kb;
  std::string error;
  // A record whose length runs past the end.
  Bytes cut(good.begin(), good.end() - 3);
  EXPECT_FALSE(ParseKeybag(cut.data(), cut.size(), kb, &error));
  EXPECT_NE(error.find("past the end"), std::string::npos);
  // An integer tag of the wrong length.
  Bytes badInt;
  Tag(badInt, "ITER", Bytes{1, 2});
  EXPECT_FALSE(ParseKeybag(badInt.data(), badInt.size(), kb, &error));
  // No salt, and nothing at all.
  Bytes noSalt;
  Tag(noSalt, "ITER", 10);
  EXPECT_FALSE(ParseKeybag(noSalt.data(), noSalt.size(), kb, &error));
  EXPECT_FALSE(ParseKeybag(nullptr, 0, kb, &error));
  // A length near 2^32 must not wrap around the bounds check.
  Bytes huge = good;
  Bytes tail = {'W', 'P', 'K', 'Y', 0xFF, 0xFF, 0xFF, 0xF0, 1, 2};
  huge.insert(huge.end(), tail.begin(), tail.end());
  EXPECT_FALSE(ParseKeybag(huge.data(), huge.size(), kb, &error));
  // Fewer than 8 stray bytes at the end are no record and no harm.
  Bytes stray = good;
  stray.push_back(0);
  EXPECT_TRUE(ParseKeybag(stray.data(), stray.size(), kb, &error));
  // DPSL without DPIC: the single-stage derivation.
  Bytes half = good;
  Tag(half, "DPSL", Bytes(20, 1));
  ASSERT_TRUE(ParseKeybag(half.data(), half.size(), kb, &error));
  EXPECT_FALSE(kb.hasDp);
}

TEST(DecryptKeybag, OlderPublicVectorDerivesAndUnlocks) {
  const Bytes blob = ZeroKeybag(false);
  Keybag kb;
  ASSERT_TRUE(ParseKeybag(blob.data(), blob.size(), kb, nullptr));
  Bytes kek;
  ASSERT_TRUE(DeriveKek(kb, "0000", kek));
  EXPECT_EQ(ToHex(kek), "a1f9ad8aab0647485a344fda6dcc4eaad54819a775676b70ad61044beefdede4");
  ClassKeys keys;
  ASSERT_EQ(UnlockKeybag(kb, kek, keys), UnlockResult::kOk);
  // Only the password-only classes give usable keys: 8, 7, 6, 4, 3, 2, 1.
  EXPECT_EQ(keys.keys.size(), 7u);
  ASSERT_NE(keys.Find(4), nullptr);
  EXPECT_EQ(*keys.Find(4), Bytes(32, 0));
  EXPECT_EQ(keys.Find(11), nullptr);

  Bytes wrongKek;
  ASSERT_TRUE(DeriveKek(kb, "0001", wrongKek));
  EXPECT_EQ(UnlockKeybag(kb, wrongKek, keys), UnlockResult::kWrongPassword);
  EXPECT_TRUE(keys.keys.empty());
}

TEST(DecryptKeybag, NewerPublicVectorTwoStageDerivation) {
  // Ten million SHA-256 iterations: the real cost, a few seconds.
  const Bytes blob = ZeroKeybag(true);
  Keybag kb;
  ASSERT_TRUE(ParseKeybag(blob.data(), blob.size(), kb, nullptr));
  Bytes kek;
  ASSERT_TRUE(DeriveKek(kb, "0000", kek));
  EXPECT_EQ(ToHex(kek), "ec8edc160b5745ccae000bfb4787630f322821191fba7eea38feab2c6307cd9b");
  ClassKeys keys;
  ASSERT_EQ(UnlockKeybag(kb, kek, keys), UnlockResult::kOk);
  ASSERT_NE(keys.Find(3), nullptr);
  EXPECT_EQ(*keys.Find(3), Bytes(32, 0));
}

TEST(DecryptCrypto, Rfc3394VectorBothWays) {
  const Bytes kek = FromHex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
  const Bytes data = FromHex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
  const std::string expected =
      "28c9f404c4b810f4cbccb35cfb87f8263f5786e2d80ed326cbc7f0e71a99f43bfb988b9b7a02dd21";
  Bytes wrapped;
  ASSERT_TRUE(AesWrap(kek, data, wrapped));
  EXPECT_EQ(ToHex(wrapped), expected);
  Bytes unwrapped;
  ASSERT_TRUE(AesUnwrap(kek, FromHex(expected), unwrapped));
  EXPECT_EQ(unwrapped, data);
  // One flipped bit fails the integrity check; wrong sizes are refused.
  Bytes flipped = FromHex(expected);
  flipped[20] ^= 1;
  EXPECT_FALSE(AesUnwrap(kek, flipped, unwrapped));
  EXPECT_FALSE(AesUnwrap(kek, Bytes(24, 0), unwrapped));
  EXPECT_FALSE(AesUnwrap(Bytes(16, 0), FromHex(expected), unwrapped));
}

TEST(DecryptCrypto, PublicManifestKeyAndTestFile) {
  const Bytes stored = FromHex(std::string("02000000") + kWrappedZeroKey);
  WrappedKey wrapped;
  ASSERT_TRUE(ParseWrappedKey(stored.data(), stored.size(), wrapped));
  EXPECT_EQ(wrapped.protectionClass, 2u);  // little-endian prefix
  EXPECT_FALSE(ParseWrappedKey(stored.data(), 43, wrapped));

  ClassKeys keys;
  keys.keys[2] = Bytes(32, 0);
  Bytes fileKey;
  ASSERT_TRUE(UnwrapFileKey(keys, wrapped, 0, fileKey));
  EXPECT_EQ(fileKey, Bytes(32, 0));
  // A wrong preferred class falls back to the prefix.
  ASSERT_TRUE(UnwrapFileKey(keys, wrapped, 9, fileKey));

  Bytes plain;
  EXPECT_EQ(DecryptBuffer(fileKey, FromHex("78b51ca5374c3ad575174288688cda49"), plain),
            StreamStatus::kOk);
  EXPECT_EQ(std::string(plain.begin(), plain.end()), "Test data");
}

TEST(DecryptCrypto, PaddingIsStrippedOnlyWhenValid) {
  const Bytes key(32, 7);
  for (std::size_t size : {0u, 1u, 15u, 16u, 31u, 32u, 48u}) {
    Bytes plain(size, 0x5A);
    Bytes cipher;
    ASSERT_TRUE(EncryptBuffer(key, plain, cipher));
    EXPECT_EQ(cipher.size(), (size / 16 + 1) * 16) << size;  // a full pad block at 16*k
    Bytes back;
    EXPECT_EQ(DecryptBuffer(key, cipher, back), StreamStatus::kOk) << size;
    EXPECT_EQ(back, plain) << size;
  }
  // Unpadded ciphertext (the public manifest fixture has none): kept whole, reported.
  Bytes block(32, 0x10);
  Bytes raw;
  {
    Bytes cipher;
    ASSERT_TRUE(EncryptBuffer(key, Bytes(32, 0x41), cipher));
    cipher.resize(32);  // drop the pad block: what remains decrypts to 'A' * 32
    EXPECT_EQ(DecryptBuffer(key, cipher, raw), StreamStatus::kBadPadding);
    EXPECT_EQ(raw, Bytes(32, 0x41));
  }
  // Cut short inside a block: the whole blocks are kept.
  {
    Bytes cipher;
    ASSERT_TRUE(EncryptBuffer(key, Bytes(40, 0x42), cipher));
    cipher.resize(37);
    EXPECT_EQ(DecryptBuffer(key, cipher, raw), StreamStatus::kTruncated);
    EXPECT_EQ(raw, Bytes(32, 0x42));
  }
  EXPECT_EQ(DecryptBuffer(key, Bytes{}, raw), StreamStatus::kEmpty);
  EXPECT_EQ(Pkcs7PadLength(block.data(), 16), 16u);
  block[10] = 0x0F;  // outside the pad block
  EXPECT_EQ(Pkcs7PadLength(block.data(), 32), 16u);
  block[31] = 0;
  EXPECT_EQ(Pkcs7PadLength(block.data(), 32), 0u);
  block[31] = 17;
  EXPECT_EQ(Pkcs7PadLength(block.data(), 32), 0u);
}

TEST(DecryptCrypto, StreamingMatchesAcrossChunkSizes) {
  const Bytes key(32, 3);
  const std::string content = testing_decrypt::RandomBytes(70000, 9);
  Bytes cipher;
  ASSERT_TRUE(EncryptBuffer(key, Bytes(content.begin(), content.end()), cipher));
  for (std::size_t chunk : {16u, 17u, 4096u, 65536u, 1u << 20}) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(in && out);
    std::fwrite(cipher.data(), 1, cipher.size(), in);
    std::rewind(in);
    std::uint64_t written = 0;
    EXPECT_EQ(DecryptStream(key, in, out, written, chunk), StreamStatus::kOk) << chunk;
    EXPECT_EQ(written, content.size());
    std::rewind(out);
    std::string back(content.size() + 32, '\0');
    back.resize(std::fread(back.data(), 1, back.size(), out));
    EXPECT_EQ(back, content) << chunk;
    std::fclose(in);
    std::fclose(out);
  }
}

TEST(DecryptFileBlob, ReadsKeysInlineOrByReference) {
  const Bytes key44 = FromHex(std::string("03000000") + kWrappedZeroKey);
  auto build = [&](bool byUid, bool withKey) {
    plist_t root = plist_new_dict();
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "root", plist_new_uid(1));
    plist_dict_set_item(root, "$top", top);
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t file = plist_new_dict();
    plist_dict_set_item(file, "Size", plist_new_uint(9));
    if (withKey) plist_dict_set_item(file, "EncryptionKey", plist_new_uid(2));
    plist_array_append_item(objects, file);
    plist_t data = plist_new_dict();
    plist_t bytes = plist_new_data(reinterpret_cast<const char*>(key44.data()), key44.size());
    if (byUid) {
      plist_dict_set_item(data, "NS.data", plist_new_uid(3));
      plist_array_append_item(objects, data);
      plist_array_append_item(objects, bytes);
    } else {
      plist_dict_set_item(data, "NS.data", bytes);
      plist_array_append_item(objects, data);
    }
    plist_dict_set_item(root, "$objects", objects);
    char* bin = nullptr;
    uint32_t len = 0;
    plist_to_bin(root, &bin, &len);
    Bytes out(bin, bin + len);
    plist_to_bin_free(bin);
    plist_free(root);
    return out;
  };
  for (bool byUid : {false, true}) {
    const Bytes blob = build(byUid, true);
    FileBlobInfo info;
    ASSERT_TRUE(ParseFileBlob(blob.data(), blob.size(), info));
    EXPECT_TRUE(info.hasKey);
    EXPECT_EQ(info.encryptionKey, key44);
    EXPECT_EQ(info.size, 9);
    EXPECT_EQ(info.protectionClass, 0u);  // missing, like the public fixture
  }
  const Bytes plainBlob = build(false, false);
  FileBlobInfo info;
  ASSERT_TRUE(ParseFileBlob(plainBlob.data(), plainBlob.size(), info));
  EXPECT_FALSE(info.hasKey);
  const Bytes junk = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3};
  EXPECT_FALSE(ParseFileBlob(junk.data(), junk.size(), info));
  EXPECT_FALSE(ParseFileBlob(nullptr, 0, info));
}

// The public mbdb record and data file, decrypted as a whole older backup.
TEST(DecryptRun, PublicOlderBackupVector) {
  Bytes mbdb = {'m', 'b', 'd', 'b', 5, 0, 0, 0x0c};
  auto append = [&](const std::string& s) { mbdb.insert(mbdb.end(), s.begin(), s.end()); };
  append("MyTestDomain");
  mbdb.insert(mbdb.end(), {0, 0x0e});
  append("Media/Test.txt");
  mbdb.insert(mbdb.end(), {0xff, 0xff, 0xff, 0xff, 0x00, 0x2c, 0x04, 0, 0, 0});
  const Bytes wrapped = FromHex(kWrappedZeroKey);
  mbdb.insert(mbdb.end(), wrapped.begin(), wrapped.end());
  const Bytes fixed =
      FromHex("81ed00000000000012d8000001f5000001f5610a911f610a914d6108ed2400000000000000090400");
  mbdb.insert(mbdb.end(), fixed.begin(), fixed.end());

  std::vector<MbdbRecord> records;
  bool complete = false;
  ASSERT_TRUE(ParseMbdb(mbdb.data(), mbdb.size(), records, &complete));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(complete);
  EXPECT_EQ(records[0].fileId, "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc");
  EXPECT_TRUE(records[0].IsRegularFile());
  EXPECT_EQ(records[0].size, 9u);
  EXPECT_EQ(records[0].protectionClass, 4);
  // Every prefix of the record is cut short: no record, no crash.
  for (std::size_t n = 7; n < mbdb.size(); ++n) {
    ASSERT_TRUE(ParseMbdb(mbdb.data(), n, records, &complete));
    EXPECT_TRUE(records.empty());
    EXPECT_FALSE(complete);
  }

  TempDir dir;
  const auto backup = dir.path() / "backup";
  testing_decrypt::WriteAll(backup / "Manifest.mbdb", std::string(mbdb.begin(), mbdb.end()));
  const Bytes data = FromHex("78b51ca5374c3ad575174288688cda49");
  testing_decrypt::WriteAll(backup / "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc",
                            std::string(data.begin(), data.end()));
  const Bytes keybag = ZeroKeybag(false);
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "BackupKeyBag",
                      plist_new_data(reinterpret_cast<const char*>(keybag.data()), keybag.size()));
  plist_dict_set_item(root, "IsEncrypted", plist_new_bool(1));
  char* xml = nullptr;
  uint32_t len = 0;
  plist_to_xml(root, &xml, &len);  // the XML form must read as well as the binary one
  testing_decrypt::WriteAll(backup / "Manifest.plist", std::string(xml, len));
  plist_to_xml_free(xml);
  plist_free(root);

  std::vector<std::string> lines;
  const int code = DecryptBackupFolder(backup, dir.path() / "out", "0000",
                                       [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(code, kExitOk);
  EXPECT_EQ(
      testing_decrypt::ReadAll(dir.path() / "out" / "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc"),
      "Test data");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Count: 0");
  EXPECT_EQ(lines.back(), "Count: 1");

  lines.clear();
  EXPECT_EQ(DecryptBackupFolder(backup, dir.path() / "out2", "1234",
                                [&](const std::string& l) { lines.push_back(l); }),
            kExitWrongPassword);
  EXPECT_EQ(lines, std::vector<std::string>{"Wrong password"});
  EXPECT_TRUE(fs::is_empty(dir.path() / "out2"));
}

}  // namespace
}  // namespace bv::decrypt
