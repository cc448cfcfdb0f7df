#include "export/output_paths.h"

#include <gtest/gtest.h>

#include "export_fixture.h"

namespace bv {
namespace {

using test::TempDir;

TEST(SafePathPieceTest, HostileNamesStayOnePiece) {
  EXPECT_EQ(SafePathPiece("IMG_0001.JPG"), "IMG_0001.JPG");
  EXPECT_EQ(SafePathPiece("..\\..\\x"), ".._.._x");
  EXPECT_EQ(SafePathPiece("a/b"), "a_b");
  EXPECT_EQ(SafePathPiece(".."), "__");
  EXPECT_EQ(SafePathPiece("."), "_");
  EXPECT_EQ(SafePathPiece(""), "_");
  EXPECT_EQ(SafePathPiece("a:b*c?\"<>|"), "a_b_c_____");
  EXPECT_EQ(SafePathPiece("tab\there\n"), "tab_here_");
  EXPECT_EQ(SafePathPiece("name. "), "name__");
  EXPECT_EQ(SafePathPiece("CON"), "_CON");
  EXPECT_EQ(SafePathPiece("com1.txt"), "_com1.txt");
  EXPECT_EQ(SafePathPiece("Bob(+1 555)"), "Bob(+1 555)");
  EXPECT_EQ(SafePathPiece("\u5f20\u4e09 \U0001F600"), "\u5f20\u4e09 \U0001F600");
  for (const char* name : {"../../etc/passwd", "..", "/abs", "a\\..\\..\\b", "x/../.."}) {
    const fs::path root = "/out/root";
    const fs::path p = root / platform::PathFromUtf8(SafePathPiece(name));
    EXPECT_TRUE(IsInside(root, p)) << p;
    EXPECT_EQ(p.parent_path(), root) << p;
  }
}

TEST(SafePathPieceTest, LongNamesAreCutKeepingTheExtension) {
  std::string longName;
  for (int i = 0; i < 300; ++i) longName += "\u4e2d";  // three UTF-8 bytes each
  longName += ".jpeg";
  const std::string piece = SafePathPiece(longName);
  EXPECT_LE(piece.size(), 200u);
  EXPECT_EQ(piece.substr(piece.size() - 5), ".jpeg");
}

TEST(IsInsideTest, LexicalContainment) {
  EXPECT_TRUE(IsInside("/a/b", "/a/b/c"));
  EXPECT_TRUE(IsInside("/a/b/", "/a/b/c"));
  EXPECT_FALSE(IsInside("/a/b", "/a/bc"));
  EXPECT_FALSE(IsInside("/a/b", "/a/b/../c"));
  EXPECT_TRUE(IsInside("/a/b", "/a/b/x/../y"));
}

TEST(MakeUniquePathTest, NumbersTakenNamesInOrder) {
  TempDir dir;
  const fs::path img = dir / "IMG_0001.JPG";
  EXPECT_EQ(MakeUniquePath(img), img);
  test::WriteFile(img, "1");
  EXPECT_EQ(MakeUniquePath(img), dir / "IMG_0001(1).JPG");
  test::WriteFile(dir / "IMG_0001(1).JPG", "2");
  EXPECT_EQ(MakeUniquePath(img), dir / "IMG_0001(2).JPG");
  // A folder or a dangling link occupies a name as well.
  fs::create_directory(dir / "Notes");
  EXPECT_EQ(MakeUniquePath(dir / "Notes"), dir / "Notes(1)");
  fs::create_symlink(dir / "nowhere", dir / "link.txt");
  EXPECT_EQ(MakeUniquePath(dir / "link.txt"), dir / "link(1).txt");
  // Wide form.
  EXPECT_EQ(MakeUniquePath(platform::Utf8FromPath(img)),
            platform::Utf8FromPath(dir / "IMG_0001(2).JPG"));
}

TEST(JobStampTest, FourteenDigits) {
  const std::string s = MakeJobStamp();
  ASSERT_EQ(s.size(), 14u);
  for (char c : s) EXPECT_TRUE(c >= '0' && c <= '9');
}

}  // namespace
}  // namespace bv
