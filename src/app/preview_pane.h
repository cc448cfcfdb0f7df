#pragma once
// The preview pane of the scan page, registered as its own virtual window. A click on a
// result row hands the row to the pane (ShowRow): its category and the item as the
// scan's selection tree keeps it (a pointer into the scan's stores). For now the pane
// keeps its texts in the language shown and remembers the row it was handed; showing
// records and media comes on top of this. UI-thread only.
#include <cstdint>
#include <optional>

#include "app/base_vrt_wnd.h"
#include "catalogue/types.h"
#include "scan/statistics.h"

namespace bv {

// A row of the result list for the pane. The item stays valid until the scan page
// empties its list (a new scan, "BtnHome"), which calls Clear first.
struct PreviewRow {
  Category category = Category::CameraRoll;
  StatItem item;
};

class CPreviewVrtWnd : public CBaseVrtWnd {
 public:
  CPreviewVrtWnd(CMainWnd& main, ui::CSkinWindow& window);
  // Relabels only the controls inside the pane: its section shares names ("LblPercent")
  // with controls of the scan page's header.
  void ApplyTexts() override;
  // The preview-ready message (a media file has been copied for showing).
  void OnPreviewReady(std::int64_t param);

  // The row the user clicked; never fails, whatever the row holds.
  void ShowRow(const PreviewRow& row);
  // Forgets the row (its item is about to go).
  void Clear();
  const std::optional<PreviewRow>& ShownRow() const { return m_row; }

 private:
  std::optional<PreviewRow> m_row;
};

}  // namespace bv
