// The scan worker over a scripted data source: order of operations, result handling,
// the progress report, pause and stop, the lists and the counts.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "fake_source.h"
#include "scan/scan_session.h"

namespace bv {
namespace {

using test::EventLog;
using test::FakeScript;
using test::FakeSource;
using test::Msg;
using namespace std::chrono_literals;

struct ScanRun {
  CScanSession session;
  EventLog log;
  std::vector<std::string> calls;

  ScanRun() {
    session.SetEventSink(&log);
    session.SetOpenedPause(0ms);
  }
  bool Start(FakeScript script, CategorySet chosen = AllCategories(),
             const std::string& password = "") {
    return session.Start(std::make_unique<FakeSource>(std::move(script), &calls), 1, chosen,
                         password);
  }
};

CategorySet Only(std::initializer_list<Category> list) {
  CategorySet s{};
  for (Category c : list) s[static_cast<int>(c)] = true;
  return s;
}

FakeScript FullScript() {
  FakeScript s;
  s.cameraRoll.push_back({10, "IMG_1.JPG", "/x/1"});
  s.photoStream.push_back({20, "IMG_2.JPG", "/x/2"});
  s.photoStream.push_back({30, "IMG_3.JPG", "/x/3"});
  s.appMedia.push_back({40, "instagram", "a.jpg", "/x/4"});
  s.appMedia.push_back({50, "vine", "b.mp4", "/x/5"});
  s.conversations[3] = {Msg(3, "2020-01-01 00:00:00", "hi")};
  s.attachments.push_back({0, 60, "att.jpg", "/x/6"});
  s.contacts.resize(2);
  s.calls.resize(3);
  s.notes.resize(1);
  s.chats[9].push_back({});
  s.whatsAppAttachments.push_back({70, "wa.jpg", "/x/7"});
  s.reminders.resize(2);
  s.reminders.back().deleted = 1;
  s.events.resize(1);
  s.bookmarks.resize(3);
  return s;
}

TEST(ScanWorker, RunsTheChosenReadsInTheFixedOrder) {
  ScanRun r;
  ASSERT_TRUE(r.Start(FullScript(), AllCategories(), "secret"));
  r.session.Wait();
  std::vector<std::string> want = {"OpenBackup",    "ReadPhotos",
                                   "ReadMessages",  "ReadMessageAttachments",
                                   "ReadContacts",  "ReadCallHistory",
                                   "ReadNotes",     "ReadAppMedia",
                                   "ReadWhatsApp",  "ReadWhatsAppAttachments",
                                   "ReadReminders", "ReadCalendar",
                                   "ReadBookmarks", "ReadWeChat",
                                   "ReadQQ"};
  EXPECT_EQ(r.calls, want);
  EXPECT_FALSE(r.session.IsScanning());
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{0});
  // 1032 after opening and after each of the fourteen reads.
  EXPECT_EQ(r.log.Of(ScanEventKind::Counts).size(), 15u);

  EXPECT_EQ(r.session.CategoryCount(Category::CameraRoll), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::PhotoStream), 2);
  EXPECT_EQ(r.session.CategoryCount(Category::AppPhotos), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::AppVideos), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::Messages), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::Contacts), 2);
  EXPECT_EQ(r.session.CategoryCount(Category::CallHistory), 3);
  EXPECT_EQ(r.session.CategoryCount(Category::WhatsApp), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::WhatsAppAttachments), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::Reminder), 2);
  EXPECT_EQ(r.session.CategoryCount(Category::Calendar), 1);
  EXPECT_EQ(r.session.CategoryCount(Category::SafariBookmark), 3);
  EXPECT_TRUE(r.session.NodeShown(Category::Calendar));
  EXPECT_EQ(r.session.Statistics().Root().items, 15u + 6u);
  // A reminder in Recently Deleted is what the deleted-only filter leaves.
  r.session.SetDeletedOnly(Category::Reminder, true);
  EXPECT_EQ(r.session.FilteredCount(Category::Reminder), 1u);
  // Every category with results announced its node once, by id.
  std::vector<std::int32_t> ready = r.log.Of(ScanEventKind::NodeReady);
  std::vector<std::int32_t> wantReady = {1, 2, 5, 6, 7, 8, 9, 3, 4, 10, 11, 12, 13, 14};
  EXPECT_EQ(ready, wantReady);
  EXPECT_TRUE(r.session.RecoveryEnabled());
}

TEST(ScanWorker, SkipsUnchosenGroupsAndKeepsOnlyChosenHalves) {
  ScanRun r;
  ASSERT_TRUE(r.Start(FullScript(), Only({Category::PhotoStream, Category::AppVideos,
                                          Category::Contacts, Category::Reminder})));
  r.session.Wait();
  std::vector<std::string> want = {"OpenBackup", "ReadPhotos", "ReadContacts", "ReadAppMedia",
                                   "ReadReminders"};
  EXPECT_EQ(r.calls, want);
  EXPECT_TRUE(r.session.Stores().cameraRoll.empty());  // read with the photos, not chosen
  EXPECT_EQ(r.session.Stores().photoStream.size(), 2u);
  EXPECT_TRUE(r.session.Stores().appSplit.photos.empty());
  EXPECT_EQ(r.session.Stores().appSplit.videos.size(), 1u);
  EXPECT_EQ(r.session.CategoryCount(Category::CameraRoll), 0);
  EXPECT_EQ(r.session.CategoryCount(Category::AppPhotos), 0);
  EXPECT_EQ(r.session.CategoryCount(Category::AppVideos), 1);
  EXPECT_EQ(r.session.Statistics().Root().items, 2u + 2u + 1u + 2u);
}

TEST(ScanWorker, ProgressReportShowsOnlyRisingValuesFromTwoToNinetyNine) {
  ScanRun r;
  FakeScript s;
  s.reports["OpenBackup"] = {0, 1, 5, 3, 100};
  ASSERT_TRUE(r.Start(std::move(s), Only({})));
  r.session.Wait();
  EXPECT_EQ(r.log.Of(ScanEventKind::Progress), (std::vector<std::int32_t>{2, 5, 99}));
  EXPECT_EQ(r.session.ShownPercent(), 99);
  // The first step (1) announces the opened source before its 2 % shows.
  auto events = r.log.Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[0].kind, ScanEventKind::OpenState);
  EXPECT_EQ(events[0].param, 0);
  EXPECT_EQ(events[1].kind, ScanEventKind::Progress);
}

TEST(ScanWorker, ProgressAboveOneWithoutTheFirstStepStillStartsAtTwo) {
  ScanRun r;
  FakeScript s;
  s.reports["OpenBackup"] = {-5, 0};
  s.reports["ReadContacts"] = {1, 1, 2, 2, 40};
  ASSERT_TRUE(r.Start(std::move(s), Only({Category::Contacts})));
  r.session.Wait();
  EXPECT_EQ(r.log.Of(ScanEventKind::Progress), (std::vector<std::int32_t>{2, 40}));
  EXPECT_EQ(r.log.Of(ScanEventKind::OpenState), (std::vector<std::int32_t>{0}));
}

TEST(ScanWorker, StoppedReadEndsTheScanAtOnceAndAddsNothing) {
  ScanRun r;
  FakeScript s = FullScript();
  s.results["ReadContacts"] = kStopped;
  ASSERT_TRUE(r.Start(std::move(s)));
  r.session.Wait();
  EXPECT_EQ(r.calls.back(), "ReadContacts");
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kStopped});
  EXPECT_EQ(r.session.Statistics().CategoryNode(Category::Contacts).items, 0u);
  EXPECT_FALSE(r.session.NodeShown(Category::Contacts));
  EXPECT_EQ(r.session.Statistics().CategoryNode(Category::Messages).items, 1u);
}

TEST(ScanWorker, ReadErrorsDoNotStopAndTheLastOneStillEndsTheScan) {
  ScanRun r;
  FakeScript s = FullScript();
  s.results["ReadMessages"] = kQueryFailed;
  s.results["ReadQQ"] = kInvalidParameter;  // the last read of all
  ASSERT_TRUE(r.Start(std::move(s)));
  r.session.Wait();
  EXPECT_EQ(r.calls.size(), 15u);
  EXPECT_FALSE(r.session.IsScanning());
  // The page would otherwise stay in its scanning state.
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kInvalidParameter});
  EXPECT_EQ(r.session.LastResult(), kInvalidParameter);
  // What the failed reads left is still shown.
  EXPECT_EQ(r.session.CategoryCount(Category::Messages), 1);
}

// What could not be read reaches the front end per chosen category, with an event it
// can react to, instead of an empty category that looks like an empty one.
TEST(ScanWorker, SourceProblemsAreKeptPerChosenCategory) {
  ScanRun r;
  FakeScript s = FullScript();
  s.openProblem = "Manifest.mbdb is cut short after 85 records";
  s.problems[Category::Messages] = "the message database is damaged: file is not a database";
  s.problems[Category::PhotoStream] = "Manifest.mbdb is cut short after 85 records";
  s.problems[Category::CameraRoll] = "Manifest.mbdb is cut short after 85 records";
  s.problems[Category::Notes] = "the notes database is empty (0 bytes)";
  ASSERT_TRUE(
      r.Start(std::move(s), Only({Category::Messages, Category::PhotoStream, Category::Contacts})));
  r.session.Wait();
  EXPECT_EQ(r.session.OpenProblem(), "Manifest.mbdb is cut short after 85 records");
  EXPECT_EQ(r.session.CategoryProblem(Category::Messages),
            "the message database is damaged: file is not a database");
  EXPECT_EQ(r.session.CategoryProblem(Category::PhotoStream),
            "Manifest.mbdb is cut short after 85 records");
  // Not chosen: not this scan's business, even when the same read covered it.
  EXPECT_EQ(r.session.CategoryProblem(Category::CameraRoll), "");
  EXPECT_EQ(r.session.CategoryProblem(Category::Notes), "");
  EXPECT_EQ(r.session.CategoryProblem(Category::Contacts), "");
  EXPECT_TRUE(r.session.AnyCategoryProblem());
  // Told before the category's node is published, so the page can show both at once.
  std::vector<std::int32_t> order;
  for (const ScanEvent& e : r.log.Events()) {
    if (e.kind == ScanEventKind::SourceProblem) order.push_back(-e.param);
    if (e.kind == ScanEventKind::NodeReady) order.push_back(e.param);
  }
  EXPECT_EQ(order, (std::vector<std::int32_t>{-2, 2, -5, 5, 7}));  // contacts: no problem

  // The next scan starts without the last one's problems.
  ASSERT_TRUE(r.Start(FullScript()));
  r.session.Wait();
  EXPECT_EQ(r.session.OpenProblem(), "");
  EXPECT_EQ(r.session.CategoryProblem(Category::Messages), "");
  EXPECT_FALSE(r.session.AnyCategoryProblem());
}

TEST(ScanWorker, OpenResultsDecideWhetherTheScanGoesOn) {
  {
    ScanRun r;  // wrong password: back to the password dialog, no end message, no reads
    FakeScript s = FullScript();
    s.results["OpenBackup"] = kWrongPassword;
    ASSERT_TRUE(r.Start(std::move(s)));
    r.session.Wait();
    EXPECT_EQ(r.calls, std::vector<std::string>{"OpenBackup"});
    EXPECT_EQ(r.log.Of(ScanEventKind::OpenState), std::vector<std::int32_t>{1});
    EXPECT_TRUE(r.log.Of(ScanEventKind::Ended).empty());
    EXPECT_TRUE(r.session.WrongPassword());
    EXPECT_FALSE(r.session.IsScanning());
  }
  {
    ScanRun r;  // -1: ends as stopped with the warning
    FakeScript s = FullScript();
    s.results["OpenBackup"] = kScanError;
    ASSERT_TRUE(r.Start(std::move(s)));
    r.session.Wait();
    EXPECT_EQ(r.calls.size(), 1u);
    auto events = r.log.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, ScanEventKind::Warning);
    EXPECT_EQ(events[0].text, "MSG0512");
    EXPECT_EQ(events[1].kind, ScanEventKind::Ended);
    EXPECT_EQ(events[1].param, kStopped);
  }
  {
    ScanRun r;  // stopped while opening
    FakeScript s = FullScript();
    s.results["OpenBackup"] = kStopped;
    ASSERT_TRUE(r.Start(std::move(s)));
    r.session.Wait();
    EXPECT_EQ(r.calls.size(), 1u);
    EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kStopped});
  }
  {
    ScanRun r;  // any other failure goes on with the reads
    FakeScript s = FullScript();
    s.results["OpenBackup"] = kInvalidParameter;
    ASSERT_TRUE(r.Start(std::move(s)));
    r.session.Wait();
    EXPECT_EQ(r.calls.size(), 15u);
    EXPECT_EQ(r.session.OpenResult(), kInvalidParameter);
    EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{0});
  }
}

TEST(ScanWorker, RejectsUnknownKindsAndMissingSources) {
  CScanSession session;
  EXPECT_FALSE(session.Start(nullptr, 1, AllCategories(), ""));
  std::vector<std::string> calls;
  EXPECT_FALSE(
      session.Start(std::make_unique<FakeSource>(FakeScript{}, &calls), 2, AllCategories(), ""));
  ScanRequest request;
  request.sourceKind = 7;
  EXPECT_FALSE(session.Start(request));
  request.sourceKind = 1;  // a backup without a catalogue
  EXPECT_FALSE(session.Start(request));
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(session.IsScanning());
}

// A read that reports many times; the test drives pause and stop from this thread and
// learns from the reading thread itself where it stands (no waiting on the clock).
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  int reports = 0;       // reports answered
  int holdAt = 5;        // the worker waits after this many until the test holds the lock
  bool armed = false;    // the scan lock is held by the test from now on
  bool arrived = false;  // a report began after that: the worker waits in it

  int Reports() {
    std::lock_guard<std::mutex> lock(mutex);
    return reports;
  }
  void WaitForReports(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return reports >= n; });
  }
  // Call right after Pause or BeginStop returned (the test holds the scan lock): waits
  // until the worker has begun its next report, which cannot return while the lock is
  // held, and gives the number of reports answered before it, which stays so.
  int WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex);
    armed = true;
    changed.notify_all();
    changed.wait(lock, [&] { return arrived; });
    return reports;
  }
};

FakeScript LongContacts(Gate& gate) {
  FakeScript s = FullScript();
  std::vector<std::int32_t> values;
  for (int i = 0; i < 400; ++i) values.push_back(10 + i / 10);
  s.reports["ReadContacts"] = values;
  s.beforeReport = [&gate](const std::string&, std::int32_t) {
    std::lock_guard<std::mutex> lock(gate.mutex);
    if (gate.armed) gate.arrived = true;
    gate.changed.notify_all();
  };
  s.onReport = [&gate](const std::string&, std::int32_t, std::int32_t) {
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.reports++;
    gate.changed.notify_all();
    // However busy the machine, the read is still under way when the test pauses it.
    if (gate.reports == gate.holdAt) gate.changed.wait(lock, [&gate] { return gate.armed; });
  };
  return s;
}

TEST(ScanWorker, PauseHoldsTheWorkerAndCancelledStopKeepsItPaused) {
  Gate gate;
  ScanRun r;
  ASSERT_TRUE(r.Start(LongContacts(gate)));
  gate.WaitForReports(5);
  r.session.Pause();
  EXPECT_TRUE(r.session.IsPaused());
  const int held = gate.WaitUntilHeld();
  EXPECT_LT(held, 400);
  EXPECT_TRUE(r.session.IsScanning());
  EXPECT_TRUE(r.session.RecoveryEnabled());  // paused with finished categories ticked

  // Stop asked while paused, then cancelled: still paused, nothing moves.
  r.session.BeginStop();
  r.session.CancelStop();
  EXPECT_TRUE(r.session.IsPaused());
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(gate.Reports(), held);

  r.session.Resume();
  r.session.Wait();
  EXPECT_EQ(gate.Reports(), 400);
  EXPECT_EQ(r.calls.size(), 15u);
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{0});
}

TEST(ScanWorker, ConfirmedStopEndsTheScanAtTheNextReport) {
  Gate gate;
  ScanRun r;
  ASSERT_TRUE(r.Start(LongContacts(gate)));
  gate.WaitForReports(5);
  r.session.BeginStop();  // the question box is up: the worker waits
  const int held = gate.WaitUntilHeld();
  r.session.ConfirmStop();
  EXPECT_FALSE(r.session.IsScanning());
  r.session.Wait();
  EXPECT_EQ(gate.Reports(), held + 1);  // one more report, answered 2
  EXPECT_EQ(r.calls.back(), "ReadContacts");
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kStopped});
  EXPECT_EQ(r.session.Statistics().CategoryNode(Category::Contacts).items, 0u);
  // Categories read before the stop remain usable.
  EXPECT_EQ(r.session.Statistics().CategoryNode(Category::Messages).items, 1u);
  EXPECT_TRUE(r.session.RecoveryEnabled());
}

TEST(ScanWorker, StopWhilePausedAndStopOfAReadThatIgnoresItsAnswer) {
  Gate gate;
  ScanRun r;
  FakeScript s = LongContacts(gate);
  s.results["ReadContacts"] = 0;  // a database reader ignores its end report's answer
  ASSERT_TRUE(r.Start(std::move(s)));
  gate.WaitForReports(5);
  r.session.Pause();
  gate.WaitUntilHeld();
  r.session.BeginStop();
  r.session.ConfirmStop();
  EXPECT_FALSE(r.session.IsPaused());
  r.session.Wait();
  // No further read starts once the stop is confirmed.
  EXPECT_EQ(r.calls.back(), "ReadContacts");
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kStopped});
}

TEST(ScanWorker, DestroyingARunningSessionStopsIt) {
  Gate gate;
  gate.holdAt = 3;
  std::vector<std::string> calls;
  {
    CScanSession session;
    session.SetOpenedPause(0ms);
    ASSERT_TRUE(session.Start(std::make_unique<FakeSource>(LongContacts(gate), &calls), 1,
                              AllCategories(), ""));
    gate.WaitForReports(3);
    session.Pause();
    gate.WaitUntilHeld();
  }
  EXPECT_LT(gate.Reports(), 400);
}

TEST(ScanLists, ConversationRowsAreLastLiveMessagesWithDeletedFirstStable) {
  // Deleted messages follow the live ones of a conversation: the row is its last live
  // message (the list looks as it did before anything deleted was found), else its last.
  ConversationMap map;
  map[1] = {Msg(1, "2020-01-01 00:00:00", "a"), Msg(1, "2020-01-02 00:00:00", "b")};
  map[2] = {Msg(2, "2020-01-01 00:00:00", "c", 1), Msg(2, "2020-01-03 00:00:00", "d")};
  map[3] = {Msg(3, "2020-01-01 00:00:00", "e")};
  map[4] = {Msg(4, "2020-01-01 00:00:00", "f"), Msg(4, "2020-01-05 00:00:00", "g", 7)};
  map[5] = {};
  map[6] = {Msg(6, "2020-01-01 00:00:00", "h", 1), Msg(6, "2020-01-02 00:00:00", "i", 1)};
  auto list = BuildConversationList(map);
  std::vector<std::string> texts;
  std::vector<std::int32_t> deleted, handles;
  for (const auto& m : list) {
    texts.push_back(m.text.str());
    deleted.push_back(m.deleted);
    handles.push_back(m.handleId);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"d", "f", "i", "b", "e", ""}));
  EXPECT_EQ(deleted, (std::vector<std::int32_t>{1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(handles, (std::vector<std::int32_t>{2, 4, 6, 1, 3, 5}));

  WhatsAppChatMap chats;
  WhatsAppMessageRecord live, gone;
  live.text = "x";
  gone.text = "y";
  gone.deleted = 1;
  chats[static_cast<std::int32_t>(0x80000000u)] = {gone};  // above every positive key
  chats[1] = {live};
  chats[2] = {};
  chats[3] = {live, gone};  // the live message stands for the chat
  auto rows = BuildChatList(chats);
  ASSERT_EQ(rows.size(), 4u);
  // Chats with deleted messages first, in key order (3, then the one above all).
  EXPECT_EQ(rows.front().text, "x");
  EXPECT_EQ(rows.front().deleted, 1);
  EXPECT_EQ(std::next(rows.begin())->text, "y");
  EXPECT_EQ(std::next(rows.begin())->deleted, 1);
  EXPECT_EQ(std::next(rows.begin(), 2)->text, "x");
  EXPECT_EQ(std::next(rows.begin(), 2)->deleted, 0);
  EXPECT_EQ(rows.back().sessionId, 2);
}

TEST(ScanLists, AGroupChatIsOneRowUnderItsOwnKeyNamedByTheChat) {
  auto group = std::make_shared<MessageChatInfo>();
  group->chatId = 9;
  group->key = -1;
  group->isGroup = true;
  group->label = "Weekend trip";
  group->members = {"+1501", "+1502", "b@x.org"};
  group->memberNames = {"Anna", "", ""};
  auto single = std::make_shared<MessageChatInfo>();
  single->chatId = 3;
  single->key = 7;
  single->members = {"+1507"};
  single->memberNames = {"Vera"};
  ConversationMap map;
  MessageRecord fromAnna = Msg(1, "2020-01-01 00:00:00", "hi all");
  fromAnna.sender = "+1501";
  fromAnna.name = "Anna";
  fromAnna.chat = group;
  MessageRecord mine = Msg(0, "2020-01-02 00:00:00", "me to all");
  mine.isFromMe = 1;
  mine.chat = group;
  map[-1] = {fromAnna, mine};
  // The owner's last message to one person carries no handle: the row still names them.
  MessageRecord toVera = Msg(0, "2020-01-03 00:00:00", "to vera");
  toVera.chat = single;
  map[7] = {toVera};
  const auto list = BuildConversationList(map);
  ASSERT_EQ(list.size(), 2u);
  const MessageRecord& g = list.front();
  EXPECT_EQ(g.handleId, -1);  // the key, which finds the messages
  EXPECT_EQ(g.name, "Weekend trip");
  EXPECT_EQ(g.sender, "+1501, +1502, b@x.org");
  EXPECT_EQ(g.text, "me to all");
  const MessageRecord& v = list.back();
  EXPECT_EQ(v.handleId, 7);
  EXPECT_EQ(v.sender, "+1507");
  EXPECT_EQ(v.name, "Vera");
  // The stored messages keep their own senders.
  EXPECT_EQ(map[-1].front().name, "Anna");
  EXPECT_EQ(map[-1].back().sender, "");
}

TEST(ScanSessionState, LabelFilterAndRecoveryRule) {
  ScanRun r;
  StatisticsLabel before = r.session.Label();
  EXPECT_EQ(before.tickedSize, "0 MB");
  EXPECT_EQ(before.totalSize, "0 MB");
  EXPECT_FALSE(r.session.RecoveryEnabled());

  FakeScript s;
  for (int i = 0; i < 3; ++i) {
    CallRecord c;
    c.deleted = i == 0 ? 1 : 0;
    s.calls.push_back(c);
  }
  ASSERT_TRUE(r.Start(std::move(s), Only({Category::CallHistory, Category::Notes})));
  r.session.Wait();
  EXPECT_FALSE(r.session.NodeShown(Category::Notes));  // an empty store keeps its node hidden
  EXPECT_TRUE(r.session.NodeShown(Category::CallHistory));
  StatisticsLabel label = r.session.Label();
  EXPECT_EQ(label.tickedSize, "3.00 KB");
  EXPECT_EQ(label.tickedVisible, 3u);
  EXPECT_EQ(label.totalSize, "3.00 KB");
  EXPECT_EQ(label.items, 3u);

  // Untick the deleted call, filter deleted-only: nothing ticked is visible.
  const CallRecord& first = r.session.Stores().calls.front();
  r.session.SetTicked(r.session.Statistics().FindEntry(&first), false);
  EXPECT_TRUE(r.session.SetDeletedOnly(Category::CallHistory, true));
  EXPECT_TRUE(r.session.DeletedOnly(Category::CallHistory));
  EXPECT_EQ(r.session.FilteredCount(Category::CallHistory), 2u);
  EXPECT_EQ(r.session.Label().tickedVisible, 0u);
  EXPECT_EQ(r.session.Label().tickedSize, "0 Bytes");
  EXPECT_FALSE(r.session.RecoveryEnabled());
  EXPECT_FALSE(r.session.SetDeletedOnly(Category::CameraRoll, true));

  r.session.SetDeletedOnly(Category::CallHistory, false);
  EXPECT_TRUE(r.session.RecoveryEnabled());
  r.session.SetCategoryTicked(Category::CallHistory, false);
  EXPECT_FALSE(r.session.RecoveryEnabled());

  // A new scan starts from nothing.
  ASSERT_TRUE(r.Start(FakeScript{}, Only({Category::Contacts})));
  r.session.Wait();
  EXPECT_EQ(r.session.Statistics().Root().items, 0u);
  EXPECT_FALSE(r.session.DeletedOnly(Category::CallHistory));
  EXPECT_EQ(r.session.CategoryCount(Category::CallHistory), 0);
}

// The chat apps: read after the fourteen, each with its share of the bar, one row per
// chat of every account.
ChatMessageRecord ChatLine(std::int32_t status, const std::string& time, const std::string& text) {
  ChatMessageRecord m;
  m.status = status;
  m.time = time;
  m.text = text;
  return m;
}

FakeScript WithChatApps() {
  FakeScript s = FullScript();
  s.weChat["User1"]["wxid_a"] = {ChatLine(0, "2020-01-01 10:00:00", "hello"),
                                 ChatLine(1, "2020-01-02 10:00:00", "gone")};
  s.weChat["User1"]["wxid_b"] = {ChatLine(0, "2020-01-03 10:00:00", "still here")};
  s.weChat["User2"]["wxid_c"] = {ChatLine(1, "2019-05-05 05:05:05", "only deleted")};
  s.qq["10001"]["20002"] = {ChatLine(0, "2021-02-02 02:02:02", "qq live")};
  return s;
}

TEST(ScanChatApps, ReadLastWithTheirOwnShareOfTheBar) {
  ScanRun r;
  FakeScript s = WithChatApps();
  s.reports["ReadBookmarks"] = {98};  // where a plain backup's fourteen end
  // What the store passes report is no percentage of this scan: it must not move the bar.
  s.reports["ReadWeChat"] = {120, 130};
  s.reports["ReadQQ"] = {140};
  ASSERT_TRUE(r.Start(std::move(s)));
  r.session.Wait();
  ASSERT_GE(r.calls.size(), 2u);
  EXPECT_EQ(r.calls[r.calls.size() - 2], "ReadWeChat");
  EXPECT_EQ(r.calls.back(), "ReadQQ");
  const std::vector<std::int32_t> progress = r.log.Of(ScanEventKind::Progress);
  ASSERT_GE(progress.size(), 4u);
  for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i], progress[i - 1]);
  // The fourteen end below the chat apps' share; then exactly the apps' own steps.
  const std::vector<std::int32_t> tail(progress.end() - 3, progress.end());
  EXPECT_EQ(tail, (std::vector<std::int32_t>{kChatAppsFromPercent, kQQFromPercent, 99}));
  EXPECT_LT(progress[progress.size() - 4], kChatAppsFromPercent);
  EXPECT_GE(progress[progress.size() - 4], kChatAppsFromPercent - 2);
  EXPECT_EQ(r.session.ShownPercent(), 99);

  // Rows: one per chat of every account, chats with deleted messages first.
  EXPECT_EQ(r.session.CategoryCount(Category::WeChat), 3);
  EXPECT_EQ(r.session.CategoryCount(Category::QQ), 1);
  const std::vector<std::int32_t> ready = r.log.Of(ScanEventKind::NodeReady);
  ASSERT_GE(ready.size(), 2u);
  EXPECT_EQ(ready[ready.size() - 2], CategoryId(Category::WeChat));
  EXPECT_EQ(ready.back(), CategoryId(Category::QQ));
  const std::list<ChatAppChat>& rows = r.session.Stores().weChatList;
  ASSERT_EQ(rows.size(), 3u);
  auto row = rows.begin();
  EXPECT_EQ(row->account + "/" + row->chat, "User1/wxid_a");
  EXPECT_EQ(row->live, 1u);
  EXPECT_EQ(row->deleted, 1u);
  EXPECT_EQ(row->lastTime, "2020-01-02 10:00:00");
  ++row;
  EXPECT_EQ(row->account + "/" + row->chat, "User2/wxid_c");
  ++row;
  EXPECT_EQ(row->account + "/" + row->chat, "User1/wxid_b");
  EXPECT_EQ(row->deleted, 0u);
  ASSERT_NE(row->messages, nullptr);
  EXPECT_EQ(row->messages->front().text, "still here");
  EXPECT_EQ(r.session.Stores().qqList.front().app, Category::QQ);

  // Each chat is a tickable entry; the filter keeps the chats with deleted messages.
  EXPECT_EQ(r.session.Statistics().CategoryNode(Category::WeChat).items, 3u);
  EXPECT_TRUE(r.session.SetDeletedOnly(Category::WeChat, true));
  EXPECT_EQ(r.session.FilteredCount(Category::WeChat), 1u);
  EXPECT_TRUE(r.session.SetDeletedOnly(Category::QQ, true));
  EXPECT_EQ(r.session.FilteredCount(Category::QQ), 1u);
  EXPECT_EQ(r.session.Label().tickedVisible, r.session.Statistics().Root().items - 2u);
}

TEST(ScanChatApps, WithoutThemTheFourteenFillTheBarAsBefore) {
  ScanRun r;
  FakeScript s = WithChatApps();
  s.reports["ReadBookmarks"] = {98};
  CategorySet fourteen = AllCategories();
  fourteen[static_cast<int>(Category::WeChat)] = false;
  fourteen[static_cast<int>(Category::QQ)] = false;
  ASSERT_TRUE(r.Start(std::move(s), fourteen));
  r.session.Wait();
  EXPECT_EQ(r.calls.back(), "ReadBookmarks");
  EXPECT_EQ(r.session.ShownPercent(), 98);
  EXPECT_EQ(r.session.CategoryCount(Category::WeChat), 0);
  EXPECT_FALSE(r.session.NodeShown(Category::WeChat));

  // Only the chat apps: nothing else is read, and they still fill their share.
  ScanRun only;
  ASSERT_TRUE(only.Start(WithChatApps(), Only({Category::QQ})));
  only.session.Wait();
  EXPECT_EQ(only.calls, (std::vector<std::string>{"OpenBackup", "ReadQQ"}));
  EXPECT_EQ(only.log.Of(ScanEventKind::Progress), (std::vector<std::int32_t>{kQQFromPercent, 99}));
  EXPECT_TRUE(only.session.NodeShown(Category::QQ));
}

TEST(ScanChatApps, AStoppedWeChatReadEndsTheScanBeforeQQ) {
  ScanRun r;
  FakeScript s = WithChatApps();
  s.results["ReadWeChat"] = kStopped;
  ASSERT_TRUE(r.Start(std::move(s)));
  r.session.Wait();
  EXPECT_EQ(r.calls.back(), "ReadWeChat");
  EXPECT_EQ(r.log.Of(ScanEventKind::Ended), std::vector<std::int32_t>{kStopped});
  EXPECT_FALSE(r.session.NodeShown(Category::WeChat));
  EXPECT_LT(r.session.ShownPercent(), kQQFromPercent);
  // A failed read is no stop: QQ is still read.
  ScanRun failed;
  FakeScript f = WithChatApps();
  f.results["ReadWeChat"] = kQueryFailed;
  ASSERT_TRUE(failed.Start(std::move(f)));
  failed.session.Wait();
  EXPECT_EQ(failed.calls.back(), "ReadQQ");
  EXPECT_TRUE(failed.session.NodeShown(Category::QQ));
}

TEST(CategoryNames, ParseListsAndReportBadNames) {
  CategorySet set{};
  std::string error;
  ASSERT_TRUE(ParseCategoryList("camera-roll, whatsapp-attachments,safari-bookmark", set, error));
  EXPECT_TRUE(set[0]);
  EXPECT_TRUE(set[10]);
  EXPECT_TRUE(set[13]);
  EXPECT_FALSE(set[4]);
  ASSERT_TRUE(ParseCategoryList("all", set, error));
  EXPECT_EQ(set, AllCategories());
  EXPECT_FALSE(ParseCategoryList("messages,photos", set, error));
  EXPECT_NE(error.find("photos"), std::string::npos);
  EXPECT_EQ(set, AllCategories());  // untouched on failure
  EXPECT_FALSE(ParseCategoryList("messages,,notes", set, error));
  EXPECT_FALSE(ParseCategoryList("", set, error));
  ASSERT_TRUE(ParseCategoryList("wechat,qq", set, error));
  EXPECT_EQ(set, Only({Category::WeChat, Category::QQ}));
  for (int i = 0; i < kCategoryCount; ++i) {
    CategorySet one{};
    ASSERT_TRUE(ParseCategoryList(CategoryCliName(static_cast<Category>(i)), one, error));
    EXPECT_TRUE(one[i]);
  }
}

}  // namespace
}  // namespace bv
