#pragma once
// Step 3 of the wizard, the scan page: a thin view over CScanSession. It starts the scan
// of the chosen backup, shows its progress in the window's header, pauses and stops it,
// and shows the results: the category tree with counts, the result list of the
// selected category with a tick box per row, the deleted-only filter, the statistics
// label and the buttons to recovery, printing and back to the start.
//
// Threads: UI-thread only, except Post (the session's worker, which only queues window
// messages). The list reads the session's tree through its guard, so categories already
// listed can be looked at and ticked while the scan goes on.
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/base_vrt_wnd.h"
#include "app/result_rows.h"
#include "catalogue/types.h"
#include "scan/scan_session.h"
#include "ui/ui_extra.h"
#include "ui/ui_list.h"

namespace bv {

inline constexpr const char* kBackupSourceImage =
    "file='Controls.png' source='538,1,591,54' dest='0,0,53,53'";
inline constexpr const char* kDeviceSourceImage =
    "file='Controls.png' source='484,1,537,54' dest='0,0,53,53'";
inline constexpr const char* kListTickImage = "file='Controls.png' source='340,75,355,90'";
inline constexpr const char* kListUntickImage = "file='Controls.png' source='325,75,340,90'";
inline constexpr const char* kFilterOffImage = "file='optionOff.png' source='0,0,78,19'";
inline constexpr const char* kFilterOnImage = "file='optionOn.png' source='0,0,78,19'";

// The category tree's groups: Photos & Videos, Messages & Call logs, Chat apps.
inline constexpr int kTreeGroupCount = 3;

// What the recovery and print buttons open; tests put their own in place.
using PageAction = std::function<void()>;

class CScanVrtWnd : public CBaseVrtWnd, private IScanEventSink {
 public:
  CScanVrtWnd(CMainWnd& main, ui::CSkinWindow& window);
  ~CScanVrtWnd() override;

  // The backup of the next scan (all fields of the record).
  void SetChosenBackup(const BackupRecord& record) { m_backup = record; }
  const BackupRecord& ChosenBackup() const { return m_backup; }
  // For readers that fill the record in place (a folder the user browsed to).
  BackupRecord& ChosenBackupRecord() { return m_backup; }
  void SetPassword(const std::string& password) { m_password = password; }
  const std::string& Password() const { return m_password; }
  void SetChosenCategories(const CategorySet& chosen) { m_chosen = chosen; }
  const CategorySet& ChosenCategories() const { return m_chosen; }
  // The phone on USB that kind 0 scans (its device-access object, which must outlive
  // the scan) and its name; none by default, and kind 0 then starts nothing.
  void SetDevice(void* deviceAccess, const std::string& name) {
    m_device = deviceAccess;
    m_deviceName = name;
  }
  // What the scan last started read (what recovery refers to): the backup, or for a
  // phone a record with its name only.
  const BackupRecord& ScannedBackup() const { return m_scanned; }

  void OnInit() override;
  void ApplyTexts() override;
  void Notify(ui::TNotifyUI& msg) override;

  // The start-scan message: kind 1 scans the chosen backup, kind 0 the phone given with
  // SetDevice. False, with nothing started, for another kind, for kind 0 without a
  // phone, while a scan runs, or when no data source could be built.
  bool StartScan(std::int32_t sourceKind);
  // The same over a data source built elsewhere (tests, benchmarks): the page resets
  // and shows the scan exactly as for a backup.
  bool StartScan(std::unique_ptr<IPhoneRecoveryParse> source, std::int32_t sourceKind);
  // The kind of the last scan started (1 backup, 0 phone); the session's answer.
  std::int32_t SourceKind() const { return m_session.SourceKind(); }
  CScanSession& Session() { return m_session; }
  const CScanSession& Session() const { return m_session; }

  // What the worker reported, handed on by the main window: counts (1032), a node with
  // results (1033), the end (1034), the open state (1035), progress, a warning.
  void OnWorkerMessage(int message, std::int64_t param, const QString& text);
  // The progress bar's "timer": the tree's counts from the stores.
  void OnProgressTimer();
  // Pause and stop, as the header's buttons do them.
  void TogglePause();
  void AskStop();
  bool IsPaused() const { return m_paused; }
  // Whether the main window may close now (asks while a scan runs or results are shown).
  bool QueryClose();
  // Stops a running scan and waits for its worker (the main window is going).
  void Shutdown();

  // Why a chosen category's source could not be read, or only in part, as the engine
  // says it (empty: it was read). Its node shows even without results, and above its
  // list the page says why. Cleared by the next scan and by "BtnHome".
  void SetCategoryProblem(Category c, const QString& reason);
  QString CategoryProblem(Category c) const { return m_problems[static_cast<std::size_t>(c)]; }

  // The category node selected in the tree (none before the first selection).
  std::optional<Category> SelectedCategory() const { return m_selected; }
  // Selects a category's node as a click does; false when it is not shown.
  bool SelectCategory(Category c);
  ui::CTreeNodeUI* CategoryNode(Category c) const;
  const CResultRows& Rows() const { return m_rows; }
  // The deleted-only filter of the selected category.
  bool DeletedOnly() const;
  // The texts the page computes (statistics, filter count, a node's name).
  QString StatisticsText() const;
  QString FilterCountText() const;
  QString CategoryName(Category c) const;

  // Test seams: what "BtnRecovery" and "BtnPrint" open (default: the recovery and print
  // windows over this page).
  void SetRecoveryAction(PageAction action) { m_recoveryAction = std::move(action); }
  void SetPrintAction(PageAction action) { m_printAction = std::move(action); }
  // Recovery into a folder the user picks, and the print window, over this scan.
  void Recover();
  void Print();

 private:
  // IScanEventSink, on the worker thread: only posts.
  void Post(const ScanEvent& event) noexcept override;

  bool BeginScan(const std::function<bool()>& start);
  void ResetPage(bool scanning);
  void BuildTree();
  void ClearList();
  void ShowSourceTexts();
  void ShowInfoPane(bool info);
  void PlayAnimation(bool play);
  void OnScanEnded();
  // The scan-failed warning with the reason the source gave.
  void ShowOpenFailure();
  void OnNodeReady(std::int32_t categoryId);
  void UpdateNodes();
  void UpdateTreeTicks();
  void OnTreeSelect();
  void OnTreeCheck(std::int64_t checked);
  void ShowCategory(Category c);
  void ShowRows(ResultView view, const StatNode* app);
  void SetColumns();
  void OnListCheck(int row, bool ticked);
  void OnListClick(int row);
  void OnListSelect(int row);
  void OnHeaderTick();
  void OnFilterChanged();
  void OnHome();
  void AfterTicks();
  void RefreshHeaderTick();
  void RefreshStatistics();
  void RefreshRecoveryButton();
  void RefreshFilterCount();
  void RefreshPauseText();
  void RefreshProblem();
  std::string Message(const char* id) const;
  QString PageText(const char* key, const char* fallback) const;

  BackupRecord m_backup;
  BackupRecord m_scanned;
  void* m_device = nullptr;
  std::string m_deviceName;
  std::string m_password;
  CategorySet m_chosen = AllCategories();
  CScanSession m_session;
  CResultRows m_rows{m_session};
  PageAction m_recoveryAction;
  PageAction m_printAction;

  bool m_paused = false;
  bool m_stopAsked = false;  // the stop question is up
  std::optional<Category> m_selected;
  std::array<QString, kCategoryCount> m_problems;

  // Controls, bound at "windowinit" (null when the skin lacks one).
  ui::CTreeViewUI* m_tree = nullptr;
  ui::CListUI* m_list = nullptr;
  ui::CProgressUI* m_progress = nullptr;
  ui::CControlUI* m_percent = nullptr;
  ui::CGifAnimUI* m_gifLoading = nullptr;
  ui::CGifAnimUI* m_gifScanning = nullptr;
  ui::COptionUI* m_filter = nullptr;
  ui::COptionUI* m_previewSwitch = nullptr;
  std::array<ui::CTreeNodeUI*, kCategoryCount> m_nodes{};
  std::array<ui::CTreeNodeUI*, kTreeGroupCount> m_groups{};
};

}  // namespace bv
