#include "app/screenshot_tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTableView>
#include <QTreeView>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "app/itunes_backup_page.h"
#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/media_player.h"
#include "app/popups.h"
#include "app/preview_pane.h"
#include "app/print_window.h"
#include "app/qt_text.h"
#include "app/recover_window.h"
#include "app/scan_page.h"
#include "app/window_messages.h"
#include "platform/platform.h"
#include "ui/ui_extra.h"

namespace bv {

namespace {
constexpr int kPollMs = 50;
// A state must hold this long before the tour acts on it; a picture waits longer, for
// the last layouts and paints.
constexpr int kSettleMs = 120;
constexpr int kPictureSettleMs = 300;
constexpr qint64 kStepTimeoutMs = 60000;
constexpr qint64 kOptionalStepTimeoutMs = 20000;

qint64 Now() {
  return QDateTime::currentMSecsSinceEpoch();
}

ui::CSkinWindow* RunningModal() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* s = dynamic_cast<ui::CSkinWindow*>(w))
      if (s->IsModalRunning() && s->isVisible()) return s;
  return nullptr;
}

// A modal window of this type that runs now (several may, one over the other).
template <class T>
T* Modal() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = dynamic_cast<T*>(w))
      if (t->IsModalRunning() && t->isVisible()) return t;
  return nullptr;
}

CMessageBox* ModalBox(int kind) {
  auto* box = Modal<CMessageBox>();
  return box && box->Kind() == kind ? box : nullptr;
}

CDecryptionWnd* ModalPassword() {
  return dynamic_cast<CDecryptionWnd*>(RunningModal());
}

QLineEdit* PasswordEdit() {
  CDecryptionWnd* w = ModalPassword();
  auto* edit = w ? w->Find<ui::CEditUI>(QStringLiteral("EditPassword")) : nullptr;
  return edit ? edit->LineEdit() : nullptr;
}

QFileDialog* OpenFileDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QFileDialog*>(w))
      if (d->isVisible()) return d;
  return nullptr;
}

QMenu* VisibleMenu(const QString& objectName) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<QMenu*>(w))
      if (m->isVisible() && m->objectName() == objectName) return m;
  return nullptr;
}

QAction* MenuAction(QMenu* menu, const QString& name) {
  if (!menu) return nullptr;
  for (QAction* a : menu->actions())
    if (a->objectName() == name) return a;
  return nullptr;
}
}  // namespace

std::unique_ptr<CScreenshotTour> CScreenshotTour::FromEnvironment(CMainWnd& wnd) {
  const QString folder = qEnvironmentVariable("BACKVAULT_SCREENSHOTS");
  if (folder.isEmpty()) return nullptr;
  return std::make_unique<CScreenshotTour>(wnd, folder);
}

CScreenshotTour::CScreenshotTour(CMainWnd& wnd, QString folder)
    : m_wnd(wnd), m_folder(std::move(folder)) {
  QDir().mkpath(m_folder);
  // The recovery writes beside the pictures, not among them.
  m_outputFolder = QDir::cleanPath(m_folder) + QStringLiteral("-recovered");
  QDir(m_outputFolder).removeRecursively();
  QDir().mkpath(m_outputFolder);
  qApp->installEventFilter(this);
  m_startLanguage = lang::CLanguageStore::instance().language_name();
  Build();
  m_stepStarted = Now();
  QTimer::singleShot(kPollMs, this, [this] { Poll(); });
}

CScreenshotTour::~CScreenshotTour() {
  qApp->removeEventFilter(this);
}

bool CScreenshotTour::eventFilter(QObject* watched, QEvent* e) {
  if (m_holdScan && watched == &m_wnd && e->type() == msg::CWindowMessageEvent::Type() &&
      static_cast<msg::CWindowMessageEvent*>(e)->Message() == msg::kPasswordResult &&
      static_cast<msg::CWindowMessageEvent*>(e)->WParam() == 0) {
    // The backup is open: the scan waits at its next report while the picture is taken.
    CScanSession& session = m_wnd.ScanPage().Session();
    if (session.IsScanning() && !session.IsPaused()) {
      session.Pause();
      m_holdScan = false;
      m_scanHeld = true;
    }
  }
  if (m_holdRecovery && e->type() == QEvent::MetaCall) {
    // The recovery's first report: its cancel question holds the job meanwhile.
    if (auto* recovery = dynamic_cast<CRecoverProcessWnd*>(watched)) {
      m_holdRecovery = false;
      recovery->AskCancel();
    }
  }
  return QObject::eventFilter(watched, e);
}

void CScreenshotTour::Build() {
  auto add = [this](const char* what, std::function<bool()> ready, std::function<void()> act) {
    m_steps.push_back(Step{QString::fromLatin1(what), std::move(ready), std::move(act)});
  };
  auto tabIs = [this](int index) {
    auto* tab = m_wnd.Find<ui::CTabLayoutUI>(QStringLiteral("TabPage"));
    return tab && tab->GetCurSel() == index && !RunningModal();
  };
  auto list = [this] { return m_wnd.Find<ui::CListUI>(QStringLiteral("BackupFileList")); };
  // The first language on the menu that is not the one in use at the start.
  QString other;
  for (const auto& [name, display] : lang::CLanguageStore::instance().languages())
    if (name != m_startLanguage && other.isEmpty()) other = ToQ(name);
  auto languageIs = [](const QString& name) {
    return ToQ(lang::CLanguageStore::instance().language_name()) == name &&
           !VisibleMenu(QStringLiteral("menu_assist"));
  };
  // Opens the assist menu, then its language entries, and picks one.
  auto chooseLanguage = [this, add](const QString& name, const QString& shot) {
    add(
        "the assist menu", [] { return !RunningModal(); },
        [this] { ClickControl(QStringLiteral("BtnAssist")); });
    add(
        "the assist menu to open", [] { return VisibleMenu(QStringLiteral("menu_assist")); },
        [this] {
          QMenu* menu = VisibleMenu(QStringLiteral("menu_assist"));
          QAction* entry = MenuAction(menu, QStringLiteral("item_language"));
          if (!entry) return Fail(QStringLiteral("the menu has no language entry"));
          // Hovering opens the sub-menu, as it does under a person's pointer.
          const QPoint at = menu->actionGeometry(entry).center();
          QCoreApplication::postEvent(
              menu, new QMouseEvent(QEvent::MouseMove, QPointF(at), QPointF(menu->mapToGlobal(at)),
                                    Qt::NoButton, Qt::NoButton, Qt::NoModifier));
        });
    add(
        "the language entries to open", [] { return VisibleMenu(QStringLiteral("item_language")); },
        [this, name, shot] {
          if (!shot.isEmpty()) Shot(shot);
          QMenu* sub = VisibleMenu(QStringLiteral("item_language"));
          QAction* entry = MenuAction(sub, name);
          if (!entry) return Fail(QStringLiteral("no language entry named ") + name);
          ClickAt(sub, sub->actionGeometry(entry).center());
        });
  };

  add(
      "the backup list",
      [this, list] {
        return m_wnd.isVisible() && m_wnd.windowHandle() && m_wnd.windowHandle()->isExposed() &&
               list() && list()->GetRowCount() > 0;
      },
      [this, list] {
        Shot(QStringLiteral("01_backup_list"));
        // The encrypted backup, so that the password dialog comes next.
        const auto& backups = m_wnd.BackupPage().Backups();
        int row = -1;
        for (std::size_t i = 0; i < backups.size() && row < 0; ++i)
          if (backups[i].encrypted) row = static_cast<int>(i);
        if (row < 0) return Fail(QStringLiteral("no encrypted backup in the list"));
        QTableView* view = list()->View();
        ClickAt(view->viewport(), view->visualRect(view->model()->index(row, 1)).center());
        ClickControl(QStringLiteral("BtnNext1"));
      });
  add(
      "the category page", [tabIs] { return tabIs(1); },
      [this] {
        // Notes stay chosen: the preview pane shows one at the end of the walk.
        ClickControl(QStringLiteral("OptReminder"));
        ClickControl(QStringLiteral("OptCalendar"));
      });
  add(
      "some categories unticked",
      [this] {
        auto* all = m_wnd.Find<ui::CCheckBoxUI>(QStringLiteral("ChkSelAll"));
        return all && all->IsHalfChecked();
      },
      [this] {
        Shot(QStringLiteral("02_categories"));
        ClickControl(QStringLiteral("BtnNext2"));
      });
  add(
      "the password dialog", [] { return PasswordEdit() != nullptr; },
      [this] { Type(PasswordEdit(), QStringLiteral("not my password")); });
  add(
      "the typed password", [] { return PasswordEdit() && !PasswordEdit()->text().isEmpty(); },
      [this] {
        Shot(QStringLiteral("03_password"));
        QLineEdit* edit = PasswordEdit();
        Key(edit, Qt::Key_A, Qt::ControlModifier);
        Key(edit, Qt::Key_Backspace);
        ClickInModal(QStringLiteral("BtnOK"));
      });
  add(
      "the warning about the empty password", [] { return ModalBox(kMsgWarning) != nullptr; },
      [this] {
        Shot(QStringLiteral("04_empty_password"));
        // Closing the warning goes on without a password, which the backup refuses.
        ClickInModal(QStringLiteral("closebtn"));
      });
  add(
      "the wrong-password notice", [] { return ModalBox(kMsgInformation) != nullptr; },
      [this] {
        Shot(QStringLiteral("05_wrong_password"));
        ClickInModal(QStringLiteral("okbtn"));
      });
  add(
      "the password dialog again", [] { return PasswordEdit() != nullptr; },
      [this] {
        const QString password = qEnvironmentVariable("BACKVAULT_SCREENSHOTS_PASSWORD");
        Type(PasswordEdit(), password);
        ClickInModal(QStringLiteral("BtnOK"));
      });
  CScanVrtWnd* page = &m_wnd.ScanPage();
  auto clickNode = [this, page](Category c) {
    ui::CTreeNodeUI* node = page->CategoryNode(c);
    auto* tree = m_wnd.Find<ui::CTreeViewUI>(QStringLiteral("NodeTree"));
    if (!node || !tree) return Fail(QStringLiteral("no tree node for ") + page->CategoryName(c));
    QTreeView* view = tree->View();
    // The chat apps' group lies below the tree's visible part: scrolled to, as by a user.
    view->scrollTo(node->Item()->index());
    ClickAt(view->viewport(), view->visualRect(node->Item()->index()).center());
  };
  auto resultList = [this] { return m_wnd.Find<ui::CListUI>(QStringLiteral("DataList")); };
  auto clickTick = [this, resultList](int row) {
    QTableView* view = resultList()->View();
    ClickAt(view->viewport(), view->visualRect(view->model()->index(row, 0)).center());
  };
  add(
      "the scan under way", [this] { return m_scanHeld && !RunningModal(); },
      [this, page] {
        Shot(QStringLiteral("06_scanning"));
        m_scanHeld = false;
        page->Session().Resume();
      });
  add(
      "the results",
      [tabIs, page] {
        const CScanSession& session = page->Session();
        return tabIs(2) && !session.IsScanning() && !session.WrongPassword();
      },
      [this, clickNode] {
        Shot(QStringLiteral("07_results"));
        clickNode(Category::Messages);
      });
  add(
      "the messages listed",
      [page, resultList] {
        return page->SelectedCategory() == Category::Messages && resultList() &&
               resultList()->GetVisibleRowCount() > 3;
      },
      [clickTick] {
        clickTick(1);
        clickTick(2);
      });
  add(
      "two messages unticked",
      [resultList] { return !resultList()->GetRowCheck(1) && !resultList()->GetRowCheck(2); },
      [this] { ClickControl(QStringLiteral("OptOnOffFilter")); });
  add(
      "the deleted messages only", [page] { return page->DeletedOnly(); },
      [this] {
        Shot(QStringLiteral("08_filter_on"));
        ClickControl(QStringLiteral("OptOnOffFilter"));
      });
  add(
      "every message again", [page] { return !page->DeletedOnly(); },
      [this] {
        m_holdRecovery = true;
        ClickControl(QStringLiteral("BtnRecovery"));
      });
  add(
      "the folder picker for the recovery", [] { return OpenFileDialog() != nullptr; },
      [this] { OpenFileDialog()->setDirectory(m_outputFolder); });
  add(
      "the output folder in the picker",
      [this] {
        QFileDialog* dialog = OpenFileDialog();
        return dialog && dialog->directory().absolutePath() == QDir(m_outputFolder).absolutePath();
      },
      [this] {
        QFileDialog* dialog = OpenFileDialog();
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        QAbstractButton* accept = nullptr;
        if (buttons)
          for (QAbstractButton* b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) accept = b;
        if (!accept) return Fail(QStringLiteral("the folder picker has no accept button"));
        ClickWidget(accept);
      });
  add(
      "the recovery under way",
      [] { return Modal<CRecoverProcessWnd>() && ModalBox(kMsgQuestion) && !OpenFileDialog(); },
      [this] {
        Shot(QStringLiteral("09_recovery_running"));
        // Go on with the job.
        ClickWidget(ModalBox(kMsgQuestion)->FindControl(QStringLiteral("cancelbtn")));
      });
  add(
      "the recovery at its end",
      [] {
        auto* w = Modal<CRecoverProcessWnd>();
        return w && w->JobEnded() && !ModalBox(kMsgQuestion);
      },
      [this] {
        ClickWidget(Modal<CRecoverProcessWnd>()->FindControl(QStringLiteral("DetailBtn")));
      });
  add(
      "the recovery's details",
      [] {
        auto* w = Modal<CRecoverProcessWnd>();
        return w && w->DetailsShown();
      },
      [this] {
        Shot(QStringLiteral("10_recovery_done"));
        ClickWidget(Modal<CRecoverProcessWnd>()->FindControl(QStringLiteral("FinishBtn")));
      });
  add(
      "the results after the recovery", [] { return !RunningModal(); },
      [this] { ClickControl(QStringLiteral("BtnPrint")); });
  add(
      "the print page",
      [] {
        auto* w = Modal<CPrintWnd>();
        return w && w->PageShown() && w->InitDone();
      },
      [this] {
        Shot(QStringLiteral("11_print"));
        ClickWidget(Modal<CPrintWnd>()->FindControl(QStringLiteral("closebtn")));
      });
  // The preview pane, one kind of row after the other: the row is handed to the pane as
  // a click on the list would hand it.
  CPreviewVrtWnd* pane = &m_wnd.PreviewPane();
  add(
      "the results after printing", [] { return !RunningModal(); },
      [this] { ClickControl(QStringLiteral("OptOnOffPreview")); });
  auto preview = [&, page, pane, clickNode](const char* what, Category c, auto pick, auto shown,
                                            const QString& shot) {
    add((QStringLiteral("the list before the ") + QLatin1String(what)).toUtf8().constData(),
        [] { return !RunningModal(); }, [clickNode, c] { clickNode(c); });
    add((QStringLiteral("the ") + QLatin1String(what)).toUtf8().constData(),
        [page, c] { return page->SelectedCategory() == c; },
        [this, page, pane, c, pick] {
          const StatItem item = pick(page->Session().Stores());
          if (std::holds_alternative<std::monostate>(item))
            return Fail(QStringLiteral("the demo backup has nothing to preview here"));
          pane->ShowRow(PreviewRow{c, item});
        });
    add((QStringLiteral("the pane showing the ") + QLatin1String(what)).toUtf8().constData(),
        [pane, shown] { return shown(*pane); }, [this, shot] { Shot(shot); });
  };
  // The conversation and the chat with the most messages among those with a deleted one.
  preview(
      "conversation", Category::Messages,
      [](const ScanStores& s) -> StatItem {
        const MessageRecord* best = nullptr;
        std::size_t most = 0;
        for (const auto& row : s.conversationList) {
          const auto& list = s.conversations.at(row.handleId);
          if (list.size() > most && (row.deleted != 0 || !best)) best = &row, most = list.size();
        }
        return best ? StatItem(best) : StatItem();
      },
      [](const CPreviewVrtWnd& p) { return p.Mode() == PreviewMode::kList; },
      QStringLiteral("17_preview_conversation"));
  preview(
      "WhatsApp chat", Category::WhatsApp,
      [](const ScanStores& s) -> StatItem {
        const WhatsAppMessageRecord* best = nullptr;
        std::size_t most = 0;
        for (const auto& row : s.chatList) {
          const auto& list = s.chats.at(row.sessionId);
          const bool group = row.chatJids().find(',') != std::string::npos;
          if (group && list.size() > most) best = &row, most = list.size();
        }
        return best ? StatItem(best) : StatItem();
      },
      [](const CPreviewVrtWnd& p) { return p.Mode() == PreviewMode::kList; },
      QStringLiteral("18_preview_group_chat"));
  preview(
      "contact", Category::Contacts,
      [](const ScanStores& s) -> StatItem {
        for (const auto& c : s.contacts)
          if (!c.phone.empty() && !c.email.empty()) return &c;
        return s.contacts.empty() ? StatItem() : StatItem(&s.contacts.front());
      },
      [](const CPreviewVrtWnd& p) { return p.Mode() == PreviewMode::kList; },
      QStringLiteral("19_preview_contact"));
  preview(
      "note", Category::Notes,
      [](const ScanStores& s) -> StatItem {
        return s.notes.empty() ? StatItem() : StatItem(&s.notes.front());
      },
      [](const CPreviewVrtWnd& p) { return p.Mode() == PreviewMode::kText; },
      QStringLiteral("20_preview_note"));
  preview(
      "bookmark", Category::SafariBookmark,
      [](const ScanStores& s) -> StatItem {
        for (const auto& b : s.bookmarks)
          if (!b.url.empty() && !b.folder.empty()) return &b;
        return StatItem();
      },
      [](const CPreviewVrtWnd& p) { return p.Mode() == PreviewMode::kText; },
      QStringLiteral("20b_preview_bookmark"));
  // A WeChat chat with deleted messages (the most of them), in the Chat apps group.
  preview(
      "WeChat chat", Category::WeChat,
      [](const ScanStores& s) -> StatItem {
        const ChatAppChat* best = nullptr;
        for (const ChatAppChat& row : s.weChatList)
          if (!best || row.deleted > best->deleted ||
              (row.deleted == best->deleted && row.live > best->live))
            best = &row;
        return best ? StatItem(best) : StatItem();
      },
      [](const CPreviewVrtWnd& p) { return p.Mode() == PreviewMode::kList; },
      QStringLiteral("20c_preview_wechat"));
  auto media = [](const char* ext) {
    return [ext](const ScanStores& s) -> StatItem {
      for (const auto& m : s.cameraRoll)
        if (ToQ(m.name).endsWith(QLatin1String(ext), Qt::CaseInsensitive) && m.size > 512)
          return &m;
      return StatItem();
    };
  };
  preview(
      "picture", Category::CameraRoll, media(".png"),
      [](const CPreviewVrtWnd& p) { return p.PictureShown(); },
      QStringLiteral("21_preview_picture"));
  preview(
      "film", Category::CameraRoll, media(".avi"),
      [](const CPreviewVrtWnd& p) {
        const CMediaPlayerUI* player = p.MediaPlayer();
        // Under way, or at its end (a busy machine may miss the short film's middle): a
        // frame is shown either way.
        if (!player || !player->Player()->hasVideo()) return false;
        const QMediaPlayer* m = player->Player();
        return (m->playbackState() == QMediaPlayer::PlayingState && m->position() > 300) ||
               m->mediaStatus() == QMediaPlayer::EndOfMedia;
      },
      QStringLiteral("22_preview_video"));
  // On a loaded machine the film may not show a frame in time, or may not start at all.
  m_steps.back().optional = true;
  add(
      "nothing playing when the walk goes on",
      [this] {
        // A film that could not start says so in a box; the walk closes it.
        if (ModalBox(kMsgInformation)) ClickInModal(QStringLiteral("closebtn"));
        return !RunningModal();
      },
      [pane] { pane->Clear(); });

  if (!other.isEmpty()) {
    chooseLanguage(other, QStringLiteral("12_assist_menu"));
    add(
        "the texts of the other language", [languageIs, other] { return languageIs(other); },
        [this] { ClickControl(QStringLiteral("OptStep1")); });
    add(
        "the backup list in the other language", [tabIs] { return tabIs(0); },
        [this, other] {
          Shot(QStringLiteral("13_backup_list_") + other);
          ClickControl(QStringLiteral("OptStep2"));
        });
    add(
        "the categories in the other language", [tabIs] { return tabIs(1); },
        [this, other] { Shot(QStringLiteral("14_categories_") + other); });
    chooseLanguage(ToQ(m_startLanguage), QString());
    add(
        "the texts of the first language",
        [this, languageIs] { return languageIs(ToQ(m_startLanguage)); }, [] {});
  }
  add(
      "the backup list for browsing", [] { return !RunningModal(); },
      [this] { ClickControl(QStringLiteral("OptStep1")); });
  add(
      "the browse button", [tabIs] { return tabIs(0); },
      [this] { ClickControl(QStringLiteral("BtnSelDir")); });
  // A folder that holds no backup: the data folder above the backup root.
  const QString notABackup = QString::fromStdU16String(platform::AppDataFolder().u16string());
  add(
      "the folder picker", [] { return OpenFileDialog() != nullptr; },
      [notABackup] { OpenFileDialog()->setDirectory(notABackup); });
  add(
      "the folder picker showing the data folder",
      [notABackup] {
        QFileDialog* dialog = OpenFileDialog();
        return dialog && dialog->directory().absolutePath() == QDir(notABackup).absolutePath();
      },
      [this] {
        Shot(QStringLiteral("15_folder_picker"));
        QFileDialog* dialog = OpenFileDialog();
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        QAbstractButton* accept = nullptr;
        if (buttons)
          for (QAbstractButton* b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) accept = b;
        if (!accept) return Fail(QStringLiteral("the folder picker has no accept button"));
        ClickWidget(accept);
      });
  add(
      "the question about a folder without a backup",
      [] { return ModalBox(kMsgQuestion) != nullptr && !OpenFileDialog(); },
      [this] {
        Shot(QStringLiteral("16_not_a_backup"));
        ClickInModal(QStringLiteral("closebtn"));
      });
  add(
      "the end", [] { return !RunningModal() && !OpenFileDialog(); }, [this] { Finish(); });
}

void CScreenshotTour::Poll() {
  if (m_done) return;
  if (m_inShot) {  // a picture is being settled: the next step waits for it
    QTimer::singleShot(kPollMs, this, [this] { Poll(); });
    return;
  }
  if (m_next >= m_steps.size()) return Finish();
  Step& step = m_steps[m_next];
  const qint64 now = Now();
  if (!step.ready()) {
    m_readySince = 0;
    if (now - m_stepStarted > (step.optional ? kOptionalStepTimeoutMs : kStepTimeoutMs)) {
      if (!step.optional) return Fail(QStringLiteral("waited in vain for ") + step.what);
      std::fprintf(stderr, "screenshot tour: left out %s\n", qPrintable(step.what));
      ++m_next;
      m_stepStarted = now;
    }
    QTimer::singleShot(kPollMs, this, [this] { Poll(); });
    return;
  }
  // The state has to hold for a moment (layouts, the pop-up's first paint, a message
  // still queued) before the tour acts on it.
  if (m_readySince == 0) m_readySince = now;
  if (now - m_readySince < kSettleMs) {
    QTimer::singleShot(kPollMs, this, [this] { Poll(); });
    return;
  }
  ++m_next;
  m_stepStarted = now;
  m_readySince = 0;
  // The next poll is queued before acting: an action that opens a modal pop-up returns
  // only when the pop-up closes, and the polls go on inside its loop.
  QTimer::singleShot(kPollMs, this, [this] { Poll(); });
  step.act();
}

void CScreenshotTour::Fail(const QString& why) {
  if (m_done) return;
  std::fprintf(stderr, "screenshot tour: %s\n", qPrintable(why));
  m_failed = true;
  Finish();
}

void CScreenshotTour::Finish() {
  if (m_done) return;
  m_done = true;
  // Leave the settings as they were, whatever the tour got to.
  lang::CLanguageStore& store = lang::CLanguageStore::instance();
  if (store.language_name() != m_startLanguage) store.set_language(m_startLanguage);
  if (!m_failed) std::printf("screenshot tour: %d pictures in %s\n", m_shots, qPrintable(m_folder));
  std::fflush(stdout);
  // Closes every pop-up and ends the program (from inside a modal loop too).
  QApplication::exit(m_failed ? 1 : 0);
}

void CScreenshotTour::Shot(const QString& name) {
  m_inShot = true;
  QElapsedTimer settle;
  settle.start();
  while (settle.elapsed() < kPictureSettleMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
  m_inShot = false;
  QScreen* screen = m_wnd.screen();
  if (!screen) return Fail(QStringLiteral("no screen to grab"));
  // The picture is the part of the screen that the program's windows cover.
  QRect area;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && !w->isMinimized()) area |= w->frameGeometry();
  area &= screen->geometry();
  const QPixmap full = screen->grabWindow(0);
  const QPixmap part =
      area.isEmpty() ? full : full.copy(area.translated(-screen->geometry().topLeft()));
  const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
  if (part.isNull() || !part.save(path)) return Fail(QStringLiteral("could not write ") + path);
  ++m_shots;
  std::printf("%s\n", qPrintable(path));
  std::fflush(stdout);
}

void CScreenshotTour::ClickAt(QWidget* w, const QPoint& local) {
  if (!w) return Fail(QStringLiteral("nothing to click"));
  const QPointF at(local);
  const QPointF global(w->mapToGlobal(local));
  QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                 Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                 Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

void CScreenshotTour::ClickWidget(QWidget* w) {
  if (!w) return Fail(QStringLiteral("nothing to click"));
  ClickAt(w, w->rect().center());
}

void CScreenshotTour::ClickControl(const QString& name) {
  ui::CControlUI* c = m_wnd.FindControl(name);
  if (!c) return Fail(QStringLiteral("no control named ") + name);
  ClickWidget(c);
}

void CScreenshotTour::ClickInModal(const QString& name) {
  ui::CSkinWindow* modal = RunningModal();
  ui::CControlUI* c = modal ? modal->FindControl(name) : nullptr;
  if (!c) return Fail(QStringLiteral("no pop-up control named ") + name);
  ClickWidget(c);
}

void CScreenshotTour::Key(QWidget* w, int key, Qt::KeyboardModifiers mods) {
  if (!w) return Fail(QStringLiteral("nothing to type into"));
  QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, key, mods));
  QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyRelease, key, mods));
}

void CScreenshotTour::Type(QWidget* w, const QString& text) {
  if (!w) return Fail(QStringLiteral("nothing to type into"));
  for (const QChar c : text) {
    QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, 0, Qt::NoModifier, QString(c)));
    QCoreApplication::postEvent(w,
                                new QKeyEvent(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c)));
  }
}

}  // namespace bv
