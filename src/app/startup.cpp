#include "app/startup.h"

#include <QApplication>
#include <QIcon>

#include "app/main_wnd.h"
#include "app/popups.h"
#include "app/screenshot_tour.h"
#include "app/shutdown.h"
#include "app/single_instance.h"
#include "app/skin/skin_archive.h"
#include "platform/platform.h"

namespace bv {

namespace {
// The program's icon: the logo of the skin archive.
QIcon ProgramIcon() {
  std::shared_ptr<ui::ISkinSource> skins = ui::CSkinWindow::DefaultSkinSource();
  if (!skins) return QIcon();
  const QPixmap logo = skins->Image(QStringLiteral("logo.png"));
  return logo.isNull() ? QIcon() : QIcon(logo);
}
}  // namespace

int RunProgram(QApplication& app) {
  // Without its skins no window can be built; the framework has said so already.
  if (!InstallSkinArchive()) return 1;

  CSingleInstance instance;
  if (!instance.Acquire()) {
    if (!instance.AskFirstToRaise())
      show_message(kMsgInformation, nullptr, "Tarnwick Backvault Pro is running.", std::nullopt,
                   350, 180);
    return 0;
  }

  const QIcon icon = ProgramIcon();
  if (!icon.isNull()) QApplication::setWindowIcon(icon);
  int rc = 0;
  {
    CMainWnd wnd;
    instance.Listen([&wnd] { return wnd.RaiseFromOtherInstance(); });
    wnd.Create();
    if (!icon.isNull()) wnd.setWindowIcon(icon);
    wnd.resize(kMainWidth, kMainHeight);
    wnd.CenterOver(nullptr);
    wnd.show();
    std::unique_ptr<CScreenshotTour> tour = CScreenshotTour::FromEnvironment(wnd);
    rc = app.exec();
    if (tour && tour->Failed()) rc = 1;
  }
  ShutdownCleanup(platform::WorkFolder());
  return rc;
}

}  // namespace bv
