// HEIF pictures (HEIC, AVIF): their detection rows, their places in the media
// categories, and their preview as a decoded picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/classification.h"
#include "catalogue/detection.h"
#include "catalogue/discovery.h"
#include "catalogue/heif_picture.h"
#include "catalogue/local_recovery.h"
#include "catalogue_fixture.h"
#include "common/hash.h"
#include "common/text.h"
#include "platform/utf8.h"
#include "mkbackup.h"
#include "support/support.h"

namespace bv {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}
// An ftyp box with these brands, followed by zeros up to 512 bytes.
std::string Ftyp(const std::string& major, const std::vector<std::string>& compatible,
                 std::size_t size = 512) {
  std::string box = "ftyp" + major + std::string(4, '\0');
  for (const auto& b : compatible) box += b;
  std::string out = Be32(static_cast<std::uint32_t>(box.size() + 4)) + box;
  out.resize(size, '\0');
  return out;
}
int Code(const std::string& bytes) {
  return RecogniseBuffer(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
std::string Picture(mkbackup::HeifCodec codec, unsigned variant = 0) {
  std::string error;
  std::string bytes = mkbackup::HeifPicture(codec, mkbackup::kHeifSampleWidth,
                                            mkbackup::kHeifSampleHeight, variant, &error);
  EXPECT_FALSE(bytes.empty()) << error;
  // A "free" box at the end, as mkbackup adds, takes tiny pictures past the 512 bytes
  // that detection needs.
  if (bytes.size() < 1024) {
    const std::string filler(1024 - bytes.size() - 8, 'f');
    bytes += Be32(static_cast<std::uint32_t>(filler.size() + 8)) + "free" + filler;
  }
  return bytes;
}

TEST(HeifRecogniserTest, EveryBrandOfHeifAndAvif) {
  for (const char* brand : {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1"}) {
    EXPECT_EQ(Code(Ftyp(brand, {})), kTypeHeic) << brand;
    EXPECT_EQ(Code(Ftyp(brand, {"mif1", "miaf"})), kTypeHeic) << brand;
  }
  EXPECT_EQ(Code(Ftyp("avif", {"mif1", "miaf"})), kTypeAvif);
  // A generic structure brand says its coding among the compatible brands.
  EXPECT_EQ(Code(Ftyp("mif1", {"avif", "miaf"})), kTypeAvif);
  EXPECT_EQ(Code(Ftyp("mif1", {"avif", "heic"})), kTypeHeic);
  EXPECT_EQ(Code(Ftyp("msf1", {"avif"})), kTypeAvif);
  EXPECT_STREQ(ExtensionOfCode(kTypeHeic), "heic");
  EXPECT_STREQ(ExtensionOfCode(kTypeAvif), "avif");
  EXPECT_TRUE(IsHeifFamily(kTypeHeic));
  EXPECT_TRUE(IsHeifFamily(kTypeAvif));
  EXPECT_FALSE(IsHeifFamily(18));
}

TEST(HeifRecogniserTest, OlderRowsKeepTheirFilesAndNearMissesAreNothing) {
  // Films that list HEIF brands among their compatible ones stay what they were.
  EXPECT_EQ(Code(Ftyp("isom", {"mif1", "heic"})), 18);
  EXPECT_EQ(Code(Ftyp("mp42", {"msf1"})), 18);
  EXPECT_EQ(Code(Ftyp("qt  ", {"heic"})), 17);
  EXPECT_EQ(Code(Ftyp("3gp4", {"mif1"})), 16);
  // An MP4 brand the table does not know is not made a picture by its compatible mif1.
  EXPECT_EQ(Code(Ftyp("mp41", {"mif1", "isom"})), kTypeUnknown);
  EXPECT_EQ(Code(Ftyp("M4V ", {"mif1"})), kTypeUnknown);
  EXPECT_EQ(Code(Ftyp("heif", {})), kTypeUnknown);  // not a brand of the list

  std::string box = Ftyp("heic", {"mif1"});
  // A box too small for its own brand fields.
  box.replace(0, 4, Be32(12));
  EXPECT_EQ(Code(box), kTypeUnknown);
  // A box size that points past the bytes there are: past the block, and past the
  // 128 bytes that the device source looks at.
  box.replace(0, 4, Be32(513));
  EXPECT_EQ(Code(box), kTypeUnknown);
  box.replace(0, 4, Be32(200));
  EXPECT_EQ(Code(box), kTypeHeic);
  EXPECT_EQ(Code(box.substr(0, 128)), kTypeUnknown);
  // Sizes 0 ("to the end") and 1 (64-bit size follows) are not used for ftyp.
  box.replace(0, 4, Be32(0));
  EXPECT_EQ(Code(box), kTypeUnknown);
  box.replace(0, 4, Be32(1));
  EXPECT_EQ(Code(box), kTypeUnknown);
  // A brand cut in half at the box's end.
  box.replace(0, 4, Be32(22));
  EXPECT_EQ(Code(box), kTypeUnknown);
  // Cut before the major brand: too short to be anything.
  EXPECT_EQ(Code(Ftyp("heic", {}).substr(0, 11)), kTypeUnknown);
}

TEST(HeifRecogniserTest, CompatibleBrandsEndAtTheBoxNotTheBuffer) {
  // "avif" right after the box belongs to the next box, not to the brands.
  std::string bytes = Ftyp("mif1", {"miaf"});
  bytes.replace(20, 4, "avif");
  FtypBox box;
  ASSERT_TRUE(
      ParseFtypBox(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), box));
  EXPECT_EQ(box.size, 20u);
  EXPECT_EQ(box.Major(), "mif1");
  EXPECT_TRUE(box.HasCompatible("miaf"));
  EXPECT_FALSE(box.HasCompatible("avif"));
  EXPECT_EQ(Code(bytes), kTypeHeic);
}

TEST(HeifRecogniserTest, RealPicturesAreNamedInTurn) {
  TempFolder dir("heif-detect");
  WriteFile(dir.path() / "a", Picture(mkbackup::HeifCodec::kHevc));
  WriteFile(dir.path() / "b", Picture(mkbackup::HeifCodec::kAvif));
  DetectionContext ctx;
  std::string name;
  EXPECT_EQ(DetectFileType(platform::Utf8FromPath(dir.path() / "a"), ctx, name), 0);
  EXPECT_EQ(name, "0.heic");
  EXPECT_EQ(DetectFileType(platform::Utf8FromPath(dir.path() / "b"), ctx, name), 0);
  EXPECT_EQ(name, "1.avif");
  // The first 128 bytes are enough for the device source too.
  const std::string head = Picture(mkbackup::HeifCodec::kHevc);
  EXPECT_EQ(DetectBufferType(reinterpret_cast<const unsigned char*>(head.data()), ctx, name), 0);
  EXPECT_EQ(name, "2.heic");
}

// Colours survive lossy coding only roughly; a wrong picture is far off.
void ExpectSamplePicture(const RgbPicture& p, unsigned variant) {
  ASSERT_EQ(p.width, mkbackup::kHeifSampleWidth);
  ASSERT_EQ(p.height, mkbackup::kHeifSampleHeight);
  ASSERT_EQ(p.pixels.size(), static_cast<std::size_t>(p.width * p.height * 3));
  for (auto [x, y] : {std::pair{4, 4}, {p.width - 5, 4}, {4, p.height - 5}, {p.width / 2, 30}}) {
    const auto want = mkbackup::HeifSampleColourAt(p.width, p.height, variant, x, y);
    const unsigned char* px = &p.pixels[(static_cast<std::size_t>(y) * p.width + x) * 3];
    EXPECT_NEAR(px[0], want.r, 28) << x << "," << y;
    EXPECT_NEAR(px[1], want.g, 28) << x << "," << y;
    EXPECT_NEAR(px[2], want.b, 28) << x << "," << y;
  }
}

TEST(HeifPictureTest, DecodesHeicAndAvifAndWritesJpegThatDecodes) {
  for (auto codec : {mkbackup::HeifCodec::kHevc, mkbackup::HeifCodec::kAvif}) {
    SCOPED_TRACE(codec == mkbackup::HeifCodec::kAvif ? "avif" : "heic");
    RgbPicture picture;
    std::string reason;
    ASSERT_EQ(DecodeHeif(Picture(codec, 5), picture, &reason), 0) << reason;
    ExpectSamplePicture(picture, 5);
    std::string jpeg;
    ASSERT_EQ(HeifToJpeg(Picture(codec, 5), jpeg, &reason), 0) << reason;
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");
    RgbPicture back;
    ASSERT_EQ(DecodeJpeg(jpeg, back, &reason), 0) << reason;
    ExpectSamplePicture(back, 5);
  }
}

TEST(HeifPictureTest, DamagedInputSaysWhyAndNeverCrashes) {
  const std::string heic = Picture(mkbackup::HeifCodec::kHevc);
  RgbPicture picture;
  std::string reason;
  EXPECT_EQ(DecodeHeif("", picture, &reason), kInvalidParameter);
  EXPECT_FALSE(reason.empty());
  // Every cut of the file, and a few bytes flipped in each part of it.
  for (std::size_t cut = 0; cut < heic.size(); cut += 7) {
    reason.clear();
    if (DecodeHeif(std::string_view(heic).substr(0, cut), picture, &reason) != 0) {
      EXPECT_FALSE(reason.empty()) << cut;
    }
  }
  for (std::size_t at = 0; at < heic.size(); at += 13) {
    std::string bad = heic;
    bad[at] = static_cast<char>(bad[at] ^ 0x5A);
    if (DecodeHeif(bad, picture, &reason) == 0) {
      EXPECT_EQ(picture.pixels.size(),
                static_cast<std::size_t>(picture.width) * picture.height * 3);
    }
  }
  // A detected HEIC that holds no picture at all (only its ftyp box).
  EXPECT_EQ(DecodeHeif(Ftyp("heic", {"mif1"}), picture, &reason), kInvalidParameter);
  EXPECT_NE(reason.find("HEIF"), std::string::npos) << reason;
  EXPECT_TRUE(picture.pixels.empty());

  EXPECT_EQ(DecodeJpeg("\xFF\xD8\xFF\xE0 not really", picture, &reason), kInvalidParameter);
  EXPECT_NE(reason.find("JPEG"), std::string::npos) << reason;
  std::string jpeg;
  EXPECT_EQ(EncodeJpeg(RgbPicture{}, 90, jpeg, &reason), kInvalidParameter);
  RgbPicture wrong{4, 4, std::vector<unsigned char>(10)};
  EXPECT_EQ(EncodeJpeg(wrong, 90, jpeg, &reason), kInvalidParameter);
  EXPECT_TRUE(jpeg.empty());
}

// The TIFF data of a JPEG's APP1 Exif segment; empty when there is none.
std::string JpegExif(const std::string& jpeg) {
  std::size_t at = 2;
  while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
    const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
    const std::size_t length =
        static_cast<unsigned char>(jpeg[at + 2]) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
    if (marker == 0xDA || at + 2 + length > jpeg.size()) break;
    const std::string body = jpeg.substr(at + 4, length - 2);
    if (marker == 0xE1 && body.starts_with(std::string("Exif\0\0", 6))) return body.substr(6);
    at += 2 + length;
  }
  return {};
}
// The value of the Orientation tag in IFD0 of TIFF data; -1 when there is none.
int Orientation(const std::string& tiff) {
  if (tiff.size() < 8) return -1;
  const bool little = tiff[0] == 'I';
  auto u16 = [&](std::size_t at) {
    const auto a = static_cast<unsigned char>(tiff[at]),
               b = static_cast<unsigned char>(tiff[at + 1]);
    return little ? a | b << 8 : a << 8 | b;
  };
  const std::size_t ifd = u16(little ? 4 : 6);  // small offsets only
  for (int i = 0; i < u16(ifd); ++i) {
    const std::size_t e = ifd + 2 + 12 * static_cast<std::size_t>(i);
    if (u16(e) == 0x0112) return u16(e + 8);
  }
  return -1;
}

TEST(HeifExifTest, TheJpegCarriesTheExifUprightAndDatedAsThePicture) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    const std::string exif = mkbackup::SampleExif("2020:07:08 09:10:11", 6, bigEndian);
    ASSERT_EQ(Orientation(exif), 6);
    std::string error;
    const std::string heic =
        mkbackup::HeifPictureWithExif(mkbackup::HeifCodec::kHevc, mkbackup::kHeifSampleWidth,
                                      mkbackup::kHeifSampleHeight, 2, exif, &error);
    ASSERT_FALSE(heic.empty()) << error;
    std::string jpeg, reason;
    ASSERT_EQ(HeifToJpeg(heic, jpeg, &reason), 0) << reason;
    const std::string carried = JpegExif(jpeg);
    ASSERT_EQ(carried.size(), exif.size());
    // The pixels are already turned: the JPEG must not be turned again. Everything else
    // is as the camera wrote it.
    EXPECT_EQ(Orientation(carried), 1);
    EXPECT_NE(carried.find("2020:07:08 09:10:11"), std::string::npos);
    EXPECT_NE(carried.find("iPhone 12"), std::string::npos);
    RgbPicture back;
    ASSERT_EQ(DecodeJpeg(jpeg, back, &reason), 0) << reason;
    ExpectSamplePicture(back, 2);
  }
  // A picture without Exif data gives a JPEG without it.
  const std::string bare = mkbackup::HeifPictureWithExif(
      mkbackup::HeifCodec::kHevc, mkbackup::kHeifSampleWidth, mkbackup::kHeifSampleHeight, 2, "");
  std::string jpeg;
  ASSERT_EQ(HeifToJpeg(bare, jpeg), 0);
  EXPECT_TRUE(JpegExif(jpeg).empty());
}

TEST(HeifExifTest, DamagedExifItemsAreDroppedNotFollowed) {
  const std::string tiff = mkbackup::SampleExif("2020:07:08 09:10:11", 8, true);
  const std::string prefixed = std::string(
                                   "\0\0\0\x06"
                                   "Exif\0\0",
                                   10) +
                               tiff;
  std::string fixed = ExifForDecodedPicture(prefixed);
  EXPECT_EQ(Orientation(fixed), 1);
  // Only the two bytes of the value changed.
  std::size_t differ = 0;
  for (std::size_t i = 0; i < tiff.size(); ++i) differ += fixed[i] != tiff[i];
  EXPECT_EQ(differ, 1u);
  // The TIFF header right after the offset field, with and without "Exif\0\0".
  EXPECT_EQ(Orientation(ExifForDecodedPicture(std::string(4, '\0') + tiff)), 1);
  EXPECT_EQ(Orientation(ExifForDecodedPicture(std::string("\0\0\0\0Exif\0\0", 10) + tiff)), 1);

  EXPECT_TRUE(ExifForDecodedPicture("").empty());
  EXPECT_TRUE(ExifForDecodedPicture(std::string("\xFF\xFF\xFF\xF0", 4) + tiff).empty());
  std::string bad = tiff;
  bad[0] = bad[1] = 'X';  // no byte order
  EXPECT_TRUE(ExifForDecodedPicture(std::string(4, '\0') + bad).empty());
  bad = tiff;
  bad[7] = '\x7F';  // IFD0 past the end
  EXPECT_TRUE(ExifForDecodedPicture(std::string(4, '\0') + bad).empty());
  bad = tiff;
  bad[9] = '\x7F';  // more entries than there are bytes
  EXPECT_TRUE(ExifForDecodedPicture(std::string(4, '\0') + bad).empty());
  // Every cut of a good item either drops it or keeps its orientation upright.
  for (std::size_t cut = 0; cut < prefixed.size(); ++cut) {
    const std::string part = ExifForDecodedPicture(prefixed.substr(0, cut));
    if (!part.empty()) {
      EXPECT_NE(Orientation(part), 8) << cut;
    }
  }
}

struct Reports {
  std::vector<int> seen;
  static std::int32_t Cb(void* u, std::int32_t p) {
    static_cast<Reports*>(u)->seen.push_back(p);
    return 0;
  }
};

TEST(HeifPreviewTest, PreviewIsTheDecodedPictureAndAFailureLeavesNoOldOne) {
  TempFolder dir("heif-preview");
  BackupCatalog c;
  c.workFolder = platform::Utf8FromPath(dir.path() / "work") + "/";
  std::filesystem::create_directories(dir.path() / "work");
  WriteFile(dir.path() / "heic", Picture(mkbackup::HeifCodec::kHevc, 3));
  WriteFile(dir.path() / "avif", Picture(mkbackup::HeifCodec::kAvif, 6));
  std::string damaged = Ftyp("heic", {"mif1"}, 4000);
  WriteFile(dir.path() / "damaged", damaged);

  for (auto [file, variant] : {std::pair{"heic", 3u}, {"avif", 6u}}) {
    SCOPED_TRACE(file);
    std::string copy;
    Reports r;
    ASSERT_EQ(
        PreparePreviewCopy(c, platform::Utf8FromPath(dir.path() / file), copy, Reports::Cb, &r), 0);
    EXPECT_EQ(copy, c.workFolder + "tmp.jpg");
    ASSERT_FALSE(r.seen.empty());
    EXPECT_EQ(r.seen.back(), 100);
    RgbPicture shown;
    std::string reason;
    ASSERT_EQ(DecodeJpeg(ReadFile(dir.path() / "work/tmp.jpg"), shown, &reason), 0) << reason;
    ExpectSamplePicture(shown, variant);
  }
  // A HEIC that does not decode: 87, and the previous picture is gone rather than
  // shown in its place.
  std::string copy;
  Reports r;
  EXPECT_EQ(
      PreparePreviewCopy(c, platform::Utf8FromPath(dir.path() / "damaged"), copy, Reports::Cb, &r),
      kInvalidParameter);
  EXPECT_EQ(r.seen.back(), 100);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "work/tmp.jpg"));
}

// The media categories over whole mkbackup backups: every HEIF picture of the truth is
// listed in its category under its name, and no file of an older type changed kind.
class HeifCategoriesTest : public ::testing::TestWithParam<mkbackup::Layout> {};

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}
std::string Ext(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

TEST_P(HeifCategoriesTest, CountsAndNamesInEveryCategory) {
  TempFolder dir("heif-cats");
  mkbackup::BackupOptions o;
  o.layout = GetParam();
  o.seed = 19;
  o.media = 60;
  o.messages = o.contacts = o.calls = o.notes = o.whatsapp = o.wechat = o.qq = 3;
  std::string error;
  const auto folder = dir.path() / "backup";
  ASSERT_EQ(mkbackup::WriteBackup(o, folder, &error), 0) << error;
  const test::Json truth = test::ReadTruth(folder);

  // What the truth says each category must show of the HEIF pictures, and the true type
  // of every stored file.
  enum Cat { kRoll, kStream, kAttachments, kApp, kWhatsApp, kCats };
  std::multiset<std::string> want[kCats];
  std::map<std::string, std::string> typeOf;  // stored path -> true type
  for (const test::Json& f : truth["files"].items) {
    if (f["directory"].boolean) continue;
    typeOf[(folder / f["storedAs"].Str()).string()] = f["type"].Str();
    const std::string type = f["type"].Str();
    if (type != "heic" && type != "avif") continue;
    const std::string key = f["key"].Str();
    std::string name = key.substr(key.rfind('/') + 1);
    const std::string renamed = name.substr(0, name.rfind('.')) + "." + Upper(type);
    if (key.find("CameraRollDomain-Media/DCIM/") != std::string::npos)
      want[kRoll].insert(name);
    else if (key.find("MediaDomain-Media/PhotoStreamsData/") != std::string::npos)
      want[kStream].insert(name);
    else if (key.find("/Attachments/") != std::string::npos)
      want[kAttachments].insert(renamed);
    else if ((key.find("AppDomain-") != std::string::npos &&
              key.find("net.whatsapp.WhatsApp") != std::string::npos) ||
             key.rfind("AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/Media/", 0) == 0)
      want[kWhatsApp].insert(renamed);
    else if (key.find("AppDomain-") != std::string::npos)
      want[kApp].insert(renamed);
  }
  for (int c = 0; c < kCats; ++c) EXPECT_FALSE(want[c].empty()) << "category " << c;

  BackupRecord record;
  ASSERT_EQ(ReadBackupFolder(platform::Utf8FromPath(folder), record), 0);
  BackupCatalog catalog;
  SelectBackup(catalog, record);
  CLocalBuckupRecovery source;
  ASSERT_EQ(source.Attach(&catalog), 0);
  ASSERT_EQ(source.OpenBackup(""), 0);
  MediaList roll, stream, whatsApp;
  AttachmentList attachments;
  AppMediaList app;
  ASSERT_EQ(source.ReadPhotos(roll, stream), 0);
  ASSERT_EQ(source.ReadMessageAttachments(attachments), 0);
  ASSERT_EQ(source.ReadAppMedia(app), 0);
  ASSERT_EQ(source.ReadWhatsAppAttachments(whatsApp), 0);

  std::multiset<std::string> got[kCats];
  auto take = [&](Cat cat, const auto& list, bool renamed) {
    for (const auto& item : list) {
      const std::string name = item.name;
      const std::string type = typeOf[item.path];
      ASSERT_FALSE(type.empty()) << name;
      if (type == "heic" || type == "avif") {
        got[cat].insert(name);
        EXPECT_GT(item.size, 0u) << name;
      }
      // A renaming category names each file by what it is: no older file was taken
      // for a picture, and no picture for anything else.
      if (renamed) {
        EXPECT_EQ(Ext(name), Upper(type)) << name;
      }
    }
  };
  take(kRoll, roll, false);
  take(kStream, stream, false);
  take(kAttachments, attachments, true);
  take(kApp, app, true);
  take(kWhatsApp, whatsApp, true);
  for (int c = 0; c < kCats; ++c) EXPECT_EQ(got[c], want[c]) << "category " << c;

  // HEIF pictures of apps are App Photos.
  for (const auto& [appName, items] : SplitAppMedia(app).videos)
    for (const auto& item : items) EXPECT_NE(Ext(item.name), "HEIC");
}

INSTANTIATE_TEST_SUITE_P(Layouts, HeifCategoriesTest,
                         ::testing::Values(mkbackup::Layout::kNewer, mkbackup::Layout::kOlder));

}  // namespace
}  // namespace bv
