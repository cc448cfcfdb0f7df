#include "app/preview_process_wnd.h"

#include <QCloseEvent>
#include <QMetaObject>

#include "app/lang/language_store.h"
#include "app/qt_text.h"
#include "ui/ui_controls.h"

namespace bv {

CPreviewProcessWnd::CPreviewProcessWnd(QWidget* owner, QString itemName)
    : CPopUpWnd(owner, QStringLiteral("xml\\PreviewProcessWnd.xml"), "PreviewProcessWnd",
                QStringLiteral("UIPreviewProcessWnd")),
      m_itemName(std::move(itemName)) {}

CPreviewProcessWnd::~CPreviewProcessWnd() {
  // A window that goes while the copy runs (the program ends) stops it first.
  m_cancel = true;
  if (m_worker.joinable()) m_worker.join();
}

std::string CPreviewProcessWnd::Text(const char* id) {
  return lang::CLanguageStore::text(Messages(), id);
}

int CPreviewProcessWnd::Run() {
  return DoModal(kPreviewProcessWidth, kPreviewProcessHeight);
}

void CPreviewProcessWnd::OnInit() {
  m_cancel = false;
  m_done = true;
  if (ui::CControlUI* name = FindControl(QStringLiteral("LblFileName")))
    name->SetText(ToQ(Text("MSG0902")) + QLatin1Char(' ') + m_itemName);
  ShowPercent(0);
  m_done = false;
  m_worker = std::thread([this] {
    m_result = m_copy(&CPreviewProcessWnd::Report, this);
    m_done = true;
    QMetaObject::invokeMethod(
        this, [this] { OnCopyEnded(); }, Qt::QueuedConnection);
  });
}

std::int32_t CPreviewProcessWnd::Report(void* user, std::int32_t percent) {
  auto* self = static_cast<CPreviewProcessWnd*>(user);
  std::lock_guard<std::mutex> lock(self->m_lock);
  if (self->m_cancel) return 2;
  // One queued update per new percentage, not one per block copied.
  if (self->m_lastPosted.exchange(percent) != percent) {
    try {
      QMetaObject::invokeMethod(
          self, [self, percent] { self->ShowPercent(percent); }, Qt::QueuedConnection);
    } catch (...) {
      // Out of memory while queueing: the bar lags, the copy goes on.
    }
  }
  return 0;
}

void CPreviewProcessWnd::ShowPercent(int percent) {
  m_shownPercent = percent;
  if (ui::CControlUI* label = FindControl(QStringLiteral("LblPercent")))
    label->SetText(ToQ(lang::FormatMessageArgs("%s %d%%", {Text("MSG0901"), percent})));
  if (auto* bar = Find<ui::CProgressUI>(QStringLiteral("Progress"))) bar->SetValue(percent);
}

void CPreviewProcessWnd::OnCopyEnded() {
  if (m_worker.joinable()) m_worker.join();
  if (m_closing || m_asking) return;  // the question's answer closes the window
  m_closing = true;
  Close(m_result.load() == 2 || m_cancel ? 2 : 1);
}

void CPreviewProcessWnd::AskCancel() {
  if (m_asking || m_closing) return;
  m_asking = true;
  int answer = 2;
  {
    // The copy waits at its next report while the user is asked.
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_done) answer = show_message(kMsgQuestion, this, Text("MSG0903"), std::nullopt, 550, 200);
    if (answer == 1) m_cancel = true;
  }
  m_asking = false;
  if (answer == 1 || m_done) {
    // Wait until the copy has stopped, then close without showing it.
    if (m_worker.joinable()) m_worker.join();
    m_closing = true;
    Close(answer == 1 || m_result.load() == 2 ? 2 : 1);
  }
}

void CPreviewProcessWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType == QLatin1String("click")) {
    const QString name = msg.SenderName();
    if (name == QLatin1String("closebtn") || name == QLatin1String("BtnCancel")) {
      AskCancel();
      return;
    }
  }
  CPopUpWnd::Notify(msg);
}

void CPreviewProcessWnd::closeEvent(QCloseEvent* e) {
  if (!m_closing && !m_done && IsModalRunning() && isVisible()) {
    e->ignore();
    AskCancel();
    return;
  }
  CPopUpWnd::closeEvent(e);
}

}  // namespace bv
