#include "app/preview_pane.h"

#include "app/lang/language_store.h"

namespace bv {

CPreviewVrtWnd::CPreviewVrtWnd(CMainWnd& main, ui::CSkinWindow& window)
    : CBaseVrtWnd(main, window, QStringLiteral("PreviewVtrWnd"), "PreviewProcessWnd") {}

void CPreviewVrtWnd::ApplyTexts() {
  if (ui::CControlUI* pane = Find(QStringLiteral("PreviewLayout")))
    lang::CLanguageStore::instance().apply(pane, LanguageSection());
}

void CPreviewVrtWnd::OnPreviewReady(std::int64_t param) {
  (void)param;  // nothing is copied for showing yet
}

void CPreviewVrtWnd::ShowRow(const PreviewRow& row) {
  m_row = row;
}

void CPreviewVrtWnd::Clear() {
  m_row.reset();
}

}  // namespace bv
