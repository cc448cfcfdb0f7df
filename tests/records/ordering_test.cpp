// The shortcuts taken for speed must give exactly what the plain rules give: the
// order of CompareNoCase, the platform's local time, the first containing text.
#include <gtest/gtest.h>

#include <cstdint>

#include <iterator>
#include <list>
#include <random>
#include <set>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/local_time.h"
#include "common/stable_sort.h"
#include "common/text.h"
#include "platform/platform.h"
#include "records/date_text.h"
#include "records/first_containing.h"
#include "records/int_slots.h"
#include "records/live_keys.h"
#include "records/ordering.h"
#include "records_fixture.h"

namespace bv {
namespace {

struct Item {
  std::string date;
  int id;
};

TEST(OrderingShortcuts, SameOrderAsCaseInsensitiveTextComparison) {
  std::mt19937 rng(3);
  const std::vector<std::string> odd = {"",
                                        "abc",
                                        "ABD",
                                        "2020-01-01",
                                        "2020-01-01 00:00:0x",
                                        "9999-12-31 23:59:59 ",
                                        "2020-01-01T00:00:00"};
  std::vector<Item> items;
  for (int i = 0; i < 3000; ++i) {
    std::string d;
    if (i % 10 == 0) {
      d = odd[rng() % odd.size()];
    } else {
      std::string text;
      FormatCivil(static_cast<std::int64_t>(rng() % 400000) * 3600 * (i % 7 == 0 ? 1 : 24), text);
      d = text;
    }
    items.push_back({d, i});
  }
  for (bool descending : {false, true}) {
    std::vector<Item> expected = items;
    StableMergeSort(expected, [&](const Item& a, const Item& b) {
      const int c = CompareNoCase(a.date, b.date);
      return descending ? c > 0 : c < 0;
    });
    std::vector<Item> got = items;
    OrderByText(
        got, [](const Item& it) -> const std::string& { return it.date; }, descending);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i].id, expected[i].id) << i;

    // List nodes spliced into two lists (odd and even ids) in that order: once with odd
    // texts among the dates, once with dates only (which take another sort).
    for (bool datesOnly : {false, true}) {
      std::list<Item> from;
      NodeOrder<Item> order;
      for (const Item& it : items) {
        if (datesOnly && it.id % 10 == 0) continue;
        from.push_back(it);
        order.Add(std::prev(from.end()), from.back().date, it.id % 2);
      }
      std::list<Item> lists[2];
      int visited = 0;
      order.SpliceSorted(
          from, [](const Item& it) -> const std::string& { return it.date; },
          [&](std::int32_t group) -> std::list<Item>& { return lists[group]; },
          [&](Item&) { ++visited; }, descending);
      EXPECT_TRUE(from.empty());
      EXPECT_EQ(visited, static_cast<int>(lists[0].size() + lists[1].size()));
      for (int group : {0, 1}) {
        std::vector<int> want;
        for (const Item& it : expected)
          if (it.id % 2 == group && !(datesOnly && it.id % 10 == 0)) want.push_back(it.id);
        std::vector<int> ids;
        for (const Item& it : lists[group]) ids.push_back(it.id);
        ASSERT_EQ(ids, want) << "descending " << descending << " dates only " << datesOnly;
      }
    }
  }
}

TEST(OrderingShortcuts, CivilTextMatchesThePlatformInUtc) {
  for (std::int64_t s : {0LL, 951782400LL, 951868799LL, 1078012800LL, -86400LL, 4102444800LL,
                         253402300799LL, -30610224000LL}) {
    std::string platformText;
    ASSERT_TRUE(platform::FormatUtcTime(s, platformText));
    std::string ours;
    ASSERT_TRUE(FormatCivil(s, ours));
    EXPECT_EQ(ours, platformText) << s;
  }
  std::string out;
  EXPECT_FALSE(FormatCivil(253402300800LL, out));  // year 10000
}

TEST(OrderingShortcuts, DayOffsetsGiveThePlatformsLocalTimeAcrossDaylightSaving) {
  for (const char* zone : {"America/New_York", "Australia/Lord_Howe", "Asia/Kathmandu", "UTC"}) {
    test::ZoneGuard guard(zone);
    LocalDateFormatter formatter;
    // Every 17 minutes through 2021 and 2022, transitions included.
    for (std::int64_t s = 1609459200; s < 1672531200; s += 1020) {
      std::string expected;
      ASSERT_TRUE(platform::FormatLocalTime(s, expected));
      ASSERT_EQ(formatter.FromUnixSeconds(s), expected) << zone << " " << s;
    }
    // Days far apart share the formatter's table of recent days.
    for (std::int64_t s = 631152000; s < 1893456000; s += 3 * 86400 + 25200) {
      std::string expected;
      ASSERT_TRUE(platform::FormatLocalTime(s, expected));
      ASSERT_EQ(formatter.FromUnixSeconds(s), expected) << zone << " " << s;
      ASSERT_EQ(formatter.FromUnixSeconds(s - 1024 * 86400),
                (platform::FormatLocalTime(s - 1024 * 86400, expected), expected))
          << zone << " " << s;
    }
  }
}

// The chat passes format every message time into one reused buffer: a value that cannot
// be converted must leave it empty, not holding the time before it.
TEST(OrderingShortcuts, TimesFormattedIntoOneBufferMatchTheReturnedTexts) {
  test::ZoneGuard guard("America/New_York");
  LocalTimeFormatter formatter;
  std::string buffer;
  const std::int64_t values[] = {1609459200, 1615705200,   1615708800, 0,          1,
                                 -86400,     253402300799, INT64_MAX,  1700000000, INT64_MIN};
  for (std::int64_t s : values) {
    formatter.FromUnixSeconds(s, buffer);
    EXPECT_EQ(buffer, formatter.FromUnixSeconds(s)) << s;
  }
  formatter.FromUnixSeconds(1700000000, buffer);
  ASSERT_FALSE(buffer.empty());
  formatter.FromUnixSeconds(INT64_MAX, buffer);
  EXPECT_EQ(buffer, "");
}

TEST(OrderingShortcuts, FirstContainingAgreesWithAPlainWalk) {
  std::mt19937 rng(5);
  std::vector<std::string> texts;
  for (int i = 0; i < 4000; ++i) {
    std::string t;
    const int len = static_cast<int>(rng() % 40);
    for (int k = 0; k < len; ++k) t += static_cast<char>('0' + rng() % 4 + (k % 9 == 8 ? 40 : 0));
    texts.push_back(t);
  }
  std::vector<std::string_view> views(texts.begin(), texts.end());
  FirstContaining index(views);
  for (int q = 0; q < 3000; ++q) {
    std::string needle;
    const int len = static_cast<int>(rng() % 9);
    for (int k = 0; k < len; ++k) needle += static_cast<char>('0' + rng() % 4);
    std::ptrdiff_t expected = -1;
    for (std::size_t i = 0; i < texts.size(); ++i)
      if (texts[i].find(needle) != std::string::npos) {
        expected = static_cast<std::ptrdiff_t>(i);
        break;
      }
    ASSERT_EQ(index.Find(needle), expected) << needle;
  }
  FirstContaining none({});
  EXPECT_EQ(none.Find(""), -1);
}

TEST(OrderingShortcuts, IntSlotsDenseSparseAndUnannounced) {
  IntSlots<int> dense(std::vector<std::int32_t>{5, 7, 9});
  dense[7] = 1;
  dense[-3] = 2;  // never announced
  EXPECT_EQ(dense[7], 1);
  EXPECT_EQ(dense[-3], 2);
  EXPECT_EQ(dense[5], 0);
  IntSlots<int> sparse(std::vector<std::int32_t>{INT32_MIN, INT32_MAX});
  sparse[INT32_MAX] = 3;
  EXPECT_EQ(sparse[INT32_MAX], 3);
  EXPECT_EQ(sparse[INT32_MIN], 0);
}

// The deleted-row passes' live keys (hashes of views, sorted once) must answer as a set of
// copies does: exact texts only, bytes compared as bytes, records added after a lookup
// counted.
TEST(OrderingShortcuts, LiveKeysAnswerAsASetOfCopies) {
  std::mt19937 rng(11);
  const std::vector<std::string> texts = {"",
                                          "a",
                                          "ab",
                                          "abc",
                                          "aB",
                                          std::string("a\0b", 3),
                                          std::string("a\0c", 3),
                                          "\xC3\xA9t\xC3\xA9",
                                          "\xFF",
                                          "2021-03-04 05:06:07",
                                          "2021-03-04 05:06:0"};
  struct Record {
    std::string a, b;
    std::int32_t n = 0;
  };
  // Held by a list so that the records stay where they are as more are made.
  std::list<Record> records;
  using Key = std::tuple<std::string_view, std::string_view, std::int32_t>;
  const auto keyOf = [](const Record& r) { return Key(r.a, r.b, r.n); };
  LiveKeys<Record, decltype(keyOf)> keys(keyOf);
  std::set<std::tuple<std::string, std::string, std::int32_t>> copies;
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 200; ++i) {
      const Record& r =
          records.emplace_back(Record{texts[rng() % texts.size()], texts[rng() % texts.size()],
                                      static_cast<std::int32_t>(rng() % 3) - 1});
      keys.Add(r);
      copies.emplace(r.a, r.b, r.n);
    }
    for (const std::string& a : texts)
      for (const std::string& b : texts)
        for (std::int32_t n = -2; n <= 2; ++n) {
          // The probe's texts are copies of their own: found by content, not address.
          const std::string pa = a, pb = b;
          EXPECT_EQ(keys.Contains({pa, pb, n}), copies.count({a, b, n}) != 0)
              << round << " '" << a << "' '" << b << "' " << n;
        }
  }
  const auto textOf = [](const Record& r) { return std::string_view(r.a); };
  LiveKeys<Record, decltype(textOf)> none(textOf);
  EXPECT_FALSE(none.Contains(""));
}

}  // namespace
}  // namespace bv
