#pragma once
// The print window: the ticked records of the selected category as one HTML page
// (built by the engine from the print template on a worker of the window), shown in an
// embedded browser, from which the page prints through the system's print dialog
// (where "Print to File" saves a PDF). The close question waits while the page is
// being built.
//
// Threads: the window lives on the user-interface thread; the page is built and
// written on the window's worker, which posts message 1036 to the window when it is
// ready.
#include <QString>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/popups.h"
#include "catalogue/types.h"
#include "export/print_content.h"
#include "scan/scan_session.h"

class QPrinter;
class QWebEngineLoadingInfo;

namespace bv {

class CMainWnd;
class CScanVrtWnd;

namespace ui {
class CWebBrowserUI;
}

inline constexpr int kPrintWidth = 800;
inline constexpr int kPrintHeight = 600;

class CPrintWnd : public CPopUpWnd {
 public:
  // `category`: the selected category node (none: the page has no content); with
  // `deletedOnly` only deleted records are printed. The session has ended (or is
  // paused) and stays so while the window runs.
  CPrintWnd(QWidget* owner, const CScanSession& session, std::optional<Category> category,
            bool deletedOnly);
  ~CPrintWnd() override;

  // Where the template is read and the page written (default: the print template and
  // the print page of the data files, the page named ".html" so the browser reads it
  // as a page).
  void SetTemplateFile(std::filesystem::path file) { m_templateFile = std::move(file); }
  void SetPagePath(std::filesystem::path page) { m_pagePath = std::move(page); }
  const std::filesystem::path& PagePath() const { return m_pagePath; }

  // Runs the window modally at 800 x 600: 1 closed after the page was shown, 2 closed
  // while it was being prepared.
  int Run();

  // The state a person sees (tests).
  bool PageShown() const { return m_pageShown; }
  // True once the page's "Init" has run; its answer.
  bool InitDone() const { return m_initDone; }
  const QString& InitAnswer() const { return m_initAnswer; }
  ui::CWebBrowserUI* Browser() const { return m_browser; }
  // Prints the page to a PDF file; `done(ok)` when it is written.
  void PrintToPdf(const QString& path, std::function<void(bool)> done);
  // What the page's print action does: the system's print dialog, then PrintTo.
  void PrintWithDialog();
  // Prints the page as the dialog set up `printer`: to the printer, or, for "Print to
  // File (PDF)", to that file with the page's text as text. `done(ok)` at the end.
  void PrintTo(QPrinter* printer, std::function<void(bool)> done);

 protected:
  void OnInit() override;
  void Notify(ui::TNotifyUI& msg) override;
  void OnEscapeKey() override { AskClose(); }
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void Worker();
  void ShowPage();
  void NavigateToPage();
  void OnLoading(const QWebEngineLoadingInfo& info);
  void CallInit();
  void AskClose();

  const CScanSession& m_session;
  std::optional<Category> m_category;
  bool m_deletedOnly;
  std::filesystem::path m_templateFile;
  std::filesystem::path m_pagePath;
  PrintTemplate m_template;

  std::thread m_worker;
  std::mutex m_printLock;  // held by the worker for the whole build
  std::atomic<bool> m_printCancel{false};
  std::atomic<bool> m_printDone{true};
  bool m_asking = false;

  ui::CWebBrowserUI* m_browser = nullptr;
  std::unique_ptr<QPrinter> m_printer;
  bool m_pageShown = false;
  int m_navigations = 0;
  bool m_pageWanted = false;
  int m_initTries = 0;
  bool m_initDone = false;
  QString m_initAnswer;
};

// The print button: the print window over the page's selected category.
int RunPrint(CMainWnd& main, CScanVrtWnd& page);

}  // namespace bv
