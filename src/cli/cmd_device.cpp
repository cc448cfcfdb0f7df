// device [--json]: the connected phone's name and what a scan of it finds, or plainly
// that no phone is connected.
#include <ostream>

#include "cli/command.h"
#include "common/text.h"
#include "device/device_scan.h"
#include "device/imd_access.h"

namespace bv::cli {

namespace {

class DeviceCommand : public Command {
 public:
  std::string Name() const override { return "device"; }
  std::string Summary() const override {
    return "Show the iPhone connected by USB and scan it like a backup.";
  }
  std::string Usage() const override { return "device [--json]"; }
  std::vector<ArgumentHelp> Arguments() const override {
    return {{"--json", "print the device and the counts of its scan as one JSON object"}};
  }

  int Run(const std::vector<std::string>& args, Streams io) override {
    bool json = false;
    for (const std::string& arg : args) {
      if (arg == "--json") {
        json = true;
      } else {
        io.err << "backvault-cli device: unexpected argument '" << arg << "'\nUsage: backvault-cli "
               << Usage() << "\n";
        return kExitUsage;
      }
    }
    ImdDeviceAccess access;
    access.Discover();
    const DeviceScanSummary s = ScanDevice(access);
    const std::string error = s.error;
    if (json) {
      io.out << "{\"connected\": " << (s.connected ? "true" : "false");
      if (s.connected) {
        io.out << ", \"name\": \"" << JsonEscape(s.name) << "\", \"openResult\": " << s.openResult
               << ", \"categories\": {\"Messages\": " << s.messages
               << ", \"Message attachments\": " << s.attachments << ", \"Contacts\": " << s.contacts
               << ", \"Call History\": " << s.calls << ", \"Notes\": " << s.notes
               << ", \"WhatsApp\": " << s.whatsApp << "}";
      }
      io.out << ", \"message\": \"" << JsonEscape(error) << "\"}\n";
      return s.connected ? kExitOk : kExitFailed;
    }
    if (!s.connected) {
      io.out << "No iPhone is connected (" << error << ").\n";
      return kExitFailed;
    }
    io.out << "Device: " << (s.name.empty() ? std::string("(name not available)") : s.name) << "\n";
    if (!error.empty()) io.out << "Device message: " << error << "\n";
    io.out << "  Messages:            " << s.messages << " in " << s.conversations
           << " conversations\n"
           << "  Message attachments: " << s.attachments << "\n"
           << "  Contacts:            " << s.contacts << "\n"
           << "  Call History:        " << s.calls << "\n"
           << "  Notes:               " << s.notes << "\n"
           << "  WhatsApp:            " << s.whatsApp << "\n";
    return s.openResult == 0 ? kExitOk : kExitFailed;
  }
};

}  // namespace

BV_REGISTER_COMMAND(DeviceCommand)

}  // namespace bv::cli
