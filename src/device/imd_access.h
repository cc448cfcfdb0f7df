#pragma once
// Device access over libimobiledevice: the first phone that usbmuxd reports, its
// lockdown service for pairing, sessions and services, AFC for files, and the raw
// service connection for the file relay. Without usbmuxd, or with usbmuxd and no
// phone, Discover fails at once and the access stays not connected.
//
// Thread contract: one thread at a time (the scan thread).
#include <memory>
#include <string>

#include "device/device_access.h"

namespace bv {

class ImdDeviceAccess : public IDeviceAccess {
 public:
  ImdDeviceAccess();
  ~ImdDeviceAccess() override;
  ImdDeviceAccess(const ImdDeviceAccess&) = delete;
  ImdDeviceAccess& operator=(const ImdDeviceAccess&) = delete;

  int Discover() override;
  bool Connected() const override;
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

  // The phone's identifier once discovered.
  const std::string& Udid() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace bv
