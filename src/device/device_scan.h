#pragma once
// One scan of a connected phone as the command line runs it: the phone's name, then
// the device source opened like a backup and every category it fills read in the scan
// order. Scan-thread only (the caller's thread).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "device/device_access.h"

namespace bv {

struct DeviceScanSummary {
  bool connected = false;
  std::string name;
  std::string error;  // the last device failure, empty when none
  std::int32_t openResult = 0;
  std::size_t conversations = 0;
  std::size_t messages = 0;
  std::size_t attachments = 0;
  std::size_t contacts = 0;
  std::size_t calls = 0;
  std::size_t notes = 0;
  std::size_t whatsApp = 0;
};

// `access` has been discovered (or not). `toolFolder`: where "extract" lies (empty: the
// program's own, platform::HelperProgram).
DeviceScanSummary ScanDevice(IDeviceAccess& access, const std::filesystem::path& toolFolder = {});

}  // namespace bv
