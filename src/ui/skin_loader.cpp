#include "ui/skin_loader.h"

#include <pugixml.hpp>

#include "ui/skin_window.h"
#include "ui/ui_custom.h"
#include "ui/ui_extra.h"
#include "ui/ui_list.h"

namespace bv::ui {

namespace {
// Includes nest rarely; a loop of includes must not recurse forever.
constexpr int kMaxDepth = 64;

QString Q(const char* s) {
  return QString::fromUtf8(s);
}

bool ParseXml(const QByteArray& bytes, pugi::xml_document* doc) {
  const pugi::xml_parse_result r =
      doc->load_buffer(bytes.constData(), static_cast<size_t>(bytes.size()), pugi::parse_default,
                       pugi::encoding_auto);
  return static_cast<bool>(r);
}
}  // namespace

CControlUI* CSkinLoader::LoadWindow(const QString& file) {
  const ISkinSource* src = m_window->GetSkinSource();
  QByteArray bytes;
  if (!src || file.isEmpty() || !src->Read(file, &bytes)) return nullptr;
  return BuildFromBytes(bytes, true, 0);
}

CControlUI* CSkinLoader::LoadElement(const QString& file) {
  const ISkinSource* src = m_window->GetSkinSource();
  QByteArray bytes;
  if (!src || file.isEmpty() || !src->Read(file, &bytes)) return nullptr;
  CControlUI* c = BuildFromBytes(bytes, false, 0);
  if (c) c->SetManager(m_window);
  return c;
}

CControlUI* CSkinLoader::LoadElementFromText(const QByteArray& xml) {
  CControlUI* c = BuildFromBytes(xml, false, 0);
  if (c) c->SetManager(m_window);
  return c;
}

CControlUI* CSkinLoader::BuildFromBytes(const QByteArray& bytes, bool windowLevel, int depth) {
  pugi::xml_document doc;
  if (!ParseXml(bytes, &doc)) return nullptr;
  pugi::xml_node root = doc.document_element();
  if (!root) return nullptr;
  if (Q(root.name()) == QLatin1String("Window")) {
    if (windowLevel)
      for (pugi::xml_attribute a : root.attributes())
        m_window->SetWindowAttribute(Q(a.name()), Q(a.value()));
    ReadWindowElements(root, windowLevel);
    // One control: the single root control, or a vertical layout holding several.
    std::vector<pugi::xml_node> controls;
    for (pugi::xml_node n : root.children()) {
      if (n.type() != pugi::node_element) continue;
      const QString tag = Q(n.name());
      if (tag == QLatin1String("Font") || tag == QLatin1String("Default") ||
          tag == QLatin1String("Style") || tag == QLatin1String("Animation") ||
          tag == QLatin1String("Image") || tag == QLatin1String("StyleSheet"))
        continue;
      controls.push_back(n);
    }
    if (controls.empty()) return nullptr;
    if (controls.size() == 1) return BuildNode(controls.front(), nullptr, depth);
    auto* box = new CVerticalLayoutUI();
    box->SetManager(m_window);
    for (const auto& n : controls) BuildNode(n, box, depth);
    return box;
  }
  return BuildNode(root, nullptr, depth);
}

void CSkinLoader::ReadWindowElements(const pugi::xml_node& root, bool overwrite) {
  for (pugi::xml_node n : root.children()) {
    const QString tag = Q(n.name());
    if (tag == QLatin1String("Font")) {
      const int id = n.attribute("id").as_int(-1);
      if (id < 0 || (!overwrite && m_window->HasFont(id))) continue;
      QFont f(Q(n.attribute("name").as_string("Tahoma")));
      f.setPixelSize(std::max(1, n.attribute("size").as_int(12)));
      f.setBold(n.attribute("bold").as_bool(false));
      f.setUnderline(n.attribute("underline").as_bool(false));
      f.setItalic(n.attribute("italic").as_bool(false));
      f.setStyleHint(QFont::SansSerif);
      m_window->AddFont(id, f, overwrite && n.attribute("default").as_bool(false));
    } else if (tag == QLatin1String("Default")) {
      m_window->AddDefaultAttributes(Q(n.attribute("name").value()),
                                     Q(n.attribute("value").value()), overwrite);
    } else if (tag == QLatin1String("Style") || tag == QLatin1String("StyleSheet")) {
      // A style sheet groups styles: <StyleSheet name="MainStyle"><Style .../></StyleSheet>.
      if (n.attribute("value"))
        m_window->AddStyle(Q(n.attribute("name").value()), Q(n.attribute("value").value()),
                           overwrite);
      for (pugi::xml_node s : n.children("Style"))
        m_window->AddStyle(Q(s.attribute("name").value()), Q(s.attribute("value").value()),
                           overwrite);
    }
  }
}

CControlUI* CSkinLoader::MakeControl(const QString& tag) {
  if (tag == QLatin1String("Control")) return new CControlUI();
  if (tag == QLatin1String("Container")) return new CContainerUI();
  if (tag == QLatin1String("VerticalLayout")) return new CVerticalLayoutUI();
  if (tag == QLatin1String("HorizontalLayout")) return new CHorizontalLayoutUI();
  if (tag == QLatin1String("TabLayout")) return new CTabLayoutUI();
  if (tag == QLatin1String("Label")) return new CLabelUI();
  if (tag == QLatin1String("Text")) return new CTextUI();
  if (tag == QLatin1String("Button")) return new CButtonUI();
  if (tag == QLatin1String("Option")) return new COptionUI();
  if (tag == QLatin1String("CheckBox")) return new CCheckBoxUI();
  if (tag == QLatin1String("Edit")) return new CEditUI();
  if (tag == QLatin1String("Progress")) return new CProgressUI();
  if (tag == QLatin1String("RichEdit")) return new CRichEditUI();
  if (tag == QLatin1String("List")) return new CListUI();
  if (tag == QLatin1String("TreeView")) return new CTreeViewUI();
  if (tag == QLatin1String("WebBrowser")) return new CWebBrowserUI();
  if (tag == QLatin1String("GifAnim")) return new CGifAnimUI();
  if (CControlUI* c = m_window->CreateCustomControl(tag)) return c;
  // Unknown and not made by the window: keep the children reachable.
  return new CContainerUI();
}

void CSkinLoader::ApplyAttributes(CControlUI* control, const QString& tag,
                                  const pugi::xml_node& node) {
  // Order: the window's defaults for the tag, then the named style, then the element's own.
  const QString defaults = m_window->GetDefaultAttributes(tag);
  for (const auto& [k, v] : ParseAttributeList(defaults)) control->SetAttribute(k, v);
  if (pugi::xml_attribute st = node.attribute("style")) {
    for (const auto& [k, v] : ParseAttributeList(m_window->GetStyle(Q(st.value()))))
      control->SetAttribute(k, v);
  }
  for (pugi::xml_attribute a : node.attributes()) {
    const QString name = Q(a.name());
    if (name == QLatin1String("style")) continue;
    control->SetAttribute(name, Q(a.value()));
  }
}

CControlUI* CSkinLoader::BuildNode(const pugi::xml_node& node, CContainerUI* parent, int depth) {
  if (depth > kMaxDepth) return nullptr;
  const QString tag = Q(node.name());
  if (tag == QLatin1String("Include")) {
    const QString file = Q(node.attribute("source").value());
    const ISkinSource* src = m_window->GetSkinSource();
    QByteArray bytes;
    if (!src || !src->Read(file, &bytes)) return nullptr;
    pugi::xml_document doc;
    if (!ParseXml(bytes, &doc)) return nullptr;
    pugi::xml_node root = doc.document_element();
    CControlUI* first = nullptr;
    if (Q(root.name()) == QLatin1String("Window")) {
      ReadWindowElements(root, false);
      for (pugi::xml_node n : root.children()) {
        const QString t = Q(n.name());
        if (n.type() != pugi::node_element || t == QLatin1String("Font") ||
            t == QLatin1String("Default") || t == QLatin1String("Style") ||
            t == QLatin1String("StyleSheet") || t == QLatin1String("Animation"))
          continue;
        CControlUI* c = BuildNode(n, parent, depth + 1);
        if (!first) first = c;
      }
    } else {
      first = BuildNode(root, parent, depth + 1);
    }
    return first;
  }
  if (tag == QLatin1String("ListHeader")) {
    auto* list = dynamic_cast<CListUI*>(parent);
    if (!list) return nullptr;
    for (pugi::xml_attribute a : node.attributes())
      if (Q(a.name()) == QLatin1String("visible")) list->SetHeaderVisible(a.as_bool(true));
    for (pugi::xml_node n : node.children("ListHeaderItem")) {
      CListHeaderItemUI* item = list->AddColumn(QString(), QString(), 0);
      item->SetManager(m_window);
      ApplyAttributes(item, QStringLiteral("ListHeaderItem"), n);
    }
    list->HeaderChanged();
    return nullptr;
  }

  CControlUI* control = MakeControl(tag);
  control->SetManager(m_window);
  if (parent) parent->Add(control);
  ApplyAttributes(control, tag, node);
  BuildChildren(node, control, depth);
  return control;
}

void CSkinLoader::BuildChildren(const pugi::xml_node& node, CControlUI* control, int depth) {
  auto* container = dynamic_cast<CContainerUI*>(control);
  for (pugi::xml_node n : node.children()) {
    if (n.type() != pugi::node_element) continue;
    if (!container) continue;  // leaves take no children
    BuildNode(n, container, depth + 1);
  }
  if (container) container->Relayout();
}

}  // namespace bv::ui
