#include "device/fake_phone.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace bv::test {

namespace fs = std::filesystem;

namespace {

constexpr int kFail = 1;
constexpr int kNotFound = 8;
constexpr int kReadError = 4;

enum class Kind { Afc, Afc2, Relay };

class FakeService : public ServiceConnection {
 public:
  FakeService(FakePhone& phone, Kind kind) : phone_(phone), kind_(kind) {}
  Kind kind() const { return kind_; }

  int Send(const void* data, std::size_t size) override {
    if (kind_ != Kind::Relay) return kFail;
    inbox_.append(static_cast<const char*>(data), size);
    if (inbox_.size() >= 4) {
      const auto* b = reinterpret_cast<const unsigned char*>(inbox_.data());
      const std::uint32_t n = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                              (std::uint32_t{b[2]} << 8) | b[3];
      if (inbox_.size() >= 4 + std::size_t{n}) {
        phone_.relayRequestLength = n;
        phone_.relayRequest = inbox_.substr(4, n);
        Prepare();
      }
    }
    return 0;
  }

  std::int64_t Receive(void* buffer, std::size_t size) override {
    if (pos_ >= outbox_.size()) return 0;
    std::size_t n = std::min(size, outbox_.size() - pos_);
    if (phone_.faults.maxReceive > 0) n = std::min(n, phone_.faults.maxReceive);
    std::memcpy(buffer, outbox_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  void Prepare() {
    const std::string reply =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Status</key>"
        "<string>Acknowledged</string></dict></plist>\n";
    const std::uint32_t n =
        phone_.faults.replyLengthZero ? 0 : static_cast<std::uint32_t>(reply.size());
    outbox_.clear();
    outbox_.push_back(static_cast<char>(n >> 24));
    outbox_.push_back(static_cast<char>(n >> 16));
    outbox_.push_back(static_cast<char>(n >> 8));
    outbox_.push_back(static_cast<char>(n));
    if (n == 0) return;
    outbox_ += reply;
    outbox_ += phone_.relayPayload ? *phone_.relayPayload : phone_.BuildRelayArchive();
  }

  FakePhone& phone_;
  Kind kind_;
  std::string inbox_;
  std::string outbox_;
  std::size_t pos_ = 0;
};

class FakeFileService : public FileServiceConnection {
 public:
  FakeFileService(fs::path base, bool usable) : base_(std::move(base)), usable_(usable) {}
  // The host path of a device path; false for a path that climbs out of the base.
  bool Map(const std::string& devicePath, fs::path& out) const {
    if (!usable_) return false;
    fs::path result = base_;
    for (const auto& piece : fs::path(devicePath)) {
      const std::string p = piece.string();
      if (p.empty() || p == "/" || p == ".") continue;
      if (p == "..") return false;
      result /= piece;
    }
    out = result;
    return true;
  }
  std::map<std::uint64_t, int> files;
  std::uint64_t next = 1;

 private:
  fs::path base_;
  bool usable_;
};

class FakeInfo : public FileInfoIterator {
 public:
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t at = 0;
};

}  // namespace

std::string MakeCpio(const std::vector<std::pair<std::string, std::string>>& members, bool gzip) {
  std::string out;
  archive* a = archive_write_new();
  archive_write_set_format_cpio(a);  // portable ASCII (odc)
  if (gzip) archive_write_add_filter_gzip(a);
  archive_write_set_bytes_in_last_block(a, 1);
  archive_write_open(
      a, &out, nullptr,
      [](archive*, void* user, const void* data, std::size_t size) -> la_ssize_t {
        static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
        return static_cast<la_ssize_t>(size);
      },
      nullptr);
  for (const auto& [name, data] : members) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name.c_str());
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
    archive_write_header(a, e);
    archive_write_data(a, data.data(), data.size());
    archive_entry_free(e);
  }
  archive_write_close(a);
  archive_write_free(a);
  return out;
}

std::string FakePhone::BuildRelayArchive() const {
  std::vector<std::pair<std::string, std::string>> members;
  const fs::path library = root_ / "private/var/mobile/Library";
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(library, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::stringstream data;
    data << in.rdbuf();
    members.emplace_back("./var/mobile/Library/" + fs::relative(f, library).string(), data.str());
  }
  return MakeCpio(members, true);
}

int FakePhone::Discover() {
  discovered_ = !faults.absent;
  return discovered_ ? 0 : -3;
}

ServiceName FakePhone::MakeServiceName(const char* n) {
  return ServiceName{n};
}

int FakePhone::Connect() {
  calls.push_back("connect");
  if (!discovered_ || faults.connectFails) return kFail;
  connected_ = true;
  return 0;
}

int FakePhone::PairingQuery() {
  return 1;
}

int FakePhone::ValidatePairing() {
  calls.push_back("validate");
  return faults.pairingFails ? kFail : 0;
}

int FakePhone::StartSession() {
  calls.push_back("session");
  if (!connected_ || faults.sessionFails) return kFail;
  session_ = true;
  return 0;
}

int FakePhone::StartService(const ServiceName& n, std::unique_ptr<ServiceConnection>& service) {
  service.reset();
  calls.push_back("start " + n.text);
  if (!session_) return kFail;
  if (n.text == "com.apple.afc2") {
    if (!afc2) return kFail;
    service = std::make_unique<FakeService>(*this, Kind::Afc2);
  } else if (n.text == "com.apple.afc") {
    service = std::make_unique<FakeService>(*this, Kind::Afc);
  } else if (n.text == "com.apple.mobile.file_relay") {
    if (faults.noRelay) return kFail;
    service = std::make_unique<FakeService>(*this, Kind::Relay);
  } else {
    return kFail;
  }
  return 0;
}

int FakePhone::StopSession() {
  calls.push_back("stop session");
  if (faults.stopSessionFails) return kFail;
  session_ = false;
  return 0;
}

int FakePhone::OpenFileService(ServiceConnection& service, int,
                               std::unique_ptr<FileServiceConnection>& fileService) {
  auto& s = dynamic_cast<FakeService&>(service);
  calls.push_back(s.kind() == Kind::Afc2  ? "open afc2"
                  : s.kind() == Kind::Afc ? "open afc"
                                          : "open relay");
  // A file-service connection over the relay's socket opens but serves nothing.
  fileService = std::make_unique<FakeFileService>(
      s.kind() == Kind::Afc2 ? root_ : root_ / "private/var/mobile/Media", s.kind() != Kind::Relay);
  ++openFileServices;
  return 0;
}

int FakePhone::CloseFileService(std::unique_ptr<FileServiceConnection>& fileService) {
  calls.push_back("close file service");
  if (auto* f = dynamic_cast<FakeFileService*>(fileService.get())) {
    for (auto& [h, fd] : f->files) {
      ::close(fd);
      --openFiles;
    }
    --openFileServices;
  }
  fileService.reset();
  return 0;
}

int FakePhone::Disconnect() {
  calls.push_back("disconnect");
  connected_ = false;
  session_ = false;
  return 0;
}

int FakePhone::FileInfoOpen(FileServiceConnection& fileService, const std::string& path,
                            std::unique_ptr<FileInfoIterator>& iterator) {
  auto& f = dynamic_cast<FakeFileService&>(fileService);
  fs::path host;
  if (!f.Map(path, host)) return kNotFound;
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) return kNotFound;
  auto info = std::make_unique<FakeInfo>();
  info->pairs = {{"st_size", std::to_string(st.st_size)},
                 {"st_blocks", std::to_string(st.st_blocks)},
                 {"st_nlink", std::to_string(st.st_nlink)},
                 {"st_ifmt", S_ISDIR(st.st_mode)   ? "S_IFDIR"
                             : S_ISLNK(st.st_mode) ? "S_IFLNK"
                                                   : "S_IFREG"}};
  iterator = std::move(info);
  return 0;
}

int FakePhone::FileInfoNext(FileInfoIterator& iterator, std::string& key, std::string& value) {
  auto& info = dynamic_cast<FakeInfo&>(iterator);
  key.clear();
  value.clear();
  if (info.at < info.pairs.size()) {
    key = info.pairs[info.at].first;
    value = info.pairs[info.at].second;
    ++info.at;
  }
  return 0;
}

int FakePhone::FileInfoClose(std::unique_ptr<FileInfoIterator>& iterator) {
  iterator.reset();
  return 0;
}

int FakePhone::FileOpen(FileServiceConnection& fileService, const std::string& path, int mode,
                        std::uint64_t& handle) {
  auto& f = dynamic_cast<FakeFileService&>(fileService);
  fs::path host;
  if (mode != kFileModeRead || !f.Map(path, host)) return kNotFound;
  const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNotFound;
  handle = f.next++;
  f.files[handle] = fd;
  ++openFiles;
  return 0;
}

int FakePhone::FileRead(FileServiceConnection& fileService, std::uint64_t handle, void* buffer,
                        std::uint32_t& length) {
  auto& f = dynamic_cast<FakeFileService&>(fileService);
  const auto it = f.files.find(handle);
  if (it == f.files.end()) return kFail;
  if (faults.readFailsAfter >= 0 && bytesRead_ >= faults.readFailsAfter) {
    length = 0;
    return kReadError;
  }
  std::uint32_t want = length;
  if (faults.maxReceive > 0)
    want = std::min<std::uint32_t>(want, static_cast<std::uint32_t>(faults.maxReceive));
  const ssize_t n = ::read(it->second, buffer, want);
  if (n < 0) {
    length = 0;
    return errno == EISDIR ? kReadIsDirectory : kReadError;
  }
  length = static_cast<std::uint32_t>(n);
  bytesRead_ += n;
  return 0;
}

int FakePhone::FileClose(FileServiceConnection& fileService, std::uint64_t handle) {
  auto& f = dynamic_cast<FakeFileService&>(fileService);
  const auto it = f.files.find(handle);
  if (it == f.files.end()) return kFail;
  ::close(it->second);
  f.files.erase(it);
  --openFiles;
  return 0;
}

int FakePhone::CopyDeviceValue(const std::string& key, std::u16string& value) {
  if (!discovered_ || key != "DeviceName") return kFail;
  value = name;
  return 0;
}

}  // namespace bv::test
