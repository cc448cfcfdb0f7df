#include "export/recovery_job.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <new>
#include <vector>
#include <system_error>

#include "catalogue/detection.h"
#include "catalogue/heif_picture.h"
#include "common/text.h"
#include "export/icalendar.h"
#include "export/item_documents.h"
#include "export/output_paths.h"
#include "export/text_export.h"
#include "export/vcard.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/utf8.h"
#include "records/chat_text.h"
#include "stats/usage_counters.h"

namespace bv {

namespace fs = std::filesystem;

namespace {

std::string W(const fs::path& p) {
  return platform::Utf8FromPath(p);
}

template <typename Map>
const typename Map::mapped_type* Find(const Map& map, std::int32_t key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

// Under the deleted-only filter a conversation's documents hold its deleted messages
// only: `kept` receives copies of them and the result points at it.
template <typename List>
const List* DeletedOnlyOf(const List* messages, bool deletedOnly, List& kept) {
  if (messages == nullptr || !deletedOnly) return messages;
  for (const auto& m : *messages)
    if (m.deleted != 0) kept.push_back(m);
  return &kept;
}

}  // namespace

std::string DetailText(std::int32_t error) {
  if (error == 0) return "Success";
  // Our own "unusable file" code is not an errno value; show what it means.
  if (error == kInvalidParameter) return "The parameter is incorrect.";
  return platform::ErrorText(error);
}

CRecoverJob::CRecoverJob(const ScanStores& stores, const CStatisticsObj& selection,
                         IPhoneRecoveryParse* source, std::string deviceName,
                         std::string outputRoot)
    : stores_(stores),
      selection_(selection),
      source_(source),
      deviceName_(std::move(deviceName)),
      outputRoot_(std::move(outputRoot)),
      templateFolder_(DefaultTemplateFolder()) {
  // The chosen folder carries no trailing separator.
  while (outputRoot_.size() > 1 && (outputRoot_.back() == '/' || outputRoot_.back() == '\\'))
    outputRoot_.pop_back();
}

CRecoverJob::~CRecoverJob() {
  if (worker_.joinable()) {
    cancelRequested_ = true;
    worker_.join();
  }
}

fs::path CRecoverJob::Root() const {
  return platform::PathFromUtf8(outputRoot_);
}

std::string CRecoverJob::JobStamp() const {
  std::lock_guard<std::mutex> hold(jobLock_);
  return jobStamp_;
}

std::deque<DetailLine> CRecoverJob::Details() const {
  std::lock_guard<std::mutex> hold(jobLock_);
  return details_;
}

Result CRecoverJob::LoadTemplates() {
  static constexpr TemplateKind kOrder[] = {TemplateKind::CallHistory, TemplateKind::Notes,
                                            TemplateKind::Contacts, TemplateKind::Messages,
                                            TemplateKind::WhatsApp};
  templatesLoaded_ = false;
  for (TemplateKind kind : kOrder) {
    const std::string title = std::string(TemplateTitlePrefix(kind)) + deviceName_;
    Result r = LoadTemplate(Parts(kind), templateFolder_ / TemplateFileName(kind), title);
    if (r != kSuccess) return r;
  }
  for (TemplateKind kind :
       {TemplateKind::Reminders, TemplateKind::Calendar, TemplateKind::Bookmarks}) {
    const std::string title = std::string(TemplateTitlePrefix(kind)) + deviceName_;
    templateError_[static_cast<int>(kind)] =
        LoadTemplate(Parts(kind), templateFolder_ / TemplateFileName(kind), title);
  }
  templatesLoaded_ = true;
  return kSuccess;
}

bool CRecoverJob::Start() {
  if (!templatesLoaded_ || worker_.joinable()) return false;
  cancelRequested_ = false;
  jobFinished_ = false;
  worker_ = std::thread([this] { Run(); });
  return true;
}

void CRecoverJob::Wait() {
  if (worker_.joinable()) worker_.join();
}

void CRecoverJob::BeginCancel() {
  jobLock_.lock();
}

void CRecoverJob::ConfirmCancel() {
  cancelRequested_ = true;
  jobLock_.unlock();
  while (!jobFinished_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void CRecoverJob::AbortCancel() {
  jobLock_.unlock();
}

std::int32_t CRecoverJob::ReportProgress(void* job, std::int32_t percent, std::int32_t error,
                                         const std::string& path) {
  return static_cast<CRecoverJob*>(job)->Report(percent, error, path);
}

std::int32_t CRecoverJob::Report(std::int32_t percent, std::int32_t error,
                                 const std::string& path) {
  if (percent != 100) return Progress(percent, path);
  Finish(error, path);
  return cancelRequested_.load() ? kStopped : kSuccess;
}

std::int32_t CRecoverJob::Progress(std::int32_t percent, const std::string& path) {
  std::lock_guard<std::mutex> hold(jobLock_);
  if (cancelRequested_.load()) return kStopped;
  if (view_) view_->OnProgress(Shown(percent, path));
  return kSuccess;
}

RecoveryProgress CRecoverJob::Shown(std::int32_t percent, const std::string& path) const {
  RecoveryProgress p;
  p.percent = percent;
  p.current = path;
  p.doneCount = doneCount_.load();
  p.totalCount = totalCount_.load();
  p.failedCount = failedCount_.load();
  p.succeededCount = p.doneCount - p.failedCount;
  return p;
}

void CRecoverJob::Finish(std::int32_t error, const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> hold(jobLock_);
  itemFinished_ = true;
  DetailLine line{path, reason.empty() ? DetailText(error) : reason, error};
  if (error != 0) {
    ++failedCount_;
    details_.push_front(line);
  } else {
    details_.push_back(line);
  }
  ++doneCount_;
  // After a confirmed cancel the counts stay true, but the window shows no more.
  if (!view_ || cancelRequested_.load()) return;
  view_->OnDetailLine(line);
  view_->OnProgress(Shown(100, path));
}

void CRecoverJob::FinishOther(std::int32_t error, const std::string& path,
                              const std::string& reason) {
  if (error == 0) return;
  std::lock_guard<std::mutex> hold(jobLock_);
  DetailLine line{path, reason.empty() ? DetailText(error) : reason, error};
  details_.push_front(line);
  ++otherFailures_;
  if (view_ && !cancelRequested_.load()) view_->OnDetailLine(line);
}

std::int32_t CRecoverJob::CopyProgress(void* job, std::int32_t percent, std::int32_t error,
                                       const std::string&) {
  auto* self = static_cast<CRecoverJob*>(job);
  // A copy's failure report: the job reports the item itself once it knows the
  // outcome, under the path the file was meant to get.
  if (percent >= 100 && error != 0) return self->cancelRequested_.load() ? kStopped : kSuccess;
  return self->Progress(percent, self->currentPath_);
}

namespace {

// What a failed folder says: a link is refused on purpose, which its error code
// alone ("Too many levels of symbolic links") would not tell.
std::string FolderReason(Result error, const fs::path& folder) {
  if (error != ELOOP) return {};
  return "'" + platform::Utf8FromPath(folder) +
         "' is a symbolic link; recovered files are never written through links";
}

std::string ExceptionReason(const char* what) {
  return std::string("unexpected failure: ") + (what ? what : "unknown");
}

}  // namespace

Result CRecoverJob::Folder(const char* top, std::string_view sub, OutputFolder& storage,
                           const OutputFolder*& folder, std::string& reason) {
  folder = nullptr;
  if (rootError_ != kSuccess) return rootError_;
  auto it = tops_.find(top);
  if (it == tops_.end()) {
    OutputFolder opened;
    if (Result r = root_.Enter(top, opened); r != kSuccess) {
      reason = FolderReason(r, root_.PathOf(top));
      return r;
    }
    it = tops_.emplace(top, std::move(opened)).first;
  }
  if (sub.empty()) {
    folder = &it->second;
    return kSuccess;
  }
  if (Result r = it->second.Enter(sub, storage); r != kSuccess) {
    reason = FolderReason(r, it->second.PathOf(sub));
    return r;
  }
  folder = &storage;
  return kSuccess;
}

Result CRecoverJob::Run() {
  struct Finished {
    std::atomic<bool>& flag;
    ~Finished() { flag = true; }
  } finished{jobFinished_};
  try {
    if (!templatesLoaded_) {
      if (Result r = LoadTemplates(); r != kSuccess) return r;
    }
    {
      std::lock_guard<std::mutex> hold(jobLock_);
      jobStamp_ = fixedStamp_.empty() ? MakeJobStamp() : fixedStamp_;
      details_.clear();
    }
    jobFinished_ = false;
    messagesExported_ = false;
    contactsCsv_ = kContactsCsvHeader;
    contactsVcf_.clear();
    for (TemplateKind k : {TemplateKind::CallHistory, TemplateKind::Notes, TemplateKind::Contacts})
      Parts(k).rows.clear();
    contactRecords_ = callRecords_ = noteRecords_ = 0;
    reminders_.clear();
    events_.clear();
    bookmarks_.clear();
    doneCount_ = 0;
    failedCount_ = 0;
    otherFailures_ = 0;
    tops_.clear();
    // What the statistics label shows as ticked: entries hidden by a filter are
    // not exported, so they are not counted either.
    const StatNode& root = selection_.Root();
    totalCount_ = root.ticked > root.tickedHidden
                      ? static_cast<std::int32_t>(root.ticked - root.tickedHidden)
                      : 0;
    // Each item fails with this when the chosen folder cannot be opened.
    rootError_ = OutputFolder::OpenRoot(Root(), root_);
  } catch (...) {
    return kInvalidParameter;
  }

  for (const StatEntry& e : selection_.Entries()) {
    // After a confirmed cancel nothing new is written; the final step still
    // saves what was collected.
    if (cancelRequested_.load()) break;
    if (e.isGroup != 0 || e.ticked == 0 || e.hidden != 0) continue;
    itemFinished_ = false;
    currentPath_.clear();
    try {
      Dispatch(e);
    } catch (const fs::filesystem_error& x) {
      if (!itemFinished_) Finish(x.code().value() != 0 ? x.code().value() : EIO, currentPath_);
    } catch (const std::bad_alloc&) {
      if (!itemFinished_) Finish(ENOMEM, currentPath_);
    } catch (const std::exception& x) {
      if (!itemFinished_) Finish(EIO, currentPath_, ExceptionReason(x.what()));
    } catch (...) {
      if (!itemFinished_) Finish(EIO, currentPath_, ExceptionReason(nullptr));
    }
  }
  try {
    FinalStep();
  } catch (const std::exception& x) {
    FinishOther(EIO, W(Root()), ExceptionReason(x.what()));
  } catch (...) {
    FinishOther(EIO, W(Root()), ExceptionReason(nullptr));
  }
  return kSuccess;
}

void CRecoverJob::Dispatch(const StatEntry& e) {
  const std::int32_t id = e.category;
  switch (id) {
    case 1:
    case 2:
    case 11:
      if (const MediaItem* m = e.As<MediaItem>()) {
        const char* folder = id == 1   ? "Camera Roll"
                             : id == 2 ? "Photo Stream"
                                       : "WhatsApp Attachments";
        ExportFile(folder, nullptr, m->name, m->path);
      }
      break;
    case 3:
    case 4:
      if (const AppMediaItem* m = e.As<AppMediaItem>())
        ExportFile(id == 3 ? "App Photos" : "App Video", &m->app, m->name, m->path);
      break;
    case 6:
      if (const AttachmentItem* m = e.As<AttachmentItem>())
        ExportFile("Message Attachments", nullptr, m->name, m->path);
      break;
    case 5:
      if (const MessageRecord* r = e.As<MessageRecord>()) ExportConversation(*r);
      break;
    case 7:
      if (const ContactRecord* r = e.As<ContactRecord>()) ExportContact(*r);
      break;
    case 8:
      if (const CallRecord* r = e.As<CallRecord>()) ExportCall(*r);
      break;
    case 9:
      if (const NoteRecord* r = e.As<NoteRecord>()) ExportNote(*r);
      break;
    case 10:
      if (const WhatsAppMessageRecord* r = e.As<WhatsAppMessageRecord>()) ExportChat(*r);
      break;
    case 12:
      if (const ReminderRecord* r = e.As<ReminderRecord>()) ExportReminder(*r);
      break;
    case 13:
      if (const CalendarEventRecord* r = e.As<CalendarEventRecord>()) ExportEvent(*r);
      break;
    case 14:
      if (const BookmarkRecord* r = e.As<BookmarkRecord>()) ExportBookmark(*r);
      break;
    case 15:
    case 16:
      if (const ChatAppChat* r = e.As<ChatAppChat>()) ExportChatApp(*r);
      // The usage counters know the fourteen categories only.
      return;
    default:
      return;
  }
  stats::Usage().Increment(stats::ExportCode(id));
}

void CRecoverJob::ExportFile(const char* top, const std::string* app, const std::string& name,
                             const std::string& backupPath) {
  const std::string piece = SafePathPiece(name);
  const std::string sub = app ? SafePathPiece(*app) : std::string();
  fs::path shown = Root() / top;
  if (app) shown /= platform::PathFromUtf8(sub);
  currentPath_ = W(shown / platform::PathFromUtf8(piece));

  OutputFolder storage;
  const OutputFolder* folder = nullptr;
  std::string reason;
  if (Result r = Folder(top, sub, storage, folder, reason); r != kSuccess) {
    Finish(r, currentPath_, reason);
    return;
  }
  PendingFile file;
  Result r = file.Reserve(*folder, piece);
  // Progress shows the name the copy is meant to get, not its temporary one.
  currentPath_ = W(file.FinalPath());
  if (r == kSuccess)
    r = source_ ? source_->CopyBackupFile(backupPath, W(file.TempPath()),
                                          &CRecoverJob::CopyProgress, this)
                : kInvalidParameter;
  if (r == kStopped && cancelRequested_.load()) {
    // Cut short by a cancel: no half copy stays behind, and the item is not done.
    file.Discard();
    return;
  }
  if (r == kSuccess) r = file.Commit();
  file.Discard();
  if (r == kSuccess && heicJpeg_ && !cancelRequested_.load()) WriteJpegBeside(*folder, file);
  Finish(r, W(file.FinalPath()));
}

void CRecoverJob::WriteJpegBeside(const OutputFolder& folder, const PendingFile& copy) {
  // The copy, not the backup file, is read: it is what the data source wrote, whatever
  // the source (a device, a decrypted backup).
  std::string bytes;
  if (platform::ReadWholeFile(copy.FinalPath(), bytes, kHeifFileLimit) != 0) return;
  if (!IsHeifFamily(RecogniseBuffer(reinterpret_cast<const unsigned char*>(bytes.data()),
                                    bytes.size() < 512 ? bytes.size() : 512)))
    return;
  const std::string name =
      platform::Utf8FromPath(platform::PathFromUtf8(copy.Name()).stem()) + ".JPG";
  std::string jpeg, reason;
  if (HeifToJpeg(bytes, jpeg, &reason) != kSuccess) {
    FinishOther(kInvalidParameter, W(folder.PathOf(name)), "no JPEG beside the copy: " + reason);
    return;
  }
  bytes.clear();
  bytes.shrink_to_fit();
  PendingFile file;
  Result r = file.Create(folder, name);
  if (r == kSuccess) r = file.Write(jpeg);
  if (r == kSuccess) r = file.Commit();
  if (r != kSuccess) FinishOther(r, W(file.FinalPath()));
}

std::string MessageLabel(const MessageRecord& conversation) {
  return conversation.name.empty() ? "Unknown" : conversation.name.str();
}

std::string MessageBase(const MessageRecord& conversation) {
  const std::string label = MessageLabel(conversation);
  // A group's members are in its document; its files go by the group's label alone.
  const bool group = conversation.chat != nullptr && conversation.chat->members.size() != 1;
  return conversation.sender.empty() || group ? label : label + "(" + conversation.sender + ")";
}

namespace {

// The files of one conversation or chat, written under temporary names and then
// given their names in order, so that an item cut short by a cancel leaves nothing.
struct ItemFiles {
  struct One {
    PendingFile file;
    Result result = kSuccess;
  };
  std::vector<std::unique_ptr<One>> files;

  One& Add(const OutputFolder& folder, const std::string& name) {
    files.push_back(std::make_unique<One>());
    One& one = *files.back();
    one.result = one.file.Create(folder, name);
    return one;
  }
  // Commits every file that was written; the item's outcome is its first failure.
  void Commit(Result& error, fs::path& failed) {
    for (auto& one : files) {
      if (one->result == kSuccess) one->result = one->file.Commit();
      one->file.Discard();
      if (one->result != kSuccess && error == kSuccess) {
        error = one->result;
        failed = one->file.FinalPath();
      }
    }
  }
};

}  // namespace

void CRecoverJob::ExportConversation(const MessageRecord& conversation) {
  const std::string label = SafePathPiece(MessageLabel(conversation));
  const std::string base = SafePathPiece(MessageBase(conversation));
  const std::string sub = label + "-" + jobStamp_;
  currentPath_ =
      W(Root() / "Message" / platform::PathFromUtf8(sub) / platform::PathFromUtf8(base + ".html"));
  OutputFolder storage;
  const OutputFolder* folder = nullptr;
  std::string reason;
  if (Result r = Folder("Message", sub, storage, folder, reason); r != kSuccess) {
    Finish(r, currentPath_, reason);
    return;
  }
  messagesExported_ = true;
  TemplateParts& parts = Parts(TemplateKind::Messages);
  FillPerson(parts, MessagePersonLine(conversation));
  std::list<MessageRecord> deletedMessages;
  const auto* messages = DeletedOnlyOf(
      Find(stores_.conversations, conversation.handleId),
      selection_.CategoryNode(Category::Messages).filterState == 'D', deletedMessages);

  ItemFiles item;
  ItemFiles::One& text = item.Add(*folder, base + ".txt");
  if (text.result == kSuccess) text.result = WriteMessageTextFile(text.file, messages);
  ItemFiles::One& html = item.Add(*folder, base + ".html");
  currentPath_ = W(html.file.FinalPath());
  if (html.result == kSuccess)
    html.result =
        WriteMessageDocument(parts, html.file, messages, &CRecoverJob::ReportProgress, this);
  if (html.result == kStopped && cancelRequested_.load()) return;  // the files go with `item`
  Result error = kSuccess;
  fs::path failed;
  item.Commit(error, failed);
  Finish(error, W(error != kSuccess ? failed : html.file.FinalPath()));
}

std::string WhatsAppLabel(const WhatsAppMessageRecord& chat) {
  std::string label;
  if (chat.chatTitle().find(',') != std::string::npos)
    label = chat.chatPartner();  // a group: its title lists the members
  else if (!chat.chatTitle().empty())
    label = chat.chatTitle() + "(" + chat.chatJids() + ")";
  else
    label = chat.chatJids();
  return label.empty() ? "Unknown" : label;
}

void CRecoverJob::ExportChat(const WhatsAppMessageRecord& chat) {
  const std::string label = SafePathPiece(WhatsAppLabel(chat));
  const std::string sub = label + "-" + jobStamp_;
  currentPath_ = W(Root() / "WhatsApp Message" / platform::PathFromUtf8(sub) /
                   platform::PathFromUtf8(label + ".html"));
  OutputFolder storage;
  const OutputFolder* folder = nullptr;
  std::string reason;
  if (Result r = Folder("WhatsApp Message", sub, storage, folder, reason); r != kSuccess) {
    Finish(r, currentPath_, reason);
    return;
  }
  TemplateParts& parts = Parts(TemplateKind::WhatsApp);
  FillPerson(parts, WhatsAppPersonLine(chat));
  std::list<WhatsAppMessageRecord> deletedMessages;
  const auto* messages = DeletedOnlyOf(
      Find(stores_.chats, chat.sessionId),
      selection_.CategoryNode(Category::WhatsApp).filterState == 'D', deletedMessages);

  ItemFiles item;
  ItemFiles::One& text = item.Add(*folder, label + ".txt");
  if (text.result == kSuccess) text.result = WriteWhatsAppTextFile(text.file, messages);
  ItemFiles::One& csv = item.Add(*folder, label + ".csv");
  if (csv.result == kSuccess) csv.result = WriteWhatsAppCsvFile(csv.file, messages);
  ItemFiles::One& html = item.Add(*folder, label + ".html");
  currentPath_ = W(html.file.FinalPath());
  if (html.result == kSuccess)
    html.result =
        WriteWhatsAppDocument(parts, html.file, messages, &CRecoverJob::ReportProgress, this);
  if (html.result == kStopped && cancelRequested_.load()) return;
  Result error = kSuccess;
  fs::path failed;
  item.Commit(error, failed);
  Finish(error, W(error != kSuccess ? failed : html.file.FinalPath()));
}

void CRecoverJob::ExportChatApp(const ChatAppChat& chat) {
  const bool weChat = chat.app == Category::WeChat;
  const char* top = weChat ? "WeChat Message" : "QQ Message";
  const std::string sub =
      SafePathPiece(chat.account.empty() ? "Unknown" : chat.account) + "-" + jobStamp_;
  const std::string name = SafePathPiece(chat.chat.empty() ? "Unknown" : chat.chat) + ".txt";
  currentPath_ = W(Root() / top / platform::PathFromUtf8(sub) / platform::PathFromUtf8(name));
  OutputFolder storage;
  const OutputFolder* folder = nullptr;
  std::string reason;
  if (Result r = Folder(top, sub, storage, folder, reason); r != kSuccess) {
    Finish(r, currentPath_, reason);
    return;
  }
  // The writers read an account map; with the deleted-only filter on, it holds this
  // chat's deleted messages only.
  AccountChats only;
  std::list<ChatMessageRecord>& messages = only[chat.account][chat.chat];
  const bool deletedOnly = selection_.CategoryNode(chat.app).filterState == 'D';
  if (chat.messages != nullptr)
    for (const ChatMessageRecord& m : *chat.messages)
      if (!deletedOnly || m.status != 0) messages.push_back(m);

  PendingFile file;
  Result r = file.Reserve(*folder, name);
  currentPath_ = W(file.FinalPath());
  if (r == kSuccess) {
    const std::string temp = W(file.TempPath());
    r = weChat ? WriteWeChatChatText(only, chat.account, chat.chat, temp,
                                     &CRecoverJob::CopyProgress, this)
               : WriteQQChatText(only, chat.account, chat.chat, temp, &CRecoverJob::CopyProgress,
                                 this);
  }
  if (r == kStopped && cancelRequested_.load()) {
    file.Discard();
    return;
  }
  if (r == kSuccess) r = file.Commit();
  file.Discard();
  Finish(r, W(file.FinalPath()));
}

// Contacts, calls and notes are collected here and written in the final step; they
// are counted there, when their document is whole.
void CRecoverJob::ExportContact(const ContactRecord& contact) {
  itemFinished_ = true;
  Parts(TemplateKind::Contacts).rows += ContactRow(contact);
  AppendContactCsvLine(contactsCsv_, contact);
  contactsVcf_ += VCardOf(contact);
  ++contactRecords_;
  Progress(100, W(Root() / "Contacts" / platform::PathFromUtf8(jobStamp_) / "Contacts.html"));
}

void CRecoverJob::ExportCall(const CallRecord& call) {
  itemFinished_ = true;
  Parts(TemplateKind::CallHistory).rows += CallRow(call);
  ++callRecords_;
  Progress(100, W(Root() / "CallHistory" /
                  platform::PathFromUtf8("CallHistory_" + jobStamp_ + ".html")));
}

void CRecoverJob::ExportNote(const NoteRecord& note) {
  itemFinished_ = true;
  Parts(TemplateKind::Notes).rows += NoteRow(note);
  ++noteRecords_;
  Progress(100, W(Root() / "Notes" / platform::PathFromUtf8("Notes_" + jobStamp_ + ".html")));
}

// Reminders, events and bookmarks are collected like contacts and written, each kind
// as one set of documents, in the final step.
std::string CRecoverJob::SetDocumentPath(const char* top, const char* name) const {
  return W(Root() / top / platform::PathFromUtf8(jobStamp_) / name);
}

void CRecoverJob::ExportReminder(const ReminderRecord& reminder) {
  itemFinished_ = true;
  reminders_.push_back(&reminder);
  Progress(100, SetDocumentPath("Reminders", "Reminders.html"));
}

void CRecoverJob::ExportEvent(const CalendarEventRecord& event) {
  itemFinished_ = true;
  events_.push_back(&event);
  Progress(100, SetDocumentPath("Calendar", "Calendar.html"));
}

void CRecoverJob::ExportBookmark(const BookmarkRecord& bookmark) {
  itemFinished_ = true;
  bookmarks_.push_back(&bookmark);
  Progress(100, SetDocumentPath("Safari Bookmarks", "SafariBookmarks.html"));
}

void CRecoverJob::WriteDocumentSet(TemplateKind kind, const char* top,
                                   std::vector<SetDocument> documents, std::size_t records) {
  const std::string& stamp = jobStamp_;
  std::string shown = W(Root() / top / platform::PathFromUtf8(stamp) /
                        platform::PathFromUtf8(documents.front().name));
  OutputFolder storage;
  const OutputFolder* folder = nullptr;
  std::string reason;
  Result error = Folder(top, stamp, storage, folder, reason);
  std::string failedPath = shown;
  if (error == kSuccess) {
    bool first = true;
    for (SetDocument& d : documents) {
      Result r = kSuccess;
      std::string why;
      PendingFile file;
      if (d.fromTemplate && templateError_[static_cast<int>(kind)] != kSuccess) {
        r = templateError_[static_cast<int>(kind)];
        why = "the template " + std::string(TemplateFileName(kind)) + " could not be read (" +
              DetailText(r) + ")";
      } else {
        r = file.Create(*folder, d.name);
        if (r == kSuccess) r = file.Write(d.bytes);
        if (r == kSuccess) r = file.Commit();
        file.Discard();
      }
      // The name it got, or the one it was meant to get.
      const std::string path = W(file.Committed() ? file.FinalPath() : folder->PathOf(d.name));
      if (first && r == kSuccess) shown = path;
      if (r != kSuccess && error == kSuccess) {
        error = r;
        reason = why;
        failedPath = path;
      }
      first = false;
    }
  }
  for (std::size_t i = 0; i < records; ++i)
    Finish(error, error == kSuccess ? shown : failedPath, reason);
}

void CRecoverJob::CopyDatabase(const OutputFolder& folder, const char* name, bool messages) {
  PendingFile file;
  Result r = file.Reserve(folder, name);
  if (r == kSuccess) {
    const std::string temp = platform::Utf8FromPath(file.TempPath());
    r = messages ? source_->CopyMessageDatabase(temp) : source_->CopyContactsDatabase(temp);
  }
  if (r == kSuccess) r = file.Commit();
  file.Discard();
  FinishOther(r, W(file.FinalPath()));
}

void CRecoverJob::WriteCollected(TemplateKind kind, const char* top, std::string_view sub,
                                 const std::string& name, std::int32_t records) {
  fs::path shown = Root() / top;
  if (!sub.empty()) shown /= platform::PathFromUtf8(sub);
  std::string path = W(shown / platform::PathFromUtf8(name));
  OutputFolder storage;
  const OutputFolder* folder = nullptr;
  std::string reason;
  Result r = Folder(top, sub, storage, folder, reason);
  if (r == kSuccess) {
    PendingFile file;
    r = file.Create(*folder, name);
    if (r == kSuccess) r = WriteCollectedDocument(Parts(kind), file);
    if (r == kSuccess) r = file.Commit();
    file.Discard();
    path = W(file.FinalPath());
    if (r == kSuccess && kind == TemplateKind::Contacts) {
      // The CSV of the same contacts, beside the document (Contacts(1).csv beside
      // Contacts(1).html). An extra of ours: its failure is no contact's.
      const std::string csvName =
          platform::Utf8FromPath(platform::PathFromUtf8(file.Name()).stem()) + ".csv";
      PendingFile csv;
      Result c = csv.Create(*folder, csvName);
      if (c == kSuccess) c = WriteTextFile(csv, contactsCsv_);
      if (c == kSuccess) c = csv.Commit();
      csv.Discard();
      FinishOther(c, W(csv.FinalPath()));
      // And the cards, for putting the contacts back on a phone (UTF-8, no byte order
      // mark, which importers would take for part of the first line).
      PendingFile vcf;
      Result v = vcf.Create(
          *folder, platform::Utf8FromPath(platform::PathFromUtf8(file.Name()).stem()) + ".vcf");
      if (v == kSuccess) v = vcf.Write(contactsVcf_);
      if (v == kSuccess) v = vcf.Commit();
      vcf.Discard();
      FinishOther(v, W(vcf.FinalPath()));
    }
  }
  for (std::int32_t i = 0; i < records; ++i) Finish(r, path, reason);
}

void CRecoverJob::FinalStep() {
  const std::string stamp = jobStamp_;
  if (messagesExported_ && source_) {
    OutputFolder storage;
    const OutputFolder* folder = nullptr;
    std::string reason;
    if (Result r = Folder("Message", {}, storage, folder, reason); r != kSuccess)
      FinishOther(r, W(Root() / "Message" / "sms.sqlite"), reason);
    else
      CopyDatabase(*folder, "sms.sqlite", true);
  }
  if (callRecords_ > 0)
    WriteCollected(TemplateKind::CallHistory, "CallHistory", {}, "CallHistory_" + stamp + ".html",
                   callRecords_);
  if (noteRecords_ > 0)
    WriteCollected(TemplateKind::Notes, "Notes", {}, "Notes_" + stamp + ".html", noteRecords_);
  if (contactRecords_ > 0) {
    if (source_) {
      OutputFolder storage;
      const OutputFolder* folder = nullptr;
      std::string reason;
      if (Result r = Folder("Contacts", stamp, storage, folder, reason); r != kSuccess)
        FinishOther(r, W(Root() / "Contacts" / stamp / "Contacts.sqlite"), reason);
      else
        CopyDatabase(*folder, "Contacts.sqlite", false);
    }
    WriteCollected(TemplateKind::Contacts, "Contacts", stamp, "Contacts.html", contactRecords_);
  }
  const std::int64_t now =
      fixedNow_ != INT64_MIN ? fixedNow_ : static_cast<std::int64_t>(std::time(nullptr));
  if (!reminders_.empty()) {
    const TemplateParts& parts = Parts(TemplateKind::Reminders);
    std::string rows, csv = kRemindersCsvHeader;
    ICalendarWriter ics(now);
    for (const ReminderRecord* r : reminders_) {
      rows += ReminderRow(*r);
      AppendReminderCsvLine(csv, *r);
      ics.AddTodo(*r);
    }
    WriteDocumentSet(TemplateKind::Reminders, "Reminders",
                     {{"Reminders.html", parts.head + rows + parts.tail, true},
                      {"Reminders.csv", Utf8TextFileBytes(csv), false},
                      {"Reminders.ics", ics.Document(), false}},
                     reminders_.size());
  }
  if (!events_.empty()) {
    const TemplateParts& parts = Parts(TemplateKind::Calendar);
    std::string rows, csv = kEventsCsvHeader;
    ICalendarWriter ics(now);
    for (const CalendarEventRecord* e : events_) {
      rows += EventRow(*e);
      AppendEventCsvLine(csv, *e);
      ics.AddEvent(*e);  // an event without a start has no place in it
    }
    WriteDocumentSet(TemplateKind::Calendar, "Calendar",
                     {{"Calendar.html", parts.head + rows + parts.tail, true},
                      {"Calendar.csv", Utf8TextFileBytes(csv), false},
                      {"Calendar.ics", ics.Document(), false}},
                     events_.size());
  }
  if (!bookmarks_.empty()) {
    const TemplateParts& parts = Parts(TemplateKind::Bookmarks);
    std::string rows, csv = kBookmarksCsvHeader;
    for (const BookmarkRecord* b : bookmarks_) {
      rows += BookmarkRow(*b);
      AppendBookmarkCsvLine(csv, *b);
    }
    WriteDocumentSet(TemplateKind::Bookmarks, "Safari Bookmarks",
                     {{"SafariBookmarks.html", parts.head + rows + parts.tail, true},
                      {"SafariBookmarks.csv", Utf8TextFileBytes(csv), false},
                      {"Bookmarks.html", NetscapeBookmarkFile(bookmarks_), false}},
                     bookmarks_.size());
  }
}

}  // namespace bv
