#pragma once
// Controls beyond the basics: an animated picture, an embedded web browser and menus
// built from skins. UI-thread only.
#include <QPageLayout>
#include <QPointer>
#include <functional>
#include <memory>

#include "ui/ui_controls.h"

class QMovie;
class QBuffer;
class QMenu;
class QAction;
class QWebEngineView;
class QPrinter;

namespace bv::ui {

// Plays an animated picture ("normalgiffile", read from the window's skin source) and
// can be started and stopped; with "autoplay" it starts when built.
class CGifAnimUI : public CButtonUI {
 public:
  explicit CGifAnimUI(QWidget* parent = nullptr);
  ~CGifAnimUI() override;
  QString GetClass() const override { return QStringLiteral("GifAnimUI"); }
  void SetAttribute(const QString& name, const QString& value) override;
  bool LoadGif(const QString& file);
  void PlayGif();
  void StopGif();
  bool IsPlaying() const;
  int FrameCount() const;

 protected:
  void PaintStatusImage(QPainter& p) override;
  void showEvent(QShowEvent* e) override;

 private:
  QString m_gifFile;
  bool m_autoPlay = false;
  bool m_wantPlay = false;
  QByteArray m_bytes;
  std::unique_ptr<QBuffer> m_buffer;
  std::unique_ptr<QMovie> m_movie;
};

// Embedded web browser over QtWebEngine: navigate, refresh, call a page's script
// function, print to PDF or to a printer. Sends "documentcomplete" (wParam 1 on
// success) when a page has loaded.
class CWebBrowserUI : public CControlUI {
 public:
  explicit CWebBrowserUI(QWidget* parent = nullptr);
  QString GetClass() const override { return QStringLiteral("WebBrowserUI"); }
  void SetAttribute(const QString& name, const QString& value) override;
  void Navigate(const QString& urlOrPath);
  void Refresh();
  QString GetUrl() const;
  // Calls `function()` of the page; `done` (optional) gets the result as text.
  void CallScript(const QString& function, std::function<void(const QString&)> done = {});
  // Writes the page as PDF (A4 portrait unless a layout is given); `done(ok)` is called
  // when the file is written.
  void PrintToPdf(const QString& path, std::function<void(bool)> done = {},
                  const QPageLayout& layout = QPageLayout());
  // Prints to a printer; `done(ok)` when finished.
  void Print(QPrinter* printer, std::function<void(bool)> done = {});
  QWebEngineView* View() const { return m_view; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  QWebEngineView* m_view;
  QString m_homePage;
};

class CSkinWindow;

// A menu from a skin: <Menu name="..."> with <MenuElement name text visible> children
// (nested for sub-menus). Clicking an element sends "itemclick" to the owner with the
// element's name; the menu then closes.
class CMenuWnd {
 public:
  CMenuWnd();
  ~CMenuWnd();
  // Loads the skin from the source of `owner`. False when the skin is missing.
  bool Init(CSkinWindow* owner, const QString& skinFile);
  QString GetName() const { return m_name; }
  bool HasElement(const QString& name) const;
  QString GetElementText(const QString& name) const;
  bool IsElementVisible(const QString& name) const;
  void SetElementVisible(const QString& name, bool visible);
  void SetElementText(const QString& name, const QString& text);
  // Shows `image` (a skin image string) beside the element; an empty one shows none.
  void SetElementImage(const QString& name, const QString& image);
  // Adds a child element under `parentName`; with `checkImage` it shows that picture.
  bool AddChildElement(const QString& parentName, const QString& name, const QString& text,
                       const QString& checkImage = QString());
  // Shows the menu with its top-left corner at a screen point (non-blocking).
  void ShowAt(const QPoint& screenPos);
  // Does what clicking the element does.
  bool Trigger(const QString& name);
  QMenu* Menu() const { return m_menu.get(); }

 private:
  QMenu* MenuOf(const QString& elementName);
  QAction* Action(const QString& name) const;
  std::unique_ptr<QMenu> m_menu;
  QPointer<CSkinWindow> m_owner;
  QString m_name;
  std::vector<QPointer<QMenu>> m_subMenus;
};

}  // namespace bv::ui
