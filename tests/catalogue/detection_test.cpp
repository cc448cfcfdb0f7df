#include <gtest/gtest.h>

#include <string>

#include "catalogue/backup_catalog.h"
#include "catalogue/detection.h"
#include "catalogue_fixture.h"

namespace bv {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::string Pad(std::string head, std::size_t size = 512) {
  head.resize(size, '\0');
  return head;
}
int Code(const std::string& bytes) {
  return RecogniseBuffer(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

TEST(RecogniserTest, EverySignatureOfTheTable) {
  using std::string;
  EXPECT_EQ(
      Code(Pad(string("\x00\x00\x01\xBA", 4) + string(8, 'x') + string("\x00\x00\x01\xBB", 4))),
      15);
  EXPECT_EQ(
      Code(Pad(string("\x00\x00\x01\xB3", 4) + string(20, 'x') + string("\x00\x00\x01\xB8", 4))),
      15);
  // The second marker beyond the first 32 bytes does not count.
  EXPECT_EQ(
      Code(Pad(string("\x00\x00\x01\xBA", 4) + string(40, 'x') + string("\x00\x00\x01\xBB", 4))),
      48);
  EXPECT_EQ(Code(Pad(string("\x00\x00\x00\x20", 4) + "ftypisom")), 18);
  EXPECT_EQ(Code(Pad(string("\x00\x00\x00\x20", 4) + "ftypmp42")), 18);
  EXPECT_EQ(Code(Pad(string("\x00\x00\x00\x20", 4) + "ftyp3gp4")), 16);
  EXPECT_EQ(Code(Pad(string("\x00\x00\x00\x14", 4) + "ftypqt  ")), 17);
  // HEIF pictures have rows of their own after these (heif_test.cpp).
  EXPECT_EQ(Code(Pad(string("\x00\x00\x00\x14", 4) + "ftypheic")), kTypeHeic);
  EXPECT_EQ(Code(Pad(string("\x00\x00\x00\x14", 4) + "ftypM4V ")), 48);
  EXPECT_EQ(Code(Pad("moov")), 17);
  EXPECT_EQ(Code(Pad(".RMF")), 23);
  EXPECT_EQ(
      Code(Pad(string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16))),
      24);
  EXPECT_EQ(Code(Pad("RIFF\x10\x01\x01\x01"
                     "AVI LIST")),
            22);
  EXPECT_EQ(Code(Pad("RIFF\x10\x01\x01\x01"
                     "WAVEfmt ")),
            21);
  EXPECT_EQ(Code(Pad(string("MThd\x00\x00\x00\x06\x00\x01\x00\x02\x01\xE0", 14) + "MTrk")), 13);
  EXPECT_EQ(Code(Pad("GIF87a")), 31);
  EXPECT_EQ(Code(Pad("GIF89a")), 31);
  EXPECT_EQ(Code(Pad("GIF8Xa")), 48);
  EXPECT_EQ(Code(Pad(string("BM", 2) + Le32(1000) + string(8, '\0') + Le32(40))), 29);
  EXPECT_EQ(Code(Pad(string("BM", 2) + Le32(1000) + string("\x01\x00\x00\x00", 4) +
                     string(4, '\0') + Le32(40))),
            48);
  EXPECT_EQ(Code(Pad(string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10))), 10);
  EXPECT_EQ(Code(Pad(string("\xFF\xD8\xFF\xE1\x00\x10"
                            "Exif",
                            10))),
            10);
  EXPECT_EQ(Code(Pad("\x89PNG\r\n\x1A\n")), 30);
  EXPECT_EQ(Code(Pad("plain text file")), 48);
}

TEST(RecogniserTest, Id3FlagsAndSizes) {
  std::string mp3("ID3\x04\x00\x00\x00\x00\x00\x00", 10);
  EXPECT_EQ(Code(Pad(mp3)), 12);
  mp3[5] = '\x20';
  EXPECT_EQ(Code(Pad(mp3)), 12);
  mp3[5] = '\x01';
  EXPECT_EQ(Code(Pad(mp3)), 48);
  mp3[5] = 0;
  mp3[7] = '\x80';  // a size byte with its high bit set
  EXPECT_EQ(Code(Pad(mp3)), 48);
}

TEST(RecogniserTest, WaveWithMovedFmtChunkIsNotRecognised) {
  EXPECT_EQ(Code(Pad("RIFF\x10\x01\x01\x01"
                     "WAVEJUNK\x04\x01\x01\x01xxxxfmt ")),
            48);
}

TEST(RecogniserTest, IcoDirectoryMustChainOffsets) {
  auto entry = [](std::uint32_t size, std::uint32_t offset) {
    std::string e(16, '\0');
    e[0] = 16, e[1] = 16;
    e.replace(8, 4, Le32(size));
    e.replace(12, 4, Le32(offset));
    return e;
  };
  std::string head("\x00\x00\x01\x00\x02\x00", 6);
  EXPECT_EQ(Code(Pad(head + entry(100, 38) + entry(50, 138))), 46);
  EXPECT_EQ(Code(Pad(head + entry(100, 38) + entry(50, 139))), 48);
  EXPECT_EQ(Code(Pad(std::string("\x00\x00\x01\x00\x00\x00", 6))), 48);  // no images
  // A count whose directory runs past the buffer.
  EXPECT_EQ(Code(Pad(std::string("\x00\x00\x01\x00\xFF\x00", 6))), 48);
  // Wrapping sizes must not make a bad chain look good.
  EXPECT_EQ(Code(Pad(head + entry(0xFFFFFFFFu, 38) + entry(50, 37))), 48);
}

TEST(DetectFileTest, NeedsFullBlockAndNumbersInOrder) {
  TempFolder dir("detect");
  const std::string jpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
  WriteFile(dir.path() / "short", Pad(jpeg, 511));
  WriteFile(dir.path() / "full", Pad(jpeg, 512));
  WriteFile(dir.path() / "png", Pad("\x89PNG\r\n\x1A\n", 4000));
  WriteFile(dir.path() / "text", Pad("hello", 900));
  DetectionContext ctx;
  std::string name = "junk";
  EXPECT_EQ(DetectFileType((dir.path() / "short").string(), ctx, name), 30);
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(DetectFileType((dir.path() / "full").string(), ctx, name), 0);
  EXPECT_EQ(name, "0.jpg");
  EXPECT_EQ(DetectFileType((dir.path() / "text").string(), ctx, name), 0);
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(DetectFileType((dir.path() / "png").string(), ctx, name), 0);
  EXPECT_EQ(name, "1.png");
  EXPECT_EQ(DetectFileType((dir.path() / "missing").string(), ctx, name), ENOENT);
}

TEST(DetectFileTest, BufferVariantLooksAt128Bytes) {
  std::string buf = Pad("\x89PNG\r\n\x1A\n", 128);
  DetectionContext ctx;
  ctx.counter = 7;
  std::string name;
  EXPECT_EQ(DetectBufferType(reinterpret_cast<const unsigned char*>(buf.data()), ctx, name), 0);
  EXPECT_EQ(name, "7.png");
  EXPECT_EQ(ctx.counter, 8);
}

struct Reports {
  std::vector<int> values;
  int stopAt = -1;
  static std::int32_t Cb(void* u, std::int32_t p) {
    auto* r = static_cast<Reports*>(u);
    r->values.push_back(p);
    return static_cast<int>(r->values.size()) == r->stopAt ? 2 : 0;
  }
};

TEST(PreviewCopyTest, ChoosesFixedFileByKindAndReplacesIt) {
  TempFolder dir("preview");
  BackupCatalog c;
  c.workFolder = (dir.path() / "work/").string();
  std::filesystem::create_directories(dir.path() / "work");
  const std::string big = Pad("\x89PNG\r\n\x1A\n", 200000);
  const std::string small = Pad(std::string("\xFF\xD8\xFF\xE1\x00\x10"
                                            "Exif",
                                            10),
                                600);
  WriteFile(dir.path() / "big", big);
  WriteFile(dir.path() / "small", small);
  WriteFile(dir.path() / "song", Pad(std::string("ID3\x03\x00\x00\x00\x00\x00\x00", 10), 700));
  WriteFile(dir.path() / "film", Pad(std::string("\x00\x00\x00\x14", 4) + "ftypqt  ", 700));
  WriteFile(dir.path() / "text", Pad("hello", 700));

  Reports r;
  std::string copy;
  EXPECT_EQ(PreparePreviewCopy(c, (dir.path() / "big").string(), copy, Reports::Cb, &r), 0);
  EXPECT_EQ(copy, c.workFolder + "tmp.jpg");
  EXPECT_EQ(r.values.back(), 100);
  EXPECT_EQ(r.values.size(), 4u + 1u);  // four chunks, then the final 100
  EXPECT_EQ(testing::ReadFile(dir.path() / "work/tmp.jpg"), big);
  // A smaller picture replaces the copy completely.
  EXPECT_EQ(PreparePreviewCopy(c, (dir.path() / "small").string(), copy, nullptr, nullptr), 0);
  EXPECT_EQ(testing::ReadFile(dir.path() / "work/tmp.jpg"), small);

  EXPECT_EQ(PreparePreviewCopy(c, (dir.path() / "song").string(), copy, nullptr, nullptr), 0);
  EXPECT_EQ(copy, c.workFolder + "tmp.wav");
  EXPECT_EQ(PreparePreviewCopy(c, (dir.path() / "film").string(), copy, nullptr, nullptr), 0);
  EXPECT_EQ(copy, c.workFolder + "tmp.avi");

  Reports none;
  EXPECT_EQ(PreparePreviewCopy(c, (dir.path() / "text").string(), copy, Reports::Cb, &none), 87);
  EXPECT_EQ(none.values, std::vector<int>{100});
}

TEST(PreviewCopyTest, StopFromCallbackEndsCopyWithItsAnswer) {
  TempFolder dir("preview2");
  BackupCatalog c;
  c.workFolder = dir.wide() + "/";
  WriteFile(dir.path() / "big", Pad("\x89PNG\r\n\x1A\n", 300000));
  Reports r;
  r.stopAt = 1;
  std::string copy;
  EXPECT_EQ(PreparePreviewCopy(c, (dir.path() / "big").string(), copy, Reports::Cb, &r), 2);
  EXPECT_EQ(r.values.back(), 100);
  EXPECT_EQ(r.values.size(), 2u);
}

}  // namespace
}  // namespace bv
