#pragma once
// Small records the catalogue hands to the scan page and to export, the fourteen
// categories; the two callbacks of the progress protocol come from records.
#include <array>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "records/progress_sink.h"  // ProgressCallback, CopyCallback

namespace bv {

// One backup with its device facts.
struct BackupRecord {
  bool encrypted = false;
  bool newerSystem = false;    // Product Version 12 or later
  std::string lastBackupDate;  // YYYY-MM-DD HH:MM:SS, local time
  std::string phoneNumber;
  std::string serialNumber;
  std::string folder;
  std::string displayName;
};

// One file of the backup: "domain-relative/path" and its 40-digit identifier.
struct ManifestEntry {
  std::string key;
  std::string fileId;
};

struct MediaItem {
  std::uint32_t size = 0;  // low 32 bits, for display
  std::string name;
  std::string path;
};

struct AttachmentItem {
  std::uint32_t reserved = 0;
  std::uint32_t size = 0;
  std::string name;
  std::string path;
};

struct AppMediaItem {
  std::uint32_t size = 0;  // 0 when reading the size failed
  std::string app;
  std::string name;
  std::string path;
};

using MediaList = std::list<MediaItem>;
using AttachmentList = std::list<AttachmentItem>;
using AppMediaList = std::list<AppMediaItem>;

enum class Category : int {
  CameraRoll = 0,
  PhotoStream,
  AppPhotos,
  AppVideos,
  Messages,
  MessageAttachments,
  Contacts,
  CallHistory,
  Notes,
  WhatsApp,
  WhatsAppAttachments,
  Reminder,
  Calendar,
  SafariBookmark,
  // The chat apps' accounts, read after the fourteen above when a backup holds them.
  WeChat,
  QQ,
};
// The fourteen categories the category page offers (and `scan --json` lists).
inline constexpr int kPhoneCategoryCount = 14;
// With the two chat apps.
inline constexpr int kCategoryCount = 16;

inline constexpr bool IsChatApp(Category c) {
  return c == Category::WeChat || c == Category::QQ;
}

struct CategoryInfo {
  Category category;
  std::string_view name;        // "Camera Roll"
  std::string_view optionName;  // option control on the category page
  std::string_view nodeText;    // tree node text before a scan
};

// The fourteen categories in their fixed order (the chat apps are not among them).
const std::array<CategoryInfo, kPhoneCategoryCount>& Categories();
// Any category, the chat apps included.
const CategoryInfo& CategoryOf(Category c);

}  // namespace bv
