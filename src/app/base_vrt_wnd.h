#pragma once
// Base of the pages embedded in the main window. A page is registered with the window
// under its virtual-window name and receives the notifications of every control inside
// the layout that declares that name; it shares the window's control tree and finds its
// controls there by name. UI-thread only.
#include <QString>
#include <string>

#include "ui/skin_window.h"

namespace bv {

class CMainWnd;

class CBaseVrtWnd : public ui::INotifyUI {
 public:
  CBaseVrtWnd(CMainWnd& main, ui::CSkinWindow& window, QString virtualName,
              std::string languageSection);
  ~CBaseVrtWnd() override = default;
  CBaseVrtWnd(const CBaseVrtWnd&) = delete;
  CBaseVrtWnd& operator=(const CBaseVrtWnd&) = delete;

  const QString& VirtualName() const { return m_name; }
  const std::string& LanguageSection() const { return m_section; }

  // Called once the main window's controls exist ("windowinit"); the default relabels.
  virtual void OnInit() { ApplyTexts(); }
  // Relabels the page's controls from its language section.
  virtual void ApplyTexts();
  void Notify(ui::TNotifyUI& msg) override { (void)msg; }

 protected:
  CMainWnd& Main() const { return m_main; }
  ui::CSkinWindow& Window() const { return m_window; }
  ui::CControlUI* Find(const QString& name) const { return m_window.FindControl(name); }
  template <class T>
  T* FindAs(const QString& name) const {
    return m_window.Find<T>(name);
  }

 private:
  CMainWnd& m_main;
  ui::CSkinWindow& m_window;
  QString m_name;
  std::string m_section;
};

}  // namespace bv
