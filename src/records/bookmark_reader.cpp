#include "records/bookmark_reader.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "records/item_tables.h"
#include "records/readonly_db.h"

namespace bv {

namespace {

// A chain of parents longer than this is damaged (a cycle the statement cannot see).
constexpr std::size_t kDeepestFolder = 256;

struct Row {
  std::int64_t id = 0;
  bool hasParent = false;
  std::int64_t parent = 0;
  std::int32_t type = 0;
  std::int64_t order = 0;
  std::int32_t deleted = 0;
  std::string title;
  std::string url;
};

struct Rows {
  std::vector<Row> rows;
};

int BookmarkRow(void* context, StatementRow& row) {
  Row r;
  r.id = row.Int64(0);
  r.hasParent = row.Text(1) != nullptr;
  r.parent = row.Int64(1);
  r.type = row.Int32(2);
  r.title = TextOf(row, 3);
  r.url = TextOf(row, 4);
  r.order = row.Int64(5);
  r.deleted = row.Int32(6) != 0 ? 1 : 0;
  static_cast<Rows*>(context)->rows.push_back(std::move(r));
  return 0;
}

}  // namespace

std::string BookmarkFolderTitle(std::string_view stored) {
  if (stored == kFavoritesFolder) return "Favorites";
  if (stored == "BookmarksMenu") return "Bookmarks Menu";
  if (stored == kReadingListFolder) return "Reading List";
  return std::string(stored);
}

std::string BookmarkFolderText(const BookmarkRecord& record) {
  std::string text;
  for (const std::string& title : record.folder) {
    if (!text.empty()) text += " / ";
    text += title;
  }
  return text;
}

Result BookmarkReader::Read(const DatabaseFile& path, std::list<BookmarkRecord>& bookmarks) {
  bookmarks.clear();
  problem_ = {};
  ReadOnlyDatabase db;
  const int rc = db.Open(path);
  problem_ = db.Issue();
  if (rc != 0) return rc;
  const TableColumns columns(db, "bookmarks");
  if (!columns.Has("id")) {
    problem_ = columns.Exists() && db.Issue().Ok()
                   ? DatabaseIssue{DatabaseIssue::Kind::kLayout, "no column id in bookmarks", {}}
                   : MissingTableIssue(db, "bookmarks");
    return kQueryFailed;
  }
  const std::string sql = "SELECT b.\"id\", " + columns.Select("b", {"parent"}) + ", " +
                          columns.Select("b", {"type"}) + ", " + columns.Select("b", {"title"}) +
                          ", " + columns.Select("b", {"url"}) + ", " +
                          columns.Select("b", {"order_index"}) + ", " +
                          columns.Select("b", {"deleted"}) + " FROM \"bookmarks\" AS b;";
  Rows read;
  const bool failed = db.Each(sql.c_str(), BookmarkRow, &read);
  problem_ = db.Issue();
  std::vector<Row>& rows = read.rows;

  std::map<std::int64_t, std::size_t> byId;
  for (std::size_t i = 0; i < rows.size(); ++i) byId.emplace(rows[i].id, i);
  // A row is the root when it has no parent (or is its own).
  auto isRoot = [&](const Row& r) { return !r.hasParent || r.parent == r.id; };
  std::map<std::int64_t, std::vector<std::size_t>> children;
  std::vector<std::size_t> roots;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (isRoot(rows[i]))
      roots.push_back(i);
    else
      children[rows[i].parent].push_back(i);
  }
  for (auto& [parent, list] : children)
    std::stable_sort(list.begin(), list.end(), [&](std::size_t a, std::size_t b) {
      return rows[a].order != rows[b].order ? rows[a].order < rows[b].order
                                            : rows[a].id < rows[b].id;
    });

  std::list<BookmarkRecord> out;
  std::set<std::size_t> placed;
  // Depth first from each root: a folder, then what it holds. `path` holds the titles
  // of the folders above the rows being placed.
  struct Frame {
    std::size_t row;
    std::vector<std::string> path;
    bool readingList;
  };
  auto emit = [&](std::size_t i, const std::vector<std::string>& path, bool readingList) {
    const Row& r = rows[i];
    BookmarkRecord b;
    b.id = r.id;
    b.parentId = r.parent;
    b.deleted = r.deleted;
    b.title = r.type == 1 ? BookmarkFolderTitle(r.title) : r.title;
    b.url = r.url;
    b.kind = r.type == 1   ? BookmarkKind::kFolder
             : readingList ? BookmarkKind::kReadingList
                           : BookmarkKind::kBookmark;
    b.folder = path;
    out.push_back(std::move(b));
  };
  auto walk = [&](std::size_t start, std::vector<std::string> path, bool readingList) {
    std::vector<Frame> stack;
    stack.push_back({start, std::move(path), readingList});
    while (!stack.empty()) {
      Frame f = std::move(stack.back());
      stack.pop_back();
      if (!placed.insert(f.row).second) continue;
      emit(f.row, f.path, f.readingList);
      const Row& r = rows[f.row];
      auto kids = children.find(r.id);
      if (kids == children.end() || f.path.size() >= kDeepestFolder) continue;
      std::vector<std::string> inner = f.path;
      inner.push_back(BookmarkFolderTitle(r.title));
      const bool innerReading = f.readingList || r.title == kReadingListFolder;
      for (auto it = kids->second.rbegin(); it != kids->second.rend(); ++it)
        stack.push_back({*it, inner, innerReading});
    }
  };
  for (std::size_t root : roots) {
    placed.insert(root);  // the root itself is no folder of the user's
    auto kids = children.find(rows[root].id);
    if (kids == children.end()) continue;
    for (std::size_t child : kids->second) walk(child, {}, false);
  }
  // Rows cut off from the root (a missing parent, a cycle): their own titles as far as
  // the chain goes, nearest last.
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (placed.count(i) != 0) continue;
    std::vector<std::string> path;
    bool readingList = false;
    std::set<std::int64_t> seen{rows[i].id};
    for (auto p = byId.find(rows[i].parent);
         p != byId.end() && !isRoot(rows[p->second]) && path.size() < kDeepestFolder &&
         seen.insert(rows[p->second].id).second;
         p = byId.find(rows[p->second].parent)) {
      path.push_back(BookmarkFolderTitle(rows[p->second].title));
      readingList = readingList || rows[p->second].title == kReadingListFolder;
    }
    std::reverse(path.begin(), path.end());
    walk(i, std::move(path), readingList);
  }
  bookmarks.swap(out);
  return failed ? kQueryFailed : kSuccess;
}

}  // namespace bv
