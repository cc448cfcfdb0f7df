#include "common/shared_text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
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

// Moves hand the text over; copies made and dropped on several threads at once leave
// the text whole, and the last holder frees it (the sanitizer build sees a leak or a
// second free).
TEST(SharedTextTest, MovesAndCopiesAcrossThreadsKeepOneText) {
  SharedText a("shared by every message of one correspondent");
  const char* bytes = a.data();
  SharedText b(std::move(a));
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(b.data(), bytes);
  a = std::move(b);
  EXPECT_EQ(a.data(), bytes);
  a = a;  // NOLINT: self-assignment keeps the text
  EXPECT_EQ(a.view(), "shared by every message of one correspondent");

  std::vector<std::thread> threads;
  std::vector<std::vector<SharedText>> held(4);
  for (std::size_t t = 0; t < held.size(); ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        held[t].push_back(a);
        if (i % 3 == 0) held[t].pop_back();
      }
    });
  for (std::thread& t : threads) t.join();
  for (const auto& list : held)
    for (const SharedText& text : list) ASSERT_EQ(text.data(), bytes);
  held.clear();
  EXPECT_EQ(a.view(), "shared by every message of one correspondent");
  a = SharedText();
  EXPECT_TRUE(a.empty());
}

}  // namespace
}  // namespace bv
