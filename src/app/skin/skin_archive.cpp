#include "app/skin/skin_archive.h"

#include "ui/skin_window.h"

// The archive is linked in as a Qt resource from a static library; its initialiser has
// to be called by name so the linker keeps it.
static void InitSkinResource() {
  Q_INIT_RESOURCE(bv_skin_archive);
}

namespace bv {

std::shared_ptr<ui::ISkinSource> OpenSkinArchive() {
  static bool initialised = false;
  if (!initialised) {
    InitSkinResource();
    initialised = true;
  }
  return ui::SkinSourceFromResource(QString::fromLatin1(kSkinResourceType), kSkinResourceId);
}

bool InstallSkinArchive() {
  std::shared_ptr<ui::ISkinSource> src = OpenSkinArchive();
  if (!src) {
    ui::ReportLoadResourceError();
    return false;
  }
  ui::CSkinWindow::SetDefaultSkinSource(std::move(src));
  return true;
}

}  // namespace bv
