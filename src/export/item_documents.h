#pragma once
// Documents of recovered reminders, calendar events and Safari bookmarks besides the
// iCalendar files: HTML table rows for the templates Reminders.html, Calendar.html and
// SafariBookmarks.html, CSV files (UTF-8 with byte-order mark, CR LF, values quoted
// where RFC 4180 needs it), and Bookmarks.html in the browsers' bookmark-file format
// ("NETSCAPE-Bookmark-file-1"), which every desktop browser imports. Every text from
// a record is HTML-escaped before it enters a document. Thread-safe (no state).
#include <string>
#include <string_view>
#include <vector>

#include "records/record_types.h"

namespace bv {

// & < > " ' as entities; with `breaks`, every line break (CR LF, LF, CR) as <br>.
std::string HtmlEscapeUtf8(std::string_view text, bool breaks = false);
// A CSV value: as it is, or quoted with its quotes doubled when it holds a comma,
// quote, CR or LF.
std::string CsvValue(std::string_view value);
// The bytes of a text file: byte-order mark, every "\n" as CR LF.
std::string Utf8TextFileBytes(std::string_view text);

std::string ReminderRow(const ReminderRecord& reminder);
std::string EventRow(const CalendarEventRecord& event);
std::string BookmarkRow(const BookmarkRecord& bookmark);

extern const char kRemindersCsvHeader[];
extern const char kEventsCsvHeader[];
extern const char kBookmarksCsvHeader[];
void AppendReminderCsvLine(std::string& csv, const ReminderRecord& reminder);
void AppendEventCsvLine(std::string& csv, const CalendarEventRecord& event);
void AppendBookmarkCsvLine(std::string& csv, const BookmarkRecord& bookmark);

// The bookmark file of `items` (in the order given, folders before what they hold):
// every bookmark and Reading List item under its folders, every folder even when
// empty; folders of the same titles on the same path are one folder. Favorites at the
// top is marked as the browser's toolbar folder.
std::string NetscapeBookmarkFile(const std::vector<const BookmarkRecord*>& items);

}  // namespace bv
