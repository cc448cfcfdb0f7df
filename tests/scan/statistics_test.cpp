// The selection tree: counters and sizes after adding, ticking, unticking and
// filtering, checked against the invariants a front end relies on.
#include <gtest/gtest.h>

#include "scan/statistics.h"

namespace bv {
namespace {

struct Fixture {
  MediaList photos;
  std::list<ContactRecord> contacts;
  std::list<NoteRecord> notes;
  AppGroups appPhotos;

  Fixture() {
    photos.push_back({100, "IMG_0001.JPG", "/b/aa"});  // counts as 1024
    photos.push_back({5000, "IMG_0002.JPG", "/b/bb"});
    photos.push_back({4000000000u, "big.MOV", "/b/cc"});  // near the 32-bit edge
    for (int i = 0; i < 4; ++i) {
      ContactRecord c;
      c.name = "c" + std::to_string(i);
      c.deleted = (i == 1 || i == 3) ? 1 : 0;
      contacts.push_back(c);
    }
    NoteRecord n;
    n.title = "live";
    notes.push_back(n);
    appPhotos["instagram"].push_back({2048, "instagram", "a.jpg", "/b/dd"});
    appPhotos["instagram"].push_back({0, "instagram", "b.jpg", "/b/ee"});
    appPhotos["other"].push_back({3000, "other", "c.png", "/b/ff"});
  }
};

// Recounts every node from the entries and compares with what propagation produced.
void ExpectConsistent(const CStatisticsObj& s) {
  std::uint32_t items = 0, ticked = 0, hidden = 0, tickedHidden = 0;
  std::uint64_t total = 0, tickedSize = 0;
  for (const StatEntry& e : s.Entries()) {
    if (e.isGroup) continue;
    ++items;
    ticked += e.ticked;
    hidden += e.hidden;
    tickedHidden += (e.ticked && e.hidden);
    total += e.size;
    if (e.ticked && !e.hidden) tickedSize += e.size;
  }
  EXPECT_EQ(s.Root().items, items);
  EXPECT_EQ(s.Root().ticked, ticked);
  EXPECT_EQ(s.Root().hidden, hidden);
  EXPECT_EQ(s.Root().tickedHidden, tickedHidden);
  EXPECT_EQ(s.TotalSize(), total);
  EXPECT_EQ(s.TickedSize(), tickedSize);
}

TEST(Statistics, AddingCreatesTickedEntriesInStoreOrderWithSizes) {
  Fixture f;
  CStatisticsObj s;
  s.AddMedia(Category::CameraRoll, f.photos);
  s.AddContacts(f.contacts);
  s.AddAppMedia(Category::AppPhotos, f.appPhotos);

  const StatNode& camera = s.CategoryNode(Category::CameraRoll);
  EXPECT_EQ(camera.items, 3u);
  EXPECT_EQ(camera.ticked, 3u);
  EXPECT_EQ(s.CategoryNode(Category::Contacts).items, 4u);
  EXPECT_EQ(s.CategoryNode(Category::AppPhotos).items, 3u);
  EXPECT_EQ(s.Root().items, 10u);
  EXPECT_EQ(s.Root().ticked, 10u);
  // 1024 + 5000 + 4e9 + 4 contacts at 1024 + 2048 + 1024 + 3000
  const std::uint64_t expected = 1024 + 5000 + 4000000000ull + 4 * 1024 + 2048 + 1024 + 3000;
  EXPECT_EQ(s.TotalSize(), expected);
  EXPECT_EQ(s.TickedSize(), expected);  // everything starts ticked

  // Item entries follow their group entries in the order they were added.
  std::vector<std::int32_t> itemCategories;
  for (const StatEntry& e : s.Entries())
    if (!e.isGroup) itemCategories.push_back(e.category);
  std::vector<std::int32_t> want = {1, 1, 1, 7, 7, 7, 7, 3, 3, 3};
  EXPECT_EQ(itemCategories, want);

  // Entries are found by the item's identity and lead back to it.
  std::size_t at = s.FindEntry(&f.photos.back());
  ASSERT_NE(at, CStatisticsObj::npos);
  EXPECT_EQ(s.Entries()[at].As<MediaItem>(), &f.photos.back());
  EXPECT_EQ(s.Entries()[at].As<ContactRecord>(), nullptr);
  EXPECT_EQ(s.FindEntry(&f), CStatisticsObj::npos);

  // App media: one node per app below its category.
  const StatNode* insta = s.AppNode(Category::AppPhotos, "instagram");
  ASSERT_NE(insta, nullptr);
  EXPECT_EQ(insta->items, 2u);
  EXPECT_EQ(insta->parent, &s.CategoryNode(Category::AppPhotos));
  EXPECT_EQ(s.AppNode(Category::AppVideos, "instagram"), nullptr);
  ExpectConsistent(s);
}

TEST(Statistics, TickUntickSequencesKeepCountersAndSizes) {
  Fixture f;
  CStatisticsObj s;
  s.AddMedia(Category::CameraRoll, f.photos);
  s.AddNotes(f.notes);
  const std::size_t first = s.FindEntry(&f.photos.front());
  const std::size_t second = s.FindEntry(&*std::next(f.photos.begin()));
  const std::uint64_t full = s.TickedSize();

  EXPECT_TRUE(s.SetTicked(first, false));
  EXPECT_EQ(s.CategoryNode(Category::CameraRoll).ticked, 2u);
  EXPECT_EQ(s.Root().ticked, 3u);
  EXPECT_EQ(s.TickedSize(), full - 1024);
  // Unticking twice changes nothing more.
  EXPECT_TRUE(s.SetTicked(first, false));
  EXPECT_EQ(s.Root().ticked, 3u);
  EXPECT_EQ(s.TickedSize(), full - 1024);
  EXPECT_EQ(s.Entries()[s.CategoryNode(Category::CameraRoll).entry].ticked, 0u);

  EXPECT_TRUE(s.SetTicked(second, false));
  EXPECT_TRUE(s.SetTicked(first, true));
  EXPECT_TRUE(s.SetTicked(first, true));  // ticking twice: no double count
  EXPECT_EQ(s.CategoryNode(Category::CameraRoll).ticked, 2u);
  EXPECT_EQ(s.TickedSize(), full - 5000);
  ExpectConsistent(s);

  // The group entry ticks and unticks the whole node; other nodes stay.
  const std::size_t group = s.CategoryNode(Category::CameraRoll).entry;
  EXPECT_TRUE(s.SetTicked(group, false));
  EXPECT_EQ(s.CategoryNode(Category::CameraRoll).ticked, 0u);
  EXPECT_EQ(s.Root().ticked, 1u);
  EXPECT_EQ(s.TickedSize(), 1024u);
  s.SetNodeTicked(s.CategoryNode(Category::Notes), false);
  EXPECT_EQ(s.Root().ticked, 0u);
  EXPECT_EQ(s.TickedSize(), 0u);
  EXPECT_TRUE(s.SetTicked(group, true));
  EXPECT_EQ(s.CategoryNode(Category::CameraRoll).ticked, 3u);
  EXPECT_EQ(s.Entries()[group].ticked, 1u);
  ExpectConsistent(s);

  EXPECT_FALSE(s.SetTicked(s.Entries().size(), true));
}

TEST(Statistics, AppGroupEntriesTickOnlyTheirApp) {
  Fixture f;
  CStatisticsObj s;
  s.AddAppMedia(Category::AppPhotos, f.appPhotos);
  const StatNode* insta = s.AppNode(Category::AppPhotos, "instagram");
  ASSERT_NE(insta, nullptr);
  EXPECT_TRUE(s.SetTicked(insta->entry, false));
  EXPECT_EQ(insta->ticked, 0u);
  EXPECT_EQ(s.CategoryNode(Category::AppPhotos).ticked, 1u);
  EXPECT_EQ(s.Root().ticked, 1u);
  EXPECT_EQ(s.TickedSize(), 3000u);
  // Unticking the category's own entry reaches the app nodes below it.
  s.SetTicked(s.CategoryNode(Category::AppPhotos).entry, false);
  EXPECT_EQ(s.Root().ticked, 0u);
  s.SetTicked(s.CategoryNode(Category::AppPhotos).entry, true);
  EXPECT_EQ(insta->ticked, 2u);
  EXPECT_EQ(s.Entries()[insta->entry].ticked, 1u);
  ExpectConsistent(s);
}

TEST(Statistics, DeletedOnlyFilterHidesLiveRecordsAndRestoresThem) {
  Fixture f;
  CStatisticsObj s;
  s.AddContacts(f.contacts);
  s.AddMedia(Category::CameraRoll, f.photos);
  StatNode& contacts = s.CategoryNode(Category::Contacts);
  const std::uint64_t full = s.TickedSize();

  ASSERT_TRUE(s.SetDeletedOnly(contacts, true));
  EXPECT_EQ(contacts.filterState, 'D');
  EXPECT_EQ(contacts.hidden, 2u);
  EXPECT_EQ(contacts.tickedHidden, 2u);
  EXPECT_EQ(s.Root().hidden, 2u);
  EXPECT_EQ(s.TickedSize(), full - 2 * 1024);
  EXPECT_EQ(s.Statistics().tickedVisible, 5u);  // 7 ticked, 2 of them hidden
  ExpectConsistent(s);

  // Unticking a hidden live contact: no size change, tickedHidden falls.
  const std::size_t live = s.FindEntry(&f.contacts.front());
  s.SetTicked(live, false);
  EXPECT_EQ(contacts.tickedHidden, 1u);
  EXPECT_EQ(s.TickedSize(), full - 2 * 1024);
  ExpectConsistent(s);

  // Switching off shows them again; the unticked one stays unticked and out of the size.
  ASSERT_TRUE(s.SetDeletedOnly(contacts, false));
  EXPECT_EQ(contacts.filterState, 'N');
  EXPECT_EQ(contacts.hidden, 0u);
  EXPECT_EQ(contacts.tickedHidden, 0u);
  EXPECT_EQ(s.TickedSize(), full - 1024);
  ExpectConsistent(s);

  // Switching on twice does not count twice.
  s.SetDeletedOnly(contacts, true);
  s.SetDeletedOnly(contacts, true);
  EXPECT_EQ(contacts.hidden, 2u);
  ExpectConsistent(s);

  // Files carry no filter.
  EXPECT_FALSE(s.SetDeletedOnly(s.CategoryNode(Category::CameraRoll), true));
  EXPECT_EQ(s.CategoryNode(Category::CameraRoll).hidden, 0u);
}

TEST(Statistics, OnlyLiveTickedUnderFilterLeavesNothingVisible) {
  Fixture f;
  CStatisticsObj s;
  s.AddContacts(f.contacts);
  StatNode& contacts = s.CategoryNode(Category::Contacts);
  for (const ContactRecord& c : f.contacts)
    if (c.deleted) s.SetTicked(s.FindEntry(&c), false);
  s.SetDeletedOnly(contacts, true);
  EXPECT_EQ(s.Root().ticked, 2u);
  EXPECT_EQ(s.Root().tickedHidden, 2u);
  EXPECT_EQ(s.Statistics().tickedVisible, 0u);
  EXPECT_EQ(s.TickedSize(), 0u);
  ExpectConsistent(s);
}

TEST(Statistics, RecomputeRootAndResetAgree) {
  Fixture f;
  CStatisticsObj s;
  s.AddMedia(Category::CameraRoll, f.photos);
  s.AddContacts(f.contacts);
  s.SetDeletedOnly(s.CategoryNode(Category::Contacts), true);
  s.SetTicked(s.FindEntry(&f.photos.front()), false);
  const StatNode before = s.Root();
  s.RecomputeRoot();
  EXPECT_EQ(s.Root().items, before.items);
  EXPECT_EQ(s.Root().ticked, before.ticked);
  EXPECT_EQ(s.Root().hidden, before.hidden);
  EXPECT_EQ(s.Root().tickedHidden, before.tickedHidden);

  s.Reset();
  EXPECT_EQ(s.Root().items, 0u);
  EXPECT_EQ(s.TotalSize(), 0u);
  EXPECT_EQ(s.TickedSize(), 0u);
  EXPECT_EQ(s.FindEntry(&f.photos.front()), CStatisticsObj::npos);
  EXPECT_EQ(s.CategoryNode(Category::Contacts).filterState, 'N');
  // Sixteen category entries remain (the chat apps' two included), all groups.
  EXPECT_EQ(s.Entries().size(), 16u);
}

}  // namespace
}  // namespace bv
