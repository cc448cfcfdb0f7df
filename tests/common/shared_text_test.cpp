#include "common/shared_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bv {
namespace {

// Copies hold one text; a new assignment to one copy leaves the others as they were.
TEST(SharedTextTest, CopiesShareOneTextAndAssignmentsDoNotReachTheOthers) {
  const std::string name = "Ada Lovelace-Byron, Countess";
  SharedText a(name);
  SharedText b = a;
  EXPECT_EQ(a.data(), b.data());
  EXPECT_EQ(b.view(), name);
  b = "Grace";
  EXPECT_EQ(a.view(), name);
  EXPECT_EQ(b.view(), "Grace");
  // Assigned a part of its own text.
  a = a.view().substr(4, 8);
  EXPECT_EQ(a.view(), "Lovelace");
  EXPECT_EQ(std::string(a.c_str()), "Lovelace");
  a.clear();
  EXPECT_TRUE(a.empty());
  EXPECT_STREQ(a.c_str(), "");
  EXPECT_EQ(SharedText(std::string("a\0b", 3)).size(), 3u);
}

TEST(SharedTextTest, ComparesAsTheStringsDo) {
  const std::vector<std::string> texts = {"",         "a",      "ab", "aB", std::string("a\0b", 3),
                                          "\xC3\xA9", "Unknown"};
  for (const std::string& x : texts)
    for (const std::string& y : texts) {
      const SharedText sx(x), sy(y);
      EXPECT_EQ(sx == sy, x == y);
      EXPECT_EQ(sx < sy, x < y);
      EXPECT_EQ(sx == y, x == y);
      EXPECT_EQ(sx < y, x < y);
      EXPECT_EQ(sx == std::string_view(y), x == y);
    }
  EXPECT_EQ(std::string("to ") + SharedText("Ada"), "to Ada");
  EXPECT_TRUE(SharedText() == "");
}

}  // namespace
}  // namespace bv
