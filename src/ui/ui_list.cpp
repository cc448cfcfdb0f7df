#include "ui/ui_list.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>
#include <QTreeView>
#include <algorithm>
#include <map>

#include "ui/skin_window.h"

namespace bv::ui {

namespace {
// Cuts the picture an image string names out of the window's sprite sheet.
QPixmap CutImage(const CSkinWindow* wnd, const QString& imageString) {
  ImageSpec img;
  if (!wnd || !ParseImageString(imageString, &img)) return QPixmap();
  const QPixmap pm = wnd->GetImage(img.file);
  if (pm.isNull()) return pm;
  const QRect src = img.source.isNull() ? pm.rect() : img.source.intersected(pm.rect());
  if (src.isEmpty()) return QPixmap();
  return pm.copy(src);
}

// The least width of a column that takes the rest of a list.
constexpr int kMinRestWidth = 80;

const char* kViewStyle =
    "QTableView, QTreeView { border: none; background: #FFFFFF; outline: 0;"
    " selection-background-color: #E3EFFC; selection-color: #1F2A37; }"
    "QTableView::item { padding-left: 6px; border-bottom: 1px solid #EEF1F5; }"
    "QTreeView::item { padding: 2px; }"
    "QTreeView::item:selected, QTableView::item:selected { background: #E3EFFC; color: #1F2A37; }"
    "QHeaderView::section { background: #F4F6F9; color: #4A5563; border: none;"
    " border-right: 1px solid #E3E7ED; border-bottom: 1px solid #E3E7ED; padding-left: 6px; }";
}  // namespace

// Draws the skin's tick-box pictures over the style's boxes, where the style puts them
// (so clicks on the box still work as the style expects).
class TickDelegate : public QStyledItemDelegate {
 public:
  TickDelegate(CTreeViewUI* tree, QObject* parent) : QStyledItemDelegate(parent), m_tree(tree) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(p, option, index);
    const QVariant v = index.data(Qt::CheckStateRole);
    if (!v.isValid()) return;
    const auto state = static_cast<Qt::CheckState>(v.toInt());
    const QString img = m_tree->CheckImage(state);
    if (img.isEmpty()) return;
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* w = opt.widget;
    QStyle* style = w ? w->style() : QApplication::style();
    const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, w);
    const QPixmap pm = CutImage(m_tree->GetManager(), img);
    if (pm.isNull() || box.isEmpty()) return;
    const QSize s = pm.size().scaled(box.size().expandedTo(pm.size()).boundedTo(QSize(18, 18)),
                                     Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), s);
    r.moveCenter(box.center());
    p->save();
    p->setRenderHint(QPainter::SmoothPixmapTransform);
    p->fillRect(box.adjusted(-1, -1, 1, 1), (opt.state & QStyle::State_Selected)
                                                ? QColor(0xE3, 0xEF, 0xFC)
                                                : QColor(Qt::white));
    p->drawPixmap(r, pm);
    p->restore();
  }

 private:
  CTreeViewUI* m_tree;
};

// ---- header items ----------------------------------------------------------------

CListHeaderItemUI::CListHeaderItemUI(QWidget* parent) : CControlUI(parent) {}

CListUI* CListHeaderItemUI::GetOwner() const {
  return dynamic_cast<CListUI*>(parentWidget());
}

int CListHeaderItemUI::GetColumn() const {
  CListUI* l = GetOwner();
  if (!l) return -1;
  for (int i = 0; i < l->GetColumnCount(); ++i)
    if (l->GetColumn(i) == this) return i;
  return -1;
}

void CListHeaderItemUI::SetText(const QString& text) {
  CControlUI::SetText(text);
  if (CListUI* l = GetOwner()) l->HeaderChanged();
}

void CListHeaderItemUI::SetColumnWidth(int w) {
  m_fixedWidth = std::max(0, w);
  if (CListUI* l = GetOwner()) l->HeaderChanged();
}

void CListHeaderItemUI::SetImage(const QString& imageString) {
  m_image = imageString;
  if (CListUI* l = GetOwner()) l->HeaderChanged();
}

void CListHeaderItemUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("image") || name == QLatin1String("normalimage"))
    m_image = value;
  else
    CControlUI::SetAttribute(name, value);
}

// ---- the list model ----------------------------------------------------------------

struct ListRow {
  QStringList texts;
  quintptr data = 0;
  QColor color;
  QString icon;
  bool checked = true;
  bool hidden = false;
  QPointer<CControlUI> element;
};

class CListModel : public QAbstractTableModel {
 public:
  explicit CListModel(CListUI* list) : m_list(list) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(m_visible.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : std::max(1, m_list->GetColumnCount());
  }

  QVariant data(const QModelIndex& idx, int role) const override {
    if (!idx.isValid() || idx.row() >= static_cast<int>(m_visible.size())) return {};
    if (const IListRowSource* src = m_list->m_source)
      return SourceData(*src, m_visible[static_cast<size_t>(idx.row())], idx.column(), role);
    const ListRow& r = m_rows[static_cast<size_t>(m_visible[static_cast<size_t>(idx.row())])];
    const int col = idx.column();
    switch (role) {
      case Qt::DisplayRole:
      case Qt::ToolTipRole:
        if (r.element) return {};
        return col < r.texts.size() ? r.texts[col] : QString();
      case Qt::ForegroundRole:
        if (r.color.isValid()) return r.color;
        return {};
      case Qt::DecorationRole:
        if (r.element) return {};
        if (m_list->HasCheckColumn() && col == 0) return Pixmap(m_list->CheckImage(r.checked));
        if (col == m_iconColumn && !r.icon.isEmpty()) return Pixmap(r.icon);
        return {};
      case Qt::FontRole:
        return m_list->GetFont();
      case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
      default:
        return {};
    }
  }

  // A row of the list's source: asked for only what the view shows.
  QVariant SourceData(const IListRowSource& src, int row, int col, int role) const {
    switch (role) {
      case Qt::DisplayRole:
      case Qt::ToolTipRole:
        return src.RowText(row, col);
      case Qt::ForegroundRole: {
        const QColor c = src.RowTextColor(row);
        if (c.isValid()) return c;
        return {};
      }
      case Qt::DecorationRole:
        if (m_list->HasCheckColumn() && col == 0)
          return Pixmap(m_list->CheckImage(src.RowChecked(row)));
        if (col == m_iconColumn) {
          const QString icon = src.RowIcon(row);
          if (!icon.isEmpty()) return Pixmap(icon);
        }
        return {};
      case Qt::FontRole:
        return m_list->GetFont();
      case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
      default:
        return {};
    }
  }

  QVariant headerData(int section, Qt::Orientation o, int role) const override {
    if (o != Qt::Horizontal) return {};
    CListHeaderItemUI* h = m_list->GetColumn(section);
    if (!h) return {};
    if (role == Qt::DisplayRole) return h->GetText();
    if (role == Qt::DecorationRole && !h->GetImage().isEmpty()) return Pixmap(h->GetImage());
    if (role == Qt::FontRole) return m_list->GetFont();
    return {};
  }

  QPixmap Pixmap(const QString& imageString) const {
    auto it = m_pixmaps.find(imageString);
    if (it != m_pixmaps.end()) return *it;
    const QPixmap pm = CutImage(m_list->GetManager(), imageString);
    m_pixmaps.insert(imageString, pm);
    return pm;
  }

  void Reset(const std::function<void()>& change) {
    beginResetModel();
    change();
    RebuildVisible();
    endResetModel();
  }

  void RebuildVisible() {
    m_visible.clear();
    if (const IListRowSource* src = m_list->m_source) {
      const int n = std::max(0, src->RowCount());
      m_visible.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i)
        if (!src->RowHidden(i)) m_visible.push_back(i);
      return;
    }
    m_visible.reserve(m_rows.size());
    for (size_t i = 0; i < m_rows.size(); ++i)
      if (!m_rows[i].hidden) m_visible.push_back(static_cast<int>(i));
  }

  // Appends one row without resetting the view.
  void Append(ListRow row) {
    const int viewRow = static_cast<int>(m_visible.size());
    beginInsertRows(QModelIndex(), viewRow, viewRow);
    m_rows.push_back(std::move(row));
    m_visible.push_back(static_cast<int>(m_rows.size() - 1));
    endInsertRows();
  }

  void HideRow(int row) {
    const int v = ViewRow(row);
    m_rows[static_cast<size_t>(row)].hidden = true;
    if (v < 0) return;
    beginRemoveRows(QModelIndex(), v, v);
    m_visible.erase(m_visible.begin() + v);
    endRemoveRows();
  }

  void ShowRow(int row) {
    m_rows[static_cast<size_t>(row)].hidden = false;
    const int v = static_cast<int>(std::lower_bound(m_visible.begin(), m_visible.end(), row) -
                                   m_visible.begin());
    if (v < static_cast<int>(m_visible.size()) && m_visible[static_cast<size_t>(v)] == row) return;
    beginInsertRows(QModelIndex(), v, v);
    m_visible.insert(m_visible.begin() + v, row);
    endInsertRows();
  }

  // New rows of the list's source: the rows from `first` on move down by `count`.
  void InsertSourceRows(const IListRowSource& src, int first, int count) {
    const auto at = std::lower_bound(m_visible.begin(), m_visible.end(), first);
    const int viewFirst = static_cast<int>(at - m_visible.begin());
    std::vector<int> added;
    for (int row = first; row < first + count; ++row)
      if (!src.RowHidden(row)) added.push_back(row);
    if (added.empty()) {
      for (auto it = at; it != m_visible.end(); ++it) *it += count;
      return;
    }
    beginInsertRows(QModelIndex(), viewFirst, viewFirst + static_cast<int>(added.size()) - 1);
    for (auto it = m_visible.begin() + viewFirst; it != m_visible.end(); ++it) *it += count;
    m_visible.insert(m_visible.begin() + viewFirst, added.begin(), added.end());
    endInsertRows();
  }

  void RowChanged(int row) {
    const int v = ViewRow(row);
    if (v >= 0) emit dataChanged(index(v, 0), index(v, columnCount() - 1));
  }

  int ViewRow(int row) const {
    auto it = std::lower_bound(m_visible.begin(), m_visible.end(), row);
    if (it == m_visible.end() || *it != row) return -1;
    return static_cast<int>(it - m_visible.begin());
  }

  void HeaderChanged() {
    emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columnCount() - 1));
  }
  void ColumnsChanged() {
    beginResetModel();
    endResetModel();
  }

  CListUI* m_list;
  std::vector<ListRow> m_rows;
  std::vector<int> m_visible;  // view row -> row, ascending
  int m_iconColumn = 0;
  mutable QHash<QString, QPixmap> m_pixmaps;
};

// ---- the list ------------------------------------------------------------------------

namespace {

// The empty rows under the controls of an element source: they give the view its
// length and its scroll bar.
class ElementRows : public IListRowSource {
 public:
  explicit ElementRows(IListElementSource* source) : m_source(source) {}
  int RowCount() const override { return std::max(0, m_source->ElementCount()); }
  QString RowText(int, int) const override { return QString(); }

 private:
  IListElementSource* m_source;
};

}  // namespace

CListUI::CListUI(QWidget* parent) : CContainerUI(parent), m_view(new QTableView(this)) {
  m_model = new CListModel(this);
  m_view->setModel(m_model);
  m_model->setParent(m_view);
  m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_view->setSelectionMode(QAbstractItemView::SingleSelection);
  m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_view->setShowGrid(false);
  m_view->setWordWrap(false);
  m_view->setTextElideMode(Qt::ElideRight);
  m_view->verticalHeader()->hide();
  m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_view->verticalHeader()->setDefaultSectionSize(m_itemHeight);
  m_view->horizontalHeader()->setHighlightSections(false);
  m_view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_view->horizontalHeader()->setFixedHeight(30);
  m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_view->setStyleSheet(QString::fromLatin1(kViewStyle));
  QObject::connect(m_view, &QTableView::clicked, this,
                   [this](const QModelIndex& i) { OnClicked(i, false); });
  QObject::connect(m_view, &QTableView::doubleClicked, this,
                   [this](const QModelIndex& i) { OnClicked(i, true); });
  QObject::connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                   [this](const QModelIndex& cur, const QModelIndex&) { OnCurrentChanged(cur); });
  // Element rows follow the view: the view moves its children when it scrolls, and
  // the controls are then placed again (and swapped for the rows now shown).
  QObject::connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this,
                   [this] { PlaceElements(); });
  QObject::connect(m_view->verticalScrollBar(), &QScrollBar::rangeChanged, this,
                   [this] { PlaceElements(); });
  QObject::connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this,
                   [this](int section) {
                     if (CListHeaderItemUI* h = GetColumn(section))
                       h->SendNotify(QStringLiteral("headerclick"), section);
                   });
}

CListUI::~CListUI() {
  // The view (with its model and the element controls) goes while the sources it reads
  // still exist.
  m_elementSource = nullptr;
  delete m_view;
  m_view = nullptr;
}

CListHeaderItemUI* CListUI::AddColumn(const QString& name, const QString& text, int width) {
  auto* h = new CListHeaderItemUI(this);
  // The view's header draws the heading; the item itself takes no room. Its visibility
  // is the column's.
  h->setGeometry(0, 0, 0, 0);
  h->SetName(name);
  h->CControlUI::SetText(text);
  h->m_fixedWidth = std::max(0, width);
  h->SetManager(m_manager);
  m_columns.push_back(h);
  m_model->ColumnsChanged();
  ApplyColumnWidths();
  return h;
}

void CListUI::RemoveAllColumns() {
  for (CListHeaderItemUI* h : m_columns) h->deleteLater();
  m_columns.clear();
  m_model->ColumnsChanged();
}

int CListUI::GetColumnCount() const {
  return static_cast<int>(m_columns.size());
}

CListHeaderItemUI* CListUI::GetColumn(int index) const {
  if (index < 0 || index >= GetColumnCount()) return nullptr;
  return m_columns[static_cast<size_t>(index)];
}

void CListUI::HeaderChanged() {
  if (m_model->columnCount() != m_view->horizontalHeader()->count()) m_model->ColumnsChanged();
  m_model->HeaderChanged();
  ApplyColumnWidths();
}

void CListUI::SetHeaderVisible(bool visible) {
  m_view->horizontalHeader()->setVisible(visible);
}

void CListUI::ApplyColumnWidths() {
  QHeaderView* hh = m_view->horizontalHeader();
  // Columns of width 0 share what the fixed ones leave; when that is too little to read
  // them, they keep a readable width and the list scrolls sideways instead.
  int fixed = 0, rest = 0;
  for (int i = 0; i < GetColumnCount() && i < hh->count(); ++i) {
    const CListHeaderItemUI* h = m_columns[static_cast<size_t>(i)];
    if (!h->IsVisible()) continue;
    if (h->GetColumnWidth() > 0)
      fixed += h->GetColumnWidth();
    else
      ++rest;
  }
  const bool squeezed = rest > 0 && m_view->viewport()->width() - fixed < rest * kMinRestWidth;
  for (int i = 0; i < GetColumnCount() && i < hh->count(); ++i) {
    const int w = m_columns[static_cast<size_t>(i)]->GetColumnWidth();
    if (w > 0) {
      hh->setSectionResizeMode(i, QHeaderView::Fixed);
      hh->resizeSection(i, w);
    } else if (squeezed) {
      hh->setSectionResizeMode(i, QHeaderView::Fixed);
      hh->resizeSection(i, kMinRestWidth);
    } else {
      hh->setSectionResizeMode(i, QHeaderView::Stretch);
    }
    m_view->setColumnHidden(i, !m_columns[static_cast<size_t>(i)]->IsVisible());
  }
  if (GetColumnCount() == 0 && hh->count() > 0) hh->setSectionResizeMode(0, QHeaderView::Stretch);
}

int CListUI::AddRow(const QStringList& texts, quintptr userData) {
  ListRow r;
  r.texts = texts;
  r.data = userData;
  m_model->Append(std::move(r));
  return static_cast<int>(m_model->m_rows.size() - 1);
}

void CListUI::AddRows(std::vector<QStringList> rows, const std::vector<quintptr>& userData) {
  m_model->Reset([&] {
    m_model->m_rows.reserve(m_model->m_rows.size() + rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      ListRow r;
      r.texts = std::move(rows[i]);
      r.data = i < userData.size() ? userData[i] : 0;
      m_model->m_rows.push_back(std::move(r));
    }
  });
}

void CListUI::RemoveAllRows() {
  DropElementSource();
  m_lastSel = -1;
  m_model->Reset([&] {
    for (auto& r : m_model->m_rows)
      if (r.element) r.element->deleteLater();
    m_model->m_rows.clear();
    m_source = nullptr;
  });
  m_elements.clear();
}

void CListUI::RemoveAll() {
  RemoveAllRows();
}

void CListUI::SetRowSource(IListRowSource* source) {
  if (!m_elementRows || source != m_elementRows.get()) DropElementSource();
  m_lastSel = -1;
  m_model->Reset([&] {
    for (auto& r : m_model->m_rows)
      if (r.element) r.element->deleteLater();
    m_model->m_rows.clear();
    m_source = source;
  });
  m_elements.clear();
}

void CListUI::RowSourceReset() {
  m_lastSel = -1;
  m_suppressSelect = true;
  m_model->Reset([] {});
  m_suppressSelect = false;
}

void CListUI::RowSourceRowsInserted(int first, int count) {
  if (!m_source || count <= 0 || first < 0) return;
  m_model->InsertSourceRows(*m_source, first, count);
}

void CListUI::RowSourceDataChanged() {
  if (m_model->rowCount() > 0)
    emit m_model->dataChanged(m_model->index(0, 0),
                              m_model->index(m_model->rowCount() - 1, m_model->columnCount() - 1));
}

void CListUI::RowSourceRowChanged(int row) {
  m_model->RowChanged(row);
}

int CListUI::GetRowCount() const {
  if (m_source) return std::max(0, m_source->RowCount());
  return static_cast<int>(m_model->m_rows.size());
}

// A row of the list's own (the setters and most getters work on these only).
static bool ValidRow(const CListModel* m, int row) {
  return row >= 0 && row < static_cast<int>(m->m_rows.size());
}

QString CListUI::GetRowText(int row, int column) const {
  if (m_source)
    return row >= 0 && row < GetRowCount() && column >= 0 ? m_source->RowText(row, column)
                                                          : QString();
  if (!ValidRow(m_model, row)) return QString();
  const auto& t = m_model->m_rows[static_cast<size_t>(row)].texts;
  return column >= 0 && column < t.size() ? t[column] : QString();
}

void CListUI::SetRowText(int row, int column, const QString& text) {
  if (!ValidRow(m_model, row) || column < 0) return;
  auto& t = m_model->m_rows[static_cast<size_t>(row)].texts;
  while (t.size() <= column) t.append(QString());
  t[column] = text;
  m_model->RowChanged(row);
}

quintptr CListUI::GetRowData(int row) const {
  return ValidRow(m_model, row) ? m_model->m_rows[static_cast<size_t>(row)].data : 0;
}

void CListUI::SetRowData(int row, quintptr data) {
  if (ValidRow(m_model, row)) m_model->m_rows[static_cast<size_t>(row)].data = data;
}

void CListUI::SetRowTextColor(int row, const QColor& color) {
  if (!ValidRow(m_model, row)) return;
  m_model->m_rows[static_cast<size_t>(row)].color = color;
  m_model->RowChanged(row);
}

QColor CListUI::GetRowTextColor(int row) const {
  return ValidRow(m_model, row) ? m_model->m_rows[static_cast<size_t>(row)].color : QColor();
}

void CListUI::SetRowIcon(int row, const QString& imageString) {
  if (!ValidRow(m_model, row)) return;
  m_model->m_rows[static_cast<size_t>(row)].icon = imageString;
  m_model->RowChanged(row);
}

QString CListUI::GetRowIcon(int row) const {
  if (!ValidRow(m_model, row)) return QString();
  return m_model->m_rows[static_cast<size_t>(row)].icon;
}

void CListUI::SetRowCheck(int row, bool checked) {
  if (!ValidRow(m_model, row)) return;
  m_model->m_rows[static_cast<size_t>(row)].checked = checked;
  m_model->RowChanged(row);
}

bool CListUI::GetRowCheck(int row) const {
  if (m_source) return row >= 0 && row < GetRowCount() && m_source->RowChecked(row);
  return ValidRow(m_model, row) && m_model->m_rows[static_cast<size_t>(row)].checked;
}

void CListUI::SetRowHidden(int row, bool hidden) {
  if (!ValidRow(m_model, row) || m_model->m_rows[static_cast<size_t>(row)].hidden == hidden) return;
  if (m_updateDepth > 0) {
    m_model->m_rows[static_cast<size_t>(row)].hidden = hidden;
    m_hiddenDirty = true;
    return;
  }
  // One row: remove it from or insert it into the view's rows, so the view keeps its
  // selection and element widgets.
  m_suppressSelect = true;
  if (hidden)
    m_model->HideRow(row);
  else
    m_model->ShowRow(row);
  m_lastSel = GetCurSel();
  m_suppressSelect = false;
}

void CListUI::BeginUpdate() {
  if (m_updateDepth++ == 0) {
    m_hiddenDirty = false;
    m_selBeforeUpdate = GetCurSel();
  }
}

void CListUI::EndUpdate() {
  if (m_updateDepth == 0 || --m_updateDepth > 0 || !m_hiddenDirty) return;
  m_hiddenDirty = false;
  m_suppressSelect = true;
  m_model->Reset([] {});
  // Index widgets do not survive a model reset; put the elements back.
  for (size_t i = 0; i < m_model->m_rows.size(); ++i) {
    auto& r = m_model->m_rows[i];
    const int v = m_model->ViewRow(static_cast<int>(i));
    if (!r.element || v < 0) continue;
    if (m_model->columnCount() > 1) m_view->setSpan(v, 0, 1, m_model->columnCount());
    m_view->setIndexWidget(m_model->index(v, 0), r.element);
    m_view->verticalHeader()->resizeSection(v, std::max(1, r.element->GetFixedHeight()));
  }
  if (m_selBeforeUpdate >= 0 && !IsRowHidden(m_selBeforeUpdate))
    SelectItem(m_selBeforeUpdate, false);
  m_lastSel = GetCurSel();
  m_suppressSelect = false;
}

bool CListUI::IsRowHidden(int row) const {
  if (m_source) return row >= 0 && row < GetRowCount() && m_model->ViewRow(row) < 0;
  return ValidRow(m_model, row) && m_model->m_rows[static_cast<size_t>(row)].hidden;
}

int CListUI::GetVisibleRowCount() const {
  return static_cast<int>(m_model->m_visible.size());
}

int CListUI::ViewRowToRow(int viewRow) const {
  if (viewRow < 0 || viewRow >= static_cast<int>(m_model->m_visible.size())) return -1;
  return m_model->m_visible[static_cast<size_t>(viewRow)];
}

int CListUI::RowToViewRow(int row) const {
  return m_model->ViewRow(row);
}

int CListUI::GetCurSel() const {
  const QModelIndex cur = m_view->selectionModel()->currentIndex();
  if (!cur.isValid() || !m_view->selectionModel()->isRowSelected(cur.row(), QModelIndex()))
    return -1;
  return ViewRowToRow(cur.row());
}

bool CListUI::SelectItem(int row, bool notify) {
  if (row < 0) {
    m_view->selectionModel()->clearSelection();
    m_view->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
    return true;
  }
  const int v = RowToViewRow(row);
  if (v < 0) return false;
  const bool saved = m_suppressSelect;
  m_suppressSelect = !notify;
  m_view->selectionModel()->setCurrentIndex(
      m_model->index(v, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  m_view->scrollTo(m_model->index(v, 0));
  m_suppressSelect = saved;
  return true;
}

void CListUI::OnCurrentChanged(const QModelIndex& index) {
  const int row = ViewRowToRow(index.row());
  if (m_suppressSelect || row < 0 || row == m_lastSel) {
    m_lastSel = row;
    return;
  }
  m_lastSel = row;
  SendNotify(QStringLiteral("itemselect"), row);
}

void CListUI::OnClicked(const QModelIndex& index, bool dbl) {
  const int row = ViewRowToRow(index.row());
  if (row < 0) return;
  if (!dbl && m_checkColumn && index.column() == 0 && m_source) {
    SendNotify(QStringLiteral("itemcheck"), row, m_source->RowChecked(row) ? 0 : 1);
    return;
  }
  if (!dbl && m_checkColumn && index.column() == 0) {
    auto& r = m_model->m_rows[static_cast<size_t>(row)];
    r.checked = !r.checked;
    m_model->RowChanged(row);
    SendNotify(QStringLiteral("itemcheck"), row, r.checked ? 1 : 0);
    return;
  }
  SendNotify(dbl ? QStringLiteral("itemactivate") : QStringLiteral("itemclick"), row,
             index.column());
}

bool CListUI::AddElement(CControlUI* element) {
  if (!element) return false;
  element->setParent(m_view->viewport());
  element->SetManager(m_manager);
  ListRow r;
  r.element = element;
  m_model->Append(std::move(r));
  const int row = GetRowCount() - 1;
  const int v = RowToViewRow(row);
  if (m_model->columnCount() > 1) m_view->setSpan(v, 0, 1, m_model->columnCount());
  m_view->setIndexWidget(m_model->index(v, 0), element);
  int h = element->GetFixedHeight();
  if (h <= 0) h = std::max(m_itemHeight, element->sizeHint().height());
  m_view->verticalHeader()->resizeSection(v, h);
  m_elements.emplace_back(element);
  return true;
}

int CListUI::GetElementCount() const {
  int n = 0;
  for (const auto& e : m_elements)
    if (e) ++n;
  return n;
}

CControlUI* CListUI::GetElementAt(int index) const {
  int n = 0;
  for (const auto& e : m_elements)
    if (e) {
      if (n == index) return e;
      ++n;
    }
  return nullptr;
}

void CListUI::RemoveAllElements() {
  RemoveAllRows();
}

void CListUI::DropElementSource() {
  if (!m_elementSource && m_pool.empty()) return;
  for (PooledElement& p : m_pool)
    if (p.control) p.control->deleteLater();
  m_pool.clear();
  m_elementSource = nullptr;
  m_view->verticalHeader()->setDefaultSectionSize(m_itemHeight);
  if (m_source == m_elementRows.get()) {
    m_model->Reset([&] { m_source = nullptr; });
  }
  m_elementRows.reset();
}

void CListUI::SetElementSource(IListElementSource* source) {
  if (!source) {
    SetRowSource(nullptr);
    return;
  }
  DropElementSource();
  m_elementSource = source;
  m_elementRows = std::make_unique<ElementRows>(source);
  SetRowSource(m_elementRows.get());
  // Each section resized on its own costs the header time in proportion to the sections
  // already resized, so the most common height becomes the default and only the others
  // are resized.
  QHeaderView* rows = m_view->verticalHeader();
  const int n = m_elementRows->RowCount();
  std::vector<int> heights(static_cast<std::size_t>(n));
  std::map<int, int> counts;
  for (int i = 0; i < n; ++i) {
    const int h = source->ElementHeight(i);
    heights[static_cast<std::size_t>(i)] = h > 0 ? h : m_itemHeight;
    ++counts[heights[static_cast<std::size_t>(i)]];
  }
  int common = m_itemHeight;
  int most = 0;
  for (const auto& [h, count] : counts)
    if (count > most) common = h, most = count;
  rows->setDefaultSectionSize(common);
  for (int i = 0; i < n; ++i)
    if (heights[static_cast<std::size_t>(i)] != common)
      rows->resizeSection(i, heights[static_cast<std::size_t>(i)]);
  m_view->scrollToTop();
  PlaceElements();
}

CControlUI* CListUI::ShownElement(int index) const {
  for (const PooledElement& p : m_pool)
    if (p.index == index && index >= 0) return p.control;
  return nullptr;
}

void CListUI::ScrollToRow(int row, bool top) {
  const int v = RowToViewRow(row);
  if (v < 0) return;
  m_view->scrollTo(m_model->index(v, 0),
                   top ? QAbstractItemView::PositionAtTop : QAbstractItemView::EnsureVisible);
  PlaceElements();
}

void CListUI::PlaceElements() {
  if (!m_elementSource) return;
  // Building, filling or showing a control can lay the view out again, which calls here
  // once more: that call only asks for another pass, so that the pool does not change
  // under the pass that runs.
  if (m_placing) {
    m_placeAgain = true;
    return;
  }
  m_placing = true;
  int passes = 0;
  do {
    m_placeAgain = false;
    PlaceElementsOnce();
  } while (m_placeAgain && m_elementSource && ++passes < 4);
  m_placing = false;
}

void CListUI::PlaceElementsOnce() {
  QWidget* port = m_view->viewport();
  const int n = m_model->rowCount();
  int first = n > 0 ? m_view->rowAt(0) : -1;
  int last = -1;
  if (first >= 0) {
    last = m_view->rowAt(std::max(0, port->height() - 1));
    if (last < 0) last = n - 1;
  }
  // Rows that left the screen give their controls back for reuse.
  for (PooledElement& p : m_pool)
    if (p.index >= 0 && (p.index < first || p.index > last)) {
      p.index = -1;
      if (p.control) p.control->hide();
    }
  for (int row = first; row >= 0 && row <= last && m_elementSource; ++row) {
    std::size_t slot = m_pool.size();
    for (std::size_t i = 0; i < m_pool.size(); ++i)
      if (m_pool[i].index == row && m_pool[i].control) slot = i;
    if (slot == m_pool.size()) {
      const int kind = m_elementSource->ElementKind(row);
      for (std::size_t i = 0; i < m_pool.size() && slot == m_pool.size(); ++i)
        if (m_pool[i].index < 0 && m_pool[i].kind == kind && m_pool[i].control) slot = i;
      if (slot == m_pool.size()) {
        CControlUI* made = m_elementSource->BuildElement(kind);
        if (!made) continue;
        made->setParent(port);
        made->SetManager(m_manager);
        m_pool.push_back(PooledElement{made, kind, -1});
      }
      m_pool[slot].index = row;
      CControlUI* control = m_pool[slot].control;
      m_elementSource->FillElement(control, row);
    }
    if (slot >= m_pool.size()) continue;  // the pool was emptied meanwhile
    const QPointer<CControlUI> control = m_pool[slot].control;
    if (!control) continue;
    const QRect cell = m_view->visualRect(m_model->index(row, 0));
    control->setGeometry(0, cell.top(), port->width(), cell.height());
    control->show();
    control->raise();
  }
}

void CListUI::SetItemHeight(int h) {
  m_itemHeight = std::max(1, h);
  m_view->verticalHeader()->setDefaultSectionSize(m_itemHeight);
}

void CListUI::SetAttribute(const QString& name, const QString& value) {
  QColor c;
  if (name == QLatin1String("itemheight"))
    SetItemHeight(value.toInt());
  else if (name == QLatin1String("header"))
    SetHeaderVisible(value != QLatin1String("hidden") && value != QLatin1String("false"));
  else if (name == QLatin1String("checkimage"))
    m_checkImage = value, m_checkColumn = true;
  else if (name == QLatin1String("uncheckimage"))
    m_uncheckImage = value, m_checkColumn = true;
  else if (name == QLatin1String("checkbox"))
    m_checkColumn = ParseBool(value);
  else if (name == QLatin1String("iconcolumn"))
    m_model->m_iconColumn = value.toInt();
  else if (name == QLatin1String("headerheight"))
    m_view->horizontalHeader()->setFixedHeight(std::max(1, value.toInt()));
  else if (name == QLatin1String("itemselectedbkcolor") && ParseColor(value, &c)) {
    QPalette pal = m_view->palette();
    pal.setColor(QPalette::Highlight, c);
    m_view->setPalette(pal);
  } else if (name == QLatin1String("itemtextcolor") && ParseColor(value, &c)) {
    QPalette pal = m_view->palette();
    pal.setColor(QPalette::Text, c);
    m_view->setPalette(pal);
  } else
    CContainerUI::SetAttribute(name, value);
}

void CListUI::DoLayout() {
  m_view->setGeometry(rect().marginsRemoved(m_inset));
  for (CListHeaderItemUI* h : m_columns) h->setGeometry(0, 0, 0, 0);
  ApplyColumnWidths();
  m_view->setFont(GetFont());
  m_view->horizontalHeader()->setFont(GetFont());
  PlaceElements();
}

// ---- tree --------------------------------------------------------------------------

QString CTreeNodeUI::GetText() const {
  return m_item->text();
}
void CTreeNodeUI::SetText(const QString& text) {
  m_item->setText(text);
}
quintptr CTreeNodeUI::GetData() const {
  return m_item->data(Qt::UserRole + 1).value<quintptr>();
}
void CTreeNodeUI::SetData(quintptr data) {
  m_item->setData(QVariant::fromValue(data), Qt::UserRole + 1);
}

void CTreeNodeUI::SetIcon(const QString& imageString) {
  m_icon = imageString;
  m_item->setIcon(m_tree->IconFor(imageString));
}

void CTreeNodeUI::SetVisible(bool visible) {
  m_visible = visible;
  const QModelIndex idx = m_item->index();
  m_tree->m_view->setRowHidden(idx.row(), idx.parent(), !visible);
}

Qt::CheckState CTreeNodeUI::GetCheckState() const {
  return m_item->checkState();
}

void CTreeNodeUI::SetCheck(bool checked) {
  m_item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

void CTreeNodeUI::ShowCheckState(Qt::CheckState state) {
  if (!m_item->isCheckable() || m_item->checkState() == state) return;
  const bool saved = m_tree->m_updating;
  m_tree->m_updating = true;
  m_item->setCheckState(state);
  m_tree->m_updating = saved;
}

CTreeNodeUI* CTreeNodeUI::GetChild(int i) const {
  return i >= 0 && i < GetChildCount() ? m_children[static_cast<size_t>(i)] : nullptr;
}

QString CTreeNodeUI::GetAttribute(const QString& name) const {
  for (const auto& kv : m_attrs)
    if (kv.first == name) return kv.second;
  return QString();
}

void CTreeNodeUI::SetAttribute(const QString& name, const QString& value) {
  for (auto& kv : m_attrs)
    if (kv.first == name) {
      kv.second = value;
      return;
    }
  m_attrs.emplace_back(name, value);
}

CTreeViewUI::CTreeViewUI(QWidget* parent)
    : CContainerUI(parent), m_view(new QTreeView(this)), m_model(new QStandardItemModel(this)) {
  m_view->setModel(m_model);
  m_view->setHeaderHidden(true);
  m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_view->setSelectionMode(QAbstractItemView::SingleSelection);
  m_view->setUniformRowHeights(true);
  m_view->setIconSize(QSize(18, 18));
  m_view->setStyleSheet(QString::fromLatin1(kViewStyle));
  m_view->setItemDelegate(new TickDelegate(this, m_view));
  QObject::connect(m_model, &QStandardItemModel::itemChanged, this,
                   [this](QStandardItem* it) { OnItemChanged(it); });
  QObject::connect(m_view, &QTreeView::clicked, this, [this](const QModelIndex& i) {
    m_eventNode = NodeFromItem(m_model->itemFromIndex(i));
    SendNotify(QStringLiteral("itemclick"));
  });
  QObject::connect(m_view, &QTreeView::doubleClicked, this, [this](const QModelIndex& i) {
    m_eventNode = NodeFromItem(m_model->itemFromIndex(i));
    SendNotify(QStringLiteral("itemactivate"));
  });
  QObject::connect(m_view->selectionModel(), &QItemSelectionModel::currentChanged, this,
                   [this](const QModelIndex& cur, const QModelIndex&) {
                     if (m_updating) return;
                     m_eventNode = NodeFromItem(m_model->itemFromIndex(cur));
                     SendNotify(QStringLiteral("itemselect"));
                   });
}

CTreeViewUI::~CTreeViewUI() = default;

QIcon CTreeViewUI::IconFor(const QString& imageString) const {
  const QPixmap pm = CutImage(m_manager, imageString);
  return pm.isNull() ? QIcon() : QIcon(pm);
}

CTreeNodeUI* CTreeViewUI::AddNode(const QString& text, CTreeNodeUI* parent, quintptr data) {
  auto node = std::make_unique<CTreeNodeUI>();
  node->m_tree = this;
  node->m_parent = parent;
  node->m_item = new QStandardItem(text);
  node->m_item->setData(QVariant::fromValue(reinterpret_cast<quintptr>(node.get())),
                        Qt::UserRole + 2);
  node->m_item->setData(QVariant::fromValue(data), Qt::UserRole + 1);
  node->m_item->setSizeHint(QSize(0, m_itemHeight));
  m_updating = true;
  if (m_checkBoxes) {
    node->m_item->setCheckable(true);
    node->m_item->setCheckState(
        parent ? parent->m_item->checkState() == Qt::Unchecked ? Qt::Unchecked : Qt::Checked
               : Qt::Checked);
  }
  if (parent) {
    parent->m_item->appendRow(node->m_item);
    parent->m_children.push_back(node.get());
  } else {
    m_model->appendRow(node->m_item);
    m_roots.push_back(node.get());
  }
  m_updating = false;
  CTreeNodeUI* raw = node.get();
  m_nodes.push_back(std::move(node));
  if (parent && m_checkBoxes) RecomputeUp(parent);
  return raw;
}

void CTreeViewUI::RemoveAllNodes() {
  m_updating = true;
  m_model->clear();
  m_updating = false;
  m_roots.clear();
  m_nodes.clear();
  m_eventNode = nullptr;
}

CTreeNodeUI* CTreeViewUI::GetRootNode(int index) const {
  return index >= 0 && index < static_cast<int>(m_roots.size())
             ? m_roots[static_cast<size_t>(index)]
             : nullptr;
}

CTreeNodeUI* CTreeViewUI::NodeFromItem(QStandardItem* item) const {
  if (!item) return nullptr;
  return reinterpret_cast<CTreeNodeUI*>(item->data(Qt::UserRole + 2).value<quintptr>());
}

CTreeNodeUI* CTreeViewUI::GetSelectedNode() const {
  const QModelIndexList sel = m_view->selectionModel()->selectedIndexes();
  if (sel.isEmpty()) return nullptr;
  return NodeFromItem(m_model->itemFromIndex(sel.front()));
}

bool CTreeViewUI::SelectNode(CTreeNodeUI* node, bool notify) {
  if (!node) {
    m_view->selectionModel()->clearSelection();
    return true;
  }
  const bool saved = m_updating;
  m_updating = !notify;
  m_view->selectionModel()->setCurrentIndex(node->m_item->index(),
                                            QItemSelectionModel::ClearAndSelect);
  m_updating = saved;
  return true;
}

void CTreeViewUI::ExpandAll() {
  m_view->expandAll();
}

void CTreeViewUI::OnItemChanged(QStandardItem* item) {
  if (m_updating || !m_checkBoxes) return;
  CTreeNodeUI* node = NodeFromItem(item);
  if (!node) return;
  m_updating = true;
  const Qt::CheckState st =
      item->checkState() == Qt::PartiallyChecked ? Qt::Checked : item->checkState();
  item->setCheckState(st);
  PropagateDown(node, st);
  if (node->m_parent) RecomputeUp(node->m_parent);
  m_updating = false;
  m_eventNode = node;
  SendNotify(QStringLiteral("itemcheck"), st == Qt::Checked ? 1 : 0);
}

void CTreeViewUI::PropagateDown(CTreeNodeUI* node, Qt::CheckState state) {
  for (CTreeNodeUI* c : node->m_children) {
    c->m_item->setCheckState(state);
    PropagateDown(c, state);
  }
}

void CTreeViewUI::RecomputeUp(CTreeNodeUI* node) {
  const bool saved = m_updating;
  m_updating = true;
  for (CTreeNodeUI* n = node; n; n = n->m_parent) {
    if (n->m_children.empty()) continue;
    int checked = 0, unchecked = 0;
    for (CTreeNodeUI* c : n->m_children) {
      if (c->m_item->checkState() == Qt::Checked)
        ++checked;
      else if (c->m_item->checkState() == Qt::Unchecked)
        ++unchecked;
    }
    const int total = static_cast<int>(n->m_children.size());
    n->m_item->setCheckState(checked == total     ? Qt::Checked
                             : unchecked == total ? Qt::Unchecked
                                                  : Qt::PartiallyChecked);
  }
  m_updating = saved;
}

void CTreeViewUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("checkbox"))
    m_checkBoxes = ParseBool(value);
  else if (name == QLatin1String("uncheckimage"))
    m_checkImages[Qt::Unchecked] = value;
  else if (name == QLatin1String("halfimage"))
    m_checkImages[Qt::PartiallyChecked] = value;
  else if (name == QLatin1String("checkimage"))
    m_checkImages[Qt::Checked] = value;
  else if (name == QLatin1String("itemheight"))
    m_itemHeight = std::max(1, value.toInt());
  else if (name == QLatin1String("indent"))
    m_view->setIndentation(value.toInt());
  else
    CContainerUI::SetAttribute(name, value);
}

void CTreeViewUI::DoLayout() {
  m_view->setGeometry(rect().marginsRemoved(m_inset));
  m_view->setFont(GetFont());
}

}  // namespace bv::ui
