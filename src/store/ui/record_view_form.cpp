// SPDX-License-Identifier: MIT
#include "store/ui/record_view_form.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/ui/qt_seams.h"
#include "store/ui/record_page_model.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

constexpr double kScanColumnWidth = 1200;
// Wide enough for a time stamp with milliseconds ("2024/05/01 13:45:10:250") in our font.
constexpr double kTimeColumnWidth = 2775;
constexpr double kChannelColumnWidth = 1500;

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
  h->setSectionResizeMode(QHeaderView::Fixed);
  h->setMinimumSectionSize(px(300));
  view->setColumnWidth(0, px(kScanColumnWidth));
  view->setColumnWidth(1, px(kTimeColumnWidth));
  for (int c = 2; c < store::kRecordColumns; ++c) view->setColumnWidth(c, px(kChannelColumnWidth));
  // Fixed row heights let the view lay out a 1000-row page without measuring every row.
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
}

}  // namespace

Record_View_Form::Record_View_Form(Program& program, QWidget* parent)
    : QWidget(parent), p_(program), browser_(program.dataFolder, program.messages) {
  setWindowFlag(Qt::Window);
  setObjectName("Record_View_Form");
  setWindowTitle("Record View");
  if (parent) setWindowIcon(parent->windowIcon());
  setFixedSize(px(15135), px(6615));
  browser_.beep = [] { QApplication::beep(); };

  List1 = new QListWidget(this);
  List1->setObjectName("List1");
  List1->setGeometry(px(120), px(120), px(2655), px(4215));

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

  model_ = new RecordPageModel(browser_.rows(), this);
  MSFlexGrid1 = new QTableView(this);
  MSFlexGrid1->setObjectName("MSFlexGrid1");
  MSFlexGrid1->setGeometry(px(2895), px(120), px(12120), px(6375));
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
  placeFrozenColumns();

  Command5->setEnabled(false);
  prev_DB->setEnabled(false);
  next_DB->setEnabled(false);
  Command1_Click();
}

Record_View_Form::~Record_View_Form() {
  // The grids are hidden and deleted after this destructor has run, and their scroll bars still
  // signal then: nothing may reach back into the window that is gone.
  MSFlexGrid1->removeEventFilter(this);
  disconnect(frozen_->verticalScrollBar(), nullptr, this, nullptr);
  disconnect(MSFlexGrid1->horizontalScrollBar(), nullptr, this, nullptr);
}

bool Record_View_Form::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MSFlexGrid1 && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
    placeFrozenColumns();
  return QWidget::eventFilter(watched, event);
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

void Record_View_Form::Command5_Click() {
  FileDialogRequest request;
  request.filter = "*.csv";
  request.defaultSuffix = "csv";
  // New files may be created; an existing one is asked about below, as the scans are added to
  // its end rather than replacing it.
  request.confirmOverwrite = false;
  const std::optional<std::string> chosen = p_.dialogs.saveFileName(request);
  if (!chosen || chosen->empty()) return;
  const fs::path file = *chosen;
  std::error_code ec;
  if (fs::exists(file, ec)) {
    if (fs::is_directory(file, ec) || isSqliteFile(file)) {
      p_.messages.inform("\"" + file.string() +
                         "\" is not a CSV file. Please choose another file name.");
      return;
    }
    if (!p_.messages.askYesNo("The file \"" + file.string() +
                              "\" already exists.\nAdd the scans at its end?"))
      return;
  }
  // The browser shows "Data saved !" or what went wrong.
  browser_.exportCsv(file);
  showPage();
}

void Record_View_Form::Command4_Click() { close(); }

}  // namespace kalivor
