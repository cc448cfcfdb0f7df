#include "app/itunes_backup_page.h"

#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/popups.h"
#include "app/qt_text.h"
#include "app/scan_page.h"
#include "catalogue/discovery.h"

namespace bv {

namespace {
constexpr char kBrowsePrompt[] =
    "Select the iTunes Backup File from other folder to recover your data.";
constexpr char kNotABackup[] = "Can not found the backup file, do you want to try again?";
}  // namespace

CItunesBackupVrtWnd::CItunesBackupVrtWnd(CMainWnd& main, ui::CSkinWindow& window)
    : CBaseVrtWnd(main, window, QStringLiteral("ItunesVtrWnd"), "PageItunesBackup") {}

void CItunesBackupVrtWnd::OnInit() {
  ApplyTexts();
  m_list = FindAs<ui::CListUI>(QStringLiteral("BackupFileList"));
  if (!m_list || !m_backups.empty()) return;
  ListBackups(Main().Catalog(), m_backups);
  m_list->SetItemHeight(kBackupRowHeight);
  for (const BackupRecord& r : m_backups) {
    const int row = m_list->AddRow({ToQ(r.displayName), ToQ(r.lastBackupDate), ToQ(r.serialNumber)},
                                   reinterpret_cast<quintptr>(&r));
    m_list->SetRowIcon(row,
                       QString::fromLatin1(r.encrypted ? kEncryptedBackupIcon : kPlainBackupIcon));
  }
  if (m_list->GetRowCount() > 0) m_list->SelectItem(0, false);
}

void CItunesBackupVrtWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType != QLatin1String("click")) return;
  const QString name = msg.SenderName();
  if (name == QLatin1String("BtnNext1"))
    OnNext();
  else if (name == QLatin1String("BtnSelDir"))
    OnSelectFolder();
}

void CItunesBackupVrtWnd::OnNext() {
  if (!m_list) return;
  const int sel = m_list->GetCurSel();
  if (sel < 0) return;
  const auto* record = reinterpret_cast<const BackupRecord*>(m_list->GetRowData(sel));
  if (!record) return;
  Main().ScanPage().SetChosenBackup(*record);
  Main().SelectStep(2);
}

void CItunesBackupVrtWnd::OnSelectFolder() {
  // The prompt is the page's own line about other folders, in the language shown.
  const ui::CControlUI* desc = Find(QStringLiteral("ItunesBackupDesc3"));
  const std::string prompt =
      desc && !desc->GetText().isEmpty() ? ToUtf8(desc->GetText()) : std::string(kBrowsePrompt);
  for (;;) {
    const std::optional<std::string> folder = PickFolder(&Main(), prompt);
    if (!folder) return;
    // Read straight into the scan page's record; a folder that is no backup leaves it as
    // it was.
    if (ReadBackupFolder(*folder, Main().ScanPage().ChosenBackupRecord()) == kSuccess) {
      Main().SelectStep(2);
      return;
    }
    if (show_message(kMsgQuestion, &Main(), kNotABackup, std::string("Question"), 550, 200) != 1)
      return;
  }
}

}  // namespace bv
