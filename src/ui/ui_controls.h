#pragma once
// The stock controls of the skin framework: containers and layouts, labels, buttons,
// options and check boxes, edits, progress bars, tab layouts and rich text.
// UI-thread only.
#include <QPointer>
#include <QTimer>
#include <vector>

#include "ui/ui_base.h"

class QLineEdit;
class QTextEdit;

namespace bv::ui {

// A container lays its children out itself: "Container" stacks them over its whole
// area, the vertical and horizontal layouts line them up. Children with a fixed size
// keep it; the others share what is left. "inset" is the inner margin, "childpadding"
// the gap between children, each child's "padding" its outer margin; children with
// float="true" sit at their "pos" rectangle instead.
class CContainerUI : public CControlUI {
 public:
  explicit CContainerUI(QWidget* parent = nullptr);
  ~CContainerUI() override;
  QString GetClass() const override { return QStringLiteral("ContainerUI"); }
  bool IsContainer() const override { return true; }

  bool Add(CControlUI* control);
  bool AddAt(CControlUI* control, int index);
  // Removes and deletes the control.
  bool Remove(CControlUI* control);
  // Removes and deletes every child.
  void RemoveAll();
  int GetCount() const;
  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(CControlUI* control) const;

  QMargins GetInset() const { return m_inset; }
  int GetChildPadding() const { return m_childPadding; }
  void SetAttribute(const QString& name, const QString& value) override;
  void Relayout() override;

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  virtual void DoLayout();
  std::vector<CControlUI*> VisibleItems() const;
  void LayoutFloat(CControlUI* c);

  std::vector<QPointer<CControlUI>> m_items;
  QMargins m_inset;
  int m_childPadding = 0;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  using CContainerUI::CContainerUI;
  QString GetClass() const override { return QStringLiteral("VerticalLayoutUI"); }

 protected:
  void DoLayout() override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  using CContainerUI::CContainerUI;
  QString GetClass() const override { return QStringLiteral("HorizontalLayoutUI"); }

 protected:
  void DoLayout() override;
};

// Shows one child at a time ("selectedid"); sends "tabselect" with the new index as
// wParam and the old one as lParam.
class CTabLayoutUI : public CContainerUI {
 public:
  using CContainerUI::CContainerUI;
  QString GetClass() const override { return QStringLiteral("TabLayoutUI"); }
  int GetCurSel() const { return m_curSel; }
  bool SelectItem(int index);
  void SetAttribute(const QString& name, const QString& value) override;

 protected:
  void DoLayout() override;
  void showEvent(QShowEvent* e) override;

 private:
  void ApplySelection();
  int m_curSel = 0;
};

class CLabelUI : public CControlUI {
 public:
  explicit CLabelUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("LabelUI"); }
};

class CTextUI : public CLabelUI {
 public:
  using CLabelUI::CLabelUI;
  QString GetClass() const override { return QStringLiteral("TextUI"); }
};

// Button with normal/hot/pushed/disabled/focused images; sends "click".
class CButtonUI : public CLabelUI {
 public:
  explicit CButtonUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("ButtonUI"); }
  void SetAttribute(const QString& name, const QString& value) override;
  // Does what a user's click does (tests and keyboard use this too).
  virtual void Activate();

 protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void PaintStatusImage(QPainter& p) override;
  void PaintText(QPainter& p) override;
  bool m_hot = false;
  bool m_pushed = false;
  QString m_normalImage, m_hotImage, m_pushedImage, m_disabledImage, m_focusedImage, m_foreImage;
  QColor m_hotTextColor, m_pushedTextColor;
};

// Option: a button with a selected state; options sharing a "group" in one window
// exclude each other. Sends "click" and, when the state changes, "selectchanged".
class COptionUI : public CButtonUI {
 public:
  using CButtonUI::CButtonUI;
  QString GetClass() const override { return QStringLiteral("OptionUI"); }
  bool IsSelected() const override { return m_selected; }
  void Selected(bool selected, bool notify = true) override;
  QString GetGroup() const { return m_group; }
  void SetAttribute(const QString& name, const QString& value) override;
  void Activate() override;
  void SetSelectedImage(const QString& img) {
    m_selectedImage = img;
    update();
  }
  void SetNormalImage(const QString& img) {
    m_normalImage = img;
    update();
  }

 protected:
  void PaintStatusImage(QPainter& p) override;
  void PaintText(QPainter& p) override;
  bool m_selected = false;
  QString m_group;
  QString m_selectedImage, m_selectedHotImage;
  QColor m_selectedTextColor;
};

// Check box with an optional half-checked look (tri-state): a checked box can be
// shown half-checked, as a "select all" box does when only some are chosen.
class CCheckBoxUI : public COptionUI {
 public:
  using COptionUI::COptionUI;
  QString GetClass() const override { return QStringLiteral("CheckBoxUI"); }
  bool IsHalfChecked() const { return m_half; }
  void SetHalfChecked(bool half);
  void SetCheck(bool check, bool notify = true) { Selected(check, notify); }
  bool GetCheck() const { return m_selected; }
  // 0 unchecked, 1 half, 2 checked (Qt::CheckState).
  Qt::CheckState CheckState() const;
  void SetAttribute(const QString& name, const QString& value) override;
  void Activate() override;

 protected:
  void PaintStatusImage(QPainter& p) override;
  bool m_half = false;
  QString m_halfImage;
};

// Single-line edit over QLineEdit: "password", "maxchar", "readonly", "textpadding".
// Sends "textchanged" and "return".
class CEditUI : public CControlUI {
 public:
  explicit CEditUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("EditUI"); }
  QString GetText() const override;
  void SetText(const QString& text) override;
  void SetAttribute(const QString& name, const QString& value) override;
  void SetTextColor(const QColor& c) override;
  void SetFocusToEdit();
  QLineEdit* LineEdit() const { return m_edit; }

 protected:
  // The line edit draws the text (as dots for a password); the control draws none.
  void PaintText(QPainter& p) override { (void)p; }
  void resizeEvent(QResizeEvent* e) override;
  void ApplyStyle();
  QLineEdit* m_edit;
};

// Progress bar "min"/"max"/"value" with a fore image or colour for the done part.
// With "timerinterval" (ms) above 0 it sends "timer" periodically while it exists.
class CProgressUI : public CLabelUI {
 public:
  explicit CProgressUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("ProgressUI"); }
  int GetValue() const { return m_value; }
  void SetValue(int v);
  int GetMinValue() const { return m_min; }
  int GetMaxValue() const { return m_max; }
  void SetMinValue(int v);
  void SetMaxValue(int v);
  void StartTimer(int intervalMs);
  void StopTimer();
  bool IsTimerRunning() const { return m_timer.isActive(); }
  void SetAttribute(const QString& name, const QString& value) override;

 protected:
  void PaintStatusImage(QPainter& p) override;
  int m_min = 0, m_max = 100, m_value = 0;
  QString m_foreImage;
  QColor m_foreColor;
  QTimer m_timer;
};

// Rich text box: coloured, aligned text and pictures appended in order.
class CRichEditUI : public CControlUI {
 public:
  explicit CRichEditUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("RichEditUI"); }
  QString GetText() const override;
  void SetText(const QString& text) override;
  void Clear();
  void AppendText(const QString& text, const QColor& color, Qt::Alignment align = Qt::AlignLeft);
  // Appends a picture scaled to the box's width; false when the file is no picture.
  bool AppendImageFile(const QString& path);
  bool AppendImage(const QImage& image);
  QTextEdit* TextEdit() const { return m_edit; }
  void SetAttribute(const QString& name, const QString& value) override;

 protected:
  void PaintText(QPainter& p) override { (void)p; }  // the text box draws its text
  void resizeEvent(QResizeEvent* e) override;
  QTextEdit* m_edit;
  int m_imageCounter = 0;
};

}  // namespace bv::ui
