// SPDX-License-Identifier: MIT
#include "store/ui/record_view_form.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <cstring>
#include <tuple>
#include <filesystem>
#include <fstream>

#include "common/numbers.h"
#include "common/ui/qt_seams.h"
#include "store/csv_export.h"
#include "store/statistics.h"
#include "store/ui/record_page_model.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

constexpr double kScanColumnWidth = 1200;
// Wide enough for a time stamp with milliseconds ("2024/05/01 13:45:10:250") in our font.
constexpr double kTimeColumnWidth = 2775;
constexpr double kChannelColumnWidth = 1500;
// The window's height at its default size: the classic 6615 twips and a row for Statistics.
constexpr double kWindowWidth = 15135;
constexpr double kWindowHeight = 7155;
constexpr double kGridLeft = 2895, kGridTop = 120, kGridWidth = 12120, kGridHeight = 6375;
constexpr double kListHeight = 4215;

// Appending CSV text to a record (or any SQLite file) would damage it.
bool isSqliteFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  char head[16] = {};
  in.read(head, sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, "SQLite format 3", 16) == 0;
}

void setupGrid(QTableView* view, RecordPageModel* model) {
  view->setHorizontalHeader(new GroupedHeader(view));
  view->setModel(model);
  view->verticalHeader()->hide();
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionMode(QAbstractItemView::NoSelection);
  view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view->setWordWrap(false);
  QHeaderView* h = view->horizontalHeader();
  // The user may widen or narrow any column.
  h->setSectionResizeMode(QHeaderView::Interactive);
  h->setMinimumSectionSize(px(300));
  view->setColumnWidth(0, px(kScanColumnWidth));
  view->setColumnWidth(1, px(kTimeColumnWidth));
  // Wide enough for a whole reading as meters send it ("-1.234567E+00"), never narrower than
  // the usual channel column.
  const int reading = view->fontMetrics().horizontalAdvance("-8.888888E+888") + 16;
  for (int c = 2; c < store::kRecordColumns; ++c) {
    view->setColumnWidth(c, std::max(px(kChannelColumnWidth), reading));
  }
  // Fixed row heights let the view lay out a 1000-row page without measuring every row.
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
}

}  // namespace

Record_View_Form::Record_View_Form(Program& program, QWidget* parent,
                                   const std::filesystem::path& dataFolder)
    : QWidget(parent),
      p_(program),
      browser_(dataFolder.empty() ? program.dataFolder : dataFolder, program.messages) {
  setWindowFlag(Qt::Window);
  setObjectName("Record_View_Form");
  setWindowTitle("Record View");
  if (parent) setWindowIcon(parent->windowIcon());
  // Resizable: the grid grows and shrinks with the window; the default size is the smallest.
  setMinimumSize(px(kWindowWidth), px(kWindowHeight));
  resize(px(kWindowWidth), px(kWindowHeight));
  browser_.beep = [] { QApplication::beep(); };

  List1 = new QListWidget(this);
  List1->setObjectName("List1");
  List1->setGeometry(px(120), px(120), px(2655), px(kListHeight));

  auto button = [this](QPushButton*& b, const char* name, const char* caption, double left,
                       double top, void (Record_View_Form::*handler)()) {
    b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setGeometry(px(left), px(top), px(1275), px(435));
    connect(b, &QPushButton::clicked, this, handler);
  };
  button(Command1, "Command1", "Fresh", 120, 4455, &Record_View_Form::Command1_Click);
  button(Command2, "Command2", "Open", 1500, 4455, &Record_View_Form::Command2_Click);
  button(Command3, "Command3", "Deleted", 120, 4995, &Record_View_Form::Command3_Click);
  button(Command5, "Command5", "CSV", 1500, 4995, &Record_View_Form::Command5_Click);
  button(prev_DB, "prev_DB", "Previous", 120, 5535, &Record_View_Form::prev_DB_Click);
  button(next_DB, "next_DB", "Next", 1500, 5535, &Record_View_Form::next_DB_Click);
  button(Command4, "Command4", "Exit", 1500, 6075, &Record_View_Form::Command4_Click);
  button(tidy_DB, "tidy_DB", "Tidy", 120, 6075, &Record_View_Form::tidy_DB_Click);
  button(stats_DB, "stats_DB", "Statistics", 120, 6615, &Record_View_Form::stats_DB_Click);
  tidy_DB->setToolTip("Export the record for analysis: one line per reading");
  central_DB = new QPushButton("Central…", this);
  central_DB->setObjectName("central_DB");
  central_DB->setGeometry(px(1500), px(6615), px(1275), px(435));
  central_DB->setToolTip("Open a run of the central database");
  central_DB->hide();
  if (!dataFolder.empty()) Command3->hide();  // a copy: nothing to delete

  model_ = new RecordPageModel(browser_.rows(), this);
  MSFlexGrid1 = new QTableView(this);
  MSFlexGrid1->setObjectName("MSFlexGrid1");
  MSFlexGrid1->setGeometry(px(kGridLeft), px(kGridTop), px(kGridWidth), px(kGridHeight));
  setupGrid(MSFlexGrid1, model_);

  // The two fixed columns: a second view over the same model laid on top of the first one's
  // left edge, scrolled vertically with it.
  frozen_ = new QTableView(MSFlexGrid1);
  frozen_->setObjectName("MSFlexGrid1_fixed");
  setupGrid(frozen_, model_);
  frozen_->setFocusPolicy(Qt::NoFocus);
  frozen_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setFrameShape(QFrame::NoFrame);
  for (int c = 2; c < store::kRecordColumns; ++c) frozen_->setColumnHidden(c, true);
  MSFlexGrid1->viewport()->stackUnder(frozen_);
  connect(MSFlexGrid1->verticalScrollBar(), &QScrollBar::valueChanged, frozen_->verticalScrollBar(),
          &QScrollBar::setValue);
  connect(frozen_->verticalScrollBar(), &QScrollBar::valueChanged, MSFlexGrid1->verticalScrollBar(),
          &QScrollBar::setValue);
  // Its layout may come later than the grid's; it then catches up with the grid's position.
  connect(frozen_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
    frozen_->verticalScrollBar()->setValue(MSFlexGrid1->verticalScrollBar()->value());
  });
  // The "Channel" title follows the part in view, so the whole header repaints on a scroll.
  connect(MSFlexGrid1->horizontalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { MSFlexGrid1->horizontalHeader()->viewport()->update(); });
  MSFlexGrid1->installEventFilter(this);
  MSFlexGrid1->viewport()->installEventFilter(this);
  placeFrozenColumns();

  // Below the list: taller, the list grows and these keep under it.
  for (QPushButton* b : {Command1, Command2, Command3, Command5, prev_DB, next_DB, Command4, tidy_DB,
                         stats_DB, central_DB})
    underList_.push_back({b, b->y()});

  Command5->setEnabled(false);
  tidy_DB->setEnabled(false);
  stats_DB->setEnabled(false);
  prev_DB->setEnabled(false);
  next_DB->setEnabled(false);
  Command1_Click();
}

void Record_View_Form::setCentralDoor(std::function<void()> open) {
  central_DB->disconnect();
  central_DB->setVisible(static_cast<bool>(open));
  if (open) connect(central_DB, &QPushButton::clicked, this, std::move(open));
}

Record_View_Form::~Record_View_Form() {
  // The grids are hidden and deleted after this destructor has run, and their scroll bars still
  // signal then: nothing may reach back into the window that is gone.
  MSFlexGrid1->removeEventFilter(this);
  MSFlexGrid1->viewport()->removeEventFilter(this);
  disconnect(frozen_->verticalScrollBar(), nullptr, this, nullptr);
  disconnect(MSFlexGrid1->horizontalScrollBar(), nullptr, this, nullptr);
}

bool Record_View_Form::eventFilter(QObject* watched, QEvent* event) {
  // The cell area, not the grid: it is laid out after the grid's own resize, and the fixed
  // columns must be exactly as high as it.
  if ((watched == MSFlexGrid1 && event->type() == QEvent::Show) ||
      (watched == MSFlexGrid1->viewport() && event->type() == QEvent::Resize))
    placeFrozenColumns();
  return QWidget::eventFilter(watched, event);
}

void Record_View_Form::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The grid keeps its margins and takes whatever the window gains; the record list takes the
  // height too, its buttons keeping under it.
  MSFlexGrid1->resize(width() - px(kWindowWidth - kGridWidth),
                      height() - px(kWindowHeight - kGridHeight));
  const int dy = std::max(0, height() - px(kWindowHeight));
  List1->resize(List1->width(), px(kListHeight) + dy);
  for (const auto& [button, top] : underList_) button->move(button->x(), top + dy);
}

void Record_View_Form::placeFrozenColumns() {
  const int f = MSFlexGrid1->frameWidth();
  frozen_->setGeometry(
      f, f, MSFlexGrid1->columnWidth(0) + MSFlexGrid1->columnWidth(1),
      MSFlexGrid1->viewport()->height() + MSFlexGrid1->horizontalHeader()->height());
  frozen_->horizontalHeader()->setFixedHeight(MSFlexGrid1->horizontalHeader()->height());
}

QString Record_View_Form::selectedName() const {
  const QList<QListWidgetItem*> selected = List1->selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text();
}

void Record_View_Form::showList() {
  List1->clear();
  for (const std::string& name : browser_.files()) List1->addItem(toQt(name));
}

void Record_View_Form::showPage() {
  model_->pageChanged();
  MSFlexGrid1->scrollToTop();
  const store::BrowserButtons& b = browser_.buttons();
  Command5->setEnabled(b.csv);
  tidy_DB->setEnabled(b.csv);
  stats_DB->setEnabled(b.csv);
  prev_DB->setEnabled(b.previous);
  next_DB->setEnabled(b.next);
}

void Record_View_Form::Command1_Click() {
  browser_.Fresh();
  showList();
}

void Record_View_Form::Command2_Click() {
  browser_.Open(fromQt(selectedName()));
  showPage();
  showList();
}

void Record_View_Form::Command3_Click() {
  browser_.Deleted(fromQt(selectedName()));
  showList();
}

void Record_View_Form::prev_DB_Click() {
  browser_.Previous();
  showPage();
}

void Record_View_Form::next_DB_Click() {
  browser_.Next();
  showPage();
}

std::string Record_View_Form::exportFileName() {
  FileDialogRequest request;
  request.filter = "*.csv";
  request.defaultSuffix = "csv";
  // New files may be created; an existing one is asked about below, as the scans are added to
  // its end rather than replacing it.
  request.confirmOverwrite = false;
  const std::optional<std::string> chosen = p_.dialogs.saveFileName(request);
  if (!chosen || chosen->empty()) return {};
  const fs::path file = *chosen;
  std::error_code ec;
  if (fs::exists(file, ec)) {
    if (fs::is_directory(file, ec) || isSqliteFile(file)) {
      p_.messages.inform("\"" + file.string() +
                         "\" is not a CSV file. Please choose another file name.");
      return {};
    }
    if (!p_.messages.askYesNo("The file \"" + file.string() +
                              "\" already exists.\nAdd the scans at its end?"))
      return {};
  }
  return file.string();
}

void Record_View_Form::Command5_Click() {
  const std::string file = exportFileName();
  if (file.empty()) return;
  // The browser shows "Data saved !" or what went wrong.
  browser_.exportCsv(file);
  showPage();
}

void Record_View_Form::tidy_DB_Click() {
  const std::string file = exportFileName();
  if (file.empty()) return;
  store::ExportOptions options;
  options.format = store::ExportFormat::Tidy;
  const store::StoreStatus st = store::exportRecord(browser_.ViewedDatabase(), file, options);
  p_.messages.inform(st.ok() ? std::string(store::kDataSavedMessage) : st.error);
}

void Record_View_Form::stats_DB_Click() {
  if (stats_ == nullptr) stats_ = new Record_Statistics(p_, this);
  stats_->showRecord(browser_.ViewedDatabase());
  stats_->show();
  stats_->raise();
}

void Record_View_Form::Command4_Click() { close(); }

Record_Statistics::Record_Statistics(Program& program, QWidget* parent)
    : QWidget(parent), p_(program) {
  setWindowFlag(Qt::Window);
  setObjectName("Record_Statistics");
  if (parent) setWindowIcon(parent->windowIcon());
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("From scan or time:", this), 0, 0);
  stat_from = new QLineEdit(this);
  stat_from->setObjectName("stat_from");
  stat_from->setPlaceholderText("first");
  grid->addWidget(stat_from, 0, 1);
  grid->addWidget(new QLabel("to:", this), 0, 2);
  stat_to = new QLineEdit(this);
  stat_to->setObjectName("stat_to");
  stat_to->setPlaceholderText("last");
  grid->addWidget(stat_to, 0, 3);
  stat_compute = new QPushButton("Compute", this);
  stat_compute->setObjectName("stat_compute");
  grid->addWidget(stat_compute, 0, 4);
  connect(stat_compute, &QPushButton::clicked, this, &Record_Statistics::stat_compute_Click);
  connect(stat_from, &QLineEdit::returnPressed, this, &Record_Statistics::stat_compute_Click);
  connect(stat_to, &QLineEdit::returnPressed, this, &Record_Statistics::stat_compute_Click);
  stat_grid = new QTableWidget(this);
  stat_grid->setObjectName("stat_grid");
  stat_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  stat_grid->verticalHeader()->hide();
  QStringList captions = {"Channel"};
  for (const char* c : store::kStatisticsCaptions) captions << c;
  captions << "Unit";
  stat_grid->setColumnCount(static_cast<int>(captions.size()));
  stat_grid->setHorizontalHeaderLabels(captions);
  grid->addWidget(stat_grid, 1, 0, 1, 5);
  resize(px(15000), px(6000));
}

void Record_Statistics::showRecord(const std::string& recordFile) {
  record_ = recordFile;
  setWindowTitle(toQt("Record Statistics - " + fs::path(recordFile).filename().string()));
  stat_compute_Click();
}

void Record_Statistics::stat_compute_Click() {
  stat_grid->setRowCount(0);
  store::ScanSelection selection;
  if (store::StoreStatus st = store::parseScanSelection(fromQt(stat_from->text()),
                                                        fromQt(stat_to->text()), selection);
      !st.ok()) {
    p_.messages.inform(st.error);
    return;
  }
  store::RecordStatistics stats;
  if (store::StoreStatus st = store::computeRecordStatistics(record_, selection, stats); !st.ok()) {
    p_.messages.inform(st.error);
    return;
  }
  for (int c = 1; c <= store::kRecordChannels; ++c) {
    const auto i = static_cast<std::size_t>(c - 1);
    const store::ChannelStatistics& s = stats.channels[i];
    if (!s.any()) continue;
    std::vector<std::string> cells = {"CH " + std::to_string(c)};
    for (const std::string& t : store::statisticsTexts(s)) cells.push_back(t);
    cells.push_back(stats.units[i]);
    const int row = stat_grid->rowCount();
    stat_grid->insertRow(row);
    for (std::size_t k = 0; k < cells.size(); ++k) {
      stat_grid->setItem(row, static_cast<int>(k), new QTableWidgetItem(toQt(cells[k])));
    }
  }
  stat_grid->resizeColumnsToContents();
}

}  // namespace kalivor
