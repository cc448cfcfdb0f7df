#include "export/item_documents.h"

#include <map>
#include <memory>
#include <utility>

#include "records/bookmark_reader.h"
#include "records/item_texts.h"

namespace bv {

namespace {

std::string Td(std::string_view text, bool breaks = false) {
  return "<td>" + HtmlEscapeUtf8(text, breaks) + "</td>";
}

void Csv(std::string& line, std::string_view value, bool last = false) {
  line += CsvValue(value);
  line += last ? '\n' : ',';
}

}  // namespace

const char kRemindersCsvHeader[] = "Title,List,Due,State,Completed On,Priority,Notes,Status\n";
const char kEventsCsvHeader[] =
    "Title,Start,End,Time Zone,Location,Calendar,Repeat,Notes,Address,Status\n";
const char kBookmarksCsvHeader[] = "Title,Address,Folder,Type,Status\n";

std::string HtmlEscapeUtf8(std::string_view text, bool breaks) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
        if (!breaks) {
          out += c;
          break;
        }
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        out += "<br>";
        break;
      case '\n':
        out += breaks ? "<br>" : "\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string CsvValue(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Utf8TextFileBytes(std::string_view text) {
  std::string out = "\xEF\xBB\xBF";
  out.reserve(text.size() + text.size() / 16 + 3);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string ReminderRow(const ReminderRecord& r) {
  return "\t<tr>" + Td(r.title) + Td(r.list) + Td(r.due) + Td(ReminderStateText(r)) +
         Td(r.completionDate) + Td(PriorityText(r.priority)) + Td(r.notes, true) +
         Td(StatusText(r.deleted)) + "</tr>\r\n";
}

std::string EventRow(const CalendarEventRecord& e) {
  return "\t<tr>" + Td(e.title) + Td(e.start) + Td(e.end) +
         Td(e.start.empty() ? "" : EventZoneText(e)) + Td(e.location) + Td(e.calendar) +
         Td(e.recurrence) + Td(e.notes, true) + Td(StatusText(e.deleted)) + "</tr>\r\n";
}

std::string BookmarkRow(const BookmarkRecord& b) {
  return "\t<tr>" + Td(b.title) + Td(b.url) + Td(BookmarkFolderText(b)) +
         Td(BookmarkKindText(b.kind)) + Td(StatusText(b.deleted)) + "</tr>\r\n";
}

void AppendReminderCsvLine(std::string& csv, const ReminderRecord& r) {
  Csv(csv, r.title);
  Csv(csv, r.list);
  Csv(csv, r.due);
  Csv(csv, ReminderStateText(r));
  Csv(csv, r.completionDate);
  Csv(csv, PriorityText(r.priority));
  Csv(csv, r.notes);
  Csv(csv, StatusText(r.deleted), true);
}

void AppendEventCsvLine(std::string& csv, const CalendarEventRecord& e) {
  Csv(csv, e.title);
  Csv(csv, e.start);
  Csv(csv, e.end);
  Csv(csv, e.start.empty() ? std::string() : EventZoneText(e));
  Csv(csv, e.location);
  Csv(csv, e.calendar);
  Csv(csv, e.recurrence);
  Csv(csv, e.notes);
  Csv(csv, e.url);
  Csv(csv, StatusText(e.deleted), true);
}

void AppendBookmarkCsvLine(std::string& csv, const BookmarkRecord& b) {
  Csv(csv, b.title);
  Csv(csv, b.url);
  Csv(csv, BookmarkFolderText(b));
  Csv(csv, BookmarkKindText(b.kind));
  Csv(csv, StatusText(b.deleted), true);
}

namespace {

// A folder of the bookmark file: its entries in order, each a folder or a link.
struct Folder {
  std::string title;
  struct Entry {
    std::size_t folder = 0;  // index into the folder list when `link` is null
    const BookmarkRecord* link = nullptr;
  };
  std::vector<Entry> entries;
  std::map<std::string, std::size_t> byTitle;
};

class Tree {
 public:
  Tree() { folders_.push_back(Folder{}); }
  // The folder at `path` below the top, made where missing.
  std::size_t At(const std::vector<std::string>& path, std::size_t depth) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < depth && i < path.size(); ++i) {
      auto it = folders_[at].byTitle.find(path[i]);
      if (it == folders_[at].byTitle.end()) {
        const std::size_t made = folders_.size();
        folders_.push_back(Folder{path[i], {}, {}});
        folders_[at].byTitle.emplace(path[i], made);
        folders_[at].entries.push_back({made, nullptr});
        at = made;
      } else {
        at = it->second;
      }
    }
    return at;
  }
  void Link(std::size_t folder, const BookmarkRecord* link) {
    folders_[folder].entries.push_back({0, link});
  }
  void Write(std::string& out, std::size_t folder, int depth) const {
    const std::string indent(static_cast<std::size_t>(depth) * 4, ' ');
    out += indent + "<DL><p>\n";
    for (const Folder::Entry& e : folders_[folder].entries) {
      if (e.link != nullptr) {
        const std::string& title = e.link->title.empty() ? e.link->url : e.link->title;
        out += indent + "    <DT><A HREF=\"" + HtmlEscapeUtf8(e.link->url) + "\">" +
               HtmlEscapeUtf8(title) + "</A>\n";
        continue;
      }
      const Folder& f = folders_[e.folder];
      out += indent + "    <DT><H3";
      if (depth == 0 && f.title == BookmarkFolderTitle(kFavoritesFolder))
        out += " PERSONAL_TOOLBAR_FOLDER=\"true\"";
      out += ">" + HtmlEscapeUtf8(f.title) + "</H3>\n";
      Write(out, e.folder, depth + 1);
    }
    out += indent + "</DL><p>\n";
  }

 private:
  std::vector<Folder> folders_;
};

}  // namespace

std::string NetscapeBookmarkFile(const std::vector<const BookmarkRecord*>& items) {
  Tree tree;
  for (const BookmarkRecord* b : items) {
    if (b == nullptr) continue;
    if (b->kind == BookmarkKind::kFolder) {
      std::vector<std::string> path = b->folder;
      path.push_back(b->title);
      tree.At(path, path.size());
    } else {
      tree.Link(tree.At(b->folder, b->folder.size()), b);
    }
  }
  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<!-- This is an automatically generated file.\n"
      "     It will be read and overwritten.\n"
      "     DO NOT EDIT! -->\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n"
      "<H1>Bookmarks</H1>\n";
  tree.Write(out, 0, 0);
  return out;
}

}  // namespace bv
