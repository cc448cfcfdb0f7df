// The scan page over a scan of 200,000 conversations (one message each, every seventh
// deleted): how long the page takes to list them, to tick or untick them all with the
// header's tick box and to switch the deleted-only filter, each until the list has been
// painted again; and how much memory the page adds to the scan's own.
//
// Times are medians of several runs, each against a floor measured in the same run: a
// bare QTableView over a model that makes its texts on demand, reset and painted with
// the same number of rows. Memory: two child processes with the program's main window
// read the same source, one through a bare scan session (the scan's own), one through
// the page (listed, ticked, filtered); each reports its peak resident set.
//
// The preview pane: one WhatsApp chat of 20,000 messages (--chat N), opened as bubbles
// until the pane has been painted, and scrolled by a screenful (bubbles placed again,
// painted); the pane makes bubbles only for the rows on screen.
//
//   bench_ui [--rows N] [--runs R] [--chat N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/main_wnd.h"
#include "app/preview_pane.h"
#include "app/scan_page.h"
#include "app/skin/skin_archive.h"
#include "catalogue/data_source.h"
#include "scan/data_source_factory.h"
#include "ui/ui_list.h"

using namespace bv;

namespace {

int g_rows = 200000;
int g_runs = 7;
int g_chat = 20000;

// ASCII text in the records' own string type.
template <typename Text>
Text Ascii(const std::string& text) {
  return Text(text);
}

// A data source that makes the conversations as it is read (nothing kept twice) and a
// few notes, so that the page has a second category to switch from.
class ManyMessages : public IPhoneRecoveryParse {
 public:
  std::int32_t Attach(void*) override { return 0; }
  std::int32_t SetProgressCallback(ProgressCallback, void*) override { return 0; }
  std::int32_t Reserved(std::int32_t) override { return 0; }
  bool IsLocalBackup(std::int32_t) override { return true; }
  std::int32_t OpenBackup(const std::string&) override { return 0; }
  std::int32_t ReadMessages(ConversationMap& map) override {
    for (int h = 1; h <= g_rows; ++h) {
      MessageRecord m;
      m.handleId = h;
      m.rowId = h;
      m.deleted = h % 7 == 0 ? 1 : 0;
      m.date = "2021-03-04 05:06:07";
      m.sender = "+1555" + std::to_string(1000000 + h);
      m.name = h % 3 == 0 ? std::string() : "Person " + std::to_string(h);
      m.text = "Message text number " + std::to_string(h);
      map[h].push_back(std::move(m));
    }
    return 0;
  }
  std::int32_t ReadMessageAttachments(AttachmentList&) override { return 0; }
  std::int32_t ReadContacts(std::list<ContactRecord>&) override { return 0; }
  std::int32_t ReadNotes(std::list<NoteRecord>& notes) override {
    for (int i = 0; i < 3; ++i) {
      NoteRecord n;
      n.title = "Note " + std::to_string(i);
      notes.push_back(n);
    }
    return 0;
  }
  std::int32_t ReadCallHistory(std::list<CallRecord>&) override { return 0; }
  std::int32_t ReadPhotos(MediaList&, MediaList&) override { return 0; }
  std::int32_t ReadWhatsAppAttachments(MediaList&) override { return 0; }
  std::int32_t ReadAppMedia(AppMediaList&) override { return 0; }
  std::int32_t ReadReminders(std::list<ReminderRecord>&) override { return 0; }
  std::int32_t ReadCalendar(std::list<CalendarEventRecord>&) override { return 0; }
  std::int32_t ReadBookmarks(std::list<BookmarkRecord>&) override { return 0; }
  std::int32_t ReadQQ(AccountChats&) override { return 0; }
  std::int32_t ReadWeChat(AccountChats&) override { return 0; }
  std::int32_t ReadWhatsApp(WhatsAppChatMap& chats) override {
    auto& chat = chats[1];
    for (int i = 0; i < g_chat; ++i) {
      WhatsAppMessageRecord m;
      m.sessionId = 1;
      m.messageId = i;
      m.isFromMe = i % 3 == 0 ? 1 : 0;
      m.deleted = i % 11 == 0 ? 1 : 0;
      m.date = Ascii<decltype(m.date)>("2021-03-04 05:06:07");
      m.pushName = Ascii<decltype(m.pushName)>("~Member " + std::to_string(i % 9));
      // Mostly short texts, every fifth one long enough to wrap.
      m.text =
          Ascii<decltype(m.text)>("message " + std::to_string(i) +
                                  (i % 5 == 0 ? " of the long chat, long enough to wrap" : ""));
      chat.push_back(std::move(m));
    }
    return 0;
  }
  std::int32_t PreparePreviewCopy(const std::string&, std::string&, ProgressCallback,
                                  void*) override {
    return 87;
  }
  std::int32_t CopyBackupFile(const std::string&, const std::string&, CopyCallback,
                              void*) override {
    return 87;
  }
  std::int32_t CopyMessageDatabase(const std::string&) override { return 87; }
  std::int32_t CopyContactsDatabase(const std::string&) override { return 87; }
  std::int32_t WriteWhatsAppChatText(std::int32_t, const std::string&, CopyCallback,
                                     void*) override {
    return 87;
  }
  std::int32_t WriteQQChatText(const std::string&, const std::string&, const std::string&,
                               CopyCallback, void*) override {
    return 87;
  }
  std::int32_t WriteWeChatChatText(const std::string&, const std::string&, const std::string&,
                                   CopyCallback, void*) override {
    return 87;
  }
};

CategorySet MessagesAndNotes() {
  CategorySet chosen{};
  chosen[static_cast<int>(Category::Messages)] = true;
  chosen[static_cast<int>(Category::Notes)] = true;
  return chosen;
}

void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

void WaitForEnd(const CScanSession& session) {
  while (session.IsScanning()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    usleep(2000);
  }
  Settle();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double TimeMs(const std::function<void()>& work) {
  QElapsedTimer t;
  t.start();
  work();
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// The floor: rows made on demand by a bare model, shown by a bare table.
class BareModel : public QAbstractTableModel {
 public:
  int rows = 0;
  int rowCount(const QModelIndex& p = QModelIndex()) const override {
    return p.isValid() ? 0 : rows;
  }
  int columnCount(const QModelIndex& p = QModelIndex()) const override {
    return p.isValid() ? 0 : 5;
  }
  QVariant data(const QModelIndex& i, int role) const override {
    if (role != Qt::DisplayRole) return {};
    return QStringLiteral("cell %1.%2").arg(i.row()).arg(i.column());
  }
  void Show(int n) {
    beginResetModel();
    rows = n;
    endResetModel();
  }
};

struct Window {
  QTemporaryDir data;
  std::unique_ptr<CMainWnd> wnd;
  Window() {
    // The program's folders for this run only.
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("HOME", data.path().toUtf8());
    wnd = std::make_unique<CMainWnd>();
    wnd->Create();
    wnd->resize(kMainWidth, kMainHeight);
    wnd->show();
    Settle();
  }
};

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// In a child process: the window, and the scan through a bare session or the page.
long ChildPeak(bool page, int argc, char** argv) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    QApplication app(argc, argv);
    if (!InstallSkinArchive()) _exit(1);
    Window w;
    CScanSession bare;
    CScanVrtWnd& scanPage = w.wnd->ScanPage();
    if (page) {
      scanPage.SetChosenCategories(MessagesAndNotes());
      scanPage.StartScan(std::make_unique<ManyMessages>(), kLocalBackupSource);
      WaitForEnd(scanPage.Session());
      w.wnd->SelectStep(3);
      scanPage.SelectCategory(Category::Messages);
      auto* list = w.wnd->Find<ui::CListUI>(QStringLiteral("DataList"));
      list->View()->viewport()->repaint();
      for (int i = 0; i < 2; ++i) {
        list->GetColumn(0)->SendNotify(QStringLiteral("headerclick"));
        list->View()->viewport()->repaint();
        w.wnd->Find<ui::COptionUI>(QStringLiteral("OptOnOffFilter"))->Activate();
        list->View()->viewport()->repaint();
      }
    } else {
      bare.Start(std::make_unique<ManyMessages>(), kLocalBackupSource, MessagesAndNotes(), "");
      WaitForEnd(bare);
    }
    const long peak = PeakKb();
    if (write(fds[1], &peak, sizeof peak) != sizeof peak) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  long peak = -1;
  if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--rows"))
      g_rows = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--runs"))
      g_runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--chat"))
      g_chat = std::max(1, std::atoi(argv[++i]));
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  // Memory first, in children that start from nothing.
  const long scanKb = ChildPeak(false, argc, argv);
  const long pageKb = ChildPeak(true, argc, argv);

  QApplication app(argc, argv);
  if (!InstallSkinArchive()) return 1;
  Window w;
  CScanVrtWnd& page = w.wnd->ScanPage();
  CategorySet chosen = MessagesAndNotes();
  chosen[static_cast<int>(Category::WhatsApp)] = true;
  page.SetChosenCategories(chosen);
  QElapsedTimer scanTime;
  scanTime.start();
  page.StartScan(std::make_unique<ManyMessages>(), kLocalBackupSource);
  WaitForEnd(page.Session());
  const double scanMs = static_cast<double>(scanTime.elapsed());
  w.wnd->SelectStep(3);
  Settle();
  auto* list = w.wnd->Find<ui::CListUI>(QStringLiteral("DataList"));
  auto* filter = w.wnd->Find<ui::COptionUI>(QStringLiteral("OptOnOffFilter"));
  QWidget* viewport = list->View()->viewport();

  std::vector<double> listMs, tickMs, filterMs, floorMs;
  for (int r = 0; r < g_runs; ++r) {
    page.SelectCategory(Category::Notes);
    viewport->repaint();
    listMs.push_back(TimeMs([&] {
      page.SelectCategory(Category::Messages);
      viewport->repaint();
    }));
    if (list->GetVisibleRowCount() != g_rows) {
      std::fprintf(stderr, "bench_ui: %d rows listed, not %d\n", list->GetVisibleRowCount(),
                   g_rows);
      return 1;
    }
    tickMs.push_back(TimeMs([&] {
      list->GetColumn(0)->SendNotify(QStringLiteral("headerclick"));
      viewport->repaint();
    }));
    filterMs.push_back(TimeMs([&] {
      filter->Activate();
      viewport->repaint();
    }));
    filterMs.push_back(TimeMs([&] {
      filter->Activate();
      viewport->repaint();
    }));
  }
  const StatisticsLabel label = page.Session().Label();

  // The long chat in the preview pane.
  w.wnd->Find<ui::COptionUI>(QStringLiteral("OptOnOffPreview"))->Activate();
  page.SelectCategory(Category::WhatsApp);
  Settle();
  CPreviewVrtWnd& pane = w.wnd->PreviewPane();
  auto* bubbles = w.wnd->Find<ui::CListUI>(QStringLiteral("MessagesList"));
  const auto& chatRow = page.Session().Stores().chatList.front();
  std::vector<double> chatMs, scrollMs;
  int built = 0;
  for (int r = 0; r < g_runs; ++r) {
    pane.Clear();
    Settle();
    chatMs.push_back(TimeMs([&] {
      pane.ShowRow(PreviewRow{Category::WhatsApp, &chatRow});
      bubbles->View()->viewport()->repaint();
    }));
    if (bubbles->GetRowCount() != g_chat + 1) {
      std::fprintf(stderr, "bench_ui: %d bubble rows, not %d\n", bubbles->GetRowCount(),
                   g_chat + 1);
      return 1;
    }
    const int target = (r + 1) * g_chat / (g_runs + 1);
    scrollMs.push_back(TimeMs([&] {
      bubbles->ScrollToRow(target, true);
      bubbles->View()->viewport()->repaint();
    }));
    if (!bubbles->ShownElement(target)) {
      std::fprintf(stderr, "bench_ui: bubble %d not shown after scrolling\n", target);
      return 1;
    }
    built = std::max(built, bubbles->BuiltElementCount());
  }

  QTableView bare;
  BareModel model;
  bare.setModel(&model);
  bare.resize(list->View()->size());
  bare.show();
  Settle();
  for (int r = 0; r < g_runs; ++r) {
    model.Show(0);
    bare.viewport()->repaint();
    floorMs.push_back(TimeMs([&] {
      model.Show(g_rows);
      bare.viewport()->repaint();
    }));
  }
  const double floor = Median(floorMs);
  std::printf("rows=%d runs=%d scan=%.0fms ticked-at-end=%u of %u\n", g_rows, g_runs, scanMs,
              label.tickedVisible, label.items);
  auto line = [floor](const char* what, double ms, const char* target) {
    std::printf("%-42s median %8.2f ms  ratio to floor %6.2f  %s\n", what, ms, ms / floor, target);
  };
  line("floor: bare table shows the rows", floor, "");
  line("list the messages (select, paint)", Median(listMs), "target < 200 ms");
  line("tick or untick all (header box, paint)", Median(tickMs), "target < 100 ms");
  line("deleted-only filter on or off (paint)", Median(filterMs), "target < 100 ms");
  std::printf("chat of %d messages: at most %d bubble controls made\n", g_chat, built);
  line("open the chat in the preview (show, paint)", Median(chatMs), "no visible pause");
  line("scroll the chat to a far row (place, paint)", Median(scrollMs), "no visible pause");
  std::printf(
      "peak memory: scan alone %ld MB, scan on the page %ld MB, the page adds %ld MB"
      "  target < 50 MB\n",
      scanKb / 1024, pageKb / 1024, (pageKb - scanKb) / 1024);
  return 0;
}
