#include "export/recovery_job.h"

#include <chrono>
#include <system_error>

#include "common/text.h"
#include "export/output_paths.h"
#include "export/text_export.h"
#include "platform/platform.h"
#include "stats/usage_counters.h"

namespace bv {

namespace fs = std::filesystem;

namespace {

std::wstring Wide(const fs::path& p) {
  return platform::WideFromPath(p);
}

void EnsureFolder(const fs::path& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) fs::create_directories(folder, ec);
}

template <typename Map>
const typename Map::mapped_type* Find(const Map& map, std::int32_t key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

std::string DetailText(std::int32_t error) {
  if (error == 0) return "Success";
  // Our own "unusable file" code is not an errno value; show what it means.
  if (error == kInvalidParameter) return "The parameter is incorrect.";
  return platform::ErrorText(error);
}

CRecoverJob::CRecoverJob(const ScanStores& stores, const CStatisticsObj& selection,
                         IPhoneRecoveryParse* source, std::wstring deviceName,
                         std::wstring outputRoot)
    : stores_(stores),
      selection_(selection),
      source_(source),
      deviceName_(std::move(deviceName)),
      outputRoot_(std::move(outputRoot)),
      templateFolder_(DefaultTemplateFolder()) {
  // The chosen folder carries no trailing separator.
  while (outputRoot_.size() > 1 && (outputRoot_.back() == L'/' || outputRoot_.back() == L'\\'))
    outputRoot_.pop_back();
}

CRecoverJob::~CRecoverJob() {
  if (worker_.joinable()) {
    cancelRequested_ = true;
    worker_.join();
  }
}

fs::path CRecoverJob::Root() const {
  return platform::PathFromWide(outputRoot_);
}

std::wstring CRecoverJob::JobStamp() const {
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
    const std::wstring title = std::wstring(TemplateTitlePrefix(kind)) + deviceName_;
    Result r = LoadTemplate(Parts(kind), templateFolder_ / TemplateFileName(kind), title);
    if (r != kSuccess) return r;
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
                                         const std::wstring& path) {
  return static_cast<CRecoverJob*>(job)->Report(percent, error, path);
}

std::int32_t CRecoverJob::Report(std::int32_t percent, std::int32_t error,
                                 const std::wstring& path) {
  std::lock_guard<std::mutex> hold(jobLock_);
  if (cancelRequested_.load()) return kStopped;
  if (percent == 100) {
    DetailLine line{path, DetailText(error), error};
    if (error != 0) {
      ++failedCount_;
      details_.push_front(line);
    } else {
      details_.push_back(line);
    }
    ++doneCount_;
    if (view_) view_->OnDetailLine(line);
  }
  if (view_) {
    RecoveryProgress p;
    p.percent = percent;
    p.current = path;
    p.doneCount = doneCount_.load();
    p.totalCount = totalCount_.load();
    p.failedCount = failedCount_.load();
    p.succeededCount = p.doneCount - p.failedCount;
    view_->OnProgress(p);
  }
  return kSuccess;
}

Result CRecoverJob::Run() {
  if (!templatesLoaded_) {
    if (Result r = LoadTemplates(); r != kSuccess) {
      jobFinished_ = true;
      return r;
    }
  }
  {
    std::lock_guard<std::mutex> hold(jobLock_);
    jobStamp_ = fixedStamp_.empty() ? MakeJobStamp() : fixedStamp_;
    details_.clear();
  }
  jobFinished_ = false;
  messagesExported_ = false;
  contactsCsv_ = kContactsCsvHeader;
  for (TemplateKind k : {TemplateKind::CallHistory, TemplateKind::Notes, TemplateKind::Contacts})
    Parts(k).rows.clear();
  doneCount_ = 0;
  failedCount_ = 0;
  // What the statistics label shows as ticked: entries hidden by a filter are
  // not exported, so they are not counted either.
  const StatNode& root = selection_.Root();
  totalCount_ = root.ticked > root.tickedHidden
                    ? static_cast<std::int32_t>(root.ticked - root.tickedHidden)
                    : 0;

  for (const StatEntry& e : selection_.Entries()) {
    // After a confirmed cancel nothing new is written; the final step still
    // saves what was collected.
    if (cancelRequested_.load()) break;
    if (e.isGroup != 0 || e.ticked == 0 || e.hidden != 0) continue;
    const std::int32_t id = e.category;
    switch (id) {
      case 1:
      case 2:
      case 11:
        if (const MediaItem* m = e.As<MediaItem>()) {
          const wchar_t* folder = id == 1   ? L"Camera Roll"
                                  : id == 2 ? L"Photo Stream"
                                            : L"WhatsApp Attachments";
          ExportFile(id, folder, {}, m->name, m->path);
        }
        break;
      case 3:
      case 4:
        if (const AppMediaItem* m = e.As<AppMediaItem>())
          ExportFile(id, id == 3 ? L"App Photos" : L"App Video", m->app, m->name, m->path);
        break;
      case 6:
        if (const AttachmentItem* m = e.As<AttachmentItem>())
          ExportFile(id, L"Message Attachments", {}, m->name, m->path);
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
      default:
        continue;
    }
    stats::Usage().Increment(stats::ExportCode(id));
  }
  FinalStep();
  jobFinished_ = true;
  return kSuccess;
}

void CRecoverJob::ExportFile(std::int32_t, const std::wstring& folder, const std::wstring& app,
                             const std::wstring& name, const std::wstring& backupPath) {
  fs::path dir = Root() / platform::PathFromWide(folder);
  if (!app.empty() || folder == L"App Photos" || folder == L"App Video") {
    dir /= platform::PathFromWide(SafePathPiece(app));
    EnsureFolder(dir);
  }
  const fs::path destination = MakeUniquePath(dir / platform::PathFromWide(SafePathPiece(name)));
  const std::wstring dest = Wide(destination);
  const std::int32_t doneBefore = doneCount_.load();
  Result r = source_ ? source_->CopyBackupFile(backupPath, dest, &CRecoverJob::ReportProgress, this)
                     : kInvalidParameter;
  // An empty file is copied without any report; the item still has to be
  // counted and listed, or the counts would never reach the total.
  if (doneCount_.load() == doneBefore && !cancelRequested_.load()) Report(100, r, dest);
  if (r == kStopped && cancelRequested_.load()) {
    // A copy cut short by cancelling would leave a truncated file under a real
    // name.
    std::error_code ec;
    fs::remove(destination, ec);
  }
}

std::wstring MessageLabel(const MessageRecord& conversation) {
  return conversation.name.empty() ? L"Unknown" : conversation.name;
}

std::wstring MessageBase(const MessageRecord& conversation) {
  const std::wstring label = MessageLabel(conversation);
  return conversation.sender.empty() ? label : label + L"(" + conversation.sender + L")";
}

void CRecoverJob::ExportConversation(const MessageRecord& conversation) {
  const std::wstring label = MessageLabel(conversation);
  const std::wstring base = MessageBase(conversation);
  const fs::path folder =
      Root() / "Message" / platform::PathFromWide(SafePathPiece(label) + L"-" + jobStamp_);
  EnsureFolder(folder);
  messagesExported_ = true;
  TemplateParts& parts = Parts(TemplateKind::Messages);
  FillPerson(parts, MessagePersonLine(conversation));
  const auto* messages = Find(stores_.conversations, conversation.handleId);
  const std::wstring safeBase = SafePathPiece(base);
  const fs::path text = MakeUniquePath(folder / platform::PathFromWide(safeBase + L".txt"));
  WriteMessageTextFile(Wide(text), messages);
  const fs::path html = MakeUniquePath(folder / platform::PathFromWide(safeBase + L".html"));
  WriteMessageDocument(parts, Wide(html), messages, &CRecoverJob::ReportProgress, this);
}

std::wstring WhatsAppLabel(const WhatsAppMessageRecord& chat) {
  std::wstring label;
  if (chat.chatTitle.find(L',') != std::wstring::npos)
    label = chat.chatPartner;  // a group: its title lists the members
  else if (!chat.chatTitle.empty())
    label = chat.chatTitle + L"(" + chat.chatJids + L")";
  else
    label = chat.chatJids;
  return label.empty() ? L"Unknown" : label;
}

void CRecoverJob::ExportChat(const WhatsAppMessageRecord& chat) {
  const std::wstring label = SafePathPiece(WhatsAppLabel(chat));
  const fs::path folder =
      Root() / "WhatsApp Message" / platform::PathFromWide(label + L"-" + jobStamp_);
  EnsureFolder(folder);
  TemplateParts& parts = Parts(TemplateKind::WhatsApp);
  FillPerson(parts, WhatsAppPersonLine(chat));
  const auto* messages = Find(stores_.chats, chat.sessionId);
  const fs::path base = folder / platform::PathFromWide(label);
  WriteWhatsAppTextFile(Wide(MakeUniquePath(fs::path(base).concat(".txt"))), messages);
  WriteWhatsAppCsvFile(Wide(MakeUniquePath(fs::path(base).concat(".csv"))), messages);
  WriteWhatsAppDocument(parts, Wide(MakeUniquePath(fs::path(base).concat(".html"))), messages,
                        &CRecoverJob::ReportProgress, this);
}

void CRecoverJob::ExportContact(const ContactRecord& contact) {
  const fs::path folder = Root() / "Contacts" / platform::PathFromWide(jobStamp_);
  EnsureFolder(folder);
  Parts(TemplateKind::Contacts).rows += ContactRow(contact);
  AppendContactCsvLine(contactsCsv_, contact);
  Report(100, 0, Wide(folder / "Contacts.html"));
}

void CRecoverJob::ExportCall(const CallRecord& call) {
  const fs::path folder = Root() / "CallHistory";
  EnsureFolder(folder);
  Parts(TemplateKind::CallHistory).rows += CallRow(call);
  Report(100, 0, Wide(folder / platform::PathFromWide(L"CallHistory_" + jobStamp_ + L".html")));
}

void CRecoverJob::ExportNote(const NoteRecord& note) {
  const fs::path folder = Root() / "Notes";
  EnsureFolder(folder);
  Parts(TemplateKind::Notes).rows += NoteRow(note);
  Report(100, 0, Wide(folder / platform::PathFromWide(L"Notes_" + jobStamp_ + L".html")));
}

void CRecoverJob::FinalStep() {
  std::error_code ec;
  if (messagesExported_ && source_) {
    const fs::path db = Root() / "Message" / "sms.sqlite";
    fs::remove(db, ec);
    source_->CopyMessageDatabase(WideToUtf8(Wide(db)));
  }
  if (!Parts(TemplateKind::CallHistory).rows.empty())
    WriteCollectedDocument(Parts(TemplateKind::CallHistory),
                           Wide(Root() / "CallHistory" /
                                platform::PathFromWide(L"CallHistory_" + jobStamp_ + L".html")));
  if (!Parts(TemplateKind::Notes).rows.empty())
    WriteCollectedDocument(
        Parts(TemplateKind::Notes),
        Wide(Root() / "Notes" / platform::PathFromWide(L"Notes_" + jobStamp_ + L".html")));
  if (!Parts(TemplateKind::Contacts).rows.empty()) {
    const fs::path folder = Root() / "Contacts" / platform::PathFromWide(jobStamp_);
    EnsureFolder(folder);
    if (source_) {
      fs::remove(folder / "Contacts.sqlite", ec);
      source_->CopyContactsDatabase(WideToUtf8(Wide(folder / "Contacts.sqlite")));
    }
    WriteCollectedDocument(Parts(TemplateKind::Contacts), Wide(folder / "Contacts.html"));
    // The CSV of the same contacts, beside the document.
    WriteTextFile(Wide(folder / "Contacts.csv"), contactsCsv_);
  }
}

}  // namespace bv
