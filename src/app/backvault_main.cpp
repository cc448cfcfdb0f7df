// backvault: the desktop program. It takes no arguments of its own.
#include <unistd.h>

#include <QApplication>

#include "app/startup.h"

int main(int argc, char** argv) {
  // The print window's browser shares the program's graphics contexts.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // The browser engine refuses to start as root with its sandbox on.
  if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QApplication app(argc, argv);
  // Names the menu entry (backvault.desktop), so the desktop shows its icon and name for
  // the window.
  QGuiApplication::setDesktopFileName(QStringLiteral("backvault"));
  return bv::RunProgram(app);
}
