#include "common/inline_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace bv {
namespace {

// Texts on both sides of the in-place limit, with NUL and multi-byte characters: each
// must read back byte for byte after every way of making, copying and moving it.
std::vector<std::string> Samples() {
  std::vector<std::string> texts = {"", "a", "2021-03-04 05:06:07", std::string("a\0b", 3),
                                    "\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"};
  for (std::size_t n :
       {InlineText::kInline - 1, InlineText::kInline, InlineText::kInline + 1, std::size_t{100}})
    texts.push_back(std::string(n, 'x'));
  texts.push_back(std::string(InlineText::kInline, '\0'));
  return texts;
}

TEST(InlineTextTest, HoldsEveryTextAsItWasGiven) {
  for (const std::string& s : Samples()) {
    const InlineText made(s);
    EXPECT_EQ(made.view(), s);
    EXPECT_EQ(made.size(), s.size());
    EXPECT_EQ(made.empty(), s.empty());
    EXPECT_EQ(made.c_str()[s.size()], '\0');  // NUL-terminated, also on the heap
    InlineText copy(made);
    EXPECT_EQ(copy.view(), s);
    InlineText moved(std::move(copy));
    EXPECT_EQ(moved.view(), s);
    EXPECT_TRUE(copy.empty());  // NOLINT: a moved-from text is empty
    // Assignments over held texts of every size, which are freed or overwritten.
    for (const std::string& before : Samples()) {
      InlineText t(before);
      t = made;
      EXPECT_EQ(t.view(), s);
      InlineText u(before);
      u = InlineText(s);
      EXPECT_EQ(u.view(), s);
      InlineText v(before);
      v = s;
      EXPECT_EQ(v.view(), s);
    }
    InlineText self(s);
    self = self;
    EXPECT_EQ(self.view(), s);
    // A view of its own bytes assigned to itself (a part of the held text).
    InlineText part(s);
    part = part.view().substr(s.size() / 2);
    EXPECT_EQ(part.view(), std::string_view(s).substr(s.size() / 2));
    part.clear();
    EXPECT_TRUE(part.empty());
  }
}

TEST(InlineTextTest, ComparesAsTheStringsDo) {
  const std::vector<std::string> texts = Samples();
  for (const std::string& a : texts)
    for (const std::string& b : texts) {
      const InlineText ia(a), ib(b);
      EXPECT_EQ(ia == ib, a == b);
      EXPECT_EQ(ia < ib, a < b) << a << " " << b;
      EXPECT_EQ(ia == b, a == b);
      EXPECT_EQ(ia < b, a < b);
      EXPECT_EQ(ia == b.c_str(), std::string_view(a) == std::string_view(b.c_str()));
      EXPECT_EQ(ia == std::string_view(b), a == b);
    }
  // Bytes above 0x7F sort after ASCII, as with the strings.
  EXPECT_LT(InlineText("z"), InlineText("\xC3\xA9"));
  EXPECT_EQ(std::string("d: ") + InlineText("2021"), "d: 2021");
}

}  // namespace
}  // namespace bv
