#include "app/base_vrt_wnd.h"

#include "app/lang/language_store.h"

namespace bv {

CBaseVrtWnd::CBaseVrtWnd(CMainWnd& main, ui::CSkinWindow& window, QString virtualName,
                         std::string languageSection)
    : m_main(main),
      m_window(window),
      m_name(std::move(virtualName)),
      m_section(std::move(languageSection)) {}

void CBaseVrtWnd::ApplyTexts() {
  lang::CLanguageStore::instance().apply(&m_window, m_section);
}

}  // namespace bv
