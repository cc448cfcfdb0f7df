#include "scan_page_support.h"

#include <QHeaderView>
#include <QTreeView>

#include "app/qt_text.h"
#include "common/text.h"

namespace bv::testing {

namespace {
struct SharedBackup {
  test::TempDir dir;
  fs::path folder;
  test::Json truth;
};
SharedBackup* g_backup = nullptr;

SharedBackup& Shared() {
  if (!g_backup) {
    g_backup = new SharedBackup;
    const fs::path root =
        g_backup->dir.path() / "data" / "Apple Computer" / "MobileSync" / "Backup";
    fs::create_directories(root);
    mkbackup::BackupOptions o;
    o.seed = 17;
    o.displayName = ScanPageTest::kDeviceName;
    o.messages = 40;
    o.contacts = 16;
    o.calls = 24;
    o.notes = 8;
    o.whatsapp = 30;
    o.wechat = 24;
    o.qq = 24;
    o.media = 4;
    g_backup->folder = root / "00008030-00AA11BB22CC33DD";
    std::string error;
    EXPECT_EQ(mkbackup::WriteBackup(o, g_backup->folder, &error), 0) << error;
    g_backup->truth = test::ReadTruth(g_backup->folder);
  }
  return *g_backup;
}
}  // namespace

void ScanPageTest::SetUpTestSuite() {
  ASSERT_TRUE(InstallSkinArchive());
  QApplication::setQuitOnLastWindowClosed(false);
  Shared();
}

fs::path ScanPageTest::DataFolder() const {
  return Shared().dir.path() / "data";
}

const fs::path& ScanPageTest::BackupFolder() {
  return Shared().folder;
}

const fs::path& SharedScanBackup() {
  return Shared().folder;
}

const test::Json& ScanPageTest::Truth() {
  return Shared().truth;
}

void ScanPageTest::Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

CMainWnd& ScanPageTest::Scanned() {
  CMainWnd& w = MakeWindow();
  auto* backups = ControlAs<ui::CListUI>("BackupFileList");
  EXPECT_EQ(backups->GetRowCount(), 1);
  ClickRow(backups, 0);
  Click("BtnNext1");
  Click("BtnNext2");
  EXPECT_TRUE(WaitFor([&] { return w.ScanPage().Session().IsScanning(); }, 5000) ||
              w.ScanPage().Session().LastResult() == kSuccess);
  EXPECT_TRUE(WaitFor([&] { return !w.ScanPage().Session().IsScanning(); }));
  Settle();
  return w;
}

void ScanPageTest::ClickNode(Category c) {
  ui::CTreeNodeUI* node = Page().CategoryNode(c);
  ASSERT_NE(node, nullptr);
  QTreeView* view = Tree()->View();
  // As a user scrolls to a node below the tree's visible part (the chat apps' group).
  view->scrollTo(node->Item()->index());
  const QRect r = view->visualRect(node->Item()->index());
  ASSERT_FALSE(r.isEmpty()) << "node not shown";
  // On the text, right of the tick box and the icon.
  const QPoint at(r.left() + r.width() * 2 / 3, r.center().y());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  Settle();
}

void ScanPageTest::ClickNodeTick(ui::CTreeNodeUI* node) {
  ASSERT_NE(node, nullptr);
  QTreeView* view = Tree()->View();
  view->scrollTo(node->Item()->index());
  const QRect r = view->visualRect(node->Item()->index());
  // The tick box is the first thing in the node's row, where the style puts it.
  QStyleOptionViewItem opt;
  opt.initFrom(view);
  opt.rect = r;
  opt.features |= QStyleOptionViewItem::HasCheckIndicator;
  QRect box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, view);
  if (!r.contains(box.center())) box = QRect(r.left() + 2, r.top(), 16, r.height());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
  Settle();
}

void ScanPageTest::ClickTick(int viewRow) {
  QTableView* view = List()->View();
  const QModelIndex index = view->model()->index(viewRow, 0);
  view->scrollTo(index);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                    view->visualRect(index).center());
  Settle();
}

void ScanPageTest::ClickHeaderTick() {
  QHeaderView* header = List()->View()->horizontalHeader();
  const int x = header->sectionViewportPosition(0) + header->sectionSize(0) / 2;
  QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(x, header->height() / 2));
  Settle();
}

QStringList ScanPageTest::Column(int column) {
  QStringList texts;
  QAbstractItemModel* m = List()->View()->model();
  for (int r = 0; r < m->rowCount(); ++r) texts << m->index(r, column).data().toString();
  return texts;
}

QString ScanPageTest::ExpectedStatistics() {
  const CScanSession& s = Page().Session();
  const StatisticsValues v =
      s.ReadStatistics([](const CStatisticsObj& stats) { return stats.Statistics(); });
  return QStringLiteral("You select %1 in %2 item(s) of %3 in %4 item(s)")
      .arg(ToQ(FormatSize(static_cast<std::int64_t>(v.tickedSize))))
      .arg(v.tickedVisible)
      .arg(ToQ(FormatSize(static_cast<std::int64_t>(v.totalSize))))
      .arg(v.items);
}

}  // namespace bv::testing
