// The scan the command line runs, over the fake phone; and the libimobiledevice access
// without usbmuxd and with a usbmuxd that has no phone: a clear answer, no hang.
#include "device/device_scan.h"

#include <plist/plist.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device/device_fixture.h"
#include "device/imd_access.h"

namespace bv::test {
namespace {

TEST_F(DeviceTest, ScanSummaryCountsWhatTheSourceFills) {
  WriteFile(library_ / "SMS/Attachments/0a/10/IMG_0001.jpeg", FakePng(700));
  const DeviceScanSummary s = ScanDevice(*phone_, BinFolder());
  EXPECT_TRUE(s.connected);
  EXPECT_EQ(s.name, "Test iPhone");
  EXPECT_EQ(s.openResult, 0);
  EXPECT_EQ(s.messages, 5u);
  EXPECT_EQ(s.conversations, 2u);
  EXPECT_EQ(s.attachments, 1u);
  EXPECT_EQ(s.contacts, 2u);
  EXPECT_EQ(s.calls, 2u);
  EXPECT_EQ(s.notes, 2u);
  EXPECT_EQ(s.whatsApp, 0u);

  FakePhone none(root_);
  none.faults.absent = true;
  none.Discover();
  const DeviceScanSummary n = ScanDevice(none, BinFolder());
  EXPECT_FALSE(n.connected);
  EXPECT_EQ(n.error, "未连接到iPhone");
}

// Sets USBMUXD_SOCKET_ADDRESS for the life of the object.
class MuxAddress {
 public:
  explicit MuxAddress(const std::string& value) {
    const char* old = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (old != nullptr) old_ = old;
    had_ = old != nullptr;
    setenv("USBMUXD_SOCKET_ADDRESS", value.c_str(), 1);
  }
  ~MuxAddress() {
    if (had_)
      setenv("USBMUXD_SOCKET_ADDRESS", old_.c_str(), 1);
    else
      unsetenv("USBMUXD_SOCKET_ADDRESS");
  }

 private:
  bool had_ = false;
  std::string old_;
};

// A usbmuxd that answers every request with an empty device list.
class EmptyMux {
 public:
  explicit EmptyMux(const fs::path& socketPath) : path_(socketPath) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EmptyMux() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  int requests = 0;

 private:
  void Serve() {
    while (!stop_) {
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::uint32_t head[4];
      while (::recv(c, head, sizeof head, MSG_WAITALL) == static_cast<ssize_t>(sizeof head)) {
        std::string body(head[0] > sizeof head ? head[0] - sizeof head : 0, '\0');
        if (!body.empty() &&
            ::recv(c, body.data(), body.size(), MSG_WAITALL) != static_cast<ssize_t>(body.size()))
          break;
        ++requests;
        plist_t reply = plist_new_dict();
        if (body.find("ListDevices") != std::string::npos) {
          plist_dict_set_item(reply, "DeviceList", plist_new_array());
        } else {
          plist_dict_set_item(reply, "MessageType", plist_new_string("Result"));
          plist_dict_set_item(reply, "Number", plist_new_uint(2));  // no such device
        }
        char* xml = nullptr;
        std::uint32_t len = 0;
        plist_to_xml(reply, &xml, &len);
        std::uint32_t out[4] = {static_cast<std::uint32_t>(sizeof out + len), 1, 8, head[3]};
        ::send(c, out, sizeof out, MSG_NOSIGNAL);
        ::send(c, xml, len, MSG_NOSIGNAL);
        plist_to_xml_free(xml);
        plist_free(reply);
      }
      ::close(c);
    }
  }
  fs::path path_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(DeviceTest, LibimobiledeviceWithoutAPhoneAnswersAtOnce) {
  const auto started = std::chrono::steady_clock::now();
  {
    // No usbmuxd at all.
    MuxAddress address("UNIX:" + (tmp_.path() / "no-such-socket").string());
    ImdDeviceAccess access;
    EXPECT_NE(access.Discover(), 0);
    EXPECT_FALSE(access.Connected());
    const DeviceScanSummary s = ScanDevice(access, BinFolder());
    EXPECT_FALSE(s.connected);
    EXPECT_EQ(s.error, "未连接到iPhone");
    CDeviceRecovery source;
    source.Attach(&access);
    EXPECT_EQ(source.OpenBackup(""), kScanError);
    EXPECT_EQ(source.LastError(), "未连接到iPhone");
  }
  {
    // usbmuxd running, no phone plugged in.
    const fs::path socket = tmp_.path() / "mux.sock";
    EmptyMux mux(socket);
    MuxAddress address("UNIX:" + socket.string());
    ImdDeviceAccess access;
    EXPECT_NE(access.Discover(), 0);
    EXPECT_FALSE(access.Connected());
    EXPECT_GT(mux.requests, 0) << "the device list was asked for";
    EXPECT_EQ(ScanDevice(access, BinFolder()).error, "未连接到iPhone");
  }
  // Both answers come without waiting on anything.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

}  // namespace
}  // namespace bv::test
