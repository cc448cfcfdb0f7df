#include "records/item_texts.h"

#include "records/bookmark_reader.h"

namespace bv {

namespace {

void Add(std::vector<CardField>& card, const char* label, const std::string& value) {
  if (!value.empty()) card.push_back({label, value});
}

}  // namespace

std::string_view StatusText(std::int32_t deleted) {
  return deleted != 0 ? "Deleted" : "Normal";
}

std::string_view PriorityText(std::int32_t priority) {
  if (priority >= 1 && priority <= 4) return "High";
  if (priority == 5) return "Medium";
  if (priority >= 6 && priority <= 9) return "Low";
  return {};
}

std::string_view ReminderStateText(const ReminderRecord& reminder) {
  return reminder.completed != 0 ? "Completed" : "Open";
}

std::string_view BookmarkKindText(BookmarkKind kind) {
  switch (kind) {
    case BookmarkKind::kFolder:
      return "Folder";
    case BookmarkKind::kReadingList:
      return "Reading List";
    case BookmarkKind::kBookmark:
      break;
  }
  return "Bookmark";
}

std::string EventZoneText(const CalendarEventRecord& event) {
  if (event.allDay != 0) return "All day";
  switch (event.zoneKind) {
    case ZoneKind::kZoned:
      return event.timeZone;
    case ZoneKind::kFloating:
      return "Floating";
    case ZoneKind::kLocal:
      break;
  }
  return "Local";
}

std::string EventWhenText(const CalendarEventRecord& e) {
  if (e.start.empty()) return {};
  if (e.end.empty() || e.end == e.start) return e.start;
  // A timed event within one day shows its end's time alone.
  if (e.allDay == 0 && e.start.size() == 19 && e.end.size() == 19 &&
      e.start.compare(0, 10, e.end, 0, 10) == 0)
    return e.start + " - " + e.end.substr(11);
  return e.start + " - " + e.end;
}

std::vector<CardField> EventCard(const CalendarEventRecord& e) {
  std::vector<CardField> card;
  Add(card, "Title", e.title);
  Add(card, "When", EventWhenText(e));
  if (!e.start.empty()) Add(card, "Time Zone", EventZoneText(e));
  Add(card, "Location", e.location);
  Add(card, "Calendar", e.calendar);
  Add(card, "Repeat", e.recurrence);
  Add(card, "Address", e.url);
  Add(card, "Notes", e.notes);
  Add(card, "Status", std::string(StatusText(e.deleted)));
  return card;
}

std::vector<CardField> ReminderCard(const ReminderRecord& r) {
  std::vector<CardField> card;
  Add(card, "Title", r.title);
  Add(card, "List", r.list);
  Add(card, "Due", r.due);
  Add(card, "State", std::string(ReminderStateText(r)));
  Add(card, "Completed On", r.completionDate);
  Add(card, "Priority", std::string(PriorityText(r.priority)));
  Add(card, "Notes", r.notes);
  Add(card, "Status", std::string(StatusText(r.deleted)));
  return card;
}

std::vector<CardField> BookmarkCard(const BookmarkRecord& b) {
  std::vector<CardField> card;
  Add(card, "Title", b.title);
  Add(card, "Address", b.url);
  Add(card, "Folder", BookmarkFolderText(b));
  Add(card, "Type", std::string(BookmarkKindText(b.kind)));
  Add(card, "Status", std::string(StatusText(b.deleted)));
  return card;
}

}  // namespace bv
