#pragma once
// The main window over backups that mkbackup writes into a temporary data folder
// (XDG_DATA_HOME), with its own copy of the language files, and the pop-ups answered by
// recording responders instead of modal runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/popups.h"
#include "app/skin/skin_archive.h"
#include "support.h"
#include "ui/ui_list.h"

namespace bv::testing {

namespace fs = std::filesystem;

// The backups every test of a suite shares: three under one root, written once.
struct SharedBackups {
  test::TempDir dir;
  fs::path root;       // <data>/Apple Computer/MobileSync/Backup
  fs::path newest;     // plain, newer layout, 2021
  fs::path encrypted;  // newer layout, 2020, password kPassword
  fs::path oldest;     // plain, older layout, 2017
  fs::path notABackup;
  fs::path elsewhere;  // a plain backup outside the root, in a folder named in Chinese
  static constexpr const char* kPassword = "open sesame";
};
const SharedBackups& Backups();

// Polls the event loop until `done` holds or `ms` pass; returns `done()`.
bool WaitFor(const std::function<bool()>& done, int ms = 30000);

// What the pop-ups were asked, in order.
struct PopUpLog {
  std::vector<MessageBoxRequest> messages;
  int passwordPrompts = 0;
  std::vector<std::string> folderPrompts;
};

class MainWndTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // The data folder the program reads (the shared backups unless a test points
  // XDG_DATA_HOME elsewhere before making the window).
  void UseDataFolder(const fs::path& data);
  // Where SetUp points the program: the shared backups' data folder.
  virtual fs::path DataFolder() const;
  CMainWnd& MakeWindow();

  ui::CControlUI* Control(const char* name) const;
  template <class T>
  T* ControlAs(const char* name) const {
    return dynamic_cast<T*>(Control(name));
  }
  // A real click on a control, and on a row of a list.
  void Click(const char* name);
  void ClickRow(ui::CListUI* list, int row);
  int CurrentTab() const;

  // Answers, consumed in order; a missing answer fails the test and cancels.
  std::deque<int> messageAnswers;
  std::deque<PasswordAnswer> passwordAnswers;
  std::deque<std::optional<std::string>> folderAnswers;
  // Called inside the password responder, before it answers (checks of the page state
  // while the dialog would be up).
  std::function<void()> onPasswordPrompt;
  PopUpLog log;

  test::TempDir langDir;  // config.ini and Languages/ of this test
  std::unique_ptr<lang::CLanguageStore> store;
  std::unique_ptr<test::ScopedEnv> dataEnv;
  std::unique_ptr<test::ScopedEnv> homeEnv;
  std::unique_ptr<CMainWnd> wnd;
};

}  // namespace bv::testing
