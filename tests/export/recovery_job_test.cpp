#include "export/recovery_job.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

#include "catalogue/heif_picture.h"
#include "catalogue/local_recovery.h"
#include "catalogue/manifest.h"
#include "export/output_paths.h"
#include "export_fixture.h"
#include "scratch_mount.h"
#include "mkbackup.h"
#include "stats/usage_counters.h"
#include "vcard_parser.h"

namespace bv {
namespace {

using test::CountOf;
using test::Slurp;
using test::TempDir;

const std::string kStamp = "20210304050607";

std::string W(const fs::path& p) {
  return platform::Utf8FromPath(p);
}

// Every regular file below `root` with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = Slurp(e.path());
  return files;
}

// Files below `root` whose names are not final ones: what a write cut short would
// leave.
std::vector<fs::path> Leftovers(const fs::path& root) {
  std::vector<fs::path> found;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name.find(".part") != std::string::npos || name.find("backvault") != std::string::npos)
      found.push_back(e.path());
  }
  return found;
}

fs::path U8(const char* utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8)));
}

struct RecordingView : IRecoveryView {
  std::mutex lock;
  std::vector<DetailLine> lines;
  std::vector<RecoveryProgress> progress;
  std::atomic<int> lineCount{0};
  void OnDetailLine(const DetailLine& line) noexcept override {
    std::lock_guard<std::mutex> h(lock);
    lines.push_back(line);
    ++lineCount;
  }
  void OnProgress(const RecoveryProgress& p) noexcept override {
    std::lock_guard<std::mutex> h(lock);
    progress.push_back(p);
  }
};

// A backup folder with the two databases that the final step copies, some
// stored media files, and the stores and selection of a finished scan over
// them.
class RecoveryJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backup = dir / "backup";
    out = dir / "out";
    fs::create_directories(out);
    catalog.backupFolder = W(backup);
    catalog.hasManifestDb = true;
    source.Attach(&catalog);
    test::WriteFile(backup / "3d" / kMessagesDbId, "SQLite sms");
    test::WriteFile(backup / "31" / kAddressBookDbId, "SQLite ab");
  }

  // A stored file of `size` bytes with a recognisable pattern.
  std::string Stored(const std::string& id, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + id.size()) & 0xff);
    bytes.replace(0, std::min(id.size(), size), id.substr(0, std::min(id.size(), size)));
    test::WriteFile(backup / id.substr(0, 2) / id, bytes);
    return W(backup / id.substr(0, 2) / id);
  }

  MediaItem Media(const std::string& id, std::string name, std::size_t size = 5000) {
    MediaItem m;
    m.path = Stored(id, size);
    m.name = std::move(name);
    m.size = static_cast<std::uint32_t>(size);
    return m;
  }

  void AddMessages() {
    MessageRecord a;
    a.handleId = 1;
    a.sender = "+15550001";
    a.name = "";
    a.text = "<script>alert(1)</script>\nline two";
    a.date = "2021-01-01 10:00:00";
    MessageRecord b = a;
    b.isFromMe = 1;
    b.text = "reply";
    b.date = "2021-01-01 10:01:00";
    b.deleted = 1;
    stores.conversations[1] = {a, b};
    MessageRecord c;
    c.handleId = 2;
    c.sender = "bob@example.com";
    c.name = "../../Bob";
    c.text = "hi";
    c.date = "2021-01-02 10:00:00";
    stores.conversations[2] = {c};
    stores.conversationList = BuildConversationList(stores.conversations);
    stats.AddConversations(stores.conversationList);
  }

  void AddChats() {
    WhatsAppMessageRecord g;
    g.sessionId = 7;
    g.chat = std::make_shared<const WhatsAppChatInfo>(
        WhatsAppChatInfo{"Ann, Bob, Cy", "123@g.us", "Family"});
    g.senderName = "Ann";
    g.pushName = "ann";
    g.text = "group, hello";
    g.date = "2021-02-02 00:00:00";
    WhatsAppMessageRecord d;
    d.sessionId = 8;
    d.chat = std::make_shared<const WhatsAppChatInfo>(
        WhatsAppChatInfo{"Dee", "4477@s.whatsapp.net", ""});
    d.isFromMe = 1;
    d.text = "yo";
    d.date = "2021-02-03 00:00:00";
    stores.chats[7] = {g};
    stores.chats[8] = {d};
    stores.chatList = BuildChatList(stores.chats);
    stats.AddChats(stores.chatList);
  }

  void AddContacts(int n) {
    for (int i = 0; i < n; ++i) {
      ContactRecord c;
      c.name = "Person " + std::to_string(i);
      c.phone = "+1 555000" + std::to_string(i) + "\n+1 666";
      c.deleted = i == 0 ? 1 : 0;
      stores.contacts.push_back(c);
    }
    stats.AddContacts(stores.contacts);
  }

  std::unique_ptr<CRecoverJob> MakeJob() {
    auto job = std::make_unique<CRecoverJob>(stores, stats, &source, "Ann's iPhone", W(out));
    job->SetTemplateFolder(test::SourceTemplates());
    job->SetJobStamp(kStamp);
    job->SetView(&view);
    return job;
  }

  TempDir dir;
  fs::path backup, out;
  BackupCatalog catalog;
  CLocalBuckupRecovery source;
  ScanStores stores;
  CStatisticsObj stats;
  RecordingView view;
};

TEST_F(RecoveryJobTest, MediaCopiesAreNumberedWithinAndAcrossJobs) {
  stores.cameraRoll = {Media("aa01", "IMG_0001.JPG"), Media("bb02", "IMG_0001.JPG", 70000)};
  stores.photoStream = {Media("cc03", "a/b.PNG"), Media("cc04", "empty.png", 0)};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  stats.AddMedia(Category::PhotoStream, stores.photoStream);
  const auto before = Snapshot(backup);

  for (int run = 0; run < 2; ++run) {
    auto job = MakeJob();
    ASSERT_EQ(job->Run(), 0);
    // The empty file is copied and counted like the others.
    EXPECT_EQ(job->DoneCount(), 4);
    EXPECT_EQ(job->FailedCount(), 0);
    EXPECT_EQ(job->TotalCount(), 4);
    EXPECT_TRUE(job->Finished());
  }
  const fs::path cam = out / "Camera Roll";
  EXPECT_EQ(Slurp(cam / "IMG_0001.JPG"),
            Slurp(platform::PathFromUtf8(stores.cameraRoll.front().path)));
  EXPECT_EQ(Slurp(cam / "IMG_0001(1).JPG"),
            Slurp(platform::PathFromUtf8(stores.cameraRoll.back().path)));
  EXPECT_EQ(Slurp(cam / "IMG_0001(2).JPG"), Slurp(cam / "IMG_0001.JPG"));
  EXPECT_EQ(Slurp(cam / "IMG_0001(3).JPG"), Slurp(cam / "IMG_0001(1).JPG"));
  // A separator in a name never makes a folder.
  EXPECT_TRUE(fs::is_regular_file(out / "Photo Stream" / "a_b.PNG"));
  EXPECT_TRUE(fs::is_regular_file(out / "Photo Stream" / "a_b(1).PNG"));
  EXPECT_EQ(fs::file_size(out / "Photo Stream" / "empty(1).png"), 0u);
  // The backup is read, never written.
  EXPECT_EQ(Snapshot(backup), before);
}

TEST_F(RecoveryJobTest, AppMediaGoesIntoAppFoldersAndAttachmentsIntoTheirs) {
  AppMediaItem p;
  p.app = "com.example.cam";
  p.name = "p.jpg";
  p.path = Stored("dd04", 100);
  AppMediaItem v = p;
  v.name = "v.mov";
  v.app = "..";
  v.path = Stored("ee05", 100);
  AppMediaSplit split;
  split.photos[p.app] = {p};
  split.videos[v.app] = {v};
  stats.AddAppMedia(Category::AppPhotos, split.photos);
  stats.AddAppMedia(Category::AppVideos, split.videos);
  AttachmentItem a;
  a.name = "doc.pdf";
  a.path = Stored("ff06", 10);
  stores.messageAttachments = {a};
  stats.AddAttachments(stores.messageAttachments);
  stores.whatsAppAttachments = {Media("ab07", "w.opus", 10)};
  stats.AddMedia(Category::WhatsAppAttachments, stores.whatsAppAttachments);

  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  EXPECT_TRUE(fs::is_regular_file(out / "App Photos" / "com.example.cam" / "p.jpg"));
  EXPECT_TRUE(fs::is_regular_file(out / "App Video" / "__" / "v.mov"));
  EXPECT_TRUE(fs::is_regular_file(out / "Message Attachments" / "doc.pdf"));
  EXPECT_TRUE(fs::is_regular_file(out / "WhatsApp Attachments" / "w.opus"));
  EXPECT_EQ(job->DoneCount(), 4);
}

TEST_F(RecoveryJobTest, ConversationsChatsAndTheMessageDatabase) {
  AddMessages();
  AddChats();
  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);

  // No address-book name: "Unknown" folder, "Unknown(number)" files.
  const fs::path unknown = out / "Message" / ("Unknown-" + test::Utf8(kStamp));
  const std::string txt = Slurp(unknown / "Unknown(+15550001).txt");
  EXPECT_EQ(txt.rfind("\xEF\xBB\xBF      From: +15550001\r\n      Data: "
                      "2021-01-01 10:00:00\r\n",
                      0),
            0u);
  const std::string html = Slurp(unknown / "Unknown(+15550001).html");
  EXPECT_NE(html.find("iPhone&#39;s Messages of Ann&#39;s iPhone"), std::string::npos);
  EXPECT_NE(html.find("Name: , Phone: +15550001"), std::string::npos);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;<br>line two"), std::string::npos);
  EXPECT_NE(html.find("<div class=\"del_send_msg\">reply</div>"), std::string::npos);

  // A name with separators stays one folder below Message.
  const fs::path bob = out / "Message" / (".._.._Bob-" + test::Utf8(kStamp));
  EXPECT_TRUE(fs::is_regular_file(bob / ".._.._Bob(bob@example.com).html"));
  for (const auto& e : fs::recursive_directory_iterator(dir.path()))
    EXPECT_TRUE(IsInside(backup, e.path()) || IsInside(out, e.path())) << e.path();

  // A group chat is labelled by its partner; CSV keeps the comma inside one
  // column.
  const fs::path family = out / "WhatsApp Message" / ("Family-" + test::Utf8(kStamp));
  EXPECT_EQ(Slurp(family / "Family.csv"),
            "\xEF\xBB\xBF"
            "Chats,Name/Phone,Date,Type,Content\r\nAnn,ann,2021-02-02 "
            "00:00:00,Received,"
            "\"group, hello\"\r\n");
  EXPECT_TRUE(fs::is_regular_file(family / "Family.txt"));
  const fs::path dee =
      out / "WhatsApp Message" / ("Dee(4477@s.whatsapp.net)-" + test::Utf8(kStamp));
  EXPECT_NE(Slurp(dee / "Dee(4477@s.whatsapp.net).html").find("<div class=\"send_msg\">yo</div>"),
            std::string::npos);

  EXPECT_EQ(Slurp(out / "Message" / "sms.sqlite"), Slurp(backup / "3d" / kMessagesDbId));
  EXPECT_EQ(job->DoneCount(), 4);
  EXPECT_EQ(job->TotalCount(), 4);
  // Each conversation's HTML is one "Success" line; text and CSV files make
  // none.
  EXPECT_EQ(view.lines.size(), 4u);
  for (const DetailLine& l : view.lines) {
    EXPECT_EQ(l.result, "Success");
    EXPECT_EQ(l.path.substr(l.path.size() - 5), ".html");
  }

  // The same conversations again: the folders are shared per stamp, the files
  // numbered.
  auto again = MakeJob();
  ASSERT_EQ(again->Run(), 0);
  EXPECT_TRUE(fs::is_regular_file(unknown / "Unknown(+15550001)(1).txt"));
  EXPECT_TRUE(fs::is_regular_file(family / "Family(1).html"));
}

TEST_F(RecoveryJobTest, CollectedDocumentsContactsCsvAndDeletedFilter) {
  AddContacts(10);
  CallRecord call;
  call.answered = 1;
  call.name = "A & B";
  stores.calls = {call};
  stats.AddCalls(stores.calls);
  NoteRecord note;
  note.title = "T";
  note.body = "b";
  stores.notes = {note};
  stats.AddNotes(stores.notes);

  const std::uint32_t before = stats::Usage().Count(stats::ExportCode(7));
  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  EXPECT_EQ(stats::Usage().Count(stats::ExportCode(7)), before + 10);

  const fs::path contacts = out / "Contacts" / test::Utf8(kStamp);
  const std::string doc = Slurp(contacts / "Contacts.html");
  EXPECT_EQ(CountOf(doc, "\t<tr>"), 10u);
  EXPECT_NE(doc.find("+1 5550000<br />+1 666"), std::string::npos);
  EXPECT_EQ(Slurp(contacts / "Contacts.sqlite"), Slurp(backup / "31" / kAddressBookDbId));
  const std::string csv = Slurp(contacts / "Contacts.csv");
  EXPECT_EQ(csv.rfind("\xEF\xBB\xBFName,PhoneOne,", 0), 0u);
  EXPECT_EQ(CountOf(csv, "\r\n"), 11u);
  EXPECT_NE(csv.find("Person 3,+1 5550003,+1 666,,,,,,,,,,, ,,,,\r\n"), std::string::npos);
  // The same contacts as cards, one per contact, each number its own TEL.
  const auto cards = test::ParseVCards(Slurp(contacts / "Contacts.vcf"));
  ASSERT_EQ(cards.size(), 10u);
  EXPECT_EQ(cards[3].One("FN"), "Person 3");
  ASSERT_EQ(cards[3].All("TEL").size(), 2u);
  EXPECT_EQ(cards[3].All("TEL")[0]->components[0], "+1 5550003");

  int contactLines = 0;
  for (const DetailLine& l : view.lines)
    if (l.path == W(contacts / "Contacts.html")) ++contactLines;
  EXPECT_EQ(contactLines, 10);
  const std::string calls =
      Slurp(out / "CallHistory" / ("CallHistory_" + test::Utf8(kStamp) + ".html"));
  EXPECT_NE(calls.find("<td>A &amp; "
                       "B</td><td></td><td></td><td>Incoming</td><td>Missed</td>"),
            std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(out / "Notes" / ("Notes_" + test::Utf8(kStamp) + ".html")));

  // With the filter on, only ticked deleted contacts are exported and counted.
  fs::remove_all(out);
  fs::create_directories(out);
  ASSERT_TRUE(stats.SetDeletedOnly(stats.CategoryNode(Category::Contacts), true));
  stats.SetNodeTicked(stats.CategoryNode(Category::CallHistory), false);
  stats.SetNodeTicked(stats.CategoryNode(Category::Notes), false);
  stats.RecomputeRoot();
  auto filtered = MakeJob();
  ASSERT_EQ(filtered->Run(), 0);
  EXPECT_EQ(filtered->TotalCount(), 1);
  EXPECT_EQ(filtered->DoneCount(), 1);
  EXPECT_EQ(CountOf(Slurp(contacts / "Contacts.html"), "\t<tr>"), 1u);
  EXPECT_FALSE(fs::exists(out / "CallHistory"));
  EXPECT_FALSE(fs::exists(out / "Message" / "sms.sqlite"));
}

TEST_F(RecoveryJobTest, FailuresComeFirstWithTheSystemText) {
  stores.cameraRoll = {Media("aa01", "ok1.jpg"), Media("bb02", "gone.jpg"),
                       Media("cc03", "ok2.jpg")};
  fs::remove(platform::PathFromUtf8(std::next(stores.cameraRoll.begin())->path));
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AddMessages();
  // The conversation folder cannot be made: a file holds its name.
  test::WriteFile(out / "Message", "not a folder");

  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  EXPECT_EQ(job->DoneCount(), 5);
  EXPECT_EQ(job->FailedCount(), 3);
  const auto details = job->Details();
  ASSERT_EQ(details.size(), 5u);
  for (int i = 0; i < 3; ++i) EXPECT_NE(details[i].error, 0) << i;
  EXPECT_EQ(details[3].result, "Success");
  EXPECT_EQ(details[4].result, "Success");
  // The latest failure is on top; every failure carries a readable text.
  EXPECT_EQ(details[0].result, platform::ErrorText(details[0].error));
  // The missing stored file reads as what it is.
  EXPECT_EQ(details[2].result, platform::ErrorText(ENOENT));
  EXPECT_EQ(details[2].path, W(out / "Camera Roll" / "gone.jpg"));
  ASSERT_FALSE(view.progress.empty());
  const RecoveryProgress& last = view.progress.back();
  EXPECT_EQ(last.doneCount, 5);
  EXPECT_EQ(last.failedCount, 3);
  EXPECT_EQ(last.succeededCount, 2);
  EXPECT_EQ(last.totalCount, 5);
}

TEST_F(RecoveryJobTest, MissingTemplateExportsNothing) {
  AddContacts(2);
  auto job = MakeJob();
  job->SetTemplateFolder(dir / "no-templates");
  EXPECT_EQ(job->LoadTemplates(), ENOENT);
  EXPECT_FALSE(job->Start());
  EXPECT_EQ(job->Run(), ENOENT);
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(RecoveryJobTest, CancelHalfwayKeepsFinishedFilesWholeAndRunsTheFinalStep) {
  for (int i = 0; i < 40; ++i)
    stores.cameraRoll.push_back(
        Media("f" + std::to_string(100 + i), "IMG_" + std::to_string(i) + ".JPG", 300000));
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AddContacts(3);
  auto job = MakeJob();
  ASSERT_EQ(job->LoadTemplates(), 0);
  ASSERT_TRUE(job->Start());
  while (view.lineCount.load() < 5 && !job->Finished()) std::this_thread::yield();
  job->BeginCancel();  // the worker now waits at its next report
  job->ConfirmCancel();
  EXPECT_TRUE(job->Finished());
  job->Wait();

  const int done = job->DoneCount();
  EXPECT_GE(done, 5);
  EXPECT_LT(done, 40);
  // Every file in the output is a whole copy; nothing cut short is left.
  std::map<std::string, std::string> sources;
  for (const MediaItem& m : stores.cameraRoll)
    sources[test::Utf8(m.name)] = Slurp(platform::PathFromUtf8(m.path));
  int files = 0;
  for (const auto& e : fs::directory_iterator(out / "Camera Roll")) {
    ++files;
    EXPECT_EQ(Slurp(e.path()), sources[e.path().filename().string()]) << e.path();
  }
  EXPECT_EQ(files, done);
  EXPECT_EQ(job->FailedCount(), 0);
  EXPECT_TRUE(Leftovers(out).empty());
  // Contacts came after the media and were never reached.
  EXPECT_FALSE(fs::exists(out / "Contacts"));
}

// A group chat is one conversation: its files go by the chat's label, its document shows
// every member's messages under their own names and the owner's as "Me".
TEST_F(RecoveryJobTest, AGroupConversationIsOneDocumentWithASenderPerMessage) {
  auto chat = std::make_shared<MessageChatInfo>();
  chat->chatId = 4;
  chat->key = -1;
  chat->isGroup = true;
  chat->label = "Anna, +15550002, bob@example.com";
  chat->members = {"+15550001", "+15550002", "bob@example.com"};
  chat->memberNames = {"Anna", "", ""};
  MessageRecord anna;
  anna.handleId = 1;
  anna.sender = "+15550001";
  anna.name = "Anna";
  anna.text = "who brings cake?";
  anna.date = "2021-03-01 09:00:00";
  anna.chat = chat;
  MessageRecord stranger = anna;
  stranger.handleId = 2;
  stranger.sender = "+15550002";
  stranger.name = "";
  stranger.text = "not me";
  stranger.date = "2021-03-01 09:05:00";
  MessageRecord mine = anna;
  mine.handleId = 0;
  mine.isFromMe = 1;
  mine.sender = "";
  mine.name = "";
  mine.text = "I do";
  mine.date = "2021-03-01 09:10:00";
  stores.conversations[-1] = {anna, stranger, mine};
  stores.conversationList = BuildConversationList(stores.conversations);
  stats.AddConversations(stores.conversationList);
  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  EXPECT_EQ(job->DoneCount(), 1);

  const std::string label = "Anna, +15550002, bob@example.com";
  const fs::path folder = out / "Message" / (label + "-" + test::Utf8(kStamp));
  const std::string html = Slurp(folder / (label + ".html"));
  EXPECT_NE(html.find("Name: Anna, +15550002, bob@example.com, Phone: +15550001, +15550002, "
                      "bob@example.com"),
            std::string::npos);
  const std::size_t a = html.find("Anna:</div>\r\n<div class=\"recv_msg\">who brings cake?");
  const std::size_t b = html.find("+15550002:</div>\r\n<div class=\"recv_msg\">not me");
  const std::size_t c = html.find("Me:</div>\r\n<div class=\"send_msg\">I do");
  ASSERT_NE(a, std::string::npos) << html;
  ASSERT_NE(b, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  const std::string txt = Slurp(folder / (label + ".txt"));
  EXPECT_NE(txt.find("From: Anna(+15550001)"), std::string::npos) << txt;
  EXPECT_NE(txt.find("From: +15550002"), std::string::npos);
  EXPECT_NE(txt.find("To: "), std::string::npos);
}

// Names with non-ASCII characters that clash, within one job and with an earlier one,
// in the "C" locale this test runs in: numbered like any other, nothing aborts.
TEST_F(RecoveryJobTest, NonAsciiNamesThatClashAreNumbered) {
  stores.cameraRoll = {Media("aa01", "\u00c9mil.jpg"), Media("bb02", "\u00c9mil.jpg", 9000)};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  // The same person and number on two services: two conversations, one name.
  MessageRecord sms;
  sms.handleId = 1;
  sms.sender = "+15550001";
  sms.name = "\u00c9mil";
  sms.text = "salut";
  sms.date = "2021-01-01 10:00:00";
  MessageRecord imessage = sms;
  imessage.handleId = 2;
  imessage.text = "\u00e7a va";
  stores.conversations[1] = {sms};
  stores.conversations[2] = {imessage};
  stores.conversationList = BuildConversationList(stores.conversations);
  stats.AddConversations(stores.conversationList);
  // One group, two chat files.
  WhatsAppMessageRecord first;
  first.sessionId = 7;
  first.chat = std::make_shared<const WhatsAppChatInfo>(
      WhatsAppChatInfo{"Ann, Bob", "1@g.us", "Team Alpha \U0001F680"});
  first.senderName = "Ann";
  first.text = "launch";
  first.date = "2021-02-02 00:00:00";
  WhatsAppMessageRecord second = first;
  second.sessionId = 8;
  second.chat = std::make_shared<const WhatsAppChatInfo>(
      WhatsAppChatInfo{"Ann, Bob", "2@g.us", "Team Alpha \U0001F680"});
  second.text = "landed";
  stores.chats[7] = {first};
  stores.chats[8] = {second};
  stores.chatList = BuildChatList(stores.chats);
  stats.AddChats(stores.chatList);

  for (int run = 0; run < 2; ++run) {
    auto job = MakeJob();
    ASSERT_EQ(job->Run(), 0);
    EXPECT_EQ(job->DoneCount(), 6);
    EXPECT_EQ(job->FailedCount(), 0);
  }
  const fs::path cam = out / "Camera Roll";
  EXPECT_EQ(Slurp(cam / U8("\xC3\x89mil.jpg")),
            Slurp(platform::PathFromUtf8(stores.cameraRoll.front().path)));
  EXPECT_EQ(Slurp(cam / U8("\xC3\x89mil(1).jpg")),
            Slurp(platform::PathFromUtf8(stores.cameraRoll.back().path)));
  EXPECT_EQ(Slurp(cam / U8("\xC3\x89mil(3).jpg")), Slurp(cam / U8("\xC3\x89mil(1).jpg")));

  const fs::path conv = out / "Message" / U8("\xC3\x89mil-20210304050607");
  for (const char* n : {"", "(1)", "(2)", "(3)"}) {
    const std::string base = std::string("\xC3\x89mil(+15550001)") + n;
    EXPECT_TRUE(fs::is_regular_file(conv / U8((base + ".txt").c_str()))) << base;
    EXPECT_TRUE(fs::is_regular_file(conv / U8((base + ".html").c_str()))) << base;
  }
  EXPECT_NE(Slurp(conv / U8("\xC3\x89mil(+15550001)(1).html"))
                .find("\xC3\xA7"
                      "a va"),
            std::string::npos);

  const fs::path group =
      out / "WhatsApp Message" / U8("Team Alpha \xF0\x9F\x9A\x80-20210304050607");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(group)) ++files;
  EXPECT_EQ(files, 12u);  // four chat files of three kinds
  EXPECT_NE(Slurp(group / U8("Team Alpha \xF0\x9F\x9A\x80(1).csv")).find("landed"),
            std::string::npos);
}

// A data source that fails by throwing, for some files.
class ThrowingSource : public CLocalBuckupRecovery {
 public:
  std::int32_t CopyBackupFile(const std::string& source, const std::string& destination,
                              CopyCallback callback, void* user) override {
    if (source.find("boom") != std::string::npos) throw std::runtime_error("simulated fault");
    if (source.find("oom") != std::string::npos) throw std::bad_alloc();
    return CLocalBuckupRecovery::CopyBackupFile(source, destination, callback, user);
  }
};

TEST_F(RecoveryJobTest, AnExceptionInsideAnItemFailsOnlyThatItem) {
  ThrowingSource throwing;
  throwing.Attach(&catalog);
  stores.cameraRoll = {Media("aa01", "ok.jpg"), Media("boom", "bad.jpg"), Media("xoom", "big.jpg"),
                       Media("cc03", "ok2.jpg")};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AddContacts(2);
  CRecoverJob job(stores, stats, &throwing, "Phone", W(out));
  job.SetTemplateFolder(test::SourceTemplates());
  job.SetJobStamp(kStamp);
  ASSERT_EQ(job.LoadTemplates(), 0);
  // On its own thread, as the window runs it: nothing may leave the worker.
  ASSERT_TRUE(job.Start());
  job.Wait();
  EXPECT_TRUE(job.Finished());
  EXPECT_EQ(job.TotalCount(), 6);
  EXPECT_EQ(job.DoneCount(), 6);
  EXPECT_EQ(job.FailedCount(), 2);
  std::set<std::string> reasons;
  for (const DetailLine& l : job.Details())
    if (l.error != 0) reasons.insert(test::Utf8(l.path) + ": " + l.result);
  EXPECT_EQ(
      reasons,
      (std::set<std::string>{
          (out / "Camera Roll" / "bad.jpg").string() + ": unexpected failure: simulated fault",
          (out / "Camera Roll" / "big.jpg").string() + ": " + platform::ErrorText(ENOMEM)}));
  EXPECT_TRUE(fs::is_regular_file(out / "Camera Roll" / "ok2.jpg"));
  EXPECT_FALSE(fs::exists(out / "Camera Roll" / "bad.jpg"));
  EXPECT_EQ(CountOf(Slurp(out / "Contacts" / "20210304050607" / "Contacts.html"), "\t<tr>"), 2u);
  EXPECT_TRUE(Leftovers(out).empty());
}

// Two jobs into one folder within one second share the stamp: the second job's
// documents are numbered, the first job's stay as they were.
TEST_F(RecoveryJobTest, DocumentsOfTwoJobsInOneSecondAreBothKept) {
  AddContacts(3);
  CallRecord call;
  call.name = "Ann";
  stores.calls = {call};
  stats.AddCalls(stores.calls);
  NoteRecord note;
  note.title = "T";
  stores.notes = {note};
  stats.AddNotes(stores.notes);
  AddMessages();

  auto first = MakeJob();
  ASSERT_EQ(first->Run(), 0);
  const auto before = Snapshot(out);
  auto second = MakeJob();
  ASSERT_EQ(second->Run(), 0);
  EXPECT_EQ(second->DoneCount(), second->TotalCount());
  EXPECT_EQ(second->FailedCount(), 0);
  const auto after = Snapshot(out);
  // Nothing the first job wrote was touched.
  for (const auto& [name, bytes] : before) {
    ASSERT_TRUE(after.count(name)) << name;
    EXPECT_EQ(after.at(name), bytes) << name;
  }
  const fs::path contacts = out / "Contacts" / "20210304050607";
  for (const char* name :
       {"Contacts(1).html", "Contacts(1).csv", "Contacts(1).vcf", "Contacts(1).sqlite"})
    EXPECT_TRUE(fs::is_regular_file(contacts / name)) << name;
  EXPECT_EQ(CountOf(Slurp(contacts / "Contacts(1).html"), "\t<tr>"), 3u);
  EXPECT_TRUE(fs::is_regular_file(out / "CallHistory" / "CallHistory_20210304050607(1).html"));
  EXPECT_TRUE(fs::is_regular_file(out / "Notes" / "Notes_20210304050607(1).html"));
  EXPECT_TRUE(fs::is_regular_file(out / "Message" / "sms(1).sqlite"));
  // The second job's lines name the documents it wrote.
  int numbered = 0;
  for (const DetailLine& l : second->Details())
    numbered += l.path.find("(1).html") != std::string::npos;
  EXPECT_EQ(numbered, second->DoneCount());
}

// Links already inside the output folder never lead a write outside it.
TEST_F(RecoveryJobTest, LinksInsideTheOutputFolderAreNeverFollowed) {
  const fs::path outside = dir / "outside";
  for (const char* d : {"cam", "msg", "stamp", "notes"}) fs::create_directories(outside / d);
  test::WriteFile(outside / "victim.png", "victim");
  fs::create_directory_symlink(outside / "cam", out / "Camera Roll");
  fs::create_directory_symlink(outside / "msg", out / "Message");
  fs::create_directories(out / "Contacts");
  fs::create_directory_symlink(outside / "stamp", out / "Contacts" / "20210304050607");
  fs::create_directory_symlink(outside / "notes", out / "Notes");
  fs::create_directories(out / "Photo Stream");
  fs::create_symlink(outside / "victim.png", out / "Photo Stream" / "a.png");

  stores.cameraRoll = {Media("aa01", "IMG_0001.JPG")};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  stores.photoStream = {Media("bb02", "a.png")};
  stats.AddMedia(Category::PhotoStream, stores.photoStream);
  AddMessages();
  AddContacts(2);
  NoteRecord note;
  stores.notes = {note};
  stats.AddNotes(stores.notes);

  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  for (const char* d : {"cam", "msg", "stamp", "notes"})
    EXPECT_TRUE(fs::is_empty(outside / d)) << d;
  EXPECT_EQ(Slurp(outside / "victim.png"), "victim");
  // The file beside the planted link is written under a free name.
  EXPECT_EQ(Slurp(out / "Photo Stream" / "a(1).png"),
            Slurp(platform::PathFromUtf8(stores.photoStream.front().path)));
  // Photo, two conversations, two contacts and the note failed, and say why.
  EXPECT_EQ(job->DoneCount(), 7);
  EXPECT_EQ(job->FailedCount(), 6);
  for (const DetailLine& l : job->Details()) {
    if (l.error != 0) {
      EXPECT_NE(l.result.find("symbolic link"), std::string::npos) << l.result;
    }
  }
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    if (!e.is_symlink() && e.is_regular_file()) {
      EXPECT_TRUE(IsInside(backup, e.path()) || IsInside(out, e.path()) ||
                  e.path() == outside / "victim.png")
          << e.path();
    }
  }
}

// Everything that a job writes, checked against what it should be: copies equal their
// stored files, every document ends with its template's end, nothing is left under a
// temporary name. Returns what is wrong, one line each.
std::string WholeOutputs(const fs::path& out, const std::map<std::string, std::string>& sources) {
  std::string problems;
  // The end of each kind of document, by the folder it is written to.
  std::map<std::string, std::string> tails;
  for (const auto& [top, file] :
       std::map<std::string, const char*>{{"Message", "Sms.html"},
                                          {"WhatsApp Message", "WhatsApp.html"},
                                          {"Contacts", "contacts.html"},
                                          {"CallHistory", "CallHistory.html"},
                                          {"Notes", "Notes.html"}}) {
    TemplateParts parts;
    LoadTemplate(parts, test::SourceTemplates() / file, "");
    tails[top] = parts.tail;
  }
  std::set<std::string> copies;
  for (const auto& [name, bytes] : sources) copies.insert(bytes);
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    const std::string bytes = Slurp(e.path());
    if (!Leftovers(e.path().parent_path()).empty())
      problems += "left under a temporary name: " + e.path().string() + "\n";
    if (e.path().extension() == ".html") {
      const std::string top = fs::relative(e.path(), out).begin()->string();
      const std::string& tail = tails[top];
      if (bytes.size() < tail.size() || !bytes.ends_with(tail))
        problems += "cut short: " + e.path().string() + "\n";
    }
    if (e.path().parent_path().filename() == "Camera Roll" && !copies.count(bytes))
      problems += "not a whole copy: " + e.path().string() + "\n";
  }
  return problems;
}

// Write failures from the kernel: a file-size limit of 64 KiB makes every write past it
// fail (EFBIG), the way a full disk does. Larger outputs are failed items with the
// system's text; nothing is left cut short.
TEST_F(RecoveryJobTest, WriteFailuresAreFailedItemsAndLeaveNoPartialFile) {
  stores.cameraRoll = {Media("aa01", "small.jpg", 3000), Media("bb02", "large.jpg", 200000)};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AddContacts(1200);  // a document well over the limit
  NoteRecord note;
  note.title = "short";
  stores.notes = {note};
  stats.AddNotes(stores.notes);
  std::map<std::string, std::string> sources;
  for (const MediaItem& m : stores.cameraRoll)
    sources[test::Utf8(m.name)] = Slurp(platform::PathFromUtf8(m.path));

  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto child = [&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto job = MakeJob();
    job->Run();
    std::string problems = WholeOutputs(out, sources);
    const std::string efbig = platform::ErrorText(EFBIG);
    int failed = 0;
    for (const DetailLine& l : job->Details())
      if (l.error != 0) {
        ++failed;
        if (l.result != efbig) problems += "failure text: " + l.result + "\n";
      }
    // The large photo and the 1200 contacts; the note and the small photo are fine.
    if (job->DoneCount() != 1203 || job->FailedCount() != 1201 || failed != 1201)
      problems += "counts: done " + std::to_string(job->DoneCount()) + ", failed " +
                  std::to_string(job->FailedCount()) + "\n";
    if (fs::exists(out / "Camera Roll" / "large.jpg")) problems += "large.jpg exists\n";
    if (fs::exists(out / "Contacts" / "20210304050607" / "Contacts.html"))
      problems += "Contacts.html exists\n";
    std::fputs(problems.c_str(), stderr);
    std::fflush(stderr);
    ::_exit(problems.empty() ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

// A full disk for real: a tmpfs of 256 KiB.
TEST_F(RecoveryJobTest, AFullDiskFailsWhatDoesNotFitAndKeepsWhatDoes) {
  test::ScratchMount disk(out, "size=262144");
  if (!disk.ok()) GTEST_SKIP() << disk.error();
  for (int i = 0; i < 12; ++i)
    stores.cameraRoll.push_back(
        Media("f" + std::to_string(100 + i), "IMG_" + std::to_string(i) + ".JPG", 40000));
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AddContacts(3);
  AddMessages();
  std::map<std::string, std::string> sources;
  for (const MediaItem& m : stores.cameraRoll)
    sources[test::Utf8(m.name)] = Slurp(platform::PathFromUtf8(m.path));

  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  EXPECT_EQ(WholeOutputs(out, sources), "");
  EXPECT_EQ(job->DoneCount(), job->TotalCount());
  EXPECT_GT(job->FailedCount(), 0);
  for (const DetailLine& l : job->Details()) {
    if (l.error != 0) {
      EXPECT_EQ(l.result, platform::ErrorText(ENOSPC)) << test::Utf8(l.path);
    }
  }
  // What is there is whole; what failed is not there under its name.
  int copies = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(out / "Camera Roll")) ++copies;
  int failedCopies = 0;
  for (const DetailLine& l : job->Details())
    failedCopies += l.error != 0 && l.path.find("Camera Roll") != std::string::npos;
  EXPECT_EQ(copies + failedCopies, 12);
  EXPECT_GT(failedCopies, 0);
}

TEST_F(RecoveryJobTest, AReadOnlyOutputFolderFailsEveryItemWithTheSystemText) {
  test::ScratchMount readOnly(out, "size=65536", true);
  if (!readOnly.ok()) GTEST_SKIP() << readOnly.error();
  stores.cameraRoll = {Media("aa01", "a.jpg")};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AddContacts(2);
  AddMessages();
  CallRecord call;
  stores.calls = {call};
  stats.AddCalls(stores.calls);

  auto job = MakeJob();
  ASSERT_EQ(job->Run(), 0);
  EXPECT_EQ(job->TotalCount(), 6);
  EXPECT_EQ(job->DoneCount(), 6);
  EXPECT_EQ(job->FailedCount(), 6);
  for (const DetailLine& l : job->Details()) EXPECT_EQ(l.result, platform::ErrorText(EROFS));
  EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
}  // namespace bv

namespace bv {
namespace {

// A HEIF picture as mkbackup writes it, made past the 512 bytes detection reads.
std::string HeifBytes(mkbackup::HeifCodec codec, unsigned variant) {
  std::string bytes = mkbackup::HeifPicture(codec, mkbackup::kHeifSampleWidth,
                                            mkbackup::kHeifSampleHeight, variant);
  const std::string filler(2000, 'f');
  const auto n = static_cast<std::uint32_t>(filler.size() + 8);
  bytes += std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8), static_cast<char>(n)} +
           "free" + filler;
  return bytes;
}

bool IsSamplePicture(const std::string& jpeg) {
  RgbPicture p;
  return DecodeJpeg(jpeg, p) == 0 && p.width == mkbackup::kHeifSampleWidth &&
         p.height == mkbackup::kHeifSampleHeight;
}

TEST_F(RecoveryJobTest, HeicJpegWritesADecodableJpegBesideEachHeifCopy) {
  const std::string heic = HeifBytes(mkbackup::HeifCodec::kHevc, 1);
  const std::string avif = HeifBytes(mkbackup::HeifCodec::kAvif, 2);
  // Detected as HEIC by its first bytes, but holding no picture.
  std::string damaged(
      "\x00\x00\x00\x14"
      "ftypheic\x00\x00\x00\x00mif1",
      20);
  damaged.resize(3000, 'x');
  auto stored = [&](const std::string& id, const std::string& bytes) {
    test::WriteFile(backup / id.substr(0, 2) / id, bytes);
    return W(backup / id.substr(0, 2) / id);
  };
  stores.cameraRoll = {MediaItem{0, "IMG_1.HEIC", stored("a1", heic)},
                       MediaItem{0, "IMG_1.JPG", Stored("a2", 3000)},
                       MediaItem{0, "IMG_2.HEIC", stored("a3", damaged)},
                       MediaItem{0, "IMG_3.JPG", Stored("a4", 3000)}};
  stats.AddMedia(Category::CameraRoll, stores.cameraRoll);
  AppMediaItem a;
  a.app = "example.camera";
  a.name = "x.AVIF";
  a.path = stored("b1", avif);
  AppMediaSplit split;
  split.photos[a.app] = {a};
  stats.AddAppMedia(Category::AppPhotos, split.photos);
  const auto before = Snapshot(backup);

  auto job = MakeJob();
  job->SetHeicJpeg(true);
  ASSERT_EQ(job->Run(), 0);
  // The JPEGs are no items: five copies, all of them fine.
  EXPECT_EQ(job->DoneCount(), 5);
  EXPECT_EQ(job->FailedCount(), 0);
  // The damaged picture's JPEG is the one failure, said in words.
  EXPECT_EQ(job->OtherFailures(), 1);
  const auto details = job->Details();
  ASSERT_FALSE(details.empty());
  EXPECT_NE(details.front().result.find("no JPEG beside the copy"), std::string::npos)
      << details.front().result;
  EXPECT_EQ(platform::PathFromUtf8(details.front().path).filename(), "IMG_2.JPG");

  const fs::path cam = out / "Camera Roll";
  // The copies are the original bytes.
  EXPECT_EQ(Slurp(cam / "IMG_1.HEIC"), heic);
  EXPECT_EQ(Slurp(cam / "IMG_2.HEIC"), damaged);
  EXPECT_EQ(Slurp(out / "App Photos" / "example.camera" / "x.AVIF"), avif);
  EXPECT_TRUE(IsSamplePicture(Slurp(out / "App Photos" / "example.camera" / "x.JPG")));
  // The picture's JPEG and the phone's own IMG_1.JPG share a name: both are kept.
  const std::string j0 = Slurp(cam / "IMG_1.JPG"), j1 = Slurp(cam / "IMG_1(1).JPG");
  const std::string own = Slurp(platform::PathFromUtf8(std::next(stores.cameraRoll.begin())->path));
  EXPECT_TRUE((j0 == own && IsSamplePicture(j1)) || (j1 == own && IsSamplePicture(j0)));
  EXPECT_FALSE(fs::exists(cam / "IMG_2.JPG"));
  EXPECT_FALSE(fs::exists(cam / "IMG_3(1).JPG"));  // no JPEG made of a JPEG
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(out)) files += e.is_regular_file();
  EXPECT_EQ(files, 7u);
  EXPECT_EQ(Snapshot(backup), before);

  // Without the option nothing but the copies is written.
  const fs::path plain = dir / "plain";
  fs::create_directories(plain);
  CRecoverJob second(stores, stats, &source, "Ann's iPhone", W(plain));
  second.SetTemplateFolder(test::SourceTemplates());
  ASSERT_EQ(second.Run(), 0);
  EXPECT_EQ(second.OtherFailures(), 0);
  std::size_t copies = 0;
  for (const auto& e : fs::recursive_directory_iterator(plain)) copies += e.is_regular_file();
  EXPECT_EQ(copies, 5u);
}

}  // namespace
}  // namespace bv
