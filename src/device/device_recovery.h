#pragma once
// The data source over a phone connected by USB. It gathers the phone's user databases
// into local copies in the temporary root and hands those to the same readers as the
// backup source:
//   - the file relay ("com.apple.mobile.file_relay") sends a gzip-compressed cpio
//     archive; the sibling program "extract" takes off the gzip layer into "Tarnwick",
//     and the address book and the messages are cut out of it;
//   - when the phone offers the whole file system ("com.apple.afc2"), four databases
//     are copied directly through the file service.
//
// Device operations raise DeviceError with their message text; the slots and the
// wrappers turn those into result codes (relay -1, name and copy 87, file-service
// reopen ignored) and keep the text in LastError().
//
// Thread contract: scan-thread only, like every data source; no lock of its own. The
// device-access object handed to Attach must outlive the source.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/data_source.h"
#include "device/device_access.h"

namespace bv {

// A failed device operation, carrying its message text.
class DeviceError : public std::exception {
 public:
  explicit DeviceError(std::string text) : text_(std::move(text)) {}
  const std::string& Text() const { return text_; }
  const char* what() const noexcept override { return "device operation failed"; }

 private:
  std::string text_;
};

// Message texts of the device operations.
inline constexpr const char kNotConnectedText[] = "未连接到iPhone";
inline constexpr const char kConnectFailedText[] = "连接失败";
inline constexpr const char kPairingFailedText[] = "配对失败";
inline constexpr const char kSessionFailedText[] = "开始会话失败";
inline constexpr const char kStartAfcFailedText[] = "开始AFC文件服务失败";
inline constexpr const char kStopSessionFailedText[] = "关闭会话失败";
inline constexpr const char kOpenAfcFailedText[] = "连接AFC文件系统服务失败";
inline constexpr const char kCloseAfcFailedText[] = "断开AFC文件系统服务失败";
inline constexpr const char kStatPrepareFailedText[] = "准备查询该文件信息时失败: ";
inline constexpr const char kStatFailedText[] = "查询该文件信息时失败: ";
inline constexpr const char kReadDirectoryText[] = "尝试读取目录";
inline constexpr const char kReadFailedText[] = "读取文件出错";
// Our own texts for failures that have none of the above.
inline constexpr const char kOpenFileFailedText[] = "打开该文件时失败: ";
inline constexpr const char kStartRelayFailedText[] = "开始文件中继服务失败";
inline constexpr const char kSendRelayFailedText[] = "发送文件中继请求失败";
inline constexpr const char kDeviceNameFailedText[] = "读取设备名称失败";

inline constexpr const char kAfcService[] = "com.apple.afc";
inline constexpr const char kAfc2Service[] = "com.apple.afc2";
inline constexpr const char kFileRelayService[] = "com.apple.mobile.file_relay";

// The databases read from the phone, and the names of their local copies.
inline constexpr const char kContactsDevicePath[] =
    "/private/var/mobile/Library/AddressBook/AddressBook.sqlitedb";
inline constexpr const char kMessagesDevicePath[] = "/private/var/mobile/Library/SMS/sms.db";
inline constexpr const char kNotesDevicePath[] = "/private/var/mobile/Library/Notes/notes.sqlite";
inline constexpr const char kCallsDevicePath[] =
    "/private/var/wireless/Library/CallHistory/call_history.db";
// The same two inside the relay archive.
inline constexpr const char kContactsArchivePath[] =
    "/var/mobile/Library/AddressBook/AddressBook.sqlitedb";
inline constexpr const char kMessagesArchivePath[] = "/var/mobile/Library/SMS/sms.db";
// Archive members that are message attachments.
inline constexpr const char kAttachmentsMarker[] = "Library/SMS/Attachments/";

inline constexpr const char kContactsCopy[] = "personcontent";
inline constexpr const char kMessagesCopy[] = "sms";
inline constexpr const char kNotesCopy[] = "note";
inline constexpr const char kCallsCopy[] = "history";
inline constexpr const char kUnpackedArchive[] = "Tarnwick";
inline constexpr const char kRelayArchive[] = "Tarnwick.tmp";
inline constexpr const char kExtractSuccessText[] = "Everything is Ok";

inline constexpr std::size_t kDevicePiece = 64 * 1024;
inline constexpr std::uint64_t kRelayProgressBytes = 32ull << 20;
// Longest device name, in characters, that fits the caller's buffer of 256.
inline constexpr std::size_t kDeviceNameMax = 255;
inline constexpr std::int32_t kNameTooLong = 111;

// File information from the file service. `kind`: 0 directory, 1 link, 2 regular
// file, 3 block device, 4 character device, 5 FIFO, 6 S_IFMT, 7 socket, 8 not given.
struct FileInformation {
  std::uint64_t size = 0;
  std::uint64_t blocks = 0;
  std::uint64_t links = 0;
  std::int32_t kind = 8;
};

// Per-source device state.
struct DeviceSession {
  std::unique_ptr<ServiceConnection> service;
  std::unique_ptr<FileServiceConnection> fileService;
  bool fileServiceOpen = false;
  bool fullFilesystem = false;
  bool sessionStarted = false;
  ProgressCallback progress = nullptr;
  void* progressUser = nullptr;
  std::int32_t progressBase = 0;
  // Chat stores gathered from the phone (UTF-8 paths). Nothing fills them yet: how
  // those databases would come off the phone is open, so their slots stay empty.
  std::vector<std::string> qqDatabases;
  std::vector<std::string> weChatDatabases;
};

class CDeviceRecovery : public IPhoneRecoveryParse {
 public:
  // Computes the temporary root, creates the work folder and clears old work files.
  CDeviceRecovery();
  // Closes the phone's connections and clears the work files again.
  ~CDeviceRecovery() override;
  CDeviceRecovery(const CDeviceRecovery&) = delete;
  CDeviceRecovery& operator=(const CDeviceRecovery&) = delete;

  // `target` is the IDeviceAccess of the connected phone (may be null). Makes the
  // session's first file-service connection; a failure there is kept in LastError.
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
  // Reminders, calendar events and bookmarks are not gathered from a phone (neither the
  // relay's user databases nor the four copied files include what they need): these
  // leave their lists empty and return 0.
  std::int32_t ReadReminders(std::list<ReminderRecord>& reminders) override;
  std::int32_t ReadCalendar(std::list<CalendarEventRecord>& events) override;
  std::int32_t ReadBookmarks(std::list<BookmarkRecord>& bookmarks) override;

  // Device operations; each raises DeviceError.
  void connect_device();
  void open_file_service(bool preferFullFilesystem);
  void close_file_service();
  FileInformation stat(const std::string& path);

  // Wrappers that never raise. copy_file: 0, 87 for a device failure, or the platform
  // error code of the local file. device_name: 0, 111 for a name over 255 characters,
  // or 87. file_relay: 0 or the result of opening the file service, -1 for a device
  // failure. scan: the relay's result (or the progress callback's stop).
  std::int32_t copy_file(const std::string& devicePath, const std::filesystem::path& localPath);
  std::int32_t device_name(std::string& name);
  std::int32_t file_relay();
  std::int32_t scan();

  // Runs the extractor on the relay archive into the temporary root. 0 when it said
  // "Everything is Ok" (the archive is then deleted), 87 when it cannot be started,
  // 1 when it ran without success (the archive stays).
  std::int32_t UnpackArchive();

  // Where "extract" is looked for; empty (the default): platform::HelperProgram.
  void SetToolFolder(const std::filesystem::path& folder) { toolFolder_ = folder; }
  const std::filesystem::path& TemporaryRootFolder() const { return root_; }
  std::filesystem::path RelayArchivePath() const;
  // The text of the last device failure a wrapper or slot caught; empty when none.
  const std::string& LastError() const { return lastError_; }
  const DeviceSession& Session() const { return session_; }
  DeviceSession& Session() { return session_; }

 private:
  void RequireConnected() const;
  void Reconnect();
  std::int32_t ReopenFileService(bool preferFullFilesystem);
  std::int32_t RunFileRelay();
  std::int32_t ReceiveArchive();
  std::string ReadDeviceName();
  // The write-ahead log beside a database copied from the phone, as "<copy>-wal" (where
  // the readers look for it), when the phone has one; a log of an earlier scan is
  // removed first. From the phone's file system (`archive` empty) or the relay archive.
  void CopyLog(const std::string& devicePath, const std::filesystem::path& archive,
               const std::filesystem::path& localPath);
  std::int32_t CopyFromDevice(const std::string& devicePath,
                              const std::filesystem::path& localPath);
  std::int32_t Report(std::int32_t position) const;
  std::int32_t Advance(std::int32_t amount);
  void ClearWorkFiles() const;
  std::filesystem::path Copy(const char* name) const { return root_ / name; }

  IDeviceAccess* access_ = nullptr;
  DeviceSession session_;
  bool firstConnectionDone_ = false;
  std::int32_t relayStop_ = 0;
  std::filesystem::path root_;
  std::filesystem::path workFolder_;
  std::filesystem::path toolFolder_;
  std::string lastError_;
  ProgressCallback callback_ = nullptr;
  void* callbackUser_ = nullptr;
  std::int32_t progress_ = 0;
  std::int32_t progressStep_ = 11;
  // Results kept for the chat-text writers, as the backup source keeps them.
  AccountChats qqChats_;
  AccountChats weChatChats_;
  WhatsAppChatMap whatsAppChats_;
  // Work-folder catalogue for the preview copies.
  BackupCatalog previewCatalog_;
};

}  // namespace bv
