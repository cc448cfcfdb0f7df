#include "ui/ui_custom.h"

#include <QPainter>

#include "ui/skin_window.h"

namespace bv::ui {

void CButtonExUI::SetOn(bool on) {
  m_on = on;
  update();
}

void CButtonExUI::SetAttribute(const QString& name, const QString& value) {
  if (name == QLatin1String("onhot"))
    m_onHot = value;
  else if (name == QLatin1String("offhot"))
    m_offHot = value;
  else if (name == QLatin1String("onimage"))
    m_onImage = value;
  else if (name == QLatin1String("offimage"))
    m_offImage = value;
  else if (name == QLatin1String("on"))
    m_on = ParseBool(value);
  else
    CButtonUI::SetAttribute(name, value);
}

void CButtonExUI::Activate() {
  if (!isEnabled() || !IsVisible()) return;
  m_on = !m_on;
  update();
  CButtonUI::Activate();
}

void CButtonExUI::PaintStatusImage(QPainter& p) {
  const QString& hot = m_on ? m_onHot : m_offHot;
  const QString& plain = m_on ? m_onImage : m_offImage;
  if (m_hot && !hot.isEmpty())
    DrawImage(p, hot);
  else if (!plain.isEmpty())
    DrawImage(p, plain);
  else
    CButtonUI::PaintStatusImage(p);
}

CLabelExUI::CLabelExUI(QWidget* parent) : CLabelUI(parent) {
  m_multiLine = true;
}

int CLabelExUI::HeightForText(int width) const {
  const QFontMetrics fm(GetFont());
  const int inner = std::max(1, width - m_textPadding.left() - m_textPadding.right());
  const QRect r =
      fm.boundingRect(QRect(0, 0, inner, 100000), Qt::TextWordWrap | Qt::AlignLeft, m_text);
  return r.height() + m_textPadding.top() + m_textPadding.bottom();
}

CFileTreeUI::CFileTreeUI(QWidget* parent) : CTreeViewUI(parent) {
  SetAttribute(QStringLiteral("checkbox"), QStringLiteral("true"));
}

CPaginationUI::CPaginationUI(QWidget* parent)
    : CHorizontalLayoutUI(parent),
      m_prev(new CButtonUI()),
      m_label(new CLabelUI()),
      m_next(new CButtonUI()) {
  m_prev->SetText(QStringLiteral("<"));
  m_next->SetText(QStringLiteral(">"));
  m_prev->SetFixedWidth(28);
  m_next->SetFixedWidth(28);
  m_label->SetAttribute(QStringLiteral("align"), QStringLiteral("center"));
  Add(m_prev);
  Add(m_label);
  Add(m_next);
  Refresh();
}

void CPaginationUI::SetPageCount(int pages) {
  m_pages = std::max(1, pages);
  m_page = std::min(m_page, m_pages);
  Refresh();
}

void CPaginationUI::SetPage(int page) {
  page = std::clamp(page, 1, m_pages);
  if (page == m_page) return;
  m_page = page;
  Refresh();
  SendNotify(QStringLiteral("pagechanged"), m_page);
}

void CPaginationUI::Refresh() {
  m_label->SetText(QStringLiteral("%1 / %2").arg(m_page).arg(m_pages));
  m_prev->SetEnabled(m_page > 1);
  m_next->SetEnabled(m_page < m_pages);
}

CControlUI* CreateProgramControl(const QString& tag) {
  if (tag == QLatin1String("ButtonEx")) return new CButtonExUI();
  if (tag == QLatin1String("ButtonGif")) return new CButtonGifUI();
  if (tag == QLatin1String("LabelEx")) return new CLabelExUI();
  if (tag == QLatin1String("FileTree")) return new CFileTreeUI();
  if (tag == QLatin1String("Pagination")) return new CPaginationUI();
  if (tag == QLatin1String("DiskList")) return new CDiskListUI();
  return nullptr;
}

}  // namespace bv::ui
