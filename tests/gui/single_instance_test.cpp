// One copy per user: the lock, the socket that raises the first window, and real second
// starts of the program.
#include <QLocalServer>
#include <QProcess>
#include <atomic>
#include <thread>

#include "app/single_instance.h"
#include "app/startup.h"
#include "main_wnd_support.h"
#include "platform/platform.h"

using namespace bv;
using namespace bv::testing;

namespace {

QString Q(const fs::path& p) {
  return QString::fromStdString(p.string());
}

// The program itself, started with its runtime and data folders in `dir`.
std::unique_ptr<QProcess> StartProgram(const test::TempDir& dir) {
  auto p = std::make_unique<QProcess>();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Q(dir / "run"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), Q(dir / "data"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  p->setProcessEnvironment(env);
  p->setProgram(Q(platform::ExecutableFolder() / "backvault"));
  p->start();
  return p;
}

test::TempDir& RunDir(test::TempDir& dir) {
  fs::create_directories(dir / "run");
  fs::permissions(dir / "run", fs::perms::owner_all);
  fs::create_directories(dir / "data");
  return dir;
}

TEST(SingleInstance, OneLockHolderAndItsAnswers) {
  test::TempDir dir;
  const QString folder = Q(dir.path());
  {
    CSingleInstance first(QStringLiteral("bv_test"), folder);
    ASSERT_TRUE(first.Acquire());
    CSingleInstance second(QStringLiteral("bv_test"), folder);
    EXPECT_FALSE(second.Acquire());
    // Nobody listens yet: no window answers.
    EXPECT_FALSE(second.AskFirstToRaise(300));
    int asked = 0;
    bool haveWindow = false;
    ASSERT_TRUE(first.Listen([&] {
      ++asked;
      return haveWindow;
    }));
    // The first copy answers from this thread's event loop; the asking side, another
    // process in the program, is a thread of its own here.
    std::atomic<int> result{-1};
    std::thread t([&] { result = second.AskFirstToRaise(3000) ? 1 : 0; });
    ASSERT_TRUE(WaitFor([&] { return result.load() >= 0; }, 5000));
    t.join();
    EXPECT_EQ(result.load(), 0);  // asked, but there was no window
    EXPECT_EQ(asked, 1);
    haveWindow = true;
    result = -1;
    std::thread t2([&] { result = second.AskFirstToRaise(3000) ? 1 : 0; });
    ASSERT_TRUE(WaitFor([&] { return result.load() >= 0; }, 5000));
    t2.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(asked, 2);
  }
  // The lock goes with its holder.
  CSingleInstance again(QStringLiteral("bv_test"), folder);
  EXPECT_TRUE(again.Acquire());
}

// The program started a second time raises the window of the first copy (here this
// process, with the real main window minimised) and exits at once without a message.
TEST_F(MainWndTest, SecondStartRaisesTheFirstWindow) {
  test::TempDir dir;
  RunDir(dir);
  CSingleInstance first(QString::fromLatin1(kSingleInstanceName), Q(dir / "run"));
  ASSERT_TRUE(first.Acquire());
  CMainWnd& w = MakeWindow();
  int raised = 0;
  ASSERT_TRUE(first.Listen([&] {
    ++raised;
    return w.RaiseFromOtherInstance();
  }));
  w.showMinimized();
  ASSERT_TRUE(WaitFor([&] { return w.isMinimized(); }, 5000));

  auto second = StartProgram(dir);
  ASSERT_TRUE(second->waitForStarted(5000));
  ASSERT_TRUE(WaitFor([&] { return second->state() == QProcess::NotRunning; }, 15000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(raised, 1);
  EXPECT_FALSE(w.isMinimized());
  EXPECT_TRUE(w.isVisible());
}

// Two real copies: the second finds the first through its lock and socket and ends; the
// first runs on.
TEST(SingleInstance, TwoRealStartsLeaveOneProgram) {
  test::TempDir dir;
  RunDir(dir);
  auto first = StartProgram(dir);
  ASSERT_TRUE(first->waitForStarted(5000));
  const fs::path socket = dir / "run" / (std::string(kSingleInstanceName) + ".sock");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(socket); }, 15000));
  auto second = StartProgram(dir);
  ASSERT_TRUE(second->waitForFinished(15000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(first->state(), QProcess::Running);
  first->kill();  // the one this test started
  first->waitForFinished(5000);
  // With the first gone (killed, not closed), a new start is the first again: the lock
  // died with its process and the old socket file does not stand in the way.
  auto third = StartProgram(dir);
  ASSERT_TRUE(third->waitForStarted(5000));
  EXPECT_FALSE(third->waitForFinished(1500));
  EXPECT_EQ(third->state(), QProcess::Running);
  third->kill();
  third->waitForFinished(5000);
}

// A copy holds the lock but no window answers: the start says that the program is
// running, in the 350 x 180 information box, and ends.
TEST_F(MainWndTest, StartWithoutAnAnsweringWindowSaysThatTheProgramRuns) {
  test::TempDir dir;
  RunDir(dir);
  test::ScopedEnv runtime("XDG_RUNTIME_DIR", (dir / "run").string());
  CSingleInstance holder(QString::fromLatin1(kSingleInstanceName), Q(dir / "run"));
  ASSERT_TRUE(holder.Acquire());
  messageAnswers = {1};
  EXPECT_EQ(RunProgram(*static_cast<QApplication*>(QCoreApplication::instance())), 0);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].kind, kMsgInformation);
  EXPECT_EQ(log.messages[0].text, "Tarnwick Backvault Pro is running.");
  EXPECT_EQ(log.messages[0].width, 350);
  EXPECT_EQ(log.messages[0].height, 180);
}

}  // namespace
