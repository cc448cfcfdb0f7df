#include "main_wnd_support.h"

#include "app/qt_text.h"
#include "encrypt_backup.h"
#include "mkbackup.h"
#include "platform/platform.h"

namespace bv::testing {

namespace {
mkbackup::BackupOptions Small(std::uint64_t seed, const char* name, const char* date) {
  mkbackup::BackupOptions o;
  o.seed = seed;
  o.displayName = name;
  o.date = date;
  o.messages = 6;
  o.contacts = 4;
  o.calls = 4;
  o.notes = 3;
  o.whatsapp = 4;
  o.wechat = 2;
  o.qq = 2;
  return o;
}

SharedBackups* MakeBackups() {
  auto* b = new SharedBackups;
  b->root = b->dir.path() / "data" / "Apple Computer" / "MobileSync" / "Backup";
  fs::create_directories(b->root);
  // Written out of date order: the list must sort them.
  b->oldest = b->root / "a1b2c3d4e5f60718293a4b5c6d7e8f9012345678";
  auto old = Small(3, "Old iPhone", "2017-06-18T21:40:00Z");
  old.layout = mkbackup::Layout::kOlder;
  std::string error;
  EXPECT_EQ(mkbackup::WriteBackup(old, b->oldest, &error), 0) << error;
  b->encrypted = b->root / "00008020-0011223344556677";
  EXPECT_EQ(mkbackup::WriteBackup(Small(2, "Locked iPhone", "2020-08-09T12:00:00Z"), b->encrypted,
                                  &error),
            0)
      << error;
  mkbackup::EncryptOptions enc;
  enc.password = SharedBackups::kPassword;
  enc.dpic = 1000;
  enc.iter = 100;
  EXPECT_EQ(mkbackup::EncryptBackup(b->encrypted, b->encrypted, enc, &error), 0) << error;
  b->newest = b->root / "00008030-001A2B3C4D5E6F70";
  EXPECT_EQ(
      mkbackup::WriteBackup(Small(1, "Anna's iPhone", "2021-03-04T05:06:07Z"), b->newest, &error),
      0)
      << error;
  b->elsewhere = b->dir.path() / fs::path(u8"Sicherung 备份 📱");
  EXPECT_EQ(
      mkbackup::WriteBackup(Small(4, "\xE5\xB0\x8F\xE6\x98\x8E's iPhone", "2022-05-01T08:30:00Z"),
                            b->elsewhere, &error),
      0)
      << error;
  b->notABackup = b->dir.path() / "just a folder";
  fs::create_directories(b->notABackup);
  test::WriteFile(b->notABackup / "notes.txt", "no Info.plist here");
  return b;
}

SharedBackups* g_backups = nullptr;
}  // namespace

const SharedBackups& Backups() {
  if (!g_backups) g_backups = MakeBackups();
  return *g_backups;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qSleep(5);
  }
  return true;
}

void MainWndTest::SetUpTestSuite() {
  ASSERT_TRUE(InstallSkinArchive());
  QApplication::setQuitOnLastWindowClosed(false);
  Backups();
}

void MainWndTest::SetUp() {
  // The language files of the build, copied so that switching languages writes ours.
  const fs::path bin = platform::ExecutableFolder();
  fs::copy_file(bin / "config.ini", langDir / "config.ini");
  fs::create_directories(langDir / "Languages");
  for (const auto& e : fs::directory_iterator(bin / "Languages"))
    fs::copy_file(e.path(), langDir / "Languages" / e.path().filename());
  store = std::make_unique<lang::CLanguageStore>(platform::Utf8FromPath(langDir.path()));
  lang::CLanguageStore::SetInstance(store.get());
  UseDataFolder(DataFolder());
  homeEnv = std::make_unique<test::ScopedEnv>("HOME", langDir.path().string());

  SetMessageBoxResponder([this](const MessageBoxRequest& req) {
    log.messages.push_back(req);
    if (messageAnswers.empty()) {
      ADD_FAILURE() << "unexpected message box: " << ToUtf8(ToQ(req.text));
      return 2;
    }
    const int a = messageAnswers.front();
    messageAnswers.pop_front();
    return a;
  });
  SetPasswordResponder([this]() {
    ++log.passwordPrompts;
    if (onPasswordPrompt) onPasswordPrompt();
    if (passwordAnswers.empty()) {
      ADD_FAILURE() << "unexpected password dialog";
      return PasswordAnswer{};
    }
    PasswordAnswer a = passwordAnswers.front();
    passwordAnswers.pop_front();
    return a;
  });
  SetFolderPickerResponder([this](const std::string& prompt) -> std::optional<std::string> {
    log.folderPrompts.push_back(prompt);
    if (folderAnswers.empty()) {
      ADD_FAILURE() << "unexpected folder picker";
      return std::nullopt;
    }
    auto a = folderAnswers.front();
    folderAnswers.pop_front();
    return a;
  });
}

void MainWndTest::TearDown() {
  if (wnd) {
    // A scan still running ends with the window; nothing is left for the next test.
    wnd.reset();
  }
  SetMessageBoxResponder(nullptr);
  SetPasswordResponder(nullptr);
  SetFolderPickerResponder(nullptr);
  SetUrlOpener(nullptr);
  lang::CLanguageStore::SetInstance(nullptr);
  EXPECT_TRUE(messageAnswers.empty()) << "message answers left over";
  EXPECT_TRUE(passwordAnswers.empty()) << "password answers left over";
  EXPECT_TRUE(folderAnswers.empty()) << "folder answers left over";
}

fs::path MainWndTest::DataFolder() const {
  return Backups().dir.path() / "data";
}

void MainWndTest::UseDataFolder(const fs::path& data) {
  dataEnv.reset();
  dataEnv = std::make_unique<test::ScopedEnv>("XDG_DATA_HOME", data.string());
}

CMainWnd& MainWndTest::MakeWindow() {
  wnd = std::make_unique<CMainWnd>();
  wnd->Create();
  wnd->resize(kMainWidth, kMainHeight);
  wnd->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(wnd.get()));
  return *wnd;
}

ui::CControlUI* MainWndTest::Control(const char* name) const {
  ui::CControlUI* c = wnd ? wnd->FindControl(QString::fromLatin1(name)) : nullptr;
  EXPECT_NE(c, nullptr) << name;
  return c;
}

void MainWndTest::Click(const char* name) {
  ui::CControlUI* c = Control(name);
  if (!c) return;
  QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, c->rect().center());
  QCoreApplication::processEvents();
}

void MainWndTest::ClickRow(ui::CListUI* list, int row) {
  QTableView* view = list->View();
  const QRect r = view->visualRect(view->model()->index(row, 1));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  QCoreApplication::processEvents();
}

int MainWndTest::CurrentTab() const {
  auto* tab = ControlAs<ui::CTabLayoutUI>("TabPage");
  return tab ? tab->GetCurSel() : -1;
}

}  // namespace bv::testing
