// Safari: Bookmarks.db (iOS 5 on) with the root, the special folders (Favorites as
// "BookmarksBar", "BookmarksMenu", the Reading List as "com.apple.ReadingList"), folders
// of the user's nested two deep, bookmarks, Reading List items, and a row the phone
// marked as deleted (kept until it syncs).
#include "internal.h"

namespace bv::mkbackup {

namespace {

struct Node {
  std::int64_t id = 0;
  std::int64_t parent = -1;  // -1: the root's (NULL)
  int type = 0;              // 1 folder, 0 bookmark
  int special = 0;
  std::string title, url;
  std::int64_t order = 0;
  bool deleted = false;
};

}  // namespace

void WriteSafari(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  const Version v = ctx.version();
  if (v.major < 5) return;  // older systems keep bookmarks in a property list
  Prng rng(o.seed ^ 0x5AFA41ull);
  TruthDb& truth =
      ctx.BeginDatabase("Bookmarks.db", "HomeDomain", "Library/Safari/Bookmarks.db", 4096);
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  CreateOverlay(db, truth, {v.major < 9 ? "Bookmarks.db (HomeDomain" : "Bookmarks.db | iOS 9"});

  std::vector<Node> nodes;
  std::map<std::int64_t, std::int64_t> childCount;
  auto add = [&](std::int64_t parent, int type, std::string title, std::string url,
                 int special = 0) {
    Node n;
    n.id = static_cast<std::int64_t>(nodes.size());
    n.parent = parent;
    n.type = type;
    n.special = special;
    n.title = std::move(title);
    n.url = std::move(url);
    n.order = parent >= 0 ? childCount[parent]++ : 0;
    nodes.push_back(std::move(n));
    return nodes.back().id;
  };
  const std::int64_t root = add(-1, 1, "Root", "", 0);
  const std::int64_t bar = add(root, 1, "BookmarksBar", "", 1);
  const std::int64_t menu = add(root, 1, "BookmarksMenu", "", 2);
  const std::int64_t reading = add(root, 1, "com.apple.ReadingList", "", 3);
  const std::int64_t work = add(menu, 1, "Work & Projects", "");
  const std::int64_t deep = add(work, 1, "Docs / Manuals", "");
  const std::int64_t travel = add(bar, 1, "Travel ✈️", "");
  static const std::vector<std::string> titles = {
      "News", "Weather <today>", "Recipes & more", "\"Quoted\" site", "Bank",
      "Maps", "中文网站",        "Café menu",      "Library",         "Train times"};
  const std::vector<std::int64_t> folders = {bar, menu, work, deep, travel};
  for (int i = 0; i < o.bookmarks; ++i) {
    const std::int64_t parent = folders[static_cast<std::size_t>(i) % folders.size()];
    std::string url = "https://www.example" + std::to_string(i % 7) +
                      ".org/page?id=" + std::to_string(i) + (i % 3 == 0 ? "&lang=de" : "");
    if (i % 10 == 6) url += "&q=\"x\"<y>";
    add(parent, 0, titles[static_cast<std::size_t>(i) % titles.size()] + " " + std::to_string(i),
        url);
  }
  for (int i = 0; i < std::max(1, o.bookmarks / 4); ++i)
    add(reading, 0, "Article: " + Sentence(rng, 2, 6),
        "https://news.example.com/2021/" + std::to_string(100 + i) + ".html");
  if (o.bookmarks > 0) {
    // Removed on the phone, kept for the next sync.
    const std::int64_t gone = add(menu, 0, "Old bookmark", "https://old.example.net/");
    nodes[static_cast<std::size_t>(gone)].deleted = true;
  }

  std::vector<std::int64_t> rowids;
  {
    Inserter ins(db, &truth.Table("bookmarks"), "bookmarks",
                 {"id", "special_id", "parent", "type", "title", "url", "num_children", "editable",
                  "deletable", "hidden", "order_index", "external_uuid", "last_modified", "added",
                  "deleted"});
    const std::int64_t modified = ParseIsoDate(o.date) - kAppleEpoch - 5 * 86400;
    for (const Node& n : nodes) {
      ins.Row({n.id, std::int64_t{n.special}, n.parent >= 0 ? Value{n.parent} : Value{},
               std::int64_t{n.type}, n.title, n.type == 0 ? Value{n.url} : Value{},
               std::int64_t{childCount.count(n.id) ? childCount[n.id] : 0},
               std::int64_t{n.special != 0 ? 0 : 1}, std::int64_t{n.special != 0 ? 0 : 1},
               std::int64_t{0}, n.order, Guid(rng), static_cast<double>(modified + n.id),
               std::int64_t{1}, std::int64_t{n.deleted ? 1 : 0}});
      if (n.type == 0 && !n.deleted) rowids.push_back(n.id);
    }
  }
  if (o.deletedRows && rowids.size() >= 8) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 3; k < rowids.size(); k += 8) rows.push_back(rowids[k]);
    DeleteRows(db, truth, "bookmarks", rows, "url", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 500);
}

}  // namespace bv::mkbackup
