// Fills a skinned list with N rows (default 200,000) and reports how long adding, the
// first paint, hiding half the rows and scrolling to the end take.
//   bench_ui [rows]
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <cstdio>

#include "ui/skin_loader.h"
#include "ui/skin_window.h"
#include "ui/ui_list.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 200000;
  bv::ui::CSkinWindow wnd;
  wnd.resize(1000, 650);
  wnd.show();
  bv::ui::CSkinLoader loader(&wnd);
  auto* list = dynamic_cast<bv::ui::CListUI*>(loader.LoadElementFromText(
      "<List itemheight=\"30\"><ListHeader><ListHeaderItem text=\"Name\" width=\"200\"/>"
      "<ListHeaderItem text=\"Date\" width=\"150\"/><ListHeaderItem "
      "text=\"Text\"/></ListHeader></List>"));
  list->setParent(&wnd);
  list->setGeometry(0, 0, 1000, 650);
  list->show();

  std::vector<QStringList> rows;
  rows.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    rows.push_back({QStringLiteral("Contact %1").arg(i),
                    QStringLiteral("2024-01-01 12:00:%1").arg(i % 60, 2, 10, QLatin1Char('0')),
                    QStringLiteral("Message text number %1").arg(i)});
  QElapsedTimer t;
  t.start();
  list->AddRows(std::move(rows));
  const qint64 add = t.elapsed();
  t.restart();
  list->View()->viewport()->grab();  // the first paint
  app.processEvents();
  const qint64 paint = t.elapsed();
  t.restart();
  list->BeginUpdate();
  for (int i = 0; i < n; i += 2) list->SetRowHidden(i, true);
  list->EndUpdate();
  const qint64 hideEach = t.elapsed();
  t.restart();
  for (int i = 1; i < 2001; i += 2) list->SetRowHidden(i, true);
  const qint64 hideSingles = t.elapsed();
  t.restart();
  list->SelectItem(n - 1, false);
  list->View()->viewport()->grab();
  const qint64 scroll = t.elapsed();
  std::printf(
      "rows=%d add=%lldms first_paint=%lldms hide_half_batched=%lldms hide_1000_singly=%lldms "
      "select_last_and_paint=%lldms visible=%d\n",
      n, static_cast<long long>(add), static_cast<long long>(paint),
      static_cast<long long>(hideEach), static_cast<long long>(hideSingles),
      static_cast<long long>(scroll), list->GetVisibleRowCount());
  return 0;
}
