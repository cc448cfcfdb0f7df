#pragma once
// An in-process phone for the device tests. A folder tree is the phone's file system:
// the whole of it through "com.apple.afc2" (when enabled), its Media folder through
// "com.apple.afc". The file relay answers the request with a gzip-compressed cpio
// archive of the files under private/var/mobile/Library (named "./var/mobile/Library/
// ..." in the archive), or with bytes the test hands in. Faults are switched on per
// test.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "device/device_access.h"

namespace bv::test {

struct FakePhoneFaults {
  bool absent = false;  // no phone: Discover fails
  bool connectFails = false;
  bool pairingFails = false;  // the pairing validation fails
  bool sessionFails = false;
  bool stopSessionFails = false;
  bool noRelay = false;              // the relay service does not start
  bool replyLengthZero = false;      // the relay answers with a length of 0
  std::size_t maxReceive = 0;        // short reads: at most this many bytes per receive (0: any)
  std::int64_t readFailsAfter = -1;  // file reads fail once this many bytes were read
};

class FakePhone : public IDeviceAccess {
 public:
  explicit FakePhone(std::filesystem::path root) : root_(std::move(root)) {}

  FakePhoneFaults faults;
  bool afc2 = true;
  std::u16string name = u"Test iPhone";
  // Sent by the relay instead of the archive built from the tree.
  std::optional<std::string> relayPayload;

  // What the program did.
  std::string relayRequest;              // the XML received by the relay, without framing
  std::uint32_t relayRequestLength = 0;  // the length that framed it
  std::vector<std::string> calls;        // service and session steps, in order
  int openFiles = 0;                     // file handles still open
  int openFileServices = 0;

  // The archive the relay sends for the tree as it stands.
  std::string BuildRelayArchive() const;
  // The phone's root folder (device path "/").
  const std::filesystem::path& Root() const { return root_; }

  int Discover() override;
  bool Connected() const override { return discovered_; }
  ServiceName MakeServiceName(const char* name) override;
  int Connect() override;
  int PairingQuery() override;
  int ValidatePairing() override;
  int StartSession() override;
  int StartService(const ServiceName& name, std::unique_ptr<ServiceConnection>& service) override;
  int StopSession() override;
  int OpenFileService(ServiceConnection& service, int flags,
                      std::unique_ptr<FileServiceConnection>& fileService) override;
  int CloseFileService(std::unique_ptr<FileServiceConnection>& fileService) override;
  int Disconnect() override;
  int FileInfoOpen(FileServiceConnection& fileService, const std::string& path,
                   std::unique_ptr<FileInfoIterator>& iterator) override;
  int FileInfoNext(FileInfoIterator& iterator, std::string& key, std::string& value) override;
  int FileInfoClose(std::unique_ptr<FileInfoIterator>& iterator) override;
  int FileOpen(FileServiceConnection& fileService, const std::string& path, int mode,
               std::uint64_t& handle) override;
  int FileRead(FileServiceConnection& fileService, std::uint64_t handle, void* buffer,
               std::uint32_t& length) override;
  int FileClose(FileServiceConnection& fileService, std::uint64_t handle) override;
  int CopyDeviceValue(const std::string& key, std::u16string& value) override;

 private:
  std::filesystem::path root_;
  bool discovered_ = false;
  bool connected_ = false;
  bool session_ = false;
  std::int64_t bytesRead_ = 0;
};

// Writes a gzip-compressed (gzip true) or plain odc cpio archive of `members` (name,
// data) to a string, with libarchive.
std::string MakeCpio(const std::vector<std::pair<std::string, std::string>>& members, bool gzip);

}  // namespace bv::test
