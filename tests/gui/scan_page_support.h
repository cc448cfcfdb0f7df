#pragma once
// The scan page over one mkbackup backup (with its truth file) in a data folder of its
// own, written once for the whole test program, and the ways a person works the page:
// clicks on tree nodes, tick boxes, the list header and the filter switch.
#include <QStringList>
#include <filesystem>

#include "app/scan_page.h"
#include "main_wnd_support.h"
#include "support.h"

namespace bv::testing {

// The backup folder that every test of the program shares.
const fs::path& SharedScanBackup();

class ScanPageTest : public MainWndTest {
 public:
  static constexpr const char* kDeviceName = "Scan Test iPhone";

 protected:
  static void SetUpTestSuite();
  fs::path DataFolder() const override;

  static const fs::path& BackupFolder();
  static const test::Json& Truth();

  // Makes the window, takes the backup through the first two steps and waits until its
  // scan has ended (the page's messages handled).
  CMainWnd& Scanned();
  CScanVrtWnd& Page() { return wnd->ScanPage(); }
  ui::CListUI* List() { return ControlAs<ui::CListUI>("DataList"); }
  ui::CTreeViewUI* Tree() { return ControlAs<ui::CTreeViewUI>("NodeTree"); }

  void ClickNode(Category c);
  void ClickNodeTick(ui::CTreeNodeUI* node);
  // A row's tick box, by the row's place on screen (the list scrolls to it first).
  void ClickTick(int viewRow);
  void ClickHeaderTick();
  // The texts a column shows, top to bottom (hidden rows are not shown).
  QStringList Column(int column);
  // Waits for the posted messages of the page to be handled.
  static void Settle();

  // What "LblStatistics" must say, from the session's selection tree.
  QString ExpectedStatistics();
};

}  // namespace bv::testing

// Readable failure messages for Qt text.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
