#include "ui/ui_base.h"

#include <QPainter>
#include <QPainterPath>
#include <QtWidgets/qdrawutil.h>

#include "ui/skin_window.h"
#include "ui/ui_controls.h"

namespace bv::ui {

QString TNotifyUI::SenderName() const {
  return pSender ? pSender->GetName() : QString();
}

// ---- value parsers -------------------------------------------------------------

bool ParseColor(const QString& text, QColor* out) {
  QString t = text.trimmed();
  if (t.startsWith(QLatin1Char('#')))
    t.remove(0, 1);
  else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    t.remove(0, 2);
  else
    return false;
  bool ok = false;
  const uint v = t.toUInt(&ok, 16);
  if (!ok) return false;
  if (t.size() == 6) {
    *out = QColor::fromRgb(0xFF000000u | v);
    return true;
  }
  if (t.size() == 8) {
    *out = QColor::fromRgba(v);
    return true;
  }
  return false;
}

bool ParseFour(const QString& text, int out[4]) {
  const QStringList parts = text.split(QLatin1Char(','));
  if (parts.size() != 4) return false;
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    out[i] = parts[i].trimmed().toInt(&ok);
    if (!ok) return false;
  }
  return true;
}

bool ParseTwo(const QString& text, int out[2]) {
  const QStringList parts = text.split(QLatin1Char(','));
  if (parts.size() != 2) return false;
  for (int i = 0; i < 2; ++i) {
    bool ok = false;
    out[i] = parts[i].trimmed().toInt(&ok);
    if (!ok) return false;
  }
  return true;
}

bool ParseBool(const QString& text) {
  return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
         text == QLatin1String("1");
}

std::vector<std::pair<QString, QString>> ParseAttributeList(const QString& text) {
  std::vector<std::pair<QString, QString>> out;
  const int n = static_cast<int>(text.size());
  int i = 0;
  while (i < n) {
    while (i < n && text[i].isSpace()) ++i;
    const int nameStart = i;
    while (i < n && text[i] != QLatin1Char('=') && !text[i].isSpace()) ++i;
    const QString name = text.mid(nameStart, i - nameStart);
    while (i < n && text[i].isSpace()) ++i;
    if (i >= n || text[i] != QLatin1Char('=')) break;
    ++i;
    while (i < n && text[i].isSpace()) ++i;
    if (i >= n) break;
    const QChar quote = text[i];
    if (quote != QLatin1Char('"') && quote != QLatin1Char('\'')) break;
    ++i;
    const int valStart = i;
    while (i < n && text[i] != quote) ++i;
    if (i >= n) break;  // unterminated value: drop it
    out.emplace_back(name, text.mid(valStart, i - valStart));
    ++i;
  }
  return out;
}

bool ParseImageString(const QString& text, ImageSpec* out) {
  *out = ImageSpec();
  const QString t = text.trimmed();
  if (t.isEmpty()) return false;
  if (!t.contains(QLatin1Char('='))) {
    out->file = t;
    return true;
  }
  int r[4];
  for (const auto& [k, v] : ParseAttributeList(t)) {
    if (k == QLatin1String("file") || k == QLatin1String("res"))
      out->file = v;
    else if (k == QLatin1String("source") && ParseFour(v, r))
      out->source = QRect(QPoint(r[0], r[1]), QPoint(r[2] - 1, r[3] - 1));
    else if (k == QLatin1String("dest") && ParseFour(v, r))
      out->dest = QRect(QPoint(r[0], r[1]), QPoint(r[2] - 1, r[3] - 1));
    else if (k == QLatin1String("corner") && ParseFour(v, r))
      out->corner = QMargins(r[0], r[1], r[2], r[3]);
    else if (k == QLatin1String("fade"))
      out->fade = qBound(0, v.toInt(), 255);
    else if (k == QLatin1String("xtiled"))
      out->xtiled = ParseBool(v);
    else if (k == QLatin1String("ytiled"))
      out->ytiled = ParseBool(v);
  }
  return !out->file.isEmpty();
}

// ---- CControlUI ------------------------------------------------------------------

CControlUI::CControlUI(QWidget* parent) : QWidget(parent) {
  m_align = Qt::AlignLeft | Qt::AlignVCenter;
}

CControlUI::~CControlUI() = default;

void CControlUI::SetText(const QString& text) {
  if (m_text == text) return;
  m_text = text;
  update();
}

void CControlUI::SetVisible(bool visible) {
  if (IsVisible() == visible) return;
  setVisible(visible);
  NeedParentUpdate();
}

void CControlUI::SetEnabled(bool enabled) {
  setEnabled(enabled);
  update();
}

void CControlUI::Selected(bool, bool) {}

void CControlUI::SetBkImage(const QString& imageString) {
  m_bkImage = imageString;
  update();
}

void CControlUI::SetBkColor(const QColor& c) {
  m_bkColor = c;
  update();
}

void CControlUI::SetTextColor(const QColor& c) {
  m_textColor = c;
  update();
}

void CControlUI::SetFixedWidth(int w) {
  m_fixedWidth = qMax(0, w);
  NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int h) {
  m_fixedHeight = qMax(0, h);
  NeedParentUpdate();
}

void CControlUI::SetPadding(const QMargins& m) {
  m_padding = m;
  NeedParentUpdate();
}

CContainerUI* CControlUI::GetParentContainer() const {
  return dynamic_cast<CContainerUI*>(parentWidget());
}

void CControlUI::NeedParentUpdate() {
  if (CContainerUI* p = GetParentContainer())
    p->Relayout();
  else
    Relayout();
  update();
}

void CControlUI::SetManager(CSkinWindow* manager) {
  m_manager = manager;
  for (QObject* o : children())
    if (auto* c = dynamic_cast<CControlUI*>(o)) c->SetManager(manager);
}

QString CControlUI::GetVirtualWnd() const {
  for (const QWidget* w = this; w; w = w->parentWidget()) {
    const auto* c = dynamic_cast<const CControlUI*>(w);
    if (!c) break;
    if (!c->m_virtualWnd.isEmpty()) return c->m_virtualWnd;
  }
  return QString();
}

void CControlUI::SendNotify(const QString& type, qint64 wParam, qint64 lParam) {
  if (!m_manager) return;
  TNotifyUI msg;
  msg.sType = type;
  msg.pSender = this;
  msg.wParam = wParam;
  msg.lParam = lParam;
  m_manager->SendNotify(msg);
}

QFont CControlUI::GetFont() const {
  if (m_manager) return m_fontId >= 0 ? m_manager->GetFont(m_fontId) : m_manager->GetDefaultFont();
  return font();
}

static int ParseAlign(const QString& v, int current, bool vertical) {
  int a = current;
  if (!vertical) {
    a &= ~Qt::AlignHorizontal_Mask;
    if (v.contains(QLatin1String("center")))
      a |= Qt::AlignHCenter;
    else if (v.contains(QLatin1String("right")))
      a |= Qt::AlignRight;
    else
      a |= Qt::AlignLeft;
    if (v.contains(QLatin1String("top")) || v.contains(QLatin1String("bottom")) ||
        v.contains(QLatin1String("vcenter"))) {
      a &= ~Qt::AlignVertical_Mask;
      if (v.contains(QLatin1String("top")))
        a |= Qt::AlignTop;
      else if (v.contains(QLatin1String("bottom")))
        a |= Qt::AlignBottom;
      else
        a |= Qt::AlignVCenter;
    }
  } else {
    a &= ~Qt::AlignVertical_Mask;
    if (v.contains(QLatin1String("top")))
      a |= Qt::AlignTop;
    else if (v.contains(QLatin1String("bottom")))
      a |= Qt::AlignBottom;
    else
      a |= Qt::AlignVCenter;
  }
  return a;
}

void CControlUI::SetAttribute(const QString& name, const QString& value) {
  int r[4];
  QColor c;
  if (name == QLatin1String("name"))
    SetName(value);
  else if (name == QLatin1String("text"))
    SetText(value);
  else if (name == QLatin1String("tooltip"))
    setToolTip(value);
  else if (name == QLatin1String("visible"))
    setVisible(ParseBool(value));
  else if (name == QLatin1String("enabled"))
    setEnabled(ParseBool(value));
  else if (name == QLatin1String("float"))
    m_float = ParseBool(value);
  else if (name == QLatin1String("pos") && ParseFour(value, r)) {
    m_floatPos = QRect(QPoint(r[0], r[1]), QPoint(r[2] - 1, r[3] - 1));
    if (m_fixedWidth == 0) m_fixedWidth = r[2] - r[0];
    if (m_fixedHeight == 0) m_fixedHeight = r[3] - r[1];
  } else if (name == QLatin1String("width"))
    m_fixedWidth = qMax(0, value.toInt());
  else if (name == QLatin1String("height"))
    m_fixedHeight = qMax(0, value.toInt());
  else if (name == QLatin1String("minwidth"))
    m_minWidth = value.toInt();
  else if (name == QLatin1String("minheight"))
    m_minHeight = value.toInt();
  else if (name == QLatin1String("maxwidth"))
    m_maxWidth = value.toInt();
  else if (name == QLatin1String("maxheight"))
    m_maxHeight = value.toInt();
  else if (name == QLatin1String("padding") && ParseFour(value, r))
    m_padding = QMargins(r[0], r[1], r[2], r[3]);
  else if (name == QLatin1String("textpadding") && ParseFour(value, r))
    m_textPadding = QMargins(r[0], r[1], r[2], r[3]);
  else if (name == QLatin1String("bkcolor") && ParseColor(value, &c))
    m_bkColor = c;
  else if (name == QLatin1String("bkcolor2") && ParseColor(value, &c))
    m_bkColor2 = c;
  else if (name == QLatin1String("bkimage"))
    m_bkImage = value;
  else if (name == QLatin1String("bordercolor") && ParseColor(value, &c))
    m_borderColor = c;
  else if (name == QLatin1String("bordersize"))
    m_borderSize = value.toInt();
  else if (name == QLatin1String("borderround"))
    m_borderRound = value.section(QLatin1Char(','), 0, 0).toInt();
  else if (name == QLatin1String("textcolor") && ParseColor(value, &c))
    m_textColor = c;
  else if (name == QLatin1String("disabledtextcolor") && ParseColor(value, &c))
    m_disabledTextColor = c;
  else if (name == QLatin1String("font"))
    m_fontId = value.toInt();
  else if (name == QLatin1String("align"))
    m_align = ParseAlign(value, m_align, false);
  else if (name == QLatin1String("valign"))
    m_align = ParseAlign(value, m_align, true);
  else if (name == QLatin1String("endellipsis"))
    m_endEllipsis = ParseBool(value);
  else if (name == QLatin1String("multiline") || name == QLatin1String("wordbreak"))
    m_multiLine = ParseBool(value);
  else if (name == QLatin1String("userdata"))
    m_userData = value;
  else if (name == QLatin1String("virtualwnd"))
    m_virtualWnd = value;
  else {
    for (auto& kv : m_extraAttrs)
      if (kv.first == name) {
        kv.second = value;
        return;
      }
    m_extraAttrs.emplace_back(name, value);
  }
}

QString CControlUI::GetAttribute(const QString& name) const {
  for (const auto& kv : m_extraAttrs)
    if (kv.first == name) return kv.second;
  return QString();
}

void CControlUI::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  PaintBk(p);
  PaintStatusImage(p);
  PaintText(p);
  PaintBorder(p);
}

void CControlUI::PaintBk(QPainter& p) {
  if (m_bkColor.isValid() && m_bkColor.alpha() > 0) {
    QBrush brush(m_bkColor);
    if (m_bkColor2.isValid()) {
      QLinearGradient g(0, 0, 0, height());
      g.setColorAt(0, m_bkColor);
      g.setColorAt(1, m_bkColor2);
      brush = QBrush(g);
    }
    if (m_borderRound > 0) {
      QPainterPath path;
      path.addRoundedRect(QRectF(rect()), m_borderRound, m_borderRound);
      p.fillPath(path, brush);
    } else {
      p.fillRect(rect(), brush);
    }
  }
  if (!m_bkImage.isEmpty()) DrawImage(p, m_bkImage);
}

QRect CControlUI::TextRect() const {
  return rect().marginsRemoved(m_textPadding);
}

int CControlUI::TextFlags() const {
  int f = m_align;
  if (m_multiLine) f |= Qt::TextWordWrap;
  return f;
}

void CControlUI::PaintText(QPainter& p) {
  const QString text = GetText();
  if (text.isEmpty()) return;
  QColor c = m_textColor.isValid() ? m_textColor : QColor(0x33, 0x33, 0x33);
  if (!isEnabled())
    c = m_disabledTextColor.isValid() ? m_disabledTextColor : QColor(0xA0, 0xA0, 0xA0);
  p.setPen(c);
  p.setFont(GetFont());
  const QRect r = TextRect();
  if (m_endEllipsis && !m_multiLine) {
    const QString el = p.fontMetrics().elidedText(text, Qt::ElideRight, r.width());
    p.drawText(r, TextFlags(), el);
  } else {
    p.drawText(r, TextFlags(), text);
  }
}

void CControlUI::PaintBorder(QPainter& p) {
  if (m_borderSize <= 0 || !m_borderColor.isValid()) return;
  QPen pen(m_borderColor, m_borderSize);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  const qreal h = m_borderSize / 2.0;
  const QRectF r = QRectF(rect()).adjusted(h, h, -h, -h);
  if (m_borderRound > 0)
    p.drawRoundedRect(r, m_borderRound, m_borderRound);
  else
    p.drawRect(r);
}

bool CControlUI::DrawImage(QPainter& p, const QString& imageString, const QRect& area) {
  ImageSpec img;
  if (!ParseImageString(imageString, &img)) return false;
  QPixmap pm;
  if (m_manager) pm = m_manager->GetImage(img.file);
  if (pm.isNull()) return false;
  QRect src = img.source.isNull() ? pm.rect() : img.source.intersected(pm.rect());
  if (src.isEmpty()) return false;
  const QRect base = area.isNull() ? rect() : area;
  QRect dst = base;
  if (!img.dest.isNull()) dst = img.dest.translated(base.topLeft()).intersected(base);
  if (dst.isEmpty()) return false;
  const qreal oldOpacity = p.opacity();
  if (img.fade < 255) p.setOpacity(oldOpacity * img.fade / 255.0);
  const QPixmap piece = pm.copy(src);
  if (!img.corner.isNull()) {
    QMargins c = img.corner;
    // Corners larger than the target would turn inside out; shrink them.
    if (c.left() + c.right() > dst.width()) c.setLeft(0), c.setRight(0);
    if (c.top() + c.bottom() > dst.height()) c.setTop(0), c.setBottom(0);
    qDrawBorderPixmap(&p, dst, c, piece, piece.rect(), c);
  } else if (img.xtiled || img.ytiled) {
    p.drawTiledPixmap(dst, piece);
  } else {
    p.drawPixmap(dst, piece);
  }
  p.setOpacity(oldOpacity);
  return true;
}

CControlUI* FindControl(QWidget* root, const QString& name) {
  if (!root || name.isEmpty()) return nullptr;
  if (root->objectName() == name)
    if (auto* c = dynamic_cast<CControlUI*>(root)) return c;
  const auto all = root->findChildren<QWidget*>(name);
  for (QWidget* w : all)
    if (auto* c = dynamic_cast<CControlUI*>(w)) return c;
  return nullptr;
}

}  // namespace bv::ui
