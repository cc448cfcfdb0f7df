#include "app/result_rows.h"

namespace bv {

void CResultRows::Fill(Category category, ResultView view, const StatNode* app) {
  m_category = category;
  m_view = view;
  m_app = view == ResultView::kAppFiles ? app : nullptr;
  m_columns = &ResultColumns(category, view);
  m_rows = m_session.ReadStatistics([&](const CStatisticsObj& stats) {
    std::vector<Row> rows;
    const StatNode& node = stats.CategoryNode(category);
    const auto& entries = stats.Entries();
    auto add = [&](std::size_t index) {
      if (index >= entries.size()) return;
      const StatEntry& e = entries[index];
      rows.push_back(Row{e.item, static_cast<std::uint32_t>(index), e.deleted != 0});
    };
    if (view == ResultView::kApps) {
      rows.reserve(node.children.size());
      for (const StatNode* child : node.children) add(child->entry);
    } else if (view == ResultView::kAppFiles) {
      if (app != nullptr) {
        rows.reserve(app->itemEntries.size());
        for (std::size_t i : app->itemEntries) add(i);
      }
    } else {
      rows.reserve(node.itemEntries.size());
      for (std::size_t i : node.itemEntries) add(i);
    }
    return rows;
  });
}

void CResultRows::Clear() {
  m_rows.clear();
  m_rows.shrink_to_fit();
  m_app = nullptr;
  m_deletedOnly = false;
}

std::size_t CResultRows::Entry(int row) const {
  return Valid(row) ? m_rows[static_cast<std::size_t>(row)].entry : CStatisticsObj::npos;
}

StatItem CResultRows::Item(int row) const {
  return Valid(row) ? m_rows[static_cast<std::size_t>(row)].item : StatItem{};
}

bool CResultRows::Deleted(int row) const {
  return Valid(row) && m_rows[static_cast<std::size_t>(row)].deleted;
}

QString CResultRows::RowText(int row, int column) const {
  const int index = column - 1;
  if (!Valid(row) || index < 0 || index >= static_cast<int>(m_columns->size())) return QString();
  return (*m_columns)[static_cast<std::size_t>(index)].cell(
      m_rows[static_cast<std::size_t>(row)].item);
}

bool CResultRows::RowChecked(int row) const {
  if (!Valid(row)) return false;
  const std::size_t entry = m_rows[static_cast<std::size_t>(row)].entry;
  return m_session.ReadStatistics([entry](const CStatisticsObj& stats) {
    const auto& entries = stats.Entries();
    return entry < entries.size() && entries[entry].ticked != 0;
  });
}

QColor CResultRows::RowTextColor(int row) const {
  return Deleted(row) ? kDeletedColor : QColor();
}

QString CResultRows::RowIcon(int row) const {
  if (m_view == ResultView::kApps) return QString::fromLatin1(kFolderIcon);
  return Deleted(row) ? QString::fromLatin1(kDeletedIcon) : QString();
}

bool CResultRows::RowHidden(int row) const {
  return m_deletedOnly && !Deleted(row);
}

}  // namespace bv
