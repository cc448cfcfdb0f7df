#pragma once
// Step 2 of the wizard: the fourteen categories to scan, "ChkSelAll" with its
// three-state look, and "BtnNext2", which asks for the password of an encrypted backup
// and posts the start of the scan. UI-thread only.
#include <array>
#include <vector>

#include "app/base_vrt_wnd.h"
#include "scan/scan_session.h"
#include "ui/ui_controls.h"

namespace bv {

// The category options in the fixed order of the categories (the chat apps have none).
inline constexpr std::array<const char*, kPhoneCategoryCount> kCategoryOptionNames = {
    "OptCameraRoll",   "OptPhotoStream", "OptAppPhotos",   "OptAppVideos",  "OptMessages",
    "OptMessageAtts",  "OptContacts",    "OptCallHistory", "OptNotes",      "WhatsApp",
    "OptWhatsAppAtts", "OptReminder",    "OptCalendar",    "SafariBookmark"};

class CSpecifyFileVrtWnd : public CBaseVrtWnd {
 public:
  CSpecifyFileVrtWnd(CMainWnd& main, ui::CSkinWindow& window);

  void OnInit() override;
  void Notify(ui::TNotifyUI& msg) override;

  // The ticked options, by category; the chat apps, which have no option, whenever any
  // option is ticked.
  CategorySet ChosenCategories() const;

  // The password loop for an encrypted backup: the dialog until a password is given,
  // or an empty one is confirmed by closing the warning. True when a password (possibly
  // empty) is now the scan page's; false when the user cancelled the dialog.
  bool AskPassword();

  // Back to idle: "BtnNext2" and the wizard area enabled again.
  void SetIdle();

 private:
  void OnSelectAllChanged();
  void Recount();
  void OnNext();

  std::vector<ui::COptionUI*> m_options;
  ui::CCheckBoxUI* m_selAll = nullptr;
  ui::CControlUI* m_next = nullptr;
};

}  // namespace bv
