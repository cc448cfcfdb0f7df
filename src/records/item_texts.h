#pragma once
// What the scan page's lists and cards, the documents and the command line show of
// reminders, calendar events and bookmarks, from the records alone. UTF-8. Thread-safe.
#include <string>
#include <string_view>
#include <vector>

#include "records/record_types.h"

namespace bv {

// "Deleted" or "Normal", as every list shows a record's state.
std::string_view StatusText(std::int32_t deleted);
// iCalendar's priority ranges: "High" (1-4), "Medium" (5), "Low" (6-9); empty for 0.
std::string_view PriorityText(std::int32_t priority);
// "Completed" or "Open".
std::string_view ReminderStateText(const ReminderRecord& reminder);
// "Bookmark", "Folder" or "Reading List".
std::string_view BookmarkKindText(BookmarkKind kind);
// How an event's times are to be read: "All day", its zone's name, "Floating" for a
// wall clock without zone, or "Local" for an instant shown in this computer's zone.
std::string EventZoneText(const CalendarEventRecord& event);
// "2021-03-04 09:00:00 - 10:30:00" (one day), "2021-03-04 09:00:00 - 2021-03-05 ..."
// or "2021-03-04 - 2021-03-06" (all day); the start alone without an end.
std::string EventWhenText(const CalendarEventRecord& event);

// One labelled line of a preview card; cards list only fields that have a value.
struct CardField {
  std::string label;
  std::string value;
};
std::vector<CardField> EventCard(const CalendarEventRecord& event);
std::vector<CardField> ReminderCard(const ReminderRecord& reminder);
std::vector<CardField> BookmarkCard(const BookmarkRecord& bookmark);

}  // namespace bv
