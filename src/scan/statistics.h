#pragma once
// The selection tree of one scan: a root, one node per category and, under App Photos
// and App Videos, one node per app. Every result item and every node has an entry; the
// entries keep the order in which they were added ("store order"), which is the order
// the recovery job visits them.
//
// Counters of a node count the item entries below it (its own and its children's).
// Invariants kept by every operation:
//   items        = item entries below the node
//   ticked       = ticked item entries below it
//   hidden       = item entries hidden by a deleted-only filter
//   tickedHidden = entries that are both ticked and hidden
//   totalSize    = sum of `size` of every item entry
//   tickedSize   = sum of `size` of the entries that are ticked and not hidden
// A counter change is carried to every ancestor; an increase stops at the node's
// `items` and a decrease stops at 0, so a stray double tick never breaks a count.
//
// Threads: not thread-safe. While a scan runs only the scan worker changes it, and only
// while holding the scan lock (see CScanSession); a paused or ended scan belongs to the
// user-interface thread, and the recovery, print and preview workers read it while that
// thread waits in their modal windows.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#include "catalogue/classification.h"
#include "catalogue/types.h"
#include "records/record_types.h"

namespace bv {

// Category ids of the selection (1-based, as the recovery job dispatches on them):
// 1 Camera Roll ... 11 WhatsApp attachments, 12 Reminder, 13 Calendar, 14 Safari Bookmark,
// 15 WeChat, 16 QQ.
inline constexpr std::int32_t CategoryId(Category c) {
  return static_cast<std::int32_t>(c) + 1;
}
inline constexpr Category CategoryFromId(std::int32_t id) {
  return static_cast<Category>(id - 1);
}

// One chat of a WeChat or QQ account as a row of the selection: the account, the chat's
// key and its messages, which stay in the session's stores.
struct ChatAppChat {
  Category app = Category::WeChat;
  std::string account;
  std::string chat;
  const std::list<ChatMessageRecord>* messages = nullptr;
  std::uint32_t live = 0;
  std::uint32_t deleted = 0;  // messages found in deleted space
  std::string lastTime;       // the time text of the chat's last message
};
// One row per chat of every account, accounts and chats in key order. A chat with any
// deleted message counts as deleted for the deleted-only filter.
std::list<ChatAppChat> BuildChatAppList(Category app, const AccountChats& accounts);

// Records shorter than this count as this many bytes; a file item counts at least this.
inline constexpr std::uint64_t kMinEntrySize = 1024;

// The item an entry stands for. Points into the scan session's stores (std::list and
// std::map elements, whose addresses never move while the stores live). Ids 1, 2, 11
// hold a MediaItem; 3, 4 an AppMediaItem; 5 the conversation-list record; 6 an
// AttachmentItem; 7 a ContactRecord; 8 a CallRecord; 9 a NoteRecord; 10 the chat-list
// record; 12 a ReminderRecord; 13 a CalendarEventRecord; 14 a BookmarkRecord; 15 and 16
// a ChatAppChat. Group entries hold their node.
struct StatNode;
using StatItem =
    std::variant<std::monostate, const StatNode*, const MediaItem*, const AppMediaItem*,
                 const MessageRecord*, const AttachmentItem*, const ContactRecord*,
                 const CallRecord*, const NoteRecord*, const WhatsAppMessageRecord*,
                 const ReminderRecord*, const CalendarEventRecord*, const BookmarkRecord*,
                 const ChatAppChat*>;

struct StatEntry {
  std::uint32_t isGroup = 0;  // non-zero for a node's entry
  std::uint32_t ticked = 1;   // a group entry: every item below it is ticked
  std::uint32_t hidden = 0;   // hidden by the deleted-only filter
  std::int32_t category = 0;  // 1..16 (see CategoryId)
  std::uint64_t size = 0;     // bytes, at least kMinEntrySize for an item
  std::uint32_t deleted = 0;  // the record's `deleted` (0 for files)
  StatItem item;
  StatNode* node = nullptr;  // the node the entry belongs to (its own node for a group)

  template <typename T>
  const T* As() const {
    auto p = std::get_if<const T*>(&item);
    return p ? *p : nullptr;
  }
};

struct StatNode {
  std::uint32_t items = 0;
  std::uint32_t ticked = 0;
  std::uint32_t hidden = 0;
  std::uint32_t tickedHidden = 0;
  StatNode* parent = nullptr;
  std::vector<StatNode*> children;
  std::int32_t category = 0;             // 0 for the root
  std::string label;                     // the app identifier of an app node, else empty
  char filterState = 'N';                // deleted-only filter: 'D' on, 'N' off
  std::size_t entry = 0;                 // index of the node's own entry (none for the root)
  std::vector<std::size_t> itemEntries;  // the node's own item entries, in store order
};

// Values for the statistics label, in the order the label takes them.
struct StatisticsValues {
  std::uint64_t tickedSize = 0;
  std::uint32_t tickedVisible = 0;  // root ticked - tickedHidden, 0 when not positive
  std::uint64_t totalSize = 0;
  std::uint32_t items = 0;
};

class CStatisticsObj {
 public:
  CStatisticsObj();
  CStatisticsObj(const CStatisticsObj&) = delete;
  CStatisticsObj& operator=(const CStatisticsObj&) = delete;

  // Empties everything and creates the root and the sixteen category nodes (each with
  // its entry), all counters 0.
  void Reset();

  StatNode& Root() { return root_; }
  const StatNode& Root() const { return root_; }
  StatNode& CategoryNode(Category c);
  const StatNode& CategoryNode(Category c) const;
  // The app node under App Photos or App Videos; nullptr when there is none.
  const StatNode* AppNode(Category c, const std::string& app) const;

  // Adding results: one ticked, visible entry per item under the category's node.
  void AddMedia(Category c, const MediaList& items);                   // 1, 2, 11
  void AddAppMedia(Category c, const AppGroups& groups);               // 3, 4: one node per app
  void AddConversations(const std::list<MessageRecord>& list);         // 5
  void AddAttachments(const AttachmentList& items);                    // 6
  void AddContacts(const std::list<ContactRecord>& contacts);          // 7
  void AddCalls(const std::list<CallRecord>& calls);                   // 8
  void AddNotes(const std::list<NoteRecord>& notes);                   // 9
  void AddChats(const std::list<WhatsAppMessageRecord>& list);         // 10
  void AddReminders(const std::list<ReminderRecord>& reminders);       // 12
  void AddEvents(const std::list<CalendarEventRecord>& events);        // 13
  void AddBookmarks(const std::list<BookmarkRecord>& bookmarks);       // 14
  void AddChatApp(Category app, const std::list<ChatAppChat>& chats);  // 15, 16

  // Entries in store order.
  const std::vector<StatEntry>& Entries() const { return entries_; }
  // The entry of an item (its address in a store) or of a node; npos when unknown.
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  std::size_t FindEntry(const void* itemOrNode) const;

  // Ticks or unticks one entry. A group entry ticks or unticks every item below its
  // node (hidden ones included). Returns false for an unknown index.
  bool SetTicked(std::size_t entry, bool ticked);
  // The list header's tick box: every item entry below the node.
  void SetNodeTicked(StatNode& node, bool ticked);

  // The deleted-only filter of one node (Messages, Contacts, Call History, Notes,
  // WhatsApp, Reminder, Calendar, Safari Bookmark, WeChat and QQ carry one; other nodes ignore it
  // and return false). Switching it on hides
  // every entry below the node whose record is not deleted; off shows them again.
  static bool IsFilterable(Category c);
  bool SetDeletedOnly(StatNode& node, bool on);

  // Recomputes the root's counters as the sums over the category nodes.
  void RecomputeRoot();

  std::uint64_t TotalSize() const { return totalSize_; }
  std::uint64_t TickedSize() const { return tickedSize_; }
  StatisticsValues Statistics() const;

 private:
  std::size_t AddEntry(StatNode& node, StatItem item, std::uint64_t size, std::uint32_t deleted);
  StatNode& NewNode(StatNode* parent, std::int32_t category, std::string label);
  void Change(StatNode& node, std::uint32_t StatNode::*counter, int delta);
  void SetItemTicked(StatEntry& e, bool ticked);
  void SetItemHidden(StatEntry& e, bool hidden);
  void ForEachItemBelow(StatNode& node, void (CStatisticsObj::*op)(StatEntry&, bool), bool value);
  void RefreshGroupTick(StatNode& node);

  StatNode root_;
  std::deque<StatNode> nodes_;  // category and app nodes; addresses stay put
  StatNode* categoryNodes_[kCategoryCount] = {};
  std::vector<StatEntry> entries_;
  std::unordered_map<const void*, std::size_t> index_;
  std::uint64_t totalSize_ = 0;
  std::uint64_t tickedSize_ = 0;
};

}  // namespace bv
