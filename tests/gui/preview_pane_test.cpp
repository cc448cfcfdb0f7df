// The preview pane over the shared mkbackup backup and over scripted sources: bubbles of
// conversations and chats (made only for the rows on screen), the contact card, the
// note, calls, pictures (directly, under the progress window, cancelled, missing), and
// sound and video in the pane's own player.
#include <QBuffer>
#include <QImage>
#include <QMediaPlayer>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVideoWidget>
#include <fstream>

#include "app/media_player.h"
#include "app/preview_pane.h"
#include "app/preview_process_wnd.h"
#include "app/qt_text.h"
#include "catalogue/detection.h"
#include "platform/utf8.h"
#include "fake_source.h"
#include "scan/data_source_factory.h"
#include "scan_page_support.h"
#include "ui/ui_controls.h"

using namespace bv;
using namespace bv::testing;

namespace {

const QColor kOrange(0xF3, 0x73, 0x02);

// Record text in whatever type the records keep it (UTF-8 given).
template <typename Text>
void Set(Text& field, const QString& value) {
  if constexpr (std::is_same_v<Text, std::wstring>)
    field = value.toStdWString();
  else
    field = ToUtf8(value);
}
template <typename Text>
void Set(Text& field, const char* utf8) {
  Set(field, QString::fromUtf8(utf8));
}
using SourceText = std::remove_cvref_t<decltype(MediaItem{}.path)>;

// A scripted source whose preview copies are real copies into a work folder of its own,
// as the backup's source makes them; `slowMs` holds each progress report (so that a test
// can press cancel while a copy runs), and `copyTo` names a copy that is never written
// (a file that went away).
class CopyingSource : public test::FakeSource {
 public:
  CopyingSource(test::FakeScript script, fs::path work)
      : test::FakeSource(std::move(script), nullptr) {
    Set(catalog_.workFolder, ToQ(platform::Utf8FromPath(work)));
  }
  int slowMs = 0;
  std::optional<QString> copyTo;

  std::int32_t PreparePreviewCopy(const SourceText& backupFile, SourceText& copyPath,
                                  ProgressCallback callback, void* user) override {
    if (copyTo) {
      Set(copyPath, *copyTo);
      return 0;
    }
    callback_ = callback;
    user_ = user;
    return bv::PreparePreviewCopy(catalog_, backupFile, copyPath, callback ? &Slow : nullptr, this);
  }

 private:
  static std::int32_t Slow(void* self, std::int32_t percent) {
    auto* s = static_cast<CopyingSource*>(self);
    if (s->slowMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(s->slowMs));
    return s->callback_(s->user_, percent);
  }
  BackupCatalog catalog_;
  ProgressCallback callback_ = nullptr;
  void* user_ = nullptr;
};

// A PNG of noise (which does not compress) of at least `size` bytes, padded to exactly
// `size` after its end chunk.
void WritePicture(const fs::path& file, std::size_t size) {
  QImage img(96, 96, QImage::Format_RGB32);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      img.setPixel(x, y, QRandomGenerator::global()->generate());
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(img.save(&buffer, "PNG"));
  }
  ASSERT_LE(static_cast<std::size_t>(bytes.size()), size);
  bytes.append(QByteArray(static_cast<qsizetype>(size) - bytes.size(), '\0'));
  std::ofstream(file, std::ios::binary).write(bytes.constData(), bytes.size());
}

class PreviewPaneTest : public ScanPageTest {
 protected:
  CPreviewVrtWnd& Pane() { return wnd->PreviewPane(); }
  ui::CListUI* Bubbles() { return ControlAs<ui::CListUI>("MessagesList"); }
  ui::CRichEditUI* Edit() { return ControlAs<ui::CRichEditUI>("PreviewEdit"); }
  void PreviewOn() {
    auto* option = ControlAs<ui::COptionUI>("OptOnOffPreview");
    if (!option->IsSelected()) Click("OptOnOffPreview");
    Settle();
  }
  void Show(Category c, StatItem item) {
    Pane().ShowRow(PreviewRow{c, item});
    Settle();
  }
  // The header and bubble of the element shown for row `index`.
  QString HeaderOf(int index) {
    ui::CControlUI* e = Bubbles()->ShownElement(index);
    if (!e) return QStringLiteral("<not shown>");
    return ui::FindControl(e, QStringLiteral("LblMsgHeader"))->GetText();
  }
  ui::CControlUI* BubbleOf(int index) {
    ui::CControlUI* e = Bubbles()->ShownElement(index);
    return e ? ui::FindControl(e, QStringLiteral("LblMsgBubble")) : nullptr;
  }
  CScanVrtWnd& ScanScript(test::FakeScript script) {
    MakeWindow();
    CScanVrtWnd& page = wnd->ScanPage();
    wnd->SelectStep(3);
    EXPECT_TRUE(page.StartScan(std::make_unique<test::FakeSource>(std::move(script), nullptr),
                               kLocalBackupSource));
    EXPECT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
    Settle();
    PreviewOn();
    return page;
  }
  CopyingSource* ScanCopying(test::FakeScript script, const fs::path& work) {
    MakeWindow();
    CScanVrtWnd& page = wnd->ScanPage();
    wnd->SelectStep(3);
    auto source = std::make_unique<CopyingSource>(std::move(script), work);
    CopyingSource* raw = source.get();
    EXPECT_TRUE(page.StartScan(std::move(source), kLocalBackupSource));
    EXPECT_TRUE(WaitFor([&] { return !page.Session().IsScanning(); }));
    Settle();
    PreviewOn();
    return raw;
  }
};

// Checks every bubble on screen against its message: side, header, text, colour.
template <typename Record>
void ExpectBubblesOnScreen(PreviewPaneTest& t, ui::CListUI* list,
                           const std::vector<const Record*>& messages,
                           const std::function<QString(const Record&)>& who) {
  (void)t;
  int checked = 0;
  for (int i = 0; i < static_cast<int>(messages.size()); ++i) {
    ui::CControlUI* e = list->ShownElement(i + 1);
    if (!e) continue;
    ++checked;
    const Record& m = *messages[static_cast<std::size_t>(i)];
    auto* header = ui::FindControl(e, QStringLiteral("LblMsgHeader"));
    auto* bubble = ui::FindControl(e, QStringLiteral("LblMsgBubble"));
    ASSERT_TRUE(header && bubble);
    const QString expected = m.isFromMe != 0
                                 ? ToQ(m.date) + QStringLiteral(" Me:")
                                 : ToQ(m.date) + QLatin1Char(' ') + who(m) + QLatin1Char(':');
    EXPECT_EQ(header->GetText(), expected) << "message " << i;
    EXPECT_EQ(bubble->GetText(), ToQ(m.text)) << "message " << i;
    // Sent bubbles are on the right (the header too), received ones on the left.
    const QRect box = bubble->geometry();
    const int middle = bubble->parentWidget()->width() / 2;
    if (m.isFromMe != 0)
      EXPECT_GT(box.center().x(), middle) << "message " << i;
    else
      EXPECT_LT(box.center().x(), middle) << "message " << i;
    if (m.deleted != 0) {
      EXPECT_EQ(bubble->GetTextColor(), kOrange) << "message " << i;
      EXPECT_EQ(header->GetTextColor(), kOrange) << "message " << i;
    } else {
      EXPECT_NE(bubble->GetTextColor(), kOrange) << "message " << i;
      EXPECT_NE(header->GetTextColor(), kOrange) << "message " << i;
    }
  }
  EXPECT_GT(checked, 0);
}

}  // namespace

TEST_F(PreviewPaneTest, AConversationShowsItsMessagesAsBubblesWithHeadersSidesAndDeletedColour) {
  Scanned();
  PreviewOn();
  const ScanStores& stores = Page().Session().Stores();
  // The row of the conversation with the most messages is clicked on the list, as a
  // person does; then every conversation is shown and paged through.
  const std::list<MessageRecord>* largest = nullptr;
  std::int32_t largestKey = 0;  // a list row's handleId is its conversation's key
  for (const auto& [key, list] : stores.conversations)
    if (!largest || list.size() > largest->size()) largest = &list, largestKey = key;
  ASSERT_NE(largest, nullptr);
  ClickNode(Category::Messages);
  int row = -1;
  for (int r = 0; r < List()->GetRowCount() && row < 0; ++r) {
    ClickRow(List(), r);
    Settle();
    const auto* shown =
        Pane().ShownRow() ? std::get_if<const MessageRecord*>(&Pane().ShownRow()->item) : nullptr;
    if (shown && *shown && (*shown)->handleId == largestKey) row = r;
  }
  ASSERT_GE(row, 0);
  EXPECT_EQ(Pane().Mode(), PreviewMode::kList);
  EXPECT_TRUE(Bubbles()->IsVisible());
  EXPECT_FALSE(Edit()->IsVisible());
  EXPECT_EQ(Bubbles()->GetRowCount(), static_cast<int>(largest->size()) + 1);

  ui::CControlUI* separator = Bubbles()->ShownElement(0);
  ASSERT_NE(separator, nullptr);
  EXPECT_EQ(separator->GetText(),
            QStringLiteral("-------------------- Messages --------------------"));
  EXPECT_EQ(separator->GetTextColor(), QColor::fromRgba(0xFFD7D7D7));

  int sent = 0, received = 0;
  for (const MessageRecord& first : stores.conversationList) {
    Show(Category::Messages, &first);
    const auto& list = stores.conversations.at(first.handleId);
    ASSERT_EQ(Bubbles()->GetRowCount(), static_cast<int>(list.size()) + 1);
    std::vector<const MessageRecord*> messages;
    for (const auto& m : list) {
      messages.push_back(&m);
      ++(m.isFromMe != 0 ? sent : received);
    }
    for (int i = 0; i <= static_cast<int>(messages.size()); i += 2) {
      Bubbles()->ScrollToRow(i, true);
      Settle();
      ExpectBubblesOnScreen<MessageRecord>(*this, Bubbles(), messages, [](const MessageRecord& m) {
        return m.name.empty() ? ToQ(m.sender) : ToQ(m.name);
      });
    }
  }
  EXPECT_GT(sent, 0);
  EXPECT_GT(received, 0);
  const MessageRecord* any = &largest->front();
  // A received message from someone without an address-book name shows the number.
  MessageRecord stranger = *any;
  stranger.isFromMe = 0;
  stranger.name.clear();
  EXPECT_EQ(CBubbleRows::Header(&stranger),
            ToQ(stranger.date) + QLatin1Char(' ') + ToQ(stranger.sender) + QLatin1Char(':'));
}

// A WeChat or QQ chat opens as its bubbles: the owner's on the right as "Me", the
// partner's named by the chat, deleted ones in orange, a cut-off one ending in "…".
TEST_F(PreviewPaneTest, AChatAppChatShowsItsBubblesWithDeletedOnesInOrange) {
  Scanned();
  PreviewOn();
  const ScanStores& stores = Page().Session().Stores();
  int deletedShown = 0, sentShown = 0, chats = 0;
  for (const std::list<ChatAppChat>* rows : {&stores.weChatList, &stores.qqList}) {
    for (const ChatAppChat& row : *rows) {
      ++chats;
      Show(row.app, &row);
      EXPECT_EQ(Pane().Mode(), PreviewMode::kList);
      ASSERT_NE(row.messages, nullptr);
      ASSERT_EQ(Bubbles()->GetRowCount(), static_cast<int>(row.messages->size()) + 1);
      std::vector<const ChatMessageRecord*> messages;
      for (const ChatMessageRecord& m : *row.messages) messages.push_back(&m);
      for (int first = 0; first <= static_cast<int>(messages.size()); first += 3) {
        Bubbles()->ScrollToRow(first, true);
        Settle();
        for (int i = 0; i < static_cast<int>(messages.size()); ++i) {
          ui::CControlUI* e = Bubbles()->ShownElement(i + 1);
          if (!e) continue;
          const ChatMessageRecord& m = *messages[static_cast<std::size_t>(i)];
          auto* header = ui::FindControl(e, QStringLiteral("LblMsgHeader"));
          auto* bubble = ui::FindControl(e, QStringLiteral("LblMsgBubble"));
          ASSERT_TRUE(header && bubble);
          const QString who = m.is_sender != 0   ? QStringLiteral("Me")
                              : m.sender.empty() ? ToQ(row.chat)
                                                 : ToQ(m.sender);
          EXPECT_EQ(header->GetText(), ToQ(m.time) + QLatin1Char(' ') + who + QLatin1Char(':'));
          EXPECT_EQ(bubble->GetText(),
                    ToQ(m.text) + (m.partial ? QStringLiteral("\u2026") : QString()));
          const bool right = bubble->geometry().center().x() > bubble->parentWidget()->width() / 2;
          EXPECT_EQ(right, m.is_sender != 0) << i;
          EXPECT_EQ(bubble->GetTextColor() == kOrange, m.status != 0) << i;
          EXPECT_EQ(header->GetTextColor() == kOrange, m.status != 0) << i;
          deletedShown += m.status != 0;
          sentShown += m.is_sender != 0;
        }
      }
    }
  }
  EXPECT_GT(chats, 2);
  EXPECT_GT(deletedShown, 0);
  EXPECT_GT(sentShown, 0);
}

TEST_F(PreviewPaneTest, EveryChatNamesItsSendersAndShowsDeletedMessagesInOrange) {
  Scanned();
  PreviewOn();
  const ScanStores& stores = Page().Session().Stores();
  std::size_t mostSenders = 0;
  for (const WhatsAppMessageRecord& first : stores.chatList) {
    const auto& list = stores.chats.at(first.sessionId);
    Show(Category::WhatsApp, &first);
    EXPECT_EQ(Pane().Mode(), PreviewMode::kList);
    ASSERT_EQ(Bubbles()->GetRowCount(), static_cast<int>(list.size()) + 1);
    std::set<QString> senders;
    std::vector<const WhatsAppMessageRecord*> messages;
    for (const auto& m : list) {
      messages.push_back(&m);
      if (m.isFromMe == 0) senders.insert(CBubbleRows::Header(&m).mid(20));
    }
    mostSenders = std::max(mostSenders, senders.size());
    for (int i = 0; i <= static_cast<int>(messages.size()); i += 2) {
      Bubbles()->ScrollToRow(i, true);
      Settle();
      ExpectBubblesOnScreen<WhatsAppMessageRecord>(
          *this, Bubbles(), messages, [](const WhatsAppMessageRecord& m) {
            return m.senderName.empty() ? ToQ(m.pushName) : ToQ(m.senderName);
          });
    }
  }
  EXPECT_GE(mostSenders, 1u);
  // Who a received message is from: its sender's name, else its push name.
  WhatsAppMessageRecord m;
  Set(m.date, "2021-01-02 03:04:05");
  Set(m.pushName, "~Kim");
  EXPECT_EQ(CBubbleRows::Header(&m), QStringLiteral("2021-01-02 03:04:05 ~Kim:"));
  Set(m.senderName, "Kim Lee");
  EXPECT_EQ(CBubbleRows::Header(&m), QStringLiteral("2021-01-02 03:04:05 Kim Lee:"));
  m.isFromMe = 1;
  EXPECT_EQ(CBubbleRows::Header(&m), QStringLiteral("2021-01-02 03:04:05 Me:"));
}

TEST_F(PreviewPaneTest, TwentyThousandMessagesOpenWithAScreenfulOfBubblesReusedWhileScrolling) {
  test::FakeScript script;
  auto& list = script.chats[7];
  for (int i = 0; i < 20000; ++i) {
    WhatsAppMessageRecord m;
    m.sessionId = 7;
    m.messageId = i;
    m.isFromMe = i % 3 == 0 ? 1 : 0;
    m.deleted = i % 1000 == 999 ? 1 : 0;
    Set(m.pushName, QStringLiteral("Member %1").arg(i % 5));
    Set(m.text, QStringLiteral("message number %1").arg(i));
    Set(m.date, QStringLiteral("2021-03-04 05:06:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
    list.push_back(m);
  }
  CScanVrtWnd& page = ScanScript(script);
  const auto& row = page.Session().Stores().chatList.front();
  Show(Category::WhatsApp, &row);
  ASSERT_EQ(Bubbles()->GetRowCount(), 20001);
  const int afterOpen = Bubbles()->BuiltElementCount();
  EXPECT_GT(afterOpen, 1);
  EXPECT_LT(afterOpen, 40);
  // Far down and back: the same few controls show other messages.
  for (int target : {100, 5000, 19999, 20000, 10, 12345}) {
    Bubbles()->ScrollToRow(target);
    Settle();
    ui::CControlUI* e = Bubbles()->ShownElement(target);
    ASSERT_NE(e, nullptr) << target;
    EXPECT_EQ(ui::FindControl(e, QStringLiteral("LblMsgBubble"))->GetText(),
              QStringLiteral("message number %1").arg(target - 1));
    EXPECT_EQ(Bubbles()->ShownElement(target - 30), nullptr);
  }
  EXPECT_LT(Bubbles()->BuiltElementCount(), 2 * afterOpen + 4);
  // Message 999 (row 1000) is deleted: orange, while its neighbour is not.
  Bubbles()->ScrollToRow(999, true);
  Settle();
  ASSERT_NE(BubbleOf(1000), nullptr);
  ASSERT_NE(BubbleOf(999), nullptr);
  EXPECT_EQ(BubbleOf(1000)->GetTextColor(), kOrange);
  EXPECT_NE(BubbleOf(999)->GetTextColor(), kOrange);
  EXPECT_EQ(HeaderOf(1000), QStringLiteral("2021-03-04 05:06:39 Me:"));
  EXPECT_EQ(HeaderOf(999), QStringLiteral("2021-03-04 05:06:38 Member 3:"));

  // Another row replaces the bubbles; the pane lets go of them.
  Pane().Clear();
  Settle();
  EXPECT_EQ(Bubbles()->BuiltElementCount(), 0);
  EXPECT_EQ(Bubbles()->GetRowCount(), 0);
}

TEST_F(PreviewPaneTest, AContactCardShowsOnlyTheFieldsThatAreThereAndDeletedInOrange) {
  test::FakeScript script;
  ContactRecord full;
  Set(full.name, "Anna Example");
  Set(full.phone, "+1 555 0100");
  Set(full.email, "anna@example.com");
  Set(full.address, "1 Main Street");
  Set(full.url, "https://example.com");
  Set(full.extra, "@anna");
  Set(full.organization, "Example Ltd");
  ContactRecord sparse;
  Set(sparse.name, "Bo 小明");
  Set(sparse.phone, "+1 555 0199");
  sparse.deleted = 1;
  script.contacts = {full, sparse};
  CScanVrtWnd& page = ScanScript(script);
  const auto& contacts = page.Session().Stores().contacts;
  ASSERT_EQ(contacts.size(), 2u);

  const char* pairs[][2] = {{"LblPhoneDesc", "TxtPhone"},     {"LblEmailDesc", "TxtEmail"},
                            {"LblAddressDesc", "TxtAddress"}, {"LblUrlDesc", "TxtUrl"},
                            {"LblSocialDesc", "TxtSocial"},   {"LblCompanyDesc", "TxtCompany"}};
  Show(Category::Contacts, &contacts.front());
  EXPECT_EQ(Pane().Mode(), PreviewMode::kList);
  ASSERT_EQ(Bubbles()->GetElementCount(), 1);
  ui::CControlUI* card = Bubbles()->GetElementAt(0);
  auto in = [&](const char* name) { return ui::FindControl(card, QString::fromLatin1(name)); };
  EXPECT_EQ(in("TxtUserName")->GetText(), QStringLiteral("Anna Example"));
  EXPECT_EQ(in("TxtEmail")->GetText(), QStringLiteral("anna@example.com"));
  EXPECT_EQ(in("TxtCompany")->GetText(), QStringLiteral("Example Ltd"));
  EXPECT_EQ(in("TxtSocial")->GetText(), QStringLiteral("@anna"));
  for (const auto& p : pairs) {
    EXPECT_TRUE(in(p[0])->isVisibleTo(card)) << p[0];
    EXPECT_TRUE(in(p[1])->isVisibleTo(card)) << p[1];
    EXPECT_NE(in(p[1])->GetTextColor(), kOrange) << p[1];
  }

  Show(Category::Contacts, &contacts.back());
  ASSERT_EQ(Bubbles()->GetElementCount(), 1);
  card = Bubbles()->GetElementAt(0);
  EXPECT_EQ(in("TxtUserName")->GetText(), QStringLiteral("Bo 小明"));
  EXPECT_EQ(in("TxtUserName")->GetTextColor(), kOrange);
  EXPECT_TRUE(in("TxtPhone")->isVisibleTo(card));
  EXPECT_EQ(in("TxtPhone")->GetText(), QStringLiteral("+1 555 0199"));
  EXPECT_EQ(in("TxtPhone")->GetTextColor(), kOrange);
  EXPECT_EQ(in("LblPhoneDesc")->GetTextColor(), kOrange);
  for (std::size_t i = 1; i < std::size(pairs); ++i) {
    EXPECT_FALSE(in(pairs[i][0])->isVisibleTo(card)) << pairs[i][0];
    EXPECT_FALSE(in(pairs[i][1])->isVisibleTo(card)) << pairs[i][1];
  }
}

TEST_F(PreviewPaneTest, ANoteReadsAsItsTitleAndBodyAndACallHasNoPreview) {
  test::FakeScript script;
  NoteRecord kept;
  Set(kept.title, "Shopping");
  Set(kept.body, "milk\nbread 🍞");
  NoteRecord gone = kept;
  Set(gone.title, "Old plan");
  gone.deleted = 1;
  script.notes = {kept, gone};
  CallRecord call;
  Set(call.address, "+1 555 0100");
  Set(call.date, "2021-01-01 10:00:00");
  script.calls = {call};
  CScanVrtWnd& page = ScanScript(script);
  const auto& notes = page.Session().Stores().notes;

  Show(Category::Notes, &notes.front());
  EXPECT_EQ(Pane().Mode(), PreviewMode::kText);
  EXPECT_TRUE(Edit()->IsVisible());
  EXPECT_FALSE(Bubbles()->IsVisible());
  EXPECT_EQ(Edit()->GetText(),
            QStringLiteral("  ---------------------------------------------------  \n"
                           "Title:\n    Shopping\nNote:\n     milk\nbread 🍞"));
  QTextDocument* doc = Edit()->TextEdit()->document();
  EXPECT_EQ(doc->firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
            Qt::AlignHCenter);
  auto colourAt = [&](const QString& text) {
    QTextCursor c = doc->find(text);
    return c.charFormat().foreground().color();
  };
  EXPECT_EQ(colourAt(QStringLiteral("Title:")), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(colourAt(QStringLiteral("Note:")), QColor(0x40, 0x40, 0x40));
  EXPECT_EQ(colourAt(QStringLiteral("-----")), QColor(0xD7, 0xD7, 0xD7));

  Show(Category::Notes, &notes.back());
  EXPECT_TRUE(Edit()->GetText().contains(QStringLiteral("    Old plan\n")));
  EXPECT_EQ(colourAt(QStringLiteral("Title:")), kOrange);
  EXPECT_EQ(colourAt(QStringLiteral("Note:")), kOrange);

  // Reminders, events and bookmarks read as their filled fields, labelled.
  ReminderRecord reminder;
  Set(reminder.title, "Call the bank");
  Set(reminder.list, "Errands");
  Set(reminder.due, "2021-03-04");
  reminder.deleted = 1;
  Show(Category::Reminder, &reminder);
  EXPECT_EQ(Pane().Mode(), PreviewMode::kText);
  EXPECT_EQ(
      Edit()->GetText(),
      QStringLiteral("  ---------------------------------------------------  \n"
                     "Title:\n    Call the bank\nList:\n    Errands\nDue:\n    2021-03-04\n"));
  EXPECT_EQ(colourAt(QStringLiteral("List:")), kOrange);
  CalendarEventRecord event;
  Set(event.title, "Dentist");
  Set(event.start, "2021-03-05 09:30:00");
  Set(event.location, "Hauptstraße 1");
  Show(Category::Calendar, &event);
  EXPECT_EQ(Edit()->GetText(),
            QStringLiteral("  ---------------------------------------------------  \n"
                           "Title:\n    Dentist\nStart:\n    2021-03-05 09:30:00\n"
                           "Location:\n    Hauptstraße 1\n"));
  EXPECT_EQ(colourAt(QStringLiteral("Start:")), QColor(0x40, 0x40, 0x40));
  BookmarkRecord bookmark;
  Set(bookmark.title, "News");
  Set(bookmark.url, "https://example.org/");
  bookmark.folder = {"Favorites", "Daily"};
  Show(Category::SafariBookmark, &bookmark);
  EXPECT_EQ(Edit()->GetText(),
            QStringLiteral("  ---------------------------------------------------  \n"
                           "Title:\n    News\nFolder:\n    Favorites / Daily\n"
                           "URL:\n    https://example.org/\n"));

  // A call replaces the note with nothing.
  Show(Category::CallHistory, &page.Session().Stores().calls.front());
  EXPECT_EQ(Pane().Mode(), PreviewMode::kNone);
  EXPECT_FALSE(Edit()->IsVisible());
  EXPECT_FALSE(Bubbles()->IsVisible());
  EXPECT_TRUE(Edit()->GetText().isEmpty());
}

TEST_F(PreviewPaneTest, APictureOfTheBackupShowsAndSoundPlaysWhileABrokenFilmSaysSo) {
  Scanned();
  PreviewOn();
  const ScanStores& stores = Page().Session().Stores();
  auto find = [&](const char* ext) -> const MediaItem* {
    for (const auto& m : stores.cameraRoll)
      if (ToQ(m.name).endsWith(QLatin1String(ext), Qt::CaseInsensitive) && m.size > 512) return &m;
    return nullptr;
  };
  const MediaItem* jpg = find(".jpg");
  const MediaItem* wav = find(".wav");
  const MediaItem* mp4 = find(".mp4");
  const MediaItem* avi = find(".avi");
  ASSERT_TRUE(jpg && wav && mp4 && avi);

  Show(Category::CameraRoll, jpg);
  ASSERT_TRUE(WaitFor([&] { return Pane().PictureShown(); }, 5000));
  EXPECT_EQ(Pane().PreparedKind(), PreviewKind::kPicture);
  EXPECT_TRUE(Pane().PreparedCopy().endsWith(QLatin1String("/tmp.jpg")));
  EXPECT_EQ(Pane().Mode(), PreviewMode::kText);
  EXPECT_TRUE(Edit()->TextEdit()->document()->toHtml().contains(QLatin1String("<img")));

  // The tone of the backup plays in the pane; a new preview stops it.
  Show(Category::CameraRoll, wav);
  EXPECT_EQ(Pane().PreparedKind(), PreviewKind::kSound);
  ASSERT_NE(Pane().MediaPlayer(), nullptr);
  QMediaPlayer* player = Pane().MediaPlayer()->Player();
  ASSERT_TRUE(WaitFor([&] { return player->playbackState() == QMediaPlayer::PlayingState; }, 10000))
      << player->errorString().toStdString();
  EXPECT_TRUE(WaitFor([&] { return player->position() > 0; }, 10000));
  EXPECT_EQ(Pane().Mode(), PreviewMode::kMedia);
  EXPECT_FALSE(Pane().MediaPlayer()->VideoWidget()->isVisibleTo(Pane().MediaPlayer()));
  EXPECT_TRUE(log.messages.empty());

  // The backup's AVI film is real: it plays with its picture in the pane.
  Show(Category::CameraRoll, avi);
  EXPECT_EQ(Pane().PreparedKind(), PreviewKind::kVideo);
  ASSERT_TRUE(WaitFor([&] { return player->playbackState() == QMediaPlayer::PlayingState; }, 10000))
      << player->errorString().toStdString();
  EXPECT_TRUE(WaitFor([&] { return player->hasVideo(); }, 10000));
  EXPECT_TRUE(Pane().MediaPlayer()->VideoWidget()->isVisibleTo(Pane().MediaPlayer()));
  EXPECT_TRUE(log.messages.empty());

  // The backup's other films are headers and filler: playback cannot start and the user is told,
  // whether the player reports an error or stays loading (the start watch, shortened here).
  messageAnswers = {1};
  Pane().MediaPlayer()->SetStartTimeout(3000);
  Show(Category::CameraRoll, mp4);
  EXPECT_EQ(Pane().PreparedKind(), PreviewKind::kVideo);
  ASSERT_TRUE(WaitFor([&] { return !log.messages.empty(); }, 10000))
      << player->mediaStatus() << " " << player->errorString().toStdString();
  EXPECT_EQ(ToQ(log.messages.back().text),
            QStringLiteral("The video player could not be started."));
  EXPECT_EQ(log.messages.back().kind, kMsgInformation);
  EXPECT_EQ(log.messages.back().width, 550);
  EXPECT_NE(player->playbackState(), QMediaPlayer::PlayingState);
  Pane().MediaPlayer()->SetStartTimeout(15000);

  // Leaving the page stops playing.
  Show(Category::CameraRoll, wav);
  ASSERT_TRUE(
      WaitFor([&] { return player->playbackState() == QMediaPlayer::PlayingState; }, 10000));
  wnd->SelectStep(1);
  Settle();
  EXPECT_EQ(player->playbackState(), QMediaPlayer::StoppedState);
}

TEST_F(PreviewPaneTest, LargeFilesAreCopiedUnderTheProgressWindowAndACancelShowsNothing) {
  test::TempDir work("preview-work");
  test::TempDir files("preview-files");
  test::FakeScript script;
  for (std::size_t size : {std::size_t{65536}, std::size_t{65537}, std::size_t{3000000}}) {
    MediaItem m;
    Set(m.name, QStringLiteral("IMG_%1.PNG").arg(size));
    const fs::path file = files.path() / platform::PathFromUtf8(ToUtf8(ToQ(m.name)));
    WritePicture(file, size);
    Set(m.path, ToQ(platform::Utf8FromPath(file)));
    m.size = static_cast<std::uint32_t>(size);
    script.cameraRoll.push_back(m);
  }
  CopyingSource* source = ScanCopying(script, work.path());
  ASSERT_NE(source, nullptr);
  const auto& photos = Page().Session().Stores().cameraRoll;
  std::vector<const MediaItem*> items;
  for (const auto& m : photos) items.push_back(&m);
  ASSERT_EQ(items.size(), 3u);

  // Watches for the progress window while the pane runs it modally.
  int windowsSeen = 0;
  std::function<void(CPreviewProcessWnd*)> onWindow;
  QTimer watch;
  QPointer<CPreviewProcessWnd> last;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* p = dynamic_cast<CPreviewProcessWnd*>(w); p && p->isVisible() && p != last) {
        last = p;
        ++windowsSeen;
        EXPECT_EQ(p->size(), QSize(500, 200));
        if (onWindow) onWindow(p);
      }
  });
  watch.start(5);

  Show(Category::CameraRoll, items[0]);  // exactly 65,536 bytes: copied directly
  ASSERT_TRUE(WaitFor([&] { return Pane().PictureShown(); }, 5000));
  EXPECT_EQ(Pane().ProgressWindowsRun(), 0);

  Show(Category::CameraRoll, items[1]);  // one byte more: under the window
  ASSERT_TRUE(WaitFor([&] { return Pane().PictureShown(); }, 5000));
  EXPECT_EQ(Pane().ProgressWindowsRun(), 1);
  EXPECT_EQ(Pane().LastMediaResult(), 1);
  EXPECT_EQ(fs::file_size(work.path() / "tmp.jpg"), 65537u);

  // The big one copies slowly; cancel is pressed once it has started, and answered OK.
  source->slowMs = 20;
  onWindow = [&](CPreviewProcessWnd* p) {
    QTimer::singleShot(150, p, [this, p] {
      EXPECT_GT(p->ShownPercent(), 0);
      EXPECT_TRUE(p->FindControl(QStringLiteral("LblFileName"))
                      ->GetText()
                      .endsWith(QStringLiteral("IMG_3000000.PNG")));
      messageAnswers.push_back(1);
      QTest::mouseClick(p->FindControl(QStringLiteral("BtnCancel")), Qt::LeftButton);
    });
  };
  // Whether the quick copy's window above stayed up long enough to be seen depends on
  // the machine's load: count from here.
  windowsSeen = 0;
  const std::size_t asked = log.messages.size();
  Show(Category::CameraRoll, items[2]);
  EXPECT_EQ(Pane().ProgressWindowsRun(), 2);
  EXPECT_EQ(windowsSeen, 1);
  ASSERT_EQ(log.messages.size(), asked + 1);
  EXPECT_EQ(ToQ(log.messages.back().text), QStringLiteral("Do you want to cancel?"));
  EXPECT_EQ(Pane().LastMediaResult(), 2);
  EXPECT_FALSE(Pane().PictureShown());
  EXPECT_TRUE(Pane().PreparedCopy().isEmpty());
  EXPECT_TRUE(Edit()->GetText().isEmpty());
  EXPECT_FALSE(Edit()->TextEdit()->document()->toHtml().contains(QLatin1String("<img")));
  // No half copy is left to be shown later.
  EXPECT_FALSE(fs::exists(work.path() / "tmp.jpg"));
  watch.stop();
}

TEST_F(PreviewPaneTest, APictureThatCannotBeLoadedIsTriedAgainThenSaysSo) {
  test::TempDir work("preview-missing");
  test::FakeScript script;
  MediaItem m;
  Set(m.name, "IMG_0001.JPG");
  Set(m.path, "/nonexistent/backup/file");
  m.size = 100;
  script.cameraRoll.push_back(m);
  CopyingSource* source = ScanCopying(script, work.path());
  source->copyTo = ToQ(platform::Utf8FromPath(work.path() / "tmp.jpg"));
  Show(Category::CameraRoll, &Page().Session().Stores().cameraRoll.front());
  EXPECT_EQ(Pane().PreparedKind(), PreviewKind::kPicture);
  EXPECT_FALSE(Pane().PictureShown());
  // Six timed tries after the first, 100 ms apart.
  ASSERT_TRUE(WaitFor(
      [&] { return Edit()->GetText() == QStringLiteral("Can not found the file!"); }, 5000));
  EXPECT_EQ(Pane().PictureRetries(), 6);
  EXPECT_FALSE(Pane().PictureShown());
}

TEST(PreviewKinds, TheKindComesFromTheCopysExtension) {
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.jpg")), PreviewKind::kPicture);
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.JPG")), PreviewKind::kPicture);
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.wav")), PreviewKind::kSound);
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.avi")), PreviewKind::kVideo);
  // Contained in, as the program has always matched it.
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.jp")), PreviewKind::kPicture);
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.png")), PreviewKind::kNone);
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w.d/tmp")), PreviewKind::kNone);
  EXPECT_EQ(KindOfCopy(QStringLiteral("/w/tmp.")), PreviewKind::kNone);
  EXPECT_EQ(KindOfCopy(QString()), PreviewKind::kNone);
}
