// The skin archive embedded in the program, every skin's named controls, the pop-ups and
// the relabelling of windows, driven through the real windows.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>
#include <filesystem>
#include <fstream>

#include "app/lang/language_store.h"
#include "app/popups.h"
#include "app/skin/skin_archive.h"
#include "gui_test_support.h"
#include "ui/ui_custom.h"

using namespace bv;
using namespace bv::ui;
using bv::testing::ClickControl;
using bv::testing::WhenModal;

namespace {

class ArchiveEnv : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(InstallSkinArchive()); }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new ArchiveEnv);

// A window over one skin of the archive with the program's own tags.
class SkinWnd : public CSkinWindow {
 public:
  explicit SkinWnd(const QString& file) {
    SetSkinFile(file);
    SetControlFactory(CreateProgramControl);
  }
};

TEST(SkinArchive, HoldsEveryEntry) {
  auto src = std::dynamic_pointer_cast<CZipSkinSource>(OpenSkinArchive());
  ASSERT_NE(src, nullptr);
  const QStringList entries = src->Entries();
  for (const char* e : {"xml/skin.xml",
                        "xml/PageItunesBackup.xml",
                        "xml/PageSpecifyFile.xml",
                        "xml/PageScan.xml",
                        "xml/DecryptionWnd.xml",
                        "xml/MessageBox_Error.xml",
                        "xml/MessageBox_Confirm.xml",
                        "xml/MessageBox_Information.xml",
                        "xml/MessageBox_Question.xml",
                        "xml/MessageBox_Warning.xml",
                        "xml/PreviewProcessWnd.xml",
                        "xml/RecoverProcessWnd.xml",
                        "xml/PrintWnd.xml",
                        "xml/ContactInfo.xml",
                        "xml/MessagesElementSend.xml",
                        "xml/MessagesElementRecv.xml",
                        "xml/menu_assist.xml",
                        "Controls.png",
                        "Others.png",
                        "MainWnd.png",
                        "Connection.png",
                        "optionOn.png",
                        "optionOff.png",
                        "logo.png",
                        "loading.gif",
                        "print_loading.gif"})
    EXPECT_TRUE(entries.contains(QString::fromLatin1(e))) << e;
  // The program names entries with back slashes.
  QByteArray bytes;
  EXPECT_TRUE(src->Read(QStringLiteral("xml\\skin.xml"), &bytes));
  EXPECT_FALSE(src->Read(QStringLiteral("xml\\..\\skin.xml"), &bytes));
  const QPixmap controls = src->Image(QStringLiteral("Controls.png"));
  ASSERT_FALSE(controls.isNull());
  // Every rectangle the program cuts lies inside the sheet and holds a picture.
  const QImage sheet = controls.toImage();
  const int rects[][4] = {{182, 312, 198, 328}, {53, 436, 101, 462}, {2, 436, 50, 462},
                          {359, 38, 375, 54},   {538, 1, 591, 54},   {484, 1, 537, 54},
                          {325, 75, 340, 90},   {340, 75, 355, 90},  {2, 312, 59, 364},
                          {62, 312, 119, 364},  {1, 410, 19, 428},   {217, 410, 235, 428}};
  for (const auto& r : rects) {
    ASSERT_LE(r[2], sheet.width());
    ASSERT_LE(r[3], sheet.height());
    int opaque = 0;
    for (int y = r[1]; y < r[3]; ++y)
      for (int x = r[0]; x < r[2]; ++x) opaque += qAlpha(sheet.pixel(x, y)) > 128;
    EXPECT_GT(opaque, (r[2] - r[0]) * (r[3] - r[1]) / 10) << r[0] << "," << r[1];
  }
  // The two switch images carry ten frames of 78 x 19.
  EXPECT_EQ(src->Image(QStringLiteral("optionOn.png")).size(), QSize(780, 19));
}

TEST(SkinArchive, MissingResourceReportsLoadError) {
  static QString reported;
  SetResourceErrorReporter([](const QString& m) { reported = m; });
  EXPECT_EQ(SkinSourceFromResource(QStringLiteral("ZIPRES"), 102), nullptr);
  ReportLoadResourceError();
  EXPECT_EQ(reported, QStringLiteral("Load Resource Error"));
  SetResourceErrorReporter(nullptr);
}

struct Expect {
  const char* name;
  const char* cls;
  const char* text;  // nullptr: not checked
  int visible;       // -1: not checked
};

void CheckSkin(const QString& file, const std::vector<Expect>& expects, SkinWnd* wnd = nullptr) {
  std::unique_ptr<SkinWnd> own;
  if (!wnd) {
    own = std::make_unique<SkinWnd>(file);
    wnd = own.get();
    ASSERT_TRUE(wnd->Create()) << file.toStdString();
  }
  for (const Expect& e : expects) {
    CControlUI* c = wnd->FindControl(QString::fromLatin1(e.name));
    ASSERT_NE(c, nullptr) << file.toStdString() << ": " << e.name;
    EXPECT_EQ(c->GetClass().toStdString(), e.cls) << e.name;
    if (e.text) {
      EXPECT_EQ(c->GetText().toStdString(), e.text) << e.name;
    }
    if (e.visible >= 0) {
      EXPECT_EQ(c->IsVisible(), e.visible == 1) << e.name;
    }
  }
}

TEST(Skins, MainWindowAndPages) {
  SkinWnd w(QStringLiteral("xml\\skin.xml"));
  ASSERT_TRUE(w.Create());
  EXPECT_EQ(w.GetInitSize(), QSize(1000, 650));
  EXPECT_EQ(w.GetMinInfo(), QSize(1000, 665));
  EXPECT_EQ(w.GetCaptionRect().bottom(), 90);
  EXPECT_EQ(w.GetFont(15).pixelSize(), 28);
  EXPECT_TRUE(w.GetFont(15).bold());
  EXPECT_EQ(w.GetDefaultFont().pixelSize(), 12);
  EXPECT_EQ(w.GetDefaultFont().family(), QStringLiteral("Tahoma"));
  EXPECT_FALSE(w.GetStyle(QStringLiteral("TreeNode")).isEmpty());
  CheckSkin(
      QString(),
      {{"HorLayoutMain", "HorizontalLayoutUI", nullptr, 1},
       {"LblProductName", "LabelUI", nullptr, 1},
       {"TxtIosDevice1", "LabelUI", nullptr, -1},
       {"TxtIosDevice2", "LabelUI", nullptr, -1},
       {"TxtBackupFile1", "LabelUI", nullptr, -1},
       {"TxtBackupFile2", "LabelUI", nullptr, -1},
       {"HorLayoutScan", "HorizontalLayoutUI", nullptr, 0},
       {"ScanToolBar", "HorizontalLayoutUI", nullptr, 1},
       {"BtnGifScanning", "ButtonGifUI", nullptr, 1},
       {"LblScanType", "LabelUI", "Scanning iTunens Backup Files", 1},
       {"ProgressScan", "ProgressUI", nullptr, 1},
       {"LblWaitDesc", "LabelUI", "Please wait ...", 1},
       {"LblPercent", "LabelUI", "0%", 1},
       {"BtnScanPause", "ButtonUI", "Pause", 1},
       {"BtnScanStop", "ButtonUI", "Stop", 1},
       {"ReocveryToolBar", "HorizontalLayoutUI", nullptr, 0},
       {"LblRemark", "LabelUI", "Recover from iTunes Backup File", 1},
       {"BtnAssist", "ButtonUI", nullptr, 1},
       {"minbtn", "ButtonUI", nullptr, 1},
       {"maxbtn", "ButtonUI", nullptr, 1},
       {"restorebtn", "ButtonUI", nullptr, 0},
       {"closebtn", "ButtonUI", nullptr, 1},
       {"MainTabPage", "TabLayoutUI", nullptr, 1},
       {"OptStep1", "OptionUI", nullptr, 1},
       {"OptStep2", "OptionUI", nullptr, 1},
       {"OptStep3", "OptionUI", nullptr, 1},
       {"TabPage", "TabLayoutUI", nullptr, 1},
       {"FooterBar", "HorizontalLayoutUI", nullptr, 1},
       // backup list page
       {"ItunesBackupDesc1", "LabelUI",
        "Select an iTunes Backup File of your iOS device below to scan.", -1},
       {"BackupFileList", "ListUI", nullptr, -1},
       {"BackupListHeader1", "ListHeaderItemUI", "Name", -1},
       {"BackupListHeader2", "ListHeaderItemUI", "Last Backup Date", -1},
       {"BackupListHeader3", "ListHeaderItemUI", "Serial Number", -1},
       {"ItunesBackupDesc2", "LabelUI",
        "If your iOS device is not listed here, it's probably because your iOS device has not been "
        "synchronized with iTunes.",
        -1},
       {"ItunesBackupDesc3", "LabelUI",
        "Select the iTunes Backup File from other folder to recover your data.", -1},
       {"BtnSelDir", "ButtonUI", "Select", -1},
       {"BtnNext1", "ButtonUI", "Next", -1},
       // category page
       {"SpecifyFileDesc", "LabelUI",
        "Please select the file types that you want to extract from your iTunes backup file:", -1},
       {"OptCameraRoll", "OptionUI", "Camera Roll", -1},
       {"OptPhotoStream", "OptionUI", "Photo Stream", -1},
       {"OptAppPhotos", "OptionUI", "App Photos", -1},
       {"OptAppVideos", "OptionUI", "App Videos", -1},
       {"OptMessages", "OptionUI", "Messages", -1},
       {"OptMessageAtts", "OptionUI", "Message Attachments", -1},
       {"OptContacts", "OptionUI", "Contacts", -1},
       {"OptCallHistory", "OptionUI", "Call History", -1},
       {"OptNotes", "OptionUI", "Notes", -1},
       {"WhatsApp", "OptionUI", "WhatsApp", -1},
       {"OptWhatsAppAtts", "OptionUI", "WhatsApp Attachments", -1},
       {"OptReminder", "OptionUI", "Reminder", -1},
       {"OptCalendar", "OptionUI", "Calendar", -1},
       {"SafariBookmark", "OptionUI", "SafariBookmark", -1},
       {"ChkSelAll", "CheckBoxUI", "select all", -1},
       {"BtnNext2", "ButtonUI", "Next", -1},
       // scan page and preview pane
       {"NodeTree", "FileTreeUI", nullptr, -1},
       {"iPhoneInfoLayout", "VerticalLayoutUI", nullptr, 1},
       {"LblScanInfo", "LabelUI", "Scanning iTunens Backup Files", -1},
       {"PageScanDesc1", "LabelUI", "1. Select a file type on the left to preview lost data.", -1},
       {"PageScanDesc2", "LabelUI",
        "2. Recovery success varies with loss circumstances and device condition.", -1},
       {"PageScanDesc3", "LabelUI", "Some not found file may have been overwritten.", -1},
       {"BtnGifLoading", "ButtonGifUI", nullptr, -1},
       {"DataListLayout", "VerticalLayoutUI", nullptr, 0},
       {"DataListToolBar", "HorizontalLayoutUI", nullptr, 0},
       {"FilterToolBar", "HorizontalLayoutUI", nullptr, 0},
       {"OptOnOffFilter", "OptionUI", nullptr, -1},
       {"PageScanDesc4", "LabelUI", "Only dispay the deleted items", -1},
       {"BtnPrint", "ButtonUI", "Print", -1},
       {"LblFilterCount", "LabelUI", "Files Filtered: 0 item(s)", 0},
       {"BtnBackAppDir", "ButtonUI", nullptr, 0},
       {"DataList", "ListUI", nullptr, -1},
       {"CheckAll", "ListHeaderItemUI", nullptr, -1},
       {"Col1", "ListHeaderItemUI", nullptr, -1},
       {"Col6", "ListHeaderItemUI", nullptr, -1},
       {"SwitchLayout", "HorizontalLayoutUI", nullptr, -1},
       {"OptOnOffPreview", "OptionUI", nullptr, -1},
       {"PreviewLayout", "VerticalLayoutUI", nullptr, 0},
       {"PreviewEdit", "RichEditUI", nullptr, -1},
       {"MessagesList", "ListUI", nullptr, -1},
       {"BtnHome", "ButtonUI", "Home", -1},
       {"LblStatistics", "LabelUI", "You select 0 MB in 0 item(s) of 0 MB in 0 item(s)", -1},
       {"BtnRecovery", "ButtonUI", "Recover", -1}},
      &w);
  EXPECT_TRUE(w.FindControl(QStringLiteral("OptStep1"))->IsSelected());
  EXPECT_FALSE(w.FindControl(QStringLiteral("OptStep2"))->IsSelected());
  EXPECT_FALSE(w.FindControl(QStringLiteral("OptStep3"))->IsEnabled());
  EXPECT_EQ(w.Find<COptionUI>(QStringLiteral("OptStep2"))->GetGroup(), QStringLiteral("grp_step"));
  EXPECT_EQ(w.Find<CTabLayoutUI>(QStringLiteral("TabPage"))->GetCurSel(), 0);
  EXPECT_TRUE(w.FindControl(QStringLiteral("ChkSelAll"))->IsSelected());
  for (const char* o : {"OptCameraRoll", "OptNotes", "SafariBookmark"})
    EXPECT_TRUE(w.FindControl(QString::fromLatin1(o))->IsSelected());
  EXPECT_EQ(w.FindControl(QStringLiteral("BackupFileList"))->GetFixedHeight(), 250);
  EXPECT_EQ(w.Find<CListHeaderItemUI>(QStringLiteral("BackupListHeader1"))->GetColumnWidth(), 220);
  EXPECT_EQ(w.Find<CListHeaderItemUI>(QStringLiteral("BackupListHeader2"))->GetColumnWidth(), 270);
  EXPECT_EQ(w.Find<CListHeaderItemUI>(QStringLiteral("CheckAll"))->GetColumnWidth(), 21);
  EXPECT_EQ(w.FindControl(QStringLiteral("OptOnOffFilter"))->GetFixedWidth(), 79);
  EXPECT_EQ(w.FindControl(QStringLiteral("OptOnOffFilter"))->GetFixedHeight(), 19);
  EXPECT_EQ(w.FindControl(QStringLiteral("PreviewLayout"))->GetFixedWidth(), 240);
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnGifLoading"))->GetFixedWidth(), 148);
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnGifLoading"))->GetFixedHeight(), 145);
  // The pages carry their virtual-window names.
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnNext1"))->GetVirtualWnd(),
            QStringLiteral("ItunesVtrWnd"));
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnNext2"))->GetVirtualWnd(),
            QStringLiteral("SpecifyFileVtrWnd"));
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnRecovery"))->GetVirtualWnd(),
            QStringLiteral("ScanVtrWnd"));
  EXPECT_EQ(w.FindControl(QStringLiteral("MessagesList"))->GetVirtualWnd(),
            QStringLiteral("PreviewVtrWnd"));
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnAssist"))->GetVirtualWnd(), QString());
  // The footer shows the version.
  bool version = false;
  for (QWidget* child : w.FindControl(QStringLiteral("FooterBar"))->findChildren<QWidget*>())
    if (auto* c = dynamic_cast<CControlUI*>(child))
      version |= c->GetText() == QStringLiteral("Version 13.8.0");
  EXPECT_TRUE(version);
}

TEST(Skins, PopUpsAndElements) {
  CheckSkin(QStringLiteral("xml\\DecryptionWnd.xml"),
            {{"Title", "LabelUI", "Tarnwick Backvault Pro", 1},
             {"closebtn", "ButtonUI", nullptr, 1},
             {"Description", "LabelUI",
              "The selected iTunes Backup File is encrypted. Please enter the password here to "
              "unlock it.",
              1},
             {"HorLayout", "HorizontalLayoutUI", nullptr, 1},
             {"LblPassword", "LabelUI", "Password:", 1},
             {"BtnRestoreLink", "ButtonUI", nullptr, -1},
             {"BtnOK", "ButtonUI", "OK", 1},
             {"BtnCancel", "ButtonUI", "Cancel", 1}});
  for (const char* f : {"xml\\MessageBox_Confirm.xml", "xml\\MessageBox_Question.xml"})
    CheckSkin(QString::fromLatin1(f), {{"title", "LabelUI", "Message Box", 1},
                                       {"closebtn", "ButtonUI", nullptr, 1},
                                       {"message", "LabelUI", nullptr, 1},
                                       {"okbtn", "ButtonUI", "OK", 1},
                                       {"cancelbtn", "ButtonUI", "Cancel", 1}});
  for (const char* f : {"xml\\MessageBox_Error.xml", "xml\\MessageBox_Information.xml"}) {
    CheckSkin(QString::fromLatin1(f), {{"title", "LabelUI", "Message Box", 1},
                                       {"closebtn", "ButtonUI", nullptr, 1},
                                       {"message", "LabelUI", nullptr, 1},
                                       {"okbtn", "ButtonUI", "OK", 1}});
    SkinWnd w(QString::fromLatin1(f));
    w.Create();
    EXPECT_EQ(w.FindControl(QStringLiteral("cancelbtn")), nullptr);
    EXPECT_EQ(w.GetMinInfo(), QSize(430, 170));
    EXPECT_EQ(w.GetCaptionRect().bottom(), 36);
  }
  CheckSkin(QStringLiteral("xml\\MessageBox_Warning.xml"),
            {{"title", "LabelUI", "Message Box", 1},
             {"closebtn", "ButtonUI", nullptr, 1},
             {"message", "LabelUI", nullptr, 1},
             {"okbtn", "ButtonUI", "OK", 1},
             {"cancelbtn", "ButtonUI", "Cancel", 0}});
  CheckSkin(QStringLiteral("xml\\PreviewProcessWnd.xml"),
            {{"Title", "LabelUI", "Tarnwick Backvault Pro", 1},
             {"closebtn", "ButtonUI", nullptr, 1},
             {"Progress", "ProgressUI", nullptr, 1},
             {"LblPercent", "LabelUI", "Current progress: 0%", 1},
             {"LblFileName", "LabelUI", nullptr, 1},
             {"BtnCancel", "ButtonUI", "Cancel", 1}});
  CheckSkin(QStringLiteral("xml\\RecoverProcessWnd.xml"),
            {{"Title", "LabelUI", "Extracting data", 1},
             {"closebtn", "ButtonUI", nullptr, 1},
             {"current", "LabelUI", "filename", 1},
             {"recovered", "LabelUI", "0/0 file(s) recovered", 1},
             {"percent", "LabelUI", "Current progress: 0%", 1},
             {"Progress", "ProgressUI", nullptr, 1},
             {"DetailList", "ListUI", nullptr, 0},
             {"File", "ListHeaderItemUI", "File", -1},
             {"Status", "ListHeaderItemUI", "Status", -1},
             {"OpenBtn", "ButtonUI", "Open Folder", 1},
             {"FinishBtn", "ButtonUI", "Finished", 0},
             {"CancelBtn", "ButtonUI", "Cancel", 1},
             {"DetailBtn", "ButtonUI", "Detail", 1}});
  {
    SkinWnd w(QStringLiteral("xml\\RecoverProcessWnd.xml"));
    w.Create();
    EXPECT_EQ(w.GetMinInfo(), QSize(550, 250));
    EXPECT_EQ(w.Find<CListHeaderItemUI>(QStringLiteral("File"))->GetColumnWidth(), 410);
    EXPECT_EQ(w.Find<CProgressUI>(QStringLiteral("Progress"))->GetMaxValue(), 100);
  }
  {
    SkinWnd w(QStringLiteral("xml\\PrintWnd.xml"));
    ASSERT_TRUE(w.Create());
    CheckSkin(QString(),
              {{"Title", "LabelUI", "Backvault for iOS (print & preview)", 1},
               {"closebtn", "ButtonUI", nullptr, 1},
               {"PrintTabPage", "TabLayoutUI", nullptr, 1},
               {"BtnGifPrintLoading", "ButtonGifUI", nullptr, -1},
               {"WebPagePrint", "WebBrowserUI", nullptr, -1}},
              &w);
    EXPECT_EQ(w.Find<CTabLayoutUI>(QStringLiteral("PrintTabPage"))->GetCurSel(), 0);
    EXPECT_EQ(w.Find<CWebBrowserUI>(QStringLiteral("WebPagePrint"))->GetUrl(),
              QStringLiteral("about:blank"));
    auto* gif = w.Find<CButtonGifUI>(QStringLiteral("BtnGifPrintLoading"));
    ASSERT_TRUE(gif->LoadGif(QStringLiteral("print_loading.gif")));
    EXPECT_GT(gif->FrameCount(), 1);
    gif->PlayGif();
    EXPECT_TRUE(gif->IsPlaying());
    gif->StopGif();
    EXPECT_FALSE(gif->IsPlaying());
  }
  CheckSkin(QStringLiteral("xml\\ContactInfo.xml"),
            {{"TxtUserName", "LabelUI", nullptr, 1},
             {"LblPhoneDesc", "LabelUI", "Mobile Phone: ", 1},
             {"TxtPhone", "LabelUI", nullptr, 1},
             {"LblEmailDesc", "LabelUI", "Email: ", 1},
             {"TxtEmail", "LabelUI", nullptr, 1},
             {"LblAddressDesc", "LabelUI", "Address: ", 1},
             {"TxtAddress", "LabelUI", nullptr, 1},
             {"LblUrlDesc", "LabelUI", "Url: ", 1},
             {"TxtUrl", "LabelUI", nullptr, 1},
             {"LblSocialDesc", "LabelUI", "Social: ", 1},
             {"TxtSocial", "LabelUI", nullptr, 1},
             {"LblCompanyDesc", "LabelUI", "Company: ", 1},
             {"TxtCompany", "LabelUI", nullptr, 1},
             {"LblContactSeparator", "LabelUI",
              "---------------------- Contact ----------------------", 1}});
  for (const char* f : {"xml\\MessagesElementSend.xml", "xml\\MessagesElementRecv.xml"}) {
    SkinWnd w(QString::fromLatin1(f));
    ASSERT_TRUE(w.Create());
    auto* bubble = w.Find<CLabelExUI>(QStringLiteral("LblMsgBubble"));
    ASSERT_NE(bubble, nullptr) << f;
    const bool sent = QString::fromLatin1(f).contains(QStringLiteral("Send"));
    EXPECT_EQ(
        bubble->GetBkImage(),
        sent ? QStringLiteral("file='Controls.png' source='2,312,59,364' corner='13,13,20,20'")
             : QStringLiteral("file='Controls.png' source='62,312,119,364' corner='13,13,20,20'"));
    EXPECT_EQ(bubble->GetTextColor(), sent ? QColor(Qt::white) : QColor(0x40, 0x40, 0x40));
    EXPECT_EQ(w.FindControl(QStringLiteral("LblMsgHeader"))->GetFontId(), 2);
  }
}

TEST(Skins, AssistMenu) {
  SkinWnd owner(QStringLiteral("xml\\skin.xml"));
  owner.Create();
  CMenuWnd menu;
  ASSERT_TRUE(
      menu.Init(&owner, QStringLiteral("menu_assist.xml").prepend(QStringLiteral("xml\\"))));
  EXPECT_EQ(menu.GetName(), QStringLiteral("menu_assist"));
  const std::pair<const char*, const char*> items[] = {
      {"item_help", "Help"},   {"item_language", "Language"}, {"item_faq", "FAQ"},
      {"item_about", "About"}, {"item_support", "Support"},   {"item_exit", "Exit"}};
  for (const auto& [name, text] : items) {
    const QString t = menu.GetElementText(QString::fromLatin1(name));
    EXPECT_EQ(t.size(), 22) << name;
    EXPECT_EQ(t.trimmed(), QString::fromLatin1(text));
  }
  EXPECT_FALSE(menu.IsElementVisible(QStringLiteral("item_language")));
  EXPECT_TRUE(menu.IsElementVisible(QStringLiteral("item_exit")));
}

TEST(Skins, MissingSkinLeavesWindowWithoutControls) {
  SkinWnd w(QStringLiteral("xml\\NotInTheArchive.xml"));
  EXPECT_FALSE(w.Create());
  EXPECT_EQ(w.FindControl(QStringLiteral("closebtn")), nullptr);
}

// ---- relabelling --------------------------------------------------------------

TEST(Relabel, AppliesSectionKeepsDisabledControlsDisabled) {
  QTemporaryDir tmp;
  const std::filesystem::path root(tmp.path().toStdString());
  std::filesystem::create_directories(root / "Languages");
  std::ofstream(root / "config.ini") << "[DefaultLanguage]\nDefault=Test\n";
  std::ofstream(root / "Languages" / "Test.ini")
      << "[PageSpecifyFile]\nBtnNext2=Continue\nOptNotes=Notizen\nGhost=nobody\n[PageItunesBackup]"
         "\nBackupListHeader2=Zuletzt\n";
  lang::CLanguageStore store(root.string());
  SkinWnd w(QStringLiteral("xml\\skin.xml"));
  ASSERT_TRUE(w.Create());
  w.FindControl(QStringLiteral("BtnNext2"))->SetEnabled(false);
  store.apply(&w, "PageSpecifyFile");
  store.apply(&w, "PageItunesBackup");
  EXPECT_EQ(w.FindControl(QStringLiteral("BtnNext2"))->GetText(), QStringLiteral("Continue"));
  EXPECT_FALSE(w.FindControl(QStringLiteral("BtnNext2"))->IsEnabled());
  EXPECT_EQ(w.FindControl(QStringLiteral("OptNotes"))->GetText(), QStringLiteral("Notizen"));
  EXPECT_EQ(w.FindControl(QStringLiteral("BackupListHeader2"))->GetText(),
            QStringLiteral("Zuletzt"));
  // A text the table does not replace stays as the skin has it, typing errors included.
  EXPECT_EQ(w.FindControl(QStringLiteral("PageScanDesc4"))->GetText(),
            QStringLiteral("Only dispay the deleted items"));
}

// ---- pop-ups ----------------------------------------------------------------------

QString TextOf(CSkinWindow* w, const char* name) {
  CControlUI* c = w->FindControl(QString::fromLatin1(name));
  return c ? c->GetText() : QStringLiteral("<missing>");
}

TEST(MessageBox, KindsTitlesAndAnswers) {
  QWidget owner;
  owner.resize(800, 600);
  owner.show();
  struct Case {
    int kind;
    const char* skinTitle;
    bool hasCancel;
  };
  // English titles of MSG0401..0405 by kind; 9 behaves as error.
  const Case cases[] = {{0, "Error", false},   {1, "Confirm", true},  {2, "Information", false},
                        {3, "Warning", false}, {4, "Question", true}, {9, "Error", false}};
  for (const Case& c : cases) {
    QString seenTitle, seenMessage, seenSkin;
    bool cancelVisible = false;
    QSize size;
    WhenModal([&](CSkinWindow* w) {
      seenTitle = TextOf(w, "title");
      seenMessage = TextOf(w, "message");
      seenSkin = w->GetSkinFile();
      CControlUI* cancel = w->FindControl(QStringLiteral("cancelbtn"));
      cancelVisible = cancel && cancel->IsVisible();
      size = w->size();
      ClickControl(w->FindControl(QStringLiteral("okbtn")));
    });
    EXPECT_EQ(show_message(c.kind, &owner, "Something happened."), 1) << c.kind;
    EXPECT_EQ(seenTitle, QString::fromLatin1(c.skinTitle)) << c.kind;
    EXPECT_EQ(seenMessage, QStringLiteral("Something happened."));
    EXPECT_EQ(cancelVisible, c.hasCancel) << c.kind;
    EXPECT_EQ(size, QSize(550, 200));
    if (c.kind == 9) {
      EXPECT_EQ(seenSkin, QStringLiteral("xml\\MessageBox_Error.xml"));
    }
  }
  // A given title wins; the close button and the cancel button answer 2.
  QString title;
  WhenModal([&](CSkinWindow* w) {
    title = TextOf(w, "title");
    ClickControl(w->FindControl(QStringLiteral("closebtn")));
  });
  EXPECT_EQ(show_message(kMsgQuestion, &owner, "Stop?", std::string("Question"), 350, 180), 2);
  EXPECT_EQ(title, QStringLiteral("Question"));
  bool shown = false;
  WhenModal([&](CSkinWindow* w) {
    CControlUI* cancel = w->FindControl(QStringLiteral("cancelbtn"));
    shown = cancel && cancel->IsVisible();
    ClickControl(cancel);
  });
  EXPECT_EQ(show_message(kMsgWarning, &owner, "Quit?", std::nullopt, 550, 200, true), 2);
  EXPECT_TRUE(shown);
  // Escape closes like the close button.
  WhenModal([&](CSkinWindow* w) { QTest::keyClick(w, Qt::Key_Escape); });
  EXPECT_EQ(show_message(kMsgError, &owner, "x"), 2);
}

TEST(MessageBox, ResponderSeamAnswersWithoutWindow) {
  std::vector<MessageBoxRequest> seen;
  SetMessageBoxResponder([&](const MessageBoxRequest& r) {
    seen.push_back(r);
    return 1;
  });
  EXPECT_EQ(show_message(42, nullptr, "text"), 1);
  SetMessageBoxResponder(nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, kMsgError);
  EXPECT_EQ(seen[0].title, "Error");
  EXPECT_EQ(seen[0].width, 550);
}

TEST(PasswordDialog, CreatesEditAndReturnsPassword) {
  QWidget owner;
  owner.resize(800, 600);
  owner.show();
  bool editChecked = false;
  WhenModal([&](CSkinWindow* w) {
    auto* edit = w->Find<CEditUI>(QStringLiteral("EditPassword"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->GetParentContainer(), w->FindControl(QStringLiteral("HorLayout")));
    EXPECT_EQ(edit->LineEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit->LineEdit()->maxLength(), 256);
    EXPECT_EQ(edit->GetFixedWidth(), 350);
    EXPECT_EQ(edit->GetFixedHeight(), 35);
    EXPECT_EQ(edit->GetPadding(), QMargins(5, 5, 20, 0));
    EXPECT_EQ(w->size(), QSize(550, 270));
    EXPECT_EQ(w->GetWindowClassName(), QStringLiteral("UIDecryptionWnd"));
    editChecked = true;
    QTest::keyClicks(edit->LineEdit(), QStringLiteral("s3cr"));
    edit->LineEdit()->insert(
        QStringLiteral("\u00e9t"));  // typed keys are ASCII only in the test tool
    ClickControl(w->FindControl(QStringLiteral("BtnRestoreLink")));  // does nothing
    EXPECT_TRUE(w->IsModalRunning());
    ClickControl(w->FindControl(QStringLiteral("BtnOK")));
  });
  PasswordAnswer a = ask_password(&owner);
  EXPECT_TRUE(editChecked);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.password, "s3cr\u00e9t");

  for (const char* how : {"BtnCancel", "closebtn", "cancelbtn-missing"}) {
    WhenModal([&](CSkinWindow* w) {
      CControlUI* c = w->FindControl(QString::fromLatin1(how));
      if (c) {
        auto* edit = w->Find<CEditUI>(QStringLiteral("EditPassword"));
        edit->SetText(QStringLiteral("typed"));
        ClickControl(c);
      } else {
        w->close();
      }
    });
    a = ask_password(&owner);
    EXPECT_EQ(a.result, 2) << how;
    EXPECT_TRUE(a.password.empty()) << how;
  }
}

TEST(PasswordDialog, EmptyOkIsAnAnswerToo) {
  WhenModal([&](CSkinWindow* w) { ClickControl(w->FindControl(QStringLiteral("BtnOK"))); });
  PasswordAnswer a = ask_password(nullptr);
  EXPECT_EQ(a.result, 1);
  EXPECT_TRUE(a.password.empty());
}

TEST(FolderPicker, ResponderSeam) {
  SetFolderPickerResponder([](const std::string& prompt) -> std::optional<std::string> {
    if (prompt.empty()) return std::nullopt;
    return "/tmp/out";
  });
  EXPECT_EQ(PickFolder(nullptr, "Choose"), std::optional<std::string>("/tmp/out"));
  EXPECT_EQ(PickFolder(nullptr, ""), std::nullopt);
  SetFolderPickerResponder(nullptr);
}

}  // namespace
