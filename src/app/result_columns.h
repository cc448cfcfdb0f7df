#pragma once
// The columns of the scan page's result list, per category: heading, width and how a
// cell's text comes from the item. One table; a new category (or a new column) is a
// new entry there and nothing else. Texts become Qt text here, one cell at a time,
// when the list shows the cell. UI-thread only.
#include <QString>
#include <functional>
#include <vector>

#include "catalogue/types.h"
#include "scan/statistics.h"

namespace bv {

struct ResultColumn {
  const char* key;      // the heading's key in the scan page's language section
  const char* heading;  // the heading when the language has none
  int width;            // pixels; 0 takes what is left
  std::function<QString(const StatItem&)> cell;
  // A text the column must show whole (a date, a number), whatever the font: the
  // column is at least as wide as it. Empty: the width stands.
  const char* sample = "";
};

// What the list shows for a category node: its records, or for App Photos and App
// Videos first the list of apps and then one app's files.
enum class ResultView { kRecords, kApps, kAppFiles };

// The columns for a category in a view; empty for a category without records to list
// (Reminder, Calendar, Safari Bookmark).
const std::vector<ResultColumn>& ResultColumns(Category c, ResultView view);

// A cell's text on one line: line breaks of messages and notes become blanks.
QString OneLine(QString text);

// The first line of a text (a contact's phone text lists its numbers one per line).
QString FirstLine(const QString& text);

}  // namespace bv
