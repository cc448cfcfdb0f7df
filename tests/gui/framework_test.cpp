// The skin framework: loading, layout, notifications, images, lists, trees, menus and
// modal runs, on skins held in memory.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeView>

#include "gui_test_support.h"
#include "ui/skin_loader.h"
#include "ui/ui_custom.h"
#include "ui/ui_extra.h"
#include "ui/ui_list.h"

using namespace bv::ui;
using bv::testing::ClickControl;
using bv::testing::MemorySkinSource;

namespace {

// A window that records every notification it hears.
class RecordingWnd : public CSkinWindow {
 public:
  void Notify(TNotifyUI& msg) override {
    heard.push_back(msg.sType + QLatin1Char(':') + msg.SenderName());
  }
  CControlUI* CreateControl(const QString& tag) override {
    if (tag == QLatin1String("Special")) {
      auto* c = new CLabelUI();
      c->SetAttribute(QStringLiteral("userdata"), QStringLiteral("made-by-window"));
      return c;
    }
    return nullptr;
  }
  QStringList heard;
};

class RecordingTarget : public INotifyUI {
 public:
  void Notify(TNotifyUI& msg) override {
    heard.push_back(msg.sType + QLatin1Char(':') + msg.SenderName() + QLatin1Char('@') +
                    msg.sVirtualWnd);
  }
  QStringList heard;
};

QByteArray PngBytes(const QImage& img) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return bytes;
}

// A 40 x 20 sprite sheet: red left half, blue right half, one green pixel at 39,19.
QImage Sheet() {
  QImage img(40, 20, QImage::Format_ARGB32);
  img.fill(Qt::red);
  for (int y = 0; y < 20; ++y)
    for (int x = 20; x < 40; ++x) img.setPixelColor(x, y, Qt::blue);
  img.setPixelColor(39, 19, Qt::green);
  return img;
}

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override { src = std::make_shared<MemorySkinSource>(); }
  std::unique_ptr<RecordingWnd> Make(const QByteArray& xml, QSize size = QSize(400, 300)) {
    src->Put(QStringLiteral("xml/test.xml"), xml);
    auto w = std::make_unique<RecordingWnd>();
    w->SetSkinSource(src);
    w->SetSkinFile(QStringLiteral("xml\\test.xml"));
    w->Create();
    w->resize(size);
    w->show();
    return w;
  }
  std::shared_ptr<MemorySkinSource> src;
};

TEST_F(FrameworkTest, BuildsNestedControlsWithAttributesAndIncludes) {
  src->Put(QStringLiteral("xml/page.xml"),
           R"(<Window><VerticalLayout name="Page" virtualwnd="PageVtr">
      <Label name="PageLabel" text="from page"/></VerticalLayout></Window>)");
  auto w = Make(R"(<?xml version="1.0" encoding="utf-8"?>
    <Window size="320,200" caption="0,0,0,30" sizebox="4,4,4,4">
      <Font id="0" name="Tahoma" size="12" default="true"/>
      <Font id="1" name="Tahoma" size="18" bold="true"/>
      <Default name="Button" value="textcolor='#FF112233'"/>
      <Style name="Big" value="font='1' height='44'"/>
      <VerticalLayout name="Root">
        <HorizontalLayout name="Row" height="40">
          <Button name="BtnA" text="A" width="60" visible="false"/>
          <Label name="LblB" text="B &amp; more" style="Big" enabled="false"/>
        </HorizontalLayout>
        <Include source="xml\page.xml"/>
        <Unknown name="Wrapper"><Label name="Inner" text="inside"/></Unknown>
        <Special name="Custom"/>
      </VerticalLayout>
    </Window>)");
  EXPECT_EQ(w->GetInitSize(), QSize(320, 200));
  EXPECT_EQ(w->GetCaptionRect().bottom(), 30);
  EXPECT_EQ(w->GetSizeBox(), QMargins(4, 4, 4, 4));
  auto* btn = w->Find<CButtonUI>(QStringLiteral("BtnA"));
  ASSERT_NE(btn, nullptr);
  EXPECT_EQ(btn->GetText(), QStringLiteral("A"));
  EXPECT_FALSE(btn->IsVisible());
  EXPECT_EQ(btn->GetTextColor(), QColor(0x11, 0x22, 0x33));
  auto* lbl = w->Find<CLabelUI>(QStringLiteral("LblB"));
  ASSERT_NE(lbl, nullptr);
  EXPECT_EQ(lbl->GetText(), QStringLiteral("B & more"));
  EXPECT_FALSE(lbl->IsEnabled());
  EXPECT_EQ(lbl->GetFixedHeight(), 44);  // from the style
  EXPECT_EQ(lbl->GetFont().pixelSize(), 18);
  EXPECT_TRUE(lbl->GetFont().bold());
  // The included page's controls are part of the tree, with their virtual window.
  auto* pageLabel = w->FindControl(QStringLiteral("PageLabel"));
  ASSERT_NE(pageLabel, nullptr);
  EXPECT_EQ(pageLabel->GetVirtualWnd(), QStringLiteral("PageVtr"));
  // An unknown tag keeps its children; the window's factory makes its own tags.
  EXPECT_EQ(w->FindControl(QStringLiteral("Wrapper"))->GetClass(), QStringLiteral("ContainerUI"));
  EXPECT_NE(w->FindControl(QStringLiteral("Inner")), nullptr);
  EXPECT_EQ(w->FindControl(QStringLiteral("Custom"))->GetUserData(),
            QStringLiteral("made-by-window"));
  EXPECT_EQ(w->FindControl(QStringLiteral("Nope")), nullptr);
  ASSERT_FALSE(w->heard.isEmpty());
  EXPECT_EQ(w->heard.front(), QStringLiteral("windowinit:Root"));
}

TEST_F(FrameworkTest, MissingOrBrokenSkinLeavesWindowWithoutControls) {
  auto w = std::make_unique<RecordingWnd>();
  w->SetSkinSource(src);
  w->SetSkinFile(QStringLiteral("xml\\absent.xml"));
  EXPECT_FALSE(w->Create());
  EXPECT_EQ(w->GetRoot(), nullptr);
  EXPECT_EQ(w->FindControl(QStringLiteral("anything")), nullptr);
  EXPECT_EQ(w->heard, QStringList{QStringLiteral("windowinit:")});

  src->Put(QStringLiteral("xml/broken.xml"), "<Window><VerticalLayout><Label name=\"x\"></Window>");
  auto b = std::make_unique<RecordingWnd>();
  b->SetSkinSource(src);
  b->SetSkinFile(QStringLiteral("xml/broken.xml"));
  EXPECT_FALSE(b->Create());
  EXPECT_EQ(b->FindControl(QStringLiteral("x")), nullptr);
}

TEST_F(FrameworkTest, IncludeLoopsStop) {
  src->Put(QStringLiteral("xml/loop.xml"),
           R"(<Window><VerticalLayout><Include source="xml/loop.xml"/></VerticalLayout></Window>)");
  auto w = Make(
      R"(<Window><VerticalLayout name="Root"><Include source="xml/loop.xml"/></VerticalLayout></Window>)");
  EXPECT_NE(w->FindControl(QStringLiteral("Root")), nullptr);
}

TEST_F(FrameworkTest, LayoutsHonourFixedSizesPaddingAndVisibility) {
  auto w = Make(R"(<Window><VerticalLayout name="Root" inset="10,10,10,10" childpadding="5">
      <Control name="A" height="50" padding="0,0,0,0"/>
      <Control name="B"/>
      <Control name="C" height="30" width="100" padding="20,0,0,0"/>
      <HorizontalLayout name="H" height="40" childpadding="4">
        <Control name="H1" width="60"/><Control name="H2"/><Control name="H3"/>
      </HorizontalLayout>
    </VerticalLayout></Window>)",
                QSize(400, 300));
  auto geo = [&](const char* n) { return w->FindControl(QString::fromLatin1(n))->geometry(); };
  EXPECT_EQ(geo("A"), QRect(10, 10, 380, 50));
  // B takes what is left: 280 - 50 - 30 - 40 - 3 * 5 = 145.
  EXPECT_EQ(geo("B"), QRect(10, 65, 380, 145));
  EXPECT_EQ(geo("C"), QRect(30, 215, 100, 30));
  EXPECT_EQ(geo("H1").width(), 60);
  EXPECT_EQ(geo("H2").width() + geo("H3").width(), 380 - 60 - 8);
  // Hiding a child hands its space to the others.
  w->FindControl(QStringLiteral("A"))->SetVisible(false);
  EXPECT_EQ(geo("B").height(), 200);
  w->FindControl(QStringLiteral("C"))->SetFixedHeight(60);
  EXPECT_EQ(geo("B").height(), 170);
}

TEST_F(FrameworkTest, NotificationsGoToWindowOrVirtualWindowBySenderName) {
  auto w = Make(R"(<Window><VerticalLayout>
      <Button name="BtnMain" text="main" height="30"/>
      <VerticalLayout name="Page" virtualwnd="PageVtr" height="60">
        <Button name="BtnPage" text="page" height="30"/>
      </VerticalLayout>
      <VerticalLayout virtualwnd="Unregistered" height="40"><Button name="BtnLost" height="30"/></VerticalLayout>
    </VerticalLayout></Window>)");
  RecordingTarget page;
  w->AddVirtualWnd(QStringLiteral("PageVtr"), &page);
  w->heard.clear();
  ClickControl(w->FindControl(QStringLiteral("BtnMain")));
  ClickControl(w->FindControl(QStringLiteral("BtnPage")));
  ClickControl(w->FindControl(QStringLiteral("BtnLost")));
  EXPECT_EQ(w->heard,
            (QStringList{QStringLiteral("click:BtnMain"), QStringLiteral("click:BtnLost")}));
  EXPECT_EQ(page.heard, QStringList{QStringLiteral("click:BtnPage@PageVtr")});
  // Disabled and hidden buttons stay silent.
  w->FindControl(QStringLiteral("BtnMain"))->SetEnabled(false);
  ClickControl(w->FindControl(QStringLiteral("BtnMain")));
  EXPECT_EQ(w->heard.size(), 2);
}

TEST_F(FrameworkTest, OptionGroupsCheckBoxesAndTabs) {
  auto w = Make(R"(<Window><VerticalLayout>
      <HorizontalLayout height="30">
        <Option name="O1" group="g" selected="true"/><Option name="O2" group="g"/><Option name="Free"/>
      </HorizontalLayout>
      <CheckBox name="Chk" height="30"/>
      <TabLayout name="Tabs" selectedid="1"><Label name="T0"/><Label name="T1"/><Label name="T2"/></TabLayout>
    </VerticalLayout></Window>)");
  auto* o1 = w->Find<COptionUI>(QStringLiteral("O1"));
  auto* o2 = w->Find<COptionUI>(QStringLiteral("O2"));
  auto* free = w->Find<COptionUI>(QStringLiteral("Free"));
  w->heard.clear();
  ClickControl(o2);
  EXPECT_TRUE(o2->IsSelected());
  EXPECT_FALSE(o1->IsSelected());
  EXPECT_EQ(w->heard,
            (QStringList{QStringLiteral("click:O2"), QStringLiteral("selectchanged:O2")}));
  ClickControl(o2);  // a selected option of a group stays selected
  EXPECT_TRUE(o2->IsSelected());
  ClickControl(free);
  ClickControl(free);
  EXPECT_FALSE(free->IsSelected());
  EXPECT_EQ(w->heard.count(QStringLiteral("selectchanged:Free")), 2);

  auto* chk = w->Find<CCheckBoxUI>(QStringLiteral("Chk"));
  chk->SetCheck(true, false);
  chk->SetHalfChecked(true);
  EXPECT_EQ(chk->CheckState(), Qt::PartiallyChecked);
  ClickControl(chk);  // a click on a half-checked box clears it
  EXPECT_EQ(chk->CheckState(), Qt::Unchecked);
  ClickControl(chk);
  EXPECT_EQ(chk->CheckState(), Qt::Checked);

  auto* tabs = w->Find<CTabLayoutUI>(QStringLiteral("Tabs"));
  EXPECT_EQ(tabs->GetCurSel(), 1);
  EXPECT_TRUE(w->FindControl(QStringLiteral("T1"))->isVisible());
  EXPECT_FALSE(w->FindControl(QStringLiteral("T0"))->isVisible());
  w->heard.clear();
  EXPECT_TRUE(tabs->SelectItem(2));
  EXPECT_FALSE(tabs->SelectItem(3));
  EXPECT_TRUE(w->FindControl(QStringLiteral("T2"))->isVisible());
  EXPECT_FALSE(w->FindControl(QStringLiteral("T1"))->isVisible());
  EXPECT_EQ(w->heard, QStringList{QStringLiteral("tabselect:Tabs")});
}

TEST_F(FrameworkTest, ContainersTakeAndDropChildren) {
  auto w = Make(
      R"(<Window><VerticalLayout name="Box"><Label name="First" height="20"/></VerticalLayout></Window>)");
  auto* box = w->Find<CVerticalLayoutUI>(QStringLiteral("Box"));
  auto* added = new CButtonUI();
  added->SetName(QStringLiteral("Added"));
  added->SetFixedHeight(25);
  ASSERT_TRUE(box->Add(added));
  EXPECT_EQ(box->GetCount(), 2);
  EXPECT_EQ(w->FindControl(QStringLiteral("Added")), added);
  w->heard.clear();
  ClickControl(added);  // added controls report to the window too
  EXPECT_EQ(w->heard, QStringList{QStringLiteral("click:Added")});
  EXPECT_EQ(added->geometry().top(), 20);
  box->RemoveAll();
  EXPECT_EQ(box->GetCount(), 0);
  EXPECT_EQ(w->FindControl(QStringLiteral("First")), nullptr);
  EXPECT_EQ(w->FindControl(QStringLiteral("Added")), nullptr);
}

TEST(ImageStrings, ParseAndRejectMalformedParts) {
  ImageSpec s;
  ASSERT_TRUE(ParseImageString(
      QStringLiteral(
          "file='Controls.png' source='182,312,198,328' dest='0,4,16,20' corner='13,13,20,20'"),
      &s));
  EXPECT_EQ(s.file, QStringLiteral("Controls.png"));
  EXPECT_EQ(s.source, QRect(182, 312, 16, 16));
  EXPECT_EQ(s.dest, QRect(0, 4, 16, 16));
  EXPECT_EQ(s.corner, QMargins(13, 13, 20, 20));
  ASSERT_TRUE(ParseImageString(QStringLiteral("logo.png"), &s));
  EXPECT_EQ(s.file, QStringLiteral("logo.png"));
  EXPECT_TRUE(s.source.isNull());
  // Bad numbers are ignored; an unterminated value drops the rest; no file is no image.
  ASSERT_TRUE(ParseImageString(QStringLiteral("file='a.png' source='1,2,x,4'"), &s));
  EXPECT_TRUE(s.source.isNull());
  EXPECT_FALSE(ParseImageString(QStringLiteral("source='1,2,3,4'"), &s));
  EXPECT_FALSE(ParseImageString(QStringLiteral("file='a.png"), &s));
  EXPECT_FALSE(ParseImageString(QString(), &s));
  QColor c;
  EXPECT_TRUE(ParseColor(QStringLiteral("#FFF37302"), &c));
  EXPECT_EQ(c, QColor(0xF3, 0x73, 0x02));
  EXPECT_TRUE(ParseColor(QStringLiteral("#80000000"), &c));
  EXPECT_EQ(c.alpha(), 0x80);
  EXPECT_FALSE(ParseColor(QStringLiteral("#12345"), &c));
  EXPECT_FALSE(ParseColor(QStringLiteral("red"), &c));
}

TEST_F(FrameworkTest, ImagesAreCutFromSpriteSheets) {
  src->Put(QStringLiteral("Sheet.png"), PngBytes(Sheet()));
  auto w = Make(R"(<Window><HorizontalLayout>
      <Label name="Blue" width="20" height="20" bkimage="file='Sheet.png' source='20,0,40,20'"/>
      <Label name="Dest" width="20" height="20" bkcolor="#FFFFFFFF" bkimage="file='Sheet.png' source='0,0,10,10' dest='5,5,15,15'"/>
      <Label name="Nine" width="80" height="40" bkimage="file='Sheet.png' source='20,0,40,20' corner='1,1,1,1'"/>
      <Label name="Missing" width="20" height="20" bkcolor="#FFFFFFFF" bkimage="file='Absent.png' source='0,0,10,10'"/>
    </HorizontalLayout></Window>)");
  auto grab = [&](const char* n) {
    return w->FindControl(QString::fromLatin1(n))->grab().toImage();
  };
  EXPECT_EQ(grab("Blue").pixelColor(10, 10), QColor(Qt::blue));
  const QImage dest = grab("Dest");
  EXPECT_EQ(dest.pixelColor(10, 10), QColor(Qt::red));
  EXPECT_EQ(dest.pixelColor(2, 2), QColor(Qt::white));
  EXPECT_EQ(dest.pixelColor(17, 17), QColor(Qt::white));
  // A nine-patch keeps its corner pixel in the corner however large it is drawn.
  const QImage nine = grab("Nine");
  EXPECT_EQ(nine.pixelColor(79, 39), QColor(Qt::green));
  EXPECT_EQ(nine.pixelColor(40, 20), QColor(Qt::blue));
  EXPECT_EQ(grab("Missing").pixelColor(10, 10), QColor(Qt::white));
  // Changing the image at run time redraws with the new picture.
  w->FindControl(QStringLiteral("Blue"))
      ->SetBkImage(QStringLiteral("file='Sheet.png' source='0,0,20,20'"));
  EXPECT_EQ(grab("Blue").pixelColor(10, 10), QColor(Qt::red));
}

TEST_F(FrameworkTest, TextColourFixedHeightAndRelayout) {
  auto w = Make(
      R"(<Window><VerticalLayout><Label name="L" text="Hello" height="20"/><Control name="Rest"/></VerticalLayout></Window>)");
  auto* l = w->FindControl(QStringLiteral("L"));
  l->SetTextColor(QColor(0xF3, 0x73, 0x02));
  EXPECT_EQ(l->GetTextColor(), QColor(0xF3, 0x73, 0x02));
  l->SetFixedHeight(60);
  EXPECT_EQ(l->height(), 60);
  EXPECT_EQ(w->FindControl(QStringLiteral("Rest"))->geometry().top(), 60);
}

TEST_F(FrameworkTest, ProgressBarClampsAndSendsTimer) {
  auto w = Make(
      R"(<Window><VerticalLayout><Progress name="P" min="0" max="100" value="20" timerinterval="20" height="10"/></VerticalLayout></Window>)");
  auto* p = w->Find<CProgressUI>(QStringLiteral("P"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->GetValue(), 20);
  p->SetValue(150);
  EXPECT_EQ(p->GetValue(), 100);
  p->SetValue(-5);
  EXPECT_EQ(p->GetValue(), 0);
  w->heard.clear();
  QTest::qWait(120);
  EXPECT_GE(w->heard.count(QStringLiteral("timer:P")), 2);
  p->StopTimer();
  const int n = static_cast<int>(w->heard.size());
  QTest::qWait(60);
  EXPECT_EQ(w->heard.size(), n);
}

TEST_F(FrameworkTest, EditTakesPasswordAndMaxLength) {
  auto w = Make(
      R"(<Window><VerticalLayout><Edit name="E" password="true" maxchar="5" text="abc" height="30"/></VerticalLayout></Window>)");
  auto* e = w->Find<CEditUI>(QStringLiteral("E"));
  EXPECT_EQ(e->LineEdit()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(e->GetText(), QStringLiteral("abc"));
  e->SetText(QStringLiteral("1234567"));
  EXPECT_EQ(e->GetText(), QStringLiteral("12345"));
  EXPECT_EQ(e->GetClass(), QStringLiteral("EditUI"));
}

// A password shows as dots only: two passwords of one length draw the same picture,
// and a different length draws another (so the comparison can tell them apart).
TEST_F(FrameworkTest, PasswordEditDrawsNoPlainText) {
  auto w = Make(
      R"(<Window><VerticalLayout><Edit name="E" password="true" height="30" textcolor="#FF000000"/></VerticalLayout></Window>)");
  auto* e = w->Find<CEditUI>(QStringLiteral("E"));
  auto picture = [&](const QString& text) {
    e->SetText(text);
    e->LineEdit()->deselect();
    e->LineEdit()->setCursorPosition(0);
    QCoreApplication::processEvents();
    return e->grab().toImage();
  };
  const QImage secret = picture(QStringLiteral("hunter2!"));
  const QImage other = picture(QStringLiteral("WWWWWWWW"));
  const QImage shorter = picture(QStringLiteral("abc"));
  EXPECT_TRUE(secret == other);
  EXPECT_FALSE(secret == shorter);
}

TEST_F(FrameworkTest, RichEditTakesColouredAlignedTextAndPictures) {
  auto w = Make(R"(<Window><VerticalLayout><RichEdit name="R"/></VerticalLayout></Window>)");
  auto* r = w->Find<CRichEditUI>(QStringLiteral("R"));
  r->AppendText(QStringLiteral("  ----  \n"), QColor(0xD7, 0xD7, 0xD7), Qt::AlignHCenter);
  r->AppendText(QStringLiteral("Title:\n"), QColor(0x40, 0x40, 0x40), Qt::AlignLeft);
  EXPECT_TRUE(r->GetText().contains(QStringLiteral("Title:")));
  const QTextBlock first = r->TextEdit()->document()->firstBlock();
  EXPECT_EQ(first.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(first.begin().fragment().charFormat().foreground().color(), QColor(0xD7, 0xD7, 0xD7));
  EXPECT_EQ(first.next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
  EXPECT_TRUE(r->AppendImage(Sheet()));
  EXPECT_FALSE(r->AppendImageFile(QStringLiteral("/nonexistent/picture.jpg")));
  r->Clear();
  EXPECT_TRUE(r->GetText().isEmpty());
}

TEST_F(FrameworkTest, ListColumnsRowsSelectionAndHiddenRows) {
  src->Put(QStringLiteral("Sheet.png"), PngBytes(Sheet()));
  auto w = Make(
      R"(<Window><VerticalLayout><List name="L" itemheight="40" checkimage="file='Sheet.png' source='20,0,30,10'" uncheckimage="file='Sheet.png' source='0,0,10,10'">
      <ListHeader><ListHeaderItem name="H1" text="Name" width="120"/><ListHeaderItem name="H2" text="Date" width="90"/><ListHeaderItem name="H3" text="Serial"/></ListHeader>
    </List></VerticalLayout></Window>)",
      QSize(500, 400));
  auto* list = w->Find<CListUI>(QStringLiteral("L"));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->GetColumnCount(), 3);
  auto* h1 = w->Find<CListHeaderItemUI>(QStringLiteral("H1"));
  ASSERT_NE(h1, nullptr);
  EXPECT_EQ(list->View()->model()->headerData(0, Qt::Horizontal).toString(),
            QStringLiteral("Name"));
  h1->SetText(QStringLiteral("Device"));  // as a language table relabels it
  EXPECT_EQ(list->View()->model()->headerData(0, Qt::Horizontal).toString(),
            QStringLiteral("Device"));
  EXPECT_EQ(list->View()->columnWidth(0), 120);
  EXPECT_EQ(list->View()->columnWidth(1), 90);
  w->FindControl(QStringLiteral("H2"))->SetVisible(false);
  EXPECT_TRUE(list->View()->isColumnHidden(1));
  w->FindControl(QStringLiteral("H2"))->SetVisible(true);
  EXPECT_FALSE(list->View()->isColumnHidden(1));

  for (int i = 0; i < 5; ++i)
    list->AddRow({QStringLiteral("n%1").arg(i), QStringLiteral("d%1").arg(i)}, 100 + i);
  EXPECT_EQ(list->GetRowCount(), 5);
  EXPECT_EQ(list->GetRowData(3), 103u);
  list->SetRowText(2, 2, QStringLiteral("serial"));
  EXPECT_EQ(list->GetRowText(2, 2), QStringLiteral("serial"));
  EXPECT_EQ(list->GetRowText(2, 7), QString());
  EXPECT_EQ(list->GetRowText(9, 0), QString());
  list->SetRowTextColor(1, QColor(0xF3, 0x73, 0x02));
  EXPECT_EQ(list->View()->model()->index(1, 0).data(Qt::ForegroundRole).value<QColor>(),
            QColor(0xF3, 0x73, 0x02));

  w->heard.clear();
  EXPECT_TRUE(list->SelectItem(3));
  EXPECT_EQ(list->GetCurSel(), 3);
  EXPECT_EQ(w->heard, QStringList{QStringLiteral("itemselect:L")});
  // Hiding rows keeps indices stable and the selection on its row.
  list->SetRowHidden(0, true);
  list->SetRowHidden(1, true);
  EXPECT_EQ(list->GetVisibleRowCount(), 3);
  EXPECT_EQ(list->GetCurSel(), 3);
  EXPECT_EQ(list->View()->model()->index(0, 0).data().toString(), QStringLiteral("n2"));
  EXPECT_FALSE(list->SelectItem(1));  // hidden rows cannot be selected
  list->SetRowHidden(1, false);
  EXPECT_EQ(list->View()->model()->index(0, 0).data().toString(), QStringLiteral("n1"));

  // Clicking a row: itemclick with the row's own index; the tick box sends itemcheck.
  w->heard.clear();
  QTableView* v = list->View();
  const QRect cell = v->visualRect(v->model()->index(2, 1));  // view row 2 is row 3
  QTest::mouseClick(v->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  EXPECT_TRUE(w->heard.contains(QStringLiteral("itemclick:L")));
  EXPECT_TRUE(list->GetRowCheck(3));
  const QRect tick = v->visualRect(v->model()->index(2, 0));
  QTest::mouseClick(v->viewport(), Qt::LeftButton, Qt::NoModifier, tick.center());
  EXPECT_FALSE(list->GetRowCheck(3));
  EXPECT_TRUE(w->heard.contains(QStringLiteral("itemcheck:L")));

  // A filter over many rows: recorded, then shown at once, the selection kept.
  list->SelectItem(4, false);
  list->BeginUpdate();
  for (int r = 0; r < 5; r += 2) list->SetRowHidden(r, true);
  EXPECT_EQ(list->View()->model()->rowCount(), 4);  // nothing shown before the end
  list->EndUpdate();
  EXPECT_EQ(list->GetVisibleRowCount(), 2);
  EXPECT_EQ(list->View()->model()->index(1, 0).data().toString(), QStringLiteral("n3"));
  EXPECT_EQ(list->GetCurSel(), -1);  // row 4 is hidden now
  list->BeginUpdate();
  for (int r = 0; r < 5; ++r) list->SetRowHidden(r, false);
  list->EndUpdate();
  EXPECT_EQ(list->GetVisibleRowCount(), 5);

  list->RemoveAll();
  EXPECT_EQ(list->GetRowCount(), 0);
  EXPECT_EQ(list->GetCurSel(), -1);
  EXPECT_EQ(list->GetColumnCount(), 3);
}

TEST_F(FrameworkTest, ListRestColumnStaysReadableWhenTheFixedOnesTakeTheRoom) {
  auto w = Make(
      R"(<Window><VerticalLayout><List name="L"><ListHeader><ListHeaderItem name="A" width="150"/><ListHeaderItem name="B" width="150"/><ListHeaderItem name="R"/></ListHeader></List></VerticalLayout></Window>)",
      QSize(500, 300));
  auto* list = w->Find<CListUI>(QStringLiteral("L"));
  QHeaderView* header = list->View()->horizontalHeader();
  // Room enough: the last column takes the rest.
  EXPECT_GT(header->sectionSize(2), 150);
  EXPECT_EQ(header->length(), list->View()->viewport()->width());
  // Too little room: it keeps a readable width and the list scrolls sideways.
  w->resize(320, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(header->sectionSize(0), 150);
  EXPECT_GE(header->sectionSize(2), 80);
  EXPECT_GT(header->length(), list->View()->viewport()->width());
  w->resize(500, 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(header->length(), list->View()->viewport()->width());
}

TEST_F(FrameworkTest, ListTakesManyRowsAtOnceAndElements) {
  auto w = Make(
      R"(<Window><VerticalLayout><List name="L"><ListHeader><ListHeaderItem name="C" text="Col"/></ListHeader></List></VerticalLayout></Window>)");
  auto* list = w->Find<CListUI>(QStringLiteral("L"));
  std::vector<QStringList> rows;
  for (int i = 0; i < 20000; ++i) rows.push_back({QString::number(i)});
  list->AddRows(std::move(rows));
  EXPECT_EQ(list->GetRowCount(), 20000);
  EXPECT_EQ(list->View()->model()->rowCount(), 20000);
  EXPECT_EQ(list->GetRowText(19999, 0), QStringLiteral("19999"));
  list->RemoveAll();

  CSkinLoader loader(w.get());
  CControlUI* el = loader.LoadElementFromText(
      R"(<VerticalLayout height="70"><Label name="Bubble" text="hi"/></VerticalLayout>)");
  ASSERT_NE(el, nullptr);
  ASSERT_TRUE(list->AddElement(el));
  EXPECT_EQ(list->GetElementCount(), 1);
  EXPECT_EQ(list->View()->rowHeight(0), 70);
  EXPECT_NE(w->FindControl(QStringLiteral("Bubble")),
            nullptr);  // elements are part of the window's tree
  EXPECT_EQ(FindControl(list->GetElementAt(0), QStringLiteral("Bubble"))->GetText(),
            QStringLiteral("hi"));
  list->RemoveAllElements();
  EXPECT_EQ(list->GetElementCount(), 0);
}

// Rows kept by the program: texts, ticks, colours and visibility are asked for.
class NumberRows : public IListRowSource {
 public:
  explicit NumberRows(int n) : ticks(static_cast<size_t>(n), true), n_(n) {}
  int RowCount() const override { return n_; }
  QString RowText(int row, int column) const override {
    ++asked;
    return column == 0 ? QString() : QStringLiteral("r%1c%2").arg(row).arg(column);
  }
  bool RowChecked(int row) const override { return ticks[static_cast<size_t>(row)]; }
  QColor RowTextColor(int row) const override {
    return row % 3 == 0 ? QColor(0xF3, 0x73, 0x02) : QColor();
  }
  QString RowIcon(int row) const override {
    return row % 3 == 0 ? QStringLiteral("file='Sheet.png' source='20,0,30,10'") : QString();
  }
  bool RowHidden(int row) const override { return onlyThirds && row % 3 != 0; }
  std::vector<bool> ticks;
  bool onlyThirds = false;
  mutable int asked = 0;

 private:
  int n_;
};

TEST_F(FrameworkTest, ListShowsRowsKeptElsewhereAndAsksOnlyForWhatItShows) {
  src->Put(QStringLiteral("Sheet.png"), PngBytes(Sheet()));
  auto w = Make(
      R"(<Window><VerticalLayout><List name="L" iconcolumn="1" checkimage="file='Sheet.png' source='20,0,30,10'" uncheckimage="file='Sheet.png' source='0,0,10,10'">
      <ListHeader><ListHeaderItem name="All" width="21"/><ListHeaderItem name="A" width="100"/><ListHeaderItem name="B"/></ListHeader>
    </List></VerticalLayout></Window>)",
      QSize(500, 400));
  auto* list = w->Find<CListUI>(QStringLiteral("L"));
  ASSERT_NE(list, nullptr);
  list->AddRow({QStringLiteral("own row")});
  NumberRows rows(300000);
  list->SetRowSource(&rows);
  EXPECT_EQ(list->GetRowCount(), 300000);
  EXPECT_EQ(list->View()->model()->rowCount(), 300000);
  list->View()->viewport()->grab();
  // A painted screen asks for a screen of rows, not for the whole list.
  EXPECT_GT(rows.asked, 0);
  EXPECT_LT(rows.asked, 2000);
  QAbstractItemModel* m = list->View()->model();
  EXPECT_EQ(m->index(4, 2).data().toString(), QStringLiteral("r4c2"));
  EXPECT_EQ(list->GetRowText(299999, 1), QStringLiteral("r299999c1"));
  EXPECT_EQ(m->index(3, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(0xF3, 0x73, 0x02));
  EXPECT_FALSE(m->index(4, 1).data(Qt::ForegroundRole).isValid());
  EXPECT_FALSE(m->index(3, 1).data(Qt::DecorationRole).value<QPixmap>().isNull());
  EXPECT_FALSE(m->index(4, 1).data(Qt::DecorationRole).isValid());
  const QImage ticked = m->index(0, 0).data(Qt::DecorationRole).value<QPixmap>().toImage();
  EXPECT_EQ(ticked.pixelColor(2, 2), QColor(Qt::blue));

  // A click on a tick box asks the owner; nothing changes until it says so.
  w->heard.clear();
  QTableView* v = list->View();
  QTest::mouseClick(v->viewport(), Qt::LeftButton, Qt::NoModifier,
                    v->visualRect(m->index(1, 0)).center());
  EXPECT_TRUE(w->heard.contains(QStringLiteral("itemcheck:L")));
  EXPECT_FALSE(w->heard.contains(QStringLiteral("itemclick:L")));
  EXPECT_TRUE(list->GetRowCheck(1));
  rows.ticks[1] = false;
  list->RowSourceRowChanged(1);
  EXPECT_FALSE(list->GetRowCheck(1));
  EXPECT_EQ(m->index(1, 0).data(Qt::DecorationRole).value<QPixmap>().toImage().pixelColor(2, 2),
            QColor(Qt::red));

  // The source hides rows: the list takes the new visibility on a reset, in one go.
  rows.onlyThirds = true;
  list->RowSourceReset();
  EXPECT_EQ(list->GetVisibleRowCount(), 100000);
  EXPECT_EQ(m->index(1, 1).data().toString(), QStringLiteral("r3c1"));
  EXPECT_TRUE(list->IsRowHidden(1));
  EXPECT_FALSE(list->IsRowHidden(3));
  EXPECT_TRUE(list->SelectItem(3));
  EXPECT_EQ(list->GetCurSel(), 3);
  EXPECT_FALSE(list->SelectItem(4));

  // Emptying the list lets go of the source.
  list->RemoveAll();
  EXPECT_EQ(list->RowSource(), nullptr);
  EXPECT_EQ(list->GetRowCount(), 0);
  rows.asked = 0;
  list->View()->viewport()->grab();
  EXPECT_EQ(rows.asked, 0);
}

TEST_F(FrameworkTest, TreeNodesTicksAndVisibility) {
  auto w = Make(R"(<Window><VerticalLayout><FileTree name="T"/></VerticalLayout></Window>)");
  w->SetControlFactory(CreateProgramControl);
  // The factory is consulted while loading, so build again with it in place.
  auto w2 = std::make_unique<RecordingWnd>();
  w2->SetSkinSource(src);
  w2->SetSkinFile(QStringLiteral("xml/test.xml"));
  w2->SetControlFactory(CreateProgramControl);
  w2->Create();
  w2->resize(300, 300);
  w2->show();
  auto* tree = w2->Find<CFileTreeUI>(QStringLiteral("T"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(w->Find<CFileTreeUI>(QStringLiteral("T")),
            nullptr);  // without the factory: a plain container
  CTreeNodeUI* group = tree->AddNode(QStringLiteral("Photos & Videos"));
  CTreeNodeUI* a = tree->AddNode(QStringLiteral("Camera Roll (0)"), group, 1);
  CTreeNodeUI* b = tree->AddNode(QStringLiteral("Photo Stream (0)"), group, 2);
  tree->ExpandAll();
  EXPECT_EQ(a->GetData(), 1u);
  a->SetText(QStringLiteral("Camera Roll (12)"));
  EXPECT_EQ(a->GetText(), QStringLiteral("Camera Roll (12)"));
  EXPECT_EQ(group->GetCheckState(), Qt::Checked);
  w2->heard.clear();
  a->SetCheck(false);
  EXPECT_EQ(group->GetCheckState(), Qt::PartiallyChecked);
  EXPECT_TRUE(w2->heard.contains(QStringLiteral("itemcheck:T")));
  EXPECT_EQ(tree->GetEventNode(), a);
  b->SetCheck(false);
  EXPECT_EQ(group->GetCheckState(), Qt::Unchecked);
  group->SetCheck(true);
  EXPECT_EQ(a->GetCheckState(), Qt::Checked);
  EXPECT_EQ(b->GetCheckState(), Qt::Checked);
  // A state kept elsewhere is only shown: no notification, nothing follows.
  w2->heard.clear();
  group->ShowCheckState(Qt::PartiallyChecked);
  a->ShowCheckState(Qt::Unchecked);
  EXPECT_EQ(group->GetCheckState(), Qt::PartiallyChecked);
  EXPECT_EQ(a->GetCheckState(), Qt::Unchecked);
  EXPECT_EQ(b->GetCheckState(), Qt::Checked);
  EXPECT_TRUE(w2->heard.isEmpty());
  group->SetCheck(true);
  b->SetVisible(false);
  EXPECT_TRUE(tree->View()->isRowHidden(1, group->Item()->index()));
  w2->heard.clear();
  tree->SelectNode(a);
  EXPECT_EQ(tree->GetSelectedNode(), a);
  EXPECT_EQ(w2->heard, QStringList{QStringLiteral("itemselect:T")});
  tree->RemoveAllNodes();
  EXPECT_EQ(tree->GetNodeCount(), 0);
  EXPECT_EQ(tree->GetSelectedNode(), nullptr);
}

TEST_F(FrameworkTest, CaptionHitTestSparesButtonsAndTexts) {
  auto w = Make(R"(<Window caption="0,0,0,40" sizebox="4,4,4,4"><VerticalLayout>
      <HorizontalLayout height="40"><Label name="Cap" width="100"/><Button name="B" width="40"/><Text name="T" width="60"/><Control/></HorizontalLayout>
      <Control/></VerticalLayout></Window>)",
                QSize(400, 300));
  EXPECT_EQ(w->HitTest(QPoint(50, 20)), CSkinWindow::Hit::Caption);
  EXPECT_EQ(w->HitTest(QPoint(120, 20)), CSkinWindow::Hit::Client);
  EXPECT_EQ(w->HitTest(QPoint(170, 20)), CSkinWindow::Hit::Client);
  EXPECT_EQ(w->HitTest(QPoint(300, 20)), CSkinWindow::Hit::Caption);
  EXPECT_EQ(w->HitTest(QPoint(200, 200)), CSkinWindow::Hit::Client);
  EXPECT_EQ(w->HitTest(QPoint(1, 150)), CSkinWindow::Hit::Left);
  EXPECT_EQ(w->HitTest(QPoint(399, 299)), CSkinWindow::Hit::BottomRight);
  EXPECT_EQ(w->HitTest(QPoint(200, 1)), CSkinWindow::Hit::Top);
}

// Real mouse input on a frameless window: a press on a caption label and a move drag the
// window; a press on the bottom-right size box and a move resize it, never below its
// minimum; a press on a caption button does neither. (Without a window manager the
// window follows the pointer itself.)
TEST_F(FrameworkTest, FramelessWindowDragsAndResizesByMouse) {
  auto w = Make(R"(<Window caption="0,0,0,40" sizebox="4,4,4,4" mininfo="300,200"><VerticalLayout>
      <HorizontalLayout height="40"><Label name="Cap" width="100"/><Button name="B" width="40"/><Control/></HorizontalLayout>
      <Control/></VerticalLayout></Window>)",
                QSize(400, 300));
  w->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  w->setGeometry(100, 100, 400, 300);
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  auto drag = [](QWidget* target, QPoint from, QPoint by) {
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(target, from + by);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, from + by);
  };
  const QPoint start = w->pos();
  drag(w->FindControl(QStringLiteral("Cap")), QPoint(50, 20), QPoint(30, 25));
  EXPECT_EQ(w->pos(), start + QPoint(30, 25));
  drag(w->FindControl(QStringLiteral("B")), QPoint(20, 20), QPoint(30, 25));
  EXPECT_EQ(w->pos(), start + QPoint(30, 25));
  drag(w.get(), QPoint(398, 298), QPoint(50, 40));
  EXPECT_EQ(w->size(), QSize(450, 340));
  EXPECT_EQ(w->pos(), start + QPoint(30, 25));
  // The left edge moves the window's left side; the minimum width stops it.
  drag(w.get(), QPoint(1, 150), QPoint(200, 0));
  EXPECT_EQ(w->width(), 300);
  EXPECT_EQ(w->geometry().right(), start.x() + 30 + 449);
}

TEST_F(FrameworkTest, ModalRunReturnsCloseCode) {
  src->Put(
      QStringLiteral("xml/dlg.xml"),
      R"(<Window size="200,100"><VerticalLayout><Button name="okbtn"/></VerticalLayout></Window>)");
  QWidget owner;
  owner.setGeometry(100, 100, 600, 400);
  owner.show();
  CSkinWindow dlg(&owner);
  dlg.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  dlg.SetSkinSource(src);
  dlg.SetSkinFile(QStringLiteral("xml/dlg.xml"));
  dlg.Create();
  dlg.resize(200, 100);
  dlg.CenterOver(&owner);
  EXPECT_EQ(dlg.frameGeometry().center(), owner.frameGeometry().center());
  bv::testing::WhenModal([](CSkinWindow* w) { w->Close(7); });
  EXPECT_EQ(dlg.ShowModal(), 7);
  EXPECT_FALSE(dlg.isVisible());
  bv::testing::WhenModal([](CSkinWindow* w) { w->close(); });
  EXPECT_EQ(dlg.ShowModal(), 2);  // closing by the window system
}

TEST_F(FrameworkTest, MenuFromSkinWithDynamicElements) {
  src->Put(QStringLiteral("xml/menu.xml"), R"(<Window><Menu name="menu_test">
      <MenuElement name="item_a" text="A"/><MenuElement name="item_lang" text="Language" visible="false"/>
      <MenuElement name="item_exit" text="Exit"/></Menu></Window>)");
  auto w = Make(R"(<Window><VerticalLayout/></Window>)");
  CMenuWnd menu;
  ASSERT_TRUE(menu.Init(w.get(), QStringLiteral("xml\\menu.xml")));
  EXPECT_EQ(menu.GetName(), QStringLiteral("menu_test"));
  EXPECT_TRUE(menu.HasElement(QStringLiteral("item_a")));
  EXPECT_FALSE(menu.IsElementVisible(QStringLiteral("item_lang")));
  ASSERT_TRUE(menu.AddChildElement(QStringLiteral("item_lang"), QStringLiteral("English"),
                                   QStringLiteral("English")));
  EXPECT_TRUE(menu.HasElement(QStringLiteral("English")));
  EXPECT_FALSE(
      menu.AddChildElement(QStringLiteral("absent"), QStringLiteral("X"), QStringLiteral("X")));
  w->heard.clear();
  EXPECT_TRUE(menu.Trigger(QStringLiteral("English")));
  EXPECT_TRUE(menu.Trigger(QStringLiteral("item_exit")));
  EXPECT_FALSE(menu.Trigger(QStringLiteral("nothing")));
  EXPECT_EQ(w->heard, (QStringList{QStringLiteral("itemclick:English"),
                                   QStringLiteral("itemclick:item_exit")}));
  CMenuWnd missing;
  EXPECT_FALSE(missing.Init(w.get(), QStringLiteral("xml/none.xml")));
}

TEST(ZipSkinSource, RejectsGarbageAndMissingResource) {
  EXPECT_EQ(CZipSkinSource::FromBytes(QByteArray()), nullptr);
  EXPECT_EQ(CZipSkinSource::FromBytes(QByteArray("PK\x03\x04 not really a zip", 24)), nullptr);
  EXPECT_EQ(SkinSourceFromResource(QStringLiteral("ZIPRES"), 999), nullptr);
}

}  // namespace

namespace {

// The embedded browser: load a page, call its script function, print it to PDF.
TEST(WebBrowser, NavigatesCallsScriptAndPrintsPdf) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString page = tmp.filePath(QStringLiteral("page.html"));
  {
    QFile f(page);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "<html><body><p>Call history</p><script>function Init(){return "
        "'ready';}</script></body></html>");
  }
  auto src = std::make_shared<MemorySkinSource>();
  src->Put(
      QStringLiteral("xml/web.xml"),
      R"(<Window><VerticalLayout><WebBrowser name="Web" homepage="about:blank"/></VerticalLayout></Window>)");
  RecordingWnd w;
  w.SetSkinSource(src);
  w.SetSkinFile(QStringLiteral("xml/web.xml"));
  ASSERT_TRUE(w.Create());
  w.resize(600, 400);
  w.show();
  auto* web = w.Find<CWebBrowserUI>(QStringLiteral("Web"));
  ASSERT_NE(web, nullptr);
  w.heard.clear();
  web->Navigate(page);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return w.heard.contains(QStringLiteral("documentcomplete:Web")); }, 30000));
  QString answer;
  bool answered = false;
  web->CallScript(QStringLiteral("Init"), [&](const QString& r) {
    answer = r;
    answered = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return answered; }, 10000));
  EXPECT_EQ(answer, QStringLiteral("ready"));
  // Anything but a plain function name is refused without running.
  answered = false;
  web->CallScript(QStringLiteral("alert(1)"), [&](const QString& r) {
    answer = r;
    answered = true;
  });
  EXPECT_TRUE(answered);
  EXPECT_TRUE(answer.isEmpty());
  const QString pdf = tmp.filePath(QStringLiteral("out.pdf"));
  bool printed = false, ok = false;
  web->PrintToPdf(pdf, [&](bool r) {
    ok = r;
    printed = true;
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return printed; }, 30000));
  EXPECT_TRUE(ok);
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.read(4) == "%PDF");
}

}  // namespace
