#pragma once
// The data source over a backup folder on this computer: a thin object that forwards
// every slot to the catalogue code and the database readers working on its
// BackupCatalog. It does not own the catalogue. Scan-thread only, like the catalogue.
#include "catalogue/backup_catalog.h"
#include "catalogue/data_source.h"

namespace bv {

class CLocalBuckupRecovery : public IPhoneRecoveryParse {
 public:
  CLocalBuckupRecovery() = default;
  // Removes the decrypted files of this source's scan (the catalogue's private folder).
  ~CLocalBuckupRecovery() override;
  CLocalBuckupRecovery(const CLocalBuckupRecovery&) = delete;
  CLocalBuckupRecovery& operator=(const CLocalBuckupRecovery&) = delete;

  std::int32_t Attach(void* target) override;
  std::int32_t SetProgressCallback(ProgressCallback callback, void* user) override;
  std::int32_t Reserved(std::int32_t ignored) override;
  bool IsLocalBackup(std::int32_t ignored) override;
  std::int32_t OpenBackup(const std::string& password) override;
  std::int32_t ReadMessages(ConversationMap& messages) override;
  std::int32_t ReadMessageAttachments(AttachmentList& items) override;
  std::int32_t ReadContacts(std::list<ContactRecord>& contacts) override;
  std::int32_t ReadNotes(std::list<NoteRecord>& notes) override;
  std::int32_t ReadCallHistory(std::list<CallRecord>& calls) override;
  std::int32_t ReadPhotos(MediaList& cameraRoll, MediaList& photoStream) override;
  std::int32_t ReadWhatsAppAttachments(MediaList& items) override;
  std::int32_t ReadAppMedia(AppMediaList& items) override;
  std::int32_t ReadQQ(AccountChats& chats) override;
  std::int32_t ReadWeChat(AccountChats& chats) override;
  std::string ChatStoreProblem(bool weChat) const override;
  std::int32_t ReadWhatsApp(WhatsAppChatMap& chats) override;
  std::int32_t PreparePreviewCopy(const std::string& backupFile, std::string& copyPath,
                                  ProgressCallback callback, void* user) override;
  std::int32_t CopyBackupFile(const std::string& source, const std::string& destination,
                              CopyCallback callback, void* user) override;
  std::int32_t CopyMessageDatabase(const std::string& destination) override;
  std::int32_t CopyContactsDatabase(const std::string& destination) override;
  std::int32_t WriteWhatsAppChatText(std::int32_t chatKey, const std::string& output,
                                     CopyCallback callback, void* user) override;
  std::int32_t WriteQQChatText(const std::string& firstKey, const std::string& secondKey,
                               const std::string& output, CopyCallback callback,
                               void* user) override;
  std::int32_t WriteWeChatChatText(const std::string& firstKey, const std::string& secondKey,
                                   const std::string& output, CopyCallback callback,
                                   void* user) override;
  std::int32_t ReadReminders(std::list<ReminderRecord>& reminders) override;
  std::int32_t ReadCalendar(std::list<CalendarEventRecord>& events) override;
  std::int32_t ReadBookmarks(std::list<BookmarkRecord>& bookmarks) override;

  std::string ReadProblem(Category c) const override;
  std::string OpenProblem() const override;

  BackupCatalog* Catalog() const { return catalog_; }

 private:
  BackupCatalog* catalog_ = nullptr;
};

}  // namespace bv
