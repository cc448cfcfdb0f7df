#include "app/scan_page.h"

#include <QFontMetrics>
#include <QTableView>
#include <algorithm>

#include "app/lang/language_store.h"
#include "app/main_wnd.h"
#include "app/popups.h"
#include "app/preview_pane.h"
#include "app/print_window.h"
#include "app/qt_text.h"
#include "app/recover_window.h"
#include "app/window_messages.h"
#include "scan/data_source_factory.h"

namespace bv {

namespace {

// The tree's three groups and a node per category, in the categories' fixed order.
struct NodeInfo {
  const char* key;  // the name's key in the scan page's language section
  const char* name;
  const char* icon;
  int group;
};
constexpr NodeInfo kNodes[kCategoryCount] = {
    {"NodeCameraRoll", "Camera Roll", "file='Controls.png' source='1,410,19,428'", 0},
    {"NodePhotoStream", "Photo Stream", "file='Controls.png' source='19,410,37,428'", 0},
    {"NodeAppPhotos", "App Photos", "file='Controls.png' source='37,410,55,428'", 0},
    {"NodeAppVideos", "App Videos", "file='Controls.png' source='55,410,73,428'", 0},
    {"NodeMessages", "Messages", "file='Controls.png' source='73,410,91,428'", 1},
    {"NodeMessageAttachments", "Messages Attachments",
     "file='Controls.png' source='91,410,109,428'", 1},
    {"NodeContacts", "Contacts", "file='Controls.png' source='109,410,127,428'", 1},
    {"NodeCallHistory", "Call History", "file='Controls.png' source='127,410,145,428'", 1},
    {"NodeNotes", "Notes", "file='Controls.png' source='145,410,163,428'", 1},
    {"NodeWhatsApp", "WhatsApp", "file='Controls.png' source='163,410,181,428'", 1},
    {"NodeWhatsAppAttachments", "WhatsApp Attachments",
     "file='Controls.png' source='91,410,109,428'", 1},
    {"NodeReminder", "Reminder", "file='Controls.png' source='181,410,199,428'", 1},
    {"NodeCalendar", "Calendar", "file='Controls.png' source='199,410,217,428'", 1},
    {"NodeSafariBookmark", "Safari Bookmark", "file='Controls.png' source='217,410,235,428'", 1},
    {"NodeWeChat", "WeChat", "file='Controls.png' source='73,410,91,428'", 2},
    {"NodeQQ", "QQ", "file='Controls.png' source='73,410,91,428'", 2},
};
struct GroupInfo {
  const char* key;
  const char* name;
};
constexpr GroupInfo kGroups[kTreeGroupCount] = {{"NodePhotosVideos", "Photos & Videos"},
                                                {"NodeMessagesCallLogs", "Messages & Call logs"},
                                                {"NodeChatApps", "Chat apps"}};
// Tree node data: a category's id (1..16) for its node, these for the groups.
constexpr quintptr kGroupData = 100;

constexpr const char* kStatisticsPattern = "You select %s in %d item(s) of %s in %d item(s)";
constexpr const char* kFilterCountPattern = "Files Filtered: %d item(s)";
constexpr int kMaxCategoryId = kCategoryCount;
// A cell's margins around its text (the list's padding and the style's margins).
constexpr int kCellPadding = 20;

// The engine's reason as a sentence.
QString AsSentence(const QString& reason) {
  QString text = reason.trimmed();
  if (!text.isEmpty()) {
    text[0] = text[0].toUpper();
    if (!text.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  }
  return text;
}

bool IsAppCategory(Category c) {
  return c == Category::AppPhotos || c == Category::AppVideos;
}

Qt::CheckState TickState(const StatNode& node) {
  if (node.ticked == 0 && node.items > 0) return Qt::Unchecked;
  return node.ticked >= node.items ? Qt::Checked : Qt::PartiallyChecked;
}

}  // namespace

CScanVrtWnd::CScanVrtWnd(CMainWnd& main, ui::CSkinWindow& window)
    : CBaseVrtWnd(main, window, QStringLiteral("ScanVtrWnd"), "PageScan") {
  m_session.SetEventSink(this);
}

CScanVrtWnd::~CScanVrtWnd() {
  Shutdown();
  // The list points at the rows, which point into the session's stores.
  if (m_list) m_list->SetRowSource(nullptr);
}

std::string CScanVrtWnd::Message(const char* id) const {
  return Main().MessageText(id);
}

QString CScanVrtWnd::PageText(const char* key, const char* fallback) const {
  const std::string text =
      lang::CLanguageStore::text(lang::CLanguageStore::instance().section(LanguageSection()), key);
  return text.empty() ? QString::fromUtf8(fallback) : ToQ(text);
}

void CScanVrtWnd::OnInit() {
  m_tree = FindAs<ui::CTreeViewUI>(QStringLiteral("NodeTree"));
  m_list = FindAs<ui::CListUI>(QStringLiteral("DataList"));
  m_progress = FindAs<ui::CProgressUI>(QStringLiteral("ProgressScan"));
  m_percent = Find(QStringLiteral("LblPercent"));
  m_gifLoading = FindAs<ui::CGifAnimUI>(QStringLiteral("BtnGifLoading"));
  m_gifScanning = FindAs<ui::CGifAnimUI>(QStringLiteral("BtnGifScanning"));
  m_filter = FindAs<ui::COptionUI>(QStringLiteral("OptOnOffFilter"));
  m_previewSwitch = FindAs<ui::COptionUI>(QStringLiteral("OptOnOffPreview"));
  ApplyTexts();
  RefreshRecoveryButton();
}

void CScanVrtWnd::ApplyTexts() {
  CBaseVrtWnd::ApplyTexts();
  // Texts the page computes: they follow the state, not the skin.
  RefreshPauseText();
  if (m_session.SourceKind() == kLocalBackupSource || m_session.SourceKind() == kDeviceSource)
    if (m_groups[0] != nullptr) ShowSourceTexts();
  for (int g = 0; g < kTreeGroupCount; ++g)
    if (m_groups[static_cast<std::size_t>(g)])
      m_groups[static_cast<std::size_t>(g)]->SetText(PageText(kGroups[g].key, kGroups[g].name));
  UpdateNodes();
  if (m_selected) SetColumns();
  RefreshStatistics();
  RefreshFilterCount();
}

// ---------------------------------------------------------------------------------
// Starting, the worker's messages, the end.

bool CScanVrtWnd::StartScan(std::int32_t sourceKind) {
  if (sourceKind != kLocalBackupSource && sourceKind != kDeviceSource) return false;
  if (sourceKind == kDeviceSource && m_device == nullptr) return false;
  // A refused password ends the worker right after it says so; let it finish.
  if (m_session.IsScanning() && m_session.WrongPassword()) m_session.Wait();
  ScanRequest request;
  request.sourceKind = sourceKind;
  request.catalog = &Main().Catalog();
  request.deviceContext = m_device;
  request.backup = m_backup;
  request.chosen = m_chosen;
  request.password = sourceKind == kLocalBackupSource ? m_password : std::string();
  return BeginScan([&] { return m_session.Start(request); });
}

bool CScanVrtWnd::StartScan(std::unique_ptr<IPhoneRecoveryParse> source, std::int32_t sourceKind) {
  if (sourceKind != kLocalBackupSource && sourceKind != kDeviceSource) return false;
  return BeginScan(
      [&] { return m_session.Start(std::move(source), sourceKind, m_chosen, m_password); });
}

bool CScanVrtWnd::BeginScan(const std::function<bool()>& start) {
  if (m_session.IsScanning()) return false;
  // The list and the pane let go of the stores before the session empties them.
  ResetPage(true);
  const bool started = start();
  if (started) {
    if (m_session.SourceKind() == kDeviceSource) {
      m_scanned = BackupRecord{};
      m_scanned.displayName = m_deviceName;
    } else {
      m_scanned = m_backup;
    }
    BuildTree();
    ShowSourceTexts();
  } else {
    PlayAnimation(false);
  }
  RefreshStatistics();
  RefreshRecoveryButton();
  return started;
}

void CScanVrtWnd::ResetPage(bool scanning) {
  for (QString& problem : m_problems) problem.clear();
  ClearList();
  if (m_tree) m_tree->RemoveAllNodes();
  m_nodes.fill(nullptr);
  m_groups.fill(nullptr);
  if (m_progress) m_progress->SetValue(0);
  if (m_percent) m_percent->SetText(QStringLiteral("0%"));
  m_paused = false;
  RefreshPauseText();
  ShowInfoPane(!scanning);
  auto show = [this](const char* name, bool visible) {
    if (ui::CControlUI* c = Find(QString::fromLatin1(name))) c->SetVisible(visible);
  };
  auto enable = [this](const char* name, bool enabled) {
    if (ui::CControlUI* c = Find(QString::fromLatin1(name))) c->SetEnabled(enabled);
  };
  show("HorLayoutScan", scanning);
  show("HorLayoutMain", !scanning);
  show("ScanToolBar", true);
  show("ReocveryToolBar", false);
  show("DataListToolBar", false);
  enable("BtnHome", !scanning);
  enable("BtnRecovery", false);
  PlayAnimation(scanning);
}

void CScanVrtWnd::SetCategoryProblem(Category c, const QString& reason) {
  m_problems[static_cast<std::size_t>(c)] = AsSentence(reason);
  UpdateNodes();
  RefreshProblem();
}

void CScanVrtWnd::RefreshProblem() {
  ui::CControlUI* label = Find(QStringLiteral("LblCategoryProblem"));
  if (!label) return;
  const QString text = m_selected ? m_problems[static_cast<std::size_t>(*m_selected)] : QString();
  label->SetText(text);
  label->setToolTip(text);
  label->SetVisible(!text.isEmpty());
}

void CScanVrtWnd::ClearList() {
  Main().PreviewPane().Clear();
  if (m_list) m_list->SetRowSource(nullptr);
  m_rows.Clear();
  m_selected.reset();
  RefreshProblem();
  if (ui::CControlUI* bar = Find(QStringLiteral("FilterToolBar"))) bar->SetVisible(false);
  if (ui::CControlUI* count = Find(QStringLiteral("LblFilterCount"))) count->SetVisible(false);
  if (ui::CControlUI* back = Find(QStringLiteral("BtnBackAppDir"))) back->SetVisible(false);
}

void CScanVrtWnd::BuildTree() {
  if (!m_tree) return;
  m_tree->RemoveAllNodes();
  m_nodes.fill(nullptr);
  for (int g = 0; g < kTreeGroupCount; ++g) {
    m_groups[static_cast<std::size_t>(g)] =
        m_tree->AddNode(PageText(kGroups[g].key, kGroups[g].name), nullptr, kGroupData + g);
    m_groups[static_cast<std::size_t>(g)]->SetAttribute(QStringLiteral("style"),
                                                        QStringLiteral("TreeNodeType"));
  }
  for (int i = 0; i < kCategoryCount; ++i) {
    if (!m_chosen[static_cast<std::size_t>(i)]) continue;
    const NodeInfo& info = kNodes[i];
    ui::CTreeNodeUI* node =
        m_tree->AddNode(CategoryName(static_cast<Category>(i)) + QStringLiteral(" (0)"),
                        m_groups[static_cast<std::size_t>(info.group)],
                        static_cast<quintptr>(CategoryId(static_cast<Category>(i))));
    node->SetAttribute(QStringLiteral("style"), QStringLiteral("TreeNodeType"));
    node->SetIcon(QString::fromLatin1(info.icon));
    m_nodes[static_cast<std::size_t>(i)] = node;
  }
  m_tree->ExpandAll();
  // Nodes stay hidden until their category has results.
  for (ui::CTreeNodeUI* node : m_nodes)
    if (node) node->SetVisible(false);
}

QString CScanVrtWnd::CategoryName(Category c) const {
  const NodeInfo& info = kNodes[static_cast<int>(c)];
  return PageText(info.key, info.name);
}

ui::CTreeNodeUI* CScanVrtWnd::CategoryNode(Category c) const {
  return m_nodes[static_cast<std::size_t>(c)];
}

void CScanVrtWnd::ShowSourceTexts() {
  const bool device = m_session.SourceKind() == kDeviceSource;
  const QString scanning = ToQ(Message(device ? "MSG0503" : "MSG0501"));
  const QString recover = ToQ(Message(device ? "MSG0504" : "MSG0502"));
  const QString image = QString::fromLatin1(device ? kDeviceSourceImage : kBackupSourceImage);
  if (ui::CControlUI* c = Find(QStringLiteral("LblScanType"))) c->SetText(scanning);
  if (ui::CControlUI* c = Find(QStringLiteral("LblScanInfo"))) {
    c->SetText(scanning);
    c->SetBkImage(image);
  }
  if (ui::CControlUI* c = Find(QStringLiteral("LblRemark"))) {
    c->SetText(recover);
    // The same picture, where the header's taller strip centres it.
    QString header = image;
    header.replace(QStringLiteral("dest='0,0,53,53'"), QStringLiteral("dest='0,18,53,71'"));
    c->SetBkImage(header);
  }
}

void CScanVrtWnd::ShowInfoPane(bool info) {
  if (ui::CControlUI* c = Find(QStringLiteral("iPhoneInfoLayout"))) c->SetVisible(info);
  if (ui::CControlUI* c = Find(QStringLiteral("DataListLayout"))) c->SetVisible(!info);
}

void CScanVrtWnd::PlayAnimation(bool play) {
  for (ui::CGifAnimUI* gif : {m_gifLoading, m_gifScanning}) {
    if (!gif) continue;
    if (play)
      gif->PlayGif();
    else
      gif->StopGif();
  }
}

void CScanVrtWnd::OnWorkerMessage(int message, std::int64_t param, const QString& text) {
  switch (message) {
    case msg::kUpdateCounts:
      UpdateNodes();
      RefreshStatistics();
      RefreshRecoveryButton();
      break;
    case msg::kCategorySelection:
      OnNodeReady(static_cast<std::int32_t>(param));
      break;
    case msg::kScanEnded:
      OnScanEnded();
      break;
    case msg::kPasswordResult:
      // The source is open: the information pane with its animation until a category
      // has something to list.
      if (param == 0 && !m_selected) ShowInfoPane(true);
      break;
    case msg::kScanProgress:
      if (m_progress) m_progress->SetValue(static_cast<int>(param));
      if (m_percent) m_percent->SetText(QStringLiteral("%1%").arg(param));
      break;
    case msg::kScanWarning:
      if (!text.isEmpty()) {
        if (ToUtf8(text) == kScanFailedWarning)
          ShowOpenFailure();
        else
          show_message(kMsgWarning, &Main(), Main().MessageText(ToUtf8(text)), std::nullopt, 550,
                       200);
      }
      break;
    case msg::kScanSourceProblem:
      // The session keeps the reason until the next scan or Home; a message left over
      // from a scan already cleared reads an empty one and shows nothing.
      if (param >= 1 && param <= kMaxCategoryId) {
        const Category c = CategoryFromId(static_cast<std::int32_t>(param));
        SetCategoryProblem(c, ToQ(m_session.CategoryProblem(c)));
      }
      break;
    default:
      break;
  }
}

void CScanVrtWnd::OnNodeReady(std::int32_t categoryId) {
  UpdateNodes();
  if (categoryId < 1 || categoryId > kMaxCategoryId) return;
  // The first category with results fills the list unless the user chose one already.
  if (!m_selected && (!m_tree || m_tree->GetSelectedNode() == nullptr))
    SelectCategory(CategoryFromId(categoryId));
}

void CScanVrtWnd::ShowOpenFailure() {
  std::string shown = Main().MessageText(std::string(kScanFailedWarning));
  // Why the source could not be opened (the manifest damaged, a file missing).
  const QString why = AsSentence(ToQ(m_session.OpenProblem()));
  if (!why.isEmpty()) shown += "\n" + ToUtf8(why);
  show_message(kMsgWarning, &Main(), shown, std::nullopt, 550, 200);
}

void CScanVrtWnd::OnScanEnded() {
  // A backup that could not be opened (other than by a wrong password, asked for again,
  // or a failure already told) reads as empty: the user is told why rather than left
  // with empty categories.
  const std::int32_t open = m_session.OpenResult();
  if (open != kSuccess && open != kStopped && open != kScanError && !m_session.WrongPassword())
    ShowOpenFailure();
  // A scan can end right after the user paused it (after its last category): the lock
  // goes back and the page leaves the paused look.
  if (m_session.IsPaused()) m_session.Resume();
  m_paused = false;
  RefreshPauseText();
  auto show = [this](const char* name, bool visible) {
    if (ui::CControlUI* c = Find(QString::fromLatin1(name))) c->SetVisible(visible);
  };
  show("ScanToolBar", false);
  show("ReocveryToolBar", true);
  show("DataListToolBar", true);
  PlayAnimation(false);
  if (ui::CControlUI* home = Find(QStringLiteral("BtnHome"))) home->SetEnabled(true);
  UpdateNodes();
  RefreshStatistics();
  RefreshRecoveryButton();
}

void CScanVrtWnd::OnProgressTimer() {
  if (!m_tree || m_groups[0] == nullptr) return;
  UpdateNodes();
  // A category with results and nothing selected yet: the list shows it.
  if (!m_selected && m_tree->GetSelectedNode() == nullptr)
    for (int i = 0; i < kCategoryCount; ++i)
      if (m_nodes[static_cast<std::size_t>(i)] && m_session.NodeShown(static_cast<Category>(i))) {
        Main().PostMessage(msg::kCategorySelection, CategoryId(static_cast<Category>(i)));
        break;
      }
}

void CScanVrtWnd::UpdateNodes() {
  for (int i = 0; i < kCategoryCount; ++i) {
    ui::CTreeNodeUI* node = m_nodes[static_cast<std::size_t>(i)];
    if (!node) continue;
    const auto c = static_cast<Category>(i);
    node->SetText(QStringLiteral("%1 (%2)").arg(CategoryName(c)).arg(m_session.CategoryCount(c)));
    // A category that could not be read shows too, so that its reason can be read.
    const bool shown = m_session.NodeShown(c) || !m_problems[static_cast<std::size_t>(i)].isEmpty();
    if (node->IsVisible() != shown) node->SetVisible(shown);
  }
  UpdateTreeTicks();
}

void CScanVrtWnd::UpdateTreeTicks() {
  if (m_groups[0] == nullptr) return;
  std::array<Qt::CheckState, kCategoryCount> states{};
  m_session.ReadStatistics([&](const CStatisticsObj& stats) {
    for (int i = 0; i < kCategoryCount; ++i)
      states[static_cast<std::size_t>(i)] = TickState(stats.CategoryNode(static_cast<Category>(i)));
    return 0;
  });
  for (int g = 0; g < kTreeGroupCount; ++g) {
    int on = 0, off = 0, shown = 0;
    for (int i = 0; i < kCategoryCount; ++i) {
      ui::CTreeNodeUI* node = m_nodes[static_cast<std::size_t>(i)];
      if (!node || kNodes[i].group != g) continue;
      const Qt::CheckState s = states[static_cast<std::size_t>(i)];
      node->ShowCheckState(s);
      if (!node->IsVisible()) continue;
      ++shown;
      on += s == Qt::Checked;
      off += s == Qt::Unchecked;
    }
    m_groups[static_cast<std::size_t>(g)]->ShowCheckState(off == shown && shown > 0 ? Qt::Unchecked
                                                          : on == shown             ? Qt::Checked
                                                                        : Qt::PartiallyChecked);
  }
}

// ---------------------------------------------------------------------------------
// The tree and the list.

bool CScanVrtWnd::SelectCategory(Category c) {
  ui::CTreeNodeUI* node = m_nodes[static_cast<std::size_t>(c)];
  if (!m_tree || !node || !node->IsVisible()) return false;
  if (m_tree->GetSelectedNode() == node) {
    ShowCategory(c);
    return true;
  }
  return m_tree->SelectNode(node, true);  // its "itemselect" fills the list
}

void CScanVrtWnd::OnTreeSelect() {
  // The node the notification is about: a click makes it current before the selection
  // follows.
  ui::CTreeNodeUI* node = m_tree ? m_tree->GetEventNode() : nullptr;
  if (!node) return;
  const auto id = static_cast<std::int32_t>(node->GetData());
  if (id < 1 || id > kMaxCategoryId) return;  // a group: the list stays as it is
  ShowCategory(CategoryFromId(id));
}

void CScanVrtWnd::ShowCategory(Category c) {
  m_selected = c;
  Main().PreviewPane().Clear();
  ShowInfoPane(false);
  const bool filterable = CStatisticsObj::IsFilterable(c);
  if (ui::CControlUI* bar = Find(QStringLiteral("FilterToolBar"))) bar->SetVisible(filterable);
  if (m_filter) {
    const bool on = filterable && m_session.DeletedOnly(c);
    m_filter->SetNormalImage(QString::fromLatin1(kFilterOffImage));
    m_filter->SetSelectedImage(QString::fromLatin1(kFilterOnImage));
    m_filter->Selected(on, false);
  }
  if (ui::CControlUI* back = Find(QStringLiteral("BtnBackAppDir"))) back->SetVisible(false);
  ShowRows(IsAppCategory(c) ? ResultView::kApps : ResultView::kRecords, nullptr);
  RefreshFilterCount();
  RefreshProblem();
}

void CScanVrtWnd::ShowRows(ResultView view, const StatNode* app) {
  if (!m_selected) return;
  const Category c = *m_selected;
  if (m_list) m_list->SetRowSource(nullptr);
  m_rows.Fill(c, view, app);
  m_rows.SetDeletedOnly(CStatisticsObj::IsFilterable(c) && m_session.DeletedOnly(c));
  SetColumns();
  if (m_list) m_list->SetRowSource(&m_rows);
  RefreshHeaderTick();
}

void CScanVrtWnd::SetColumns() {
  if (!m_list) return;
  const std::vector<ResultColumn>& columns = m_rows.Columns();
  // Column 0 is the tick box; a category with more columns than the skin has gets more.
  while (m_list->GetColumnCount() < static_cast<int>(columns.size()) + 1)
    m_list->AddColumn(QStringLiteral("Col%1").arg(m_list->GetColumnCount()), QString(), 0);
  for (int i = 1; i < m_list->GetColumnCount(); ++i) {
    ui::CListHeaderItemUI* header = m_list->GetColumn(i);
    if (i - 1 < static_cast<int>(columns.size())) {
      const ResultColumn& col = columns[static_cast<std::size_t>(i - 1)];
      header->SetText(PageText(col.key, col.heading));
      int width = col.width;
      // The described widths suit a narrower font than this platform may have: dates
      // and numbers are never cut.
      if (width > 0 && col.sample[0] != '\0')
        width = std::max(
            width,
            QFontMetrics(m_list->GetFont()).horizontalAdvance(QString::fromLatin1(col.sample)) +
                kCellPadding);
      header->SetColumnWidth(width);
      header->SetVisible(true);
    } else {
      header->SetText(QString());
      header->SetVisible(false);
    }
  }
  m_list->HeaderChanged();
}

void CScanVrtWnd::OnListCheck(int row, bool ticked) {
  const std::size_t entry = m_rows.Entry(row);
  if (entry == CStatisticsObj::npos) return;
  m_session.SetTicked(entry, ticked);
  if (m_list) m_list->RowSourceRowChanged(row);
  AfterTicks();
}

void CScanVrtWnd::OnListClick(int row) {
  if (m_rows.View() != ResultView::kApps) return;
  // An app of the app list opens as the list of its files.
  const StatItem item = m_rows.Item(row);
  const auto* node = std::get_if<const StatNode*>(&item);
  if (!node || !*node) return;
  ShowRows(ResultView::kAppFiles, *node);
  if (ui::CControlUI* back = Find(QStringLiteral("BtnBackAppDir"))) back->SetVisible(true);
}

void CScanVrtWnd::OnListSelect(int row) {
  if (!m_selected || m_rows.View() == ResultView::kApps) return;
  const StatItem item = m_rows.Item(row);
  if (std::holds_alternative<std::monostate>(item)) return;
  Main().PreviewPane().ShowRow(PreviewRow{*m_selected, item});
}

void CScanVrtWnd::OnHeaderTick() {
  if (!m_selected || m_rows.Empty()) return;
  const Category c = *m_selected;
  const StatNode* app = m_rows.App();
  const bool all = m_session.ReadStatistics([&](const CStatisticsObj& stats) {
    const StatNode& node = app ? *app : stats.CategoryNode(c);
    return node.ticked >= node.items;
  });
  if (app)
    m_session.SetTicked(app->entry, !all);
  else
    m_session.SetCategoryTicked(c, !all);
  if (m_list) m_list->RowSourceDataChanged();
  AfterTicks();
}

void CScanVrtWnd::OnTreeCheck(std::int64_t checked) {
  ui::CTreeNodeUI* node = m_tree ? m_tree->GetEventNode() : nullptr;
  if (!node) return;
  const bool on = checked != 0;
  const auto data = node->GetData();
  for (int i = 0; i < kCategoryCount; ++i) {
    if (!m_nodes[static_cast<std::size_t>(i)]) continue;
    const auto c = static_cast<Category>(i);
    const bool hit = data == static_cast<quintptr>(CategoryId(c)) ||
                     data == kGroupData + static_cast<quintptr>(kNodes[i].group);
    if (hit) m_session.SetCategoryTicked(c, on);
  }
  if (m_list) m_list->RowSourceDataChanged();
  AfterTicks();
}

void CScanVrtWnd::OnFilterChanged() {
  if (!m_selected || !m_filter || !CStatisticsObj::IsFilterable(*m_selected)) return;
  const bool on = m_filter->IsSelected();
  m_filter->SetNormalImage(QString::fromLatin1(kFilterOffImage));
  m_filter->SetSelectedImage(QString::fromLatin1(kFilterOnImage));
  m_session.SetDeletedOnly(*m_selected, on);
  m_rows.SetDeletedOnly(on);
  if (m_list) m_list->RowSourceReset();
  Main().PreviewPane().Clear();
  AfterTicks();
}

bool CScanVrtWnd::DeletedOnly() const {
  return m_selected && CStatisticsObj::IsFilterable(*m_selected) &&
         m_session.DeletedOnly(*m_selected);
}

void CScanVrtWnd::AfterTicks() {
  RefreshHeaderTick();
  UpdateTreeTicks();
  RefreshStatistics();
  RefreshRecoveryButton();
  RefreshFilterCount();
}

void CScanVrtWnd::RefreshHeaderTick() {
  ui::CListHeaderItemUI* header = m_list ? m_list->GetColumn(0) : nullptr;
  if (!header) return;
  bool all = false;
  if (m_selected && !m_rows.Empty()) {
    const Category c = *m_selected;
    const StatNode* app = m_rows.App();
    all = m_session.ReadStatistics([&](const CStatisticsObj& stats) {
      const StatNode& node = app ? *app : stats.CategoryNode(c);
      return node.ticked >= node.items;
    });
  }
  header->SetImage(QString::fromLatin1(all ? kListTickImage : kListUntickImage));
}

QString CScanVrtWnd::StatisticsText() const {
  std::string pattern = const_cast<CScanVrtWnd*>(this)->Message("MSG0513");
  if (pattern.empty()) pattern = kStatisticsPattern;
  const StatisticsLabel label = m_session.Label();
  return ToQ(lang::FormatMessageArgs(
      pattern, {label.tickedSize, label.tickedVisible, label.totalSize, label.items}));
}

QString CScanVrtWnd::FilterCountText() const {
  const std::uint32_t hidden = m_selected ? m_session.FilteredCount(*m_selected) : 0;
  std::string pattern = ToUtf8(PageText("FilterCount", kFilterCountPattern));
  return ToQ(lang::FormatMessageArgs(pattern, {hidden}));
}

void CScanVrtWnd::RefreshStatistics() {
  if (ui::CControlUI* label = Find(QStringLiteral("LblStatistics")))
    label->SetText(StatisticsText());
}

void CScanVrtWnd::RefreshRecoveryButton() {
  if (ui::CControlUI* button = Find(QStringLiteral("BtnRecovery")))
    button->SetEnabled(m_session.RecoveryEnabled());
}

void CScanVrtWnd::RefreshFilterCount() {
  ui::CControlUI* label = Find(QStringLiteral("LblFilterCount"));
  if (!label) return;
  label->SetText(FilterCountText());
  label->SetVisible(DeletedOnly());
}

void CScanVrtWnd::RefreshPauseText() {
  if (ui::CControlUI* pause = Find(QStringLiteral("BtnScanPause"))) {
    const std::string text = Message(m_paused ? "MSG0506" : "MSG0507");
    if (!text.empty()) pause->SetText(ToQ(text));
  }
}

// ---------------------------------------------------------------------------------
// Pause, stop, home, closing.

void CScanVrtWnd::TogglePause() {
  if (!m_session.IsScanning()) return;
  if (!m_paused) {
    m_session.Pause();
    m_paused = true;
    PlayAnimation(false);
  } else {
    m_session.Resume();
    m_paused = false;
    PlayAnimation(true);
  }
  RefreshPauseText();
  RefreshRecoveryButton();
}

void CScanVrtWnd::AskStop() {
  if (!m_session.IsScanning() || m_stopAsked) return;
  if (!m_paused) {
    m_session.BeginStop();
    PlayAnimation(false);
  }
  m_stopAsked = true;
  const int answer =
      show_message(kMsgQuestion, &Main(), Message("MSG0508"), std::nullopt, 550, 200);
  m_stopAsked = false;
  if (answer == 1) {
    m_paused = false;
    RefreshPauseText();
    m_session.ConfirmStop();
  } else {
    m_session.CancelStop();
    if (!m_paused && m_session.IsScanning()) PlayAnimation(true);
  }
  RefreshRecoveryButton();
}

void CScanVrtWnd::OnHome() {
  if (m_session.IsScanning()) return;
  if (m_selected &&
      show_message(kMsgQuestion, &Main(), Message("MSG0510"), std::nullopt, 550, 200) != 1)
    return;
  ResetPage(false);
  m_session.Clear();
  if (auto* tabs = Main().Find<ui::CTabLayoutUI>(QStringLiteral("MainTabPage")))
    tabs->SelectItem(0);
  Main().SelectStep(1);
  // Nothing is left to show on the third step until the next scan.
  if (ui::CControlUI* step3 = Main().FindControl(QStringLiteral("OptStep3")))
    step3->SetEnabled(false);
  RefreshStatistics();
  RefreshRecoveryButton();
}

bool CScanVrtWnd::QueryClose() {
  if (m_session.IsScanning()) {
    if (!m_paused) {
      m_session.BeginStop();
      PlayAnimation(false);
    }
    const int answer = show_message(kMsgWarning, &Main(), Message("MSG0511"), Message("MSG0405"),
                                    550, 200, /*showCancel=*/true);
    if (answer == 1) {
      m_paused = false;
      m_session.ConfirmStop();
      return true;
    }
    m_session.CancelStop();
    if (!m_paused && m_session.IsScanning()) PlayAnimation(true);
    return false;
  }
  if (m_selected && !m_rows.Empty())
    return show_message(kMsgWarning, &Main(), Message("MSG0511"), Message("MSG0405"), 550, 200,
                        /*showCancel=*/true) == 1;
  return true;
}

void CScanVrtWnd::Shutdown() {
  if (m_session.IsScanning()) m_session.Stop();
  m_session.Wait();
}

void CScanVrtWnd::Recover() {
  RunRecovery(Main(), *this);
}

void CScanVrtWnd::Print() {
  RunPrint(Main(), *this);
}

// ---------------------------------------------------------------------------------

void CScanVrtWnd::Notify(ui::TNotifyUI& msg) {
  const QString name = msg.SenderName();
  if (msg.sType == QLatin1String("click")) {
    if (name == QLatin1String("BtnScanPause")) {
      TogglePause();
    } else if (name == QLatin1String("BtnScanStop")) {
      AskStop();
    } else if (name == QLatin1String("BtnHome")) {
      OnHome();
    } else if (name == QLatin1String("BtnRecovery")) {
      if (m_session.RecoveryEnabled()) m_recoveryAction ? m_recoveryAction() : Recover();
    } else if (name == QLatin1String("BtnPrint")) {
      if (!m_session.IsScanning() || m_paused) m_printAction ? m_printAction() : Print();
    } else if (name == QLatin1String("BtnBackAppDir")) {
      if (m_selected && IsAppCategory(*m_selected)) {
        ShowRows(ResultView::kApps, nullptr);
        if (msg.pSender) msg.pSender->SetVisible(false);
      }
    }
  } else if (msg.sType == QLatin1String("itemselect")) {
    if (name == QLatin1String("NodeTree"))
      OnTreeSelect();
    else if (name == QLatin1String("DataList"))
      OnListSelect(static_cast<int>(msg.wParam));
  } else if (msg.sType == QLatin1String("itemcheck")) {
    if (name == QLatin1String("NodeTree"))
      OnTreeCheck(msg.wParam);
    else if (name == QLatin1String("DataList"))
      OnListCheck(static_cast<int>(msg.wParam), msg.lParam != 0);
  } else if (msg.sType == QLatin1String("itemclick")) {
    if (name == QLatin1String("DataList")) OnListClick(static_cast<int>(msg.wParam));
  } else if (msg.sType == QLatin1String("headerclick")) {
    if (name == QLatin1String("CheckAll")) OnHeaderTick();
  } else if (msg.sType == QLatin1String("selectchanged")) {
    if (name == QLatin1String("OptOnOffFilter")) {
      OnFilterChanged();
    } else if (name == QLatin1String("OptOnOffPreview")) {
      if (ui::CControlUI* pane = Find(QStringLiteral("PreviewLayout")))
        pane->SetVisible(m_previewSwitch && m_previewSwitch->IsSelected());
    }
  } else if (msg.sType == QLatin1String("timer")) {
    if (name == QLatin1String("ProgressScan")) OnProgressTimer();
  }
}

void CScanVrtWnd::Post(const ScanEvent& event) noexcept {
  int message = 0;
  switch (event.kind) {
    case ScanEventKind::Counts:
      message = msg::kUpdateCounts;
      break;
    case ScanEventKind::NodeReady:
      message = msg::kCategorySelection;
      break;
    case ScanEventKind::Ended:
      message = msg::kScanEnded;
      break;
    case ScanEventKind::OpenState:
      message = msg::kPasswordResult;
      break;
    case ScanEventKind::Warning:
      message = msg::kScanWarning;
      break;
    case ScanEventKind::Progress:
      message = msg::kScanProgress;
      break;
    case ScanEventKind::SourceProblem:
      message = msg::kScanSourceProblem;
      break;
  }
  if (message == 0) return;
  try {
    msg::Post(&Main(), message, event.param, 0, ToQ(event.text));
  } catch (...) {
    // Out of memory while queueing: the message is lost, the worker goes on.
  }
}

}  // namespace bv
