// SPDX-License-Identifier: MIT
#include "app/ui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QScopedValueRollback>
#include <QTableWidget>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <cstdlib>

#include "acquisition/ui/alarm_style.h"
#include "acquisition/ui/cached_cell_delegate.h"
#include "acquisition/ui/follow_newest.h"
#include "acquisition/ui/reading_columns.h"
#include "acquisition/ui/scan_table_model.h"
#include "acquisition/ui/scan_table_view.h"
#include "app/ui/connect_form.h"
#include "app/ui/scheduler_driver.h"
#include "common/ui/qt_seams.h"
#include "charts/trend_chart.h"
#include "charts/ui/qpainter_canvas.h"
#include "charts/ui/trend_chart_view.h"

namespace kalivor {

namespace {
constexpr double kWindowWidth = 16650;
const char* const kWidestReading = "+8.888888E+88";
const char* const kWidestTimeStamp = "0000/00/00 00:00:00";
constexpr double kTabTop = 8400;
constexpr double kTabHeight = 3900;
constexpr double kScanControlTop = kTabTop + kTabHeight + 120;
constexpr std::array<int, 6> kScanControlWidths = {3202, 1040, 1040, 1755, 1995, 1987};
constexpr double kChannelColumnTwips = (kWindowWidth - 480) / 10;
// How far the window may shrink below its own height (pixels), so it fits a 1366 x 768 screen
// with a task bar (leaving a few pixels for a taller menu bar), and which share of a growth in
// height goes to the chart (the rest to the tables). Shrinking, the chart gives up the height:
// the readings table keeps room for kLeastReadingRows scans.
constexpr int kMostShrink = 270;
constexpr double kChartShare = 0.81;
constexpr int kLeastReadingRows = 4;
// How long a stored scan may wait to be shown (the window refreshes at most four times a second
// while scans come; each repaints the grids, the scan table and the chart), and how often the run
// status is brought up to date.
constexpr int kLiveSyncMs = 250;
constexpr int kStatusSyncMs = 500;

// The live tables hold numbers, times and names: their cells need no text shaping (ligatures,
// kerning), which costs most of repainting a cell, and they repaint with every scan.
void skipShaping(QWidget* w) {
  QFont f = w->font();
  f.setStyleStrategy(QFont::PreferNoShaping);
  w->setFont(f);
}

QTableWidget* makeGrid(QWidget* parent, const QString& name, int rows, int columns) {
  auto* g = new QTableWidget(rows, columns, parent);
  skipShaping(g);
  g->setObjectName(name);
  g->horizontalHeader()->hide();
  g->verticalHeader()->hide();
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionMode(QAbstractItemView::NoSelection);
  g->setFocusPolicy(Qt::NoFocus);
  return g;
}

void setCell(QTableWidget* g, int r, int c, const QString& text, const QColor* background = nullptr) {
  QTableWidgetItem* item = g->item(r, c);
  if (!item) {
    item = new QTableWidgetItem;
    item->setTextAlignment(Qt::AlignCenter);
    g->setItem(r, c, item);
  }
  // Every set repaints the cell, even with what it already holds.
  if (item->text() != text) item->setText(text);
  const QBrush brush = background ? QBrush(*background) : QBrush();
  if (item->background() != brush) item->setBackground(brush);
}

void setForeground(QTableWidgetItem* item, const QBrush& brush) {
  if (item->foreground() != brush) item->setForeground(brush);
}
}  // namespace

MainForm::MainForm(Program& program, QWidget* parent) : QMainWindow(parent), p_(program) {
  setObjectName("MainForm");
  setWindowTitle("KALIVOR MAIN");
  // The chart and its picture belong to the program, so they outlive any window showing them.
  auto canvas = std::make_unique<QPainterCanvas>(QSize(kPlotWidthPx, kPlotHeightPx));
  chartCanvas_ = canvas.get();
  p_.attachChart(std::move(canvas));
  buildMenus();
  buildControls();
  p_.run.setObserver(this);
  driver_ = new SchedulerDriver(p_.run.scheduler(), this);
  // A stored scan shows within one interval; the scans of that interval are shown together, so
  // meters scanning fast repaint the window no more often than that.
  syncTimer_ = new QTimer(this);
  syncTimer_->setSingleShot(true);
  syncTimer_->setInterval(kLiveSyncMs);
  connect(syncTimer_, &QTimer::timeout, this, [this] {
    if (!runChanged_) return;
    runChanged_ = false;
    const QScopedValueRollback<bool> afterScan(afterScan_, true);
    syncFromCore();
  });
  // States change without a stored scan (waiting, reconnecting), records are chosen in another
  // window, the disk fills: the status follows on a slower tick of its own.
  statusTimer_ = new QTimer(this);
  statusTimer_->setInterval(kStatusSyncMs);
  connect(statusTimer_, &QTimer::timeout, this, [this] { syncRunStatus(); });
  statusTimer_->start();
  p_.selection.hooks.unloadScanSettings = [this] {
    if (unloadScanSettings) unloadScanSettings();
  };
  p_.selection.hooks.unloadDataTable = [this] {
    if (unloadDataTable) unloadDataTable();
  };
}

MainForm::~MainForm() {
  p_.run.setObserver(nullptr);
  p_.selection.hooks = {};
}

QPushButton* MainForm::button(const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, centralWidget());
  b->setObjectName(name);
  return b;
}

void MainForm::buildMenus() {
  auto action = [this](QMenu* menu, const char* name, const QString& caption) {
    auto* a = menu->addAction(caption);
    a->setObjectName(name);
    return a;
  };
  QMenu* connectTool = menuBar()->addMenu("Connect/Tool");
  connectTool->setObjectName("Connect_Tool");
  Connect_to_Instrument_Menu = action(connectTool, "Connect_to_Instrument_Menu", "Connect to Instrument");
  Set_Scan_Control_Menu = action(connectTool, "Set_Scan_Control_Menu", "Set Scan Control");
  QMenu* operation = menuBar()->addMenu("Operation");
  operation->setObjectName("Operation_Menu");
  Start_Reading_Menu = action(operation, "Start_Reading_Menu", "Start Reading");
  Stop_Reading_Menu = action(operation, "Stop_Reading_Menu", "Stop Reading");
  Keep_Logging_Menu = operation->addAction("Keep logging when an instrument fails");
  Keep_Logging_Menu->setObjectName("Keep_Logging_Menu");
  Keep_Logging_Menu->setCheckable(true);
  Keep_Logging_Menu->setChecked(p_.run.keepGoing);
  connect(Keep_Logging_Menu, &QAction::toggled, this, [this](bool on) { p_.run.keepGoing = on; });
  Central_Database_Menu = action(operation, "Central_Database_Menu", "Central database…");
  connect(Central_Database_Menu, &QAction::triggered, this,
          [this] { if (openCentralDatabase) openCentralDatabase(); });
  QMenu* view = menuBar()->addMenu("View");
  view->setObjectName("view");
  Record_View_Menu = action(view, "Record_View_Menu", "Record View");
  Record_Draw_Menu = action(view, "Record_Draw_Menu", "Record Draw");
  Statistics_Menu = action(view, "Statistics_Menu", "Channel Statistics");
  QMenu* help = menuBar()->addMenu("Help");
  help->setObjectName("Help");
  About_Menu = action(help, "About_Menu", "About");
  Exit_comm = menuBar()->addAction("Exit");
  Exit_comm->setObjectName("Exit_comm");

  connect(Connect_to_Instrument_Menu, &QAction::triggered, this, &MainForm::Add_Remove_Instruments_Button_Click);
  connect(Set_Scan_Control_Menu, &QAction::triggered, this, [this] {
    if (openScanSettings && !operationUnderWay()) openScanSettings();
  });
  connect(Start_Reading_Menu, &QAction::triggered, this, &MainForm::StartReading_Click);
  connect(Stop_Reading_Menu, &QAction::triggered, this, &MainForm::StopReading_Click);
  connect(Record_View_Menu, &QAction::triggered, this, [this] { if (openRecordView) openRecordView(); });
  connect(Record_Draw_Menu, &QAction::triggered, this, [this] { if (openRecordDraw) openRecordDraw(); });
  connect(Statistics_Menu, &QAction::triggered, this, [this] { if (openStatistics) openStatistics(); });
  connect(About_Menu, &QAction::triggered, this, [this] { if (openAbout) openAbout(); });
  connect(Exit_comm, &QAction::triggered, this, &MainForm::Exit_comm_Click);
}

void MainForm::buildControls() {
  auto anchor = [this](QWidget* w, double xByDx, double yByPlot, double yByTabs, double wByDx,
                       double hByPlot, double hByTabs) {
    anchors_.push_back({w, QRect(), xByDx, yByPlot, yByTabs, wByDx, hByPlot, hByTabs});
  };
  auto* central = new QWidget(this);
  setCentralWidget(central);
  central->installEventFilter(this);

  // Toolbar row: printer and the four chart backgrounds sit where the chart's own code puts them.
  PrintSet = button("PrintSet", "Printer");
  PrintSet->setToolTip("Printer");
  PrintSet->setGeometry(px(4920), 0, px(900), px(420));
  connect(PrintSet, &QPushButton::clicked, this, [this] { if (printChart) printChart(); });
  SaveChart = button("SaveChart", "Save Chart");
  SaveChart->setToolTip("Save Chart");
  SaveChart->setGeometry(px(3780), 0, px(1080), px(420));
  connect(SaveChart, &QPushButton::clicked, this, [this] { if (saveChart) saveChart(); });

  // The trend chart's controls sit at their own places in the window.
  chartView = new TrendChartView(trendChart(), *chartCanvas_, central, [this](const CursorReadout& hit) {
    const auto slot = static_cast<std::size_t>(hit.slot);
    if (slot >= scanTableModels.size() || !scanTableModels[slot]) return std::string();
    return scanTableModels[slot]->cellText(hit.gridRow, hit.gridColumn);
  });

  // The live display.
  SSTab1 = new QTabWidget(central);
  SSTab1->setObjectName("SSTab1");
  SSTab1->setGeometry(px(120), px(kTabTop), px(kWindowWidth - 240), px(kTabHeight));
  for (int d = 0; d < 4; ++d) {
    auto* page = new QWidget;
    page->setObjectName(QString("SSTab1_page_%1").arg(d));
    const double w = kWindowWidth - 480;
    auto* grid = makeGrid(page, QString("Channel_MSFlexGrid_%1").arg(d), 4, 10);
    grid->setGeometry(px(60), px(60), px(w), px(1260));
    for (int c = 0; c < 10; ++c) grid->setColumnWidth(c, px(kChannelColumnTwips) - 1);
    for (int r = 0; r < 4; ++r) grid->setRowHeight(r, px(1260 / 4.0) - 1);
    // A full reading ("+1.234567E+00") must fit its cell: a smaller font where the default is too
    // wide for ten columns.
    QFont gridFont = grid->font();
    while (gridFont.pointSizeF() > 6 &&
           QFontMetrics(gridFont).horizontalAdvance(kWidestReading) + 8 > px(w / 10) - 1)
      gridFont.setPointSizeF(gridFont.pointSizeF() - 0.5);
    grid->setFont(gridFont);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Channel_MSFlexGrid[static_cast<std::size_t>(d)] = grid;

    auto* table = new ScanTableView(page);
    table->setObjectName(QString("MSFlexGrid2_%1").arg(d));
    skipShaping(table);
    // Every scan repaints the visible rows; only the newest is new.
    table->setItemDelegate(new CachedCellDelegate(table));
    // The scans of the run under their own heading, as the fetch times beside them.
    auto* readingsLabel = new QLabel("Readings", page);
    readingsLabel->setGeometry(px(60), px(1400), px(3000), px(255));
    table->setGeometry(px(60), px(1680), px(w - 3300), px(kTabHeight - 2180));
    auto* model = new ScanTableModel(p_.display, d, table);
    table->setModel(model);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setDefaultSectionSize(
        std::max(px(1100), table->fontMetrics().horizontalAdvance(kWidestReading) + 12));
    readingColumns_[static_cast<std::size_t>(d)] = new ReadingColumns(table, table->horizontalHeader()->defaultSectionSize());
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Time stamps on one line, in a column wide enough for them.
    table->setWordWrap(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    const int timeWidth = std::max(px(2000), table->fontMetrics().horizontalAdvance("0000/00/00 00:00:00:000") + 12);
    connect(model, &QAbstractItemModel::modelReset, table, [table, timeWidth] { table->setColumnWidth(1, timeWidth); });
    table->setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, table));
    table->setHorizontalScrollBar(new SteadyScrollBar(Qt::Horizontal, table));
    new FollowNewest(table);
    scanTableModels[static_cast<std::size_t>(d)] = model;
    MSFlexGrid2[static_cast<std::size_t>(d)] = table;

    auto* fetchLabel = new QLabel("Fetch Time :", page);
    fetchLabel->setGeometry(px(w - 3120), px(1400), px(3000), px(255));
    auto* list = new QListWidget(page);
    list->setObjectName(QString("ListFetchTime_%1").arg(d));
    list->setGeometry(px(w - 3120), px(1680), px(3180), px(kTabHeight - 2180));
    ListFetchTime[static_cast<std::size_t>(d)] = list;
    // Wider: the grids widen and the fetch times keep to the right edge; taller: the tables.
    anchor(grid, 0, 0, 0, 1, 0, 0);
    anchor(table, 0, 0, 0, 1, 0, 1);
    anchor(fetchLabel, 1, 0, 0, 0, 0, 0);
    anchor(list, 1, 0, 0, 0, 0, 1);
    SSTab1->addTab(page, QString("Deviec %1").arg(d));
  }
  // The tab the user picks is the one shown, also while a run goes on: the core keeps it, so a
  // later refresh does not turn back to the tab the run started on.
  connect(SSTab1, &QTabWidget::currentChanged, this, [this](int index) {
    if (!syncing_ && index >= 0) p_.display.selectedTab = index;
  });

  ScanControl_MSFlexGrid = makeGrid(central, "ScanControl_MSFlexGrid", 4, 6);
  double width = 0;
  for (int c = 0; c < 6; ++c) {
    ScanControl_MSFlexGrid->setColumnWidth(c, px(kScanControlWidths[static_cast<std::size_t>(c)]));
    width += kScanControlWidths[static_cast<std::size_t>(c)];
  }
  ScanControl_MSFlexGrid->setGeometry(px(120), px(kScanControlTop), px(width + 60), px(1360));
  for (int r = 0; r < 4; ++r) ScanControl_MSFlexGrid->setRowHeight(r, px(1300 / 4.1));
  ScanControl_MSFlexGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // A start or stop time fits its column whole: a smaller font where the default is too wide.
  // Longer texts (descriptions) show whole as the cell's tool tip.
  QFont scanFont = ScanControl_MSFlexGrid->font();
  while (scanFont.pointSizeF() > 6 &&
         QFontMetrics(scanFont).horizontalAdvance(kWidestTimeStamp) + 8 > px(kScanControlWidths[4]))
    scanFont.setPointSizeF(scanFont.pointSizeF() - 0.5);
  ScanControl_MSFlexGrid->setFont(scanFont);

  // Run and window buttons beside the scan-control grid, three rows of three; the selection
  // button takes two places for its long caption.
  const double bx = width + 360;
  const double bw = 1690;
  const double bh = 400;
  struct B { const char* name; const char* caption; QPushButton** slot; int row, column, span; };
  const B buttons[] = {
      {"Add_Remove_Instruments_Button", "Add / Remove Instruments", &Add_Remove_Instruments_Button, 0, 0, 2},
      {"Set_Scan_Button", "Set Scan Control", &Set_Scan_Button, 0, 2, 1},
      {"StartReading", "Start", &StartReading, 1, 0, 1},
      {"StopReading", "Stop", &StopReading, 1, 1, 1},
      {"DATATable", "See Value .", &DATATable, 1, 2, 1},
      {"dbSet", "Data save", &dbSet, 2, 0, 1},
      {"RecordView", "Open Record", &RecordView, 2, 1, 1},
      {"RecordDraw", "Record Draw", &RecordDraw, 2, 2, 1},
  };
  for (const B& spec : buttons) {
    auto* b = button(spec.name, spec.caption);
    const double x = bx + spec.column * (bw + 60);
    const double y = kScanControlTop + spec.row * (bh + 60);
    b->setGeometry(px(x), px(y), px(spec.span * bw + (spec.span - 1) * 60), px(bh));
    *spec.slot = b;
  }
  connect(Add_Remove_Instruments_Button, &QPushButton::clicked, this, &MainForm::Add_Remove_Instruments_Button_Click);
  connect(Set_Scan_Button, &QPushButton::clicked, this, [this] { if (openScanSettings) openScanSettings(); });
  connect(StartReading, &QPushButton::clicked, this, &MainForm::StartReading_Click);
  connect(StopReading, &QPushButton::clicked, this, &MainForm::StopReading_Click);
  connect(DATATable, &QPushButton::clicked, this, [this] { if (openDataTable) openDataTable(); });
  connect(dbSet, &QPushButton::clicked, this, [this] { if (openDatabaseSelection) openDatabaseSelection(); });
  connect(RecordView, &QPushButton::clicked, this, [this] { if (openRecordView) openRecordView(); });
  connect(RecordDraw, &QPushButton::clicked, this, [this] { if (openRecordDraw) openRecordDraw(); });

  // The interval check's clock, in the free space below the chart.
  auto* nowLabel = new QLabel("Now Time Seconds :", central);
  // The caption whole in any font; the box follows it.
  nowLabel->setGeometry(px(600), px(7920), std::max(px(1800), nowLabel->sizeHint().width()), px(330));
  NowTimeSeconds = new QLineEdit(central);
  NowTimeSeconds->setObjectName("NowTimeSeconds");
  NowTimeSeconds->setReadOnly(true);
  NowTimeSeconds->setGeometry(std::max(px(2400), nowLabel->geometry().right() + 4), px(7920), px(1500), px(330));

  // The run status in the free space under the chart, beside the read-out; the free space on the
  // clock's line.
  RunStatus_Grid = makeGrid(central, "RunStatus_Grid", 0, 5);
  RunStatus_Grid->horizontalHeader()->show();
  RunStatus_Grid->setHorizontalHeaderLabels({"Instrument", "Record", "Scans stored", "Last scan", "State"});
  RunStatus_Grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RunStatus_Grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  {
    QFont f = RunStatus_Grid->font();
    // Four instruments and the heading in the room there is.
    const int room = px(1380);
    while (f.pointSizeF() > 6 && 5 * (QFontMetrics(f).height() + 2) + 4 > room) f.setPointSizeF(f.pointSizeF() - 0.5);
    RunStatus_Grid->setFont(f);
    RunStatus_Grid->horizontalHeader()->setFont(f);
    const int row = QFontMetrics(f).height() + 2;
    RunStatus_Grid->verticalHeader()->setDefaultSectionSize(row);
    RunStatus_Grid->verticalHeader()->setMinimumSectionSize(row);
    RunStatus_Grid->horizontalHeader()->setFixedHeight(row);
    RunStatus_Grid->horizontalHeader()->setStretchLastSection(true);
  }
  RunStatus_Grid->setGeometry(px(600), px(6480), px(11040), px(1380));
  RunStatus_Grid->hide();  // until instruments are selected
  FreeSpace_Label = new QLabel(central);
  FreeSpace_Label->setObjectName("FreeSpace_Label");
  FreeSpace_Label->setGeometry(NowTimeSeconds->geometry().right() + px(240), px(7920),
                               px(11640) - NowTimeSeconds->geometry().right() - px(240), px(330));

  // Below the chart everything moves down as the chart grows; the tabs grow too, and the
  // scan-control grid and the buttons keep below them.
  anchor(nowLabel, 0, 1, 0, 0, 0, 0);
  anchor(NowTimeSeconds, 0, 1, 0, 0, 0, 0);
  anchor(RunStatus_Grid, 0, 1, 0, 1, 0, 0);
  anchor(FreeSpace_Label, 0, 1, 0, 1, 0, 0);
  anchor(SSTab1, 0, 1, 0, 1, 0, 1);
  anchor(ScanControl_MSFlexGrid, 0, 1, 1, 1, 0, 0);
  for (const B& spec : buttons) anchor(*spec.slot, 1, 1, 1, 0, 0, 0);
  naturalSize_ = QSize(px(kWindowWidth), px(kScanControlTop + 1560));
  for (Anchor& a : anchors_) a.natural = a.widget->geometry();
  central->setMinimumSize(naturalSize_ - QSize(0, kMostShrink));
  {
    // The height the readings table needs for its heading, kLeastReadingRows scans and the
    // scroll bar below them, measured as the header measures its sections.
    const QTableView* t = MSFlexGrid2[0];
    QStyleOptionHeader opt;
    opt.initFrom(t->horizontalHeader());
    opt.text = "CH 20";
    const int heading = t->style()->sizeFromContents(QStyle::CT_HeaderSection, &opt, QSize(), t->horizontalHeader()).height();
    const int needed = heading + kLeastReadingRows * t->verticalHeader()->defaultSectionSize() +
                       t->horizontalScrollBar()->sizeHint().height() + 2 * t->frameWidth();
    readingsShortfall_ = needed - t->height();
  }
  resize(naturalSize_ + QSize(0, menuBar()->sizeHint().height()));
}

TrendChart& MainForm::trendChart() { return *p_.chart(); }

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) layoutFor(centralWidget()->size());
  return QMainWindow::eventFilter(watched, event);
}

void MainForm::layoutFor(QSize size) {
  if (naturalSize_.isEmpty()) return;
  const int dx = std::max(0, size.width() - naturalSize_.width());
  const int dy = std::max(-kMostShrink, size.height() - naturalSize_.height());
  int dyPlot = static_cast<int>(std::lround(dy * kChartShare));
  int dyTabs = dy - dyPlot;
  if (dy < 0) {
    // The tables come to the height the readings need at the smallest size, a share at a time.
    dyTabs = static_cast<int>(std::lround(static_cast<double>(readingsShortfall_) * -dy / kMostShrink));
    dyPlot = dy - dyTabs;
  }
  chartView->setPlotSize(TrendChartView::naturalPlotSize() + QSize(dx, dyPlot));
  for (const Anchor& a : anchors_) {
    const QRect n = a.natural;
    const QRect r(n.x() + static_cast<int>(a.xByDx * dx), n.y() + static_cast<int>(a.yByPlot * dyPlot + a.yByTabs * dyTabs),
                  n.width() + static_cast<int>(a.wByDx * dx), n.height() + static_cast<int>(a.hByPlot * dyPlot + a.hByTabs * dyTabs));
    if (a.widget->geometry() != r) a.widget->setGeometry(r);
  }
  // The columns share the extra width.
  for (QTableWidget* grid : Channel_MSFlexGrid) {
    for (int c = 0; c < 10; ++c) grid->setColumnWidth(c, px(kChannelColumnTwips) - 1 + dx / 10);
  }
  const int total = std::accumulate(kScanControlWidths.begin(), kScanControlWidths.end(), 0);
  for (int c = 0; c < 6; ++c) {
    const int natural = kScanControlWidths[static_cast<std::size_t>(c)];
    ScanControl_MSFlexGrid->setColumnWidth(c, px(natural) + dx * natural / total);
  }
}

void MainForm::fitToScreen() {
  const QScreen* s = screen();
  if (!s) return;
  // Room for the window's frame and title bar, which the desktop adds around it.
  const QSize frame = frameGeometry().size() - size();
  const QSize room = s->availableGeometry().size() - frame.expandedTo(QSize(8, 32));
  resize(size().boundedTo(room).expandedTo(minimumSizeHint()));
}

void MainForm::load() {
  // Locked before discovery, which can take a while when a meter is slow to answer.
  p_.display.contral_disable();
  syncEnabled();
  p_.startUp();
  syncFromCore();
}

void MainForm::syncEnabled() {
  if (lockable_.empty()) {
    // The controls the core locks and unlocks, by the names it knows them by (looked up once:
    // every stored scan brings the window up to date).
    for (QAction* a : findChildren<QAction*>()) {
      if (!a->objectName().isEmpty()) lockable_.push_back({a, fromQt(a->objectName())});
    }
    for (QPushButton* b : centralWidget()->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
      // Saving the picture is locked with printing it (set once: a toggle repaints the button).
      const std::string name = fromQt(b == SaveChart ? QString("PrintSet") : b->objectName());
      if (!name.empty()) lockable_.push_back({b, name});
    }
  }
  const LiveDisplay& d = p_.display;
  for (const Lockable& l : lockable_) {
    const bool on = d.isEnabled(l.name);
    if (l.action) l.action->setEnabled(on);
    if (l.button) l.button->setEnabled(on);
  }
}

void MainForm::syncChannelGrid(int slot) {
  const ChannelGrid& g = p_.display.channelGrids[static_cast<std::size_t>(slot)];
  QTableWidget* w = Channel_MSFlexGrid[static_cast<std::size_t>(slot)];
  if (w->rowCount() != g.rows) w->setRowCount(g.rows);
  const int rowHeight = px(1260 / 4.0) - 1;
  for (int r = 0; r < g.rows; ++r) {
    if (w->rowHeight(r) != rowHeight) w->setRowHeight(r, rowHeight);
    for (int c = 0; c < 10; ++c) {
      const GridCell& cell = g.cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
      if (cell.alarm != AlarmMark::None) {
        const QColor color = alarmQColor(kAlarmBackgroundColor);
        setCell(w, r, c, toQt(cell.text), &color);
        setForeground(w->item(r, c), alarmQColor(kAlarmTextColor));
        continue;
      }
      if (QTableWidgetItem* item = w->item(r, c)) setForeground(item, QBrush());
      if (cell.background) {
        const QColor color = toQColor(*cell.background);
        setCell(w, r, c, toQt(cell.text), &color);
      } else {
        const QColor face = palette().color(QPalette::Button);
        setCell(w, r, c, toQt(cell.text), &face);
      }
    }
  }
}

void MainForm::syncScanControl() {
  const auto& rows = p_.display.scanControlRows;
  const int n = std::max<int>(static_cast<int>(rows.size()), 4);
  ScanControl_MSFlexGrid->setRowCount(n);
  // A meter lost under "keep logging" stands out as in the run status.
  const QColor lost(255, 200, 200);
  for (int r = 0; r < n; ++r) {
    const bool marked = r < kMaxInstruments && p_.display.meterMarks[static_cast<std::size_t>(r)] != MeterMark::None;
    for (int c = 0; c < 6; ++c) {
      const QString text = r < static_cast<int>(rows.size()) ? toQt(rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]) : QString();
      setCell(ScanControl_MSFlexGrid, r, c, text, marked ? &lost : nullptr);
      QTableWidgetItem* item = ScanControl_MSFlexGrid->item(r, c);
      if (item->toolTip() != text) item->setToolTip(text);
    }
  }
}

void MainForm::syncFromCore() {
  const LiveDisplay& d = p_.display;
  for (std::size_t i = 0; i < scanTableModels.size(); ++i) {
    // Laid out at once rather than on the view's next pass, so the new row and the scroll to it
    // (the view follows the newest) are painted together, once.
    const bool changed = scanTableModels[i]->sync();
    // Marked and scaled readings show whole, also after the setup changed between runs.
    readingColumns_[i]->follow(p_.tables.channel[i]);
    if (changed) MSFlexGrid2[i]->doItemsLayout();
  }
  chartView->sync();
  if (syncDataTable) syncDataTable();
  if (syncRecordWindows) syncRecordWindows();
  // After a stored scan the disk is left to the status tick.
  syncRunStatus(!afterScan_);
  if (d.revision == shownRevision_) return;
  shownRevision_ = d.revision;
  // Hiding tabs moves the current one; that is no choice of the user's.
  const QScopedValueRollback<bool> syncing(syncing_, true);
  syncEnabled();
  for (int i = 0; i < 4; ++i) {
    const TabState& t = d.tabs[static_cast<std::size_t>(i)];
    // Either set lays out and repaints the whole tab widget, even with what it already shows.
    const QString caption = toQt(t.caption);
    if (SSTab1->tabText(i) != caption) SSTab1->setTabText(i, caption);
    if (SSTab1->isTabVisible(i) != t.visible) SSTab1->setTabVisible(i, t.visible);
    syncChannelGrid(i);
    QListWidget* list = ListFetchTime[static_cast<std::size_t>(i)];
    const auto& stamps = d.ListFetchTime[static_cast<std::size_t>(i)];
    if (list->count() != static_cast<int>(stamps.size())) {
      list->clear();
      for (const auto& s : stamps) list->addItem(toQt(s));
    }
  }
  if (SSTab1->currentIndex() != d.selectedTab && d.selectedTab >= 0 && d.selectedTab < 4) SSTab1->setCurrentIndex(d.selectedTab);
  syncScanControl();
  NowTimeSeconds->setText(toQt(d.NowTimeSeconds));
  syncRunNotice();
}

void MainForm::syncRunNotice() {
  // What the run said without stopping (another meter's record, an alarm not stored) stands in a
  // status bar that appears with the first such note; the window grows by it, so nothing moves.
  const auto& notices = p_.display.runNotices;
  auto* bar = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly);
  if (notices.empty() && bar == nullptr) return;
  if (bar == nullptr) {
    bar = statusBar();
    bar->setObjectName("run_notice");
    resize(width(), height() + bar->sizeHint().height());
  }
  const QString text = notices.empty() ? QString() : toQt(notices.back());
  if (bar->currentMessage() != text) bar->showMessage(text);
  QStringList all;
  for (const auto& n : notices) all << toQt(n);
  bar->setToolTip(all.join('\n'));
}

void MainForm::syncRunStatus(bool lookAtDisk) {
  const RunStatusSnapshot st = lookAtDisk ? p_.status.snapshot(p_.link.InstrumentCount)
                                          : p_.status.snapshotKeepingSpace(p_.link.InstrumentCount);
  const int rows = static_cast<int>(st.meters.size());
  const int columns = st.hasExtra ? 6 : 5;
  if (RunStatus_Grid->columnCount() != columns) {
    RunStatus_Grid->setColumnCount(columns);
    if (st.hasExtra) RunStatus_Grid->setHorizontalHeaderItem(5, new QTableWidgetItem(toQt(st.extraHeading)));
  }
  if (RunStatus_Grid->rowCount() != rows) RunStatus_Grid->setRowCount(rows);
  RunStatus_Grid->setVisible(rows > 0);
  // Measuring the texts costs more than the rest of the status: only when the grid changed.
  const std::pair<int, int> layout{RunStatus_Grid->width(), columns};
  if (rows > 0 && layout != statusLayout_) {
    statusLayout_ = layout;
    // The instrument's name takes what the other columns leave.
    const QFontMetrics fm(RunStatus_Grid->font());
    const int scans = fm.horizontalAdvance("Scans stored") + 12;
    const int time = fm.horizontalAdvance("0000/00/00 00:00:00:000") + 12;
    const int state = fm.horizontalAdvance("waiting for the next interval") + 12;
    const int record = std::max(fm.horizontalAdvance("none (not saved)"), fm.horizontalAdvance("Record00")) + 12;
    const int extra = st.hasExtra ? RunStatus_Grid->width() / 6 : 0;
    const int name = std::max(fm.horizontalAdvance("SIM0000"), RunStatus_Grid->width() - 4 - scans - time - state - record - extra);
    const int widths[] = {name, record, scans, time, state};
    // The last column stretches to the grid's edge: setting its width would only fight that (and
    // repaint the grid on every tick).
    for (int c = 0; c < columns - 1; ++c) {
      if (RunStatus_Grid->columnWidth(c) != widths[c]) RunStatus_Grid->setColumnWidth(c, widths[c]);
    }
  }
  const QColor none(255, 200, 200);
  for (int r = 0; r < rows; ++r) {
    const MeterStatus& m = st.meters[static_cast<std::size_t>(r)];
    setCell(RunStatus_Grid, r, 0, toQt(m.instrument));
    // Logging nowhere stands out.
    setCell(RunStatus_Grid, r, 1, toQt(recordText(m)), m.record.empty() ? &none : nullptr);
    setCell(RunStatus_Grid, r, 2, QString::number(m.scansStored));
    setCell(RunStatus_Grid, r, 3, toQt(m.lastScanTime));
    const bool bad = m.state == MeterState::Failed || m.state == MeterState::Reconnecting;
    setCell(RunStatus_Grid, r, 4, toQt(meterStateText(m.state)), bad ? &none : nullptr);
    if (st.hasExtra) setCell(RunStatus_Grid, r, 5, toQt(m.extra));
    QTableWidgetItem* item = RunStatus_Grid->item(r, 0);
    if (item->toolTip() != item->text()) item->setToolTip(item->text());
    // The tab says it too, where the instrument's readings are.
    const QString tip = m.record.empty() ? QString("Logs nowhere: no record is chosen")
                                         : QString("Logs into %1").arg(toQt(m.record));
    if (SSTab1->tabToolTip(r) != tip) SSTab1->setTabToolTip(r, tip);
    const QColor tabColor = m.record.empty() ? QColor(180, 0, 0) : QColor();
    if (SSTab1->tabBar()->tabTextColor(r) != tabColor) SSTab1->tabBar()->setTabTextColor(r, tabColor);
  }
  for (int r = rows; r < 4; ++r) {
    if (!SSTab1->tabToolTip(r).isEmpty()) SSTab1->setTabToolTip(r, QString());
    if (SSTab1->tabBar()->tabTextColor(r).isValid()) SSTab1->tabBar()->setTabTextColor(r, QColor());
  }
  const QString space = toQt(folderStatusText(st.folder));
  if (FreeSpace_Label->toolTip() != space) {
    // Low space in bold red; a long folder name gives way (in its middle), the tool tip has it whole.
    QFont f = FreeSpace_Label->font();
    f.setBold(st.folder.low);
    FreeSpace_Label->setFont(f);
    QPalette pal = FreeSpace_Label->palette();
    pal.setColor(QPalette::WindowText, st.folder.low ? QColor(180, 0, 0) : palette().color(QPalette::WindowText));
    FreeSpace_Label->setPalette(pal);
    const QString where = toQt(st.folder.folder.string());
    const QString head = space.left(space.size() - where.size());
    const QFontMetrics fm(f);
    FreeSpace_Label->setText(head + fm.elidedText(where, Qt::ElideMiddle, FreeSpace_Label->width() - fm.horizontalAdvance(head) - 2));
    FreeSpace_Label->setToolTip(space);
  }
}

bool MainForm::operationUnderWay() const { return p_.link.gate().busy(); }

void MainForm::instrumentCallsEnded() {
  if (closeRequested_ && !p_.run.running()) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainForm::StartReading_Click() {
  if (p_.run.running() || operationUnderWay()) return;
  // A run that stores nothing is asked about once; No leaves everything as it was.
  if (logsNowhere(p_.tables, p_.link.InstrumentCount) &&
      !p_.messages.askYesNo(kNoRecordQuestion, kAppTitle, MessageIcon::Question))
    return;
  syncFromCore();
  p_.run.StartReading_Click();
  syncFromCore();
  // The run goes on from the event loop; with a manual clock this returns once it has ended.
  driver_->kick();
  syncFromCore();
}

void MainForm::StopReading_Click() {
  p_.run.StopReading_Click();
  driver_->kick();
  syncFromCore();
}

void MainForm::Add_Remove_Instruments_Button_Click() {
  if (p_.run.running() || operationUnderWay()) return;
  connectForm_.reset();
  if (unloadDataTable) unloadDataTable();
  connectForm_ = std::make_unique<Connect_Form>(p_.selection, this);
  if (onConnectFormShown) {
    Connect_Form* form = connectForm_.get();
    QMetaObject::invokeMethod(this, [this, form] { onConnectFormShown(*form); }, Qt::QueuedConnection);
  }
  connectForm_->exec();
  p_.selection.applyToMainWindow();
  syncFromCore();
}

void MainForm::Exit_comm_Click() {
  // Ends at once: no unload steps, no session closed.
  shutDown_ = true;
  if (exitNow) {
    exitNow();
  } else {
    std::_Exit(0);
  }
}

void MainForm::scanStored(int, std::int64_t) { liveChanged(); }
void MainForm::fetchDone(int) { liveChanged(); }

void MainForm::liveChanged() {
  runChanged_ = true;
  if (!syncTimer_->isActive()) syncTimer_->start();
}
void MainForm::runEnded() { syncFromCore(); }

void MainForm::closeEvent(QCloseEvent* event) {
  if (operationUnderWay()) {
    // An instrument call is still running on the gate's thread (up to a 30 s time-out): start
    // no further call, leave the screen at once and finish closing when the call has returned.
    closeRequested_ = true;
    p_.link.gate().cancel();
    p_.messages.silenced = true;
    hide();
    event->ignore();
    return;
  }
  // Closing stops any run (its records are closed at once, no "End of Job." in between), closes
  // every session and ends the program.
  closeRequested_ = true;
  if (!shutDown_) {
    shutDown_ = true;
    p_.shutdown();
  }
  event->accept();
}

}  // namespace kalivor
