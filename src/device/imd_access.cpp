#include "device/imd_access.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>
#include <plist/plist.h>
#include <usbmuxd.h>

#include <cstdlib>
#include <cstring>

namespace bv {

namespace {

constexpr const char kLabel[] = "backvault";
// A relay that sends nothing for this long has ended (or the phone went away).
constexpr unsigned int kReceiveTimeoutMs = 20000;
constexpr int kError = -1;

class ImdService : public ServiceConnection {
 public:
  ImdService(idevice_t device, lockdownd_service_descriptor_t descriptor)
      : device_(device), descriptor_(descriptor) {}
  ~ImdService() override {
    if (client_ != nullptr) service_client_free(client_);
    if (descriptor_ != nullptr) lockdownd_service_descriptor_free(descriptor_);
  }

  int Send(const void* data, std::size_t size) override {
    if (!Ready()) return kError;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const std::uint32_t piece =
          size > 0x10000000u ? 0x10000000u : static_cast<std::uint32_t>(size);
      std::uint32_t sent = 0;
      if (service_send(client_, p, piece, &sent) != SERVICE_E_SUCCESS || sent == 0) return kError;
      p += sent;
      size -= sent;
    }
    return 0;
  }

  std::int64_t Receive(void* buffer, std::size_t size) override {
    if (!Ready()) return kError;
    const std::uint32_t want = size > 0x10000000u ? 0x10000000u : static_cast<std::uint32_t>(size);
    std::uint32_t received = 0;
    const service_error_t rc = service_receive_with_timeout(client_, static_cast<char*>(buffer),
                                                            want, &received, kReceiveTimeoutMs);
    if (received > 0) return received;
    return rc == SERVICE_E_SUCCESS || rc == SERVICE_E_TIMEOUT ? 0 : kError;
  }

  lockdownd_service_descriptor_t Descriptor() const { return descriptor_; }

 private:
  // The raw connection is made on first use; a file service opens its own.
  bool Ready() {
    if (client_ == nullptr &&
        service_client_new(device_, descriptor_, &client_) != SERVICE_E_SUCCESS) {
      client_ = nullptr;
    }
    return client_ != nullptr;
  }

  idevice_t device_;
  lockdownd_service_descriptor_t descriptor_;
  service_client_t client_ = nullptr;
};

class ImdFileService : public FileServiceConnection {
 public:
  explicit ImdFileService(afc_client_t afc) : afc_(afc) {}
  ~ImdFileService() override {
    if (afc_ != nullptr) afc_client_free(afc_);
  }
  afc_client_t Afc() const { return afc_; }
  void Release() { afc_ = nullptr; }

 private:
  afc_client_t afc_;
};

class ImdFileInfo : public FileInfoIterator {
 public:
  explicit ImdFileInfo(char** list) : list_(list) {}
  ~ImdFileInfo() override {
    if (list_ != nullptr) afc_dictionary_free(list_);
  }
  bool Next(std::string& key, std::string& value) {
    key.clear();
    value.clear();
    if (list_ == nullptr || list_[index_] == nullptr) return true;
    key = list_[index_++];
    if (list_[index_] != nullptr) value = list_[index_++];
    return true;
  }

 private:
  char** list_;
  std::size_t index_ = 0;
};

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp = 0xFFFD;
    std::size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6) {
      n = 2;
      cp = c & 0x1F;
    } else if ((c >> 4) == 0xE) {
      n = 3;
      cp = c & 0x0F;
    } else if ((c >> 3) == 0x1E) {
      n = 4;
      cp = c & 0x07;
    } else {
      n = 0;
    }
    bool ok = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; ok && k < n; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d >> 6) != 0x2) ok = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      cp = 0xFFFD;
      n = 1;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

}  // namespace

struct ImdDeviceAccess::State {
  idevice_t device = nullptr;
  lockdownd_client_t lockdown = nullptr;
  std::string udid;
  std::string sessionId;

  // The HostID of this computer's pairing with the phone, from usbmuxd's record.
  std::string HostId() const {
    char* data = nullptr;
    std::uint32_t size = 0;
    if (udid.empty() || usbmuxd_read_pair_record(udid.c_str(), &data, &size) != 0 ||
        data == nullptr)
      return {};
    plist_t record = nullptr;
    plist_from_memory(data, size, &record);
    std::free(data);
    std::string id;
    if (record != nullptr) {
      plist_t node = plist_dict_get_item(record, "HostID");
      char* text = nullptr;
      if (node != nullptr && plist_get_node_type(node) == PLIST_STRING)
        plist_get_string_val(node, &text);
      if (text != nullptr) id = text;
      std::free(text);
      plist_free(record);
    }
    return id;
  }
};

ImdDeviceAccess::ImdDeviceAccess() : state_(std::make_unique<State>()) {}

ImdDeviceAccess::~ImdDeviceAccess() {
  if (state_->lockdown != nullptr) lockdownd_client_free(state_->lockdown);
  if (state_->device != nullptr) idevice_free(state_->device);
}

int ImdDeviceAccess::Discover() {
  if (state_->device != nullptr) return 0;
  // USB only: a phone on the network is not what the user plugged in.
  idevice_t device = nullptr;
  const idevice_error_t rc = idevice_new_with_options(&device, nullptr, IDEVICE_LOOKUP_USBMUX);
  if (rc != IDEVICE_E_SUCCESS || device == nullptr)
    return rc != IDEVICE_E_SUCCESS ? rc : IDEVICE_E_NO_DEVICE;
  state_->device = device;
  char* udid = nullptr;
  if (idevice_get_udid(device, &udid) == IDEVICE_E_SUCCESS && udid != nullptr) state_->udid = udid;
  std::free(udid);
  return 0;
}

bool ImdDeviceAccess::Connected() const {
  return state_->device != nullptr;
}

const std::string& ImdDeviceAccess::Udid() const {
  return state_->udid;
}

ServiceName ImdDeviceAccess::MakeServiceName(const char* name) {
  return ServiceName{name != nullptr ? name : ""};
}

int ImdDeviceAccess::Connect() {
  if (state_->device == nullptr) return kError;
  if (state_->lockdown != nullptr) return 0;
  lockdownd_client_t client = nullptr;
  const lockdownd_error_t rc = lockdownd_client_new(state_->device, &client, kLabel);
  if (rc != LOCKDOWN_E_SUCCESS) return rc;
  state_->lockdown = client;
  return 0;
}

int ImdDeviceAccess::PairingQuery() {
  char* data = nullptr;
  std::uint32_t size = 0;
  if (state_->udid.empty() || usbmuxd_read_pair_record(state_->udid.c_str(), &data, &size) != 0)
    return 0;
  std::free(data);
  return 1;
}

int ImdDeviceAccess::ValidatePairing() {
  if (state_->lockdown == nullptr) return kError;
  return lockdownd_validate_pair(state_->lockdown, nullptr);
}

int ImdDeviceAccess::StartSession() {
  if (state_->lockdown == nullptr) return kError;
  const std::string hostId = state_->HostId();
  if (hostId.empty()) return LOCKDOWN_E_INVALID_HOST_ID;
  char* session = nullptr;
  const lockdownd_error_t rc =
      lockdownd_start_session(state_->lockdown, hostId.c_str(), &session, nullptr);
  if (session != nullptr) {
    state_->sessionId = session;
    std::free(session);
  }
  return rc;
}

int ImdDeviceAccess::StartService(const ServiceName& name,
                                  std::unique_ptr<ServiceConnection>& service) {
  service.reset();
  if (state_->lockdown == nullptr) return kError;
  lockdownd_service_descriptor_t descriptor = nullptr;
  const lockdownd_error_t rc =
      lockdownd_start_service(state_->lockdown, name.text.c_str(), &descriptor);
  if (rc != LOCKDOWN_E_SUCCESS || descriptor == nullptr) {
    if (descriptor != nullptr) lockdownd_service_descriptor_free(descriptor);
    return rc != LOCKDOWN_E_SUCCESS ? rc : kError;
  }
  service = std::make_unique<ImdService>(state_->device, descriptor);
  return 0;
}

int ImdDeviceAccess::StopSession() {
  if (state_->lockdown == nullptr) return kError;
  const lockdownd_error_t rc = lockdownd_stop_session(state_->lockdown, state_->sessionId.c_str());
  state_->sessionId.clear();
  return rc;
}

int ImdDeviceAccess::OpenFileService(ServiceConnection& service, int,
                                     std::unique_ptr<FileServiceConnection>& fileService) {
  fileService.reset();
  auto* imd = dynamic_cast<ImdService*>(&service);
  if (imd == nullptr || state_->device == nullptr) return kError;
  afc_client_t afc = nullptr;
  const afc_error_t rc = afc_client_new(state_->device, imd->Descriptor(), &afc);
  if (rc != AFC_E_SUCCESS || afc == nullptr) return rc != AFC_E_SUCCESS ? rc : kError;
  fileService = std::make_unique<ImdFileService>(afc);
  return 0;
}

int ImdDeviceAccess::CloseFileService(std::unique_ptr<FileServiceConnection>& fileService) {
  auto* imd = dynamic_cast<ImdFileService*>(fileService.get());
  int rc = 0;
  if (imd != nullptr && imd->Afc() != nullptr) {
    rc = afc_client_free(imd->Afc());
    imd->Release();
  }
  fileService.reset();
  return rc;
}

int ImdDeviceAccess::Disconnect() {
  if (state_->lockdown != nullptr) lockdownd_client_free(state_->lockdown);
  state_->lockdown = nullptr;
  state_->sessionId.clear();
  return 0;
}

int ImdDeviceAccess::FileInfoOpen(FileServiceConnection& fileService, const std::string& path,
                                  std::unique_ptr<FileInfoIterator>& iterator) {
  iterator.reset();
  auto* imd = dynamic_cast<ImdFileService*>(&fileService);
  if (imd == nullptr || imd->Afc() == nullptr) return kError;
  char** list = nullptr;
  const afc_error_t rc = afc_get_file_info(imd->Afc(), path.c_str(), &list);
  if (rc != AFC_E_SUCCESS) {
    if (list != nullptr) afc_dictionary_free(list);
    return rc;
  }
  iterator = std::make_unique<ImdFileInfo>(list);
  return 0;
}

int ImdDeviceAccess::FileInfoNext(FileInfoIterator& iterator, std::string& key,
                                  std::string& value) {
  auto* imd = dynamic_cast<ImdFileInfo*>(&iterator);
  if (imd == nullptr) return kError;
  imd->Next(key, value);
  return 0;
}

int ImdDeviceAccess::FileInfoClose(std::unique_ptr<FileInfoIterator>& iterator) {
  iterator.reset();
  return 0;
}

int ImdDeviceAccess::FileOpen(FileServiceConnection& fileService, const std::string& path, int,
                              std::uint64_t& handle) {
  auto* imd = dynamic_cast<ImdFileService*>(&fileService);
  if (imd == nullptr || imd->Afc() == nullptr) return kError;
  // Whatever the caller's mode, the phone's files are opened for reading only.
  return afc_file_open(imd->Afc(), path.c_str(), AFC_FOPEN_RDONLY, &handle);
}

int ImdDeviceAccess::FileRead(FileServiceConnection& fileService, std::uint64_t handle,
                              void* buffer, std::uint32_t& length) {
  auto* imd = dynamic_cast<ImdFileService*>(&fileService);
  if (imd == nullptr || imd->Afc() == nullptr) return kError;
  std::uint32_t read = 0;
  const afc_error_t rc =
      afc_file_read(imd->Afc(), handle, static_cast<char*>(buffer), length, &read);
  length = read;
  if (rc == AFC_E_OBJECT_IS_DIR) return kReadIsDirectory;
  return rc == AFC_E_SUCCESS ? 0 : (rc == kReadIsDirectory ? kError : static_cast<int>(rc));
}

int ImdDeviceAccess::FileClose(FileServiceConnection& fileService, std::uint64_t handle) {
  auto* imd = dynamic_cast<ImdFileService*>(&fileService);
  if (imd == nullptr || imd->Afc() == nullptr) return kError;
  return afc_file_close(imd->Afc(), handle);
}

int ImdDeviceAccess::CopyDeviceValue(const std::string& key, std::u16string& value) {
  if (state_->device == nullptr) return kError;
  lockdownd_client_t client = state_->lockdown;
  lockdownd_client_t own = nullptr;
  if (client == nullptr) {
    if (lockdownd_client_new(state_->device, &own, kLabel) != LOCKDOWN_E_SUCCESS) return kError;
    client = own;
  }
  plist_t node = nullptr;
  const lockdownd_error_t rc = lockdownd_get_value(client, nullptr, key.c_str(), &node);
  if (own != nullptr) lockdownd_client_free(own);
  if (rc != LOCKDOWN_E_SUCCESS || node == nullptr) {
    if (node != nullptr) plist_free(node);
    return rc != LOCKDOWN_E_SUCCESS ? rc : kError;
  }
  char* text = nullptr;
  if (plist_get_node_type(node) == PLIST_STRING) plist_get_string_val(node, &text);
  plist_free(node);
  if (text == nullptr) return kError;
  value = Utf16FromUtf8(text);
  std::free(text);
  if (value.size() * 2 > kDeviceValueMaxBytes) value.resize(kDeviceValueMaxBytes / 2);
  return 0;
}

}  // namespace bv
