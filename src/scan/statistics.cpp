#include "scan/statistics.h"

#include <algorithm>

namespace bv {

namespace {
std::uint64_t ItemSize(std::uint32_t size) {
  return std::max<std::uint64_t>(size, kMinEntrySize);
}
std::uint32_t DeletedFlag(std::int32_t deleted) {
  return deleted != 0 ? 1u : 0u;
}
}  // namespace

CStatisticsObj::CStatisticsObj() {
  Reset();
}

void CStatisticsObj::Reset() {
  entries_.clear();
  index_.clear();
  nodes_.clear();
  root_ = StatNode{};
  totalSize_ = 0;
  tickedSize_ = 0;
  for (int i = 0; i < kCategoryCount; ++i)
    categoryNodes_[i] = &NewNode(&root_, CategoryId(static_cast<Category>(i)), "");
}

StatNode& CStatisticsObj::NewNode(StatNode* parent, std::int32_t category, std::string label) {
  StatNode& node = nodes_.emplace_back();
  node.parent = parent;
  node.category = category;
  node.label = std::move(label);
  parent->children.push_back(&node);
  StatEntry e;
  e.isGroup = 1;
  e.ticked = 1;
  e.category = category;
  e.item = static_cast<const StatNode*>(&node);
  e.node = &node;
  node.entry = entries_.size();
  index_[&node] = entries_.size();
  entries_.push_back(std::move(e));
  return node;
}

StatNode& CStatisticsObj::CategoryNode(Category c) {
  return *categoryNodes_[static_cast<int>(c)];
}
const StatNode& CStatisticsObj::CategoryNode(Category c) const {
  return *categoryNodes_[static_cast<int>(c)];
}

const StatNode* CStatisticsObj::AppNode(Category c, const std::string& app) const {
  for (const StatNode* child : CategoryNode(c).children)
    if (child->label == app) return child;
  return nullptr;
}

void CStatisticsObj::Change(StatNode& node, std::uint32_t StatNode::*counter, int delta) {
  for (StatNode* n = &node; n != nullptr; n = n->parent) {
    std::uint32_t& value = n->*counter;
    if (delta >= 0) {
      std::uint64_t next = static_cast<std::uint64_t>(value) + static_cast<std::uint64_t>(delta);
      if (counter != &StatNode::items) next = std::min<std::uint64_t>(next, n->items);
      value = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, UINT32_MAX));
    } else {
      const std::uint32_t down = static_cast<std::uint32_t>(-static_cast<std::int64_t>(delta));
      value = down > value ? 0 : value - down;
    }
  }
}

std::size_t CStatisticsObj::AddEntry(StatNode& node, StatItem item, std::uint64_t size,
                                     std::uint32_t deleted) {
  StatEntry e;
  e.isGroup = 0;
  e.ticked = 1;
  e.hidden = 0;
  e.category = node.category;
  e.size = size;
  e.deleted = deleted;
  e.node = &node;
  const void* key = std::visit(
      [](auto p) -> const void* {
        if constexpr (std::is_pointer_v<decltype(p)>)
          return p;
        else
          return nullptr;
      },
      item);
  e.item = item;
  const std::size_t at = entries_.size();
  entries_.push_back(std::move(e));
  if (key) index_[key] = at;
  node.itemEntries.push_back(at);
  Change(node, &StatNode::items, 1);
  Change(node, &StatNode::ticked, 1);
  totalSize_ += size;
  tickedSize_ += size;
  // A node under the deleted-only filter hides what it gains, as the list would.
  for (StatNode* n = &node; n != nullptr && n->parent != nullptr; n = n->parent)
    if (n->filterState == 'D' && !deleted) {
      SetItemHidden(entries_[at], true);
      break;
    }
  return at;
}

void CStatisticsObj::AddMedia(Category c, const MediaList& items) {
  StatNode& node = CategoryNode(c);
  for (const MediaItem& item : items) AddEntry(node, &item, ItemSize(item.size), 0);
  RefreshGroupTick(node);
}

void CStatisticsObj::AddAppMedia(Category c, const AppGroups& groups) {
  StatNode& category = CategoryNode(c);
  for (const auto& [app, list] : groups) {
    StatNode* node = const_cast<StatNode*>(AppNode(c, app));
    if (!node) node = &NewNode(&category, category.category, app);
    for (const AppMediaItem& item : list) AddEntry(*node, &item, ItemSize(item.size), 0);
    RefreshGroupTick(*node);
  }
}

void CStatisticsObj::AddConversations(const std::list<MessageRecord>& list) {
  StatNode& node = CategoryNode(Category::Messages);
  for (const MessageRecord& r : list) AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

void CStatisticsObj::AddAttachments(const AttachmentList& items) {
  StatNode& node = CategoryNode(Category::MessageAttachments);
  for (const AttachmentItem& item : items) AddEntry(node, &item, ItemSize(item.size), 0);
  RefreshGroupTick(node);
}

void CStatisticsObj::AddContacts(const std::list<ContactRecord>& contacts) {
  StatNode& node = CategoryNode(Category::Contacts);
  for (const ContactRecord& r : contacts) AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

void CStatisticsObj::AddCalls(const std::list<CallRecord>& calls) {
  StatNode& node = CategoryNode(Category::CallHistory);
  for (const CallRecord& r : calls) AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

void CStatisticsObj::AddNotes(const std::list<NoteRecord>& notes) {
  StatNode& node = CategoryNode(Category::Notes);
  for (const NoteRecord& r : notes) AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

void CStatisticsObj::AddChats(const std::list<WhatsAppMessageRecord>& list) {
  StatNode& node = CategoryNode(Category::WhatsApp);
  for (const WhatsAppMessageRecord& r : list)
    AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

std::list<ChatAppChat> BuildChatAppList(Category app, const AccountChats& accounts) {
  std::list<ChatAppChat> list;
  for (const auto& [account, chats] : accounts) {
    for (const auto& [key, messages] : chats) {
      ChatAppChat& row = list.emplace_back();
      row.app = app;
      row.account = account;
      row.chat = key;
      row.messages = &messages;
      for (const ChatMessageRecord& m : messages) {
        (m.status != 0 ? row.deleted : row.live)++;
        if (!m.time.empty() && m.time > row.lastTime) row.lastTime = m.time;
      }
    }
  }
  // As the other chat lists: chats with deleted messages first (a stable sort).
  list.sort([](const ChatAppChat& a, const ChatAppChat& b) {
    return (a.deleted != 0) > (b.deleted != 0);
  });
  return list;
}

void CStatisticsObj::AddChatApp(Category app, const std::list<ChatAppChat>& chats) {
  StatNode& node = CategoryNode(app);
  for (const ChatAppChat& r : chats) AddEntry(node, &r, kMinEntrySize, r.deleted != 0 ? 1u : 0u);
  RefreshGroupTick(node);
}

void CStatisticsObj::AddReminders(const std::list<ReminderRecord>& reminders) {
  StatNode& node = CategoryNode(Category::Reminder);
  for (const ReminderRecord& r : reminders)
    AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

void CStatisticsObj::AddEvents(const std::list<CalendarEventRecord>& events) {
  StatNode& node = CategoryNode(Category::Calendar);
  for (const CalendarEventRecord& r : events)
    AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

void CStatisticsObj::AddBookmarks(const std::list<BookmarkRecord>& bookmarks) {
  StatNode& node = CategoryNode(Category::SafariBookmark);
  for (const BookmarkRecord& r : bookmarks)
    AddEntry(node, &r, kMinEntrySize, DeletedFlag(r.deleted));
  RefreshGroupTick(node);
}

std::size_t CStatisticsObj::FindEntry(const void* itemOrNode) const {
  auto it = index_.find(itemOrNode);
  return it == index_.end() ? npos : it->second;
}

void CStatisticsObj::SetItemTicked(StatEntry& e, bool ticked) {
  if ((e.ticked != 0) == ticked) return;
  e.ticked = ticked ? 1 : 0;
  const int delta = ticked ? 1 : -1;
  Change(*e.node, &StatNode::ticked, delta);
  if (e.hidden) {
    Change(*e.node, &StatNode::tickedHidden, delta);
  } else if (ticked) {
    tickedSize_ += e.size;
  } else {
    tickedSize_ = e.size > tickedSize_ ? 0 : tickedSize_ - e.size;
  }
}

void CStatisticsObj::SetItemHidden(StatEntry& e, bool hidden) {
  if ((e.hidden != 0) == hidden) return;
  e.hidden = hidden ? 1 : 0;
  const int delta = hidden ? 1 : -1;
  Change(*e.node, &StatNode::hidden, delta);
  if (e.ticked) {
    Change(*e.node, &StatNode::tickedHidden, delta);
    if (hidden)
      tickedSize_ = e.size > tickedSize_ ? 0 : tickedSize_ - e.size;
    else
      tickedSize_ += e.size;
  }
}

void CStatisticsObj::ForEachItemBelow(StatNode& node, void (CStatisticsObj::*op)(StatEntry&, bool),
                                      bool value) {
  for (std::size_t i : node.itemEntries) (this->*op)(entries_[i], value);
  for (StatNode* child : node.children) ForEachItemBelow(*child, op, value);
}

void CStatisticsObj::RefreshGroupTick(StatNode& node) {
  for (StatNode* n = &node; n != nullptr && n->parent != nullptr; n = n->parent)
    entries_[n->entry].ticked = n->ticked == n->items ? 1 : 0;
  // Children of a node changed as a whole: keep their entries in step too.
  for (StatNode* child : node.children) {
    entries_[child->entry].ticked = child->ticked == child->items ? 1 : 0;
  }
}

bool CStatisticsObj::SetTicked(std::size_t entry, bool ticked) {
  if (entry >= entries_.size()) return false;
  StatEntry& e = entries_[entry];
  if (e.isGroup) {
    SetNodeTicked(*e.node, ticked);
  } else {
    SetItemTicked(e, ticked);
    RefreshGroupTick(*e.node);
  }
  return true;
}

void CStatisticsObj::SetNodeTicked(StatNode& node, bool ticked) {
  ForEachItemBelow(node, &CStatisticsObj::SetItemTicked, ticked);
  RefreshGroupTick(node);
}

bool CStatisticsObj::IsFilterable(Category c) {
  switch (c) {
    case Category::Messages:
    case Category::Contacts:
    case Category::CallHistory:
    case Category::Notes:
    case Category::WhatsApp:
    case Category::Reminder:
    case Category::Calendar:
    case Category::SafariBookmark:
    case Category::WeChat:
    case Category::QQ:
      return true;
    default:
      return false;
  }
}

bool CStatisticsObj::SetDeletedOnly(StatNode& node, bool on) {
  if (node.parent != &root_ || !IsFilterable(CategoryFromId(node.category))) return false;
  node.filterState = on ? 'D' : 'N';
  for (std::size_t i : node.itemEntries) {
    StatEntry& e = entries_[i];
    if (!e.deleted) SetItemHidden(e, on);
  }
  RefreshGroupTick(node);
  return true;
}

void CStatisticsObj::RecomputeRoot() {
  root_.items = root_.ticked = root_.hidden = root_.tickedHidden = 0;
  for (const StatNode* child : root_.children) {
    root_.items += child->items;
    root_.ticked += child->ticked;
    root_.hidden += child->hidden;
    root_.tickedHidden += child->tickedHidden;
  }
}

StatisticsValues CStatisticsObj::Statistics() const {
  StatisticsValues v;
  v.tickedSize = tickedSize_;
  v.tickedVisible = root_.ticked > root_.tickedHidden ? root_.ticked - root_.tickedHidden : 0;
  v.totalSize = totalSize_;
  v.items = root_.items;
  return v;
}

}  // namespace bv
