#pragma once
// The program's own controls, created by a window's factory for the tags "ButtonEx",
// "ButtonGif", "LabelEx", "FileTree", "Pagination" and "DiskList". UI-thread only.
#include "ui/ui_extra.h"
#include "ui/ui_list.h"

namespace bv::ui {

// Button with separate hot images for its on and off states ("onhot", "offhot";
// "onimage"/"offimage" for the plain states). Clicking flips the state.
class CButtonExUI : public CButtonUI {
 public:
  using CButtonUI::CButtonUI;
  QString GetClass() const override { return QStringLiteral("ButtonExUI"); }
  bool IsOn() const { return m_on; }
  void SetOn(bool on);
  void SetAttribute(const QString& name, const QString& value) override;
  void Activate() override;

 protected:
  void PaintStatusImage(QPainter& p) override;

 private:
  bool m_on = false;
  QString m_onImage, m_offImage, m_onHot, m_offHot;
};

// Button that plays an animated GIF ("normalgiffile").
class CButtonGifUI : public CGifAnimUI {
 public:
  using CGifAnimUI::CGifAnimUI;
  QString GetClass() const override { return QStringLiteral("ButtonGifUI"); }
};

// Label variant for message bubbles: the bubble grows with its text (word-wrapped up
// to "maxwidth") and keeps its nine-patch background.
class CLabelExUI : public CLabelUI {
 public:
  explicit CLabelExUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("LabelExUI"); }
  // Height this label needs for its text at `width`.
  int HeightForText(int width) const;
};

// Tree with tick boxes for the category tree.
class CFileTreeUI : public CTreeViewUI {
 public:
  explicit CFileTreeUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("FileTreeUI"); }
};

// Page selector: previous, "page / pages", next. Sends "pagechanged" (wParam = page).
class CPaginationUI : public CHorizontalLayoutUI {
 public:
  explicit CPaginationUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("PaginationUI"); }
  void SetPageCount(int pages);
  int GetPageCount() const { return m_pages; }
  int GetPage() const { return m_page; }
  void SetPage(int page);

 private:
  void Refresh();
  int m_pages = 1;
  int m_page = 1;
  CButtonUI* m_prev;
  CLabelUI* m_label;
  CButtonUI* m_next;
};

// List of volumes.
class CDiskListUI : public CListUI {
 public:
  using CListUI::CListUI;
  QString GetClass() const override { return QStringLiteral("DiskListUI"); }
};

// Creates the control for one of the program's tags; nullptr for any other tag.
CControlUI* CreateProgramControl(const QString& tag);

}  // namespace bv::ui
