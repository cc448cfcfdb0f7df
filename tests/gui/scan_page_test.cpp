// The scan page over a real mkbackup backup and over scripted sources: the tree and the
// lists against the backup's truth file, ticking, the deleted-only filter and the
// statistics label against the selection tree, pause, stop, closing and Home.
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "app/lang/language_store.h"
#include "app/preview_pane.h"
#include "app/qt_text.h"
#include "app/result_columns.h"
#include "app/window_messages.h"
#include "catalogue/discovery.h"
#include "catalogue/local_recovery.h"
#include "common/text.h"
#include "fake_phone.h"
#include "fake_source.h"
#include "records/bookmark_reader.h"
#include "platform/utf8.h"
#include "records/contact_reader.h"
#include "records/note_reader.h"
#include "scan/data_source_factory.h"
#include "scan_page_support.h"
#include "ui/ui_extra.h"

using namespace bv;
using namespace bv::testing;
using test::Json;

namespace {

// ---- what the truth file says each category holds ----------------------------------

// Types that the program's detection knows; smaller files have no type.
const std::set<std::string> kDetected = {"jpg", "png", "gif", "bmp",  "ico",  "mp4",
                                         "mov", "3gp", "avi", "wmv",  "rmvb", "mpeg",
                                         "mp3", "mid", "wav", "heic", "avif"};

std::string TextOf(const Json& v) {
  if (v.kind == Json::Kind::kString) return v.Str();
  if (v.kind == Json::Kind::kObject && v.Has("blob")) {
    const std::string& hex = v["blob"].Str();
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  }
  return {};
}

std::map<std::int64_t, const Json*> ByRowid(const Json& db, const std::string& table) {
  std::map<std::int64_t, const Json*> rows;
  for (const Json* r : test::LiveRows(db, table)) rows[(*r)["rowid"].Int()] = &(*r)["values"];
  return rows;
}

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

// File names of the stored files whose key holds `part` (and not `unless`) and that
// have a detectable type. Attachments and app files are named with the type's
// extension in capitals; camera roll and photo stream files keep their names.
enum class Naming { kAsStored, kByType };
constexpr auto kAsStored = Naming::kAsStored;
constexpr auto kByType = Naming::kByType;
QStringList TruthFiles(const Json& truth, const std::string& part, Naming naming,
                       const std::string& unless = {}) {
  QStringList names;
  for (const Json& f : truth["files"].items) {
    const std::string& key = f["key"].Str();
    if (key.find(part) == std::string::npos) continue;
    if (!unless.empty() && key.find(unless) != std::string::npos) continue;
    if (!kDetected.count(f["type"].Str()) || f["size"].Int() < 512) continue;
    QString name = QString::fromStdString(key.substr(key.rfind('/') + 1));
    if (naming == Naming::kByType) {
      const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
      if (dot >= 0) name.truncate(dot);
      name += QLatin1Char('.') + QString::fromStdString(f["type"].Str()).toUpper();
    }
    names << name;
  }
  return Sorted(names);
}

// WhatsApp's media: in the app's container and, for current versions, the shared one.
QStringList TruthWhatsAppFiles(const Json& truth) {
  return Sorted(TruthFiles(truth, "AppDomain-net.whatsapp.WhatsApp", kByType) +
                TruthFiles(truth,
                           "AppDomainGroup-group.net.whatsapp.WhatsApp.shared-Message/Media/",
                           kByType));
}

QStringList TruthContactNames(const Json& truth) {
  QStringList names;
  for (const auto& [rowid, v] :
       ByRowid(*test::FindDatabase(truth, "AddressBook.sqlitedb"), "ABPersonFullTextSearch")) {
    // Every person, named as the phone shows them.
    const std::string name =
        PersonName(TextOf((*v)["First"]), TextOf((*v)["Last"]), TextOf((*v)["Organization"]));
    names << QString::fromStdString(name.empty() ? "No Name" : name);
  }
  return Sorted(names);
}

// Names of the persons and titles of the notes that mkbackup deleted: what a deleted
// contact or note that the carving brings back may show.
QStringList TruthDeletedContactNames(const Json& truth) {
  QStringList names;
  for (const Json* d :
       test::DeletedRows(*test::FindDatabase(truth, "AddressBook.sqlitedb"), "ABPerson")) {
    const Json& v = (*d)["values"];
    names << QString::fromStdString(
        PersonName(TextOf(v["First"]), TextOf(v["Last"]), TextOf(v["Organization"])));
  }
  return Sorted(names);
}

QStringList TruthDeletedNoteTitles(const Json& truth) {
  QStringList titles;
  for (const Json* d :
       test::DeletedRows(*test::FindDatabase(truth, "NoteStore.sqlite"), "ZICCLOUDSYNCINGOBJECT")) {
    std::string title = ValidUtf8(TextOf((*d)["values"]["ZTITLE1"]));
    CleanNoteText(title);
    titles << ToQ(title);
  }
  return Sorted(titles);
}

// A list that shows every live record of the truth and, besides, some of its deleted ones.
void ExpectLiveAndSomeDeleted(QStringList shown, const QStringList& live,
                              const QStringList& deleted, const char* what) {
  for (const QString& l : live)
    EXPECT_TRUE(shown.removeOne(l)) << what << " live not shown: " << l.toStdString();
  EXPECT_FALSE(shown.isEmpty()) << what << ": mkbackup deletes some";
  QStringList pool = deleted;
  for (const QString& d : shown)
    EXPECT_TRUE(pool.removeOne(d)) << what << " neither live nor deleted: " << d.toStdString();
}

QStringList TruthCallNumbers(const Json& truth) {
  QStringList numbers;
  for (const auto& [rowid, v] :
       ByRowid(*test::FindDatabase(truth, "CallHistory.storedata"), "ZCALLRECORD")) {
    const std::string address = TextOf((*v)["ZADDRESS"]);
    if (!address.empty()) numbers << QString::fromStdString(address);
  }
  return Sorted(numbers);
}

// Addresses of the deleted calls and numbers of the handles of the deleted messages:
// what a deleted record that the carving brings back may show.
QStringList TruthDeletedCallNumbers(const Json& truth) {
  QStringList numbers;
  for (const Json* d :
       test::DeletedRows(*test::FindDatabase(truth, "CallHistory.storedata"), "ZCALLRECORD"))
    numbers << QString::fromStdString(TextOf((*d)["values"]["ZADDRESS"]));
  return Sorted(numbers);
}

QStringList TruthDeletedMessageNumbers(const Json& truth) {
  const Json& sms = *test::FindDatabase(truth, "sms.db");
  const auto handles = ByRowid(sms, "handle");
  QStringList numbers;
  for (const Json* d : test::DeletedRows(sms, "message"))
    if (auto h = handles.find((*d)["values"]["handle_id"].Int()); h != handles.end())
      numbers << QString::fromStdString(TextOf((*h->second)["id"]));
  return Sorted(numbers);
}

QStringList TruthNoteTitles(const Json& truth) {
  QStringList titles;
  for (const auto& [pk, v] :
       ByRowid(*test::FindDatabase(truth, "NoteStore.sqlite"), "ZICCLOUDSYNCINGOBJECT")) {
    std::string title = ValidUtf8(TextOf((*v)["ZTITLE1"]));
    if (title.empty() && TextOf((*v)["ZSNIPPET"]).empty()) continue;
    CleanNoteText(title);
    titles << ToQ(title);
  }
  return Sorted(titles);
}

// One row per conversation that has a message with text: a one-to-one chat or a message
// in no chat shows its handle's number, a group its members' numbers joined with ", ".
QStringList TruthConversationNumbers(const Json& truth) {
  const Json& sms = *test::FindDatabase(truth, "sms.db");
  const auto handles = ByRowid(sms, "handle");
  std::map<std::int64_t, std::int64_t> chatOf;  // message: its lowest chat
  for (const Json* j : test::LiveRows(sms, "chat_message_join")) {
    const Json& v = (*j)["values"];
    auto [it, fresh] = chatOf.emplace(v["message_id"].Int(), v["chat_id"].Int());
    if (!fresh) it->second = std::min(it->second, v["chat_id"].Int());
  }
  std::map<std::int64_t, std::set<std::int64_t>> members;
  for (const Json* j : test::LiveRows(sms, "chat_handle_join")) {
    const Json& v = (*j)["values"];
    if (handles.count(v["handle_id"].Int()))
      members[v["chat_id"].Int()].insert(v["handle_id"].Int());
  }
  auto number = [&](std::int64_t handle) { return TextOf((*handles.at(handle))["id"]); };
  std::set<std::int64_t> oneToOne, groups;
  for (const auto& [rowid, v] : ByRowid(sms, "message")) {
    if (TextOf((*v)["text"]).empty()) continue;
    if (auto c = chatOf.find(rowid); c != chatOf.end()) {
      const auto& m = members[c->second];
      if (m.size() == 1)
        oneToOne.insert(*m.begin());
      else
        groups.insert(c->second);
    } else if (handles.count((*v)["handle_id"].Int())) {
      oneToOne.insert((*v)["handle_id"].Int());
    }
  }
  QStringList list;  // one number may have two handles (two services)
  for (std::int64_t handle : oneToOne) list << QString::fromStdString(number(handle));
  for (std::int64_t chat : groups) {
    std::string joined;
    for (std::int64_t handle : members[chat])
      joined += (joined.empty() ? "" : ", ") + number(handle);
    list << QString::fromStdString(joined);
  }
  return Sorted(list);
}

// WhatsApp chats: sessions that have a message with text (or a media title).
int TruthChatCount(const Json& truth) {
  const Json& db = *test::FindDatabase(truth, "ChatStorage.sqlite");
  std::set<std::int64_t> titled;
  for (const auto& [pk, m] : ByRowid(db, "ZWAMEDIAITEM"))
    if (!TextOf((*m)["ZTITLE"]).empty()) titled.insert((*m)["ZMESSAGE"].Int());
  std::set<std::int64_t> sessions;
  for (const auto& [pk, v] : ByRowid(db, "ZWAMESSAGE")) {
    const std::int64_t session = (*v)["ZCHATSESSION"].Int();
    if (session == 0) continue;
    if (TextOf((*v)["ZTEXT"]).empty() && !titled.count(pk)) continue;
    sessions.insert(session);
  }
  return static_cast<int>(sessions.size());
}

// ---- helpers ---------------------------------------------------------------------

int NodeCount(ui::CTreeNodeUI* node) {
  const QString text = node->GetText();
  const qsizetype open = text.lastIndexOf(QLatin1Char('('));
  return text.mid(open + 1, text.size() - open - 2).toInt();
}

QString Label(CMainWnd& w, const char* name) {
  return w.FindControl(QString::fromLatin1(name))->GetText();
}

// A scripted source with deleted records in every filterable category.
test::FakeScript DeletedScript() {
  test::FakeScript s;
  for (int i = 0; i < 6; ++i) {
    ContactRecord c;
    c.deleted = i % 3 == 0 ? 1 : 0;  // contacts 0 and 3 are deleted
    c.name = "Person " + std::to_string(i);
    c.phone = "+1 555 010" + std::to_string(i) + "\n+1 555 999" + std::to_string(i);
    s.contacts.push_back(c);
  }
  for (int i = 0; i < 4; ++i) {
    CallRecord c;
    c.deleted = i == 1 ? 1 : 0;
    c.answered = i % 2;
    c.duration = i == 2 ? 0 : 75 * i;
    c.address = "+1 555 02" + std::to_string(i);
    c.date = "2021-01-0" + std::to_string(i + 1) + " 10:00:00";
    s.calls.push_back(c);
  }
  for (int i = 0; i < 3; ++i) {
    NoteRecord n;
    n.title = "Note " + std::to_string(i);
    n.body = "line one\nline two";
    s.notes.push_back(n);  // nothing deleted here
  }
  for (int h = 1; h <= 3; ++h) {
    MessageRecord m;
    m.handleId = h;
    m.sender = "+1 555 03" + std::to_string(h);
    m.text = "hello " + std::to_string(h);
    m.deleted = h == 2 ? 1 : 0;
    s.conversations[h].push_back(m);
  }
  MediaItem photo;
  photo.name = "IMG_0001.JPG";
  photo.size = 4096;
  s.cameraRoll.push_back(photo);
  for (const char* app : {"example.camera", "example.chat"})
    for (int i = 0; i < 2; ++i) {
      AppMediaItem a;
      a.app = ValidUtf8(app);
      a.name = "file_" + std::to_string(i) + ".JPG";
      a.size = 2048;
      s.appMedia.push_back(a);
    }
  return s;
}

// ---- tests -------------------------------------------------------------------------

TEST_F(ScanPageTest, AWholeScanShowsTheTruthInTheTreeAndTheLists) {
  CMainWnd& w = Scanned();
  CScanVrtWnd& page = w.ScanPage();
  const Json& truth = Truth();
  ASSERT_EQ(page.Session().LastResult(), kSuccess);

  // The header and the bottom bar after the end.
  EXPECT_FALSE(Control("ScanToolBar")->IsVisible());
  EXPECT_TRUE(Control("ReocveryToolBar")->IsVisible());
  EXPECT_TRUE(Control("DataListToolBar")->IsVisible());
  EXPECT_TRUE(Control("HorLayoutScan")->IsVisible());
  EXPECT_FALSE(Control("HorLayoutMain")->IsVisible());
  EXPECT_EQ(Label(w, "LblRemark"), QStringLiteral("Recover from iTunes Backup File"));
  EXPECT_TRUE(Control("BtnHome")->IsEnabled());
  EXPECT_TRUE(Control("BtnRecovery")->IsEnabled());
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  EXPECT_FALSE(dynamic_cast<ui::CGifAnimUI*>(Control("BtnGifLoading"))->IsPlaying());

  // Every chosen category has its node; those with results show their count.
  const std::map<Category, qsizetype> expected = {
      {Category::CameraRoll, TruthFiles(truth, "CameraRollDomain-Media/DCIM/", kAsStored).size()},
      {Category::PhotoStream,
       TruthFiles(truth, "MediaDomain-Media/PhotoStreamsData/", kAsStored).size()},
      {Category::MessageAttachments, TruthFiles(truth, "/Attachments/", kByType).size()},
      {Category::WhatsAppAttachments, TruthWhatsAppFiles(truth).size()},
      {Category::WhatsApp, static_cast<qsizetype>(TruthChatCount(truth))},
  };
  for (const auto& [c, n] : expected) {
    ui::CTreeNodeUI* node = page.CategoryNode(c);
    ASSERT_NE(node, nullptr) << CategoryCliName(c);
    ASSERT_GT(n, 0) << CategoryCliName(c);
    EXPECT_TRUE(node->IsVisible()) << CategoryCliName(c);
    EXPECT_EQ(NodeCount(node), n) << CategoryCliName(c);
  }
  const int appFiles = TruthFiles(truth, "AppDomain-", kByType, "net.whatsapp.WhatsApp").size();
  EXPECT_EQ(NodeCount(page.CategoryNode(Category::AppPhotos)) +
                NodeCount(page.CategoryNode(Category::AppVideos)),
            appFiles);
  // Reminders (the stores of iOS 14), calendar events and bookmarks (all but the root)
  // as the truth holds them.
  qsizetype reminders = 0, events = 0, bookmarks = 0;
  for (const Json* store : test::FindDatabases(truth, "Reminders store"))
    reminders += test::LiveRows(*store, "ZREMCDREMINDER").size();
  if (const Json* cal = test::FindDatabase(truth, "Calendar.sqlitedb"))
    for (const Json* r : test::LiveRows(*cal, "CalendarItem"))
      if ((*r)["values"]["entity_type"].Int() != 3) ++events;
  if (const Json* safari = test::FindDatabase(truth, "Bookmarks.db"))
    for (const Json* r : test::LiveRows(*safari, "bookmarks"))
      if (!(*r)["values"]["parent"].IsNull()) ++bookmarks;
  for (const auto& [c, n] : std::map<Category, qsizetype>{{Category::Reminder, reminders},
                                                          {Category::Calendar, events},
                                                          {Category::SafariBookmark, bookmarks}}) {
    ui::CTreeNodeUI* node = page.CategoryNode(c);
    ASSERT_NE(node, nullptr) << CategoryCliName(c);
    ASSERT_GT(n, 0) << CategoryCliName(c);
    EXPECT_TRUE(node->IsVisible()) << CategoryCliName(c);
    EXPECT_EQ(NodeCount(node), n) << CategoryCliName(c);
  }

  QStringList reminderTitles, eventTitles, bookmarkTitles;
  for (const Json* store : test::FindDatabases(truth, "Reminders store"))
    for (const Json* r : test::LiveRows(*store, "ZREMCDREMINDER"))
      reminderTitles << OneLine(ToQ(TextOf((*r)["values"]["ZTITLE"])));
  if (const Json* cal = test::FindDatabase(truth, "Calendar.sqlitedb"))
    for (const Json* r : test::LiveRows(*cal, "CalendarItem"))
      if ((*r)["values"]["entity_type"].Int() != 3)
        eventTitles << OneLine(ToQ(TextOf((*r)["values"]["summary"])));
  if (const Json* safari = test::FindDatabase(truth, "Bookmarks.db"))
    for (const Json* r : test::LiveRows(*safari, "bookmarks"))
      if (!(*r)["values"]["parent"].IsNull())
        bookmarkTitles << ToQ(BookmarkFolderTitle(TextOf((*r)["values"]["title"])));

  // The first category with results filled the list by itself.
  EXPECT_EQ(page.SelectedCategory(), Category::CameraRoll);
  EXPECT_EQ(Sorted(Column(1)), TruthFiles(truth, "CameraRollDomain-Media/DCIM/", kAsStored));
  EXPECT_FALSE(Control("FilterToolBar")->IsVisible());

  // Each record category lists what the truth holds, under its own headings.
  ClickNode(Category::Contacts);
  EXPECT_EQ(page.SelectedCategory(), Category::Contacts);
  EXPECT_TRUE(Control("FilterToolBar")->IsVisible());
  QHeaderView* header = List()->View()->horizontalHeader();
  QAbstractItemModel* model = List()->View()->model();
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
  EXPECT_EQ(model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Home Page"));
  EXPECT_EQ(header->sectionSize(1), 100);
  EXPECT_TRUE(List()->View()->isColumnHidden(6));
  ExpectLiveAndSomeDeleted(Column(1), TruthContactNames(truth), TruthDeletedContactNames(truth),
                           "contacts");
  EXPECT_EQ(NodeCount(page.CategoryNode(Category::Contacts)), model->rowCount());
  for (const QString& phone : Column(3)) EXPECT_FALSE(phone.contains(QLatin1Char('\n')));

  // Calls: the live ones as the truth holds them, and the deleted ones that the carving
  // brought back, in orange with the deleted icon; the deleted-only filter shows exactly
  // those.
  ClickNode(Category::CallHistory);
  EXPECT_EQ(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Call Status"));
  QStringList liveCalls, deletedCalls;
  const QColor orange(0xF3, 0x73, 0x02);
  for (int r = 0; r < model->rowCount(); ++r) {
    const bool deleted = model->index(r, 6).data().toString() == QStringLiteral("Deleted");
    (deleted ? deletedCalls : liveCalls) << model->index(r, 2).data().toString();
    if (deleted) {
      EXPECT_EQ(model->index(r, 1).data(Qt::ForegroundRole).value<QColor>(), orange) << r;
      EXPECT_FALSE(model->index(r, 1).data(Qt::DecorationRole).value<QPixmap>().isNull()) << r;
    } else {
      EXPECT_EQ(model->index(r, 6).data().toString(), QStringLiteral("Normal")) << r;
      EXPECT_FALSE(model->index(r, 1).data(Qt::ForegroundRole).isValid()) << r;
    }
  }
  EXPECT_EQ(Sorted(liveCalls), TruthCallNumbers(truth));
  ASSERT_FALSE(deletedCalls.isEmpty()) << "mkbackup deletes calls";
  for (const QString& number : deletedCalls)
    EXPECT_TRUE(TruthDeletedCallNumbers(truth).contains(number)) << number.toStdString();
  EXPECT_EQ(NodeCount(page.CategoryNode(Category::CallHistory)), model->rowCount());
  Click("OptOnOffFilter");
  EXPECT_TRUE(page.DeletedOnly());
  EXPECT_EQ(List()->GetVisibleRowCount(), deletedCalls.size());
  EXPECT_EQ(Sorted(Column(2)), Sorted(deletedCalls));
  Click("OptOnOffFilter");
  EXPECT_FALSE(page.DeletedOnly());

  ClickNode(Category::Notes);
  ExpectLiveAndSomeDeleted(Column(1), TruthNoteTitles(truth), TruthDeletedNoteTitles(truth),
                           "notes");
  EXPECT_EQ(NodeCount(page.CategoryNode(Category::Notes)), model->rowCount());
  // Conversations: every live one, and those that only deleted messages brought back.
  ClickNode(Category::Messages);
  QStringList conversations = Sorted(Column(2));
  EXPECT_EQ(NodeCount(page.CategoryNode(Category::Messages)), conversations.size());
  EXPECT_EQ(page.CategoryNode(Category::Messages)->GetText(),
            QStringLiteral("Messages (%1)").arg(conversations.size()));
  for (const QString& number : TruthConversationNumbers(truth))
    EXPECT_TRUE(conversations.removeOne(number)) << number.toStdString();
  for (const QString& number : conversations)
    EXPECT_TRUE(TruthDeletedMessageNumbers(truth).contains(number)) << number.toStdString();
  ClickNode(Category::WhatsApp);
  EXPECT_EQ(model->rowCount(), TruthChatCount(truth));
  ClickNode(Category::WhatsAppAttachments);
  EXPECT_EQ(Sorted(Column(1)), TruthWhatsAppFiles(truth));
  EXPECT_FALSE(Control("FilterToolBar")->IsVisible());
  ClickNode(Category::Reminder);
  EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Due"));
  EXPECT_EQ(Sorted(Column(1)), Sorted(reminderTitles));
  ClickNode(Category::Calendar);
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Start"));
  EXPECT_EQ(Sorted(Column(1)), Sorted(eventTitles));
  ClickNode(Category::SafariBookmark);
  EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("URL"));
  EXPECT_EQ(Sorted(Column(1)), Sorted(bookmarkTitles));

  // A row click hands the row to the preview pane.
  ClickNode(Category::Notes);
  QTableView* view = List()->View();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(model->index(1, 2)).center());
  Settle();
  const auto& shown = w.PreviewPane().ShownRow();
  ASSERT_TRUE(shown.has_value());
  EXPECT_EQ(shown->category, Category::Notes);
  const NoteRecord* note = std::get<const NoteRecord*>(shown->item);
  EXPECT_EQ(ToQ(note->title), model->index(1, 1).data().toString());

  // App photos: the list of apps, an app's files, and back.
  ClickNode(Category::AppPhotos);
  const int apps = model->rowCount();
  ASSERT_GT(apps, 0);
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("App Name"));
  EXPECT_FALSE(model->index(0, 1).data(Qt::DecorationRole).value<QPixmap>().isNull());
  const QString app = model->index(0, 1).data().toString();
  EXPECT_FALSE(Control("BtnBackAppDir")->IsVisible());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(model->index(0, 1)).center());
  Settle();
  EXPECT_TRUE(Control("BtnBackAppDir")->IsVisible());
  EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("App Name"));
  ASSERT_GT(model->rowCount(), 0);
  for (int r = 0; r < model->rowCount(); ++r) EXPECT_EQ(model->index(r, 2).data().toString(), app);
  Click("BtnBackAppDir");
  EXPECT_EQ(model->rowCount(), apps);
  EXPECT_FALSE(Control("BtnBackAppDir")->IsVisible());
  EXPECT_EQ(model->index(0, 1).data().toString(), app);
}

// WeChat and QQ: a third group of the tree, one row per chat of each account as the
// accounts' passes read them, deleted ones in orange, the filter and the ticks.
TEST_F(ScanPageTest, ChatAppsAreAThirdGroupWithTheirChatsTicksAndFilter) {
  CMainWnd& w = Scanned();
  CScanVrtWnd& page = w.ScanPage();
  BackupRecord record;
  ASSERT_EQ(ReadBackupFolder(platform::Utf8FromPath(BackupFolder()), record), 0);
  BackupCatalog direct;
  SelectBackup(direct, record);
  CLocalBuckupRecovery source;
  source.Attach(&direct);
  ASSERT_EQ(source.OpenBackup(""), 0);

  ASSERT_NE(Tree()->GetRootNode(2), nullptr);
  EXPECT_EQ(Tree()->GetRootNode(2)->GetText(), QStringLiteral("Chat apps"));
  const QColor orange(0xF3, 0x73, 0x02);
  std::uint32_t chatRows = 0;
  for (Category app : {Category::WeChat, Category::QQ}) {
    SCOPED_TRACE(CategoryCliName(app));
    AccountChats accounts;
    ASSERT_EQ(app == Category::WeChat ? source.ReadWeChat(accounts) : source.ReadQQ(accounts), 0);
    QStringList expected;
    int withDeleted = 0;
    for (const auto& [account, chats] : accounts)
      for (const auto& [key, messages] : chats) {
        int live = 0, deleted = 0;
        for (const ChatMessageRecord& m : messages) ++(m.status != 0 ? deleted : live);
        withDeleted += deleted > 0;
        expected
            << QStringLiteral("%1|%2|%3|%4").arg(ToQ(account), ToQ(key)).arg(live).arg(deleted);
      }
    ASSERT_GT(expected.size(), 2);
    ASSERT_GT(withDeleted, 0);
    ASSERT_LT(withDeleted, expected.size());
    chatRows += static_cast<std::uint32_t>(expected.size());

    ui::CTreeNodeUI* node = page.CategoryNode(app);
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(node->IsVisible());
    EXPECT_EQ(node->GetText(), QStringLiteral("%1 (%2)")
                                   .arg(app == Category::WeChat ? "WeChat" : "QQ")
                                   .arg(expected.size()));
    ClickNode(app);
    QAbstractItemModel* model = List()->View()->model();
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Account"));
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Last Message"));
    EXPECT_EQ(model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Deleted"));
    EXPECT_TRUE(Control("FilterToolBar")->IsVisible());
    QStringList shown;
    const QStringList accountsColumn = Column(1), chatsColumn = Column(2), live = Column(4),
                      deleted = Column(5);
    ASSERT_EQ(deleted.size(), expected.size());
    for (int r = 0; r < deleted.size(); ++r) {
      shown << accountsColumn[r] + "|" + chatsColumn[r] + "|" + live[r] + "|" + deleted[r];
      // Chats with deleted messages come first, in the deleted colour with its icon.
      const bool isDeleted = deleted[r] != QStringLiteral("0");
      EXPECT_EQ(isDeleted, r < withDeleted) << r;
      EXPECT_EQ(model->index(r, 2).data(Qt::ForegroundRole).value<QColor>() == orange, isDeleted)
          << r;
      EXPECT_EQ(model->index(r, 1).data(Qt::DecorationRole).isValid(), isDeleted) << r;
    }
    EXPECT_EQ(Sorted(shown), Sorted(expected));

    // The filter leaves the chats with deleted messages and counts the others.
    Click("OptOnOffFilter");
    EXPECT_TRUE(page.DeletedOnly());
    EXPECT_EQ(List()->GetVisibleRowCount(), withDeleted);
    EXPECT_EQ(Label(w, "LblFilterCount"),
              QStringLiteral("Files Filtered: %1 item(s)").arg(expected.size() - withDeleted));
    Click("OptOnOffFilter");
    EXPECT_EQ(List()->GetVisibleRowCount(), expected.size());
  }

  // The group's tick box takes both apps' chats off and puts them back.
  const std::uint32_t ticked = page.Session().Label().tickedVisible;
  ClickNodeTick(Tree()->GetRootNode(2));
  EXPECT_EQ(page.Session().Label().tickedVisible, ticked - chatRows);
  EXPECT_EQ(page.CategoryNode(Category::WeChat)->GetCheckState(), Qt::Unchecked);
  EXPECT_EQ(page.CategoryNode(Category::QQ)->GetCheckState(), Qt::Unchecked);
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  ClickNodeTick(Tree()->GetRootNode(2));
  EXPECT_EQ(page.Session().Label().tickedVisible, ticked);
  // One chat unticked: its app's node and the group show a partial tick.
  ClickNode(Category::QQ);
  ClickTick(0);
  EXPECT_EQ(page.CategoryNode(Category::QQ)->GetCheckState(), Qt::PartiallyChecked);
  EXPECT_EQ(Tree()->GetRootNode(2)->GetCheckState(), Qt::PartiallyChecked);

  ASSERT_TRUE(store->set_language("Deutsch"));
  w.PostMessage(msg::kLanguageChanged);
  Settle();
  EXPECT_EQ(Tree()->GetRootNode(2)->GetText(), QStringLiteral("Chat-Apps"));
  EXPECT_EQ(List()->View()->model()->headerData(1, Qt::Horizontal).toString(),
            QStringLiteral("Konto"));
}

TEST_F(ScanPageTest, TicksTheFilterAndTheStatisticsFollowTheSelectionTree) {
  CMainWnd& w = MakeWindow();
  CScanVrtWnd& page = w.ScanPage();
  ASSERT_TRUE(page.StartScan(std::make_unique<test::FakeSource>(DeletedScript(), nullptr),
                             kLocalBackupSource));
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
  Settle();
  const StatNode& root = page.Session().Statistics().Root();
  const std::uint32_t items = root.items;
  ASSERT_EQ(items, 6u + 4u + 3u + 3u + 1u + 4u);
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());

  // Deleted records in orange with the deleted icon; a contact shows its first number.
  ClickNode(Category::Contacts);
  QAbstractItemModel* m = List()->View()->model();
  ASSERT_EQ(m->rowCount(), 6);
  const QColor orange(0xF3, 0x73, 0x02);
  EXPECT_EQ(m->index(0, 1).data(Qt::ForegroundRole).value<QColor>(), orange);
  EXPECT_FALSE(m->index(0, 1).data(Qt::DecorationRole).value<QPixmap>().isNull());
  EXPECT_FALSE(m->index(1, 1).data(Qt::ForegroundRole).isValid());
  EXPECT_FALSE(m->index(1, 1).data(Qt::DecorationRole).isValid());
  EXPECT_EQ(m->index(0, 3).data().toString(), QStringLiteral("+1 555 0100"));

  // Unticking two rows: two fewer ticked, the header box no longer ticked.
  ClickTick(1);
  ClickTick(2);
  EXPECT_FALSE(List()->GetRowCheck(1));
  EXPECT_FALSE(List()->GetRowCheck(2));
  EXPECT_EQ(page.Session().Label().tickedVisible, items - 2);
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  EXPECT_EQ(List()->GetColumn(0)->GetImage(), QString::fromLatin1(kListUntickImage));
  EXPECT_EQ(Tree()->GetSelectedNode()->GetCheckState(), Qt::PartiallyChecked);

  // The filter: only deleted rows (0 and 3), the others counted as filtered.
  Click("OptOnOffFilter");
  EXPECT_TRUE(page.DeletedOnly());
  EXPECT_EQ(List()->GetVisibleRowCount(), 2);
  EXPECT_EQ(Column(1), (QStringList{QStringLiteral("Person 0"), QStringLiteral("Person 3")}));
  EXPECT_TRUE(Control("LblFilterCount")->IsVisible());
  EXPECT_EQ(Label(w, "LblFilterCount"), QStringLiteral("Files Filtered: 4 item(s)"));
  // Hidden ticked rows leave the count: rows 4 and 5 were still ticked.
  EXPECT_EQ(page.Session().Label().tickedVisible, items - 2 - 2);
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  // The header box works on every row of the list, hidden ones too: not all ticked,
  // so it ticks all (the hidden ones stay out of the count while hidden)...
  EXPECT_EQ(List()->GetColumn(0)->GetImage(), QString::fromLatin1(kListUntickImage));
  ClickHeaderTick();
  EXPECT_EQ(page.Session().Label().tickedVisible, items - 4);
  EXPECT_EQ(List()->GetColumn(0)->GetImage(), QString::fromLatin1(kListTickImage));
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  // ...then unticks all.
  ClickHeaderTick();
  EXPECT_EQ(page.Session().Label().tickedVisible, items - 6);
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  EXPECT_EQ(Tree()->GetSelectedNode()->GetCheckState(), Qt::Unchecked);
  // Off again: every row back, none of them ticked.
  Click("OptOnOffFilter");
  EXPECT_FALSE(page.DeletedOnly());
  EXPECT_EQ(List()->GetVisibleRowCount(), 6);
  EXPECT_FALSE(Control("LblFilterCount")->IsVisible());
  EXPECT_EQ(page.Session().Label().tickedVisible, items - 6);
  EXPECT_FALSE(List()->GetRowCheck(4));
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  // The header box ticks all six again.
  ClickHeaderTick();
  EXPECT_EQ(page.Session().Label().tickedVisible, items);
  EXPECT_EQ(List()->GetColumn(0)->GetImage(), QString::fromLatin1(kListTickImage));
  EXPECT_TRUE(List()->GetRowCheck(2));

  // A filter over a category without deleted records shows nothing and counts all.
  ClickNode(Category::Notes);
  Click("OptOnOffFilter");
  EXPECT_EQ(List()->GetVisibleRowCount(), 0);
  EXPECT_EQ(Label(w, "LblFilterCount"), QStringLiteral("Files Filtered: 3 item(s)"));
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  // Each node keeps its own filter: Contacts shows all again, Notes stays filtered.
  ClickNode(Category::Contacts);
  EXPECT_FALSE(dynamic_cast<ui::COptionUI*>(Control("OptOnOffFilter"))->IsSelected());
  EXPECT_EQ(List()->GetVisibleRowCount(), 6);
  ClickNode(Category::Notes);
  EXPECT_TRUE(dynamic_cast<ui::COptionUI*>(Control("OptOnOffFilter"))->IsSelected());
  EXPECT_EQ(List()->GetVisibleRowCount(), 0);

  // Unticking every category through the tree: nothing to recover.
  EXPECT_TRUE(Control("BtnRecovery")->IsEnabled());
  for (ui::CTreeNodeUI* group : {Tree()->GetRootNode(0), Tree()->GetRootNode(1)})
    ClickNodeTick(group);
  EXPECT_EQ(page.Session().Label().tickedVisible, 0u);
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  EXPECT_FALSE(Control("BtnRecovery")->IsEnabled());
  EXPECT_EQ(page.CategoryNode(Category::Contacts)->GetCheckState(), Qt::Unchecked);

  // Only live records ticked while every filter shows deleted ones: still nothing.
  ClickNodeTick(page.CategoryNode(Category::CallHistory));
  EXPECT_TRUE(Control("BtnRecovery")->IsEnabled());
  ClickNode(Category::CallHistory);
  Click("OptOnOffFilter");
  ASSERT_EQ(List()->GetVisibleRowCount(), 1);
  ClickTick(0);  // the one deleted call
  EXPECT_FALSE(Control("BtnRecovery")->IsEnabled());
  EXPECT_EQ(page.Session().RecoveryEnabled(), Control("BtnRecovery")->IsEnabled());
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());

  EXPECT_EQ(Tree()->GetRootNode(0)->GetText(), QStringLiteral("Photos & Videos"));
  EXPECT_EQ(Tree()->GetRootNode(1)->GetText(), QStringLiteral("Messages & Call logs"));

  // The preview switch shows and hides the pane.
  EXPECT_FALSE(Control("PreviewLayout")->IsVisible());
  Click("OptOnOffPreview");
  EXPECT_TRUE(Control("PreviewLayout")->IsVisible());
  Click("OptOnOffPreview");
  EXPECT_FALSE(Control("PreviewLayout")->IsVisible());

  // A category whose source could not be read shows its node, and why above its list.
  EXPECT_FALSE(Control("LblCategoryProblem")->IsVisible());
  ASSERT_NE(page.CategoryNode(Category::WhatsApp), nullptr);
  EXPECT_FALSE(page.CategoryNode(Category::WhatsApp)->IsVisible());  // nothing read
  page.SetCategoryProblem(
      Category::WhatsApp,
      QStringLiteral("the WhatsApp database is damaged: file is not a database"));
  EXPECT_TRUE(page.CategoryNode(Category::WhatsApp)->IsVisible());
  ClickNode(Category::WhatsApp);
  EXPECT_EQ(List()->GetRowCount(), 0);
  EXPECT_TRUE(Control("LblCategoryProblem")->IsVisible());
  EXPECT_EQ(Label(w, "LblCategoryProblem"),
            QStringLiteral("The WhatsApp database is damaged: file is not a database."));
  ClickNode(Category::CallHistory);
  EXPECT_FALSE(Control("LblCategoryProblem")->IsVisible());

  // Another language relabels what the page makes itself: nodes, headings, counts.
  ASSERT_TRUE(store->set_language("Deutsch"));
  w.PostMessage(msg::kLanguageChanged);
  Settle();
  EXPECT_EQ(page.CategoryNode(Category::CallHistory)->GetText(), QStringLiteral("Anrufliste (4)"));
  EXPECT_EQ(Tree()->GetRootNode(1)->GetText(), QStringLiteral("Nachrichten & Anrufe"));
  EXPECT_EQ(List()->View()->model()->headerData(2, Qt::Horizontal).toString(),
            QStringLiteral("Telefonnummer"));
  EXPECT_TRUE(Label(w, "LblStatistics").startsWith(QStringLiteral("Gewählt: ")));
  EXPECT_EQ(Label(w, "LblFilterCount"), QStringLiteral("Gefiltert: 3 Element(e)"));
}

// A scripted scan that waits at a gate, so that the test can pause, resume and stop it
// while it runs.
struct Gate {
  std::atomic<int> at{-1};  // the value whose report waits
  std::atomic<bool> open{false};
  std::atomic<bool> reached{false};
  void Hook(test::FakeScript& s) {
    s.onReport = [this](const std::string&, std::int32_t value, std::int32_t) {
      if (value != at) return;
      reached = true;
      while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
  }
};

TEST_F(ScanPageTest, PauseHoldsTheProgressStopAsksAndEnds) {
  CMainWnd& w = MakeWindow();
  CScanVrtWnd& page = w.ScanPage();
  // The fourteen alone: their reports are the percentages shown (the chat apps would
  // take the bar's last tenth).
  CategorySet fourteen = AllCategories();
  fourteen[static_cast<int>(Category::WeChat)] = false;
  fourteen[static_cast<int>(Category::QQ)] = false;
  page.SetChosenCategories(fourteen);
  test::FakeScript script = DeletedScript();
  script.reports["OpenBackup"] = {1};
  script.reports["ReadPhotos"] = {10};
  script.reports["ReadMessages"] = {20, 30};
  script.reports["ReadContacts"] = {40, 50};
  Gate gate;
  gate.at = 30;
  gate.Hook(script);
  ASSERT_TRUE(
      page.StartScan(std::make_unique<test::FakeSource>(script, nullptr), kLocalBackupSource));
  EXPECT_TRUE(Control("ScanToolBar")->IsVisible());
  EXPECT_FALSE(Control("BtnHome")->IsEnabled());
  EXPECT_FALSE(Control("BtnRecovery")->IsEnabled());
  ASSERT_TRUE(WaitFor([&] { return gate.reached && Label(w, "LblPercent") == "30%"; }, 5000));
  EXPECT_EQ(dynamic_cast<ui::CProgressUI*>(Control("ProgressScan"))->GetValue(), 30);
  // Camera Roll is in; its node is shown and fills the list.
  EXPECT_EQ(page.SelectedCategory(), Category::CameraRoll);
  EXPECT_TRUE(dynamic_cast<ui::CGifAnimUI*>(Control("BtnGifScanning"))->IsPlaying());

  Click("BtnScanPause");
  EXPECT_TRUE(page.IsPaused());
  EXPECT_EQ(Label(w, "BtnScanPause"), QStringLiteral("Resume"));
  EXPECT_FALSE(dynamic_cast<ui::CGifAnimUI*>(Control("BtnGifScanning"))->IsPlaying());
  gate.open = true;
  // The worker waits at its next report: nothing moves.
  QTest::qWait(200);
  Settle();
  EXPECT_EQ(Label(w, "LblPercent"), QStringLiteral("30%"));
  EXPECT_EQ(page.Session().ShownPercent(), 30);
  EXPECT_TRUE(page.Session().IsScanning());
  // A paused scan's finished categories can be recovered.
  EXPECT_TRUE(Control("BtnRecovery")->IsEnabled());

  // Pause, stop, cancel: still paused; resuming goes on to the end.
  messageAnswers.push_back(2);
  Click("BtnScanStop");
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].text, "Do you want to stop the scan?");
  EXPECT_EQ(log.messages[0].kind, kMsgQuestion);
  EXPECT_EQ(log.messages[0].width, 550);
  EXPECT_TRUE(page.IsPaused());
  QTest::qWait(100);
  EXPECT_EQ(page.Session().ShownPercent(), 30);
  Click("BtnScanPause");
  EXPECT_FALSE(page.IsPaused());
  EXPECT_EQ(Label(w, "BtnScanPause"), QStringLiteral("Pause"));
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }, 5000));
  Settle();
  EXPECT_EQ(Label(w, "LblPercent"), QStringLiteral("50%"));
  EXPECT_EQ(page.Session().LastResult(), kSuccess);
  EXPECT_TRUE(Control("BtnHome")->IsEnabled());

  // A second scan, stopped while it runs (not paused): the question, then the end.
  Gate second;
  second.at = 20;
  test::FakeScript again = DeletedScript();
  again.reports["OpenBackup"] = {1};
  again.reports["ReadMessages"] = {20, 30};
  second.Hook(again);
  ASSERT_TRUE(
      page.StartScan(std::make_unique<test::FakeSource>(again, nullptr), kLocalBackupSource));
  EXPECT_EQ(page.SelectedCategory(), std::nullopt);
  ASSERT_TRUE(WaitFor([&] { return second.reached.load(); }, 5000));
  SetMessageBoxResponder([&](const MessageBoxRequest& req) {
    log.messages.push_back(req);
    EXPECT_FALSE(page.IsPaused());
    second.open = true;  // the worker reaches its next report while the question is up
    return 1;
  });
  Click("BtnScanStop");
  EXPECT_FALSE(page.Session().IsScanning());
  EXPECT_EQ(page.Session().LastResult(), kStopped);
  Settle();
  EXPECT_FALSE(Control("ScanToolBar")->IsVisible());
  EXPECT_TRUE(Control("ReocveryToolBar")->IsVisible());
  EXPECT_EQ(Label(w, "LblPercent"), QStringLiteral("20%"));
}

TEST_F(ScanPageTest, ClosingDuringAScanAsksAndHomeClearsThePage) {
  CMainWnd& w = MakeWindow();
  CScanVrtWnd& page = w.ScanPage();
  test::FakeScript script = DeletedScript();
  script.reports["OpenBackup"] = {1, 3};
  Gate gate;
  gate.at = 3;  // the scan waits during its first percents
  gate.Hook(script);
  ASSERT_TRUE(
      page.StartScan(std::make_unique<test::FakeSource>(script, nullptr), kLocalBackupSource));
  ASSERT_TRUE(WaitFor([&] { return gate.reached.load(); }, 5000));

  // Cancel keeps the window and the scan.
  messageAnswers.push_back(2);
  w.close();
  Settle();
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].kind, kMsgWarning);
  EXPECT_TRUE(log.messages[0].showCancel);
  EXPECT_EQ(log.messages[0].title, "Warning");
  EXPECT_EQ(log.messages[0].text,
            "A scan is running or its results are shown. Do you want to quit?");
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(page.Session().IsScanning());
  EXPECT_TRUE(dynamic_cast<ui::CGifAnimUI*>(Control("BtnGifLoading"))->IsPlaying());

  // OK stops the scan during its first percents and lets the window go.
  SetMessageBoxResponder([&](const MessageBoxRequest& req) {
    log.messages.push_back(req);
    gate.open = true;
    return 1;
  });
  w.close();
  EXPECT_FALSE(page.Session().IsScanning());
  EXPECT_EQ(page.Session().LastResult(), kStopped);
  EXPECT_FALSE(w.isVisible());
  Settle();

  // Results shown and a node selected: Home asks, Cancel keeps everything.
  w.show();
  ASSERT_TRUE(page.StartScan(std::make_unique<test::FakeSource>(DeletedScript(), nullptr),
                             kLocalBackupSource));
  w.SelectStep(3);
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
  Settle();
  ASSERT_TRUE(page.SelectedCategory().has_value());
  SetMessageBoxResponder([&](const MessageBoxRequest& req) {
    log.messages.push_back(req);
    return 2;
  });
  const std::size_t asked = log.messages.size();
  Click("BtnHome");
  ASSERT_EQ(log.messages.size(), asked + 1);
  EXPECT_EQ(log.messages.back().text, "Go back to the start? The scan results will be cleared.");
  EXPECT_EQ(CurrentTab(), 2);
  EXPECT_GT(page.Session().Statistics().Root().items, 0u);
  // OK: the first step, an empty page, "0 MB" again.
  SetMessageBoxResponder([&](const MessageBoxRequest& req) {
    log.messages.push_back(req);
    return 1;
  });
  Click("BtnHome");
  EXPECT_EQ(CurrentTab(), 0);
  EXPECT_TRUE(Control("HorLayoutMain")->IsVisible());
  EXPECT_FALSE(Control("HorLayoutScan")->IsVisible());
  EXPECT_EQ(page.Session().Statistics().Root().items, 0u);
  EXPECT_EQ(List()->GetRowCount(), 0);
  EXPECT_EQ(Tree()->GetNodeCount(), 0);
  EXPECT_FALSE(page.SelectedCategory().has_value());
  EXPECT_FALSE(Control("BtnRecovery")->IsEnabled());
  EXPECT_EQ(Label(w, "LblStatistics"), ExpectedStatistics());
  // With nothing shown, closing asks nothing.
  const std::size_t before = log.messages.size();
  w.close();
  EXPECT_EQ(log.messages.size(), before);
}

// The start message with kind 0 scans the phone the page was given, and the page says
// so; without a phone it starts nothing.
TEST_F(ScanPageTest, TheStartMessageScansAPhoneOnUsbToo) {
  CMainWnd& w = MakeWindow();
  CScanVrtWnd& page = w.ScanPage();
  EXPECT_FALSE(page.StartScan(kDeviceSource));
  test::TempDir phoneRoot;
  fs::create_directories(phoneRoot.path() / "private/var/mobile/Media");
  fs::create_directories(phoneRoot.path() / "private/var/mobile/Library");
  test::FakePhone phone(phoneRoot.path());
  ASSERT_EQ(phone.Discover(), 0);
  // The scan's data source keeps the phone for recovery and lets it go when the window
  // closes: the window goes first, however the test ends.
  struct CloseWindowFirst {
    std::unique_ptr<CMainWnd>& window;
    ~CloseWindowFirst() { window.reset(); }
  } closeFirst{wnd};
  page.SetDevice(&phone, "Test iPhone");
  w.PostMessage(msg::kStartScan, kDeviceSource);
  ASSERT_TRUE(WaitFor([&] { return page.Session().SourceKind() == kDeviceSource; }, 5000));
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
  Settle();
  EXPECT_EQ(CurrentTab(), 2);
  EXPECT_EQ(Label(w, "LblScanType"), QStringLiteral("Scanning iOS Device"));
  EXPECT_EQ(Label(w, "LblScanInfo"), QStringLiteral("Scanning iOS Device"));
  EXPECT_EQ(Label(w, "LblRemark"), QStringLiteral("Recover from iOS Device"));
  EXPECT_EQ(Control("LblScanInfo")->GetBkImage(), QString::fromLatin1(kDeviceSourceImage));
  EXPECT_TRUE(Control("ReocveryToolBar")->IsVisible());
  EXPECT_EQ(page.ScannedBackup().displayName, "Test iPhone");
  EXPECT_TRUE(page.ScannedBackup().folder.empty());
}

// A category the engine could not read shows its node and the engine's reason above
// its list; the next scan, read whole, shows neither.
TEST_F(ScanPageTest, ABackupThatCannotBeOpenedSaysWhyInTheWarning) {
  CMainWnd& w = Scanned();
  CScanVrtWnd& page = w.ScanPage();
  // The same backup with its manifest overwritten by bytes that are no database.
  test::TempDir copy("damaged-manifest");
  fs::copy(BackupFolder(), copy.path(), fs::copy_options::recursive);
  {
    std::ofstream manifest(copy.path() / "Manifest.db", std::ios::binary | std::ios::trunc);
    manifest << std::string(4096, '\x5a');
  }
  BackupRecord record = page.ChosenBackup();
  ASSERT_FALSE(record.folder.empty());
  record.folder = platform::Utf8FromPath(copy.path());
  page.SetChosenBackup(record);
  SetMessageBoxResponder([&](const MessageBoxRequest& req) {
    log.messages.push_back(req);
    return 1;
  });
  ASSERT_TRUE(page.StartScan(kLocalBackupSource));
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
  Settle();
  ASSERT_EQ(log.messages.size(), 1u)
      << page.Session().LastResult() << " " << page.Session().OpenProblem();
  EXPECT_EQ(log.messages[0].kind, kMsgWarning);
  EXPECT_EQ(log.messages[0].text,
            "The scan stopped because the data source could not be read.\n"
            "Manifest.db is damaged: file is not a database.");
}

TEST_F(ScanPageTest, ACategoryTheEngineCouldNotReadSaysWhyOnThePage) {
  CMainWnd& w = MakeWindow();
  CScanVrtWnd& page = w.ScanPage();
  test::FakeScript script = DeletedScript();
  script.problems[Category::WhatsApp] = "the WhatsApp database is damaged: file is not a database";
  script.problems[Category::Contacts] = "the address book was read only in part.";
  ASSERT_TRUE(
      page.StartScan(std::make_unique<test::FakeSource>(script, nullptr), kLocalBackupSource));
  w.SelectStep(3);
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
  Settle();
  ASSERT_NE(page.CategoryNode(Category::WhatsApp), nullptr);
  EXPECT_TRUE(page.CategoryNode(Category::WhatsApp)->IsVisible());
  ClickNode(Category::WhatsApp);
  EXPECT_EQ(List()->GetRowCount(), 0);
  EXPECT_TRUE(Control("LblCategoryProblem")->IsVisible());
  EXPECT_EQ(Label(w, "LblCategoryProblem"),
            QStringLiteral("The WhatsApp database is damaged: file is not a database."));
  // Read in part: its records are listed under the reason.
  ClickNode(Category::Contacts);
  EXPECT_EQ(List()->GetRowCount(), 6);
  EXPECT_EQ(Label(w, "LblCategoryProblem"),
            QStringLiteral("The address book was read only in part."));
  ClickNode(Category::CallHistory);
  EXPECT_FALSE(Control("LblCategoryProblem")->IsVisible());

  ASSERT_TRUE(page.StartScan(std::make_unique<test::FakeSource>(DeletedScript(), nullptr),
                             kLocalBackupSource));
  ASSERT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
  Settle();
  EXPECT_FALSE(page.CategoryNode(Category::WhatsApp)->IsVisible());
  ClickNode(Category::Contacts);
  EXPECT_FALSE(Control("LblCategoryProblem")->IsVisible());
}

}  // namespace
