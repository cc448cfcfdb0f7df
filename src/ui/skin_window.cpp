#include "ui/skin_window.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "ui/skin_loader.h"

namespace bv::ui {

namespace {
std::shared_ptr<ISkinSource>& DefaultSource() {
  static std::shared_ptr<ISkinSource> s;
  return s;
}
}  // namespace

CSkinWindow::CSkinWindow(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  m_defaultFont = QFont(QStringLiteral("Tahoma"));
  m_defaultFont.setPixelSize(12);
}

CSkinWindow::~CSkinWindow() {
  if (m_loop) m_loop->quit();
  // The controls go while the window's routing tables still exist: a control that
  // notifies on its way out must not reach a destroyed table.
  CControlUI* root = m_root;
  m_root = nullptr;
  delete root;
}

void CSkinWindow::SetDefaultSkinSource(std::shared_ptr<ISkinSource> source) {
  DefaultSource() = std::move(source);
}
std::shared_ptr<ISkinSource> CSkinWindow::DefaultSkinSource() {
  return DefaultSource();
}

const ISkinSource* CSkinWindow::GetSkinSource() const {
  if (m_source) return m_source.get();
  return DefaultSource().get();
}

CControlUI* CSkinWindow::CreateControl(const QString&) {
  return nullptr;
}

CControlUI* CSkinWindow::CreateCustomControl(const QString& tag) {
  if (m_factory)
    if (CControlUI* c = m_factory(tag)) return c;
  return CreateControl(tag);
}

bool CSkinWindow::Create() {
  if (m_created) return m_root != nullptr;
  m_created = true;
  CSkinLoader loader(this);
  m_root = loader.LoadWindow(GetSkinFile());
  if (m_root) {
    m_root->setParent(this);
    m_root->SetManager(this);
    m_root->setGeometry(rect());
    m_root->show();
  }
  if (m_initSize.isValid() && !m_initSize.isEmpty()) resize(m_initSize);
  if (m_minInfo.isValid() && !m_minInfo.isEmpty()) setMinimumSize(m_minInfo);
  InitWindow();
  TNotifyUI msg;
  msg.sType = QStringLiteral("windowinit");
  msg.pSender = m_root;
  SendNotify(msg);
  return m_root != nullptr;
}

CControlUI* CSkinWindow::FindControl(const QString& name) const {
  return m_root ? ui::FindControl(m_root, name) : nullptr;
}

void CSkinWindow::AddVirtualWnd(const QString& name, INotifyUI* target) {
  m_virtualWnds.insert(name, target);
}
void CSkinWindow::RemoveVirtualWnd(const QString& name) {
  m_virtualWnds.remove(name);
}
INotifyUI* CSkinWindow::GetVirtualWnd(const QString& name) const {
  return m_virtualWnds.value(name, nullptr);
}

void CSkinWindow::AddNotifier(INotifyUI* n) {
  if (n && std::find(m_notifiers.begin(), m_notifiers.end(), n) == m_notifiers.end())
    m_notifiers.push_back(n);
}

void CSkinWindow::RemoveNotifier(INotifyUI* n) {
  m_notifiers.erase(std::remove(m_notifiers.begin(), m_notifiers.end(), n), m_notifiers.end());
}

void CSkinWindow::SendNotify(TNotifyUI& msg) {
  // A control may close or delete its window from a handler; keep the loop safe.
  QPointer<CSkinWindow> self(this);
  if (msg.pSender && msg.sType != QLatin1String("windowinit"))
    msg.sVirtualWnd = msg.pSender->GetVirtualWnd();
  if (!msg.sVirtualWnd.isEmpty()) {
    if (INotifyUI* target = m_virtualWnds.value(msg.sVirtualWnd, nullptr)) {
      target->Notify(msg);
      return;
    }
  }
  const auto notifiers = m_notifiers;
  for (INotifyUI* n : notifiers) {
    n->Notify(msg);
    if (!self) return;
  }
  Notify(msg);
}

void CSkinWindow::Notify(TNotifyUI&) {}

QFont CSkinWindow::GetFont(int id) const {
  return m_fonts.value(id, m_defaultFont);
}

void CSkinWindow::AddFont(int id, const QFont& f, bool isDefault) {
  m_fonts.insert(id, f);
  if (isDefault) m_defaultFont = f;
}

void CSkinWindow::AddStyle(const QString& name, const QString& value, bool overwrite) {
  if (overwrite || !m_styles.contains(name)) m_styles.insert(name, value);
}

void CSkinWindow::AddDefaultAttributes(const QString& tag, const QString& value, bool overwrite) {
  const QString key = tag.toLower();
  if (overwrite || !m_defaults.contains(key)) m_defaults.insert(key, value);
}

QPixmap CSkinWindow::GetImage(const QString& file) const {
  const ISkinSource* s = GetSkinSource();
  return s ? s->Image(file) : QPixmap();
}

void CSkinWindow::SetWindowAttribute(const QString& name, const QString& value) {
  m_windowAttrs.insert(name, value);
  int r[4];
  if (name == QLatin1String("size") && ParseTwo(value, r))
    m_initSize = QSize(r[0], r[1]);
  else if (name == QLatin1String("mininfo") && ParseTwo(value, r))
    m_minInfo = QSize(r[0], r[1]);
  else if (name == QLatin1String("caption") && ParseFour(value, r))
    m_caption = QRect(QPoint(r[0], r[1]), QPoint(r[2], r[3]));
  else if (name == QLatin1String("sizebox") && ParseFour(value, r))
    m_sizeBox = QMargins(r[0], r[1], r[2], r[3]);
  else if (name == QLatin1String("roundcorner") && ParseTwo(value, r))
    m_roundCorner = QSize(r[0], r[1]);
}

CSkinWindow::Hit CSkinWindow::HitTest(const QPoint& pt) const {
  const QRect rc = rect();
  if (!isMaximized() && !m_sizeBox.isNull()) {
    const bool l = pt.x() < rc.left() + m_sizeBox.left();
    const bool r = pt.x() >= rc.right() + 1 - m_sizeBox.right();
    const bool t = pt.y() < rc.top() + m_sizeBox.top();
    const bool b = pt.y() >= rc.bottom() + 1 - m_sizeBox.bottom();
    if (t && l) return Hit::TopLeft;
    if (t && r) return Hit::TopRight;
    if (b && l) return Hit::BottomLeft;
    if (b && r) return Hit::BottomRight;
    if (l) return Hit::Left;
    if (r) return Hit::Right;
    if (t) return Hit::Top;
    if (b) return Hit::Bottom;
  }
  // The caption rectangle: left/top/right are insets, bottom the strip's height.
  const QRect cap(rc.left() + m_caption.left(), rc.top() + m_caption.top(),
                  rc.width() - m_caption.left() - m_caption.right(),
                  m_caption.bottom() - m_caption.top());
  if (m_caption.bottom() > 0 && cap.contains(pt)) {
    const QWidget* w = childAt(pt);
    for (; w && w != this; w = w->parentWidget()) {
      const auto* c = dynamic_cast<const CControlUI*>(w);
      if (!c) continue;
      const QString cls = c->GetClass();
      if (cls == QLatin1String("ButtonUI") || cls == QLatin1String("OptionUI") ||
          cls == QLatin1String("TextUI") || cls == QLatin1String("EditUI") ||
          cls == QLatin1String("CheckBoxUI"))
        return Hit::Client;
      break;  // the innermost control decides
    }
    return Hit::Caption;
  }
  return Hit::Client;
}

void CSkinWindow::CenterOver(QWidget* owner) {
  QRect area;
  if (owner && owner->isVisible())
    area = owner->frameGeometry();
  else if (QScreen* s = QGuiApplication::primaryScreen())
    area = s->availableGeometry();
  if (area.isNull()) return;
  QRect g(QPoint(0, 0), size());
  g.moveCenter(area.center());
  move(g.topLeft());
}

int CSkinWindow::ShowModal() {
  if (!m_created) Create();
  if (m_loop) return -1;
  setWindowModality(Qt::ApplicationModal);
  show();
  raise();
  activateWindow();
  QEventLoop loop;
  m_loop = &loop;
  QPointer<CSkinWindow> self(this);
  loop.exec(QEventLoop::DialogExec);
  if (self) m_loop = nullptr;
  return self ? m_result : 2;
}

void CSkinWindow::Close(int result) {
  m_result = result;
  hide();
  if (m_loop) m_loop->quit();
}

void CSkinWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    OnReturnKey();
    e->accept();
    return;
  }
  if (e->key() == Qt::Key_Escape) {
    OnEscapeKey();
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

void CSkinWindow::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  const Hit h = HitTest(e->position().toPoint());
  if (h == Hit::Caption) {
    // Prefer the window system's own move; fall back to moving it ourselves.
    if (!(windowHandle() && windowHandle()->startSystemMove())) {
      m_dragging = true;
      m_dragOffset = e->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    e->accept();
    return;
  }
  if (h != Hit::Client) {
    Qt::Edges edges;
    if (h == Hit::Left || h == Hit::TopLeft || h == Hit::BottomLeft) edges |= Qt::LeftEdge;
    if (h == Hit::Right || h == Hit::TopRight || h == Hit::BottomRight) edges |= Qt::RightEdge;
    if (h == Hit::Top || h == Hit::TopLeft || h == Hit::TopRight) edges |= Qt::TopEdge;
    if (h == Hit::Bottom || h == Hit::BottomLeft || h == Hit::BottomRight) edges |= Qt::BottomEdge;
    // Without a window manager that resizes for us, we follow the pointer ourselves.
    if (!(windowHandle() && windowHandle()->startSystemResize(edges))) {
      m_resizeEdges = edges;
      m_resizeStart = e->globalPosition().toPoint();
      m_resizeGeometry = geometry();
    }
    e->accept();
    return;
  }
  QWidget::mousePressEvent(e);
}

void CSkinWindow::mouseMoveEvent(QMouseEvent* e) {
  if (m_dragging) {
    move(e->globalPosition().toPoint() - m_dragOffset);
    e->accept();
    return;
  }
  if (m_resizeEdges) {
    const QPoint d = e->globalPosition().toPoint() - m_resizeStart;
    QRect g = m_resizeGeometry;
    const QSize minimum = minimumSize();
    // The edge that moves stops where the window would get smaller than its minimum.
    if (m_resizeEdges & Qt::LeftEdge)
      g.setLeft(std::min(g.left() + d.x(), g.right() + 1 - std::max(1, minimum.width())));
    if (m_resizeEdges & Qt::RightEdge) g.setRight(g.right() + d.x());
    if (m_resizeEdges & Qt::TopEdge)
      g.setTop(std::min(g.top() + d.y(), g.bottom() + 1 - std::max(1, minimum.height())));
    if (m_resizeEdges & Qt::BottomEdge) g.setBottom(g.bottom() + d.y());
    g.setSize(g.size().expandedTo(minimum));
    setGeometry(g);
    e->accept();
    return;
  }
  QWidget::mouseMoveEvent(e);
}

void CSkinWindow::mouseReleaseEvent(QMouseEvent* e) {
  m_dragging = false;
  m_resizeEdges = {};
  QWidget::mouseReleaseEvent(e);
}

void CSkinWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (m_root) m_root->setGeometry(rect());
  if (!m_roundCorner.isEmpty() && (windowFlags() & Qt::FramelessWindowHint)) {
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), m_roundCorner.width(), m_roundCorner.height());
    setMask(QRegion(path.toFillPolygon().toPolygon()));
  }
}

void CSkinWindow::closeEvent(QCloseEvent* e) {
  // Closing through the window system is a close with result 2 for a modal run.
  if (m_loop) {
    m_result = 2;
    m_loop->quit();
  }
  QWidget::closeEvent(e);
}

void CSkinWindow::paintEvent(QPaintEvent*) {
  if (m_root) return;
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
}

}  // namespace bv::ui
