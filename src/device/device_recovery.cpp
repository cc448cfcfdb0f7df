#include "device/device_recovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "catalogue/decrypt.h"
#include "catalogue/detection.h"
#include "catalogue/file_copy.h"
#include "common/hash.h"
#include "common/result_codes.h"
#include "common/stable_sort.h"
#include "common/text.h"
#include "device/cpio_archive.h"
#include "device/relay_request.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/program_files.h"
#include "platform/process.h"
#include "rawsqlite/chat_passes.h"
#include "records/readers.h"

namespace bv {

namespace fs = std::filesystem;

namespace {

constexpr int kExtractWaitMs = 5;
constexpr std::size_t kExtractPiece = 4096;
constexpr int kExtractDrainPasses = 100;

std::uint64_t ParseDecimal(const std::string& text) {
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    if (value > (UINT64_MAX - 9) / 10) break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

std::int32_t KindOf(const std::string& value) {
  static const char* const kKinds[] = {"S_IFDIR", "S_IFLNK", "S_IFREG", "S_IFBLK",
                                       "S_IFCHR", "S_IFIFO", "S_IFMT",  "S_IFSOCK"};
  for (std::int32_t i = 0; i < 8; ++i) {
    if (value == kKinds[i]) return i;
  }
  return 8;
}

void RemoveFilesIn(const fs::path& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileEc;
    if (it->is_symlink(fileEc) || it->is_regular_file(fileEc)) fs::remove(it->path(), fileEc);
  }
}

}  // namespace

CDeviceRecovery::CDeviceRecovery() {
  root_ = TemporaryRoot();
  workFolder_ = platform::WorkFolder();
  std::error_code ec;
  if (!workFolder_.empty()) fs::create_directories(workFolder_, ec);
  previewCatalog_.workFolder = platform::Utf8FromPath(workFolder_ / "");
  ClearWorkFiles();
}

CDeviceRecovery::~CDeviceRecovery() {
  // Our own handles only; the phone's connection itself belongs to the access object.
  if (access_ != nullptr) {
    if (session_.fileServiceOpen) access_->CloseFileService(session_.fileService);
    session_.service.reset();
    if (session_.sessionStarted) access_->StopSession();
    access_->Disconnect();
  }
  ClearWorkFiles();
}

void CDeviceRecovery::ClearWorkFiles() const {
  if (!root_.empty()) {
    RemoveFilesIn(root_);
    RemoveFilesIn(root_ / "TarnwickBackvaultBackupPath");
  }
  if (!workFolder_.empty()) {
    std::error_code ec;
    for (const char* name : {"tmp.jpg", "tmp.avi", "tmp.wav"}) fs::remove(workFolder_ / name, ec);
  }
}

fs::path CDeviceRecovery::RelayArchivePath() const {
  return workFolder_ / kRelayArchive;
}

std::int32_t CDeviceRecovery::Report(std::int32_t position) const {
  return callback_ != nullptr ? callback_(callbackUser_, position) : 0;
}

std::int32_t CDeviceRecovery::Advance(std::int32_t amount) {
  progress_ += amount;
  return Report(progress_);
}

// --- device operations -----------------------------------------------------------

void CDeviceRecovery::RequireConnected() const {
  if (access_ == nullptr || !access_->Connected()) throw DeviceError(kNotConnectedText);
}

void CDeviceRecovery::connect_device() {
  RequireConnected();
  if (access_->Connect() != 0) throw DeviceError(kConnectFailedText);
  if (access_->PairingQuery() != 0 && access_->ValidatePairing() != 0) {
    throw DeviceError(kPairingFailedText);
  }
  if (access_->StartSession() != 0) throw DeviceError(kSessionFailedText);
  session_.sessionStarted = true;
}

void CDeviceRecovery::Reconnect() {
  close_file_service();
  session_.service.reset();
  access_->Disconnect();
  session_.sessionStarted = false;
  connect_device();
}

void CDeviceRecovery::open_file_service(bool preferFullFilesystem) {
  RequireConnected();
  if (session_.fileServiceOpen) {
    Reconnect();
  } else if (!session_.sessionStarted) {
    connect_device();
  }
  // The first connection of a session always tries the whole file system first.
  const bool first = !firstConnectionDone_;
  firstConnectionDone_ = true;
  const bool tryFull = first || preferFullFilesystem;
  bool started = false;
  if (tryFull &&
      access_->StartService(access_->MakeServiceName(kAfc2Service), session_.service) == 0) {
    session_.fullFilesystem = true;
    started = true;
  }
  if (!started &&
      access_->StartService(access_->MakeServiceName(kAfcService), session_.service) == 0) {
    session_.fullFilesystem = false;
    started = true;
  }
  if (!started) throw DeviceError(first ? kStartAfcFailedText : "");
  if (access_->StopSession() != 0) throw DeviceError(kStopSessionFailedText);
  session_.sessionStarted = false;
  if (access_->OpenFileService(*session_.service, 0, session_.fileService) != 0) {
    throw DeviceError(kOpenAfcFailedText);
  }
  session_.fileServiceOpen = true;
}

void CDeviceRecovery::close_file_service() {
  RequireConnected();
  if (!session_.fileServiceOpen) return;
  session_.fileServiceOpen = false;
  if (access_->CloseFileService(session_.fileService) != 0) throw DeviceError(kCloseAfcFailedText);
}

FileInformation CDeviceRecovery::stat(const std::string& path) {
  RequireConnected();
  const std::string shownPath = ValidUtf8(path);
  std::unique_ptr<FileInfoIterator> iterator;
  if (!session_.fileServiceOpen || !session_.fileService ||
      access_->FileInfoOpen(*session_.fileService, path, iterator) != 0 || !iterator) {
    throw DeviceError(kStatPrepareFailedText + shownPath);
  }
  FileInformation info;
  for (;;) {
    std::string key;
    std::string value;
    if (access_->FileInfoNext(*iterator, key, value) != 0) {
      access_->FileInfoClose(iterator);
      throw DeviceError(kStatFailedText + shownPath);
    }
    if (key.empty() && value.empty()) break;
    if (key == "st_size") {
      info.size = ParseDecimal(value);
    } else if (key == "st_blocks") {
      info.blocks = ParseDecimal(value);
    } else if (key == "st_nlink") {
      info.links = ParseDecimal(value);
    } else if (key == "st_ifmt") {
      info.kind = KindOf(value);
    }
  }
  access_->FileInfoClose(iterator);
  return info;
}

std::int32_t CDeviceRecovery::CopyFromDevice(const std::string& devicePath,
                                             const fs::path& localPath) {
  stat(devicePath);
  std::uint64_t handle = 0;
  if (access_->FileOpen(*session_.fileService, devicePath, kFileModeRead, handle) != 0) {
    throw DeviceError(kOpenFileFailedText + ValidUtf8(devicePath));
  }
  struct Closer {
    IDeviceAccess* access;
    FileServiceConnection& service;
    std::uint64_t handle;
    ~Closer() { access->FileClose(service, handle); }
  } closer{access_, *session_.fileService, handle};

  // Written beside the copy and renamed at the end, so a failed copy never leaves a
  // half database under the name the readers open.
  fs::path partial = localPath;
  partial += ".part";
  platform::UniqueFd out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!out.Valid()) return errno;
  std::vector<unsigned char> piece(kDevicePiece);
  try {
    for (;;) {
      std::uint32_t length = static_cast<std::uint32_t>(piece.size());
      const int rc = access_->FileRead(*session_.fileService, handle, piece.data(), length);
      if (rc == kReadIsDirectory) throw DeviceError(kReadDirectoryText);
      if (rc != 0) throw DeviceError(kReadFailedText);
      if (length == 0) break;
      if (length > piece.size()) throw DeviceError(kReadFailedText);
      if (!platform::WriteAll(out.Get(), piece.data(), length)) {
        const int error = errno != 0 ? errno : EIO;
        std::error_code ec;
        fs::remove(partial, ec);
        return error;
      }
    }
  } catch (...) {
    std::error_code ec;
    fs::remove(partial, ec);
    throw;
  }
  if (const int closed = out.Close(); closed != 0) {
    std::error_code ec;
    fs::remove(partial, ec);
    return closed;
  }
  std::error_code ec;
  fs::rename(partial, localPath, ec);
  if (ec) {
    fs::remove(partial, ec);
    return ec.value() != 0 ? ec.value() : EIO;
  }
  return kSuccess;
}

void CDeviceRecovery::CopyLog(const std::string& devicePath, const fs::path& archive,
                              const fs::path& localPath) {
  fs::path log = localPath;
  log += "-wal";
  std::error_code ec;
  fs::remove(log, ec);
  const std::string logPath = devicePath + "-wal";
  if (!archive.empty()) {
    CutMember(archive, logPath, log);  // a member that is not there writes nothing
    return;
  }
  try {
    // Most databases have none at a given moment: asked first, so that its absence is
    // no failure of the scan.
    if (stat(logPath).kind != 2) return;
    CopyFromDevice(logPath, log);
  } catch (...) {
    fs::remove(log, ec);
  }
}

std::int32_t CDeviceRecovery::copy_file(const std::string& devicePath, const fs::path& localPath) {
  try {
    RequireConnected();
    return CopyFromDevice(devicePath, localPath);
  } catch (const DeviceError& e) {
    lastError_ = e.Text();
    return kInvalidParameter;
  } catch (...) {
    return kInvalidParameter;
  }
}

std::string CDeviceRecovery::ReadDeviceName() {
  RequireConnected();
  std::u16string value;
  if (access_->CopyDeviceValue("DeviceName", value) != 0) throw DeviceError(kDeviceNameFailedText);
  if (value.size() * 2 > kDeviceValueMaxBytes) value.resize(kDeviceValueMaxBytes / 2);
  return Utf8FromUtf16(value);
}

std::int32_t CDeviceRecovery::device_name(std::string& name) {
  try {
    std::string value = ReadDeviceName();
    if (Utf8Length(value) > kDeviceNameMax) return kNameTooLong;
    name = std::move(value);
    return kSuccess;
  } catch (const DeviceError& e) {
    lastError_ = e.Text();
    return kInvalidParameter;
  } catch (...) {
    return kInvalidParameter;
  }
}

// --- file relay ------------------------------------------------------------------

std::int32_t CDeviceRecovery::ReceiveArchive() {
  std::error_code ec;
  fs::create_directories(workFolder_, ec);
  // Replaced, not overwritten in place: a shorter archive must not keep an older tail.
  platform::UniqueFd out(
      ::open(RelayArchivePath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!out.Valid()) return errno;
  std::vector<unsigned char> piece(kDevicePiece);
  std::uint64_t received = 0;
  std::uint64_t nextMark = kRelayProgressBytes;
  std::int32_t step = 0;
  for (;;) {
    const std::int64_t n = session_.service->Receive(piece.data(), piece.size());
    if (n < 1) break;
    const std::size_t got = static_cast<std::size_t>(std::min<std::int64_t>(n, piece.size()));
    if (!platform::WriteAll(out.Get(), piece.data(), got)) break;
    received += got;
    bool stop = false;
    while (received >= nextMark) {
      nextMark += kRelayProgressBytes;
      ++step;
      const std::int32_t answer =
          session_.progress ? session_.progress(session_.progressUser, session_.progressBase + step)
                            : 0;
      if (answer != 0) {
        relayStop_ = answer;
        stop = true;
        break;
      }
    }
    if (stop) break;
  }
  if (session_.progress) session_.progress(session_.progressUser, session_.progressBase + step + 1);
  return kSuccess;
}

std::int32_t CDeviceRecovery::RunFileRelay() {
  RequireConnected();
  if (session_.fileServiceOpen) {
    Reconnect();
  } else if (!session_.sessionStarted) {
    connect_device();
  }
  if (access_->StartService(access_->MakeServiceName(kFileRelayService), session_.service) != 0 ||
      !session_.service) {
    throw DeviceError(kStartRelayFailedText);
  }
  const std::string message = FrameRelayMessage(BuildRelayRequestXml());
  if (message.size() <= 4 || session_.service->Send(message.data(), message.size()) != 0) {
    throw DeviceError(kSendRelayFailedText);
  }
  unsigned char lengthBytes[4] = {};
  const std::int64_t got = session_.service->Receive(lengthBytes, sizeof lengthBytes);
  const std::uint32_t length = got == 4 ? ReadBigEndian32(lengthBytes) : 0;
  if (length != 0) {
    // The reply's property list is not needed; read past it.
    std::vector<unsigned char> skip(kDevicePiece);
    std::uint64_t left = length;
    while (left > 0) {
      const std::int64_t n = session_.service->Receive(
          skip.data(), static_cast<std::size_t>(std::min<std::uint64_t>(left, skip.size())));
      if (n < 1) break;
      left -= std::min<std::uint64_t>(static_cast<std::uint64_t>(n), left);
    }
    ReceiveArchive();
  }
  const int rc = access_->OpenFileService(*session_.service, 0, session_.fileService);
  if (rc == 0) session_.fileServiceOpen = true;
  return rc;
}

std::int32_t CDeviceRecovery::file_relay() {
  try {
    return RunFileRelay();
  } catch (const DeviceError& e) {
    lastError_ = e.Text();
    return kScanError;
  } catch (...) {
    return kScanError;
  }
}

std::int32_t CDeviceRecovery::ReopenFileService(bool preferFullFilesystem) {
  try {
    open_file_service(preferFullFilesystem);
    return kSuccess;
  } catch (const DeviceError& e) {
    lastError_ = e.Text();
  } catch (...) {
  }
  return kInvalidParameter;
}

std::int32_t CDeviceRecovery::UnpackArchive() {
  const fs::path tool =
      toolFolder_.empty() ? platform::HelperProgram("extract") : toolFolder_ / "extract";
  const fs::path archive = RelayArchivePath();
  std::error_code ec;
  if (!fs::is_regular_file(tool, ec)) return kInvalidParameter;
  platform::Process process;
  const std::vector<std::string> argv = {tool.native(), "x", "-aoa", archive.native(),
                                         "-o" + root_.native()};
  if (process.Start(argv) != 0) return kInvalidParameter;
  process.CloseInput();
  bool ok = false;
  std::string tail;  // the end of the previous piece, so a split success text is seen
  int countdown = kExtractDrainPasses;
  for (;;) {
    if (process.Wait(kExtractWaitMs) && --countdown < 0) break;
    if (process.Available() == 0) continue;
    std::string chunk;
    if (process.ReadAvailable(chunk, kExtractPiece) == 0) break;
    const std::string seen = tail + chunk;
    if (seen.find(kExtractSuccessText) != std::string::npos) ok = true;
    const std::size_t keep = sizeof kExtractSuccessText - 2;
    tail = seen.size() > keep ? seen.substr(seen.size() - keep) : seen;
  }
  if (!ok) return 1;
  fs::remove(archive, ec);
  return kSuccess;
}

std::int32_t CDeviceRecovery::scan() {
  Report(1);
  qqChats_.clear();
  weChatChats_.clear();
  whatsAppChats_.clear();
  relayStop_ = 0;
  session_.progress = callback_;
  session_.progressUser = callbackUser_;
  session_.progressBase = 1;
  const bool fullAtStart = session_.fullFilesystem;
  const std::int32_t relay = file_relay();
  ReopenFileService(true);
  if (relay == kSuccess) {
    UnpackArchive();
    Report(20);
  }
  if (fullAtStart) {
    // The whole file system is readable: copy the databases themselves.
    // Each with its write-ahead log: a database in use keeps its latest rows there.
    for (const auto& [device, copy] :
         {std::pair{kContactsDevicePath, kContactsCopy},
          std::pair{kMessagesDevicePath, kMessagesCopy}, std::pair{kNotesDevicePath, kNotesCopy},
          std::pair{kCallsDevicePath, kCallsCopy}}) {
      copy_file(device, Copy(copy));
      CopyLog(device, {}, Copy(copy));
    }
    ReopenFileService(false);
  } else {
    const fs::path unpacked = Copy(kUnpackedArchive);
    CutMember(unpacked, kContactsArchivePath, Copy(kContactsCopy));
    CutMember(unpacked, kMessagesArchivePath, Copy(kMessagesCopy));
    CopyLog(kContactsArchivePath, unpacked, Copy(kContactsCopy));
    CopyLog(kMessagesArchivePath, unpacked, Copy(kMessagesCopy));
  }
  progress_ = 20;
  Report(20);
  // A stop asked for during the transfer ends the scan rather than reading half an
  // archive as if all was well.
  if (relayStop_ != 0) return relayStop_;
  return relay;
}

// --- slots -----------------------------------------------------------------------

std::int32_t CDeviceRecovery::Attach(void* target) {
  access_ = static_cast<IDeviceAccess*>(target);
  session_ = DeviceSession{};
  firstConnectionDone_ = false;
  if (access_ != nullptr && access_->Connected()) ReopenFileService(true);
  return kSuccess;
}

std::int32_t CDeviceRecovery::SetProgressCallback(ProgressCallback callback, void* user) {
  callback_ = callback;
  callbackUser_ = user;
  return kSuccess;
}

std::int32_t CDeviceRecovery::Reserved(std::int32_t) {
  return kSuccess;
}
bool CDeviceRecovery::IsLocalBackup(std::int32_t) {
  return false;
}

std::int32_t CDeviceRecovery::OpenBackup(const std::string&) {
  progressStep_ = 11;
  progress_ = 0;
  return scan();
}

std::int32_t CDeviceRecovery::ReadMessages(ConversationMap& messages) {
  // No copy is kept: no chat-text writer reads messages (see CLocalBuckupRecovery).
  const ProgressSink sink{callback_, callbackUser_, progress_, progressStep_};
  const Result r = MessageReader(sink).Read(platform::Utf8FromPath(Copy(kMessagesCopy)),
                                            platform::Utf8FromPath(Copy(kContactsCopy)), messages);
  Advance(progressStep_ / 2);
  return r;
}

std::int32_t CDeviceRecovery::ReadMessageAttachments(AttachmentList& items) {
  const fs::path archive = Copy(kUnpackedArchive);
  platform::ReadOnlyFile in;
  Result result = kSuccess;
  if (in.Open(archive) == 0) {
    const std::uint64_t total = in.Size() > 0 ? static_cast<std::uint64_t>(in.Size()) : 0;
    const ByteReader read = [&](std::uint64_t offset, void* buffer, std::size_t size) {
      const std::int64_t n = in.ReadAt(offset, buffer, size);
      return n > 0 ? static_cast<std::size_t>(n) : std::size_t{0};
    };
    DetectionContext context;
    const std::int32_t base = progress_;
    WalkCpio(read, total, [&](const CpioMember& member) {
      if (member.name.find(kAttachmentsMarker) != std::string::npos &&
          member.header.IsRegularFile() && member.header.fileSize > 0) {
        // Stored under the digest of the member's name: nothing the archive says ever
        // becomes a path piece.
        const fs::path copy = root_ / Sha1Hex(member.name);
        if (CopyArchiveRange(archive, member.dataOffset, member.header.fileSize, copy) ==
            kSuccess) {
          std::string generated;
          DetectFileType(platform::Utf8FromPath(copy), context, generated);
          if (generated.empty()) {
            std::error_code ec;
            fs::remove(copy, ec);
          } else {
            const std::size_t slash = member.name.rfind('/');
            std::string name =
                ValidUtf8(member.name.substr(slash == std::string::npos ? 0 : slash + 1));
            const std::size_t dot = name.rfind('.');
            if (dot != std::string::npos) name.resize(dot);
            std::string ext = generated.substr(generated.rfind('.'));
            for (char& c : ext) {
              if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            }
            AttachmentItem item;
            item.size = static_cast<std::uint32_t>(member.header.fileSize);
            item.name = name + ext;
            item.path = platform::Utf8FromPath(copy);
            items.push_back(std::move(item));
          }
        }
      }
      const std::uint64_t done = member.dataOffset + member.header.fileSize;
      const std::int64_t position =
          base + (total == 0 ? 0
                             : static_cast<std::int64_t>(static_cast<long double>(progressStep_) *
                                                         done / total));
      const std::int32_t answer = Report(static_cast<std::int32_t>(position));
      if (answer != 0) {
        result = answer;
        return false;
      }
      return true;
    });
  }
  if (items.size() >= 2) {
    std::vector<AttachmentItem> sorted(items.begin(), items.end());
    StableMergeSort(sorted, [](const AttachmentItem& a, const AttachmentItem& b) {
      return CompareNoCase(a.name, b.name) < 0;
    });
    items.assign(sorted.begin(), sorted.end());
  }
  Advance(progressStep_);
  return result;
}

std::int32_t CDeviceRecovery::ReadContacts(std::list<ContactRecord>& contacts) {
  const Result r = ContactReader().Read(platform::Utf8FromPath(Copy(kContactsCopy)), contacts);
  Advance(progressStep_ / 2);
  return r;
}

std::int32_t CDeviceRecovery::ReadNotes(std::list<NoteRecord>& notes) {
  // The phone's copy is the older store (notes.sqlite); the newer one is not fetched.
  const Result r = NoteReader().ReadOlderStore(platform::Utf8FromPath(Copy(kNotesCopy)), notes);
  Advance(progressStep_ / 2);
  return r;
}

std::int32_t CDeviceRecovery::ReadCallHistory(std::list<CallRecord>& calls) {
  const Result r = CallHistoryReader().Read(platform::Utf8FromPath(Copy(kCallsCopy)),
                                            platform::Utf8FromPath(Copy(kContactsCopy)), calls);
  Advance(progressStep_ / 2);
  return r;
}

// Photos and app media are not gathered from the phone.
std::int32_t CDeviceRecovery::ReadPhotos(MediaList&, MediaList&) {
  return kSuccess;
}
std::int32_t CDeviceRecovery::ReadWhatsAppAttachments(MediaList&) {
  return kSuccess;
}
std::int32_t CDeviceRecovery::ReadAppMedia(AppMediaList&) {
  return kSuccess;
}
std::int32_t CDeviceRecovery::ReadReminders(std::list<ReminderRecord>& reminders) {
  reminders.clear();
  return kSuccess;
}
std::int32_t CDeviceRecovery::ReadCalendar(std::list<CalendarEventRecord>& events) {
  events.clear();
  return kSuccess;
}
std::int32_t CDeviceRecovery::ReadBookmarks(std::list<BookmarkRecord>& bookmarks) {
  bookmarks.clear();
  return kSuccess;
}

std::int32_t CDeviceRecovery::ReadQQ(AccountChats& chats) {
  qqChats_.clear();
  for (const std::string& path : session_.qqDatabases)
    QQPass(path, LogBeside(path), chats[ValidUtf8(path)]);
  qqChats_ = chats;
  return kSuccess;
}

std::int32_t CDeviceRecovery::ReadWeChat(AccountChats& chats) {
  weChatChats_.clear();
  for (const std::string& path : session_.weChatDatabases)
    WeChatPass(path, LogBeside(path), chats[ValidUtf8(path)]);
  weChatChats_ = chats;
  return kSuccess;
}

std::int32_t CDeviceRecovery::ReadWhatsApp(WhatsAppChatMap& chats) {
  whatsAppChats_.clear();
  const fs::path store = workFolder_ / "ChatStorage";
  std::error_code ec;
  if (fs::is_regular_file(store, ec)) WhatsAppReader().Read(platform::Utf8FromPath(store), chats);
  whatsAppChats_ = chats;
  return Advance(progressStep_);
}

std::int32_t CDeviceRecovery::PreparePreviewCopy(const std::string& backupFile,
                                                 std::string& copyPath, ProgressCallback callback,
                                                 void* user) {
  return bv::PreparePreviewCopy(previewCatalog_, backupFile, copyPath, callback, user);
}

std::int32_t CDeviceRecovery::CopyBackupFile(const std::string& source,
                                             const std::string& destination, CopyCallback callback,
                                             void* user) {
  return bv::CopyBackupFile(source, destination, callback, user);
}

std::int32_t CDeviceRecovery::CopyMessageDatabase(const std::string& destination) {
  return platform::CopyFileReplace(Copy(kMessagesCopy), fs::path(destination));
}

std::int32_t CDeviceRecovery::CopyContactsDatabase(const std::string& destination) {
  // The address book gathered from the phone is the copy "personcontent".
  return platform::CopyFileReplace(Copy(kContactsCopy), fs::path(destination));
}

std::int32_t CDeviceRecovery::WriteWhatsAppChatText(std::int32_t chatKey, const std::string& output,
                                                    CopyCallback callback, void* user) {
  return bv::WriteWhatsAppChatText(whatsAppChats_, chatKey, output, callback, user);
}

// The chat-text writers of the WeChat and QQ accounts are not in the engine yet.
std::int32_t CDeviceRecovery::WriteQQChatText(const std::string&, const std::string&,
                                              const std::string&, CopyCallback, void*) {
  return kInvalidParameter;
}
std::int32_t CDeviceRecovery::WriteWeChatChatText(const std::string&, const std::string&,
                                                  const std::string&, CopyCallback, void*) {
  return kInvalidParameter;
}

}  // namespace bv
