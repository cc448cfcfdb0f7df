#include "ui/ui_extra.h"

#include <pugixml.hpp>

#include <QAction>
#include <QBuffer>
#include <QFileInfo>
#include <QMenu>
#include <QMovie>
#include <QPainter>
#include <QPrinter>
#include <QWebEngineView>
#include <QWebEnginePage>

#include "ui/skin_window.h"

namespace bv::ui {

// ---- animated picture ---------------------------------------------------------------

CGifAnimUI::CGifAnimUI(QWidget* parent) : CButtonUI(parent) {
  setCursor(Qt::ArrowCursor);
}

CGifAnimUI::~CGifAnimUI() {
  if (m_movie) m_movie->stop();
}

void CGifAnimUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("normalgiffile") || name == QLatin1String("bkgif"))
    m_gifFile = value;
  else if (name == QLatin1String("autoplay"))
    m_autoPlay = ParseBool(value);
  else
    CButtonUI::SetAttribute(name, value);
}

bool CGifAnimUI::LoadGif(const QString& file) {
  m_gifFile = file;
  m_movie.reset();
  m_buffer.reset();
  const ISkinSource* src = m_manager ? m_manager->GetSkinSource() : nullptr;
  if (!src || !src->Read(file, &m_bytes)) return false;
  m_buffer = std::make_unique<QBuffer>(&m_bytes);
  m_buffer->open(QIODevice::ReadOnly);
  m_movie = std::make_unique<QMovie>(m_buffer.get());
  if (!m_movie->isValid()) {
    m_movie.reset();
    return false;
  }
  QObject::connect(m_movie.get(), &QMovie::frameChanged, this, [this](int) { update(); });
  m_movie->jumpToFrame(0);
  return true;
}

void CGifAnimUI::PlayGif() {
  m_wantPlay = true;
  if (!m_movie && !m_gifFile.isEmpty()) LoadGif(m_gifFile);
  if (m_movie && m_movie->state() != QMovie::Running) m_movie->start();
}

void CGifAnimUI::StopGif() {
  m_wantPlay = false;
  if (m_movie) m_movie->setPaused(true);
}

bool CGifAnimUI::IsPlaying() const {
  return m_movie && m_movie->state() == QMovie::Running;
}

int CGifAnimUI::FrameCount() const {
  return m_movie ? m_movie->frameCount() : 0;
}

void CGifAnimUI::showEvent(QShowEvent* e) {
  CButtonUI::showEvent(e);
  if (!m_movie && !m_gifFile.isEmpty()) LoadGif(m_gifFile);
  if (m_autoPlay && !m_wantPlay) PlayGif();
}

void CGifAnimUI::PaintStatusImage(QPainter& p) {
  CButtonUI::PaintStatusImage(p);
  if (!m_movie) return;
  const QPixmap frame = m_movie->currentPixmap();
  if (frame.isNull()) return;
  QSize s = frame.size().scaled(size(), Qt::KeepAspectRatio);
  QRect r(QPoint(0, 0), s);
  r.moveCenter(rect().center());
  p.drawPixmap(r, frame);
}

// ---- web browser ----------------------------------------------------------------------

CWebBrowserUI::CWebBrowserUI(QWidget* parent)
    : CControlUI(parent), m_view(new QWebEngineView(this)) {
  QObject::connect(m_view, &QWebEngineView::loadFinished, this,
                   [this](bool ok) { SendNotify(QStringLiteral("documentcomplete"), ok ? 1 : 0); });
}

void CWebBrowserUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("homepage")) {
    m_homePage = value;
    Navigate(value);
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CWebBrowserUI::Navigate(const QString& urlOrPath) {
  QUrl url(urlOrPath);
  if (url.scheme().isEmpty() || QFileInfo(urlOrPath).isAbsolute())
    url = QUrl::fromLocalFile(urlOrPath);
  if (urlOrPath == QLatin1String("about:blank")) url = QUrl(urlOrPath);
  m_view->setUrl(url);
}

void CWebBrowserUI::Refresh() {
  m_view->reload();
}

QString CWebBrowserUI::GetUrl() const {
  return m_view->url().toString();
}

void CWebBrowserUI::CallScript(const QString& function, std::function<void(const QString&)> done) {
  // Only a plain function name is called: nothing from outside becomes script text.
  static const QRegularExpression kIdent(QStringLiteral("^[A-Za-z_$][A-Za-z0-9_$]*$"));
  if (!kIdent.match(function).hasMatch()) {
    if (done) done(QString());
    return;
  }
  const QString code =
      QStringLiteral("(typeof %1 === 'function') ? String(%1()) : ''").arg(function);
  m_view->page()->runJavaScript(code, [done](const QVariant& v) {
    if (done) done(v.toString());
  });
}

void CWebBrowserUI::PrintToPdf(const QString& path, std::function<void(bool)> done,
                               const QPageLayout& layout) {
  QWebEnginePage* page = m_view->page();
  auto conn = std::make_shared<QMetaObject::Connection>();
  *conn = QObject::connect(page, &QWebEnginePage::pdfPrintingFinished, this,
                           [conn, done](const QString&, bool ok) {
                             QObject::disconnect(*conn);
                             if (done) done(ok);
                           });
  if (layout.isValid())
    page->printToPdf(path, layout);
  else
    page->printToPdf(path);
}

void CWebBrowserUI::Print(QPrinter* printer, std::function<void(bool)> done) {
  auto conn = std::make_shared<QMetaObject::Connection>();
  *conn = QObject::connect(m_view, &QWebEngineView::printFinished, this, [conn, done](bool ok) {
    QObject::disconnect(*conn);
    if (done) done(ok);
  });
  m_view->print(printer);
}

void CWebBrowserUI::resizeEvent(QResizeEvent* e) {
  CControlUI::resizeEvent(e);
  m_view->setGeometry(rect());
}

// ---- menus -----------------------------------------------------------------------------

CMenuWnd::CMenuWnd() = default;
CMenuWnd::~CMenuWnd() = default;

static const char* kMenuStyle =
    "QMenu { background: #FFFFFF; border: 1px solid #D5DBE3; padding: 4px 0; }"
    "QMenu::item { padding: 7px 18px 7px 12px; color: #333333; }"
    "QMenu::item:selected { background: #E3EFFC; color: #1F2A37; }";

bool CMenuWnd::Init(CSkinWindow* owner, const QString& skinFile) {
  m_owner = owner;
  m_menu = std::make_unique<QMenu>();
  m_menu->setStyleSheet(QString::fromLatin1(kMenuStyle));
  const ISkinSource* src = owner ? owner->GetSkinSource() : nullptr;
  QByteArray bytes;
  if (!src || !src->Read(skinFile, &bytes)) return false;
  pugi::xml_document doc;
  if (!doc.load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()))) return false;
  pugi::xml_node menu = doc.document_element();
  if (QString::fromUtf8(menu.name()) == QLatin1String("Window")) menu = menu.child("Menu");
  if (!menu) return false;
  m_name = QString::fromUtf8(menu.attribute("name").value());
  m_menu->setObjectName(m_name);
  if (owner) m_menu->setFont(owner->GetDefaultFont());
  std::function<void(const pugi::xml_node&, QMenu*)> build = [&](const pugi::xml_node& node,
                                                                 QMenu* into) {
    for (pugi::xml_node el : node.children("MenuElement")) {
      const QString name = QString::fromUtf8(el.attribute("name").value());
      const QString text = QString::fromUtf8(el.attribute("text").value());
      QAction* act = nullptr;
      if (el.child("MenuElement")) {
        QMenu* sub = into->addMenu(text);
        sub->setStyleSheet(QString::fromLatin1(kMenuStyle));
        sub->setObjectName(name);
        m_subMenus.emplace_back(sub);
        act = sub->menuAction();
        build(el, sub);
      } else {
        act = into->addAction(text);
      }
      act->setObjectName(name);
      act->setVisible(el.attribute("visible").as_bool(true));
      QObject::connect(act, &QAction::triggered, m_menu.get(), [this, name] { Trigger(name); });
    }
  };
  build(menu, m_menu.get());
  return true;
}

QAction* CMenuWnd::Action(const QString& name) const {
  if (!m_menu) return nullptr;
  const auto all = m_menu->findChildren<QAction*>(name);
  for (QAction* a : all)
    if (a->objectName() == name) return a;
  return nullptr;
}

QMenu* CMenuWnd::MenuOf(const QString& elementName) {
  QAction* a = Action(elementName);
  if (!a) return nullptr;
  if (a->menu()) return a->menu();
  // A plain element becomes a sub-menu when it gets children.
  QMenu* parentMenu = qobject_cast<QMenu*>(a->parent());
  if (!parentMenu) return nullptr;
  auto* sub = new QMenu(a->text(), parentMenu);
  sub->setStyleSheet(QString::fromLatin1(kMenuStyle));
  sub->setObjectName(elementName);
  a->setMenu(sub);
  m_subMenus.emplace_back(sub);
  return sub;
}

bool CMenuWnd::HasElement(const QString& name) const {
  return Action(name) != nullptr;
}

QString CMenuWnd::GetElementText(const QString& name) const {
  QAction* a = Action(name);
  return a ? a->text() : QString();
}

bool CMenuWnd::IsElementVisible(const QString& name) const {
  QAction* a = Action(name);
  return a && a->isVisible();
}

void CMenuWnd::SetElementVisible(const QString& name, bool visible) {
  if (QAction* a = Action(name)) a->setVisible(visible);
}

void CMenuWnd::SetElementText(const QString& name, const QString& text) {
  if (QAction* a = Action(name)) a->setText(text);
}

namespace {

void ShowImage(QAction* act, CSkinWindow* owner, const QString& image) {
  act->setIcon(QIcon());
  act->setProperty("checkImage", image.isEmpty() ? QVariant() : QVariant(image));
  if (image.isEmpty() || !owner) return;
  ImageSpec img;
  if (ParseImageString(image, &img)) {
    const QPixmap pm = owner->GetImage(img.file);
    if (!pm.isNull()) act->setIcon(QIcon(img.source.isNull() ? pm : pm.copy(img.source)));
  }
}

}  // namespace

void CMenuWnd::SetElementImage(const QString& name, const QString& image) {
  if (QAction* a = Action(name)) ShowImage(a, m_owner, image);
}

bool CMenuWnd::AddChildElement(const QString& parentName, const QString& name, const QString& text,
                               const QString& checkImage) {
  QMenu* sub = MenuOf(parentName);
  if (!sub) return false;
  QAction* act = sub->addAction(text);
  act->setObjectName(name);
  if (!checkImage.isEmpty()) ShowImage(act, m_owner, checkImage);
  QObject::connect(act, &QAction::triggered, m_menu.get(), [this, name] { Trigger(name); });
  return true;
}

void CMenuWnd::ShowAt(const QPoint& screenPos) {
  if (m_menu) m_menu->popup(screenPos);
}

bool CMenuWnd::Trigger(const QString& name) {
  if (!HasElement(name)) return false;
  if (m_menu) m_menu->hide();
  if (!m_owner) return true;
  // The owner hears of the element by name, like any control notification.
  TNotifyUI msg;
  msg.sType = QStringLiteral("itemclick");
  msg.lParam = 0;
  CControlUI sender;
  sender.SetName(name);
  msg.pSender = &sender;
  m_owner->SendNotify(msg);
  return true;
}

}  // namespace bv::ui
