#include "app/recover_window.h"

#include <QCloseEvent>
#include <QUrl>

#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/qt_text.h"
#include "app/recovery_settings.h"
#include "app/scan_page.h"
#include "export/output_paths.h"
#include "platform/platform.h"
#include "ui/ui_controls.h"

namespace bv {

// ---- the detail list -------------------------------------------------------------

void CDetailRows::Add(const DetailLine& line) {
  if (line.error != 0)
    m_failures.push_front(line);
  else
    m_successes.push_back(line);
}

int CDetailRows::RowCount() const {
  return static_cast<int>(m_failures.size() + m_successes.size());
}

const DetailLine* CDetailRows::Line(int row) const {
  if (row < 0 || row >= RowCount()) return nullptr;
  const auto r = static_cast<std::size_t>(row);
  return r < m_failures.size() ? &m_failures[r] : &m_successes[r - m_failures.size()];
}

QString CDetailRows::RowText(int row, int column) const {
  const DetailLine* line = Line(row);
  if (!line) return QString();
  return column == 0 ? ToQ(line->path) : ToQ(line->result);
}

QColor CDetailRows::RowTextColor(int row) const {
  return row >= 0 && row < Failures() ? kFailureColor : QColor();
}

// ---- the window ------------------------------------------------------------------

CRecoverProcessWnd::CRecoverProcessWnd(QWidget* owner, CScanSession& session,
                                       std::string deviceName, std::string outputRoot)
    : CPopUpWnd(owner, QStringLiteral("xml\\RecoverProcessWnd.xml"), "RecoverProcessWnd",
                QStringLiteral("UIRecoverProcessWnd")),
      m_session(session),
      m_deviceName(std::move(deviceName)),
      m_outputRoot(std::move(outputRoot)) {}

CRecoverProcessWnd::~CRecoverProcessWnd() {
  // A window that goes while its job runs (the program ends) cancels it first.
  if (m_job && m_worker.joinable() && !m_job->Finished()) {
    m_job->BeginCancel();
    m_job->ConfirmCancel();
  }
  if (m_worker.joinable()) m_worker.join();
  if (m_detailList) m_detailList->SetRowSource(nullptr);
}

std::string CRecoverProcessWnd::Text(const char* id) {
  return lang::CLanguageStore::text(Messages(), id);
}

int CRecoverProcessWnd::Run() {
  Create();
  if (m_initFailed) return 2;
  return DoModal(kRecoverWidth, kRecoverHeight);
}

void CRecoverProcessWnd::OnInit() {
  m_detailList = Find<ui::CListUI>(QStringLiteral("DetailList"));
  if (m_detailList) m_detailList->SetRowSource(&m_details);
  m_job = std::make_unique<CRecoverJob>(m_session.Stores(), m_session.Statistics(),
                                        m_session.DataSource(), m_deviceName, m_outputRoot);
  m_job->SetView(this);
  // The options the user keeps in the settings file (a JPEG beside each HEIC copy).
  ApplyRecoverySettings(ReadRecoverySettings(lang::CLanguageStore::instance()), *m_job);
  if (m_templateFolder) m_job->SetTemplateFolder(*m_templateFolder);
  if (m_job->LoadTemplates() != kSuccess) {
    // Nothing is exported without every template.
    m_initFailed = true;
    show_message(kMsgError, Owner(), Text("MSG1104"), std::nullopt, 500, 200);
    Close(2);
    return;
  }
  ShowProgress(RecoveryProgress{0, std::string(), 0, m_job->TotalCount(), 0, 0});
  if (ui::CControlUI* current = FindControl(QStringLiteral("current"))) current->SetText(QString());
  m_worker = std::thread([this] {
    m_job->Run();
    QMetaObject::invokeMethod(
        this, [this] { OnJobEnded(); }, Qt::QueuedConnection);
  });
}

void CRecoverProcessWnd::OnDetailLine(const DetailLine& line) noexcept {
  try {
    QMetaObject::invokeMethod(
        this, [this, line] { AddDetail(line); }, Qt::QueuedConnection);
  } catch (...) {
    // Out of memory while queueing: the line is lost, the job goes on.
  }
}

void CRecoverProcessWnd::OnProgress(const RecoveryProgress& progress) noexcept {
  try {
    QMetaObject::invokeMethod(
        this, [this, progress] { ShowProgress(progress); }, Qt::QueuedConnection);
  } catch (...) {
  }
}

void CRecoverProcessWnd::ShowProgress(const RecoveryProgress& p) {
  if (auto* bar = Find<ui::CProgressUI>(QStringLiteral("Progress"))) bar->SetValue(p.percent);
  if (ui::CControlUI* current = FindControl(QStringLiteral("current")))
    current->SetText(ToQ(p.current));
  if (ui::CControlUI* percent = FindControl(QStringLiteral("percent")))
    percent->SetText(ToQ(lang::FormatMessageArgs("%s %d%%", {Text("MSG1101"), p.percent})));
  if (ui::CControlUI* recovered = FindControl(QStringLiteral("recovered")))
    recovered->SetText(ToQ(lang::FormatMessageArgs(
        Text("MSG1102"), {p.doneCount, p.totalCount, p.succeededCount, p.failedCount})));
}

void CRecoverProcessWnd::AddDetail(const DetailLine& line) {
  m_details.Add(line);
  if (!m_detailList) return;
  // A failure goes on top, a success at the bottom.
  m_detailList->RowSourceRowsInserted(line.error != 0 ? 0 : m_details.RowCount() - 1, 1);
}

void CRecoverProcessWnd::OnJobEnded() {
  m_ended = true;
  if (ui::CControlUI* finish = FindControl(QStringLiteral("FinishBtn"))) finish->SetVisible(true);
  if (ui::CControlUI* cancel = FindControl(QStringLiteral("CancelBtn"))) cancel->SetVisible(false);
}

void CRecoverProcessWnd::AskCancel() {
  if (m_asking || !m_job) return;
  if (m_ended) {
    Close(1);
    return;
  }
  m_asking = true;
  // The worker waits at its next report while the user is asked.
  m_job->BeginCancel();
  const int answer = show_message(kMsgQuestion, this, Text("MSG1103"), std::nullopt, 550, 200);
  m_asking = false;
  if (answer == 1) {
    m_job->ConfirmCancel();  // waits until the job has finished its final step
    Close(2);
  } else {
    m_job->AbortCancel();
  }
}

void CRecoverProcessWnd::ToggleDetails() {
  m_detailsShown = !m_detailsShown;
  if (m_detailList) m_detailList->SetVisible(m_detailsShown);
  if (ui::CControlUI* info = FindControl(QStringLiteral("InfoLayout")))
    info->SetVisible(!m_detailsShown);
}

void CRecoverProcessWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType == QLatin1String("click")) {
    const QString name = msg.SenderName();
    if (name == QLatin1String("closebtn") || name == QLatin1String("CancelBtn")) {
      AskCancel();
      return;
    }
    if (name == QLatin1String("FinishBtn")) {
      Close(1);
      return;
    }
    if (name == QLatin1String("OpenBtn")) {
      OpenUrl(QUrl::fromLocalFile(ToQ(m_outputRoot)));
      return;
    }
    if (name == QLatin1String("DetailBtn")) {
      ToggleDetails();
      return;
    }
  }
  CPopUpWnd::Notify(msg);
}

void CRecoverProcessWnd::closeEvent(QCloseEvent* e) {
  // The window system's close is the close button: a running job is asked about first.
  if (m_job && !m_ended && !m_initFailed && IsModalRunning() && isVisible()) {
    e->ignore();
    AskCancel();
    return;
  }
  CPopUpWnd::closeEvent(e);
}

// ---- starting --------------------------------------------------------------------

std::string OutputFolderRefusal(const std::string& backupFolder, const std::string& output) {
  if (backupFolder.empty() || output.empty()) return {};
  const std::string problem =
      OutputFolderProblem(platform::PathFromUtf8(backupFolder), platform::PathFromUtf8(output));
  if (problem.empty()) return {};
  // The engine's sentence, as a message box says it: capital first, full stop last.
  QString text = ToQ(problem);
  text[0] = text[0].toUpper();
  if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  return ToUtf8(text);
}

int RunRecovery(CMainWnd& main, CScanVrtWnd& page) {
  const std::string prompt = main.MessageText("MSG0509");
  std::optional<std::string> folder;
  for (;;) {
    folder = PickFolder(&main, prompt);
    if (!folder || folder->empty()) return 2;
    const std::string refusal = OutputFolderRefusal(page.ScannedBackup().folder, *folder);
    if (refusal.empty()) break;
    show_message(kMsgError, &main, refusal, std::nullopt, 550, 200);
  }
  CRecoverProcessWnd wnd(&main, page.Session(), page.ScannedBackup().displayName, *folder);
  return wnd.Run();
}

}  // namespace bv
