#pragma once
// Step 3 of the wizard, the scan page. For now it is the start of the page: it keeps the
// chosen backup, the chosen categories and the password, and on the start-scan message
// hands them to a CScanSession, whose worker reports back through window messages posted
// to the main window. The page's own views (category tree, result list, progress, pause
// and stop, recovery) come on top of this class and are not built yet: the On… hooks
// below are where they attach. UI-thread only, except Post (the session's worker).
#include <QString>
#include <cstdint>
#include <string>

#include "app/base_vrt_wnd.h"
#include "catalogue/types.h"
#include "scan/scan_session.h"

namespace bv {

class CScanVrtWnd : public CBaseVrtWnd, private IScanEventSink {
 public:
  CScanVrtWnd(CMainWnd& main, ui::CSkinWindow& window);
  ~CScanVrtWnd() override;

  // The backup of the next scan (all fields of the record).
  void SetChosenBackup(const BackupRecord& record) { m_backup = record; }
  const BackupRecord& ChosenBackup() const { return m_backup; }
  // For readers that fill the record in place (a folder the user browsed to).
  BackupRecord& ChosenBackupRecord() { return m_backup; }
  void SetPassword(const std::wstring& password) { m_password = password; }
  const std::wstring& Password() const { return m_password; }
  void SetChosenCategories(const CategorySet& chosen) { m_chosen = chosen; }
  const CategorySet& ChosenCategories() const { return m_chosen; }

  // The start-scan message: kind 1 scans the chosen backup. False, with nothing
  // started, for another kind, while a scan runs, or when no data source could be built.
  bool StartScan(std::int32_t sourceKind);
  // The kind of the last scan started (1 backup, 0 phone); the session's answer.
  std::int32_t SourceKind() const { return m_session.SourceKind(); }
  CScanSession& Session() { return m_session; }
  const CScanSession& Session() const { return m_session; }

  // What the worker reported, handed on by the main window (counts, a node with
  // results, the end, progress, a warning by message identifier).
  void OnWorkerMessage(int message, std::int64_t param, const QString& text);
  // Whether the main window may close now.
  bool QueryClose();
  // Stops a running scan and waits for its worker (the main window is going).
  void Shutdown();

 private:
  // IScanEventSink, on the worker thread: only posts.
  void Post(const ScanEvent& event) noexcept override;

  BackupRecord m_backup;
  std::wstring m_password;
  CategorySet m_chosen = AllCategories();
  CScanSession m_session;
};

}  // namespace bv
