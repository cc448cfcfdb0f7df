// Civil dates, named zones and VTIMEZONE components; the UTF-8 check of texts read
// from databases.
#include <gtest/gtest.h>

#include <ctime>

#include "common/text.h"
#include "common/time_zone.h"

namespace bv {
namespace {

TEST(CivilTime, AgreesWithTheCLibraryAndKeepsToFourDigitYears) {
  // Every 997 hours across two centuries, both ways.
  for (std::int64_t t = -2208988800LL; t < 4102444800LL; t += 997 * 3600 + 13) {
    CivilTime c;
    ASSERT_TRUE(CivilFromUnix(t, c));
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    ASSERT_EQ(c.year, tm.tm_year + 1900) << t;
    ASSERT_EQ(c.month, tm.tm_mon + 1);
    ASSERT_EQ(c.day, tm.tm_mday);
    ASSERT_EQ(c.hour * 3600 + c.minute * 60 + c.second,
              tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
    ASSERT_EQ(UnixFromCivil(c), t);
  }
  CivilTime c;
  EXPECT_TRUE(CivilFromUnix(-62135596800LL, c));  // 0001-01-01
  EXPECT_EQ(CivilText(c), "0001-01-01 00:00:00");
  EXPECT_FALSE(CivilFromUnix(-62135596801LL, c));
  EXPECT_TRUE(CivilFromUnix(253402300799LL, c));  // 9999-12-31 23:59:59
  EXPECT_EQ(CivilText(c, true), "9999-12-31");
  EXPECT_FALSE(CivilFromUnix(253402300800LL, c));
  EXPECT_FALSE(CivilFromUnix(INT64_MAX, c));
  EXPECT_FALSE(CivilFromUnix(INT64_MIN, c));
}

TEST(ZoneTable, OffsetsByTheRulesOfTheTime) {
  ZoneTable zones;
  std::int32_t offset = 0;
  // 2021-01-15 and 2021-07-15, noon UTC.
  const std::int64_t winter = 1610712000, summer = 1626350400;
  ASSERT_TRUE(zones.OffsetAt("Europe/Berlin", winter, offset));
  EXPECT_EQ(offset, 3600);
  ASSERT_TRUE(zones.OffsetAt("Europe/Berlin", summer, offset));
  EXPECT_EQ(offset, 7200);
  ASSERT_TRUE(zones.OffsetAt("Australia/Sydney", winter, offset));
  EXPECT_EQ(offset, 11 * 3600);  // southern summer
  ASSERT_TRUE(zones.OffsetAt("Asia/Kolkata", summer, offset));
  EXPECT_EQ(offset, 5 * 3600 + 1800);
  ASSERT_TRUE(zones.OffsetAt("America/New_York", 2224771200LL, offset));  // 2040-07-01
  EXPECT_EQ(offset, -4 * 3600);
  // Names that are no zone: never guessed, never a crash.
  for (const char* bad : {"", "_float", "Mars/Olympus_Mons", "Europe/Berlin\n", "../../etc/passwd",
                          "Europe/Berlin; DROP", "W. Europe Standard Time"}) {
    EXPECT_FALSE(zones.Known(bad)) << bad;
    EXPECT_FALSE(zones.OffsetAt(bad, winter, offset)) << bad;
  }
  EXPECT_FALSE(zones.Known(std::string(500, 'A')));
  EXPECT_TRUE(zones.Known("UTC"));
  EXPECT_EQ(zones.CanonicalName("Europe/Berlin"), "Europe/Berlin");
  EXPECT_EQ(zones.CanonicalName("Nowhere/Town"), "");
}

TEST(ZoneTable, VTimeZoneComponents) {
  const auto lines = VTimeZoneLines("Europe/Berlin", 1609459200);  // from 2021
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines.front(), "BEGIN:VTIMEZONE");
  EXPECT_EQ(lines.back(), "END:VTIMEZONE");
  bool standard = false, daylight = false;
  for (const std::string& l : lines) {
    EXPECT_EQ(l.find('\r'), std::string::npos);
    EXPECT_EQ(l.find('\n'), std::string::npos);
    standard |= l == "BEGIN:STANDARD";
    daylight |= l == "BEGIN:DAYLIGHT";
  }
  EXPECT_TRUE(standard);
  EXPECT_TRUE(daylight);
  EXPECT_TRUE(VTimeZoneLines("Mars/Olympus_Mons", 0).empty());
  EXPECT_TRUE(VTimeZoneLines("", 0).empty());
}

TEST(ValidUtf8, KeepsValidTextAndReplacesEachBrokenSequence) {
  const std::string valid = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
  EXPECT_EQ(ValidUtf8(valid), valid);
  EXPECT_EQ(ValidUtf8(static_cast<const char*>(nullptr)), "");
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(ValidUtf8("\xFF"), r);
  EXPECT_EQ(ValidUtf8("a\xC3"), "a" + r);          // cut at the end
  EXPECT_EQ(ValidUtf8("\xC0\xAF"), r);             // overlong: one sequence
  EXPECT_EQ(ValidUtf8("\xED\xA0\x80x"), r + "x");  // a surrogate
  EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), r);     // past U+10FFFF
  EXPECT_EQ(ValidUtf8("\xE4\xB8z"), r + "z");      // resumes at the first byte not taken
  EXPECT_EQ(ValidUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
  // Whatever goes in, valid UTF-8 comes out.
  for (const char* s : {"\xFF\xFE", "\xC3\x28", "\xE2\x82", "ok\xF0\x9F\x98"})
    EXPECT_TRUE(IsValidUtf8(ValidUtf8(s))) << s;
}

}  // namespace
}  // namespace bv
