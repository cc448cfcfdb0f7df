#include "catalogue/classification.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "catalogue/detection.h"
#include "catalogue/manifest.h"
#include "common/text.h"
#include "platform/platform.h"

namespace bv {

namespace {

enum class Walk { Attachments, Photos, AppMedia, WhatsAppOnly };

bool Contains(const std::string& key, const char* text) {
  return key.find(text) != std::string::npos;
}

std::string LastPiece(const std::string& key) {
  const std::size_t slash = key.rfind('/');
  return ValidUtf8(slash == std::string::npos ? key : key.substr(slash + 1));
}

// The name cut at its last "." with the detected extension appended in upper case.
std::string WithDetectedExtension(std::string name, const std::string& generated) {
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  std::string ext = generated.substr(generated.rfind('.'));
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return name + ext;
}

std::uint32_t Low32(std::int64_t size) {
  return size < 0 ? 0 : static_cast<std::uint32_t>(size);
}

// Detects the stored file of an entry. `missing` tells a file that is not there from
// one that could not be read; the size comes from the same open.
struct Detected {
  std::string native;
  std::string generated;  // empty when no type was recognised
  std::int64_t size = -1;
  bool missing = false;
  const std::string& Path() const { return native; }
};
Detected Detect(const BackupCatalog& catalog, const std::string& folder, const ManifestEntry& e,
                DetectionContext& ctx) {
  Detected d;
  d.native = StoredFileNative(catalog, folder, e.fileId);
  Result r = DetectFileTypeNative(d.native, ctx, d.generated, &d.size);
  d.missing = r == ENOENT || r == ENOTDIR;
  return d;
}

// std::list::sort is a stable merge sort that relinks nodes instead of copying items.
template <typename List>
void SortByName(List& list) {
  if (list.size() < 2) return;
  list.sort([](const auto& a, const auto& b) { return CompareNoCase(a.name, b.name) < 0; });
}

// The shared manifest walk. `weight` is the progress span in units of progressStep.
template <typename Visit>
Result WalkManifest(BackupCatalog& catalog, int weight, bool report, Visit visit) {
  const std::size_t n = catalog.manifest.size();
  const std::int32_t base = catalog.progress;
  Result result = kSuccess;
  for (std::size_t i = 0; i < n; ++i) {
    bool reportThis = visit(catalog.manifest[i]);
    if (report && reportThis) {
      const std::int64_t pos = base + static_cast<std::int64_t>(weight) * catalog.progressStep *
                                          static_cast<std::int64_t>(i + 1) /
                                          static_cast<std::int64_t>(n);
      std::int32_t answer = catalog.Report(static_cast<std::int32_t>(pos));
      if (answer != 0) {
        result = answer;
        break;
      }
    }
  }
  return result;
}

// Current WhatsApp keeps its media in its app group's shared container.
constexpr std::string_view kWhatsAppSharedMedia =
    "AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/Media/";

bool IsWhatsAppMedia(const std::string& key) {
  return (Contains(key, "AppDomain-") && Contains(key, "net.whatsapp.WhatsApp")) ||
         key.starts_with(kWhatsAppSharedMedia);
}

// Detects and names a WhatsApp media entry; appended when its size is not 0.
void CollectWhatsApp(const BackupCatalog& catalog, const std::string& folder,
                     const ManifestEntry& e, DetectionContext& ctx, MediaList& out) {
  Detected d = Detect(catalog, folder, e, ctx);
  if (d.generated.empty()) return;
  MediaItem item;
  item.size = Low32(d.size);
  item.name = WithDetectedExtension(LastPiece(e.key), d.generated);
  item.path = d.Path();
  if (item.size != 0) out.push_back(std::move(item));
}

}  // namespace

std::string AppIdentifier(const std::string& key) {
  std::size_t at = key.find("com.");
  if (at == std::string::npos) at = key.find("net.");
  if (at == std::string::npos) return "other";
  const std::size_t start = at + 4;
  const std::size_t dash = key.find('-', start);
  if (dash == std::string::npos) return "other";
  std::string id = key.substr(start, dash - start);
  if (id.size() > 259) id.resize(259);
  return ValidUtf8(id);
}

Result ReadMessageAttachments(BackupCatalog& catalog, AttachmentList& items) {
  DetectionContext ctx;
  const std::string folder = catalog.backupFolder;
  Result r = WalkManifest(catalog, 1, true, [&](const ManifestEntry& e) {
    if (!Contains(e.key, "/Attachments/")) return true;
    Detected d = Detect(catalog, folder, e, ctx);
    if (d.missing) return false;  // no file: next entry, without a report
    if (d.generated.empty()) return true;
    AttachmentItem item;
    item.size = Low32(d.size);
    item.name = WithDetectedExtension(LastPiece(e.key), d.generated);
    item.path = d.Path();
    if (item.size != 0) items.push_back(std::move(item));
    return true;
  });
  SortByName(items);
  catalog.Advance(catalog.progressStep);
  return r;
}

Result ReadPhotos(BackupCatalog& catalog, MediaList& cameraRoll, MediaList& photoStream) {
  DetectionContext ctx;
  const std::string folder = catalog.backupFolder;
  Result r = WalkManifest(catalog, 2, true, [&](const ManifestEntry& e) {
    MediaList* target = nullptr;
    if (Contains(e.key, "CameraRollDomain-Media/DCIM/"))
      target = &cameraRoll;
    else if (Contains(e.key, "MediaDomain-Media/PhotoStreamsData/"))
      target = &photoStream;
    if (!target) return true;
    Detected d = Detect(catalog, folder, e, ctx);
    if (d.missing) return false;  // no file: next entry, without a report
    if (d.generated.empty()) return true;
    MediaItem item;
    item.size = Low32(d.size);
    item.name = LastPiece(e.key);
    item.path = d.Path();
    target->push_back(std::move(item));
    return true;
  });
  SortByName(cameraRoll);
  SortByName(photoStream);
  catalog.Advance(2 * catalog.progressStep);
  return r;
}

Result ReadAppMedia(BackupCatalog& catalog, AppMediaList& items) {
  catalog.whatsAppAttachments.clear();
  catalog.appMediaRead = true;
  DetectionContext ctx;
  const std::string folder = catalog.backupFolder;
  Result r = WalkManifest(catalog, 2, true, [&](const ManifestEntry& e) {
    if (e.key.starts_with(kWhatsAppSharedMedia)) {
      CollectWhatsApp(catalog, folder, e, ctx, catalog.whatsAppAttachments);
      return true;
    }
    if (!Contains(e.key, "AppDomain-")) return true;
    if (Contains(e.key, "net.whatsapp.WhatsApp")) {
      CollectWhatsApp(catalog, folder, e, ctx, catalog.whatsAppAttachments);
      return true;
    }
    Detected d = Detect(catalog, folder, e, ctx);
    if (d.generated.empty()) return true;
    AppMediaItem item;
    item.size = Low32(d.size);
    item.app = AppIdentifier(e.key);
    item.name = WithDetectedExtension(LastPiece(e.key), d.generated);
    item.path = d.Path();
    items.push_back(std::move(item));
    return true;
  });
  SortByName(items);
  SortByName(catalog.whatsAppAttachments);
  catalog.Advance(catalog.progressStep);
  return r;
}

Result ReadWhatsAppAttachments(BackupCatalog& catalog, MediaList& items) {
  if (!catalog.appMediaRead) {
    // Without App Photos or App Videos in this scan, nothing refilled the list: collect
    // this backup's WhatsApp media now rather than show an earlier scan's (or nothing).
    catalog.whatsAppAttachments.clear();
    DetectionContext ctx;
    const std::string folder = catalog.backupFolder;
    for (const ManifestEntry& e : catalog.manifest)
      if (IsWhatsAppMedia(e.key))
        CollectWhatsApp(catalog, folder, e, ctx, catalog.whatsAppAttachments);
    SortByName(catalog.whatsAppAttachments);
    catalog.appMediaRead = true;
  }
  items.insert(items.end(), catalog.whatsAppAttachments.begin(), catalog.whatsAppAttachments.end());
  return catalog.Advance(catalog.progressStep);
}

bool IsAppVideo(const AppMediaItem& item) {
  const std::size_t dot = item.name.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : item.name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  ext += "|";
  if (std::strstr(kImageExtensions, ext.c_str())) return false;
  return std::strstr(kVideoExtensions, ext.c_str()) || std::strstr(kAudioExtensions, ext.c_str());
}

AppMediaSplit SplitAppMedia(const AppMediaList& items) {
  AppMediaSplit split;
  for (const auto& item : items)
    (IsAppVideo(item) ? split.videos : split.photos)[item.app].push_back(item);
  return split;
}

}  // namespace bv
