#include "app/preview_pane.h"

#include <QFileInfo>
#include <QImageReader>
#include <filesystem>
#include <system_error>

#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/media_player.h"
#include "app/popups.h"
#include "app/preview_process_wnd.h"
#include "app/qt_text.h"
#include "app/scan_page.h"
#include "app/window_messages.h"
#include "platform/utf8.h"
#include "records/bookmark_reader.h"
#include "ui/skin_loader.h"
#include "ui/ui_controls.h"

namespace bv {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

const QString kMessagesSeparator =
    QStringLiteral("-------------------- Messages --------------------");
const QString kNoteSeparator =
    QStringLiteral("  ---------------------------------------------------  \n");
const char* const kNormalColor = "bvNormalColor";

// A bubble is 80 pixels for up to two lines of text; longer texts get a line more each
// (an estimate from the length: measuring 20,000 texts would be the pause we avoid).
constexpr int kBubbleHeight = 80;
constexpr int kBubbleLineHeight = 16;
constexpr int kBubbleCharsPerLine = 24;

QString ChooseWho(const QString& first, const QString& second) {
  return first.isEmpty() ? second : first;
}

void Paint(ui::CControlUI* control, const QColor& deletedOrNot, bool deleted) {
  if (!control) return;
  if (!control->property(kNormalColor).isValid())
    control->setProperty(kNormalColor, control->GetTextColor());
  control->SetTextColor(deleted ? deletedOrNot : control->property(kNormalColor).value<QColor>());
}

}  // namespace

PreviewKind KindOfCopy(const QString& copyPath) {
  const qsizetype dot = copyPath.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return PreviewKind::kNone;
  const QString ext = copyPath.mid(dot + 1).toLower();
  if (ext.isEmpty()) return PreviewKind::kNone;
  if (QStringLiteral("jpg").contains(ext)) return PreviewKind::kPicture;
  if (QStringLiteral("wav").contains(ext)) return PreviewKind::kSound;
  if (QStringLiteral("avi").contains(ext)) return PreviewKind::kVideo;
  return PreviewKind::kNone;
}

// ---- bubbles -------------------------------------------------------------------------

bool CBubbleRows::FromMe(const Message& m) {
  return std::visit(Overloaded{[](const ChatAppMessage& c) { return c.message->is_sender != 0; },
                               [](const auto* r) { return r->isFromMe != 0; }},
                    m);
}

bool CBubbleRows::Deleted(const Message& m) {
  return std::visit(Overloaded{[](const ChatAppMessage& c) { return c.message->status != 0; },
                               [](const auto* r) { return r->deleted != 0; }},
                    m);
}

QString CBubbleRows::Header(const Message& m) {
  return std::visit(Overloaded{
                        [](const MessageRecord* r) {
                          if (r->isFromMe != 0) return ToQ(r->date) + QStringLiteral(" Me:");
                          return ToQ(r->date) + QLatin1Char(' ') +
                                 ChooseWho(ToQ(r->name), ToQ(r->sender)) + QLatin1Char(':');
                        },
                        [](const WhatsAppMessageRecord* r) {
                          if (r->isFromMe != 0) return ToQ(r->date) + QStringLiteral(" Me:");
                          return ToQ(r->date) + QLatin1Char(' ') +
                                 ChooseWho(ToQ(r->senderName), ToQ(r->pushName)) + QLatin1Char(':');
                        },
                        [](const ChatAppMessage& c) {
                          const ChatMessageRecord& r = *c.message;
                          if (r.is_sender != 0) return ToQ(r.time) + QStringLiteral(" Me:");
                          return ToQ(r.time) + QLatin1Char(' ') +
                                 ChooseWho(ToQ(r.sender), ToQ(c.chat->chat)) + QLatin1Char(':');
                        },
                    },
                    m);
}

QString CBubbleRows::Text(const Message& m) {
  return std::visit(Overloaded{[](const ChatAppMessage& c) {
                                 // A deleted message whose end was overwritten says so.
                                 return ToQ(c.message->text) +
                                        (c.message->partial ? QStringLiteral("\u2026") : QString());
                               },
                               [](const auto* r) { return ToQ(r->text); }},
                    m);
}

int CBubbleRows::ElementKind(int index) const {
  if (index <= 0 || index > Messages()) return kSeparator;
  return FromMe(m_messages[static_cast<std::size_t>(index - 1)]) ? kSent : kReceived;
}

int CBubbleRows::ElementHeight(int index) const {
  if (index <= 0 || index > Messages()) return kSeparatorHeight;
  const auto length =
      std::visit(Overloaded{[](const ChatAppMessage& c) { return c.message->text.size(); },
                            [](const auto* r) { return r->text.size(); }},
                 m_messages[static_cast<std::size_t>(index - 1)]);
  const int lines = static_cast<int>(std::min<std::size_t>(length / kBubbleCharsPerLine, 60)) + 1;
  return kBubbleHeight + std::max(0, lines - 2) * kBubbleLineHeight;
}

ui::CControlUI* CBubbleRows::BuildElement(int kind) {
  if (kind == kSeparator) {
    auto* label = new ui::CLabelUI;
    label->SetName(QStringLiteral("LblMsgSeparator"));
    label->SetAttribute(QStringLiteral("align"), QStringLiteral("center"));
    label->SetTextColor(kSeparatorColor);
    label->SetText(kMessagesSeparator);
    return label;
  }
  ui::CSkinLoader loader(&m_window);
  return loader.LoadElement(kind == kSent ? QStringLiteral("xml\\MessagesElementSend.xml")
                                          : QStringLiteral("xml\\MessagesElementRecv.xml"));
}

void CBubbleRows::FillElement(ui::CControlUI* element, int index) {
  if (index <= 0 || index > Messages()) return;
  const Message& m = m_messages[static_cast<std::size_t>(index - 1)];
  const bool deleted = Deleted(m);
  ui::CControlUI* header = ui::FindControl(element, QStringLiteral("LblMsgHeader"));
  ui::CControlUI* bubble = ui::FindControl(element, QStringLiteral("LblMsgBubble"));
  if (header) header->SetText(Header(m));
  if (bubble) {
    bubble->SetText(Text(m));
    bubble->setToolTip(Text(m));
  }
  Paint(header, kDeletedColor, deleted);
  Paint(bubble, kDeletedColor, deleted);
}

// ---- the pane ------------------------------------------------------------------------

CPreviewVrtWnd::CPreviewVrtWnd(CMainWnd& main, ui::CSkinWindow& window)
    : CBaseVrtWnd(main, window, QStringLiteral("PreviewVtrWnd"), "PreviewProcessWnd"),
      m_bubbles(window) {
  m_pictureTimer.setInterval(kPictureRetryMs);
  QObject::connect(&m_pictureTimer, &QTimer::timeout, [this] { OnPictureTimer(); });
}

CPreviewVrtWnd::~CPreviewVrtWnd() {
  m_pictureTimer.stop();
  // The list may outlive the pane for a moment; it must not read the bubbles then.
  if (m_list && m_list->ElementSource() == &m_bubbles) m_list->SetElementSource(nullptr);
}

void CPreviewVrtWnd::OnInit() {
  m_list = FindAs<ui::CListUI>(QStringLiteral("MessagesList"));
  m_edit = FindAs<ui::CRichEditUI>(QStringLiteral("PreviewEdit"));
  m_media = FindAs<CMediaPlayerUI>(QStringLiteral("PreviewMedia"));
  CBaseVrtWnd::OnInit();
}

void CPreviewVrtWnd::ApplyTexts() {
  if (ui::CControlUI* pane = Find(QStringLiteral("PreviewLayout")))
    lang::CLanguageStore::instance().apply(pane, LanguageSection());
}

void CPreviewVrtWnd::SetMode(PreviewMode mode) {
  m_mode = mode;
  m_pictureTimer.stop();
  m_pictureShown = false;
  if (m_list) {
    m_list->RemoveAll();
    m_list->SetVisible(mode == PreviewMode::kList);
  }
  if (m_edit) {
    m_edit->Clear();
    m_edit->SetVisible(mode == PreviewMode::kText);
  }
  if (m_media) m_media->SetVisible(mode == PreviewMode::kMedia);
}

void CPreviewVrtWnd::StopMedia() {
  if (m_media) m_media->Stop();
}

void CPreviewVrtWnd::Clear() {
  m_row.reset();
  StopMedia();
  m_kind = PreviewKind::kNone;
  SetMode(PreviewMode::kNone);
  m_bubbles.Set({});
}

void CPreviewVrtWnd::ShowRow(const PreviewRow& row) {
  m_row = row;
  StopMedia();
  m_kind = PreviewKind::kNone;
  m_mediaResult = 0;
  std::visit(Overloaded{
                 [this](const MediaItem* i) { ShowMedia(*i); },
                 [this](const AppMediaItem* i) { ShowMedia(*i); },
                 [this](const AttachmentItem* i) { ShowMedia(*i); },
                 [this](const MessageRecord* r) { ShowConversation(*r); },
                 [this](const WhatsAppMessageRecord* r) { ShowChat(*r); },
                 [this](const ChatAppChat* r) { ShowChatApp(*r); },
                 [this](const ContactRecord* r) { ShowContact(*r); },
                 [this](const NoteRecord* r) { ShowNote(*r); },
                 [this](const ReminderRecord* r) {
                   ShowFields({{QStringLiteral("Title"), r->title},
                               {QStringLiteral("List"), r->list},
                               {QStringLiteral("Due"), r->due},
                               {QStringLiteral("Completed"), r->completionDate},
                               {QStringLiteral("Notes"), r->notes}},
                              r->deleted != 0);
                 },
                 [this](const CalendarEventRecord* r) {
                   ShowFields({{QStringLiteral("Title"), r->title},
                               {QStringLiteral("Calendar"), r->calendar},
                               {QStringLiteral("Start"), r->start},
                               {QStringLiteral("End"), r->end},
                               {QStringLiteral("Repeats"), r->recurrence},
                               {QStringLiteral("Location"), r->location},
                               {QStringLiteral("URL"), r->url},
                               {QStringLiteral("Notes"), r->notes}},
                              r->deleted != 0);
                 },
                 [this](const BookmarkRecord* r) {
                   ShowFields({{QStringLiteral("Title"), r->title},
                               {QStringLiteral("Folder"), BookmarkFolderText(*r)},
                               {QStringLiteral("URL"), r->url}},
                              r->deleted != 0);
                 },
                 // A call has nothing more to show than its row.
                 [this](const CallRecord*) { SetMode(PreviewMode::kNone); },
                 [this](const StatNode*) { SetMode(PreviewMode::kNone); },
                 [this](std::monostate) { SetMode(PreviewMode::kNone); },
             },
             row.item);
}

void CPreviewVrtWnd::ShowBubbles(std::vector<CBubbleRows::Message> messages) {
  SetMode(PreviewMode::kList);
  m_bubbles.Set(std::move(messages));
  if (m_list) m_list->SetElementSource(&m_bubbles);
}

void CPreviewVrtWnd::ShowConversation(const MessageRecord& row) {
  std::vector<CBubbleRows::Message> messages;
  const auto& stores = Main().ScanPage().Session().Stores();
  if (auto it = stores.conversations.find(row.handleId); it != stores.conversations.end()) {
    messages.reserve(it->second.size());
    for (const auto& m : it->second) messages.emplace_back(&m);
  }
  ShowBubbles(std::move(messages));
}

void CPreviewVrtWnd::ShowChat(const WhatsAppMessageRecord& row) {
  std::vector<CBubbleRows::Message> messages;
  const auto& stores = Main().ScanPage().Session().Stores();
  if (auto it = stores.chats.find(row.sessionId); it != stores.chats.end()) {
    messages.reserve(it->second.size());
    for (const auto& m : it->second) messages.emplace_back(&m);
  }
  ShowBubbles(std::move(messages));
}

void CPreviewVrtWnd::ShowChatApp(const ChatAppChat& row) {
  std::vector<CBubbleRows::Message> messages;
  if (row.messages != nullptr) {
    messages.reserve(row.messages->size());
    for (const ChatMessageRecord& m : *row.messages)
      messages.emplace_back(CBubbleRows::ChatAppMessage{&m, &row});
  }
  ShowBubbles(std::move(messages));
}

void CPreviewVrtWnd::ShowContact(const ContactRecord& contact) {
  SetMode(PreviewMode::kList);
  if (!m_list) return;
  ui::CSkinLoader loader(&Window());
  ui::CControlUI* card = loader.LoadElement(QStringLiteral("xml\\ContactInfo.xml"));
  if (!card) return;
  const bool deleted = contact.deleted != 0;
  auto text = [&](const char* name) { return ui::FindControl(card, QString::fromLatin1(name)); };
  if (ui::CControlUI* user = text("TxtUserName")) {
    user->SetText(ToQ(contact.name));
    Paint(user, kDeletedColor, deleted);
  }
  struct Pair {
    const char* label;
    const char* value;
    QString text;
  };
  const Pair pairs[] = {
      {"LblPhoneDesc", "TxtPhone", ToQ(contact.phone)},
      {"LblEmailDesc", "TxtEmail", ToQ(contact.email)},
      {"LblAddressDesc", "TxtAddress", ToQ(contact.address)},
      {"LblUrlDesc", "TxtUrl", ToQ(contact.url)},
      {"LblSocialDesc", "TxtSocial", ToQ(contact.extra)},
      {"LblCompanyDesc", "TxtCompany", ToQ(contact.organization)},
  };
  for (const Pair& p : pairs) {
    ui::CControlUI* label = text(p.label);
    ui::CControlUI* value = text(p.value);
    const bool shown = !p.text.isEmpty();
    if (value) {
      value->SetText(p.text);
      value->setToolTip(p.text);
      value->SetVisible(shown);
      Paint(value, kDeletedColor, deleted);
    }
    if (label) {
      label->SetVisible(shown);
      Paint(label, kDeletedColor, deleted);
      // The line of an empty field takes no room either.
      if (ui::CControlUI* line = label->GetParentContainer(); line && line != card)
        line->SetVisible(shown);
    }
  }
  m_list->AddElement(card);
}

void CPreviewVrtWnd::ShowNote(const NoteRecord& note) {
  SetMode(PreviewMode::kText);
  if (!m_edit) return;
  const QColor label = note.deleted != 0 ? kDeletedColor : kNoteLabelColor;
  const QColor body = QColor(0, 0, 0);
  m_edit->AppendText(kNoteSeparator, kSeparatorColor, Qt::AlignHCenter);
  m_edit->AppendText(QStringLiteral("Title:\n"), label, Qt::AlignLeft);
  m_edit->AppendText(QStringLiteral("    ") + ToQ(note.title) + QStringLiteral("\n"), body,
                     Qt::AlignLeft);
  m_edit->AppendText(QStringLiteral("Note:\n "), label, Qt::AlignLeft);
  m_edit->AppendText(QStringLiteral("    ") + ToQ(note.body), body, Qt::AlignLeft);
}

void CPreviewVrtWnd::ShowFields(const std::vector<std::pair<QString, std::string>>& fields,
                                bool deleted) {
  SetMode(PreviewMode::kText);
  if (!m_edit) return;
  const QColor label = deleted ? kDeletedColor : kNoteLabelColor;
  const QColor body = QColor(0, 0, 0);
  m_edit->AppendText(kNoteSeparator, kSeparatorColor, Qt::AlignHCenter);
  for (const auto& [name, value] : fields) {
    if (value.empty()) continue;
    m_edit->AppendText(name + QStringLiteral(":\n"), label, Qt::AlignLeft);
    m_edit->AppendText(QStringLiteral("    ") + ToQ(value) + QStringLiteral("\n"), body,
                       Qt::AlignLeft);
  }
}

template <typename Item>
void CPreviewVrtWnd::ShowMedia(const Item& item) {
  SetMode(PreviewMode::kText);
  m_copy.clear();
  IPhoneRecoveryParse* source = Main().ScanPage().Session().DataSource();
  if (!source) return;
  // The size on disk decides, not the listed size (which keeps only 32 bits).
  std::error_code error;
  const auto onDisk =
      std::filesystem::file_size(platform::PathFromUtf8(ToUtf8(ToQ(item.path))), error);
  const std::uint64_t size = error ? 0 : static_cast<std::uint64_t>(onDisk);
  // The copy's path in the data source's own text type.
  auto copy = item.path;
  copy.clear();
  if (size > kDirectCopyLimit) {
    CPreviewProcessWnd window(&Window(), *source, item.path, copy, ToQ(item.name));
    ++m_progressWindows;
    const int result = window.Run();
    if (result != 1) {
      // A cancelled copy is not shown, and its half is not kept.
      if (!copy.empty()) std::filesystem::remove(platform::PathFromUtf8(ToUtf8(ToQ(copy))), error);
      m_mediaResult = 2;
      return;
    }
  } else {
    source->PreparePreviewCopy(item.path, copy, nullptr, nullptr);
  }
  m_copy = ToQ(copy);
  m_kind = KindOfCopy(m_copy);
  Main().PostMessage(msg::kPreviewReady, static_cast<std::int64_t>(m_kind));
}

void CPreviewVrtWnd::OnPreviewReady(std::int64_t param) {
  const auto kind = static_cast<PreviewKind>(param);
  if (kind != m_kind || m_copy.isEmpty()) return;  // a later preview replaced this one
  switch (kind) {
    case PreviewKind::kPicture:
      m_retries = 0;
      if (!TryPicture()) m_pictureTimer.start();
      break;
    case PreviewKind::kSound:
    case PreviewKind::kVideo:
      SetMode(PreviewMode::kMedia);
      m_mediaResult = 1;
      if (m_media) m_media->Play(m_copy, kind == PreviewKind::kVideo, [this] { PlayFailed(); });
      break;
    case PreviewKind::kNone:
      break;
  }
}

bool CPreviewVrtWnd::TryPicture() {
  if (!m_edit) return false;
  m_edit->Clear();
  m_pictureShown = m_edit->AppendImageFile(m_copy);
  if (m_pictureShown) m_mediaResult = 1;
  return m_pictureShown;
}

void CPreviewVrtWnd::OnPictureTimer() {
  if (TryPicture()) {
    m_pictureTimer.stop();
    return;
  }
  if (++m_retries > kPictureRetries) {
    m_pictureTimer.stop();
    if (m_edit) {
      m_edit->Clear();
      m_edit->SetText(QStringLiteral("Can not found the file!"));
    }
  }
}

void CPreviewVrtWnd::PlayFailed() {
  m_mediaResult = 0;
  show_message(kMsgInformation, &Window(), Main().MessageText("MSG1207"), std::nullopt, 550, 200);
}

}  // namespace bv
