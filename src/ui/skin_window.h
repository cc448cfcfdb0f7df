#pragma once
// A top-level window built from a skin file. The window owns the skin's resources
// (fonts, styles, default attributes), the control tree, the registry of virtual
// windows and the notification routing: a control's notification goes to the object
// registered under the "virtualwnd" name of the nearest layout that declares one, or to
// the window's own Notify. UI-thread only.
#include <QEventLoop>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <functional>
#include <memory>

#include "ui/skin_source.h"
#include "ui/ui_base.h"
#include "ui/ui_controls.h"

namespace bv::ui {

class CSkinWindow : public QWidget, public INotifyUI {
 public:
  explicit CSkinWindow(QWidget* parent = nullptr);
  ~CSkinWindow() override;

  // Where skins come from for every window that names no source of its own (the
  // program sets the embedded archive once at start).
  static void SetDefaultSkinSource(std::shared_ptr<ISkinSource> source);
  static std::shared_ptr<ISkinSource> DefaultSkinSource();
  void SetSkinSource(std::shared_ptr<ISkinSource> source) { m_source = std::move(source); }
  const ISkinSource* GetSkinSource() const;

  // What a derived window declares.
  virtual QString GetSkinFolder() const { return QStringLiteral("Skins\\"); }
  virtual QString GetSkinFile() const { return m_skinFile; }
  virtual QString GetWindowClassName() const { return m_className; }
  void SetSkinFile(const QString& file) { m_skinFile = file; }
  void SetWindowClassName(const QString& name) { m_className = name; }

  // The factory hook: controls for tag names the framework does not know. Return
  // nullptr to let the framework decide (it then makes a plain container).
  virtual CControlUI* CreateControl(const QString& tagName);
  // Extra factory used before CreateControl (for windows that do not derive).
  using ControlFactory = std::function<CControlUI*(const QString& tag)>;
  void SetControlFactory(ControlFactory f) { m_factory = std::move(f); }
  CControlUI* CreateCustomControl(const QString& tag);

  // Loads the skin, builds the control tree and sends "windowinit". A missing or
  // broken skin leaves the window without controls and returns false.
  bool Create();
  bool IsCreated() const { return m_created; }
  CControlUI* GetRoot() const { return m_root; }

  CControlUI* FindControl(const QString& name) const;
  template <class T>
  T* Find(const QString& name) const {
    return dynamic_cast<T*>(FindControl(name));
  }

  // Virtual windows and extra listeners.
  void AddVirtualWnd(const QString& name, INotifyUI* target);
  void RemoveVirtualWnd(const QString& name);
  INotifyUI* GetVirtualWnd(const QString& name) const;
  void AddNotifier(INotifyUI* n);
  void RemoveNotifier(INotifyUI* n);
  // Routes a notification (controls call this through SendNotify).
  void SendNotify(TNotifyUI& msg);
  // Default handler: does nothing.
  void Notify(TNotifyUI& msg) override;

  // Skin resources.
  QFont GetFont(int id) const;
  QFont GetDefaultFont() const { return m_defaultFont; }
  void AddFont(int id, const QFont& f, bool isDefault);
  bool HasFont(int id) const { return m_fonts.contains(id); }
  QString GetStyle(const QString& name) const { return m_styles.value(name); }
  void AddStyle(const QString& name, const QString& value, bool overwrite);
  QString GetDefaultAttributes(const QString& tag) const { return m_defaults.value(tag.toLower()); }
  void AddDefaultAttributes(const QString& tag, const QString& value, bool overwrite);
  QPixmap GetImage(const QString& file) const;

  // Window attributes from the skin's root element.
  QRect GetCaptionRect() const { return m_caption; }
  QMargins GetSizeBox() const { return m_sizeBox; }
  QSize GetRoundCorner() const { return m_roundCorner; }
  QSize GetInitSize() const { return m_initSize; }
  QSize GetMinInfo() const { return m_minInfo; }
  void SetWindowAttribute(const QString& name, const QString& value);
  QString GetWindowAttribute(const QString& name) const { return m_windowAttrs.value(name); }

  enum class Hit {
    Client,
    Caption,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
  };
  // Hit-test of a window without system frame: size-box margins resize (unless
  // maximised), the caption strip drags except over buttons, options, texts, edits and
  // check boxes.
  Hit HitTest(const QPoint& local) const;

  // Centres the window over `owner` (or the screen when there is none).
  void CenterOver(QWidget* owner);
  // Runs the window modally; returns the code given to Close.
  int ShowModal();
  bool IsModalRunning() const { return m_loop != nullptr; }
  // Ends a modal run with `result`, or closes a modeless window.
  void Close(int result = 1);
  int GetResult() const { return m_result; }

 protected:
  // Called after the tree is built, before "windowinit" is sent.
  virtual void InitWindow() {}
  // Return and Escape: a pop-up overrides these; the default swallows both.
  virtual void OnReturnKey() {}
  virtual void OnEscapeKey() {}

  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;

 private:
  std::shared_ptr<ISkinSource> m_source;
  QString m_skinFile;
  QString m_className;
  ControlFactory m_factory;
  bool m_created = false;
  CControlUI* m_root = nullptr;
  QHash<QString, INotifyUI*> m_virtualWnds;
  std::vector<INotifyUI*> m_notifiers;
  QMap<int, QFont> m_fonts;
  QFont m_defaultFont;
  QHash<QString, QString> m_styles;
  QHash<QString, QString> m_defaults;
  QHash<QString, QString> m_windowAttrs;
  QRect m_caption;
  QMargins m_sizeBox;
  QSize m_roundCorner;
  QSize m_initSize;
  QSize m_minInfo;
  QEventLoop* m_loop = nullptr;
  int m_result = 0;
  bool m_dragging = false;
  QPoint m_dragOffset;
  Qt::Edges m_resizeEdges;
  QPoint m_resizeStart;
  QRect m_resizeGeometry;
};

}  // namespace bv::ui
