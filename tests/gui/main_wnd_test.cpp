// The main window and the first two wizard steps, driven through real clicks on the real
// window over backups written by mkbackup: the backup list, browsing to a folder, the
// categories, the password loop up to the scan, the assist menu and the language switch,
// the caption, the keys and the clean-up at exit.
#include <signal.h>

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QScreen>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/itunes_backup_page.h"
#include "app/qt_text.h"
#include "app/recovery_settings.h"
#include "app/scan_page.h"
#include "app/shutdown.h"
#include "app/specify_file_page.h"
#include "app/window_messages.h"
#include "common/result_codes.h"
#include "catalogue/discovery.h"
#include "common/version.h"
#include "platform/platform.h"
#include "scan/data_source_factory.h"
#include "fake_source.h"
#include "main_wnd_support.h"
#include "ui/ui_custom.h"

using namespace bv;
using namespace bv::testing;

namespace {

std::string W(const fs::path& p) {
  return platform::Utf8FromPath(p);
}

// The scan that the last start-scan message began has ended, its messages handled.
bool ScanFinished(CMainWnd& w) {
  auto* tab = w.Find<ui::CTabLayoutUI>(QStringLiteral("TabPage"));
  const bool ended =
      WaitFor([&] { return tab->GetCurSel() == 2 && !w.ScanPage().Session().IsScanning(); });
  QTest::qWait(50);
  return ended;
}

TEST_F(MainWndTest, BackupListShowsNewestFirstAndTakesThePickedOneToTheCategories) {
  CMainWnd& w = MakeWindow();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnwick Backvault Pro"));
  EXPECT_EQ(w.GetWindowClassName(), QStringLiteral("FileRecoveryWnd"));
  EXPECT_EQ(w.size(), QSize(1000, 665));
  EXPECT_EQ(w.minimumSize(), QSize(1000, 665));
  auto* list = ControlAs<ui::CListUI>("BackupFileList");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->GetRowCount(), 3);
  const QString names[] = {QStringLiteral("Anna's iPhone"), QStringLiteral("Locked iPhone"),
                           QStringLiteral("Old iPhone")};
  const QString dates[] = {QStringLiteral("2021-03-04 05:06:07"),
                           QStringLiteral("2020-08-09 12:00:00"),
                           QStringLiteral("2017-06-18 21:40:00")};
  const char* icons[] = {kPlainBackupIcon, kEncryptedBackupIcon, kPlainBackupIcon};
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(list->GetRowText(row, 0), names[row]);
    EXPECT_EQ(list->GetRowText(row, 1), dates[row]);
    EXPECT_FALSE(list->GetRowText(row, 2).isEmpty());
    EXPECT_EQ(list->GetRowIcon(row), QString::fromLatin1(icons[row])) << row;
    const auto* record = reinterpret_cast<const BackupRecord*>(list->GetRowData(row));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ToQ(record->displayName), names[row]);
  }
  EXPECT_EQ(list->View()->verticalHeader()->defaultSectionSize(), 40);
  EXPECT_EQ(list->GetCurSel(), 0);
  EXPECT_EQ(CurrentTab(), 0);

  ClickRow(list, 2);
  EXPECT_EQ(list->GetCurSel(), 2);
  Click("BtnNext1");
  EXPECT_EQ(CurrentTab(), 1);
  EXPECT_TRUE(Control("OptStep2")->IsSelected());
  EXPECT_FALSE(Control("OptStep1")->IsSelected());
  const BackupRecord& chosen = w.ScanPage().ChosenBackup();
  EXPECT_EQ(chosen.folder, W(Backups().oldest));
  EXPECT_EQ(chosen.displayName, "Old iPhone");
  EXPECT_FALSE(chosen.encrypted);
  // The step options go back and forth between the pages.
  Click("OptStep1");
  EXPECT_EQ(CurrentTab(), 0);
  Click("OptStep2");
  EXPECT_EQ(CurrentTab(), 1);
  // Step 3 stays out of reach until a scan starts.
  EXPECT_FALSE(Control("OptStep3")->IsEnabled());
}

TEST_F(MainWndTest, EmptyBackupRootShowsNothingAndBrowsingStillWorks) {
  test::TempDir empty;
  UseDataFolder(empty.path());
  MakeWindow();
  auto* list = ControlAs<ui::CListUI>("BackupFileList");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetRowCount(), 0);
  Click("BtnNext1");
  EXPECT_EQ(CurrentTab(), 0);

  folderAnswers.push_back(W(Backups().elsewhere));
  Click("BtnSelDir");
  ASSERT_EQ(log.folderPrompts.size(), 1u);
  EXPECT_EQ(log.folderPrompts[0],
            "Select the iTunes Backup File from other folder to recover your data.");
  EXPECT_EQ(CurrentTab(), 1);
  const BackupRecord& chosen = wnd->ScanPage().ChosenBackup();
  EXPECT_EQ(chosen.folder, W(Backups().elsewhere));
  EXPECT_EQ(ToQ(chosen.displayName), QString::fromUtf8("\xE5\xB0\x8F\xE6\x98\x8E's iPhone"));
  EXPECT_FALSE(chosen.encrypted);
  // Browsing adds no row.
  EXPECT_EQ(list->GetRowCount(), 0);
  // The folder's name in another script is no obstacle to the scan.
  Click("BtnNext2");
  ASSERT_TRUE(ScanFinished(*wnd));
  EXPECT_EQ(wnd->ScanPage().Session().OpenResult(), kSuccess);
  EXPECT_GT(wnd->ScanPage().Session().CategoryCount(Category::Contacts), 0);
}

TEST_F(MainWndTest, BrowsingToAFolderWithoutABackupAsksAgainUntilTheUserStops) {
  MakeWindow();
  const BackupRecord before = wnd->ScanPage().ChosenBackup();
  // Not a backup, and the question closed: browsing ends.
  folderAnswers.push_back(W(Backups().notABackup));
  messageAnswers.push_back(2);
  Click("BtnSelDir");
  ASSERT_EQ(log.messages.size(), 1u);
  const MessageBoxRequest& q = log.messages[0];
  EXPECT_EQ(q.kind, kMsgQuestion);
  EXPECT_EQ(q.title, "Question");
  EXPECT_EQ(q.text, "Can not found the backup file, do you want to try again?");
  EXPECT_EQ(q.width, 550);
  EXPECT_EQ(q.height, 200);
  EXPECT_EQ(log.folderPrompts.size(), 1u);
  EXPECT_EQ(CurrentTab(), 0);
  EXPECT_EQ(wnd->ScanPage().ChosenBackup().folder, before.folder);

  // OK asks for a folder again; cancelling the picker then ends it.
  folderAnswers.push_back(W(Backups().notABackup));
  messageAnswers.push_back(1);
  folderAnswers.push_back(std::nullopt);
  Click("BtnSelDir");
  EXPECT_EQ(log.folderPrompts.size(), 3u);
  EXPECT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(CurrentTab(), 0);

  // OK, then a real backup: on to the categories with that backup.
  folderAnswers.push_back(W(Backups().notABackup));
  messageAnswers.push_back(1);
  folderAnswers.push_back(W(Backups().newest));
  Click("BtnSelDir");
  EXPECT_EQ(CurrentTab(), 1);
  EXPECT_EQ(wnd->ScanPage().ChosenBackup().folder, W(Backups().newest));
}

TEST_F(MainWndTest, SelectAllFollowsTheCategoriesAndGuardsNext) {
  CMainWnd& w = MakeWindow();
  Click("BtnNext1");
  auto* all = ControlAs<ui::CCheckBoxUI>("ChkSelAll");
  ui::CControlUI* next = Control("BtnNext2");
  ASSERT_TRUE(all && next);
  EXPECT_EQ(all->CheckState(), Qt::Checked);
  EXPECT_TRUE(next->IsEnabled());

  // One unticked: half-checked, Next stays.
  Click("OptNotes");
  EXPECT_EQ(all->CheckState(), Qt::PartiallyChecked);
  EXPECT_TRUE(next->IsEnabled());
  CategorySet expect = AllCategories();
  expect[static_cast<int>(Category::Notes)] = false;
  EXPECT_EQ(w.CategoryPage().ChosenCategories(), expect);

  // Every one unticked by hand: cleared, Next off.
  for (const char* name : kCategoryOptionNames)
    if (Control(name)->IsSelected()) Click(name);
  EXPECT_EQ(all->CheckState(), Qt::Unchecked);
  EXPECT_FALSE(next->IsEnabled());
  EXPECT_EQ(w.CategoryPage().ChosenCategories(), CategorySet{});

  // Every one ticked by hand: fully checked, not half.
  for (const char* name : kCategoryOptionNames) Click(name);
  EXPECT_EQ(all->CheckState(), Qt::Checked);
  EXPECT_TRUE(next->IsEnabled());

  // The box itself: off takes every option off, on puts every one back.
  Click("ChkSelAll");
  EXPECT_EQ(all->CheckState(), Qt::Unchecked);
  EXPECT_FALSE(next->IsEnabled());
  for (const char* name : kCategoryOptionNames) EXPECT_FALSE(Control(name)->IsSelected()) << name;
  Click("OptMessages");
  EXPECT_EQ(all->CheckState(), Qt::PartiallyChecked);
  EXPECT_TRUE(next->IsEnabled());
  // A click on the half-checked box turns it off, as on a checked one.
  Click("ChkSelAll");
  EXPECT_EQ(all->CheckState(), Qt::Unchecked);
  Click("ChkSelAll");
  EXPECT_EQ(all->CheckState(), Qt::Checked);
  EXPECT_TRUE(next->IsEnabled());
  EXPECT_EQ(w.CategoryPage().ChosenCategories(), AllCategories());
}

// The whole password loop of an encrypted backup: an empty password confirmed by closing
// the warning goes on and is refused; "MSG0302" and the dialog again; a wrong password,
// the same; the right one opens the backup and scans it.
TEST_F(MainWndTest, EncryptedBackupAsksUntilThePasswordOpensIt) {
  CMainWnd& w = MakeWindow();
  ClickRow(ControlAs<ui::CListUI>("BackupFileList"), 1);
  Click("BtnNext1");
  ASSERT_TRUE(w.ScanPage().ChosenBackup().encrypted);
  // Only a few categories, as the user chose them.
  Click("ChkSelAll");
  Click("OptContacts");
  Click("OptNotes");

  bool disabledWhileAsking = true;
  onPasswordPrompt = [&] {
    disabledWhileAsking = disabledWhileAsking && !Control("BtnNext2")->IsEnabled() &&
                          !Control("MainTabPage")->IsEnabled();
  };
  passwordAnswers = {{1, ""}, {1, "wrong guess"}, {1, ToUtf8(SharedBackups::kPassword)}};
  messageAnswers = {2 /* warning closed */, 1 /* MSG0302 */, 1 /* MSG0302 */};
  Click("BtnNext2");
  ASSERT_TRUE(WaitFor([&] { return passwordAnswers.empty(); }));
  ASSERT_TRUE(WaitFor([&] {
    const CScanSession& s = w.ScanPage().Session();
    return !s.IsScanning() && s.OpenResult() == kSuccess && !s.WrongPassword();
  }));
  QTest::qWait(50);  // the scan's last messages

  EXPECT_EQ(log.passwordPrompts, 3);
  EXPECT_TRUE(disabledWhileAsking);
  ASSERT_EQ(log.messages.size(), 3u);
  EXPECT_EQ(log.messages[0].kind, kMsgWarning);
  EXPECT_EQ(log.messages[0].title, "Warning");
  EXPECT_EQ(log.messages[0].text, w.MessageText("MSG0301"));
  EXPECT_FALSE(log.messages[0].text.empty());
  EXPECT_EQ(log.messages[0].width, 550);
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(log.messages[i].kind, kMsgInformation);
    EXPECT_EQ(log.messages[i].text, w.MessageText("MSG0302"));
    EXPECT_EQ(log.messages[i].title, w.MessageText("MSG0403"));
  }
  EXPECT_EQ(w.ScanPage().Password(), ToUtf8(SharedBackups::kPassword));
  // The scan page is shown, and the wizard is usable again.
  EXPECT_EQ(CurrentTab(), 2);
  EXPECT_TRUE(Control("OptStep3")->IsSelected());
  EXPECT_TRUE(Control("OptStep3")->IsEnabled());
  EXPECT_TRUE(Control("BtnNext2")->IsEnabled());
  EXPECT_TRUE(Control("MainTabPage")->IsEnabled());
  // The scan read what was chosen and nothing else.
  const CScanSession& s = w.ScanPage().Session();
  EXPECT_EQ(s.LastResult(), kSuccess);
  EXPECT_GT(s.CategoryCount(Category::Contacts), 0);
  EXPECT_GT(s.CategoryCount(Category::Notes), 0);
  EXPECT_EQ(s.CategoryCount(Category::Messages), 0);
}

TEST_F(MainWndTest, CancellingThePasswordGoesBackToTheCategories) {
  CMainWnd& w = MakeWindow();
  ClickRow(ControlAs<ui::CListUI>("BackupFileList"), 1);
  Click("BtnNext1");
  // Cancelled at once: nothing starts.
  passwordAnswers = {{2, ""}};
  Click("BtnNext2");
  EXPECT_EQ(CurrentTab(), 1);
  EXPECT_TRUE(Control("BtnNext2")->IsEnabled());
  EXPECT_TRUE(Control("MainTabPage")->IsEnabled());
  EXPECT_FALSE(w.ScanPage().Session().IsScanning());
  EXPECT_FALSE(Control("OptStep3")->IsEnabled());

  // A wrong password, then the dialog cancelled: back on the categories, ready again.
  passwordAnswers = {{1, "nope"}, {2, ""}};
  messageAnswers = {1};
  Click("BtnNext2");
  ASSERT_TRUE(WaitFor([&] { return passwordAnswers.empty(); }));
  ASSERT_TRUE(WaitFor([&] { return CurrentTab() == 1; }));
  EXPECT_TRUE(w.ScanPage().Session().WrongPassword());
  EXPECT_TRUE(Control("BtnNext2")->IsEnabled());
  EXPECT_TRUE(Control("MainTabPage")->IsEnabled());
}

TEST_F(MainWndTest, PlainBackupScansWithoutAPasswordAndAnEndedScanFreesTheWizard) {
  CMainWnd& w = MakeWindow();
  Click("BtnNext1");  // the newest, a plain backup
  Click("ChkSelAll");
  Click("OptCallHistory");
  Click("BtnNext2");
  EXPECT_EQ(log.passwordPrompts, 0);
  EXPECT_EQ(CurrentTab(), 2);
  ASSERT_TRUE(ScanFinished(w));
  const CScanSession& s = w.ScanPage().Session();
  EXPECT_EQ(s.OpenResult(), kSuccess);
  EXPECT_GT(s.CategoryCount(Category::CallHistory), 0);
  EXPECT_EQ(s.Chosen(), w.CategoryPage().ChosenCategories());
  EXPECT_TRUE(Control("BtnNext2")->IsEnabled());

  // However a scan ends, the wizard is usable again, even when the source never said
  // it was open (a backup that could not be decrypted); a warning the worker sends is
  // shown by its message identifier.
  Control("BtnNext2")->SetEnabled(false);
  w.EnableTabPage(false);
  messageAnswers = {1};
  std::thread worker([&w] {
    msg::Post(&w, msg::kScanWarning, 0, 0, QStringLiteral("MSG0512"));
    msg::Post(&w, msg::kScanEnded, kStopped);
  });
  worker.join();
  ASSERT_TRUE(WaitFor([&] { return Control("BtnNext2")->IsEnabled(); }, 5000));
  EXPECT_TRUE(Control("MainTabPage")->IsEnabled());
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].kind, kMsgWarning);
  EXPECT_EQ(log.messages[0].text, w.MessageText("MSG0512"));
}

// While a scan runs (here one over a scripted source that waits once it is open), the
// wizard is usable, and Next on the categories shows the running scan instead of asking
// for a password and starting another.
TEST_F(MainWndTest, NextDuringAScanShowsTheRunningScan) {
  CMainWnd& w = MakeWindow();
  ClickRow(ControlAs<ui::CListUI>("BackupFileList"), 1);  // encrypted
  Click("BtnNext1");
  std::atomic<bool> release{false};
  test::FakeScript script;
  script.reports["OpenBackup"] = {1, 5};
  script.onReport = [&](const std::string&, std::int32_t value, std::int32_t) {
    while (value == 5 && !release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  CScanSession& session = w.ScanPage().Session();
  ASSERT_TRUE(session.Start(std::make_unique<test::FakeSource>(script, nullptr), kLocalBackupSource,
                            AllCategories(), ""));
  const IPhoneRecoveryParse* running = session.DataSource();
  // The open state (1035 with 0) makes the wizard usable.
  Control("BtnNext2")->SetEnabled(false);
  w.EnableTabPage(false);
  ASSERT_TRUE(WaitFor([&] { return Control("BtnNext2")->IsEnabled(); }, 5000));
  EXPECT_TRUE(Control("MainTabPage")->IsEnabled());
  Click("OptStep2");
  Click("BtnNext2");
  EXPECT_EQ(log.passwordPrompts, 0);
  EXPECT_EQ(CurrentTab(), 2);
  EXPECT_TRUE(session.IsScanning());
  EXPECT_EQ(session.DataSource(), running);
  release = true;
  ASSERT_TRUE(WaitFor([&] { return !session.IsScanning(); }));
  QTest::qWait(20);
}

// Picks a language through the assist menu with the mouse: open the menu, hover its
// language entry, click the language.
void ChooseLanguage(CMainWnd& w, const QString& name,
                    const std::function<void(const char*)>& click) {
  click("BtnAssist");
  ui::CMenuWnd* menu = w.AssistMenu();
  ASSERT_NE(menu, nullptr);
  QMenu* top = menu->Menu();
  ASSERT_TRUE(WaitFor([&] { return top->isVisible(); }, 5000));
  ASSERT_TRUE(menu->IsElementVisible(QStringLiteral("item_language")));
  QAction* entry = nullptr;
  for (QAction* a : top->actions())
    if (a->objectName() == QLatin1String("item_language")) entry = a;
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry->menu(), nullptr);
  // The pointer travels onto the entry from the first one, as a hand moves it (a menu
  // takes a pointer that has hardly moved since it opened for no move at all).
  const QPoint from = top->actionGeometry(top->actions().first()).center();
  const QPoint to = top->actionGeometry(entry).center();
  for (int step = 0; step <= 8; ++step) QTest::mouseMove(top, from + (to - from) * step / 8);
  QMenu* sub = entry->menu();
  ASSERT_TRUE(WaitFor([&] { return sub->isVisible(); }, 5000));
  QAction* language = nullptr;
  for (QAction* a : sub->actions())
    if (a->objectName() == name) language = a;
  ASSERT_NE(language, nullptr);
  QTest::mouseClick(sub, Qt::LeftButton, Qt::NoModifier, sub->actionGeometry(language).center());
  ASSERT_TRUE(WaitFor([&] { return !top->isVisible(); }, 5000));
  QTest::qWait(20);  // the language-changed message
}

TEST_F(MainWndTest, LanguageSwitchRelabelsEveryPageAndIsKept) {
  CMainWnd& w = MakeWindow();
  auto click = [this](const char* name) { Click(name); };
  // The menu lists the languages and marks the one in use.
  click("BtnAssist");
  ui::CMenuWnd* menu = w.AssistMenu();
  ASSERT_NE(menu, nullptr);
  ui::CControlUI* button = Control("BtnAssist");
  // At the button's lower left corner (moved left only as far as the screen needs).
  const QPoint corner = button->mapToGlobal(button->rect().bottomLeft() + QPoint(0, 1));
  const QRect screen = w.screen()->geometry();
  EXPECT_EQ(menu->Menu()->pos().y(), corner.y());
  EXPECT_EQ(menu->Menu()->pos().x(),
            std::min(corner.x(), screen.right() + 1 - menu->Menu()->width()));
  EXPECT_EQ(menu->GetElementText(QStringLiteral("item_help")), QStringLiteral("Help"));
  QMenu* sub = nullptr;
  for (QAction* a : menu->Menu()->actions())
    if (a->objectName() == QLatin1String("item_language")) sub = a->menu();
  ASSERT_NE(sub, nullptr);
  ASSERT_EQ(sub->actions().size(), 2);
  EXPECT_EQ(sub->actions()[0]->objectName(), QStringLiteral("English"));
  EXPECT_FALSE(sub->actions()[0]->icon().isNull());
  EXPECT_TRUE(sub->actions()[1]->icon().isNull());
  menu->Menu()->hide();

  // A disabled control keeps its state through the relabelling.
  ASSERT_FALSE(Control("OptStep3")->IsEnabled());
  ChooseLanguage(w, QStringLiteral("Deutsch"), click);
  EXPECT_EQ(store->language_name(), "Deutsch");
  const std::pair<const char*, const char*> german[] = {
      {"OptStep1", "1. Sicherung wählen"},  // main window
      {"OptStep3", "3. Suchen und wiederherstellen"},
      {"BtnNext1", "Weiter"},  // backup list
      {"BackupListHeader2", "Letzte Sicherung"},
      {"ChkSelAll", "alle wählen"},  // categories
      {"OptCameraRoll", "Aufnahmen"},
      {"LblGroupMedia", "Fotos & Videos"},
      {"BtnHome", "Start"},  // scan page
  };
  for (const auto& [name, text] : german)
    EXPECT_EQ(Control(name)->GetText(), QString::fromUtf8(text)) << name;
  EXPECT_FALSE(Control("OptStep3")->IsEnabled());
  EXPECT_EQ(Control("LblVersion")->GetText(),
            QStringLiteral("Version ") + QString::fromLatin1(kVersion));
  // The scan header's percentage is not the preview window's text of the same name.
  EXPECT_EQ(Control("LblPercent")->GetText(), QStringLiteral("0%"));
  // The choice is written to config.ini and read back by a new store.
  EXPECT_EQ(lang::CLanguageStore(platform::Utf8FromPath(langDir.path())).language_name(),
            "Deutsch");
  const std::string config = test::ReadFile(langDir / "config.ini");
  EXPECT_NE(config.find("Deutsch=Deutsch"), std::string::npos);  // the list is untouched
  // The menu now speaks the language too.
  click("BtnAssist");
  EXPECT_EQ(w.AssistMenu()->GetElementText(QStringLiteral("item_help")), QStringLiteral("Hilfe"));
  w.AssistMenu()->Menu()->hide();

  ChooseLanguage(w, QStringLiteral("English"), click);
  EXPECT_EQ(Control("OptStep1")->GetText(), QStringLiteral("1. Select Backup File"));
  EXPECT_EQ(Control("ChkSelAll")->GetText(), QStringLiteral("select all"));
  EXPECT_EQ(Control("BtnHome")->GetText(), QStringLiteral("Home"));
}

TEST_F(MainWndTest, AssistMenuOpensConfiguredPagesOnlyAndExits) {
  // The program's own settings point at the help pages beside it, and they are there.
  const std::string shipped = platform::Utf8FromPath(platform::ExecutableFolder() / "config.ini");
  for (int message : {msg::kHelp, msg::kFaq, msg::kAbout, msg::kSupport}) {
    const QUrl page = ConfiguredPage(shipped, message);
    EXPECT_TRUE(page.isLocalFile()) << message;
    EXPECT_TRUE(fs::is_regular_file(page.toLocalFile().toStdString())) << message;
  }
  test::WriteFile(langDir / "config.ini",
                  "[DefaultLanguage]\r\nDefault=English\r\n[Languages]\r\nEnglish=English\r\n"
                  "[Links]\r\nHelp=https://example.org/backvault/help\r\nFAQ=help/faq.html\r\n"
                  "About=javascript:alert(1)\r\n");
  store = std::make_unique<lang::CLanguageStore>(platform::Utf8FromPath(langDir.path()));
  lang::CLanguageStore::SetInstance(store.get());
  std::vector<QUrl> opened;
  SetUrlOpener([&](const QUrl& u) { opened.push_back(u); });
  CMainWnd& w = MakeWindow();
  auto trigger = [&](const char* item) {
    Click("BtnAssist");
    QMenu* top = w.AssistMenu()->Menu();
    ASSERT_TRUE(WaitFor([&] { return top->isVisible(); }, 5000));
    for (QAction* a : top->actions())
      if (a->objectName() == QLatin1String(item))
        QTest::mouseClick(top, Qt::LeftButton, Qt::NoModifier, top->actionGeometry(a).center());
    QTest::qWait(20);
  };
  trigger("item_help");
  trigger("item_faq");
  trigger("item_about");
  trigger("item_support");
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/backvault/help")));
  EXPECT_TRUE(opened[1].isLocalFile());
  EXPECT_EQ(opened[1].toLocalFile(),
            QString::fromStdString((langDir.path() / "help" / "faq.html").string()));
  EXPECT_TRUE(w.isVisible());
  trigger("item_exit");
  EXPECT_FALSE(w.isVisible());
}

// The recovery's HEIC option is a ticked menu entry that the settings keep.
TEST_F(MainWndTest, AssistMenuTurnsTheHeicJpegOptionOnAndOff) {
  CMainWnd& w = MakeWindow();
  ASSERT_FALSE(ReadRecoverySettings(*store).heicJpeg);
  auto open = [&]() -> QAction* {
    Click("BtnAssist");
    QMenu* top = w.AssistMenu()->Menu();
    EXPECT_TRUE(WaitFor([&] { return top->isVisible(); }, 5000));
    for (QAction* a : top->actions())
      if (a->objectName() == QLatin1String("item_heic_jpeg")) return a;
    return nullptr;
  };
  auto choose = [&](QAction* a) {
    QMenu* top = w.AssistMenu()->Menu();
    QTest::mouseClick(top, Qt::LeftButton, Qt::NoModifier, top->actionGeometry(a).center());
    QTest::qWait(20);
  };
  QAction* item = open();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), QStringLiteral("Save HEIC also as JPEG"));
  EXPECT_TRUE(item->icon().isNull());
  choose(item);
  EXPECT_TRUE(ReadRecoverySettings(*store).heicJpeg);
  // A new store (the next start of the program) reads it from the file.
  EXPECT_TRUE(
      ReadRecoverySettings(lang::CLanguageStore(platform::Utf8FromPath(langDir.path()))).heicJpeg);

  item = open();
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->icon().isNull());
  choose(item);
  EXPECT_FALSE(ReadRecoverySettings(*store).heicJpeg);
  item = open();
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->icon().isNull());
  w.AssistMenu()->Menu()->hide();
}

TEST_F(MainWndTest, CaptionDragsByLabelsAndKeysNeverReachTheControls) {
  CMainWnd& w = MakeWindow();
  auto centre = [&](const char* name) {
    ui::CControlUI* c = Control(name);
    return c->mapTo(&w, c->rect().center());
  };
  using Hit = ui::CSkinWindow::Hit;
  EXPECT_EQ(w.HitTest(centre("LblProductName")), Hit::Caption);
  EXPECT_EQ(w.HitTest(QPoint(700, 60)), Hit::Caption);  // the header's background
  EXPECT_EQ(w.HitTest(centre("BtnAssist")), Hit::Client);
  EXPECT_EQ(w.HitTest(centre("closebtn")), Hit::Client);
  EXPECT_EQ(w.HitTest(centre("OptStep1")), Hit::Client);
  EXPECT_EQ(w.HitTest(QPoint(1, 300)), Hit::Left);
  EXPECT_EQ(w.HitTest(QPoint(999, 664)), Hit::BottomRight);

  // A drag on the product name moves the window; one on a caption button does not.
  const QPoint start = w.pos();
  ui::CControlUI* label = Control("LblProductName");
  QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(100, 40));
  QTest::mouseMove(label, QPoint(140, 60));
  QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(140, 60));
  EXPECT_EQ(w.pos(), start + QPoint(40, 20));
  ui::CControlUI* assist = Control("BtnAssist");
  QTest::mousePress(assist, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  QTest::mouseMove(assist, QPoint(45, 25));
  QTest::mouseRelease(assist, Qt::LeftButton, Qt::NoModifier, QPoint(45, 25));
  EXPECT_EQ(w.pos(), start + QPoint(40, 20));
  if (ui::CMenuWnd* m = w.AssistMenu()) m->Menu()->hide();

  // Return and Escape never reach the list; other keys do.
  auto* list = ControlAs<ui::CListUI>("BackupFileList");
  QWidget* view = list->View();
  int returns = 0;
  struct Counter : QObject {
    int* n;
    explicit Counter(int* count) : n(count) {}
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::KeyPress) {
        const int k = static_cast<QKeyEvent*>(e)->key();
        if (k == Qt::Key_Return || k == Qt::Key_Enter || k == Qt::Key_Escape) ++*n;
      }
      return false;
    }
  } counter(&returns);
  view->installEventFilter(&counter);
  QTest::keyClick(view, Qt::Key_Return);
  QTest::keyClick(view, Qt::Key_Enter);
  QTest::keyClick(view, Qt::Key_Escape);
  QTest::keyClick(&w, Qt::Key_Escape);
  view->removeEventFilter(&counter);
  EXPECT_EQ(returns, 0);
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(CurrentTab(), 0);
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(list->GetCurSel(), 1);

  // Maximised, the edges no longer resize and the restore button takes the place of
  // maximise.
  Click("maxbtn");
  ASSERT_TRUE(WaitFor([&] { return w.isMaximized(); }, 5000));
  EXPECT_NE(w.HitTest(QPoint(1, 300)), Hit::Left);
  EXPECT_FALSE(Control("maxbtn")->IsVisible());
  EXPECT_TRUE(Control("restorebtn")->IsVisible());
  Click("restorebtn");
  ASSERT_TRUE(WaitFor([&] { return !w.isMaximized(); }, 5000));
  EXPECT_TRUE(Control("maxbtn")->IsVisible());
}

TEST_F(MainWndTest, MessagesPostedFromAWorkerArriveOnTheWindowsThread) {
  CMainWnd& w = MakeWindow();
  ASSERT_TRUE(store->set_language("Deutsch"));
  std::thread worker([&w] { w.PostMessage(msg::kLanguageChanged); });
  worker.join();
  // Nothing happens until the window's thread runs its events.
  EXPECT_EQ(Control("BtnNext1")->GetText(), QStringLiteral("Next"));
  ASSERT_TRUE(
      WaitFor([&] { return Control("BtnNext1")->GetText() == QStringLiteral("Weiter"); }, 5000));
}

TEST_F(MainWndTest, FactoryMakesTheProgramsOwnControls) {
  CMainWnd& w = MakeWindow();
  EXPECT_EQ(Control("NodeTree")->GetClass(), QStringLiteral("FileTreeUI"));
  EXPECT_EQ(Control("BtnGifScanning")->GetClass(), QStringLiteral("ButtonGifUI"));
  for (const char* tag :
       {"Pagination", "FileTree", "DiskList", "ButtonEx", "ButtonGif", "LabelEx"}) {
    std::unique_ptr<ui::CControlUI> c(w.CreateControl(QString::fromLatin1(tag)));
    ASSERT_NE(c, nullptr) << tag;
    EXPECT_EQ(c->GetClass(), QString::fromLatin1(tag) + QStringLiteral("UI"));
  }
  EXPECT_EQ(w.CreateControl(QStringLiteral("Button")), nullptr);
  EXPECT_EQ(w.CreateControl(QStringLiteral("Whatever")), nullptr);
}

// Only what this run started is ended, and only the three temporaries go.
TEST(Shutdown, EndsOnlyOurPlayersAndRemovesThePreviewTemporaries) {
  test::TempDir work;
  for (const char* name : {"tmp.jpg", "tmp.wav", "keep.txt"}) test::WriteFile(work / name, "x");
  fs::create_directories(work / "tmp.avi");  // a folder of that name is not ours
  ASSERT_EQ(CPlayerProcesses::instance().Start({"/bin/sleep", "30"}), 0);
  const std::vector<int> players = CPlayerProcesses::instance().Pids();
  ASSERT_EQ(players.size(), 1u);
  platform::Process other;  // a process of the same name that no preview started
  ASSERT_EQ(other.Start({"/bin/sleep", "30"}), 0);

  EXPECT_EQ(ShutdownCleanup(work.path()), 2);
  EXPECT_FALSE(fs::exists(work / "tmp.jpg"));
  EXPECT_FALSE(fs::exists(work / "tmp.wav"));
  EXPECT_TRUE(fs::is_directory(work / "tmp.avi"));
  EXPECT_TRUE(fs::exists(work / "keep.txt"));
  EXPECT_EQ(::kill(players[0], 0), -1);  // ended and reaped
  EXPECT_TRUE(other.Running());
  EXPECT_EQ(CPlayerProcesses::instance().Count(), 0u);
  other.Kill();
  // Nothing there: nothing to do, no failure.
  EXPECT_EQ(ShutdownCleanup(work.path() / "missing"), 0);
}

}  // namespace
