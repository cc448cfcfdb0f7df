#pragma once
// Skin loader: builds a control tree from an XML skin file.
//
// The dialect
// -----------
//   <Window size="w,h" mininfo="w,h" caption="l,t,r,b" sizebox="l,t,r,b" roundcorner="x,y">
//     <Font id="0" name="Tahoma" size="12" bold="false" underline="false" default="true"/>
//     <Default name="Button" value="textcolor='#FF333333' font='1'"/>   attributes every
//                                                                       tag of that name gets
//     <Style name="EditBlue" value="bkcolor='#FFFFFFFF' bordercolor='#FF3C8CE6'"/>
//                                                                       applied by style="EditBlue"
//     <Animation .../>                                                  kept, not played
//     <VerticalLayout> ... </VerticalLayout>                            the one root control
//   </Window>
//
// The root's caption rectangle's bottom is the caption strip's height; a right of 0
// means "to the right edge".
//
// Tags the framework knows (class name in brackets, as GetClass answers):
//   Control [ControlUI]  Container [ContainerUI]  VerticalLayout [VerticalLayoutUI]
//   HorizontalLayout [HorizontalLayoutUI]  TabLayout [TabLayoutUI]  Label [LabelUI]
//   Text [TextUI]  Button [ButtonUI]  Option [OptionUI]  CheckBox [CheckBoxUI]
//   Edit [EditUI]  Progress [ProgressUI]  RichEdit [RichEditUI]  List [ListUI] with
//   ListHeader / ListHeaderItem [ListHeaderItemUI]  TreeView [TreeViewUI]
//   WebBrowser [WebBrowserUI]  GifAnim [GifAnimUI]
// Any other tag is handed to the window's factory (CSkinWindow::CreateControl); when
// that returns nothing, the tag becomes a plain container so that its children still
// load.
//
// <Include source="xml/Page.xml"/> inserts the controls of another skin file (its root
// element's children when the root is <Window>, else the root itself) at that place;
// fonts and styles of the included file are added when the window lacks them.
//
// Attributes every control takes: name, text, tooltip, visible, enabled, float, pos,
// width, height, minwidth, minheight, maxwidth, maxheight, padding, bkcolor, bkcolor2,
// bkimage, bordercolor, bordersize, borderround, textcolor, disabledtextcolor, font,
// align (left|center|right + top|vcenter|bottom), valign, textpadding, endellipsis,
// multiline/wordbreak, userdata, style, virtualwnd. Containers add inset and
// childpadding; buttons normalimage, hotimage, pushedimage, disabledimage,
// focusedimage, foreimage, hottextcolor, pushedtextcolor; options group, selected,
// selectedimage, selectedhotimage, selectedtextcolor; check boxes halfimage; edits
// password, maxchar, readonly; progress bars min, max, value, foreimage, forecolor,
// timerinterval; tab layouts selectedid; lists header, itemheight, checkimage,
// uncheckimage, itemtextcolor, itemselectedbkcolor, itemhotbkcolor; header items width;
// trees itemheight, checkbox; browsers homepage; animations normalgiffile, autoplay.
//
// Images are image strings: a file name, or "file='Controls.png' source='l,t,r,b'
// dest='l,t,r,b' corner='l,t,r,b'" cut from a sprite sheet.
#include <QString>

namespace pugi {
class xml_node;
}

namespace bv::ui {

class CControlUI;
class CContainerUI;
class CSkinWindow;

class CSkinLoader {
 public:
  explicit CSkinLoader(CSkinWindow* window) : m_window(window) {}

  // Builds the window's root from `file`; window-level elements (Font, Default, Style
  // and the root's attributes) go to the window. Nullptr when the file is missing or
  // not well-formed XML.
  CControlUI* LoadWindow(const QString& file);

  // Builds the controls of `file` (an element skin, such as a list element) as one
  // control: the single root control, or a vertical layout holding several. Nullptr
  // when the file is missing or empty.
  CControlUI* LoadElement(const QString& file);

  // Builds controls from an XML text (tests and small generated skins).
  CControlUI* LoadElementFromText(const QByteArray& xml);

 private:
  CControlUI* BuildFromBytes(const QByteArray& bytes, bool windowLevel, int depth);
  void ReadWindowElements(const pugi::xml_node& root, bool overwrite);
  CControlUI* BuildNode(const pugi::xml_node& node, CContainerUI* parent, int depth);
  void BuildChildren(const pugi::xml_node& node, CControlUI* control, int depth);
  CControlUI* MakeControl(const QString& tag);
  void ApplyAttributes(CControlUI* control, const QString& tag, const pugi::xml_node& node);

  CSkinWindow* m_window;
};

}  // namespace bv::ui
