// One QApplication for every test of the executable, on the offscreen platform unless
// the environment names another (the screenshot run uses Xvfb).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>

#include "gui_test_support.h"

namespace bv::testing {
void ClickControl(ui::CControlUI* c) {
  QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, c->rect().center());
}
}  // namespace bv::testing

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The browser engine refuses to run as root with its sandbox on (CI runs as root).
  if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
