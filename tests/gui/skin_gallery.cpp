// Renders every skin of the archive to a PNG so a person can look at them all at once:
//   skin_gallery [output folder]            (default: <bin>/../skin-gallery)
//   skin_gallery --show <name> [seconds]    shows one window on the screen (for a
//                                           screenshot under Xvfb); names: main, scan,
//                                           message, password, recover, preview
// Windows get sample contents where an empty window would show little.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTimer>
#include <cstdio>

#include "app/lang/language_store.h"
#include "app/popups.h"
#include "app/skin/skin_archive.h"
#include "ui/skin_loader.h"
#include "ui/ui_custom.h"

using namespace bv;
using namespace bv::ui;

namespace {

class GalleryWnd : public CSkinWindow {
 public:
  explicit GalleryWnd(const QString& file, const std::string& section = std::string())
      : m_section(section) {
    SetSkinFile(file);
    SetControlFactory(CreateProgramControl);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  }
  void Notify(TNotifyUI& msg) override {
    if (msg.sType == QLatin1String("windowinit") && !m_section.empty())
      lang::CLanguageStore::instance().apply(this, m_section);
  }

 private:
  std::string m_section;
};

QImage Render(QWidget* w, QSize size) {
  w->resize(size);
  w->show();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  return w->grab().toImage();
}

void FillScanPage(CSkinWindow& w) {
  w.Find<CTabLayoutUI>(QStringLiteral("TabPage"))->SelectItem(2);
  w.FindControl(QStringLiteral("OptStep3"))->SetEnabled(true);
  w.FindControl(QStringLiteral("OptStep3"))->Selected(true, false);
  w.FindControl(QStringLiteral("HorLayoutMain"))->SetVisible(false);
  w.FindControl(QStringLiteral("HorLayoutScan"))->SetVisible(true);
  w.FindControl(QStringLiteral("iPhoneInfoLayout"))->SetVisible(false);
  w.FindControl(QStringLiteral("DataListLayout"))->SetVisible(true);
  w.FindControl(QStringLiteral("DataListToolBar"))->SetVisible(true);
  w.FindControl(QStringLiteral("FilterToolBar"))->SetVisible(true);
  w.FindControl(QStringLiteral("PreviewLayout"))->SetVisible(true);
  w.FindControl(QStringLiteral("OptOnOffPreview"))->Selected(true, false);
  w.Find<CProgressUI>(QStringLiteral("ProgressScan"))->SetValue(64);
  w.FindControl(QStringLiteral("LblPercent"))->SetText(QStringLiteral("64%"));
  auto* tree = w.Find<CTreeViewUI>(QStringLiteral("NodeTree"));
  struct Node {
    const char* text;
    const char* icon;
  };
  const Node photos[] = {{"Camera Roll (128)", "1,410,19,428"},
                         {"Photo Stream (40)", "19,410,37,428"},
                         {"App Photos (12)", "37,410,55,428"},
                         {"App Videos (3)", "55,410,73,428"}};
  const Node msgs[] = {{"Messages (56)", "73,410,91,428"},
                       {"Messages Attachments (9)", "91,410,109,428"},
                       {"Contacts (210)", "109,410,127,428"},
                       {"Call History (77)", "127,410,145,428"},
                       {"Notes (14)", "145,410,163,428"},
                       {"WhatsApp (6)", "163,410,181,428"},
                       {"WhatsApp Attachments (2)", "91,410,109,428"},
                       {"Reminder (0)", "181,410,199,428"},
                       {"Calendar (0)", "199,410,217,428"},
                       {"Safari Bookmark (0)", "217,410,235,428"}};
  CTreeNodeUI* g1 = tree->AddNode(QStringLiteral("Photos & Videos"));
  for (const Node& n : photos)
    tree->AddNode(QString::fromLatin1(n.text), g1)
        ->SetIcon(QStringLiteral("file='Controls.png' source='%1'").arg(QLatin1String(n.icon)));
  CTreeNodeUI* g2 = tree->AddNode(QStringLiteral("Messages & Call logs"));
  CTreeNodeUI* calls = nullptr;
  for (const Node& n : msgs) {
    CTreeNodeUI* node = tree->AddNode(QString::fromLatin1(n.text), g2);
    node->SetIcon(QStringLiteral("file='Controls.png' source='%1'").arg(QLatin1String(n.icon)));
    if (QString::fromLatin1(n.text).startsWith(QStringLiteral("Call"))) calls = node;
  }
  tree->ExpandAll();
  tree->SelectNode(calls, false);
  auto* list = w.Find<CListUI>(QStringLiteral("DataList"));
  const char* heads[] = {"User Name", "Phone Number", "Date", "Call Status", "Duration", "Status"};
  const int widths[] = {150, 150, 130, 100, 100, 0};
  for (int i = 0; i < 6; ++i) {
    auto* h = list->GetColumn(i + 1);
    h->SetText(QString::fromLatin1(heads[i]));
    h->SetColumnWidth(widths[i]);
  }
  const char* rows[][6] = {
      {"Anna Berg", "+49 151 2345678", "2024-03-02 18:20:11", "Incoming", "3 Min 12 Sec", "Normal"},
      {"Tom Eriksen", "+47 912 34 567", "2024-03-01 09:02:45", "Outgoing", "Canceled", "Deleted"},
      {"", "+1 415 555 0100", "2024-02-28 21:15:00", "Incoming", "Missed", "Normal"},
      {"Mia Chen", "+86 138 0013 8000", "2024-02-27 12:40:31", "Outgoing", "1 Hour 4 Min",
       "Deleted"},
      {"Paul Novak", "+420 601 123 456", "2024-02-26 08:05:19", "Incoming", "45 Sec", "Normal"}};
  for (const auto& r : rows) {
    QStringList t{QString()};
    for (const char* c : r) t << QString::fromUtf8(c);
    const int row = list->AddRow(t);
    if (QString::fromLatin1(r[5]) == QLatin1String("Deleted")) {
      list->SetRowTextColor(row, QColor(0xF3, 0x73, 0x02));
      list->SetRowIcon(row, QStringLiteral("file='Controls.png' source='182,312,198,328'"));
    }
  }
  list->SetRowCheck(2, false);
  list->SelectItem(0, false);
  auto* msgList = w.Find<CListUI>(QStringLiteral("MessagesList"));
  w.FindControl(QStringLiteral("PreviewEdit"))->SetVisible(false);
  msgList->SetVisible(true);
  CSkinLoader loader(&w);
  const std::pair<const char*, const char*> bubbles[] = {
      {"xml\\MessagesElementRecv.xml",
       "2024-03-02 18:19:40 Anna Berg:|Are we still on for dinner tonight?"},
      {"xml\\MessagesElementSend.xml", "2024-03-02 18:20:02 Me:|Yes! 7 pm at the usual place."}};
  for (const auto& [file, text] : bubbles) {
    CControlUI* el = loader.LoadElement(QString::fromLatin1(file));
    if (!el) continue;
    const QStringList parts = QString::fromUtf8(text).split(QLatin1Char('|'));
    FindControl(el, QStringLiteral("LblMsgHeader"))->SetText(parts[0]);
    FindControl(el, QStringLiteral("LblMsgBubble"))->SetText(parts[1]);
    msgList->AddElement(el);
  }
  w.FindControl(QStringLiteral("LblStatistics"))
      ->SetText(QStringLiteral("You select 1.20 MB in 4 item(s) of 1.45 MB in 5 item(s)"));
}

void FillMessage(CSkinWindow& w, const QString& title, const QString& text) {
  w.FindControl(QStringLiteral("title"))->SetText(title);
  w.FindControl(QStringLiteral("message"))->SetText(text);
}

// A password dialog whose modal run we do not start.
class GalleryDecryption : public CDecryptionWnd {
 public:
  GalleryDecryption() : CDecryptionWnd(nullptr) {}
};

int Gallery(const QString& outDir) {
  QDir().mkpath(outDir);
  int failures = 0;
  auto save = [&](const QImage& img, const char* name) {
    const QString path = QDir(outDir).filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (img.isNull() || !img.save(path)) {
      std::fprintf(stderr, "could not render %s\n", name);
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(path));
    }
  };
  {
    GalleryWnd w(QStringLiteral("xml\\skin.xml"), "MainWnd");
    w.Create();
    save(Render(&w, QSize(1000, 650)), "skin_step1_PageItunesBackup");
    auto* list = w.Find<CListUI>(QStringLiteral("BackupFileList"));
    list->AddRow({QStringLiteral("Anna's iPhone"), QStringLiteral("2024-03-02 18:44:10"),
                  QStringLiteral("F2LXK0ABCDEF")});
    list->AddRow({QStringLiteral("Work iPhone 12"), QStringLiteral("2023-11-19 07:12:53"),
                  QStringLiteral("DNPQ3XYZ1234")});
    list->SetRowIcon(0,
                     QStringLiteral("file='Controls.png' source='2,436,50,462' dest='0,0,48,26'"));
    list->SetRowIcon(
        1, QStringLiteral("file='Controls.png' source='53,436,101,462' dest='0,0,48,26'"));
    list->SelectItem(0, false);
    save(Render(&w, QSize(1000, 650)), "skin_step1_with_backups");
    w.Find<CTabLayoutUI>(QStringLiteral("TabPage"))->SelectItem(1);
    w.FindControl(QStringLiteral("OptStep2"))->Selected(true, false);
    w.FindControl(QStringLiteral("OptNotes"))->Selected(false, false);
    w.Find<CCheckBoxUI>(QStringLiteral("ChkSelAll"))->SetHalfChecked(true);
    save(Render(&w, QSize(1000, 650)), "skin_step2_PageSpecifyFile");
    w.Find<CTabLayoutUI>(QStringLiteral("TabPage"))->SelectItem(2);
    w.FindControl(QStringLiteral("OptStep3"))->Selected(true, false);
    save(Render(&w, QSize(1000, 650)), "skin_step3_PageScan_idle");
  }
  {
    GalleryWnd w(QStringLiteral("xml\\skin.xml"), "MainWnd");
    w.Create();
    FillScanPage(w);
    save(Render(&w, QSize(1000, 650)), "skin_step3_PageScan_results");
  }
  const std::pair<const char*, const char*> boxes[] = {
      {"Error", "The backup folder could not be read."},
      {"Confirm", "Do you want to continue?"},
      {"Information", "Tarnwick Backvault Pro is running."},
      {"Question", "Can not found the backup file, do you want to try again?"},
      {"Warning", "Please enter the password of the encrypted backup."}};
  for (const auto& [kind, text] : boxes) {
    GalleryWnd w(QStringLiteral("xml\\MessageBox_%1.xml").arg(QLatin1String(kind)), "MessageBox");
    w.Create();
    FillMessage(w, QString::fromLatin1(kind), QString::fromLatin1(text));
    save(Render(&w, QSize(550, 200)), (std::string("MessageBox_") + kind).c_str());
  }
  {
    GalleryDecryption w;
    w.Create();
    save(Render(&w, QSize(550, 270)), "DecryptionWnd");
  }
  {
    GalleryWnd w(QStringLiteral("xml\\PreviewProcessWnd.xml"), "PreviewProcessWnd");
    w.Create();
    w.FindControl(QStringLiteral("LblFileName"))->SetText(QStringLiteral("Preparing IMG_0042.MOV"));
    w.Find<CProgressUI>(QStringLiteral("Progress"))->SetValue(35);
    w.FindControl(QStringLiteral("LblPercent"))->SetText(QStringLiteral("Current progress: 35%"));
    save(Render(&w, QSize(500, 200)), "PreviewProcessWnd");
  }
  {
    GalleryWnd w(QStringLiteral("xml\\RecoverProcessWnd.xml"), "RecoverProcessWnd");
    w.Create();
    w.FindControl(QStringLiteral("current"))
        ->SetText(QStringLiteral("/home/anna/Recovered/Camera Roll/IMG_0042.JPG"));
    w.FindControl(QStringLiteral("recovered"))
        ->SetText(QStringLiteral("12/40 item(s) done, 11 recovered, 1 failed"));
    w.Find<CProgressUI>(QStringLiteral("Progress"))->SetValue(70);
    w.FindControl(QStringLiteral("percent"))->SetText(QStringLiteral("Current progress: 70%"));
    save(Render(&w, QSize(600, 360)), "RecoverProcessWnd");
    w.FindControl(QStringLiteral("InfoLayout"))->SetVisible(false);
    auto* detail = w.Find<CListUI>(QStringLiteral("DetailList"));
    detail->SetVisible(true);
    detail->AddRow({QStringLiteral("/home/anna/Recovered/Camera Roll/IMG_0041.JPG"),
                    QStringLiteral("Success")});
    detail->AddRow({QStringLiteral("/home/anna/Recovered/Camera Roll/IMG_0042.JPG"),
                    QStringLiteral("No such file or directory")});
    save(Render(&w, QSize(600, 360)), "RecoverProcessWnd_detail");
  }
  {
    GalleryWnd w(QStringLiteral("xml\\PrintWnd.xml"), "PrintWnd");
    w.Create();
    save(Render(&w, QSize(800, 600)), "PrintWnd");
  }
  {
    GalleryWnd w(QStringLiteral("xml\\ContactInfo.xml"));
    w.Create();
    w.FindControl(QStringLiteral("TxtUserName"))->SetText(QStringLiteral("Anna Berg"));
    w.FindControl(QStringLiteral("TxtPhone"))->SetText(QStringLiteral("+49 151 2345678"));
    w.FindControl(QStringLiteral("TxtEmail"))->SetText(QStringLiteral("anna@example.org"));
    w.FindControl(QStringLiteral("TxtAddress"))->SetText(QStringLiteral("Lindenstr. 5, Berlin"));
    w.FindControl(QStringLiteral("TxtCompany"))->SetText(QStringLiteral("Berg & Partner"));
    save(Render(&w, QSize(260, 210)), "ContactInfo");
  }
  for (const char* f : {"MessagesElementSend", "MessagesElementRecv"}) {
    GalleryWnd w(QStringLiteral("xml\\%1.xml").arg(QLatin1String(f)));
    w.Create();
    w.FindControl(QStringLiteral("LblMsgHeader"))
        ->SetText(QStringLiteral("2024-03-02 18:20:02 Me:"));
    w.FindControl(QStringLiteral("LblMsgBubble"))->SetText(QStringLiteral("See you at seven!"));
    save(Render(&w, QSize(260, 80)), f);
  }
  {
    GalleryWnd owner(QStringLiteral("xml\\skin.xml"));
    owner.Create();
    CMenuWnd menu;
    menu.Init(&owner, QStringLiteral("xml\\menu_assist.xml"));
    menu.SetElementVisible(QStringLiteral("item_language"), true);
    menu.AddChildElement(
        QStringLiteral("item_language"), QStringLiteral("English"), QStringLiteral("English"),
        QStringLiteral("file='Controls.png' source='359,38,375,54' dest='0,4,16,20'"));
    menu.AddChildElement(QStringLiteral("item_language"), QStringLiteral("Deutsch"),
                         QStringLiteral("Deutsch"));
    menu.Menu()->adjustSize();
    save(Render(menu.Menu(), menu.Menu()->sizeHint()), "menu_assist");
  }
  return failures == 0 ? 0 : 1;
}

int Show(const QString& what, int seconds) {
  QWidget desk;
  // A palette, not a style sheet: style sheets cascade into the windows it owns.
  QPalette pal = desk.palette();
  pal.setColor(QPalette::Window, QColor(0x5B, 0x6B, 0x7F));
  desk.setPalette(pal);
  desk.setAutoFillBackground(true);
  desk.setGeometry(0, 0, 1280, 800);
  desk.show();
  std::unique_ptr<QWidget> keep;
  QTimer::singleShot(seconds * 1000, qApp, &QApplication::quit);
  if (what == QLatin1String("message")) {
    QTimer::singleShot(seconds * 1000, [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* s = dynamic_cast<CSkinWindow*>(w)) s->Close(2);
    });
    show_message(kMsgQuestion, &desk, "Can not found the backup file, do you want to try again?",
                 std::string("Question"));
    return 0;
  }
  if (what == QLatin1String("password")) {
    QTimer::singleShot(seconds * 1000, [] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* s = dynamic_cast<CSkinWindow*>(w)) s->Close(2);
    });
    ask_password(&desk);
    return 0;
  }
  auto* w = new GalleryWnd(
      what == QLatin1String("recover")   ? QStringLiteral("xml\\RecoverProcessWnd.xml")
      : what == QLatin1String("preview") ? QStringLiteral("xml\\PreviewProcessWnd.xml")
                                         : QStringLiteral("xml\\skin.xml"),
      "MainWnd");
  keep.reset(w);
  w->Create();
  if (what == QLatin1String("scan")) FillScanPage(*w);
  w->resize(w->GetInitSize().isValid() ? w->GetInitSize() : QSize(600, 360));
  w->CenterOver(&desk);
  w->show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  if (!InstallSkinArchive()) return 1;
  const QStringList args = app.arguments();
  if (args.size() >= 3 && args[1] == QLatin1String("--show"))
    return Show(args[2], args.size() >= 4 ? args[3].toInt() : 5);
  const QString out = args.size() >= 2 ? args[1]
                                       : QCoreApplication::applicationDirPath() +
                                             QStringLiteral("/../skin-gallery");
  return Gallery(out);
}
