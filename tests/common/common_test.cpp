#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/hash.h"
#include "common/stable_sort.h"
#include "common/text.h"

namespace bv {
namespace {

TEST(HashTest, Sha1StandardVectors) {
  EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  // One million 'a', fed in uneven pieces so the block buffering is exercised.
  Sha1 h;
  std::string chunk(997, 'a');
  std::size_t left = 1000000;
  while (left) {
    std::size_t n = left < chunk.size() ? left : chunk.size();
    h.Update(chunk.data(), n);
    left -= n;
  }
  auto d = h.Final();
  EXPECT_EQ(HexLower(d.data(), d.size()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(HashTest, BackupIdentifiersAreSha1OfDomainAndPath) {
  EXPECT_EQ(Sha1Hex("HomeDomain-Library/SMS/sms.db"), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(Sha1Hex("HomeDomain-Library/AddressBook/AddressBook.sqlitedb"),
            "31bb7ba8914766d4ba40d6dfb6113c8b614be442");
}

TEST(HashTest, Md5StandardVectors) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(
      Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
  // Large input across many blocks: a 10 MB run of one byte, in pieces.
  Md5 h;
  std::string chunk(4099, 'x');
  for (int i = 0; i < 2440; ++i) h.Update(chunk.data(), chunk.size());
  auto d = h.Final();
  Md5 whole;
  std::string all(4099u * 2440u, 'x');
  whole.Update(all.data(), all.size());
  auto w = whole.Final();
  EXPECT_EQ(HexLower(d.data(), d.size()), HexLower(w.data(), w.size()));
}

TEST(FormatTest, DurationTexts) {
  EXPECT_EQ(FormatDuration(0), "0 Sec");
  EXPECT_EQ(FormatDuration(59), "59 Sec");
  EXPECT_EQ(FormatDuration(60), "1 Min 0 Sec");
  EXPECT_EQ(FormatDuration(3599), "59 Min 59 Sec");
  EXPECT_EQ(FormatDuration(3600), "1 Hour 0 Min");
  EXPECT_EQ(FormatDuration(7384), "2 Hour 3 Min");
  EXPECT_EQ(FormatDuration(-5), "-5 Sec");
}

TEST(FormatTest, SizeTexts) {
  EXPECT_EQ(FormatSize(0), "0 Bytes");
  EXPECT_EQ(FormatSize(1023), "1023 Bytes");
  EXPECT_EQ(FormatSize(1024), "1.00 KB");
  EXPECT_EQ(FormatSize(1536), "1.50 KB");
  EXPECT_EQ(FormatSize(1048576), "1.00 MB");
  EXPECT_EQ(FormatSize(1073741824LL * 3 / 2), "1.50 GB");
  EXPECT_EQ(FormatSize(1099511627776LL * 2), "2.00 TB");
  EXPECT_EQ(FormatSize(-1), "-1 Bytes");
}

TEST(TextTest, Utf8RoundTripAndInvalidInput) {
  EXPECT_EQ(ValidUtf8(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(ValidUtf8("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"), "caf\u00E9 \u4E2D \U0001F600");
  EXPECT_EQ(("caf\u00E9 \u4E2D \U0001F600"), "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80");
  // Truncated, overlong and stray continuation bytes become replacement characters.
  EXPECT_EQ(ValidUtf8("a\xE4\xB8"), "a\uFFFD");
  EXPECT_EQ(ValidUtf8("\xC0\xAF"
                      "b"),
            "\uFFFD"
            "b");
  EXPECT_EQ(ValidUtf8("\x80x"), "\uFFFDx");
  EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "\uFFFD");  // encoded surrogate
}

TEST(TextTest, ReplaceAllResumesAfterInsertedText) {
  std::string s = "a&amp;b&amp;&amp;";
  ReplaceAll(s, "&amp;", "&");
  EXPECT_EQ(s, "a&b&&");
  std::string grow = "xx";
  ReplaceAll(grow, "x", "xx");  // must not loop forever
  EXPECT_EQ(grow, "xxxx");
  std::string same = "abc";
  ReplaceAll(same, "", "z");
  EXPECT_EQ(same, "abc");
}

TEST(TextTest, CaseFoldingIsAsciiOnly) {
  EXPECT_EQ(CompareNoCase("SQLite", "sqlite"), 0);
  EXPECT_LT(CompareNoCase("img_2.JPG", "IMG_3.JPG"), 0);
  EXPECT_NE(CompareNoCase("\u00C9", "\u00E9"), 0);  // non-ASCII letters are not folded
  EXPECT_LT(CompareNoCase("abc", "abcd"), 0);
  EXPECT_EQ(FindNoCase("xxHeLLo", "hello"), 2u);
}

TEST(TextTest, ParseIntTakesLeadingDigits) {
  EXPECT_EQ(ParseInt32("12.4.1"), 12);
  EXPECT_EQ(ParseInt32("abc"), 0);
  EXPECT_EQ(ParseInt32(nullptr), 0);
  EXPECT_EQ(ParseInt32("  -42x"), -42);
  EXPECT_EQ(ParseInt32("99999999999"), 2147483647);
  EXPECT_EQ(ParseInt64("-99999999999999999999"), INT64_MIN);
}

TEST(StableSortTest, KeepsOrderOfEqualKeys) {
  std::vector<std::pair<int, int>> v;
  for (int i = 0; i < 1000; ++i) v.push_back({(i * 7919) % 13, i});
  StableMergeSort(v, [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < v.size(); ++i) {
    ASSERT_LE(v[i - 1].first, v[i].first);
    if (v[i - 1].first == v[i].first) {
      ASSERT_LT(v[i - 1].second, v[i].second);
    }
  }
}

}  // namespace
}  // namespace bv
