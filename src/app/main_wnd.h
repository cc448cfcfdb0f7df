#pragma once
// The main window, built from "xml\skin.xml" of the embedded skin archive. It owns the
// backup catalogue and the four pages (registered as virtual windows), routes the
// skin's notifications, and handles the window messages that pages, menus and worker
// threads post to it. A frameless window: the skin's caption strip drags it and its
// size-box margins resize it. UI-thread only; PostMessage may be called from any thread.
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/lang/language_store.h"
#include "catalogue/backup_catalog.h"
#include "ui/skin_window.h"
#include "ui/ui_extra.h"

namespace bv {

class CItunesBackupVrtWnd;
class CSpecifyFileVrtWnd;
class CScanVrtWnd;
class CPreviewVrtWnd;

inline constexpr const char* kProductTitle = "Tarnwick Backvault Pro";
inline constexpr int kMainWidth = 1000;
inline constexpr int kMainHeight = 665;

// Opens a web page or file in the system's browser (tests replace the opener).
using UrlOpener = std::function<void(const QUrl&)>;
void SetUrlOpener(UrlOpener opener);
void OpenUrl(const QUrl& url);

// The address configured in config.ini, section "Links", for one of the messages 1124
// (key "Help"), 1125 ("FAQ"), 1128 ("About") and 1129 ("Support"). An address without a
// scheme names a file beside config.ini. Empty when none is configured.
QUrl ConfiguredPage(const std::string& configPath, int message);

class CMainWnd : public ui::CSkinWindow {
 public:
  CMainWnd();
  ~CMainWnd() override;

  // The control factory: the program's own tags (Pagination, FileTree, DiskList,
  // ButtonEx, ButtonGif, LabelEx); nullptr for any other tag.
  ui::CControlUI* CreateControl(const QString& tag) override;
  void Notify(ui::TNotifyUI& msg) override;

  BackupCatalog& Catalog() { return m_catalog; }
  CItunesBackupVrtWnd& BackupPage() { return *m_backupPage; }
  CSpecifyFileVrtWnd& CategoryPage() { return *m_categoryPage; }
  CScanVrtWnd& ScanPage() { return *m_scanPage; }
  CPreviewVrtWnd& PreviewPane() { return *m_previewPane; }

  // A text of the Messages section of the language in use ("" when missing).
  std::string MessageText(const std::string& id);

  // Queues a window message for this window. Any thread.
  void PostMessage(int message, std::int64_t wParam = 0);
  // Selects the wizard step 1, 2 or 3 (its option and its tab).
  void SelectStep(int step);
  // Enables or disables the wizard area ("MainTabPage").
  void EnableTabPage(bool enable);
  // The assist menu last opened; null before the first.
  ui::CMenuWnd* AssistMenu() const { return m_assistMenu.get(); }
  // A second start of the program asks for this window: shows it normally in front.
  bool RaiseFromOtherInstance();

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  void OnWindowInit();
  void OnMessage(int message, std::int64_t wParam, const QString& text);
  void OnPasswordResult(std::int64_t wParam);
  void OnStepChanged(ui::CControlUI* option);
  void ShowAssistMenu();
  void OnMenuItem(const QString& name);
  void ApplyTexts();
  void UpdateCaptionButtons();

  BackupCatalog m_catalog;
  std::unique_ptr<CItunesBackupVrtWnd> m_backupPage;
  std::unique_ptr<CSpecifyFileVrtWnd> m_categoryPage;
  std::unique_ptr<CScanVrtWnd> m_scanPage;
  std::unique_ptr<CPreviewVrtWnd> m_previewPane;
  std::unique_ptr<ui::CMenuWnd> m_assistMenu;
  // Header labels, bound at "windowinit".
  ui::CControlUI* m_txtIosDevice1 = nullptr;
  ui::CControlUI* m_txtIosDevice2 = nullptr;
  ui::CControlUI* m_txtBackupFile1 = nullptr;
  ui::CControlUI* m_txtBackupFile2 = nullptr;
  ui::CControlUI* m_lblProductName = nullptr;
};

}  // namespace bv
