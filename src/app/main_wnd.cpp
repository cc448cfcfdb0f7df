#include "app/main_wnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include "app/itunes_backup_page.h"
#include "app/lang/ini_file.h"
#include "app/media_player.h"
#include "app/popups.h"
#include "app/preview_pane.h"
#include "app/qt_text.h"
#include "app/scan_page.h"
#include "app/specify_file_page.h"
#include "app/recovery_settings.h"
#include "app/window_messages.h"
#include "catalogue/discovery.h"
#include "common/version.h"
#include "platform/platform.h"
#include "scan/data_source_factory.h"
#include "ui/ui_custom.h"

namespace bv {

namespace {
UrlOpener g_urlOpener;

constexpr char kMenuCheckImage[] = "file='Controls.png' source='359,38,375,54' dest='0,4,16,20'";

lang::CLanguageStore& Store() {
  return lang::CLanguageStore::instance();
}

// The options of the wizard's steps, 1 to 3.
QString StepOptionName(int step) {
  return QStringLiteral("OptStep%1").arg(step);
}
}  // namespace

void SetUrlOpener(UrlOpener opener) {
  g_urlOpener = std::move(opener);
}

void OpenUrl(const QUrl& url) {
  if (url.isEmpty()) return;
  if (g_urlOpener) {
    g_urlOpener(url);
    return;
  }
  QDesktopServices::openUrl(url);
}

QUrl ConfiguredPage(const std::string& configPath, int message) {
  const char* key = message == msg::kHelp      ? "Help"
                    : message == msg::kFaq     ? "FAQ"
                    : message == msg::kAbout   ? "About"
                    : message == msg::kSupport ? "Support"
                                               : nullptr;
  if (!key) return {};
  std::vector<lang::IniSection> ini;
  if (!lang::ReadIniFile(platform::PathFromUtf8(configPath), &ini)) return {};
  for (const auto& section : ini) {
    if (section.name != "Links") continue;
    for (const auto& [k, v] : section.lines) {
      if (k != key) continue;
      const QString value = ToQ(v).trimmed();
      if (value.isEmpty()) return {};
      QUrl url(value);
      if (url.scheme().isEmpty()) {
        const QDir dir = QFileInfo(ToQ(configPath)).dir();
        return QUrl::fromLocalFile(QDir::cleanPath(dir.absoluteFilePath(value)));
      }
      // Web pages, mail and files only: a configured address never runs anything.
      const QString scheme = url.scheme().toLower();
      if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
          scheme == QLatin1String("mailto") || scheme == QLatin1String("file"))
        return url;
      return {};
    }
  }
  return {};
}

// ---------------------------------------------------------------------------------

CMainWnd::CMainWnd() {
  // The skin draws the caption and the frame; hit-testing gives the window its moves.
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint);
  setWindowTitle(QString::fromLatin1(kProductTitle));
  SetSkinFile(QStringLiteral("xml\\skin.xml"));
  SetWindowClassName(QStringLiteral("FileRecoveryWnd"));
  InitCatalog(m_catalog);
  m_backupPage = std::make_unique<CItunesBackupVrtWnd>(*this, *this);
  m_categoryPage = std::make_unique<CSpecifyFileVrtWnd>(*this, *this);
  m_scanPage = std::make_unique<CScanVrtWnd>(*this, *this);
  m_previewPane = std::make_unique<CPreviewVrtWnd>(*this, *this);
  for (CBaseVrtWnd* page : std::initializer_list<CBaseVrtWnd*>{
           m_backupPage.get(), m_categoryPage.get(), m_scanPage.get(), m_previewPane.get()})
    AddVirtualWnd(page->VirtualName(), page);
  // Return and Escape never reach a control of this window (see eventFilter).
  qApp->installEventFilter(this);
}

CMainWnd::~CMainWnd() {
  qApp->removeEventFilter(this);
  // The worker posts to this window: it ends before anything else goes.
  m_scanPage->Shutdown();
  m_previewPane->StopMedia();
  for (CBaseVrtWnd* page : std::initializer_list<CBaseVrtWnd*>{
           m_backupPage.get(), m_categoryPage.get(), m_scanPage.get(), m_previewPane.get()})
    RemoveVirtualWnd(page->VirtualName());
  m_assistMenu.reset();
  DestroyCatalog(m_catalog);
}

ui::CControlUI* CMainWnd::CreateControl(const QString& tag) {
  if (tag == QLatin1String("MediaPlayer")) return new CMediaPlayerUI;
  return ui::CreateProgramControl(tag);
}

std::string CMainWnd::MessageText(const std::string& id) {
  return lang::CLanguageStore::text(Store().section("Messages"), id);
}

void CMainWnd::PostMessage(int message, std::int64_t wParam) {
  msg::Post(this, message, wParam);
}

void CMainWnd::Notify(ui::TNotifyUI& msg) {
  const QString name = msg.SenderName();
  if (msg.sType == QLatin1String("windowinit")) {
    OnWindowInit();
  } else if (msg.sType == QLatin1String("click")) {
    if (name == QLatin1String("BtnAssist"))
      ShowAssistMenu();
    else if (name == QLatin1String("minbtn"))
      showMinimized();
    else if (name == QLatin1String("maxbtn"))
      showMaximized();
    else if (name == QLatin1String("restorebtn"))
      showNormal();
    else if (name == QLatin1String("closebtn"))
      close();
    else if (name == QLatin1String("BtnScanPause") || name == QLatin1String("BtnScanStop"))
      m_scanPage->Notify(msg);
  } else if (msg.sType == QLatin1String("timer")) {
    // The header's progress bar keeps the scan page's counts fresh.
    if (name == QLatin1String("ProgressScan")) m_scanPage->Notify(msg);
  } else if (msg.sType == QLatin1String("selectchanged")) {
    if (name.startsWith(QLatin1String("OptStep"))) OnStepChanged(msg.pSender);
  } else if (msg.sType == QLatin1String("itemclick")) {
    OnMenuItem(name);
  }
}

void CMainWnd::OnWindowInit() {
  m_txtIosDevice1 = FindControl(QStringLiteral("TxtIosDevice1"));
  m_txtIosDevice2 = FindControl(QStringLiteral("TxtIosDevice2"));
  m_txtBackupFile1 = FindControl(QStringLiteral("TxtBackupFile1"));
  m_txtBackupFile2 = FindControl(QStringLiteral("TxtBackupFile2"));
  m_lblProductName = FindControl(QStringLiteral("LblProductName"));
  ApplyTexts();
  m_backupPage->OnInit();
  m_categoryPage->OnInit();
  m_scanPage->OnInit();
  m_previewPane->OnInit();
  UpdateCaptionButtons();
}

void CMainWnd::ApplyTexts() {
  Store().apply(this, "MainWnd");
  // The footer shows this build's version, through the language's pattern.
  if (ui::CControlUI* version = FindControl(QStringLiteral("LblVersion"))) {
    std::string pattern = lang::CLanguageStore::text(Store().section("MainWnd"), "LblVersion");
    if (pattern.find("%s") == std::string::npos) pattern = "Version %s";
    const std::string number = ToUtf8(QString::fromLatin1(kVersion));
    version->SetText(ToQ(lang::FormatMessageArgs(pattern, {number})));
    version->NeedParentUpdate();
  }
}

bool CMainWnd::event(QEvent* e) {
  if (e->type() == msg::CWindowMessageEvent::Type()) {
    const auto* m = static_cast<msg::CWindowMessageEvent*>(e);
    OnMessage(m->Message(), m->WParam(), m->Text());
    return true;
  }
  return ui::CSkinWindow::event(e);
}

void CMainWnd::OnMessage(int message, std::int64_t wParam, const QString& text) {
  switch (message) {
    case msg::kPreviewReady:
      m_previewPane->OnPreviewReady(wParam);
      break;
    case msg::kLanguageChanged:
      ApplyTexts();
      m_backupPage->ApplyTexts();
      m_categoryPage->ApplyTexts();
      m_scanPage->ApplyTexts();
      m_previewPane->ApplyTexts();
      break;
    case msg::kStartScan:
      SelectStep(3);
      if (!m_scanPage->StartScan(static_cast<std::int32_t>(wParam))) {
        // Nothing could start: the categories again, ready for another try.
        m_categoryPage->SetIdle();
        SelectStep(2);
      }
      break;
    case msg::kScanEnded:
      m_scanPage->OnWorkerMessage(message, wParam, text);
      // However the scan ended, the wizard is usable again (a backup that could not be
      // opened never reports the open state that re-enables it).
      m_categoryPage->SetIdle();
      break;
    case msg::kUpdateCounts:
    case msg::kCategorySelection:
    case msg::kScanProgress:
    case msg::kScanWarning:
    case msg::kScanSourceProblem:
      m_scanPage->OnWorkerMessage(message, wParam, text);
      break;
    case msg::kPasswordResult:
      m_scanPage->OnWorkerMessage(message, wParam, text);
      OnPasswordResult(wParam);
      break;
    case msg::kHelp:
    case msg::kFaq:
    case msg::kAbout:
    case msg::kSupport:
      OpenUrl(ConfiguredPage(Store().ConfigPath(), message));
      break;
    default:
      break;
  }
}

void CMainWnd::OnPasswordResult(std::int64_t wParam) {
  if (m_scanPage->SourceKind() != kLocalBackupSource) return;
  if (wParam == 0) {
    m_categoryPage->SetIdle();
    return;
  }
  if (wParam != 1) return;
  show_message(kMsgInformation, this, MessageText("MSG0302"));
  if (m_categoryPage->AskPassword()) {
    PostMessage(msg::kStartScan, kLocalBackupSource);
    return;
  }
  m_categoryPage->SetIdle();
  // The scan page has nothing to show for a backup that stayed locked.
  SelectStep(2);
}

void CMainWnd::OnStepChanged(ui::CControlUI* option) {
  if (!option || !option->IsSelected()) return;
  const QString name = option->GetName();
  int index = -1;
  for (int step = 1; step <= 3; ++step)
    if (name == StepOptionName(step)) index = step - 1;
  if (index < 0) return;
  // Sound and video stop when their page is left.
  if (index != 2) m_previewPane->StopMedia();
  if (auto* tab = Find<ui::CTabLayoutUI>(QStringLiteral("TabPage"))) tab->SelectItem(index);
}

void CMainWnd::SelectStep(int step) {
  auto* option = Find<ui::COptionUI>(StepOptionName(step));
  if (!option) return;
  if (step == 3) option->SetEnabled(true);
  if (!option->IsSelected())
    option->Selected(true);  // its "selectchanged" shows the tab
  else if (auto* tab = Find<ui::CTabLayoutUI>(QStringLiteral("TabPage")))
    tab->SelectItem(step - 1);
}

void CMainWnd::EnableTabPage(bool enable) {
  if (ui::CControlUI* tab = FindControl(QStringLiteral("MainTabPage"))) tab->SetEnabled(enable);
}

void CMainWnd::ShowAssistMenu() {
  auto menu = std::make_unique<ui::CMenuWnd>();
  if (!menu->Init(this, QStringLiteral("xml\\menu_assist.xml"))) return;
  for (const auto& [key, text] : Store().section("MenuWnd"))
    if (menu->HasElement(ToQ(key))) menu->SetElementText(ToQ(key), ToQ(text));
  const auto& languages = Store().languages();
  for (const auto& [name, display] : languages)
    menu->AddChildElement(
        QStringLiteral("item_language"), ToQ(name), ToQ(display),
        name == Store().language_name() ? QString::fromLatin1(kMenuCheckImage) : QString());
  // The recovery's one option, ticked while it is on.
  if (ReadRecoverySettings(Store()).heicJpeg)
    menu->SetElementImage(QStringLiteral("item_heic_jpeg"), QString::fromLatin1(kMenuCheckImage));
  // With more than one language to choose from, the entry is worth showing.
  if (languages.size() > 1) menu->SetElementVisible(QStringLiteral("item_language"), true);
  // The previous menu is closed by now; it goes here, never from inside its own handler.
  m_assistMenu = std::move(menu);
  QPoint at = mapToGlobal(QPoint(0, 0));
  if (ui::CControlUI* button = FindControl(QStringLiteral("BtnAssist")))
    at = button->mapToGlobal(button->rect().bottomLeft() + QPoint(0, 1));
  m_assistMenu->ShowAt(at);
}

void CMainWnd::OnMenuItem(const QString& name) {
  if (name == QLatin1String("item_help")) {
    PostMessage(msg::kHelp);
  } else if (name == QLatin1String("item_faq")) {
    PostMessage(msg::kFaq);
  } else if (name == QLatin1String("item_about")) {
    PostMessage(msg::kAbout);
  } else if (name == QLatin1String("item_support")) {
    PostMessage(msg::kSupport);
  } else if (name == QLatin1String("item_heic_jpeg")) {
    RecoverySettings settings = ReadRecoverySettings(Store());
    settings.heicJpeg = !settings.heicJpeg;
    if (!WriteRecoverySettings(Store(), settings))
      show_message(kMsgWarning, this, MessageText("MSG0904"), std::nullopt, 550, 200);
  } else if (name == QLatin1String("item_exit")) {
    close();
  } else {
    const std::string language = ToUtf8(name);
    for (const auto& entry : Store().languages()) {
      if (entry.first != language) continue;
      if (Store().set_language(language)) PostMessage(msg::kLanguageChanged);
      return;
    }
  }
}

bool CMainWnd::RaiseFromOtherInstance() {
  showNormal();
  raise();
  activateWindow();
  return true;
}

bool CMainWnd::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
      auto* w = qobject_cast<QWidget*>(watched);
      if (w && w->window() == this) {
        e->accept();
        return true;
      }
    }
  } else if (e->type() == QEvent::MouseMove) {
    // Over the size-box margins the pointer shows which way the window resizes.
    auto* w = qobject_cast<QWidget*>(watched);
    auto* me = static_cast<QMouseEvent*>(e);
    if (w && w->window() == this && me->buttons() == Qt::NoButton) {
      const Hit h = HitTest(mapFromGlobal(me->globalPosition().toPoint()));
      Qt::CursorShape shape = Qt::ArrowCursor;
      if (h == Hit::Left || h == Hit::Right)
        shape = Qt::SizeHorCursor;
      else if (h == Hit::Top || h == Hit::Bottom)
        shape = Qt::SizeVerCursor;
      else if (h == Hit::TopLeft || h == Hit::BottomRight)
        shape = Qt::SizeFDiagCursor;
      else if (h == Hit::TopRight || h == Hit::BottomLeft)
        shape = Qt::SizeBDiagCursor;
      if (shape == Qt::ArrowCursor)
        unsetCursor();
      else
        setCursor(shape);
    }
  }
  return ui::CSkinWindow::eventFilter(watched, e);
}

void CMainWnd::closeEvent(QCloseEvent* e) {
  if (!m_scanPage->QueryClose()) {
    e->ignore();
    return;
  }
  if (m_assistMenu && m_assistMenu->Menu()) m_assistMenu->Menu()->hide();
  ui::CSkinWindow::closeEvent(e);
}

void CMainWnd::changeEvent(QEvent* e) {
  if (e->type() == QEvent::WindowStateChange) UpdateCaptionButtons();
  ui::CSkinWindow::changeEvent(e);
}

void CMainWnd::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && HitTest(e->position().toPoint()) == Hit::Caption) {
    if (isMaximized())
      showNormal();
    else
      showMaximized();
    e->accept();
    return;
  }
  ui::CSkinWindow::mouseDoubleClickEvent(e);
}

void CMainWnd::UpdateCaptionButtons() {
  const bool maximized = isMaximized();
  if (ui::CControlUI* b = FindControl(QStringLiteral("maxbtn"))) b->SetVisible(!maximized);
  if (ui::CControlUI* b = FindControl(QStringLiteral("restorebtn"))) b->SetVisible(maximized);
}

}  // namespace bv
