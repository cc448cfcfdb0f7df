#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/backup_catalog.h"
#include "catalogue/classification.h"
#include "catalogue/manifest.h"
#include "catalogue_fixture.h"
#include "common/hash.h"

namespace bv {
namespace {

using testing::TempFolder;
using testing::WriteFile;

std::string Pad(std::string head, std::size_t size) {
  head.resize(size, '\0');
  return head;
}
const std::string kJpeg = Pad(std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), 2048);
const std::string kPng = Pad("\x89PNG\r\n\x1A\n", 1500);
const std::string kMp4 = Pad(std::string("\x00\x00\x00\x20", 4) + "ftypisom", 3000);
const std::string kMp3 = Pad(std::string("ID3\x03\x00\x00\x00\x00\x00\x00", 10), 800);
const std::string kHeic = Pad(std::string("\x00\x00\x00\x18", 4) + "ftypheic", 4000);

// A plain newer-layout backup whose manifest is set by hand.
class Backup {
 public:
  explicit Backup(const char* tag) : dir_(tag) {
    catalog.backupFolder = dir_.wide();
    catalog.hasManifestDb = true;
    catalog.progressStep = 11;
  }
  void Add(const std::string& key, const std::string* content) {
    ManifestEntry e{key, Sha1Hex(key)};
    if (content) WriteFile(dir_.path() / e.fileId.substr(0, 2) / e.fileId, *content);
    catalog.manifest.push_back(e);
  }
  const TempFolder& dir() const { return dir_; }
  BackupCatalog catalog;

 private:
  TempFolder dir_;
};

std::vector<std::string> Names(const auto& list) {
  std::vector<std::string> out;
  for (const auto& i : list) out.push_back(i.name);
  return out;
}

TEST(PhotosTest, CameraRollAndPhotoStreamByKeyAndContent) {
  Backup b("photos");
  b.Add("CameraRollDomain-Media/DCIM/100APPLE/IMG_3.JPG", &kJpeg);
  b.Add("CameraRollDomain-Media/DCIM/100APPLE/img_2.JPG", &kJpeg);
  b.Add("CameraRollDomain-Media/DCIM/100APPLE/IMG_5.HEIC", &kHeic);
  b.Add("CameraRollDomain-Media/DCIM/100APPLE/IMG_6.JPG", nullptr);  // not stored
  const std::string tiny = kJpeg.substr(0, 100);
  b.Add("CameraRollDomain-Media/DCIM/100APPLE/tiny.JPG", &tiny);
  b.Add("MediaDomain-Media/PhotoStreamsData/1/100APPLE/IMG_9.PNG", &kPng);
  b.Add("HomeDomain-Library/Other/x.jpg", &kJpeg);
  MediaList roll, stream;
  EXPECT_EQ(ReadPhotos(b.catalog, roll, stream), 0);
  EXPECT_EQ(Names(roll), (std::vector<std::string>{"img_2.JPG", "IMG_3.JPG", "IMG_5.HEIC"}));
  ASSERT_EQ(stream.size(), 1u);
  EXPECT_EQ(stream.front().name, "IMG_9.PNG");  // photos keep their own names
  EXPECT_EQ(stream.front().size, kPng.size());
  EXPECT_EQ(b.catalog.progress, 22);
}

TEST(AttachmentsTest, DetectedExtensionZeroSizeAndOrder) {
  Backup b("atts");
  b.Add("MediaDomain-Library/SMS/Attachments/ab/01/photo.jpg", &kPng);  // a PNG named .jpg
  b.Add("MediaDomain-Library/SMS/Attachments/ab/02/Clip", &kMp4);       // no extension
  const std::string empty;
  b.Add("MediaDomain-Library/SMS/Attachments/ab/03/empty.jpg", &empty);
  b.Add("MediaDomain-Library/SMS/Attachments/ab/04/a.b.mp3", &kMp3);
  AttachmentList items;
  EXPECT_EQ(ReadMessageAttachments(b.catalog, items), 0);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"a.b.MP3", "Clip.MP4", "photo.PNG"}));
  for (const auto& i : items) EXPECT_EQ(i.reserved, 0u);
  EXPECT_EQ(b.catalog.progress, 11);
}

TEST(AppMediaTest, WhatsAppSetAsideFromBothContainersAppsIdentified) {
  Backup b("apps");
  b.Add("AppDomain-com.example.camera-Documents/a.jpg", &kJpeg);
  b.Add("AppDomain-net.whatsapp.WhatsApp-Library/Media/x.jpg", &kJpeg);
  b.Add("AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/Media/y.jpg", &kJpeg);
  b.Add("AppDomain-org.other.app-Documents/song", &kMp3);
  b.Add("AppDomain-org.other.app-Documents/com.inner-z.png", &kPng);
  b.Add("AppDomain-com.example.camera-Documents/missing.jpg", nullptr);
  AppMediaList items;
  EXPECT_EQ(ReadAppMedia(b.catalog, items), 0);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"a.JPG", "com.inner-z.PNG", "song.MP3"}));
  auto it = items.begin();
  EXPECT_EQ(it->app, "example.camera");
  EXPECT_EQ((++it)->app, "inner");  // a "com." inside the path counts when the domain has none
  EXPECT_EQ((++it)->app, "other");
  // The app's own container and the shared one of current versions, sorted by name.
  EXPECT_EQ(Names(b.catalog.whatsAppAttachments), (std::vector<std::string>{"x.JPG", "y.JPG"}));
  EXPECT_EQ(b.catalog.progress, 11);  // one unit at the end, though the walk spans two

  auto split = SplitAppMedia(items);
  EXPECT_EQ(split.photos.size(), 2u);
  ASSERT_EQ(split.videos.size(), 1u);
  EXPECT_EQ(split.videos.begin()->first, "other");
}

TEST(AppMediaTest, AppIdentifierRules) {
  EXPECT_EQ(AppIdentifier("AppDomain-com.example.camera-Documents/a.jpg"), "example.camera");
  EXPECT_EQ(AppIdentifier("AppDomain-net.whatsapp.WhatsApp-Library/x.jpg"), "whatsapp.WhatsApp");
  EXPECT_EQ(AppIdentifier("AppDomain-org.app-Documents/a.jpg"), "other");
  EXPECT_EQ(AppIdentifier("AppDomain-org.app/com.nodash"), "other");
}

TEST(WhatsAppAttachmentsTest, CollectedEvenWithoutAppMediaInTheScan) {
  Backup b("wa");
  b.Add("AppDomain-net.whatsapp.WhatsApp-Library/Media/b.jpg", &kJpeg);
  b.Add("AppDomain-net.whatsapp.WhatsApp-Library/Media/a.mp4", &kMp4);
  b.Add("AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/Media/1/c/ab.jpg", &kJpeg);
  // Only the shared container's media folder: its databases are no attachments.
  b.Add("AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Other/d.jpg", &kJpeg);
  // What an earlier scan of another backup left must not show.
  b.catalog.whatsAppAttachments.push_back(MediaItem{1, "stale.jpg", "/elsewhere"});
  b.catalog.appMediaRead = false;
  MediaList items;
  EXPECT_EQ(ReadWhatsAppAttachments(b.catalog, items), 0);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"a.MP4", "ab.JPG", "b.JPG"}));
  EXPECT_EQ(b.catalog.progress, 11);
}

struct StopAfter {
  int calls = 0, limit;
  std::vector<int> seen;
  static std::int32_t Cb(void* u, std::int32_t p) {
    auto* s = static_cast<StopAfter*>(u);
    s->seen.push_back(p);
    return ++s->calls == s->limit ? 2 : 0;
  }
};

TEST(WalkTest, StopStillSortsAndAdvances) {
  Backup b("stop");
  for (int i = 9; i >= 0; --i)
    b.Add("MediaDomain-Library/SMS/Attachments/x/" + std::to_string(i) + ".jpg", &kJpeg);
  StopAfter s{0, 3, {}};
  b.catalog.progressCallback = StopAfter::Cb;
  b.catalog.progressUser = &s;
  AttachmentList items;
  EXPECT_EQ(ReadMessageAttachments(b.catalog, items), 2);
  EXPECT_EQ(Names(items), (std::vector<std::string>{"7.JPG", "8.JPG", "9.JPG"}));
  // Positions 1,2,3 (11 * (i+1) / 10), then the end advance of one unit.
  EXPECT_EQ(s.seen, (std::vector<int>{1, 2, 3, 11}));
}

TEST(ReadOnlyBackupTest, MediaFoundOnReadOnlyFiles) {
  Backup b("ro");
  b.Add("CameraRollDomain-Media/DCIM/100APPLE/IMG_1.JPG", &kJpeg);
  if (!testing::MakeReadOnly(b.dir().path())) GTEST_SKIP() << "cannot make files read-only here";
  MediaList roll, stream;
  EXPECT_EQ(ReadPhotos(b.catalog, roll, stream), 0);
  EXPECT_EQ(roll.size(), 1u);
}

}  // namespace
}  // namespace bv
