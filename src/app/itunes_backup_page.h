#pragma once
// Step 1 of the wizard: the backups of this user's backup root, newest first, one row
// each with an encrypted or plain icon; "BtnNext1" takes the selected one to the
// category page, "BtnSelDir" reads a backup folder the user browses to. UI-thread only.
#include <vector>

#include "app/base_vrt_wnd.h"
#include "catalogue/types.h"
#include "ui/ui_list.h"

namespace bv {

inline constexpr const char* kEncryptedBackupIcon =
    "file='Controls.png' source='53,436,101,462' dest='0,0,48,26'";
inline constexpr const char* kPlainBackupIcon =
    "file='Controls.png' source='2,436,50,462' dest='0,0,48,26'";
inline constexpr int kBackupRowHeight = 40;

class CItunesBackupVrtWnd : public CBaseVrtWnd {
 public:
  CItunesBackupVrtWnd(CMainWnd& main, ui::CSkinWindow& window);

  // Fills the list from the catalogue (once; browsing adds no row) and selects row 0.
  void OnInit() override;
  void Notify(ui::TNotifyUI& msg) override;

  // The records the rows point at, in row order.
  const std::vector<BackupRecord>& Backups() const { return m_backups; }

 private:
  void OnNext();
  void OnSelectFolder();

  ui::CListUI* m_list = nullptr;
  // Filled once and never changed afterwards: each row keeps a pointer into it.
  std::vector<BackupRecord> m_backups;
};

}  // namespace bv
