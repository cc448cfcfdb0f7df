#include "export/output_paths.h"

#include <gtest/gtest.h>

#include "export_fixture.h"

namespace bv {
namespace {

using test::TempDir;

TEST(SafePathPieceTest, HostileNamesStayOnePiece) {
  EXPECT_EQ(SafePathPiece(L"IMG_0001.JPG"), L"IMG_0001.JPG");
  EXPECT_EQ(SafePathPiece(L"..\\..\\x"), L".._.._x");
  EXPECT_EQ(SafePathPiece(L"a/b"), L"a_b");
  EXPECT_EQ(SafePathPiece(L".."), L"__");
  EXPECT_EQ(SafePathPiece(L"."), L"_");
  EXPECT_EQ(SafePathPiece(L""), L"_");
  EXPECT_EQ(SafePathPiece(L"a:b*c?\"<>|"), L"a_b_c_____");
  EXPECT_EQ(SafePathPiece(L"tab\there\n"), L"tab_here_");
  EXPECT_EQ(SafePathPiece(L"name. "), L"name__");
  EXPECT_EQ(SafePathPiece(L"CON"), L"_CON");
  EXPECT_EQ(SafePathPiece(L"com1.txt"), L"_com1.txt");
  EXPECT_EQ(SafePathPiece(L"Bob(+1 555)"), L"Bob(+1 555)");
  EXPECT_EQ(SafePathPiece(L"\u5f20\u4e09 \U0001F600"), L"\u5f20\u4e09 \U0001F600");
  for (const wchar_t* name : {L"../../etc/passwd", L"..", L"/abs", L"a\\..\\..\\b", L"x/../.."}) {
    const fs::path root = "/out/root";
    const fs::path p = root / platform::PathFromWide(SafePathPiece(name));
    EXPECT_TRUE(IsInside(root, p)) << p;
    EXPECT_EQ(p.parent_path(), root) << p;
  }
}

TEST(SafePathPieceTest, LongNamesAreCutKeepingTheExtension) {
  std::wstring longName(300, L'\u4e2d');  // three UTF-8 bytes each
  longName += L".jpeg";
  const std::wstring piece = SafePathPiece(longName);
  EXPECT_LE(WideToUtf8(piece).size(), 200u);
  EXPECT_EQ(piece.substr(piece.size() - 5), L".jpeg");
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
  EXPECT_EQ(MakeUniquePath(platform::WideFromPath(img)),
            platform::WideFromPath(dir / "IMG_0001(2).JPG"));
}

TEST(JobStampTest, FourteenDigits) {
  const std::wstring s = MakeJobStamp();
  ASSERT_EQ(s.size(), 14u);
  for (wchar_t c : s) EXPECT_TRUE(c >= L'0' && c <= L'9');
}

}  // namespace
}  // namespace bv
