#pragma once
// The recovery window: a modal progress window over the engine's CRecoverJob, which
// writes the ticked items of a scan into the folder the user chose. It shows the item
// being written, the counts, a progress bar and the detail list (failures in red on
// top), offers to open the folder, and cancels with a question and a wait.
//
// Threads: the window lives on the user-interface thread; the job runs on a worker of
// the window, whose reports are queued to the window and shown in their order.
#include <QString>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/popups.h"
#include "export/recovery_job.h"
#include "scan/scan_session.h"
#include "ui/ui_list.h"

namespace bv {

class CMainWnd;
class CScanVrtWnd;

inline constexpr int kRecoverWidth = 770;
inline constexpr int kRecoverHeight = 700;
inline const QColor kFailureColor = QColor(0xFF, 0x00, 0x00);

// The lines of the detail list: failures first (the latest on top), then successes in
// their order.
class CDetailRows : public ui::IListRowSource {
 public:
  void Add(const DetailLine& line);
  int RowCount() const override;
  QString RowText(int row, int column) const override;
  QColor RowTextColor(int row) const override;
  int Failures() const { return static_cast<int>(m_failures.size()); }
  const DetailLine* Line(int row) const;

 private:
  std::deque<DetailLine> m_failures;
  std::vector<DetailLine> m_successes;
};

class CRecoverProcessWnd : public CPopUpWnd, private IRecoveryView {
 public:
  // `session` is paused or has ended and stays so while the window runs; `deviceName`
  // goes into the documents' titles.
  CRecoverProcessWnd(QWidget* owner, CScanSession& session, std::string deviceName,
                     std::string outputRoot);
  ~CRecoverProcessWnd() override;

  // Where the document templates are (default: beside the program).
  void SetTemplateFolder(std::filesystem::path folder) { m_templateFolder = std::move(folder); }

  // Runs the window modally at 770 x 700: 1 when the job finished, 2 when it was
  // cancelled or could not start (a template missing).
  int Run();

  // What "CancelBtn", "closebtn" and Escape do: close after the job, else ask (the job
  // waits meanwhile) and on OK cancel, wait for the job and close.
  void AskCancel();

  // The state a person sees (tests).
  bool JobEnded() const { return m_ended; }
  bool DetailsShown() const { return m_detailsShown; }
  const CRecoverJob* Job() const { return m_job.get(); }
  const CDetailRows& Details() const { return m_details; }
  const std::string& OutputRoot() const { return m_outputRoot; }

 protected:
  void OnInit() override;
  void Notify(ui::TNotifyUI& msg) override;
  void OnEscapeKey() override { AskCancel(); }
  void closeEvent(QCloseEvent* e) override;

 private:
  // IRecoveryView, on the worker while it holds the job lock: only queues.
  void OnDetailLine(const DetailLine& line) noexcept override;
  void OnProgress(const RecoveryProgress& progress) noexcept override;

  void ShowProgress(const RecoveryProgress& p);
  void AddDetail(const DetailLine& line);
  void OnJobEnded();
  void ToggleDetails();
  std::string Text(const char* id);

  CScanSession& m_session;
  std::string m_deviceName;
  std::string m_outputRoot;
  std::optional<std::filesystem::path> m_templateFolder;
  std::unique_ptr<CRecoverJob> m_job;
  std::thread m_worker;
  CDetailRows m_details;
  ui::CListUI* m_detailList = nullptr;
  bool m_initFailed = false;
  bool m_ended = false;
  bool m_detailsShown = false;
  bool m_asking = false;
};

// Why `output` may not take a recovery of the backup in `backupFolder` (the engine's
// check: inside the backup, the backup itself, or a folder whose output would reach
// into it), as a message box says it; empty when it may.
std::string OutputFolderRefusal(const std::string& backupFolder, const std::string& output);

// The recovery button: asks for a folder (titled "MSG0509"; again after a refused one)
// and runs the recovery window over the page's scan. The window's result, or 2 when no
// folder was chosen.
int RunRecovery(CMainWnd& main, CScanVrtWnd& page);

}  // namespace bv
