#include "scan/scan_session.h"

#include <algorithm>

#include "catalogue/discovery.h"
#include "common/text.h"
#include "scan/data_source_factory.h"

namespace bv {

namespace {
constexpr auto kStopPoll = std::chrono::milliseconds(50);
constexpr std::int32_t kFirstShownPercent = 2;
constexpr std::int32_t kMaxShownPercent = 99;

bool IsChosen(const CategorySet& set, Category c) {
  return set[static_cast<int>(c)];
}
}  // namespace

void ScanStores::Clear() {
  cameraRoll.clear();
  photoStream.clear();
  appMedia.clear();
  appSplit.photos.clear();
  appSplit.videos.clear();
  conversations.clear();
  conversationList.clear();
  messageAttachments.clear();
  contacts.clear();
  calls.clear();
  notes.clear();
  chats.clear();
  chatList.clear();
  whatsAppAttachments.clear();
  reminders.clear();
  events.clear();
  bookmarks.clear();
  weChatList.clear();
  weChat.clear();
  qqList.clear();
  qq.clear();
}

std::list<MessageRecord> BuildConversationList(const ConversationMap& conversations) {
  std::list<MessageRecord> list;
  for (const auto& [handle, messages] : conversations) {
    MessageRecord row;
    // The last live message stands for it (deleted ones follow the live ones), else the
    // last deleted one.
    auto last = std::find_if(messages.rbegin(), messages.rend(),
                             [](const MessageRecord& m) { return m.deleted == 0; });
    if (last != messages.rend())
      row = *last;
    else if (!messages.empty())
      row = messages.back();
    // The row stands for the whole conversation: its handleId is the conversation's key,
    // and a chat that is not one person's shows its label and members.
    row.handleId = handle;
    if (const MessageChatInfo* chat = row.chat.get()) {
      if (chat->members.size() != 1) {
        row.name = chat->label;
        std::string members;
        for (std::size_t i = 0; i < chat->members.size(); ++i)
          members += (i != 0 ? ", " : "") + chat->members[i];
        row.sender = members;
      } else if (row.sender.empty()) {
        // The owner's last message to one person may carry no handle of its own.
        row.sender = chat->members[0];
        row.name = chat->memberNames[0];
      }
    }
    row.deleted = std::any_of(messages.begin(), messages.end(),
                              [](const MessageRecord& m) { return m.deleted != 0; })
                      ? 1
                      : 0;
    list.push_back(std::move(row));
  }
  // std::list::sort is stable: key order survives inside each half.
  list.sort([](const MessageRecord& a, const MessageRecord& b) { return a.deleted > b.deleted; });
  return list;
}

std::list<WhatsAppMessageRecord> BuildChatList(const WhatsAppChatMap& chats) {
  std::list<WhatsAppMessageRecord> list;
  for (const auto& [session, messages] : chats) {
    WhatsAppMessageRecord row;
    if (messages.empty()) {
      row.sessionId = session;
    } else {
      // The last live message stands for the chat, as for a conversation.
      auto last = std::find_if(messages.rbegin(), messages.rend(),
                               [](const WhatsAppMessageRecord& m) { return m.deleted == 0; });
      row = last != messages.rend() ? *last : messages.back();
    }
    row.deleted = std::any_of(messages.begin(), messages.end(),
                              [](const WhatsAppMessageRecord& m) { return m.deleted != 0; })
                      ? 1
                      : 0;
    list.push_back(std::move(row));
  }
  list.sort([](const WhatsAppMessageRecord& a, const WhatsAppMessageRecord& b) {
    return a.deleted > b.deleted;
  });
  return list;
}

CategorySet AllCategories() {
  CategorySet all;
  all.fill(true);
  return all;
}

// ---------------------------------------------------------------------------------

CScanSession::CScanSession() {
  for (auto& c : counts_) c.store(0);
  for (auto& s : shown_) s.store(false);
}

CScanSession::~CScanSession() {
  if (IsScanning()) Stop();
  Wait();
}

bool CScanSession::Start(const ScanRequest& request) {
  if (request.sourceKind != kLocalBackupSource && request.sourceKind != kDeviceSource) return false;
  if (IsScanning()) return false;
  void* target = request.sourceKind == kLocalBackupSource ? static_cast<void*>(request.catalog)
                                                          : request.deviceContext;
  if (target == nullptr) return false;
  Wait();
  // The previous data source goes before the next is built.
  source_.reset();
  if (request.sourceKind == kLocalBackupSource) SelectBackup(*request.catalog, request.backup);
  auto source = CreateDataSource(request.sourceKind, target);
  if (!source) return false;
  return Start(std::move(source), request.sourceKind, request.chosen, request.password);
}

bool CScanSession::Start(std::unique_ptr<IPhoneRecoveryParse> source, std::int32_t sourceKind,
                         const CategorySet& chosen, const std::string& password) {
  if (!source || (sourceKind != kLocalBackupSource && sourceKind != kDeviceSource)) return false;
  if (IsScanning()) return false;
  Wait();
  if (paused_.exchange(false)) scanLock_.release();
  sourceKind_ = sourceKind;
  ResetState();
  chosen_ = chosen;
  source_ = std::move(source);
  source_->SetProgressCallback(&CScanSession::ProgressReport, this);
  // Cleared here rather than by the worker, so that a stop confirmed before the worker
  // got going is not lost.
  stopRequested_ = false;
  scanIdle_ = false;
  everScanned_ = true;
  worker_ = std::thread(&CScanSession::Worker, this, password);
  return true;
}

void CScanSession::ResetState() {
  stores_.Clear();
  {
    std::lock_guard<std::mutex> lock(statsMutex_);
    stats_.Reset();
  }
  for (auto& c : counts_) c.store(0);
  for (auto& s : shown_) s.store(false);
  shownPercent_ = 0;
  openResult_ = 0;
  lastResult_ = 0;
  wrongPassword_ = false;
  chatAppsPhase_ = false;
  std::lock_guard<std::mutex> lock(problemMutex_);
  for (std::string& p : problems_) p.clear();
  openProblem_.clear();
}

std::string CScanSession::CategoryProblem(Category c) const {
  std::lock_guard<std::mutex> lock(problemMutex_);
  return problems_[static_cast<std::size_t>(c)];
}

std::string CScanSession::OpenProblem() const {
  std::lock_guard<std::mutex> lock(problemMutex_);
  return openProblem_;
}

bool CScanSession::AnyCategoryProblem() const {
  std::lock_guard<std::mutex> lock(problemMutex_);
  for (const std::string& p : problems_)
    if (!p.empty()) return true;
  return false;
}

void CScanSession::TakeProblems(Category first, Category second) {
  std::array<Category, 2> told{};
  std::size_t toldCount = 0;
  {
    std::lock_guard<std::mutex> lock(problemMutex_);
    for (Category c : {first, second}) {
      if (!IsChosen(chosen_, c)) continue;
      std::string text = source_->ReadProblem(c);
      if (!text.empty()) told[toldCount++] = c;
      problems_[static_cast<std::size_t>(c)] = std::move(text);
      if (first == second) break;
    }
  }
  for (std::size_t i = 0; i < toldCount; ++i)
    PostEvent(ScanEventKind::SourceProblem, CategoryId(told[i]));
}

void CScanSession::Clear() {
  if (IsScanning()) return;
  ResetState();
  chosen_ = CategorySet{};
}

void CScanSession::Pause() {
  if (paused_) return;
  scanLock_.acquire();
  paused_ = true;
}

void CScanSession::Resume() {
  if (!paused_) return;
  paused_ = false;
  scanLock_.release();
}

void CScanSession::BeginStop() {
  if (paused_ || stopHeld_) return;
  scanLock_.acquire();
  stopHeld_ = true;
}

void CScanSession::ConfirmStop() {
  const bool held = paused_.exchange(false) | stopHeld_.exchange(false);
  stopRequested_ = true;
  if (held) scanLock_.release();
  while (!scanIdle_) std::this_thread::sleep_for(kStopPoll);
}

void CScanSession::CancelStop() {
  if (paused_) return;  // the lock stays with the pause
  if (stopHeld_.exchange(false)) scanLock_.release();
}

void CScanSession::Stop() {
  BeginStop();
  ConfirmStop();
}

void CScanSession::Wait() {
  if (worker_.joinable()) worker_.join();
}

std::int32_t CScanSession::CategoryCount(Category c) const {
  return counts_[static_cast<int>(c)].load();
}

bool CScanSession::NodeShown(Category c) const {
  return shown_[static_cast<int>(c)].load();
}

bool CScanSession::SetTicked(std::size_t entry, bool ticked) {
  std::lock_guard<std::mutex> lock(statsMutex_);
  return stats_.SetTicked(entry, ticked);
}

void CScanSession::SetCategoryTicked(Category c, bool ticked) {
  std::lock_guard<std::mutex> lock(statsMutex_);
  stats_.SetNodeTicked(stats_.CategoryNode(c), ticked);
}

bool CScanSession::SetDeletedOnly(Category c, bool on) {
  std::lock_guard<std::mutex> lock(statsMutex_);
  return stats_.SetDeletedOnly(stats_.CategoryNode(c), on);
}

bool CScanSession::DeletedOnly(Category c) const {
  return stats_.CategoryNode(c).filterState == 'D';
}

std::uint32_t CScanSession::FilteredCount(Category c) const {
  return stats_.CategoryNode(c).hidden;
}

StatisticsLabel CScanSession::Label() const {
  StatisticsLabel label;
  if (!everScanned_) {
    label.tickedSize = "0 MB";
    label.totalSize = "0 MB";
    return label;
  }
  StatisticsValues v;
  {
    std::lock_guard<std::mutex> lock(statsMutex_);
    v = stats_.Statistics();
  }
  label.tickedSize = FormatSize(static_cast<std::int64_t>(v.tickedSize));
  label.tickedVisible = v.tickedVisible;
  label.totalSize = FormatSize(static_cast<std::int64_t>(v.totalSize));
  label.items = v.items;
  return label;
}

bool CScanSession::RecoveryEnabled() const {
  if (IsScanning() && !IsPaused()) return false;
  std::lock_guard<std::mutex> lock(statsMutex_);
  const StatNode& root = stats_.Root();
  return root.ticked > root.tickedHidden;
}

// ---------------------------------------------------------------------------------
// Worker side.

void CScanSession::PostEvent(ScanEventKind kind, std::int32_t param, std::string_view text) {
  if (sink_) sink_->Post(ScanEvent{kind, param, text});
}

std::int32_t CScanSession::ProgressReport(void* session, std::int32_t percent) {
  return static_cast<CScanSession*>(session)->Report(percent);
}

std::int32_t CScanSession::Report(std::int32_t percent) {
  scanLock_.acquire();  // a paused scan waits here
  if (stopRequested_) {
    scanLock_.release();
    return kStopped;
  }
  const std::int32_t shown = shownPercent_.load();
  // While the chat apps are read, the source's positions only give the chance to pause
  // or stop; the scan shows its own steps for them (ReportOwn).
  if (chatAppsPhase_) {
    scanLock_.release();
    return kSuccess;
  }
  if (percent == 1 && shown == 0) {
    // The source is open (for an encrypted backup: the password was accepted).
    PostEvent(ScanEventKind::OpenState, 0);
    if (openedPause_.count() > 0) std::this_thread::sleep_for(openedPause_);
  }
  if (percent > 0) {
    const std::int32_t next = ScaledPercent(percent);
    if (next > shown) {
      shownPercent_ = next;
      RefreshCounts();
      PostEvent(ScanEventKind::Progress, next);
    }
  }
  scanLock_.release();
  return kSuccess;
}

std::int32_t CScanSession::ScaledPercent(std::int32_t percent) const {
  const std::int32_t p = std::clamp(percent, kFirstShownPercent, kMaxShownPercent);
  const bool chatApps = IsChosen(chosen_, Category::WeChat) || IsChosen(chosen_, Category::QQ);
  if (!chatApps) return p;
  return kFirstShownPercent + (p - kFirstShownPercent) *
                                  (kChatAppsFromPercent - kFirstShownPercent) /
                                  (kMaxShownPercent - kFirstShownPercent);
}

std::int32_t CScanSession::ReportOwn(std::int32_t percent) {
  scanLock_.acquire();  // a paused scan waits here
  if (stopRequested_) {
    scanLock_.release();
    return kStopped;
  }
  const std::int32_t next = std::clamp(percent, kFirstShownPercent, kMaxShownPercent);
  if (next > shownPercent_.load()) {
    shownPercent_ = next;
    RefreshCounts();
    PostEvent(ScanEventKind::Progress, next);
  }
  scanLock_.release();
  return kSuccess;
}

void CScanSession::RefreshCounts() {
  auto set = [&](Category c, std::size_t n) {
    counts_[static_cast<int>(c)] =
        IsChosen(chosen_, c) ? static_cast<std::int32_t>(std::min<std::size_t>(n, INT32_MAX)) : 0;
  };
  set(Category::CameraRoll, stores_.cameraRoll.size());
  set(Category::PhotoStream, stores_.photoStream.size());
  set(Category::AppPhotos, stats_.CategoryNode(Category::AppPhotos).items);
  set(Category::AppVideos, stats_.CategoryNode(Category::AppVideos).items);
  set(Category::Messages, stores_.conversations.size());
  set(Category::MessageAttachments, stores_.messageAttachments.size());
  set(Category::Contacts, stores_.contacts.size());
  set(Category::CallHistory, stores_.calls.size());
  set(Category::Notes, stores_.notes.size());
  set(Category::WhatsApp, stores_.chats.size());
  set(Category::WhatsAppAttachments, stores_.whatsAppAttachments.size());
  set(Category::Reminder, stores_.reminders.size());
  set(Category::Calendar, stores_.events.size());
  set(Category::SafariBookmark, stores_.bookmarks.size());
  set(Category::WeChat, stores_.weChatList.size());
  set(Category::QQ, stores_.qqList.size());
}

void CScanSession::PublishOne(Category c) {
  bool empty = true;
  switch (c) {
    case Category::CameraRoll:
      stats_.AddMedia(c, stores_.cameraRoll);
      empty = stores_.cameraRoll.empty();
      break;
    case Category::PhotoStream:
      stats_.AddMedia(c, stores_.photoStream);
      empty = stores_.photoStream.empty();
      break;
    case Category::AppPhotos:
      stats_.AddAppMedia(c, stores_.appSplit.photos);
      empty = stores_.appSplit.photos.empty();
      break;
    case Category::AppVideos:
      stats_.AddAppMedia(c, stores_.appSplit.videos);
      empty = stores_.appSplit.videos.empty();
      break;
    case Category::Messages:
      stores_.conversationList = BuildConversationList(stores_.conversations);
      stats_.AddConversations(stores_.conversationList);
      empty = stores_.conversationList.empty();
      break;
    case Category::MessageAttachments:
      stats_.AddAttachments(stores_.messageAttachments);
      empty = stores_.messageAttachments.empty();
      break;
    case Category::Contacts:
      stats_.AddContacts(stores_.contacts);
      empty = stores_.contacts.empty();
      break;
    case Category::CallHistory:
      stats_.AddCalls(stores_.calls);
      empty = stores_.calls.empty();
      break;
    case Category::Notes:
      stats_.AddNotes(stores_.notes);
      empty = stores_.notes.empty();
      break;
    case Category::WhatsApp:
      stores_.chatList = BuildChatList(stores_.chats);
      stats_.AddChats(stores_.chatList);
      empty = stores_.chatList.empty();
      break;
    case Category::WhatsAppAttachments:
      stats_.AddMedia(c, stores_.whatsAppAttachments);
      empty = stores_.whatsAppAttachments.empty();
      break;
    case Category::Reminder:
      stats_.AddReminders(stores_.reminders);
      empty = stores_.reminders.empty();
      break;
    case Category::Calendar:
      stats_.AddEvents(stores_.events);
      empty = stores_.events.empty();
      break;
    case Category::SafariBookmark:
      stats_.AddBookmarks(stores_.bookmarks);
      empty = stores_.bookmarks.empty();
      break;
    case Category::WeChat:
      stores_.weChatList = BuildChatAppList(c, stores_.weChat);
      stats_.AddChatApp(c, stores_.weChatList);
      empty = stores_.weChatList.empty();
      break;
    case Category::QQ:
      stores_.qqList = BuildChatAppList(c, stores_.qq);
      stats_.AddChatApp(c, stores_.qqList);
      empty = stores_.qqList.empty();
      break;
  }
  shown_[static_cast<int>(c)] = !empty;
}

void CScanSession::Publish(Category first, Category second) {
  std::array<Category, 2> ready{};
  std::size_t readyCount = 0;
  scanLock_.acquire();  // the tree changes only while the front end cannot look
  for (Category c : {first, second}) {
    if (!IsChosen(chosen_, c)) continue;
    {
      std::lock_guard<std::mutex> lock(statsMutex_);
      PublishOne(c);
    }
    if (NodeShown(c)) ready[readyCount++] = c;
    if (first == second) break;
  }
  RefreshCounts();
  scanLock_.release();
  PostEvent(ScanEventKind::Counts);
  for (std::size_t i = 0; i < readyCount; ++i)
    PostEvent(ScanEventKind::NodeReady, CategoryId(ready[i]));
}

void CScanSession::Worker(std::string password) {
  std::int32_t last = kSuccess;
  bool postEnd = true;
  try {
    last = source_->OpenBackup(password);
    {
      std::lock_guard<std::mutex> lock(problemMutex_);
      openProblem_ = source_->OpenProblem();
    }
    openResult_ = last;
    lastResult_ = last;
    if (last == kWrongPassword) {
      wrongPassword_ = true;
      PostEvent(ScanEventKind::OpenState, 1);
      postEnd = false;
    } else if (last == kScanError) {
      PostEvent(ScanEventKind::Warning, 0, kScanFailedWarning);
      last = kStopped;
    } else if (last != kStopped) {
      PostEvent(ScanEventKind::Counts);
      // One step per category group, in the fixed order. A confirmed stop ends the scan
      // before the next read even when the last read ignored its final report.
      auto step = [&](Category a, Category b, auto&& read) {
        if (last == kStopped) return;
        if (!IsChosen(chosen_, a) && !IsChosen(chosen_, b)) return;
        if (stopRequested_) {
          last = kStopped;
          return;
        }
        last = read();
        lastResult_ = last;
        if (last == kStopped) return;
        TakeProblems(a, b);
        Publish(a, b);
      };
      auto& s = stores_;
      step(Category::CameraRoll, Category::PhotoStream, [&] {
        const std::int32_t r = source_->ReadPhotos(s.cameraRoll, s.photoStream);
        // Only the chosen halves belong to this scan.
        if (!IsChosen(chosen_, Category::CameraRoll)) s.cameraRoll.clear();
        if (!IsChosen(chosen_, Category::PhotoStream)) s.photoStream.clear();
        return r;
      });
      step(Category::Messages, Category::Messages,
           [&] { return source_->ReadMessages(s.conversations); });
      step(Category::MessageAttachments, Category::MessageAttachments,
           [&] { return source_->ReadMessageAttachments(s.messageAttachments); });
      step(Category::Contacts, Category::Contacts,
           [&] { return source_->ReadContacts(s.contacts); });
      step(Category::CallHistory, Category::CallHistory,
           [&] { return source_->ReadCallHistory(s.calls); });
      step(Category::Notes, Category::Notes, [&] { return source_->ReadNotes(s.notes); });
      step(Category::AppPhotos, Category::AppVideos, [&] {
        const std::int32_t r = source_->ReadAppMedia(s.appMedia);
        AppMediaSplit split = SplitAppMedia(s.appMedia);
        if (!IsChosen(chosen_, Category::AppPhotos)) split.photos.clear();
        if (!IsChosen(chosen_, Category::AppVideos)) split.videos.clear();
        scanLock_.acquire();
        s.appSplit = std::move(split);
        scanLock_.release();
        return r;
      });
      step(Category::WhatsApp, Category::WhatsApp, [&] { return source_->ReadWhatsApp(s.chats); });
      step(Category::WhatsAppAttachments, Category::WhatsAppAttachments,
           [&] { return source_->ReadWhatsAppAttachments(s.whatsAppAttachments); });
      // The three categories beyond the described reads, in category order.
      step(Category::Reminder, Category::Reminder,
           [&] { return source_->ReadReminders(s.reminders); });
      step(Category::Calendar, Category::Calendar, [&] { return source_->ReadCalendar(s.events); });
      step(Category::SafariBookmark, Category::SafariBookmark,
           [&] { return source_->ReadBookmarks(s.bookmarks); });
      // The chat apps' accounts last, each with its share of the bar. The source's own
      // reports during these reads only pause or stop the scan.
      auto chatApp = [&](Category app, std::int32_t from, std::int32_t to, auto&& read) {
        if (last == kStopped || !IsChosen(chosen_, app)) return;
        if (ReportOwn(from) == kStopped) {
          last = kStopped;
          return;
        }
        step(app, app, [&] {
          chatAppsPhase_ = true;
          const std::int32_t r = read();
          chatAppsPhase_ = false;
          return r;
        });
        if (last != kStopped && ReportOwn(to) == kStopped) last = kStopped;
      };
      chatApp(Category::WeChat, kChatAppsFromPercent, kQQFromPercent,
              [&] { return source_->ReadWeChat(s.weChat); });
      chatApp(Category::QQ, kQQFromPercent, kMaxShownPercent,
              [&] { return source_->ReadQQ(s.qq); });
    }
  } catch (...) {
    // A data source must not throw; if one does, the scan ends as a failed one rather
    // than taking the program down.
    PostEvent(ScanEventKind::Warning, 0, kScanFailedWarning);
    last = kStopped;
    postEnd = true;
  }
  lastResult_ = last;
  scanIdle_ = true;
  // Whatever the last read returned, the scan has ended: the page must leave its
  // scanning state (only a refused password sends the user back instead).
  if (postEnd) PostEvent(ScanEventKind::Ended, last);
}

// ---------------------------------------------------------------------------------

namespace {
constexpr std::array<std::string_view, kCategoryCount> kCliNames = {"camera-roll",
                                                                    "photo-stream",
                                                                    "app-photos",
                                                                    "app-videos",
                                                                    "messages",
                                                                    "message-attachments",
                                                                    "contacts",
                                                                    "call-history",
                                                                    "notes",
                                                                    "whatsapp",
                                                                    "whatsapp-attachments",
                                                                    "reminder",
                                                                    "calendar",
                                                                    "safari-bookmark",
                                                                    "wechat",
                                                                    "qq"};
}  // namespace

std::string_view CategoryCliName(Category c) {
  return kCliNames[static_cast<int>(c)];
}

bool ParseCategoryList(std::string_view list, CategorySet& chosen, std::string& error) {
  CategorySet result{};
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string_view piece = list.substr(start, comma - start);
    while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
    while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
    if (piece == "all") {
      result.fill(true);
    } else {
      auto it = std::find(kCliNames.begin(), kCliNames.end(), piece);
      if (it == kCliNames.end()) {
        error = piece.empty() ? std::string("empty category name")
                              : "unknown category '" + std::string(piece) + "'";
        return false;
      }
      result[static_cast<std::size_t>(it - kCliNames.begin())] = true;
    }
    start = comma + 1;
  }
  chosen = result;
  return true;
}

}  // namespace bv
