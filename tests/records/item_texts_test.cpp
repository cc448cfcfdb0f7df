// What lists and preview cards show of reminders, events and bookmarks.
#include <gtest/gtest.h>

#include "records/item_texts.h"

namespace bv {
namespace {

std::vector<std::string> Labels(const std::vector<CardField>& card) {
  std::vector<std::string> labels;
  for (const CardField& f : card) labels.push_back(f.label);
  return labels;
}

TEST(ItemTexts, CardsListOnlyWhatTheRecordHas) {
  CalendarEventRecord e;
  e.title = "Lunch";
  e.start = "2021-03-04 12:00:00";
  e.end = "2021-03-04 13:30:00";
  e.zoneKind = ZoneKind::kZoned;
  e.timeZone = "Europe/Berlin";
  e.recurrence = "Every week";
  EXPECT_EQ(Labels(EventCard(e)),
            (std::vector<std::string>{"Title", "When", "Time Zone", "Repeat", "Status"}));
  EXPECT_EQ(EventCard(e)[1].value, "2021-03-04 12:00:00 - 13:30:00");
  EXPECT_EQ(EventCard(e)[2].value, "Europe/Berlin");
  e.end = "2021-03-05 09:00:00";  // over midnight: both dates
  EXPECT_EQ(EventWhenText(e), "2021-03-04 12:00:00 - 2021-03-05 09:00:00");
  e.allDay = 1;
  e.start = e.end = "2021-03-04";
  EXPECT_EQ(EventWhenText(e), "2021-03-04");
  EXPECT_EQ(EventZoneText(e), "All day");
  CalendarEventRecord undated;
  EXPECT_EQ(Labels(EventCard(undated)), (std::vector<std::string>{"Status"}));

  ReminderRecord r;
  r.title = "Eggs";
  r.completed = 1;
  r.priority = 9;
  r.deleted = 1;
  EXPECT_EQ(Labels(ReminderCard(r)),
            (std::vector<std::string>{"Title", "State", "Priority", "Status"}));
  EXPECT_EQ(ReminderCard(r)[1].value, "Completed");
  EXPECT_EQ(ReminderCard(r)[2].value, "Low");
  EXPECT_EQ(ReminderCard(r)[3].value, "Deleted");
  EXPECT_EQ(PriorityText(1), "High");
  EXPECT_EQ(PriorityText(4), "High");
  EXPECT_EQ(PriorityText(5), "Medium");
  EXPECT_EQ(PriorityText(0), "");
  EXPECT_EQ(PriorityText(10), "");

  BookmarkRecord b;
  b.kind = BookmarkKind::kReadingList;
  b.title = "Article";
  b.url = "https://a.example/";
  b.folder = {"Reading List"};
  const auto card = BookmarkCard(b);
  EXPECT_EQ(Labels(card),
            (std::vector<std::string>{"Title", "Address", "Folder", "Type", "Status"}));
  EXPECT_EQ(card[1].value, "https://a.example/");  // a bookmark shows its address
  EXPECT_EQ(card[3].value, "Reading List");
}

}  // namespace
}  // namespace bv
