#include "export/recovery_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "catalogue/local_recovery.h"
#include "catalogue/manifest.h"
#include "export/output_paths.h"
#include "export_fixture.h"
#include "stats/usage_counters.h"

namespace bv {
namespace {

using test::CountOf;
using test::Slurp;
using test::TempDir;

const std::wstring kStamp = L"20210304050607";

std::wstring W(const fs::path& p) {
  return platform::WideFromPath(p);
}

// Every regular file below `root` with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = Slurp(e.path());
  return files;
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
  std::wstring Stored(const std::string& id, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + id.size()) & 0xff);
    bytes.replace(0, std::min(id.size(), size), id.substr(0, std::min(id.size(), size)));
    test::WriteFile(backup / id.substr(0, 2) / id, bytes);
    return W(backup / id.substr(0, 2) / id);
  }

  MediaItem Media(const std::string& id, std::wstring name, std::size_t size = 5000) {
    MediaItem m;
    m.path = Stored(id, size);
    m.name = std::move(name);
    m.size = static_cast<std::uint32_t>(size);
    return m;
  }

  void AddMessages() {
    MessageRecord a;
    a.handleId = 1;
    a.sender = L"+15550001";
    a.name = L"";
    a.text = L"<script>alert(1)</script>\nline two";
    a.date = L"2021-01-01 10:00:00";
    MessageRecord b = a;
    b.isFromMe = 1;
    b.text = L"reply";
    b.date = L"2021-01-01 10:01:00";
    b.deleted = 1;
    stores.conversations[1] = {a, b};
    MessageRecord c;
    c.handleId = 2;
    c.sender = L"bob@example.com";
    c.name = L"../../Bob";
    c.text = L"hi";
    c.date = L"2021-01-02 10:00:00";
    stores.conversations[2] = {c};
    stores.conversationList = BuildConversationList(stores.conversations);
    stats.AddConversations(stores.conversationList);
  }

  void AddChats() {
    WhatsAppMessageRecord g;
    g.sessionId = 7;
    g.chatTitle = L"Ann, Bob, Cy";
    g.chatPartner = L"Family";
    g.chatJids = L"123@g.us";
    g.senderName = L"Ann";
    g.pushName = L"ann";
    g.text = L"group, hello";
    g.date = L"2021-02-02 00:00:00";
    WhatsAppMessageRecord d;
    d.sessionId = 8;
    d.chatTitle = L"Dee";
    d.chatJids = L"4477@s.whatsapp.net";
    d.isFromMe = 1;
    d.text = L"yo";
    d.date = L"2021-02-03 00:00:00";
    stores.chats[7] = {g};
    stores.chats[8] = {d};
    stores.chatList = BuildChatList(stores.chats);
    stats.AddChats(stores.chatList);
  }

  void AddContacts(int n) {
    for (int i = 0; i < n; ++i) {
      ContactRecord c;
      c.name = L"Person " + std::to_wstring(i);
      c.phone = L"+1 555000" + std::to_wstring(i) + L"\n+1 666";
      c.deleted = i == 0 ? 1 : 0;
      stores.contacts.push_back(c);
    }
    stats.AddContacts(stores.contacts);
  }

  std::unique_ptr<CRecoverJob> MakeJob() {
    auto job = std::make_unique<CRecoverJob>(stores, stats, &source, L"Ann's iPhone", W(out));
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
  stores.cameraRoll = {Media("aa01", L"IMG_0001.JPG"), Media("bb02", L"IMG_0001.JPG", 70000)};
  stores.photoStream = {Media("cc03", L"a/b.PNG"), Media("cc04", L"empty.png", 0)};
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
            Slurp(platform::PathFromWide(stores.cameraRoll.front().path)));
  EXPECT_EQ(Slurp(cam / "IMG_0001(1).JPG"),
            Slurp(platform::PathFromWide(stores.cameraRoll.back().path)));
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
  p.app = L"com.example.cam";
  p.name = L"p.jpg";
  p.path = Stored("dd04", 100);
  AppMediaItem v = p;
  v.name = L"v.mov";
  v.app = L"..";
  v.path = Stored("ee05", 100);
  AppMediaSplit split;
  split.photos[p.app] = {p};
  split.videos[v.app] = {v};
  stats.AddAppMedia(Category::AppPhotos, split.photos);
  stats.AddAppMedia(Category::AppVideos, split.videos);
  AttachmentItem a;
  a.name = L"doc.pdf";
  a.path = Stored("ff06", 10);
  stores.messageAttachments = {a};
  stats.AddAttachments(stores.messageAttachments);
  stores.whatsAppAttachments = {Media("ab07", L"w.opus", 10)};
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
    EXPECT_EQ(l.path.substr(l.path.size() - 5), L".html");
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
  call.name = L"A & B";
  stores.calls = {call};
  stats.AddCalls(stores.calls);
  NoteRecord note;
  note.title = L"T";
  note.body = L"b";
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
  stores.cameraRoll = {Media("aa01", L"ok1.jpg"), Media("bb02", L"gone.jpg"),
                       Media("cc03", L"ok2.jpg")};
  fs::remove(platform::PathFromWide(std::next(stores.cameraRoll.begin())->path));
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
  EXPECT_EQ(details[2].result,
            "The parameter is incorrect.");  // the missing stored file
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
        Media("f" + std::to_string(100 + i), L"IMG_" + std::to_wstring(i) + L".JPG", 300000));
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
    sources[test::Utf8(m.name)] = Slurp(platform::PathFromWide(m.path));
  int files = 0;
  for (const auto& e : fs::directory_iterator(out / "Camera Roll")) {
    ++files;
    EXPECT_EQ(Slurp(e.path()), sources[e.path().filename().string()]) << e.path();
  }
  EXPECT_EQ(files, done);
  // Contacts came after the media and were never reached.
  EXPECT_FALSE(fs::exists(out / "Contacts"));
}

}  // namespace
}  // namespace bv
