#include "app/print_window.h"

#include <QCloseEvent>
#include <QTimer>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <chrono>

#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/qt_text.h"
#include "app/scan_page.h"
#include "app/window_messages.h"
#include "platform/platform.h"
#include "ui/ui_controls.h"
#include "ui/ui_extra.h"

namespace bv {

namespace {
constexpr auto kDonePoll = std::chrono::milliseconds(50);
constexpr int kMaxInitTries = 10;
constexpr int kInitRetryMs = 50;

QString PathText(const std::filesystem::path& path) {
  return ToQ(platform::Utf8FromPath(path));
}

// The browser tells a page from plain text by its name: the page file ends in ".html".
std::filesystem::path PageFile(std::filesystem::path page) {
  if (page.extension() != ".html") page += ".html";
  return page;
}
}  // namespace

CPrintWnd::CPrintWnd(QWidget* owner, const CScanSession& session, std::optional<Category> category,
                     bool deletedOnly)
    : CPopUpWnd(owner, QStringLiteral("xml\\PrintWnd.xml"), "PrintWnd",
                QStringLiteral("UIPrintWnd")),
      m_session(session),
      m_category(category),
      m_deletedOnly(deletedOnly),
      m_templateFile(DefaultPrintTemplate()),
      m_pagePath(PageFile(DefaultPrintPage())) {}

CPrintWnd::~CPrintWnd() {
  // A window that goes while its page is being built stops the build first.
  m_printCancel = true;
  if (m_worker.joinable()) m_worker.join();
}

int CPrintWnd::Run() {
  return DoModal(kPrintWidth, kPrintHeight);
}

void CPrintWnd::OnInit() {
  m_printCancel = false;
  m_printDone = true;
  if (auto* tabs = Find<ui::CTabLayoutUI>(QStringLiteral("PrintTabPage"))) tabs->SelectItem(0);
  if (m_template.text.empty()) m_template = LoadPrintTemplate(m_templateFile);
  m_browser = Find<ui::CWebBrowserUI>(QStringLiteral("WebPagePrint"));
  if (m_browser) {
    QObject::connect(m_browser->View(), &QWebEngineView::printRequested, this,
                     [this] { PrintWithDialog(); });
    // Which page has loaded: the home page may finish after the print page was asked for.
    QObject::connect(m_browser->View()->page(), &QWebEnginePage::loadingChanged, this,
                     [this](const QWebEngineLoadingInfo& info) { OnLoading(info); });
  }
  // Cleared here rather than by the worker, so that a close before the worker has got
  // going waits for it.
  m_printDone = false;
  m_worker = std::thread([this] { Worker(); });
}

void CPrintWnd::Worker() {
  Result result = 1;  // no category selected: a page without content
  std::string content;
  if (m_category) {
    std::lock_guard<std::mutex> lock(m_printLock);
    result = BuildPrintContent(m_session.Stores(), m_session.Statistics(), *m_category,
                               m_deletedOnly, &m_printCancel, content);
  }
  WritePrintPage(m_template, content, m_pagePath);
  if (result == kStopped) {
    m_printDone = true;
    QMetaObject::invokeMethod(
        this, [this] { Close(2); }, Qt::QueuedConnection);
    return;
  }
  msg::Post(this, msg::kPrintReady);
  m_printDone = true;
}

bool CPrintWnd::event(QEvent* e) {
  if (e->type() == msg::CWindowMessageEvent::Type()) {
    if (static_cast<msg::CWindowMessageEvent*>(e)->Message() == msg::kPrintReady) ShowPage();
    return true;
  }
  return CPopUpWnd::event(e);
}

void CPrintWnd::ShowPage() {
  if (auto* tabs = Find<ui::CTabLayoutUI>(QStringLiteral("PrintTabPage"))) tabs->SelectItem(1);
  m_pageShown = true;
  NavigateToPage();
}

void CPrintWnd::NavigateToPage() {
  if (!m_browser) return;
  // A navigation asked for while the browser still loads its home page can be lost to
  // that load: the page waits until the home page is there.
  if (m_browser->View()->page()->isLoading() && m_navigations == 0) {
    m_pageWanted = true;
    return;
  }
  m_pageWanted = false;
  ++m_navigations;
  m_browser->Navigate(PathText(m_pagePath));
}

void CPrintWnd::OnLoading(const QWebEngineLoadingInfo& info) {
  if (!m_browser) return;
  const QUrl page = QUrl::fromLocalFile(PathText(m_pagePath));
  if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) return;
  if (info.url() != page) {
    if (m_pageWanted) NavigateToPage();
    return;
  }
  if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) CallInit();
}

void CPrintWnd::CallInit() {
  m_browser->CallScript(QStringLiteral("Init"), [this](const QString& answer) {
    // No answer yet: the page's script may still be starting; ask again shortly.
    if (answer.isEmpty() && m_initTries++ < kMaxInitTries) {
      QTimer::singleShot(kInitRetryMs, this, [this] { CallInit(); });
      return;
    }
    m_initAnswer = answer;
    m_initDone = true;
  });
}

void CPrintWnd::PrintToPdf(const QString& path, std::function<void(bool)> done) {
  if (!m_browser) {
    if (done) done(false);
    return;
  }
  m_browser->PrintToPdf(path, std::move(done));
}

void CPrintWnd::PrintWithDialog() {
  if (!m_browser || !m_pageShown) return;
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  QPrintDialog dialog(printer.get(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  // The printer lives until the next print or the window: printing runs on.
  m_printer = std::move(printer);
  PrintTo(m_printer.get(), {});
}

void CPrintWnd::PrintTo(QPrinter* printer, std::function<void(bool)> done) {
  if (!m_browser || !printer) {
    if (done) done(false);
    return;
  }
  // "Print to File (PDF)": the browser writes the PDF itself, with the page's text as
  // text (printing through the printer would give pictures of the pages).
  if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
    m_browser->PrintToPdf(printer->outputFileName(), std::move(done), printer->pageLayout());
    return;
  }
  m_browser->Print(printer, std::move(done));
}

void CPrintWnd::AskClose() {
  if (m_asking) return;
  if (m_printDone) {
    Close(1);
    return;
  }
  m_asking = true;
  // While the page is being built this waits until the build has ended.
  std::unique_lock<std::mutex> lock(m_printLock);
  const int answer =
      show_message(kMsgQuestion, this, lang::CLanguageStore::text(Messages(), "MSG0903"),
                   std::nullopt, 550, 200);
  if (answer == 1) {
    m_printCancel = true;
    lock.unlock();
    while (!m_printDone) std::this_thread::sleep_for(kDonePoll);
    Close(2);
  }
  m_asking = false;
}

void CPrintWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType == QLatin1String("click") && msg.SenderName() == QLatin1String("closebtn")) {
    AskClose();
    return;
  }
  CPopUpWnd::Notify(msg);
}

void CPrintWnd::closeEvent(QCloseEvent* e) {
  if (IsModalRunning() && isVisible() && !m_printDone) {
    e->ignore();
    AskClose();
    return;
  }
  CPopUpWnd::closeEvent(e);
}

int RunPrint(CMainWnd& main, CScanVrtWnd& page) {
  CPrintWnd wnd(&main, page.Session(), page.SelectedCategory(), page.DeletedOnly());
  return wnd.Run();
}

}  // namespace bv
