#pragma once
// The preview pane of the scan page, registered as its own virtual window. For now it
// only keeps its texts in the language shown; showing records and media comes with the
// scan page's views. UI-thread only.
#include <cstdint>

#include "app/base_vrt_wnd.h"

namespace bv {

class CPreviewVrtWnd : public CBaseVrtWnd {
 public:
  CPreviewVrtWnd(CMainWnd& main, ui::CSkinWindow& window);
  // Relabels only the controls inside the pane: its section shares names ("LblPercent")
  // with controls of the scan page's header.
  void ApplyTexts() override;
  // The preview-ready message (a media file has been copied for showing).
  void OnPreviewReady(std::int64_t param);
};

}  // namespace bv
