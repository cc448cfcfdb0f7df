// The recovery and print windows over the scan page's results: the recovered tree
// against the command line's recovery of the same backup and ticks, the refusal of a
// folder inside the backup, a cancel midway, a missing template; the print page of
// each printable category, its Init, and its PDF read back as text.
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>
#include <fstream>
#include <map>

#include "app/lang/language_store.h"
#include "app/print_window.h"
#include "app/qt_text.h"
#include "app/recover_window.h"
#include "app/recovery_settings.h"
#include "platform/platform.h"
#include "gui_test_support.h"
#include "scan_page_support.h"
#include "ui/ui_extra.h"

using namespace bv;
using namespace bv::testing;

namespace {

// Polls until a modal window of type T runs and `ready` holds for it, then acts on it
// (the modal window is run by the code under test; this works from inside its loop).
template <class T>
void WhenModalReady(std::function<bool(T*)> ready, std::function<void(T*)> act,
                    int timeoutMs = 20000) {
  auto timer = std::make_shared<QElapsedTimer>();
  timer->start();
  auto tick = std::make_shared<std::function<void()>>();
  *tick = [ready, act, timer, tick, timeoutMs]() {
    T* found = nullptr;

    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* t = dynamic_cast<T*>(w))
        if (t->IsModalRunning() && t->isVisible()) found = t;
    if (found && ready(found)) {
      act(found);
      return;
    }
    if (timer->elapsed() < timeoutMs) {
      QTimer::singleShot(10, *tick);
      return;
    }
    ADD_FAILURE() << "the window never came to the state waited for";
    if (found) found->Close(2);  // the test goes on instead of hanging
  };
  QTimer::singleShot(0, *tick);
}

QString Q(const fs::path& path) {
  const std::u8string text = path.u8string();
  return QString::fromUtf8(reinterpret_cast<const char*>(text.data()),
                           static_cast<qsizetype>(text.size()));
}

// A recovered tree: relative path (the job's 14-digit stamps made neutral) to bytes.
std::map<std::string, std::string> FileTree(const fs::path& root) {
  static const QRegularExpression kStamp(QStringLiteral("\\d{14}"));
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    QString rel = Q(e.path().lexically_relative(root));
    rel.replace(kStamp, QStringLiteral("STAMP"));
    files[rel.toStdString()] = test::ReadFile(e.path());
  }
  return files;
}

// The command line's recovery of the shared backup, once per program.
const std::map<std::string, std::string>& CliTree(const std::string& categories) {
  static std::map<std::string, std::map<std::string, std::string>> trees;
  static std::vector<std::unique_ptr<test::TempDir>> dirs;
  auto it = trees.find(categories);
  if (it != trees.end()) return it->second;
  dirs.push_back(std::make_unique<test::TempDir>());
  const fs::path out = dirs.back()->path() / "cli";
  QProcess cli;
  cli.setProgram(Q(platform::ExecutableFolder() / "backvault-cli"));
  cli.setArguments({QStringLiteral("recover"), Q(SharedScanBackup()), QStringLiteral("--out"),
                    Q(out), QStringLiteral("--categories"), QString::fromStdString(categories)});
  cli.start();
  EXPECT_TRUE(cli.waitForFinished(60000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  return trees[categories] = FileTree(out);
}

std::string Pdftotext(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"),
          {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
  EXPECT_TRUE(p.waitForFinished(20000));
  return p.readAllStandardOutput().toStdString();
}

// Every category but photo stream and app videos (unticked on the tree in the test).
constexpr const char* kRecoveredCategories =
    "camera-roll,app-photos,messages,message-attachments,contacts,call-history,notes,whatsapp,"
    "whatsapp-attachments,reminder,calendar,safari-bookmark,wechat,qq";

TEST_F(ScanPageTest, RecoveryWritesWhatTheCommandLineWritesAndNeverIntoTheBackup) {
  CMainWnd& w = Scanned();
  CScanVrtWnd& page = w.ScanPage();
  ClickNodeTick(page.CategoryNode(Category::PhotoStream));
  ClickNodeTick(page.CategoryNode(Category::AppVideos));
  const std::uint32_t ticked = page.Session().Label().tickedVisible;
  ASSERT_GT(ticked, 50u);

  test::TempDir out;
  // A folder inside the backup is refused with a message, and the folder asked again.
  folderAnswers.push_back(platform::Utf8FromPath(BackupFolder() / "inside"));
  folderAnswers.push_back(platform::Utf8FromPath(out.path()));
  messageAnswers.push_back(1);
  std::vector<QUrl> opened;
  SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });
  int finished = 0;
  WhenModalReady<CRecoverProcessWnd>(
      [](CRecoverProcessWnd* r) { return r->JobEnded(); },
      [&](CRecoverProcessWnd* r) {
        ++finished;
        EXPECT_EQ(r->size(), QSize(kRecoverWidth, kRecoverHeight));
        EXPECT_EQ(r->GetWindowClassName(), QStringLiteral("UIRecoverProcessWnd"));
        EXPECT_TRUE(r->FindControl(QStringLiteral("FinishBtn"))->IsVisible());
        EXPECT_FALSE(r->FindControl(QStringLiteral("CancelBtn"))->IsVisible());
        const int done = r->Job()->DoneCount();
        EXPECT_EQ(r->Job()->FailedCount(), 0);
        EXPECT_EQ(r->FindControl(QStringLiteral("recovered"))->GetText(),
                  QStringLiteral("%1/%2 item(s) done, %1 recovered, 0 failed")
                      .arg(done)
                      .arg(r->Job()->TotalCount()));
        EXPECT_EQ(r->Details().RowCount(), done);
        EXPECT_EQ(r->Details().RowText(0, 1), QStringLiteral("Success"));
        // The detail list takes the information panel's place and gives it back.
        ClickControl(r->FindControl(QStringLiteral("DetailBtn")));
        EXPECT_TRUE(r->FindControl(QStringLiteral("DetailList"))->IsVisible());
        EXPECT_FALSE(r->FindControl(QStringLiteral("InfoLayout"))->IsVisible());
        ClickControl(r->FindControl(QStringLiteral("OpenBtn")));
        ClickControl(r->FindControl(QStringLiteral("FinishBtn")));
      });
  Click("BtnRecovery");
  EXPECT_EQ(finished, 1);
  ASSERT_EQ(log.folderPrompts.size(), 2u);
  EXPECT_EQ(log.folderPrompts[0], "Choose a folder for the recovered files.");
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].kind, kMsgError);
  EXPECT_NE(log.messages[0].text.find("backup"), std::string::npos);
  EXPECT_FALSE(fs::exists(BackupFolder() / "inside"));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(Q(out.path())));

  // The same tree, names and bytes as the command line's recovery of these categories.
  const auto gui = FileTree(out.path());
  const auto& cli = CliTree(kRecoveredCategories);
  ASSERT_GT(gui.size(), 50u);
  std::vector<std::string> guiNames, cliNames;
  for (const auto& [name, bytes] : gui) guiNames.push_back(name);
  for (const auto& [name, bytes] : cli) cliNames.push_back(name);
  EXPECT_EQ(guiNames, cliNames);
  for (const auto& [name, bytes] : gui) {
    auto c = cli.find(name);
    if (c != cli.end()) {
      EXPECT_TRUE(bytes == c->second) << name << " differs";
    }
  }
}

TEST_F(ScanPageTest, CancelMidwayKeepsEveryWrittenFileWhole) {
  CMainWnd& w = Scanned();
  ClickNodeTick(w.ScanPage().CategoryNode(Category::PhotoStream));
  ClickNodeTick(w.ScanPage().CategoryNode(Category::AppVideos));
  test::TempDir out;
  folderAnswers.push_back(platform::Utf8FromPath(out.path()));
  messageAnswers.push_back(1);  // yes, cancel

  // At the job's first report the cancel question is asked; the job waits meanwhile.
  struct AtFirstReport : QObject {
    bool asked = false;
    const CRecoverJob* job = nullptr;
    bool eventFilter(QObject* o, QEvent* e) override {
      if (!asked && e->type() == QEvent::MetaCall)
        if (auto* r = dynamic_cast<CRecoverProcessWnd*>(o)) {
          asked = true;
          job = r->Job();
          r->AskCancel();
          EXPECT_TRUE(job->Finished());  // the wait ended with the job
        }
      return false;
    }
  } filter;
  qApp->installEventFilter(&filter);
  Click("BtnRecovery");
  qApp->removeEventFilter(&filter);
  ASSERT_TRUE(filter.asked);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].text, "Do you want to cancel the recovery?");
  EXPECT_EQ(log.messages[0].kind, kMsgQuestion);
  EXPECT_TRUE(RunningModal() == nullptr);

  // Stopped midway: some files, each one whole (equal to the full recovery's).
  const auto gui = FileTree(out.path());
  const auto& cli = CliTree(kRecoveredCategories);
  EXPECT_LT(gui.size(), cli.size());
  for (const auto& [name, bytes] : gui) {
    auto c = cli.find(name);
    if (c == cli.end()) {
      ADD_FAILURE() << name << " is not in the full recovery";
      continue;
    }
    // The collected documents (contacts, calls, notes) hold what was visited.
    if (name.find("CallHistory") != std::string::npos || name.find("Notes") != std::string::npos ||
        name.find("Contacts") != std::string::npos || name.find("sms.sqlite") != std::string::npos)
      continue;
    EXPECT_TRUE(bytes == c->second) << name << " is not whole";
  }
}

TEST_F(ScanPageTest, AMissingTemplateStopsTheRecoveryBeforeAnythingIsWritten) {
  CMainWnd& w = Scanned();
  test::TempDir out, templates;
  messageAnswers.push_back(1);
  CRecoverProcessWnd wnd(&w, w.ScanPage().Session(), "x", platform::Utf8FromPath(out.path()));
  wnd.SetTemplateFolder(templates.path());
  EXPECT_EQ(wnd.Run(), 2);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].kind, kMsgError);
  EXPECT_EQ(log.messages[0].width, 500);
  EXPECT_EQ(log.messages[0].text,
            "A document template could not be opened. Nothing was recovered.");
  EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(ScanPageTest, TheJobTakesTheUsersHeicJpegSetting) {
  CMainWnd& w = Scanned();
  // The program's own language files, the user's settings file with the option on.
  const fs::path program = fs::path(lang::CLanguageStore::instance().ConfigPath()).parent_path();
  test::TempDir home, out, templates;
  const fs::path settings = home.path() / "settings.ini";
  std::ofstream(settings, std::ios::binary) << "[Recovery]\r\nHeicJpeg=1\r\n";
  lang::CLanguageStore store(platform::Utf8FromPath(program) + "/",
                             platform::Utf8FromPath(settings));
  lang::CLanguageStore::SetInstance(&store);
  struct Restore {
    ~Restore() { lang::CLanguageStore::SetInstance(nullptr); }
  } restore;
  for (bool on : {true, false}) {
    SCOPED_TRACE(on ? "on" : "off");
    if (!on) {
      ASSERT_TRUE(WriteRecoverySettings(store, {false}));
    }
    messageAnswers.push_back(1);
    CRecoverProcessWnd wnd(&w, w.ScanPage().Session(), "x", platform::Utf8FromPath(out.path()));
    wnd.SetTemplateFolder(templates.path());  // stops before anything is written
    EXPECT_EQ(wnd.Run(), 2);
    ASSERT_NE(wnd.Job(), nullptr);
    EXPECT_EQ(wnd.Job()->HeicJpeg(), on);
  }
}

TEST_F(ScanPageTest, PrintShowsTheTickedRecordsOfEachPrintableCategory) {
  CMainWnd& w = Scanned();
  CScanVrtWnd& page = w.ScanPage();
  test::TempDir pdfDir;
  const QString pdf = Q(pdfDir.path() / "contacts.pdf");
  struct Case {
    Category category;
    int column;  // a column whose text the printed page holds
  };
  for (const Case& k :
       {Case{Category::Contacts, 1}, Case{Category::Messages, 2}, Case{Category::CallHistory, 2},
        Case{Category::Notes, 1}, Case{Category::WhatsApp, 1}, Case{Category::WeChat, 2},
        Case{Category::QQ, 2}, Case{Category::CameraRoll, 1}}) {
    SCOPED_TRACE(CategoryCliName(k.category));
    ClickNode(k.category);
    ASSERT_GT(List()->GetVisibleRowCount(), 2);
    ClickTick(0);  // the first row stays off the page
    const QString unticked = Column(k.column).front();
    // One block per ticked record; for messages one per message of a ticked conversation.
    const std::uint32_t ticked = page.Session().ReadStatistics([&](const CStatisticsObj& s) {
      std::uint32_t blocks = 0;
      for (std::size_t i : s.CategoryNode(k.category).itemEntries) {
        const StatEntry& e = s.Entries()[i];
        if (!e.ticked) continue;
        const MessageRecord* m = e.As<MessageRecord>();
        blocks += m ? static_cast<std::uint32_t>(
                          page.Session().Stores().conversations.at(m->handleId).size())
                    : 1;
      }
      return blocks;
    });
    const bool printable = k.category != Category::CameraRoll;
    bool shown = false;
    std::string text;
    WhenModalReady<CPrintWnd>([](CPrintWnd* p) { return p->PageShown() && p->InitDone(); },
                              [&](CPrintWnd* p) {
                                shown = true;
                                EXPECT_EQ(p->size(), QSize(kPrintWidth, kPrintHeight));
                                EXPECT_EQ(p->InitAnswer(), QString::number(printable ? ticked : 0));
                                const std::string html = test::ReadFile(p->PagePath());
                                EXPECT_NE(html.find("<main id=\"records\">"), std::string::npos);
                                if (k.category != Category::Contacts) {
                                  ClickControl(p->FindControl(QStringLiteral("closebtn")));
                                  return;
                                }
                                // As the print dialog leaves a printer set to "Print to File
                                // (PDF)".
                                auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
                                printer->setOutputFormat(QPrinter::PdfFormat);
                                printer->setOutputFileName(pdf);
                                p->PrintTo(printer.get(), [&, p, printer](bool ok) {
                                  EXPECT_TRUE(ok);
                                  text = Pdftotext(pdf);
                                  ClickControl(p->FindControl(QStringLiteral("closebtn")));
                                });
                              });
    Click("BtnPrint");
    EXPECT_TRUE(shown);
    if (k.category == Category::Contacts) {
      // The PDF holds the ticked contacts' names as text, not the unticked one's.
      EXPECT_NE(text.find("Phone Number:"), std::string::npos) << text;
      const QStringList names = Column(1);
      for (int r = 1; r < names.size(); ++r)
        if (names[r] != unticked) {
          EXPECT_NE(text.find(names[r].toStdString()), std::string::npos) << names[r].toStdString();
        }
      EXPECT_EQ(text.find(unticked.toStdString()), std::string::npos);
    }
  }
}

}  // namespace
