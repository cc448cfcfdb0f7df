#include "ui/ui_controls.h"

#include <QAbstractTextDocumentLayout>
#include <QImageReader>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextEdit>
#include <algorithm>

#include "ui/skin_window.h"

namespace bv::ui {

// ---- containers ------------------------------------------------------------------

CContainerUI::CContainerUI(QWidget* parent) : CControlUI(parent) {}

CContainerUI::~CContainerUI() {
  m_items.clear();
}

bool CContainerUI::Add(CControlUI* control) {
  return AddAt(control, GetCount());
}

bool CContainerUI::AddAt(CControlUI* control, int index) {
  if (!control || control == this) return false;
  // Drop entries of controls that are gone.
  m_items.erase(std::remove_if(m_items.begin(), m_items.end(),
                               [](const QPointer<CControlUI>& p) { return p.isNull(); }),
                m_items.end());
  index = std::clamp(index, 0, static_cast<int>(m_items.size()));
  const bool explicitlyHidden = !control->IsVisible();
  if (control->parentWidget() != this) control->setParent(this);
  m_items.insert(m_items.begin() + index, QPointer<CControlUI>(control));
  control->SetManager(m_manager);
  if (!explicitlyHidden && isVisible()) control->show();
  Relayout();
  return true;
}

bool CContainerUI::Remove(CControlUI* control) {
  auto it = std::find(m_items.begin(), m_items.end(), control);
  if (it == m_items.end()) return false;
  m_items.erase(it);
  control->hide();
  control->deleteLater();
  control->setParent(nullptr);
  Relayout();
  return true;
}

void CContainerUI::RemoveAll() {
  auto items = std::move(m_items);
  m_items.clear();
  for (auto& p : items)
    if (p) {
      p->hide();
      p->setParent(nullptr);
      p->deleteLater();
    }
  Relayout();
}

int CContainerUI::GetCount() const {
  int n = 0;
  for (const auto& p : m_items)
    if (p) ++n;
  return n;
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  int n = 0;
  for (const auto& p : m_items)
    if (p) {
      if (n == index) return p;
      ++n;
    }
  return nullptr;
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
  int n = 0;
  for (const auto& p : m_items)
    if (p) {
      if (p == control) return n;
      ++n;
    }
  return -1;
}

void CContainerUI::SetAttribute(const QString& name, const QString& value) {
  int r[4];
  if (name == QLatin1String("inset") && ParseFour(value, r))
    m_inset = QMargins(r[0], r[1], r[2], r[3]);
  else if (name == QLatin1String("childpadding"))
    m_childPadding = value.toInt();
  else
    CControlUI::SetAttribute(name, value);
}

void CContainerUI::Relayout() {
  DoLayout();
  update();
}

void CContainerUI::resizeEvent(QResizeEvent* e) {
  CControlUI::resizeEvent(e);
  DoLayout();
}

void CContainerUI::showEvent(QShowEvent* e) {
  CControlUI::showEvent(e);
  DoLayout();
}

std::vector<CControlUI*> CContainerUI::VisibleItems() const {
  std::vector<CControlUI*> v;
  for (const auto& p : m_items)
    if (p && p->IsVisible()) v.push_back(p);
  return v;
}

void CContainerUI::LayoutFloat(CControlUI* c) {
  const QRect area = rect().marginsRemoved(m_inset);
  QRect r = c->GetFloatPos();
  if (r.isNull()) r = QRect(0, 0, c->GetFixedWidth(), c->GetFixedHeight());
  c->setGeometry(r.translated(area.topLeft()));
}

static int ClampSize(int v, int mn, int mx) {
  if (mx > 0) v = std::min(v, mx);
  return std::max(v, mn);
}

void CContainerUI::DoLayout() {
  const QRect area = rect().marginsRemoved(m_inset);
  for (CControlUI* c : VisibleItems()) {
    if (c->IsFloat()) {
      LayoutFloat(c);
      continue;
    }
    QRect r = area.marginsRemoved(c->GetPadding());
    if (c->GetFixedWidth() > 0) r.setWidth(std::min(c->GetFixedWidth(), std::max(0, r.width())));
    if (c->GetFixedHeight() > 0)
      r.setHeight(std::min(c->GetFixedHeight(), std::max(0, r.height())));
    c->setGeometry(r);
  }
}

void CVerticalLayoutUI::DoLayout() {
  const QRect area = rect().marginsRemoved(m_inset);
  std::vector<CControlUI*> items;
  for (CControlUI* c : VisibleItems()) {
    if (c->IsFloat())
      LayoutFloat(c);
    else
      items.push_back(c);
  }
  int fixedTotal = 0;
  int stretchCount = 0;
  for (CControlUI* c : items) {
    fixedTotal += c->GetPadding().top() + c->GetPadding().bottom();
    if (c->GetFixedHeight() > 0)
      fixedTotal += c->GetFixedHeight();
    else
      ++stretchCount;
  }
  if (!items.empty()) fixedTotal += m_childPadding * static_cast<int>(items.size() - 1);
  const int rest = std::max(0, area.height() - fixedTotal);
  int y = area.top();
  int stretchLeft = stretchCount;
  int restLeft = rest;
  for (CControlUI* c : items) {
    const QMargins pad = c->GetPadding();
    int h = c->GetFixedHeight();
    if (h <= 0) {
      h = stretchLeft > 0 ? restLeft / stretchLeft : 0;
      h = ClampSize(h, c->GetMinHeight(), c->GetMaxHeight());
      restLeft -= h;
      --stretchLeft;
    }
    int w = area.width() - pad.left() - pad.right();
    if (c->GetFixedWidth() > 0) w = std::min(c->GetFixedWidth(), std::max(0, w));
    w = std::max(0, w);
    c->setGeometry(area.left() + pad.left(), y + pad.top(), w, std::max(0, h));
    y += pad.top() + h + pad.bottom() + m_childPadding;
  }
}

void CHorizontalLayoutUI::DoLayout() {
  const QRect area = rect().marginsRemoved(m_inset);
  std::vector<CControlUI*> items;
  for (CControlUI* c : VisibleItems()) {
    if (c->IsFloat())
      LayoutFloat(c);
    else
      items.push_back(c);
  }
  int fixedTotal = 0;
  int stretchCount = 0;
  for (CControlUI* c : items) {
    fixedTotal += c->GetPadding().left() + c->GetPadding().right();
    if (c->GetFixedWidth() > 0)
      fixedTotal += c->GetFixedWidth();
    else
      ++stretchCount;
  }
  if (!items.empty()) fixedTotal += m_childPadding * static_cast<int>(items.size() - 1);
  const int rest = std::max(0, area.width() - fixedTotal);
  int x = area.left();
  int stretchLeft = stretchCount;
  int restLeft = rest;
  for (CControlUI* c : items) {
    const QMargins pad = c->GetPadding();
    int w = c->GetFixedWidth();
    if (w <= 0) {
      w = stretchLeft > 0 ? restLeft / stretchLeft : 0;
      w = ClampSize(w, c->GetMinWidth(), c->GetMaxWidth());
      restLeft -= w;
      --stretchLeft;
    }
    int h = area.height() - pad.top() - pad.bottom();
    if (c->GetFixedHeight() > 0) h = std::min(c->GetFixedHeight(), std::max(0, h));
    h = std::max(0, h);
    c->setGeometry(x + pad.left(), area.top() + pad.top(), std::max(0, w), h);
    x += pad.left() + w + pad.right() + m_childPadding;
  }
}

// ---- tab layout ------------------------------------------------------------------

void CTabLayoutUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("selectedid"))
    m_curSel = std::max(0, value.toInt());
  else
    CContainerUI::SetAttribute(name, value);
}

bool CTabLayoutUI::SelectItem(int index) {
  if (index < 0 || index >= GetCount()) return false;
  const int old = m_curSel;
  m_curSel = index;
  ApplySelection();
  if (old != index) SendNotify(QStringLiteral("tabselect"), index, old);
  return true;
}

void CTabLayoutUI::ApplySelection() {
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* c = GetItemAt(i);
    c->setVisible(i == m_curSel);
  }
  DoLayout();
}

void CTabLayoutUI::showEvent(QShowEvent* e) {
  ApplySelection();
  CContainerUI::showEvent(e);
}

void CTabLayoutUI::DoLayout() {
  // Children of a tab layout are shown by selection, not by their own flag.
  const QRect area = rect().marginsRemoved(m_inset);
  for (int i = 0; i < GetCount(); ++i) {
    CControlUI* c = GetItemAt(i);
    if (i != m_curSel) {
      if (!c->isHidden()) c->hide();
      continue;
    }
    if (!c->IsVisible()) c->setVisible(true);
    c->setGeometry(area.marginsRemoved(c->GetPadding()));
  }
}

// ---- labels and buttons ------------------------------------------------------------

CLabelUI::CLabelUI(QWidget* parent) : CControlUI(parent) {}

CButtonUI::CButtonUI(QWidget* parent) : CLabelUI(parent) {
  m_align = Qt::AlignCenter;
  setCursor(Qt::PointingHandCursor);
}

void CButtonUI::SetAttribute(const QString& name, const QString& value) {
  QColor c;
  if (name == QLatin1String("normalimage"))
    m_normalImage = value;
  else if (name == QLatin1String("hotimage"))
    m_hotImage = value;
  else if (name == QLatin1String("pushedimage"))
    m_pushedImage = value;
  else if (name == QLatin1String("disabledimage"))
    m_disabledImage = value;
  else if (name == QLatin1String("focusedimage"))
    m_focusedImage = value;
  else if (name == QLatin1String("foreimage"))
    m_foreImage = value;
  else if (name == QLatin1String("hottextcolor") && ParseColor(value, &c))
    m_hotTextColor = c;
  else if (name == QLatin1String("pushedtextcolor") && ParseColor(value, &c))
    m_pushedTextColor = c;
  else
    CLabelUI::SetAttribute(name, value);
}

void CButtonUI::Activate() {
  if (!isEnabled() || !IsVisible()) return;
  SendNotify(QStringLiteral("click"));
}

void CButtonUI::enterEvent(QEnterEvent* e) {
  m_hot = true;
  update();
  CLabelUI::enterEvent(e);
}

void CButtonUI::leaveEvent(QEvent* e) {
  m_hot = false;
  update();
  CLabelUI::leaveEvent(e);
}

void CButtonUI::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    m_pushed = true;
    update();
    e->accept();
    return;
  }
  CLabelUI::mousePressEvent(e);
}

void CButtonUI::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && m_pushed) {
    m_pushed = false;
    update();
    e->accept();
    if (rect().contains(e->position().toPoint())) Activate();
    return;
  }
  CLabelUI::mouseReleaseEvent(e);
}

void CButtonUI::PaintStatusImage(QPainter& p) {
  if (!isEnabled() && !m_disabledImage.isEmpty())
    DrawImage(p, m_disabledImage);
  else if (m_pushed && !m_pushedImage.isEmpty())
    DrawImage(p, m_pushedImage);
  else if (m_hot && !m_hotImage.isEmpty())
    DrawImage(p, m_hotImage);
  else if (!m_normalImage.isEmpty())
    DrawImage(p, m_normalImage);
  if (!m_foreImage.isEmpty()) DrawImage(p, m_foreImage);
}

void CButtonUI::PaintText(QPainter& p) {
  const QColor saved = m_textColor;
  if (isEnabled()) {
    if (m_pushed && m_pushedTextColor.isValid())
      m_textColor = m_pushedTextColor;
    else if (m_hot && m_hotTextColor.isValid())
      m_textColor = m_hotTextColor;
  }
  CLabelUI::PaintText(p);
  m_textColor = saved;
}

// ---- options and check boxes -----------------------------------------------------

void COptionUI::SetAttribute(const QString& name, const QString& value) {
  QColor c;
  if (name == QLatin1String("group"))
    m_group = value;
  else if (name == QLatin1String("selected"))
    m_selected = ParseBool(value);
  else if (name == QLatin1String("selectedimage"))
    m_selectedImage = value;
  else if (name == QLatin1String("selectedhotimage"))
    m_selectedHotImage = value;
  else if (name == QLatin1String("selectedtextcolor") && ParseColor(value, &c))
    m_selectedTextColor = c;
  else
    CButtonUI::SetAttribute(name, value);
}

void COptionUI::Selected(bool selected, bool notify) {
  if (m_selected == selected) return;
  m_selected = selected;
  if (m_selected && !m_group.isEmpty() && m_manager && m_manager->GetRoot()) {
    // Only one option of a group is selected within a window.
    // COptionUI has no meta-object of its own, so findChildren<COptionUI*> would hand
    // back every control of its nearest Q_OBJECT base: test the real type instead.
    const auto all = m_manager->GetRoot()->findChildren<QWidget*>();
    for (QWidget* w : all) {
      auto* o = dynamic_cast<COptionUI*>(w);
      if (o && o != this && o->m_group == m_group && o->m_selected) {
        o->m_selected = false;
        o->update();
      }
    }
  }
  update();
  if (notify) SendNotify(QStringLiteral("selectchanged"));
}

void COptionUI::Activate() {
  if (!isEnabled() || !IsVisible()) return;
  QPointer<COptionUI> self(this);
  SendNotify(QStringLiteral("click"));
  if (!self) return;
  if (!m_group.isEmpty())
    Selected(true);
  else
    Selected(!m_selected);
}

void COptionUI::PaintStatusImage(QPainter& p) {
  if (m_selected) {
    if (m_hot && !m_selectedHotImage.isEmpty())
      DrawImage(p, m_selectedHotImage);
    else if (!m_selectedImage.isEmpty())
      DrawImage(p, m_selectedImage);
    else
      CButtonUI::PaintStatusImage(p);
    if (!m_foreImage.isEmpty()) DrawImage(p, m_foreImage);
    return;
  }
  CButtonUI::PaintStatusImage(p);
}

void COptionUI::PaintText(QPainter& p) {
  if (m_selected && m_selectedTextColor.isValid() && isEnabled()) {
    const QColor saved = m_textColor;
    m_textColor = m_selectedTextColor;
    CLabelUI::PaintText(p);
    m_textColor = saved;
    return;
  }
  CButtonUI::PaintText(p);
}

void CCheckBoxUI::SetHalfChecked(bool half) {
  if (m_half == half) return;
  m_half = half;
  update();
}

Qt::CheckState CCheckBoxUI::CheckState() const {
  if (!m_selected) return Qt::Unchecked;
  return m_half ? Qt::PartiallyChecked : Qt::Checked;
}

void CCheckBoxUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("halfimage"))
    m_halfImage = value;
  else if (name == QLatin1String("halfchecked"))
    m_half = ParseBool(value);
  else
    COptionUI::SetAttribute(name, value);
}

void CCheckBoxUI::Activate() {
  // The half look is only how "checked" is drawn, so a click on a half-checked box
  // turns it off like any checked box.
  if (!isEnabled() || !IsVisible()) return;
  QPointer<CCheckBoxUI> self(this);
  SendNotify(QStringLiteral("click"));
  if (!self) return;
  m_half = false;
  Selected(!m_selected);
}

void CCheckBoxUI::PaintStatusImage(QPainter& p) {
  if (m_selected && m_half && !m_halfImage.isEmpty()) {
    DrawImage(p, m_halfImage);
    return;
  }
  COptionUI::PaintStatusImage(p);
}

// ---- edit ------------------------------------------------------------------------

CEditUI::CEditUI(QWidget* parent) : CControlUI(parent), m_edit(new QLineEdit(this)) {
  m_edit->setFrame(false);
  QObject::connect(m_edit, &QLineEdit::textChanged, this,
                   [this] { SendNotify(QStringLiteral("textchanged")); });
  QObject::connect(m_edit, &QLineEdit::returnPressed, this,
                   [this] { SendNotify(QStringLiteral("return")); });
  setFocusProxy(m_edit);
  ApplyStyle();
}

QString CEditUI::GetText() const {
  return m_edit->text();
}
void CEditUI::SetText(const QString& text) {
  m_edit->setText(text);
}

void CEditUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("password"))
    m_edit->setEchoMode(ParseBool(value) ? QLineEdit::Password : QLineEdit::Normal);
  else if (name == QLatin1String("maxchar"))
    m_edit->setMaxLength(std::max(1, value.toInt()));
  else if (name == QLatin1String("readonly"))
    m_edit->setReadOnly(ParseBool(value));
  else if (name == QLatin1String("text"))
    m_edit->setText(value);
  else if (name == QLatin1String("prompttext"))
    m_edit->setPlaceholderText(value);
  else {
    CControlUI::SetAttribute(name, value);
    ApplyStyle();
  }
}

void CEditUI::SetTextColor(const QColor& c) {
  CControlUI::SetTextColor(c);
  ApplyStyle();
}

void CEditUI::ApplyStyle() {
  QPalette pal = m_edit->palette();
  pal.setColor(QPalette::Base, Qt::transparent);
  pal.setColor(QPalette::Text, m_textColor.isValid() ? m_textColor : QColor(0x33, 0x33, 0x33));
  m_edit->setPalette(pal);
  m_edit->setAutoFillBackground(false);
  m_edit->setFont(GetFont());
  m_edit->setAlignment(Qt::Alignment(m_align));
  resizeEvent(nullptr);
}

void CEditUI::SetFocusToEdit() {
  m_edit->setFocus(Qt::OtherFocusReason);
}

void CEditUI::resizeEvent(QResizeEvent* e) {
  if (e) CControlUI::resizeEvent(e);
  const int inner = std::max(1, m_borderSize);
  m_edit->setGeometry(rect().marginsRemoved(m_textPadding).adjusted(inner, inner, -inner, -inner));
  m_edit->setFont(GetFont());
}

// ---- progress --------------------------------------------------------------------

CProgressUI::CProgressUI(QWidget* parent) : CLabelUI(parent) {
  m_align = Qt::AlignCenter;
  QObject::connect(&m_timer, &QTimer::timeout, this,
                   [this] { SendNotify(QStringLiteral("timer")); });
}

void CProgressUI::SetValue(int v) {
  v = std::clamp(v, m_min, std::max(m_min, m_max));
  if (v == m_value) return;
  m_value = v;
  update();
}

void CProgressUI::SetMinValue(int v) {
  m_min = v;
  SetValue(m_value);
  update();
}

void CProgressUI::SetMaxValue(int v) {
  m_max = v;
  SetValue(m_value);
  update();
}

void CProgressUI::StartTimer(int intervalMs) {
  if (intervalMs <= 0) return;
  m_timer.start(intervalMs);
}

void CProgressUI::StopTimer() {
  m_timer.stop();
}

void CProgressUI::SetAttribute(const QString& name, const QString& value) {
  QColor c;
  if (name == QLatin1String("min"))
    m_min = value.toInt();
  else if (name == QLatin1String("max"))
    m_max = value.toInt();
  else if (name == QLatin1String("value"))
    SetValue(value.toInt());
  else if (name == QLatin1String("foreimage"))
    m_foreImage = value;
  else if (name == QLatin1String("forecolor") && ParseColor(value, &c))
    m_foreColor = c;
  else if (name == QLatin1String("timerinterval"))
    StartTimer(value.toInt());
  else
    CLabelUI::SetAttribute(name, value);
}

void CProgressUI::PaintStatusImage(QPainter& p) {
  const int span = m_max - m_min;
  if (span <= 0) return;
  const int w = static_cast<int>(static_cast<qint64>(width()) * (m_value - m_min) / span);
  if (w <= 0) return;
  const QRect done(0, 0, w, height());
  if (!m_foreImage.isEmpty()) {
    p.save();
    p.setClipRect(done);
    DrawImage(p, m_foreImage);
    p.restore();
  } else {
    const QColor c = m_foreColor.isValid() ? m_foreColor : QColor(0x2F, 0x8C, 0xE6);
    const qreal r = std::min(height() / 2.0,
                             static_cast<qreal>(m_borderRound > 0 ? m_borderRound : height() / 2));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(done), r, r);
  }
}

// ---- rich text -------------------------------------------------------------------

CRichEditUI::CRichEditUI(QWidget* parent) : CControlUI(parent), m_edit(new QTextEdit(this)) {
  m_edit->setReadOnly(true);
  m_edit->setFrameShape(QFrame::NoFrame);
  m_edit->setAcceptRichText(false);
}

QString CRichEditUI::GetText() const {
  return m_edit->toPlainText();
}

void CRichEditUI::SetText(const QString& text) {
  m_edit->setPlainText(text);
}

void CRichEditUI::Clear() {
  m_edit->clear();
}

void CRichEditUI::AppendText(const QString& text, const QColor& color, Qt::Alignment align) {
  QTextCursor cur(m_edit->document());
  cur.movePosition(QTextCursor::End);
  // Each call may start a new alignment; text after a line break belongs to the new block.
  const QStringList lines = text.split(QLatin1Char('\n'));
  QTextCharFormat fmt;
  fmt.setForeground(color.isValid() ? color : QColor(0x40, 0x40, 0x40));
  fmt.setFont(GetFont());
  for (int i = 0; i < lines.size(); ++i) {
    if (i > 0) cur.insertBlock();
    QTextBlockFormat bf = cur.blockFormat();
    bf.setAlignment(align);
    cur.setBlockFormat(bf);
    cur.insertText(lines[i], fmt);
  }
}

bool CRichEditUI::AppendImageFile(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QImage img = reader.read();
  if (img.isNull()) return false;
  return AppendImage(img);
}

bool CRichEditUI::AppendImage(const QImage& image) {
  if (image.isNull()) return false;
  const QString name = QStringLiteral("bvimage://%1").arg(++m_imageCounter);
  m_edit->document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
  QTextImageFormat f;
  f.setName(name);
  const int maxW = std::max(32, m_edit->viewport()->width() - 12);
  if (image.width() > maxW) {
    f.setWidth(maxW);
    f.setHeight(static_cast<qreal>(image.height()) * maxW / image.width());
  }
  QTextCursor cur(m_edit->document());
  cur.movePosition(QTextCursor::End);
  cur.insertImage(f);
  return true;
}

void CRichEditUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("readonly"))
    m_edit->setReadOnly(ParseBool(value));
  else if (name == QLatin1String("text"))
    m_edit->setPlainText(value);
  else
    CControlUI::SetAttribute(name, value);
}

void CRichEditUI::resizeEvent(QResizeEvent* e) {
  CControlUI::resizeEvent(e);
  m_edit->setGeometry(rect().marginsRemoved(m_textPadding));
}

}  // namespace bv::ui
