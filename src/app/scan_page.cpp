#include "app/scan_page.h"

#include "app/main_wnd.h"
#include "app/popups.h"
#include "app/qt_text.h"
#include "app/window_messages.h"
#include "scan/data_source_factory.h"

namespace bv {

CScanVrtWnd::CScanVrtWnd(CMainWnd& main, ui::CSkinWindow& window)
    : CBaseVrtWnd(main, window, QStringLiteral("ScanVtrWnd"), L"PageScan") {
  m_session.SetEventSink(this);
}

CScanVrtWnd::~CScanVrtWnd() {
  Shutdown();
}

bool CScanVrtWnd::StartScan(std::int32_t sourceKind) {
  if (sourceKind != kLocalBackupSource) return false;  // no phone context in this window
  // A refused password ends the worker right after it says so; let it finish.
  if (m_session.IsScanning() && m_session.WrongPassword()) m_session.Wait();
  ScanRequest request;
  request.sourceKind = sourceKind;
  request.catalog = &Main().Catalog();
  request.backup = m_backup;
  request.chosen = m_chosen;
  request.password = m_password;
  return m_session.Start(request);
}

void CScanVrtWnd::OnWorkerMessage(int message, std::int64_t param, const QString& text) {
  (void)param;
  if (message == msg::kScanWarning && !text.isEmpty()) {
    show_message(kMsgWarning, &Main(), Main().MessageText(ToWide(text)), std::nullopt, 550, 200);
  }
  // Counts, nodes, progress and the end of the scan are shown by the page's views.
}

bool CScanVrtWnd::QueryClose() {
  return true;
}

void CScanVrtWnd::Shutdown() {
  if (m_session.IsScanning()) m_session.Stop();
  m_session.Wait();
}

void CScanVrtWnd::Post(const ScanEvent& event) noexcept {
  int message = 0;
  switch (event.kind) {
    case ScanEventKind::Counts:
      message = msg::kUpdateCounts;
      break;
    case ScanEventKind::NodeReady:
      message = msg::kCategorySelection;
      break;
    case ScanEventKind::Ended:
      message = msg::kScanEnded;
      break;
    case ScanEventKind::OpenState:
      message = msg::kPasswordResult;
      break;
    case ScanEventKind::Warning:
      message = msg::kScanWarning;
      break;
    case ScanEventKind::Progress:
      message = msg::kScanProgress;
      break;
    case ScanEventKind::SourceProblem:
      break;  // not shown yet: the page has no place for a category's reason so far
  }
  if (message == 0) return;
  try {
    msg::Post(&Main(), message, event.param, 0, ToQ(event.text));
  } catch (...) {
    // Out of memory while queueing: the message is lost, the worker goes on.
  }
}

}  // namespace bv
