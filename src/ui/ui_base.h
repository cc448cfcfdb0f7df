#pragma once
// Base of every skinned control: the attributes all controls share, the notification
// types, and the parsers for the small value languages of skins (colours, rectangles,
// image strings). UI-thread only, like every widget.
#include <QColor>
#include <QFont>
#include <QMargins>
#include <QRect>
#include <QString>
#include <QWidget>
#include <utility>
#include <vector>

namespace bv::ui {

class CSkinWindow;
class CControlUI;
class CContainerUI;

// A notification from a control to its window, by the sender's skin name.
struct TNotifyUI {
  QString sType;        // "click", "selectchanged", "itemclick", ...
  QString sVirtualWnd;  // the virtual window the sender lives in, empty for the window itself
  CControlUI* pSender = nullptr;
  qint64 wParam = 0;
  qint64 lParam = 0;
  QString SenderName() const;
};

// Whoever receives notifications: a window or an object registered as a virtual window.
class INotifyUI {
 public:
  virtual ~INotifyUI() = default;
  virtual void Notify(TNotifyUI& msg) = 0;
};

// An image string: either a plain file name or
// "file='Controls.png' source='l,t,r,b' dest='l,t,r,b' corner='l,t,r,b' fade='255'".
// source is the rectangle cut from the file, dest where it goes inside the control
// (whole control when absent), corner the nine-patch margins that are not stretched.
struct ImageSpec {
  QString file;
  QRect source;     // null when the whole file is used
  QRect dest;       // null when the image fills the control
  QMargins corner;  // zero for a plain stretch
  int fade = 255;
  bool xtiled = false;
  bool ytiled = false;
};
// False for an empty or malformed string (unknown keys are ignored).
bool ParseImageString(const QString& text, ImageSpec* out);

// "#AARRGGBB", "#RRGGBB", "0xAARRGGBB"; false when it is none of these.
bool ParseColor(const QString& text, QColor* out);
// "l,t,r,b" as four integers; false unless there are exactly four.
bool ParseFour(const QString& text, int out[4]);
// "w,h" as two integers.
bool ParseTwo(const QString& text, int out[2]);
bool ParseBool(const QString& text);
// The value language of <Default> and <Style>: name="value" name='value' ...
std::vector<std::pair<QString, QString>> ParseAttributeList(const QString& text);

// Every control of a skin. Controls paint themselves from their attributes; the few
// that wrap a Qt widget (edit, lists, trees, rich text, browser) fill their rectangle
// with it. Layout is done by the parent container, not by Qt layouts, so that sizes and
// paddings mean what the skin says.
class CControlUI : public QWidget {
 public:
  explicit CControlUI(QWidget* parent = nullptr);
  ~CControlUI() override;

  // Class name as hit-testing and tests see it: "ButtonUI", "LabelUI", ...
  virtual QString GetClass() const { return QStringLiteral("ControlUI"); }
  virtual bool IsContainer() const { return false; }

  QString GetName() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  virtual QString GetText() const { return m_text; }
  virtual void SetText(const QString& text);
  QString GetToolTip() const { return toolTip(); }

  // Explicit visibility (independent of whether the window is shown yet).
  bool IsVisible() const {
    return !(testAttribute(Qt::WA_WState_ExplicitShowHide) && testAttribute(Qt::WA_WState_Hidden));
  }
  void SetVisible(bool visible);
  bool IsEnabled() const { return isEnabled(); }
  virtual void SetEnabled(bool enabled);

  // Options, check boxes and buttons that keep a state answer these.
  virtual bool IsSelected() const { return false; }
  virtual void Selected(bool selected, bool notify = true);

  QString GetBkImage() const { return m_bkImage; }
  void SetBkImage(const QString& imageString);
  QColor GetBkColor() const { return m_bkColor; }
  void SetBkColor(const QColor& c);
  QColor GetTextColor() const { return m_textColor; }
  virtual void SetTextColor(const QColor& c);

  // Fixed sizes; 0 means "take what the layout gives".
  int GetFixedWidth() const { return m_fixedWidth; }
  int GetFixedHeight() const { return m_fixedHeight; }
  void SetFixedWidth(int w);
  void SetFixedHeight(int h);
  QMargins GetPadding() const { return m_padding; }
  void SetPadding(const QMargins& m);
  int GetMinWidth() const { return m_minWidth; }
  int GetMinHeight() const { return m_minHeight; }
  int GetMaxWidth() const { return m_maxWidth; }
  int GetMaxHeight() const { return m_maxHeight; }
  bool IsFloat() const { return m_float; }
  QRect GetFloatPos() const { return m_floatPos; }

  // Asks the parent container to lay its children out again.
  void NeedParentUpdate();
  virtual void Relayout() {}

  // Free user data, as controls of this kind commonly carry.
  void SetTag(quintptr tag) { m_tag = tag; }
  quintptr GetTag() const { return m_tag; }
  QString GetUserData() const { return m_userData; }
  void SetUserData(const QString& d) { m_userData = d; }

  CSkinWindow* GetManager() const { return m_manager; }
  // Sets the owning window for this control and every control below it.
  void SetManager(CSkinWindow* manager);
  CContainerUI* GetParentContainer() const;

  // The virtual window name this control declares ("virtualwnd"), and the one that
  // applies to it (its own or the nearest ancestor's).
  QString GetVirtualWnd() const;
  void SetVirtualWnd(const QString& name) { m_virtualWnd = name; }

  // Applies one skin attribute; unknown names are kept so that custom controls and
  // tests can read them back.
  virtual void SetAttribute(const QString& name, const QString& value);
  QString GetAttribute(const QString& name) const;

  // Sends a notification to the owning window (nothing when there is none).
  void SendNotify(const QString& type, qint64 wParam = 0, qint64 lParam = 0);

  QFont GetFont() const;
  int GetFontId() const { return m_fontId; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  virtual void PaintBk(QPainter& p);
  virtual void PaintStatusImage(QPainter& p) { (void)p; }
  virtual void PaintText(QPainter& p);
  virtual void PaintBorder(QPainter& p);
  // Draws an image string into this control's rectangle (or `area` when given).
  bool DrawImage(QPainter& p, const QString& imageString, const QRect& area = QRect());
  QRect TextRect() const;
  int TextFlags() const;

  QString m_text;
  QString m_bkImage;
  QColor m_bkColor;
  QColor m_bkColor2;
  QColor m_textColor;
  QColor m_disabledTextColor;
  QColor m_borderColor;
  int m_borderSize = 0;
  int m_borderRound = 0;
  int m_fontId = -1;
  int m_align = 0;  // Qt alignment flags
  bool m_endEllipsis = false;
  bool m_multiLine = false;
  QMargins m_textPadding;
  QMargins m_padding;
  int m_fixedWidth = 0;
  int m_fixedHeight = 0;
  int m_minWidth = 0, m_minHeight = 0, m_maxWidth = 0, m_maxHeight = 0;
  bool m_float = false;
  QRect m_floatPos;
  quintptr m_tag = 0;
  QString m_userData;
  QString m_virtualWnd;
  CSkinWindow* m_manager = nullptr;
  std::vector<std::pair<QString, QString>> m_extraAttrs;

  friend class CContainerUI;
};

// Finds a control by skin name below `root` (root included); nullptr when absent.
CControlUI* FindControl(QWidget* root, const QString& name);
template <class T>
T* FindControlAs(QWidget* root, const QString& name) {
  return dynamic_cast<T*>(FindControl(root, name));
}

}  // namespace bv::ui
