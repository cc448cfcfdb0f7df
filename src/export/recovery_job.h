#pragma once
// The recovery job: writes the ticked items of a finished (or paused) scan into
// an output folder as copies of the backed-up files under readable names and as
// HTML, CSV and text documents, reporting per-item progress, counts and detail
// lines. The recovery window of the desktop program and the command line's
// recover command are views over it.
//
// Output tree below the chosen folder (stamp = local date and time at the
// start, 14 digits):
//   Camera Roll/NAME, Photo Stream/NAME, App Photos/APP/NAME,
//   App Video/APP/NAME, Message Attachments/NAME, WhatsApp Attachments/NAME
//                                                  copies (and STEM.JPG beside a
//                                                  HEIF picture when asked)
//   Message/LABEL-STAMP/BASE.txt, BASE.html        one folder per conversation
//   Message/sms.sqlite                             when a conversation was written
//   WhatsApp Message/LABEL-STAMP/LABEL.txt, .csv, .html     one folder per chat
//   WeChat Message/ACCOUNT-STAMP/CHAT.txt, QQ Message/ACCOUNT-STAMP/CHAT.txt
//                     one text per chat of an account (the accounts' chat text
//                     writers); with the deleted-only filter on, only its deleted
//                     messages
//   Contacts/STAMP/Contacts.html, .csv, .vcf, Contacts.sqlite      all ticked contacts
//   CallHistory/CallHistory_STAMP.html, Notes/Notes_STAMP.html     all ticked calls, notes
//   Reminders/STAMP/Reminders.html, .csv, .ics (VTODO)             all ticked reminders
//   Calendar/STAMP/Calendar.html, .csv, .ics (VEVENT)               all ticked events
//   Safari Bookmarks/STAMP/SafariBookmarks.html, .csv, and Bookmarks.html in the
//                     browsers' bookmark-file format                all ticked bookmarks
// Every name taken from a backup or a record goes through SafePathPiece first.
// Every file, documents and database copies included, is written through
// OutputFolder and PendingFile: folders are entered without following links, a
// file appears under its name only when whole, and a taken name is numbered
// "(n)", never replaced.
//
// Counting: an item is counted once its files have their names (or failed); a
// conversation or chat is one item for its text, CSV and HTML files together, and
// its first failure is the item's. Contacts, calls, notes, reminders, events and
// bookmarks are counted when their documents are written in the final step, one line
// per record (the first failure among a category's documents is each record's). Database
// copies are no items: their failures are detail lines of their own
// (OtherFailures). An item cut short by a cancel leaves no file and is not
// counted; outcomes after a cancel are still counted (true counts) but no
// longer shown to the view.
//
// Threads: Run (or the thread that Start begins) is the worker. BeginCancel,
// ConfirmCancel, AbortCancel, Start, Wait and the destructor belong to one
// controlling thread. The counters and Details() may be read from any thread.
// The view is called on the worker while it holds the job lock and must only
// queue what it is told. No exception leaves the worker: a failure inside one
// item fails that item with a reason and the job goes on.
#include <atomic>
#include <climits>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/data_source.h"
#include "common/result_codes.h"
#include "export/html_export.h"
#include "export/output_folder.h"
#include "scan/scan_session.h"
#include "scan/statistics.h"

namespace bv {

// One line of the detail list: the destination path and "Success" or the
// error's text.
struct DetailLine {
  std::string path;
  std::string result;
  std::int32_t error = 0;
};

// What the window shows after each report.
struct RecoveryProgress {
  std::int32_t percent = 0;
  std::string current;
  std::int32_t doneCount = 0;
  std::int32_t totalCount = 0;
  std::int32_t succeededCount = 0;  // doneCount - failedCount
  std::int32_t failedCount = 0;
};

class IRecoveryView {
 public:
  virtual ~IRecoveryView() = default;
  // A finished item: a failure goes on top of the list (red), a success at the
  // bottom.
  virtual void OnDetailLine(const DetailLine& line) noexcept = 0;
  virtual void OnProgress(const RecoveryProgress& progress) noexcept = 0;
};

// The text a detail line shows for a result: "Success", or the platform's
// US-English text of the error code (our own code 87 reads as the Windows text
// for it).
std::string DetailText(std::int32_t error);

// Folder and file label of a conversation ("Unknown" without a name) and the
// file base (label + "(" + sender + ")"); the label of a WhatsApp chat (a
// group's partner, else title + "(" + jids + ")", else jids, else "Unknown").
// Not yet made safe for paths.
std::string MessageLabel(const MessageRecord& conversation);
std::string MessageBase(const MessageRecord& conversation);
std::string WhatsAppLabel(const WhatsAppMessageRecord& chat);

class CRecoverJob {
 public:
  // The stores, the selection and the data source must outlive the job and stay
  // unchanged while it runs. `deviceName` goes into the documents' titles.
  CRecoverJob(const ScanStores& stores, const CStatisticsObj& selection,
              IPhoneRecoveryParse* source, std::string deviceName, std::string outputRoot);
  ~CRecoverJob();
  CRecoverJob(const CRecoverJob&) = delete;
  CRecoverJob& operator=(const CRecoverJob&) = delete;

  void SetView(IRecoveryView* view) { view_ = view; }
  void SetTemplateFolder(std::filesystem::path folder) { templateFolder_ = std::move(folder); }
  // Also writes a JPEG beside each copied HEIF picture (HEIC, AVIF), for programs
  // that cannot open those: same name, extension ".JPG", decoded as a viewer shows
  // it. The copy itself stays the original bytes. A JPEG is no item of its own: one
  // that cannot be made is a failure line (OtherFailures), the copy still counts.
  void SetHeicJpeg(bool on) { heicJpeg_ = on; }
  bool HeicJpeg() const { return heicJpeg_; }
  // Fixes the stamp instead of taking the local time when the job starts
  // (tests).
  void SetJobStamp(std::string stamp) { fixedStamp_ = std::move(stamp); }

  // Loads the five templates (call history, notes, contacts, messages,
  // WhatsApp). Returns 0, or the error of the first that cannot be used; then
  // nothing may be exported. The templates of reminders, calendar and bookmarks
  // load after them; one that cannot be used fails only its own document.
  Result LoadTemplates();
  // Stands for "now" in iCalendar stamps where a record has no date of its own
  // (tests); the clock's time otherwise.
  void SetNow(std::int64_t unixSeconds) { fixedNow_ = unixSeconds; }
  // The worker's whole run, on the calling thread. Loads the templates when
  // that has not been done; returns their error (nothing exported) or 0.
  Result Run();
  // Run on a thread of its own; false when templates are not loaded or a run is
  // active.
  bool Start();
  void Wait();

  // Cancelling around the question box: BeginCancel takes the job lock (the
  // worker waits at its next report); ConfirmCancel sets the cancel flag,
  // releases the lock and waits, checking every 50 ms, until the worker has
  // finished; AbortCancel releases the lock.
  void BeginCancel();
  void ConfirmCancel();
  void AbortCancel();

  // The CopyCallback of the job (user data = the job): shows progress, counts and
  // lists a finished item at percent 100 (also after a cancel, without showing it),
  // returns 2 once cancelling has been confirmed.
  static std::int32_t ReportProgress(void* job, std::int32_t percent, std::int32_t error,
                                     const std::string& path);

  bool Finished() const { return jobFinished_.load(); }
  bool CancelRequested() const { return cancelRequested_.load(); }
  std::int32_t DoneCount() const { return doneCount_.load(); }
  std::int32_t FailedCount() const { return failedCount_.load(); }
  std::int32_t TotalCount() const { return totalCount_.load(); }
  // Outputs that are no items (the database copies) and could not be written; each
  // has a failure line in Details().
  std::int32_t OtherFailures() const { return otherFailures_.load(); }
  std::string JobStamp() const;
  const std::string& OutputRoot() const { return outputRoot_; }
  // The detail list: failures first (latest on top), then successes in order.
  std::deque<DetailLine> Details() const;
  // The contacts CSV text assembled so far.
  const std::string& ContactsCsv() const { return contactsCsv_; }

 private:
  std::int32_t Report(std::int32_t percent, std::int32_t error, const std::string& path);
  // Progress of the current item; 2 once cancelling has been confirmed.
  std::int32_t Progress(std::int32_t percent, const std::string& path);
  // What the view shows; call with the job lock held.
  RecoveryProgress Shown(std::int32_t percent, const std::string& path) const;
  // The outcome of an item (or of one record of a collected document). `reason`
  // replaces the error's text when given.
  void Finish(std::int32_t error, const std::string& path, const std::string& reason = {});
  // A failed output that is no item.
  void FinishOther(std::int32_t error, const std::string& path, const std::string& reason = {});
  // The CopyCallback handed to the data source's copies: progress under the name the
  // file is meant to get; their own final reports are left to the job.
  static std::int32_t CopyProgress(void* job, std::int32_t percent, std::int32_t error,
                                   const std::string& path);
  // Enters the top folder `top` (kept open for the job) and, when `sub` is not empty,
  // its sub-folder `sub` into `storage`; `folder` points at the one entered.
  Result Folder(const char* top, std::string_view sub, OutputFolder& storage,
                const OutputFolder*& folder, std::string& reason);
  std::filesystem::path Root() const;
  void Dispatch(const StatEntry& e);
  void ExportFile(const char* folder, const std::string* app, const std::string& name,
                  const std::string& backupPath);
  // The JPEG beside a committed copy, when the copy is a HEIF picture.
  void WriteJpegBeside(const OutputFolder& folder, const PendingFile& copy);
  void ExportConversation(const MessageRecord& conversation);
  void ExportChat(const WhatsAppMessageRecord& chat);
  void ExportChatApp(const ChatAppChat& chat);
  void ExportContact(const ContactRecord& contact);
  void ExportCall(const CallRecord& call);
  void ExportNote(const NoteRecord& note);
  void ExportReminder(const ReminderRecord& reminder);
  void ExportEvent(const CalendarEventRecord& event);
  void ExportBookmark(const BookmarkRecord& bookmark);
  // The path shown for a record of a collected set: top/STAMP/name.
  std::string SetDocumentPath(const char* top, const char* name) const;
  // One document of a collected set; the HTML one takes its template's parts.
  struct SetDocument {
    std::string name;
    std::string bytes;
    bool fromTemplate = false;
  };
  void WriteDocumentSet(TemplateKind kind, const char* top, std::vector<SetDocument> documents,
                        std::size_t records);
  void FinalStep();
  void CopyDatabase(const OutputFolder& folder, const char* name, bool messages);
  void WriteCollected(TemplateKind kind, const char* top, std::string_view sub,
                      const std::string& name, std::int32_t records);
  TemplateParts& Parts(TemplateKind kind) { return templates_[static_cast<int>(kind)]; }

  const ScanStores& stores_;
  const CStatisticsObj& selection_;
  IPhoneRecoveryParse* source_;
  std::string deviceName_;
  std::string outputRoot_;
  std::string jobStamp_;
  std::string fixedStamp_;
  std::filesystem::path templateFolder_;
  IRecoveryView* view_ = nullptr;
  bool heicJpeg_ = false;

  std::atomic<std::int32_t> doneCount_{0};
  std::atomic<std::int32_t> failedCount_{0};
  std::atomic<std::int32_t> totalCount_{0};
  std::atomic<std::int32_t> otherFailures_{0};
  bool messagesExported_ = false;
  // Records collected for the documents of the final step.
  std::int32_t contactRecords_ = 0;
  std::int32_t callRecords_ = 0;
  std::int32_t noteRecords_ = 0;
  std::vector<const ReminderRecord*> reminders_;
  std::vector<const CalendarEventRecord*> events_;
  std::vector<const BookmarkRecord*> bookmarks_;
  Result templateError_[kTemplateCount] = {};
  std::int64_t fixedNow_ = INT64_MIN;
  // Worker-only: the chosen folder, the top folders entered so far, the path the
  // current item is meant to get, whether its outcome was counted.
  OutputFolder root_;
  Result rootError_ = kSuccess;
  std::map<std::string, OutputFolder> tops_;
  std::string currentPath_;
  bool itemFinished_ = false;
  bool templatesLoaded_ = false;
  TemplateParts templates_[kTemplateCount];
  std::string contactsCsv_;
  std::string contactsVcf_;

  mutable std::mutex jobLock_;
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> jobFinished_{false};
  std::deque<DetailLine> details_;
  std::thread worker_;
};

}  // namespace bv
