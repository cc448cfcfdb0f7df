#include "catalogue/local_recovery.h"

#include "catalogue/classification.h"
#include "catalogue/detection.h"
#include "catalogue/file_copy.h"
#include "catalogue/manifest.h"
#include "common/result_codes.h"

namespace bv {

std::int32_t CLocalBuckupRecovery::Attach(void* target) {
  catalog_ = static_cast<BackupCatalog*>(target);
  return kSuccess;
}

std::int32_t CLocalBuckupRecovery::SetProgressCallback(ProgressCallback callback, void* user) {
  if (!catalog_) return kInvalidParameter;
  catalog_->progressCallback = callback;
  catalog_->progressUser = user;
  return kSuccess;
}

std::int32_t CLocalBuckupRecovery::Reserved(std::int32_t) { return kSuccess; }
bool CLocalBuckupRecovery::IsLocalBackup(std::int32_t) { return true; }

std::int32_t CLocalBuckupRecovery::OpenBackup(const std::wstring& password) {
  if (!catalog_) return kInvalidParameter;
  return bv::OpenBackup(*catalog_, password);
}

std::int32_t CLocalBuckupRecovery::ReadMessageAttachments(AttachmentList& items) {
  if (!catalog_) return kInvalidParameter;
  return bv::ReadMessageAttachments(*catalog_, items);
}

std::int32_t CLocalBuckupRecovery::ReadPhotos(MediaList& cameraRoll, MediaList& photoStream) {
  if (!catalog_) return kInvalidParameter;
  return bv::ReadPhotos(*catalog_, cameraRoll, photoStream);
}

std::int32_t CLocalBuckupRecovery::ReadWhatsAppAttachments(MediaList& items) {
  if (!catalog_) return kInvalidParameter;
  return bv::ReadWhatsAppAttachments(*catalog_, items);
}

std::int32_t CLocalBuckupRecovery::ReadAppMedia(AppMediaList& items) {
  if (!catalog_) return kInvalidParameter;
  return bv::ReadAppMedia(*catalog_, items);
}

std::int32_t CLocalBuckupRecovery::PreparePreviewCopy(const std::wstring& backupFile,
                                                      std::wstring& copyPath,
                                                      ProgressCallback callback, void* user) {
  if (!catalog_) return kInvalidParameter;
  return bv::PreparePreviewCopy(*catalog_, backupFile, copyPath, callback, user);
}

std::int32_t CLocalBuckupRecovery::CopyBackupFile(const std::wstring& source,
                                                  const std::wstring& destination,
                                                  CopyCallback callback, void* user) {
  return bv::CopyBackupFile(source, destination, callback, user);
}

std::int32_t CLocalBuckupRecovery::CopyMessageDatabase(const std::string& destination) {
  if (!catalog_) return kInvalidParameter;
  return bv::CopyMessageDatabase(*catalog_, destination);
}

std::int32_t CLocalBuckupRecovery::CopyContactsDatabase(const std::string& destination) {
  if (!catalog_) return kInvalidParameter;
  return bv::CopyContactsDatabase(*catalog_, destination);
}

// The database readers and chat stores are wired in below as they land; until then
// these slots report a missing part (87) and fill nothing.
std::int32_t CLocalBuckupRecovery::ReadMessages(ConversationMap&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::ReadContacts(std::list<ContactRecord>&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::ReadNotes(std::list<NoteRecord>&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::ReadCallHistory(std::list<CallRecord>&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::ReadQQ(AccountChats&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::ReadWeChat(AccountChats&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::ReadWhatsApp(WhatsAppChatMap&) { return kInvalidParameter; }
std::int32_t CLocalBuckupRecovery::WriteWhatsAppChatText(std::int32_t, const std::wstring&,
                                                         CopyCallback, void*) {
  return kInvalidParameter;
}
std::int32_t CLocalBuckupRecovery::WriteQQChatText(const std::wstring&, const std::wstring&,
                                                   const std::wstring&, CopyCallback, void*) {
  return kInvalidParameter;
}
std::int32_t CLocalBuckupRecovery::WriteWeChatChatText(const std::wstring&, const std::wstring&,
                                                       const std::wstring&, CopyCallback, void*) {
  return kInvalidParameter;
}

}  // namespace bv
