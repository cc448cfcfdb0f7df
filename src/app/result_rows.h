#pragma once
// The rows of the scan page's result list: one per item below a category node of the
// scan's selection tree (or per app, or per file of one app), in store order. A row
// keeps only where its item lies and whether it is deleted; texts are made when the
// list shows them, ticks are read from the selection tree, so the list and the
// statistics never disagree. UI-thread only.
#include <QColor>
#include <QString>
#include <cstdint>
#include <vector>

#include "app/result_columns.h"
#include "scan/scan_session.h"
#include "ui/ui_list.h"

namespace bv {

inline constexpr const char* kDeletedIcon = "file='Controls.png' source='182,312,198,328'";
inline constexpr const char* kFolderIcon = "file='Controls.png' source='235,410,253,428'";
inline const QColor kDeletedColor = QColor::fromRgba(0xFFF37302);

class CResultRows : public ui::IListRowSource {
 public:
  explicit CResultRows(const CScanSession& session) : m_session(session) {}

  // The items of `category` as `view` shows them (`app`: the app node whose files are
  // shown). Reads the tree under its guard, so a running scan may go on meanwhile.
  void Fill(Category category, ResultView view, const StatNode* app = nullptr);
  void Clear();
  bool Empty() const { return m_rows.empty(); }

  Category GetCategory() const { return m_category; }
  ResultView View() const { return m_view; }
  const StatNode* App() const { return m_app; }
  const std::vector<ResultColumn>& Columns() const { return *m_columns; }

  // Rows whose record is not deleted are hidden while this is on.
  void SetDeletedOnly(bool on) { m_deletedOnly = on; }
  bool DeletedOnly() const { return m_deletedOnly; }

  // The selection entry and the item of a row (an app node in the app list).
  std::size_t Entry(int row) const;
  StatItem Item(int row) const;
  bool Deleted(int row) const;

  // ui::IListRowSource: column 0 is the tick box, the category's columns follow.
  int RowCount() const override { return static_cast<int>(m_rows.size()); }
  QString RowText(int row, int column) const override;
  bool RowChecked(int row) const override;
  QColor RowTextColor(int row) const override;
  QString RowIcon(int row) const override;
  bool RowHidden(int row) const override;

 private:
  struct Row {
    StatItem item;
    std::uint32_t entry = 0;
    bool deleted = false;
  };
  bool Valid(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }

  const CScanSession& m_session;
  std::vector<Row> m_rows;
  Category m_category = Category::CameraRoll;
  ResultView m_view = ResultView::kRecords;
  const StatNode* m_app = nullptr;
  const std::vector<ResultColumn>* m_columns =
      &ResultColumns(Category::Reminder, ResultView::kRecords);
  bool m_deletedOnly = false;
};

}  // namespace bv
