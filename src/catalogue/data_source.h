#pragma once
// The data-source interface through which every scan, preview and export reads the
// phone's data, in slot order. Two implementations: CLocalBuckupRecovery (a backup
// folder) and CDeviceRecovery (a phone on USB). Every operation of one scan runs on the
// scan thread; a data source has no lock of its own.
#include <cstdint>
#include <string>

#include "catalogue/types.h"
#include "records/record_types.h"

namespace bv {

class IPhoneRecoveryParse {
 public:
  virtual ~IPhoneRecoveryParse() = default;  // slot 23

  virtual std::int32_t Attach(void* target) = 0;                                        // 0
  virtual std::int32_t SetProgressCallback(ProgressCallback callback, void* user) = 0;  // 1
  virtual std::int32_t Reserved(std::int32_t ignored) = 0;                              // 2
  virtual bool IsLocalBackup(std::int32_t ignored) = 0;                                 // 3
  virtual std::int32_t OpenBackup(const std::string& password) = 0;                     // 4
  virtual std::int32_t ReadMessages(ConversationMap& messages) = 0;                     // 5
  virtual std::int32_t ReadMessageAttachments(AttachmentList& items) = 0;               // 6
  virtual std::int32_t ReadContacts(std::list<ContactRecord>& contacts) = 0;            // 7
  virtual std::int32_t ReadNotes(std::list<NoteRecord>& notes) = 0;                     // 8
  virtual std::int32_t ReadCallHistory(std::list<CallRecord>& calls) = 0;               // 9
  virtual std::int32_t ReadPhotos(MediaList& cameraRoll, MediaList& photoStream) = 0;   // 10
  virtual std::int32_t ReadWhatsAppAttachments(MediaList& items) = 0;                   // 11
  virtual std::int32_t ReadAppMedia(AppMediaList& items) = 0;                           // 12
  virtual std::int32_t ReadQQ(AccountChats& chats) = 0;                                 // 13
  virtual std::int32_t ReadWeChat(AccountChats& chats) = 0;                             // 14
  virtual std::int32_t ReadWhatsApp(WhatsAppChatMap& chats) = 0;                        // 15
  virtual std::int32_t PreparePreviewCopy(const std::string& backupFile, std::string& copyPath,
                                          ProgressCallback callback, void* user) = 0;  // 16
  virtual std::int32_t CopyBackupFile(const std::string& source, const std::string& destination,
                                      CopyCallback callback, void* user) = 0;     // 17
  virtual std::int32_t CopyMessageDatabase(const std::string& destination) = 0;   // 18
  virtual std::int32_t CopyContactsDatabase(const std::string& destination) = 0;  // 19
  virtual std::int32_t WriteWhatsAppChatText(std::int32_t chatKey, const std::string& output,
                                             CopyCallback callback, void* user) = 0;  // 20
  virtual std::int32_t WriteQQChatText(const std::string& firstKey, const std::string& secondKey,
                                       const std::string& output, CopyCallback callback,
                                       void* user) = 0;  // 21
  virtual std::int32_t WriteWeChatChatText(const std::string& firstKey,
                                           const std::string& secondKey, const std::string& output,
                                           CopyCallback callback,
                                           void* user) = 0;  // 22
  // The three categories that the slots above never fill, in category order: the
  // phone's reminders, calendar events and Safari bookmarks.
  virtual std::int32_t ReadReminders(std::list<ReminderRecord>& reminders) = 0;   // 24
  virtual std::int32_t ReadCalendar(std::list<CalendarEventRecord>& events) = 0;  // 25
  virtual std::int32_t ReadBookmarks(std::list<BookmarkRecord>& bookmarks) = 0;   // 26

  // Beyond the slots above: what a scan could not read, so that the front ends can say
  // so instead of showing an empty category as if it were empty. Texts are UTF-8
  // sentences without a final full stop ("the message database is damaged: file is not
  // a database"). Scan thread, after the operation concerned.
  //
  // Why the last read of category `c` could not read its source (or read it only in
  // part); empty when it could, before the first read and for a category this source
  // does not tell about. OpenBackup forgets every earlier text.
  virtual std::string ReadProblem(Category c) const {
    (void)c;
    return {};
  }
  // Why OpenBackup could not open the source or read its list of files whole; empty
  // when it could.
  virtual std::string OpenProblem() const { return {}; }
  // Why the last ReadWeChat (`weChat`) or ReadQQ read its stores only in part (a
  // write-ahead log that could not be applied whole), one store after another ("; ");
  // empty when there is nothing to say.
  virtual std::string ChatStoreProblem(bool weChat) const {
    (void)weChat;
    return {};
  }
};

}  // namespace bv
