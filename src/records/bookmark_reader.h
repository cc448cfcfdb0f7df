#pragma once
// Safari's bookmarks, folders and Reading List from Bookmarks.db (HomeDomain,
// Library/Safari/Bookmarks.db), table `bookmarks`: id, parent (-> id), type (1 a folder,
// 0 a bookmark), title, url, order_index (place among its siblings), deleted (set on a
// row removed on the phone and kept until it syncs). The root has no parent; its
// children are the special folders "BookmarksBar" (shown as Favorites),
// "BookmarksMenu" and "com.apple.ReadingList" (the Reading List, whose bookmarks are
// Reading List items). Columns are located by name. Runs on the scan thread.
#include <list>
#include <string>
#include <string_view>

#include "common/result_codes.h"
#include "records/readonly_db.h"
#include "records/record_types.h"

namespace bv {

// The title Safari gives a special folder ("BookmarksBar" is "Favorites",
// "com.apple.ReadingList" is "Reading List"); other titles as they are.
std::string BookmarkFolderTitle(std::string_view stored);
inline constexpr std::string_view kReadingListFolder = "com.apple.ReadingList";
inline constexpr std::string_view kFavoritesFolder = "BookmarksBar";

class BookmarkReader {
 public:
  // Replaces `bookmarks` by every row but the root, folders before what they hold,
  // siblings in their stored order; rows whose parent is missing follow at the end.
  // Result: the open code, 1006 when the database has no bookmarks table or its
  // statement fails, else 0.
  Result Read(const DatabaseFile& path, std::list<BookmarkRecord>& bookmarks);

  // After Read: why the database could not be read, or only in part.
  const DatabaseIssue& Problem() const { return problem_; }

 private:
  DatabaseIssue problem_;
};

// The folder titles of a record joined with " / " ("Favorites / Work").
std::string BookmarkFolderText(const BookmarkRecord& record);

}  // namespace bv
