// Character references in Info.plist values, binary Info.plist files and
// Manifest.plist's IsEncrypted.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <string>

#include "catalogue/discovery.h"
#include "catalogue/plist_values.h"
#include "catalogue_fixture.h"
#include "common/text.h"

namespace bv {
namespace {

using testing::TempFolder;
using testing::WriteFile;

TEST(XmlReferencesTest, EntitiesAndNumbersDecodeOnce) {
  EXPECT_EQ(DecodeXmlReferences("Tom &amp; Ann"), "Tom & Ann");
  EXPECT_EQ(DecodeXmlReferences("&lt;&gt;&quot;&apos;&amp;"), "<>\"'&");
  EXPECT_EQ(DecodeXmlReferences("Tom &#38; Ann&#x27;s"), "Tom & Ann's");
  EXPECT_EQ(DecodeXmlReferences("&#x26;&#X26;"), "&&#X26;");  // only a small x in XML
  EXPECT_EQ(DecodeXmlReferences("&#xe9;t&#233;"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(DecodeXmlReferences("&#x1F4F1;"), "\xF0\x9F\x93\xB1");
  EXPECT_EQ(DecodeXmlReferences("&#x4E2D;&#25991;"), "\xE4\xB8\xAD\xE6\x96\x87");
  // One pass: what a reference gives is not read again.
  EXPECT_EQ(DecodeXmlReferences("&amp;amp;"), "&amp;");
  EXPECT_EQ(DecodeXmlReferences("&#38;lt;"), "&lt;");
  // Text without references, and UTF-8 around them, is unchanged.
  EXPECT_EQ(DecodeXmlReferences("Anna\xE2\x80\x99s iPhone"), "Anna\xE2\x80\x99s iPhone");
  EXPECT_EQ(DecodeXmlReferences(""), "");
}

TEST(XmlReferencesTest, MalformedReferencesStayAsTheyAre) {
  for (const char* text :
       {"Tom & Ann",          // a lone "&"
        "&",                  // at the very end
        "Tom &amp Ann",       // no ";"
        "&amp",               // no ";" at the end
        "&#38 Ann",           // a number without ";"
        "&#38",               //
        "&nbsp;",             // not one of XML's five
        "&AMP;",              // names are case-sensitive
        "&#;",                // no digits
        "&#x;",               //
        "&#12a;",             // a letter in a decimal number
        "&#xG1;",             //
        "&#0;",               // not an XML character
        "&#x1F;",             //
        "&#xD800;",           // a surrogate
        "&#xFFFE;",           //
        "&#x110000;",         // beyond Unicode
        "&#99999999999999;",  // far beyond, without wrapping round to a character
        "&#x0000000000026;junk&"}) {
    const std::string s(text);
    if (s == "&#x0000000000026;junk&") {
      // Leading zeros are fine; the stray "&" at the end stays.
      EXPECT_EQ(DecodeXmlReferences(s), "&junk&");
      continue;
    }
    EXPECT_EQ(DecodeXmlReferences(s), s) << s;
  }
  EXPECT_EQ(DecodeXmlReferences("& &amp; &"), "& & &");
  EXPECT_EQ(DecodeXmlReferences("&&amp;&#38;&"), "&&&&");
}

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
std::string Binary(plist_t root) {
  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(root, &bin, &length);
  std::string out(bin, length);
  plist_to_bin_free(bin);
  plist_free(root);
  return out;
}
std::string Xml(plist_t root) {
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(root, &xml, &length);
  std::string out(xml, length);
  plist_to_xml_free(xml);
  plist_free(root);
  return out;
}

TEST(BinaryInfoPlistTest, ValuesOfEveryTypeAndDamagedLists) {
  plist_t d = plist_new_dict();
  plist_dict_set_item(d, "Display Name", plist_new_string("Tom & Ann\xE2\x80\x99s iPhone"));
  // 2019-05-12 10:20:30.75 UTC, in seconds from 2001-01-01.
  plist_dict_set_item(d, "Last Backup Date", plist_new_date(579349230, 750000));
  plist_dict_set_item(d, "Phone Number", plist_new_string("+1 (555) 010-9999"));
  plist_dict_set_item(d, "Product Version", plist_new_string("12.4.1"));
  plist_dict_set_item(d, "Serial Number", plist_new_uint(12345));  // not a string
  const std::string bytes = Binary(d);
  ASSERT_TRUE(IsBinaryPlist(bytes));
  InfoPlistValues v;
  ASSERT_TRUE(ReadBinaryInfoPlist(bytes, v));
  EXPECT_EQ(v.displayName, "Tom & Ann\xE2\x80\x99s iPhone");  // no references in binary
  EXPECT_EQ(v.lastBackupDate, "2019-05-12 10:20:30");
  EXPECT_EQ(v.phoneNumber, "+1 (555) 010-9999");
  EXPECT_EQ(v.productVersion, "12.4.1");
  EXPECT_FALSE(v.serialNumber.has_value());

  // A date given as text goes the text reader's way.
  plist_t t = plist_new_dict();
  plist_dict_set_item(t, "Last Backup Date", plist_new_string("2019-05-12T10:20:30Z"));
  ASSERT_TRUE(ReadBinaryInfoPlist(Binary(t), v));
  EXPECT_EQ(v.lastBackupDate, "2019-05-12 10:20:30");
  EXPECT_FALSE(v.displayName.has_value());

  // Not a dictionary at the root, the XML form, cut short, garbage after the magic.
  EXPECT_FALSE(ReadBinaryInfoPlist(Binary(plist_new_string("x")), v));
  plist_t x = plist_new_dict();
  plist_dict_set_item(x, "Display Name", plist_new_string("X"));
  EXPECT_FALSE(ReadBinaryInfoPlist(Xml(x), v));
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    InfoPlistValues part;
    if (!ReadBinaryInfoPlist(bytes.substr(0, cut), part)) {
      EXPECT_FALSE(part.displayName.has_value()) << cut;
    }
  }
  EXPECT_FALSE(ReadBinaryInfoPlist("bplist00" + std::string(40, '\xFF'), v));
  EXPECT_FALSE(ReadBinaryInfoPlist("bplist0", v));
}

TEST(BinaryInfoPlistTest, ManifestFlagInEitherForm) {
  auto manifest = [](plist_t flag) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "Version", plist_new_string("10.0"));
    if (flag) plist_dict_set_item(d, "IsEncrypted", flag);
    return d;
  };
  EXPECT_EQ(ReadManifestEncryptedFlag(Binary(manifest(plist_new_bool(1)))), true);
  EXPECT_EQ(ReadManifestEncryptedFlag(Binary(manifest(plist_new_bool(0)))), false);
  EXPECT_EQ(ReadManifestEncryptedFlag(Xml(manifest(plist_new_bool(1)))), true);
  EXPECT_EQ(ReadManifestEncryptedFlag(Binary(manifest(nullptr))), std::nullopt);
  EXPECT_EQ(ReadManifestEncryptedFlag(Binary(manifest(plist_new_string("yes")))), std::nullopt);
  EXPECT_EQ(ReadManifestEncryptedFlag("not a list"), std::nullopt);
  EXPECT_EQ(ReadManifestEncryptedFlag(""), std::nullopt);
}

TEST(BinaryInfoPlistTest, ProbeAsksTheManifestOnlyWithoutAnAddressBook) {
  TempFolder dir("probe-manifest");
  const std::string id = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
  auto flagged = [](bool on) {
    plist_t d = plist_new_dict();
    plist_dict_set_item(d, "IsEncrypted", plist_new_bool(on));
    return d;
  };
  // No address book: the manifest says it, in either form.
  WriteFile(dir.path() / "Manifest.plist", Binary(flagged(true)));
  EXPECT_TRUE(ProbeEncrypted(dir.wide()));
  WriteFile(dir.path() / "Manifest.plist", Xml(flagged(true)));
  EXPECT_TRUE(ProbeEncrypted(dir.wide()));
  WriteFile(dir.path() / "Manifest.plist", Binary(flagged(false)));
  EXPECT_FALSE(ProbeEncrypted(dir.wide()));
  WriteFile(dir.path() / "Manifest.plist", "bplist00 damaged");
  EXPECT_FALSE(ProbeEncrypted(dir.wide()));
  // An address book that opens decides, whatever the manifest says.
  WriteFile(dir.path() / "Manifest.plist", Binary(flagged(true)));
  WriteFile(dir.path() / id, "SQLite format 3" + std::string(600, '\0'));
  EXPECT_FALSE(ProbeEncrypted(dir.wide()));
}

}  // namespace
}  // namespace bv
