#pragma once
// A scripted data source for the scan worker's tests: each operation records its call,
// reports the chosen progress values through the session's callback, fills the store
// with chosen results and returns a chosen code. A hook runs at every report, so a test
// can pause or stop the scan from inside a read.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/data_source.h"
#include "common/result_codes.h"
#include "scan/scan_session.h"

namespace bv::test {

struct FakeScript {
  std::map<std::string, std::int32_t> results;               // default 0
  std::map<std::string, std::vector<std::int32_t>> reports;  // progress values per operation
  MediaList cameraRoll, photoStream, whatsAppAttachments;
  AppMediaList appMedia;
  AttachmentList attachments;
  ConversationMap conversations;
  std::list<ContactRecord> contacts;
  std::list<CallRecord> calls;
  std::list<NoteRecord> notes;
  WhatsAppChatMap chats;
  // Called just before every report is made (operation, value), on the reading thread.
  std::function<void(const std::string&, std::int32_t)> beforeReport;
  std::list<ReminderRecord> reminders;
  std::list<CalendarEventRecord> events;
  std::list<BookmarkRecord> bookmarks;
  // Called after every report with (operation, value, callback answer).
  std::function<void(const std::string&, std::int32_t, std::int32_t)> onReport;
  // What ReadProblem and OpenProblem answer (a category's text from its read on).
  std::map<Category, std::string> problems;
  std::string openProblem;
  AccountChats weChat, qq;
};

class FakeSource : public IPhoneRecoveryParse {
 public:
  explicit FakeSource(FakeScript script, std::vector<std::string>* calls)
      : script_(std::move(script)), calls_(calls) {}

  std::int32_t Attach(void*) override { return 0; }
  std::int32_t SetProgressCallback(ProgressCallback cb, void* user) override {
    cb_ = cb;
    user_ = user;
    return 0;
  }
  std::int32_t Reserved(std::int32_t) override { return 0; }
  bool IsLocalBackup(std::int32_t) override { return true; }
  std::int32_t OpenBackup(const std::string& password) override {
    password_ = password;
    return Run("OpenBackup", [] {});
  }
  std::int32_t ReadMessages(ConversationMap& m) override {
    return Run("ReadMessages", [&] { m = script_.conversations; });
  }
  std::int32_t ReadMessageAttachments(AttachmentList& l) override {
    return Run("ReadMessageAttachments", [&] { l = script_.attachments; });
  }
  std::int32_t ReadContacts(std::list<ContactRecord>& l) override {
    return Run("ReadContacts", [&] { l = script_.contacts; });
  }
  std::int32_t ReadNotes(std::list<NoteRecord>& l) override {
    return Run("ReadNotes", [&] { l = script_.notes; });
  }
  std::int32_t ReadCallHistory(std::list<CallRecord>& l) override {
    return Run("ReadCallHistory", [&] { l = script_.calls; });
  }
  std::int32_t ReadPhotos(MediaList& a, MediaList& b) override {
    return Run("ReadPhotos", [&] {
      a = script_.cameraRoll;
      b = script_.photoStream;
    });
  }
  std::int32_t ReadWhatsAppAttachments(MediaList& l) override {
    return Run("ReadWhatsAppAttachments", [&] {
      l.insert(l.end(), script_.whatsAppAttachments.begin(), script_.whatsAppAttachments.end());
    });
  }
  std::int32_t ReadAppMedia(AppMediaList& l) override {
    return Run("ReadAppMedia", [&] { l = script_.appMedia; });
  }
  std::int32_t ReadReminders(std::list<ReminderRecord>& l) override {
    return Run("ReadReminders", [&] { l = script_.reminders; });
  }
  std::int32_t ReadCalendar(std::list<CalendarEventRecord>& l) override {
    return Run("ReadCalendar", [&] { l = script_.events; });
  }
  std::int32_t ReadBookmarks(std::list<BookmarkRecord>& l) override {
    return Run("ReadBookmarks", [&] { l = script_.bookmarks; });
  }
  std::int32_t ReadQQ(AccountChats& a) override {
    return Run("ReadQQ", [&] { a = script_.qq; });
  }
  std::int32_t ReadWeChat(AccountChats& a) override {
    return Run("ReadWeChat", [&] { a = script_.weChat; });
  }
  std::int32_t ReadWhatsApp(WhatsAppChatMap& m) override {
    return Run("ReadWhatsApp", [&] { m = script_.chats; });
  }
  std::int32_t PreparePreviewCopy(const std::string&, std::string&, ProgressCallback,
                                  void*) override {
    return kInvalidParameter;
  }
  std::int32_t CopyBackupFile(const std::string&, const std::string&, CopyCallback,
                              void*) override {
    return kInvalidParameter;
  }
  std::int32_t CopyMessageDatabase(const std::string&) override { return 0; }
  std::int32_t CopyContactsDatabase(const std::string&) override { return 0; }
  std::int32_t WriteWhatsAppChatText(std::int32_t, const std::string&, CopyCallback,
                                     void*) override {
    return kInvalidParameter;
  }
  std::int32_t WriteQQChatText(const std::string&, const std::string&, const std::string&,
                               CopyCallback, void*) override {
    return kInvalidParameter;
  }
  std::int32_t WriteWeChatChatText(const std::string&, const std::string&, const std::string&,
                                   CopyCallback, void*) override {
    return kInvalidParameter;
  }

  std::string ReadProblem(Category c) const override {
    auto it = script_.problems.find(c);
    return it == script_.problems.end() ? std::string() : it->second;
  }
  std::string OpenProblem() const override { return script_.openProblem; }

  std::string password_;

 private:
  template <typename Fill>
  std::int32_t Run(const std::string& name, Fill fill) {
    if (calls_) calls_->push_back(name);
    fill();
    std::int32_t answer = 0;
    auto it = script_.reports.find(name);
    if (it != script_.reports.end()) {
      for (std::int32_t v : it->second) {
        if (script_.beforeReport) script_.beforeReport(name, v);
        answer = cb_ ? cb_(user_, v) : 0;
        if (script_.onReport) script_.onReport(name, v, answer);
        if (answer != 0) break;  // a walk stops at the first non-zero answer
      }
    }
    auto r = script_.results.find(name);
    if (r != script_.results.end()) return r->second;
    return answer;
  }

  FakeScript script_;
  std::vector<std::string>* calls_;
  ProgressCallback cb_ = nullptr;
  void* user_ = nullptr;
};

// Collects the worker's events; thread-safe and never blocks for long.
class EventLog : public IScanEventSink {
 public:
  void Post(const ScanEvent& e) noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(e);
  }
  std::vector<ScanEvent> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::int32_t> Of(ScanEventKind kind) const {
    std::vector<std::int32_t> out;
    for (const auto& e : Events())
      if (e.kind == kind) out.push_back(e.param);
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<ScanEvent> events_;
};

inline MessageRecord Msg(std::int32_t handle, const char* date, const char* text,
                         std::int32_t deleted = 0) {
  MessageRecord m;
  m.handleId = handle;
  m.date = date;
  m.text = text;
  m.deleted = deleted;
  return m;
}

}  // namespace bv::test
