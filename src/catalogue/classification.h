#pragma once
// The media categories: backup files picked out of the manifest by text rules on each
// entry's key, confirmed by type detection and described by a file item.
#include <map>
#include <string>

#include "catalogue/backup_catalog.h"
#include "common/result_codes.h"

namespace bv {

// Each walk visits the manifest once, reports progress per entry and stops at a
// non-zero callback answer (still sorting and advancing); the result is 0 or that answer.
Result ReadMessageAttachments(BackupCatalog& catalog, AttachmentList& items);
Result ReadPhotos(BackupCatalog& catalog, MediaList& cameraRoll, MediaList& photoStream);
Result ReadAppMedia(BackupCatalog& catalog, AppMediaList& items);
// Appends the WhatsApp media of this backup. When ReadAppMedia has not run in this scan
// it walks the manifest for them itself.
Result ReadWhatsAppAttachments(BackupCatalog& catalog, MediaList& items);

// The app identifier of a key: the text between "com." (or "net.") and the next "-",
// or "other".
std::string AppIdentifier(const std::string& key);

// App media split: items under App Photos or App Videos, grouped by app identifier.
using AppGroups = std::map<std::string, AppMediaList>;
struct AppMediaSplit {
  AppGroups photos;
  AppGroups videos;
};
// True when the item's extension puts it under App Videos.
bool IsAppVideo(const AppMediaItem& item);
AppMediaSplit SplitAppMedia(const AppMediaList& items);

}  // namespace bv
