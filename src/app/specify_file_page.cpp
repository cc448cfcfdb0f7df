#include "app/specify_file_page.h"

#include <algorithm>

#include "app/main_wnd.h"
#include "app/popups.h"
#include "app/scan_page.h"
#include "app/window_messages.h"
#include "scan/data_source_factory.h"

namespace bv {

CSpecifyFileVrtWnd::CSpecifyFileVrtWnd(CMainWnd& main, ui::CSkinWindow& window)
    : CBaseVrtWnd(main, window, QStringLiteral("SpecifyFileVtrWnd"), "PageSpecifyFile") {}

void CSpecifyFileVrtWnd::OnInit() {
  ApplyTexts();
  m_options.clear();
  for (const char* name : kCategoryOptionNames)
    if (auto* o = FindAs<ui::COptionUI>(QString::fromLatin1(name))) m_options.push_back(o);
  m_selAll = FindAs<ui::CCheckBoxUI>(QStringLiteral("ChkSelAll"));
  m_next = Find(QStringLiteral("BtnNext2"));
  // The skin's start (everything chosen) with "ChkSelAll" and "BtnNext2" agreeing.
  Recount();
}

void CSpecifyFileVrtWnd::Notify(ui::TNotifyUI& msg) {
  const QString name = msg.SenderName();
  if (msg.sType == QLatin1String("selectchanged")) {
    if (m_selAll && msg.pSender == m_selAll) {
      OnSelectAllChanged();
      return;
    }
    for (ui::COptionUI* o : m_options)
      if (msg.pSender == o) {
        Recount();
        return;
      }
    return;
  }
  if (msg.sType == QLatin1String("click") && name == QLatin1String("BtnNext2")) OnNext();
}

CategorySet CSpecifyFileVrtWnd::ChosenCategories() const {
  CategorySet chosen{};
  for (std::size_t i = 0; i < kCategoryOptionNames.size(); ++i) {
    auto* o = FindAs<ui::COptionUI>(QString::fromLatin1(kCategoryOptionNames[i]));
    chosen[i] = o && o->IsSelected();
  }
  // The chat apps have no option: they go with every scan (with any option ticked).
  const bool any = std::find(chosen.begin(), chosen.end(), true) != chosen.end();
  chosen[static_cast<std::size_t>(Category::WeChat)] = any;
  chosen[static_cast<std::size_t>(Category::QQ)] = any;
  return chosen;
}

// The check box has just changed by a click: every option follows it.
void CSpecifyFileVrtWnd::OnSelectAllChanged() {
  const bool on = m_selAll->IsSelected();
  for (ui::COptionUI* o : m_options) o->Selected(on, false);
  m_selAll->SetHalfChecked(false);
  if (m_next) m_next->SetEnabled(on);
}

void CSpecifyFileVrtWnd::Recount() {
  std::size_t checked = 0;
  for (const ui::COptionUI* o : m_options) checked += o->IsSelected() ? 1 : 0;
  if (m_selAll) {
    m_selAll->Selected(checked > 0, false);
    m_selAll->SetHalfChecked(checked > 0 && checked < kCategoryOptionNames.size());
  }
  if (m_next) m_next->SetEnabled(m_selAll ? m_selAll->IsSelected() : checked > 0);
}

void CSpecifyFileVrtWnd::OnNext() {
  CScanVrtWnd& scan = Main().ScanPage();
  // One scan at a time: while one runs (the wizard is usable again once its backup is
  // open), Next shows it rather than asking for a second.
  if (scan.Session().IsScanning() && !scan.Session().WrongPassword()) {
    Main().SelectStep(3);
    return;
  }
  if (m_next) m_next->SetEnabled(false);
  Main().EnableTabPage(false);
  scan.SetChosenCategories(ChosenCategories());
  if (scan.ChosenBackup().encrypted) {
    if (!AskPassword()) {
      SetIdle();
      return;
    }
  } else {
    // A password typed for another backup does not belong to this one.
    scan.SetPassword(std::string());
  }
  Main().PostMessage(msg::kStartScan, kLocalBackupSource);
}

bool CSpecifyFileVrtWnd::AskPassword() {
  CScanVrtWnd& scan = Main().ScanPage();
  for (;;) {
    const PasswordAnswer answer = ask_password(&Main());
    if (answer.result != 1) return false;
    if (!answer.password.empty()) {
      scan.SetPassword(answer.password);
      return true;
    }
    const int r = show_message(kMsgWarning, &Main(), Main().MessageText("MSG0301"),
                               std::string("Warning"), 550, 200);
    if (r != 1) {
      // Closing the warning goes on with no password; the scan then reports it wrong.
      scan.SetPassword(std::string());
      return true;
    }
  }
}

void CSpecifyFileVrtWnd::SetIdle() {
  if (m_next) m_next->SetEnabled(m_selAll ? m_selAll->IsSelected() : true);
  Main().EnableTabPage(true);
}

}  // namespace bv
