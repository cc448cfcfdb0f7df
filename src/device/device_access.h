#pragma once
// The device-access component: what the device data source asks of the library that
// talks to a phone on USB, operation by operation, in the order it uses them. Two
// implementations: over libimobiledevice (device/imd_access.h) and the in-process fake
// phone of the tests.
//
// Every operation returns 0 on success unless said otherwise. Handles are objects owned
// by the caller (unique_ptr), so a dropped service or iterator closes itself.
//
// Thread contract: one thread at a time (the scan thread of the source that owns it).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace bv {

// File read answer for a directory.
inline constexpr int kReadIsDirectory = 11;
// The mode the program opens device files with: reading only. Device files are never
// opened for writing (the phone is evidence as much as a backup is).
inline constexpr int kFileModeRead = 2;
// Longest device value accepted, in bytes of UTF-16.
inline constexpr std::size_t kDeviceValueMaxBytes = 512;

// The name of a service, as the library wants it (operation 1).
struct ServiceName {
  std::string text;
};

// A started service: the raw connection used for the file-relay exchange, and the
// end point a file-service connection is opened on.
class ServiceConnection {
 public:
  virtual ~ServiceConnection() = default;
  // Sends all of `data`; 0 or an error.
  virtual int Send(const void* data, std::size_t size) = 0;
  // Receives at most `size` bytes; the count received, 0 at the end of the stream or
  // when nothing came in time, negative on an error. Never blocks without limit.
  virtual std::int64_t Receive(void* buffer, std::size_t size) = 0;
};

// An open file-service connection.
class FileServiceConnection {
 public:
  virtual ~FileServiceConnection() = default;
};

// File information of one path, pair by pair.
class FileInfoIterator {
 public:
  virtual ~FileInfoIterator() = default;
};

class IDeviceAccess {
 public:
  virtual ~IDeviceAccess() = default;

  // Discovery (before any operation): finds the first connected phone and sets the
  // connected flag. 0 when a phone is there; otherwise an error and not connected.
  virtual int Discover() = 0;
  // True while a phone is attached and usable.
  virtual bool Connected() const = 0;

  // 1. A service name from a C string.
  virtual ServiceName MakeServiceName(const char* name) = 0;
  // 2. Connect to the device.
  virtual int Connect() = 0;
  // 3. Pairing: the query answers non-zero when this computer holds a pairing with
  //    the phone; the validation then checks it with the phone.
  virtual int PairingQuery() = 0;
  virtual int ValidatePairing() = 0;
  // 4. Start a session.
  virtual int StartSession() = 0;
  // 5. Start a service.
  virtual int StartService(const ServiceName& name,
                           std::unique_ptr<ServiceConnection>& service) = 0;
  // 6. Stop the session.
  virtual int StopSession() = 0;
  // 7. Open a file-service connection on a started service (flags 0).
  virtual int OpenFileService(ServiceConnection& service, int flags,
                              std::unique_ptr<FileServiceConnection>& fileService) = 0;
  // 8. Close a file-service connection.
  virtual int CloseFileService(std::unique_ptr<FileServiceConnection>& fileService) = 0;
  // 9. End the device connection.
  virtual int Disconnect() = 0;
  // 10. File information: open an iterator, read the next key and value (both empty at
  //     the end), close.
  virtual int FileInfoOpen(FileServiceConnection& fileService, const std::string& path,
                           std::unique_ptr<FileInfoIterator>& iterator) = 0;
  virtual int FileInfoNext(FileInfoIterator& iterator, std::string& key, std::string& value) = 0;
  virtual int FileInfoClose(std::unique_ptr<FileInfoIterator>& iterator) = 0;
  // 11. Files: open (mode kFileModeRead) giving a 64-bit handle; read into `buffer`
  //     with `length` in (capacity) and out (bytes read; 0 at the end): 0,
  //     kReadIsDirectory for a directory, another value for an error; close.
  virtual int FileOpen(FileServiceConnection& fileService, const std::string& path, int mode,
                       std::uint64_t& handle) = 0;
  virtual int FileRead(FileServiceConnection& fileService, std::uint64_t handle, void* buffer,
                       std::uint32_t& length) = 0;
  virtual int FileClose(FileServiceConnection& fileService, std::uint64_t handle) = 0;
  // 12. A device value ("DeviceName") as UTF-16 of at most kDeviceValueMaxBytes bytes.
  virtual int CopyDeviceValue(const std::string& key, std::u16string& value) = 0;
};

}  // namespace bv
