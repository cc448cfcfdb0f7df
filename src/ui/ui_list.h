#pragma once
// Lists and trees on Qt's model/view, so that hundreds of thousands of rows show at
// once. A list has named header items (controls of their own, so that language tables
// relabel them), rows of texts with a user-data value, a per-row text colour, icon and
// tick box, hidden rows and one current selection. A list can also hold element
// controls (message bubbles, a contact card), one per row. UI-thread only.
#include <QAbstractTableModel>
#include <QStandardItemModel>
#include <QPointer>
#include <memory>
#include <vector>

#include "ui/ui_controls.h"

class QTableView;
class QTreeView;

namespace bv::ui {

class CListUI;

// A column heading: width 0 takes the rest. Clicking it sends "headerclick".
class CListHeaderItemUI : public CControlUI {
 public:
  explicit CListHeaderItemUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("ListHeaderItemUI"); }
  void SetText(const QString& text) override;
  void SetAttribute(const QString& name, const QString& value) override;
  // A picture shown in the heading (for instance a tick box for "all rows").
  void SetImage(const QString& imageString);
  QString GetImage() const { return m_image; }
  CListUI* GetOwner() const;
  int GetColumn() const;
  int GetColumnWidth() const { return m_fixedWidth; }
  void SetColumnWidth(int w);

 private:
  friend class CListUI;
  QString m_image;
};

class CListModel;

// Rows that live elsewhere (a program's own store of records): the list asks for a
// row's texts, colour, icon, tick and visibility only when it shows the row, so a list
// of any length costs nothing until it is painted. Row indices are the source's.
class IListRowSource {
 public:
  virtual ~IListRowSource() = default;
  virtual int RowCount() const = 0;
  virtual QString RowText(int row, int column) const = 0;
  virtual bool RowChecked(int row) const {
    (void)row;
    return false;
  }
  // Invalid for the list's own text colour.
  virtual QColor RowTextColor(int row) const {
    (void)row;
    return QColor();
  }
  // An image string for the list's icon column; empty for none.
  virtual QString RowIcon(int row) const {
    (void)row;
    return QString();
  }
  virtual bool RowHidden(int row) const {
    (void)row;
    return false;
  }
};

// Rows that are controls built from skins (message bubbles): the list builds controls
// only for the rows on screen and reuses them as it scrolls, so a list of any length
// holds about a screenful of controls. Row indices are the source's.
class IListElementSource {
 public:
  virtual ~IListElementSource() = default;
  virtual int ElementCount() const = 0;
  // Which kind of control row `index` takes; a control is reused only within its kind.
  virtual int ElementKind(int index) const = 0;
  // The row's height; 0 or less for the list's item height.
  virtual int ElementHeight(int index) const {
    (void)index;
    return 0;
  }
  // A new control of `kind` (the list takes it); nullptr when it cannot be built.
  virtual CControlUI* BuildElement(int kind) = 0;
  // Makes `element` (built for ElementKind(index)) show row `index`.
  virtual void FillElement(CControlUI* element, int index) = 0;
};

class CListUI : public CContainerUI {
 public:
  explicit CListUI(QWidget* parent = nullptr);
  ~CListUI() override;
  QString GetClass() const override { return QStringLiteral("ListUI"); }

  // Columns (built from the header items of the skin, or added by the program).
  CListHeaderItemUI* AddColumn(const QString& name, const QString& text, int width);
  void RemoveAllColumns();
  int GetColumnCount() const;
  CListHeaderItemUI* GetColumn(int index) const;
  void HeaderChanged();
  void SetHeaderVisible(bool visible);

  // Rows, indexed by the order they were added (hidden rows keep their index).
  int AddRow(const QStringList& texts, quintptr userData = 0);
  // Many rows at once: one model reset instead of one notification per row.
  void AddRows(std::vector<QStringList> rows, const std::vector<quintptr>& userData = {});
  void RemoveAllRows();
  int GetRowCount() const;
  QString GetRowText(int row, int column) const;
  void SetRowText(int row, int column, const QString& text);
  quintptr GetRowData(int row) const;
  void SetRowData(int row, quintptr data);
  void SetRowTextColor(int row, const QColor& color);
  QColor GetRowTextColor(int row) const;
  void SetRowIcon(int row, const QString& imageString);
  QString GetRowIcon(int row) const;
  // Tick box in column 0 (shown when the list has "checkimage"/"uncheckimage" or
  // "checkbox" set); a click on it sends "itemcheck" with the row as wParam.
  void SetRowCheck(int row, bool checked);
  bool GetRowCheck(int row) const;
  void SetRowHidden(int row, bool hidden);
  // Many changes of hidden rows at once: between these two calls SetRowHidden only
  // records; EndUpdate shows the result in one go (a filter over a long list).
  void BeginUpdate();
  void EndUpdate();
  bool IsRowHidden(int row) const;
  int GetVisibleRowCount() const;

  // Current selection (a row index, -1 for none). Selecting sends "itemselect".
  int GetCurSel() const;
  bool SelectItem(int row, bool notify = true);

  // Element rows: controls built from skins (bubbles, cards). The list owns them.
  bool AddElement(CControlUI* element);
  int GetElementCount() const;
  CControlUI* GetElementAt(int index) const;
  void RemoveAllElements();

  // Removes rows and elements, and lets go of a row source (the columns stay).
  void RemoveAll();

  // Shows the rows of `source` instead of rows of its own (null goes back to its own,
  // empty). The list keeps the pointer: the source must outlive it or be replaced
  // first. In this mode a click on a tick box only asks: "itemcheck" carries the row
  // and, as lParam, the tick it would get; the owner changes its source and says so.
  void SetRowSource(IListRowSource* source);
  IListRowSource* RowSource() const { return m_source; }
  // The source's rows changed in number or visibility: the list reads them again
  // (the selection goes).
  void RowSourceReset();
  // The source has `count` new rows from `first` on (the rows after them moved down);
  // the list shows them without reading the others again.
  void RowSourceRowsInserted(int first, int count);
  // Texts, ticks or colours of the source's rows changed (all rows, or one).
  void RowSourceDataChanged();
  void RowSourceRowChanged(int row);

  // Shows the rows of `source` as controls made on demand (null: back to its own rows,
  // empty). The source must outlive the list or be replaced first; after its rows change
  // in number, call SetElementSource again.
  void SetElementSource(IListElementSource* source);
  IListElementSource* ElementSource() const { return m_elementSource; }
  // The control showing row `index` of the element source; nullptr when the row is not
  // on screen.
  CControlUI* ShownElement(int index) const;
  // Controls made for the element source since it was set (shown or kept for reuse).
  int BuiltElementCount() const { return static_cast<int>(m_pool.size()); }
  // Scrolls so that `row` is on screen (at the top when `top`).
  void ScrollToRow(int row, bool top = false);

  int GetItemHeight() const { return m_itemHeight; }
  void SetItemHeight(int h);
  void SetAttribute(const QString& name, const QString& value) override;
  QTableView* View() const { return m_view; }
  bool HasCheckColumn() const { return m_checkColumn; }
  QString CheckImage(bool checked) const { return checked ? m_checkImage : m_uncheckImage; }

 protected:
  void DoLayout() override;

 private:
  friend class CListModel;
  friend class CListHeaderItemUI;
  int ViewRowToRow(int viewRow) const;
  int RowToViewRow(int row) const;
  void OnClicked(const QModelIndex& index, bool dbl);
  void OnCurrentChanged(const QModelIndex& index);
  void ApplyColumnWidths();
  void DropElementSource();
  void PlaceElements();
  void PlaceElementsOnce();

  struct PooledElement {
    QPointer<CControlUI> control;
    int kind = 0;
    int index = -1;  // the row shown, -1 when kept for reuse
  };

  QTableView* m_view;
  CListModel* m_model;
  std::vector<CListHeaderItemUI*> m_columns;
  std::vector<QPointer<CControlUI>> m_elements;
  int m_itemHeight = 30;
  bool m_checkColumn = false;
  QString m_checkImage, m_uncheckImage;
  bool m_suppressSelect = false;
  int m_lastSel = -1;
  int m_updateDepth = 0;
  bool m_hiddenDirty = false;
  int m_selBeforeUpdate = -1;
  IListRowSource* m_source = nullptr;
  IListElementSource* m_elementSource = nullptr;
  std::unique_ptr<IListRowSource> m_elementRows;  // the empty rows under the controls
  std::vector<PooledElement> m_pool;
  bool m_placing = false;
  bool m_placeAgain = false;
};

class CTreeViewUI;

// A node handle: text, icon, user data, tick box with tri-state propagation,
// visibility. Valid as long as its tree keeps it.
class CTreeNodeUI {
 public:
  QString GetText() const;
  void SetText(const QString& text);
  quintptr GetData() const;
  void SetData(quintptr data);
  void SetIcon(const QString& imageString);
  QString GetIcon() const { return m_icon; }
  void SetVisible(bool visible);
  bool IsVisible() const { return m_visible; }
  Qt::CheckState GetCheckState() const;
  // As a click does: children follow, ancestors are recomputed, "itemcheck" is sent.
  void SetCheck(bool checked);
  // Only this node's look (a program showing a state it keeps elsewhere): nothing
  // follows and nothing is sent.
  void ShowCheckState(Qt::CheckState state);
  CTreeNodeUI* GetParent() const { return m_parent; }
  int GetChildCount() const { return static_cast<int>(m_children.size()); }
  CTreeNodeUI* GetChild(int i) const;
  QString GetAttribute(const QString& name) const;
  void SetAttribute(const QString& name, const QString& value);
  QStandardItem* Item() const { return m_item; }

 private:
  friend class CTreeViewUI;
  CTreeViewUI* m_tree = nullptr;
  CTreeNodeUI* m_parent = nullptr;
  QStandardItem* m_item = nullptr;
  std::vector<CTreeNodeUI*> m_children;
  QString m_icon;
  bool m_visible = true;
  std::vector<std::pair<QString, QString>> m_attrs;
};

// Tree of nodes. "checkbox" gives every node a tick box; ticking a node ticks its
// children and shows its ancestors half-checked or checked. Sends "itemclick",
// "itemselect" (wParam/lParam unused, the node through GetSelectedNode), "itemactivate"
// on a double click and "itemcheck" when a tick changes.
class CTreeViewUI : public CContainerUI {
 public:
  explicit CTreeViewUI(QWidget* parent = nullptr);
  ~CTreeViewUI() override;
  QString GetClass() const override { return QStringLiteral("TreeViewUI"); }

  CTreeNodeUI* AddNode(const QString& text, CTreeNodeUI* parent = nullptr, quintptr data = 0);
  void RemoveAllNodes();
  int GetNodeCount() const { return static_cast<int>(m_nodes.size()); }
  CTreeNodeUI* GetRootNode(int index) const;
  CTreeNodeUI* GetSelectedNode() const;
  bool SelectNode(CTreeNodeUI* node, bool notify = true);
  void ExpandAll();
  bool HasCheckBoxes() const { return m_checkBoxes; }
  // The node most recently clicked or ticked (what a notification is about).
  CTreeNodeUI* GetEventNode() const { return m_eventNode; }
  void SetAttribute(const QString& name, const QString& value) override;
  QTreeView* View() const { return m_view; }
  // The picture for a tick state, or an empty string for the style's own box.
  QString CheckImage(Qt::CheckState state) const { return m_checkImages[state]; }

 protected:
  void DoLayout() override;

 private:
  friend class CTreeNodeUI;
  CTreeNodeUI* NodeFromItem(QStandardItem* item) const;
  void OnItemChanged(QStandardItem* item);
  void PropagateDown(CTreeNodeUI* node, Qt::CheckState state);
  void RecomputeUp(CTreeNodeUI* node);
  QIcon IconFor(const QString& imageString) const;

  QTreeView* m_view;
  QStandardItemModel* m_model;
  std::vector<CTreeNodeUI*> m_roots;
  std::vector<std::unique_ptr<CTreeNodeUI>> m_nodes;
  bool m_checkBoxes = false;
  bool m_updating = false;
  CTreeNodeUI* m_eventNode = nullptr;
  int m_itemHeight = 28;
  QString m_checkImages[3];  // unchecked, half, checked: drawn over the style's boxes
};

}  // namespace bv::ui
