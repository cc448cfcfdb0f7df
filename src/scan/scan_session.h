#pragma once
// The scan session: runs one scan of a backup or a phone on a worker thread through the
// data-source interface, keeps the result stores and the selection tree, and tells a
// front end what happened through an event sink. The scan page of the desktop program
// and the command line's scan and recover commands are thin views over this class.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <string_view>
#include <thread>

#include "catalogue/backup_catalog.h"
#include "catalogue/classification.h"
#include "catalogue/data_source.h"
#include "catalogue/types.h"
#include "common/result_codes.h"
#include "records/record_types.h"
#include "scan/statistics.h"

namespace bv {

// ---------------------------------------------------------------------------------
// Events the worker posts. The numbers are the window messages of the desktop program.
enum class ScanEventKind : std::int32_t {
  Counts = 1032,      // the source is open / a category was added: refresh the counts
  NodeReady = 1033,   // a category node has results; param = its category id (1..16)
  Ended = 1034,       // the scan has ended; param = the last operation's result
  OpenState = 1035,   // param 0: the source is open (first progress step);
                      // param 1: the source refused the password
  Warning = 1,        // show a warning; text = language id ("MSG0512")
  Progress = 2,       // param = the percentage to show (2..99)
  SourceProblem = 3,  // a chosen category's source could not be read (or only in part);
                      // param = its category id; the text is CategoryProblem()
};

struct ScanEvent {
  ScanEventKind kind;
  std::int32_t param = 0;
  std::string_view text;  // static text, only for Warning
};

inline constexpr std::string_view kScanFailedWarning = "MSG0512";

// Where the worker's events go. Post is called on the scan worker thread, sometimes
// while the worker holds the scan lock: an implementation must only queue the event
// (post a window message, push onto a queue) and return at once. It must never wait for
// the user-interface thread, take the scan lock or call back into the session.
class IScanEventSink {
 public:
  virtual ~IScanEventSink() = default;
  virtual void Post(const ScanEvent& event) noexcept = 0;
};

// ---------------------------------------------------------------------------------
// Result stores of one scan. Written by the worker while a read runs; read by the user
// interface, export, print and preview only when the scan is paused or has ended. A
// store of a category is filled by exactly one read, so a paused scan's finished
// categories stay put while later ones are being read.
struct ScanStores {
  MediaList cameraRoll;                       // 1
  MediaList photoStream;                      // 2
  AppMediaList appMedia;                      // 3 and 4, as read
  AppMediaSplit appSplit;                     // 3 and 4 by app; what the tree points at
  ConversationMap conversations;              // 5: conversation key -> messages
  std::list<MessageRecord> conversationList;  // 5: one row per conversation
  AttachmentList messageAttachments;          // 6
  std::list<ContactRecord> contacts;          // 7
  std::list<CallRecord> calls;                // 8
  std::list<NoteRecord> notes;                // 9
  WhatsAppChatMap chats;                      // 10: session id -> messages
  std::list<WhatsAppMessageRecord> chatList;  // 10: one row per chat
  MediaList whatsAppAttachments;              // 11
  std::list<ReminderRecord> reminders;        // 12
  std::list<CalendarEventRecord> events;      // 13
  std::list<BookmarkRecord> bookmarks;        // 14
  AccountChats weChat;                        // 15: account -> chat -> messages
  std::list<ChatAppChat> weChatList;          // 15: one row per chat
  AccountChats qq;                            // 16
  std::list<ChatAppChat> qqList;              // 16

  void Clear();
};

// One row per conversation: a copy of its last message with `deleted` set to 1 when any
// of its messages is deleted (else 0), in key order, then stably sorted deleted first.
// The row's handleId is the conversation's key (what finds its messages). A group chat's
// row names the chat (`name` its label, `sender` its members joined with ", "). A
// conversation without messages gives a row that carries only its key.
std::list<MessageRecord> BuildConversationList(const ConversationMap& conversations);
// The same for WhatsApp chats (an empty chat carries only its session id).
std::list<WhatsAppMessageRecord> BuildChatList(const WhatsAppChatMap& chats);

// ---------------------------------------------------------------------------------
// The categories chosen on the category page, by position in the fixed order, and the
// two chat apps (read after the others; the category page offers no choice for them).
using CategorySet = std::array<bool, kCategoryCount>;

// The progress bar's share of the chat apps when they are chosen: the fourteen
// categories fill it up to kChatAppsFromPercent, WeChat's accounts up to
// kQQFromPercent, QQ's the rest (99; the end of the scan shows 100).
inline constexpr std::int32_t kChatAppsFromPercent = 90;
inline constexpr std::int32_t kQQFromPercent = 95;
CategorySet AllCategories();

struct ScanRequest {
  std::int32_t sourceKind = 1;       // 1 backup, 0 connected phone
  BackupCatalog* catalog = nullptr;  // kind 1: the catalogue; `backup` is selected into it
  BackupRecord backup;
  void* deviceContext = nullptr;  // kind 0
  CategorySet chosen = AllCategories();
  std::string password;  // empty for a plain backup
};

// Texts of the statistics label: sizes already formatted, counts as numbers.
struct StatisticsLabel {
  std::string tickedSize;
  std::uint32_t tickedVisible = 0;
  std::string totalSize;
  std::uint32_t items = 0;
};

// ---------------------------------------------------------------------------------
// Threads: Start, Pause, Resume, the stop calls, the tick and filter operations and
// the destructor belong to one controlling thread (the user-interface thread, or the
// command line's main thread). The worker thread runs the data source, the progress
// report and the event posts. The query functions marked "any thread" may be called
// from anywhere; everything else on the controlling thread only, and the stores and the
// selection tree only while the scan is paused or has ended (IsScanning() false or
// IsPaused() true).
class CScanSession {
 public:
  CScanSession();
  ~CScanSession();  // stops a running scan and waits for its worker
  CScanSession(const CScanSession&) = delete;
  CScanSession& operator=(const CScanSession&) = delete;

  void SetEventSink(IScanEventSink* sink) { sink_ = sink; }
  // The pause after the first progress step, during which the window swaps its panes.
  void SetOpenedPause(std::chrono::milliseconds pause) { openedPause_ = pause; }

  // Starts a scan: resets the stores and the tree, builds the data source with the
  // factory (for a backup, after selecting `backup` into the catalogue), hands it the
  // progress report and starts the worker. False when the kind is neither 0 nor 1, a
  // scan is running, or no data source could be built (the previous one is gone then,
  // the stores are kept). The previous scan's worker is joined first.
  bool Start(const ScanRequest& request);
  // The same over a data source built by the caller (tests, other front ends).
  bool Start(std::unique_ptr<IPhoneRecoveryParse> source, std::int32_t sourceKind,
             const CategorySet& chosen, const std::string& password);

  // Pause holds the scan lock: the worker waits in its next progress report.
  void Pause();
  void Resume();
  // Stop in three steps around the question box: BeginStop takes the lock unless the
  // scan is paused; ConfirmStop sets the stop flag, releases the lock and waits
  // (checking every 50 ms) until the worker is idle; CancelStop releases the lock again
  // unless the scan is paused, which it stays.
  void BeginStop();
  void ConfirmStop();
  void CancelStop();
  // BeginStop + ConfirmStop.
  void Stop();
  // Waits until the worker has ended and joins it.
  void Wait();

  // Empties the stores and the tree (the "home" button, or before a new scan).
  void Clear();

  // Any thread.
  bool IsScanning() const { return !scanIdle_.load(); }
  bool IsPaused() const { return paused_.load(); }
  bool StopRequested() const { return stopRequested_.load(); }
  std::int32_t ShownPercent() const { return shownPercent_.load(); }
  std::int32_t SourceKind() const { return sourceKind_.load(); }
  // What the category's tree node shows; 0 for a category that was not chosen.
  std::int32_t CategoryCount(Category c) const;
  // The result of OpenBackup and of the last operation that ran (0 before a scan).
  std::int32_t OpenResult() const { return openResult_.load(); }
  std::int32_t LastResult() const { return lastResult_.load(); }
  // True once the worker has seen the source refuse the password.
  bool WrongPassword() const { return wrongPassword_.load(); }
  // Why the source of a chosen category could not be read, or only in part, in words
  // ("the message database is damaged: file is not a database"); empty when it was read
  // (or not yet, or not chosen). Set before the category's node is published.
  std::string CategoryProblem(Category c) const;
  // Why the source could not be opened, or its list of files read only in part; empty
  // when it could. Set when OpenBackup has returned.
  std::string OpenProblem() const;
  // True when a chosen category has a problem.
  bool AnyCategoryProblem() const;

  // Runs `read` over the selection tree while the worker cannot change it, and returns
  // what `read` returns. Any thread (a window reads ticks of categories already listed
  // while the scan goes on); `read` must be short and must not call the session.
  template <typename Read>
  auto ReadStatistics(Read&& read) const {
    std::lock_guard<std::mutex> lock(statsMutex_);
    return read(static_cast<const CStatisticsObj&>(stats_));
  }

  // Paused or ended only.
  const CategorySet& Chosen() const { return chosen_; }
  const ScanStores& Stores() const { return stores_; }
  CStatisticsObj& Statistics() { return stats_; }
  const CStatisticsObj& Statistics() const { return stats_; }
  IPhoneRecoveryParse* DataSource() const { return source_.get(); }
  // Whether the category's node is shown (it has results).
  bool NodeShown(Category c) const;

  // Tick and filter operations (controlling thread, paused or ended).
  bool SetTicked(std::size_t entry, bool ticked);
  void SetCategoryTicked(Category c, bool ticked);
  bool SetDeletedOnly(Category c, bool on);
  bool DeletedOnly(Category c) const;
  // "Files Filtered: %d item(s)": the node's hidden count.
  std::uint32_t FilteredCount(Category c) const;

  // The statistics label's four values; both sizes read "0 MB" before the first scan.
  // Any thread (the page refreshes it after each category while the scan runs).
  StatisticsLabel Label() const;
  // Recovery is possible when no scan runs (or it is paused) and something ticked is
  // visible.
  bool RecoveryEnabled() const;

  // The progress report handed to the data source (user data = the session).
  static std::int32_t ProgressReport(void* session, std::int32_t percent);

 private:
  void Worker(std::string password);
  std::int32_t Report(std::int32_t percent);
  void PostEvent(ScanEventKind kind, std::int32_t param = 0, std::string_view text = {});
  // Adds a finished read's results to the tree under the scan lock.
  void Publish(Category first, Category second);
  void PublishOne(Category c);
  void RefreshCounts();
  void ResetState();
  // The percentage shown for a report of the data source: the fourteen categories
  // take the part of the bar before the chat apps' share when those are chosen.
  std::int32_t ScaledPercent(std::int32_t percent) const;
  // Shows `percent` (2..99) as the scan's own step, after the pause and stop checks of
  // a report; the chat apps' reads report only those checks.
  std::int32_t ReportOwn(std::int32_t percent);
  // Takes the source's problem texts for the chosen ones of `first` and `second`.
  void TakeProblems(Category first, Category second);

  IScanEventSink* sink_ = nullptr;
  std::chrono::milliseconds openedPause_{100};
  std::unique_ptr<IPhoneRecoveryParse> source_;
  std::thread worker_;
  std::binary_semaphore scanLock_{1};  // released by whichever thread took it
  std::atomic<bool> scanIdle_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> stopHeld_{false};  // BeginStop took the lock
  std::atomic<std::int32_t> shownPercent_{0};
  std::atomic<std::int32_t> sourceKind_{1};
  std::atomic<std::int32_t> openResult_{0};
  std::atomic<std::int32_t> lastResult_{0};
  std::atomic<bool> wrongPassword_{false};
  std::atomic<bool> everScanned_{false};
  // The chat apps are being read: the source's positions are no percentages of this
  // scan then.
  std::atomic<bool> chatAppsPhase_{false};
  std::array<std::atomic<std::int32_t>, kCategoryCount> counts_{};
  std::array<std::atomic<bool>, kCategoryCount> shown_{};
  CategorySet chosen_{};
  // Guards the tree's counters between the worker adding a category and a label read;
  // never held while waiting for anything else.
  mutable std::mutex statsMutex_;
  // Guards the problem texts between the worker and any reader.
  mutable std::mutex problemMutex_;
  std::array<std::string, kCategoryCount> problems_;
  std::string openProblem_;
  ScanStores stores_;
  CStatisticsObj stats_;
};

// ---------------------------------------------------------------------------------
// Command-line names of the categories: camera-roll, photo-stream, app-photos,
// app-videos, messages, message-attachments, contacts, call-history, notes, whatsapp,
// whatsapp-attachments, reminder, calendar, safari-bookmark, wechat, qq.
std::string_view CategoryCliName(Category c);
// Parses a comma-separated list of those names into `chosen` (every other category
// off). False, with `error` naming the bad piece, on an unknown or empty name.
bool ParseCategoryList(std::string_view list, CategorySet& chosen, std::string& error);

}  // namespace bv
