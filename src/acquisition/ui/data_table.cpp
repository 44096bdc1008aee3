// SPDX-License-Identifier: MIT
#include "acquisition/ui/data_table.h"

#include "acquisition/ui/alarm_style.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <memory>

#include "acquisition/ui/follow_newest.h"
#include "acquisition/ui/reading_columns.h"
#include "app/program.h"
#include "common/ui/qt_seams.h"
#include "common/text.h"

namespace kalivor {
namespace {

constexpr int kFixedColumns = 2;
constexpr double kScanColumnTwips = 1100;
constexpr double kTimeColumnTwips = 2000;
constexpr double kChannelColumnTwips = 1500;

}  // namespace

// --- model -------------------------------------------------------------------------------------

DataTableModel::DataTableModel(const LiveDisplay& display, int slot, int channelCount, QObject* parent)
    : QAbstractTableModel(parent),
      display_(display),
      slot_(std::clamp(slot, 0, kSlotTableSize - 1)),
      columns_(std::clamp(channelCount, 0, kMaxChannels) + kFixedColumns) {
  sync();
}

int DataTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }
int DataTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant DataTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::TextAlignmentRole:
      return int(Qt::AlignCenter);
    case Qt::BackgroundRole:
      // The scan number and time are the grid's fixed columns.
      if (index.column() < kFixedColumns) return QApplication::palette().color(QPalette::Button);
      return alarmCellRole(table(), index.row(), index.column(), role);
    case Qt::ForegroundRole:
      return alarmCellRole(table(), index.row(), index.column(), role);
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {  // the whole reading, also where it is wider than its column
      const auto& rows = table().rows;
      if (index.row() >= static_cast<int>(rows.size())) return {};
      const auto& row = rows[static_cast<std::size_t>(index.row())];
      if (index.column() >= static_cast<int>(row.size())) return {};
      return toQt(row[static_cast<std::size_t>(index.column())]);
    }
    default:
      return {};
  }
}

QVariant DataTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columns_) return {};
  if (role == kGroupRole) return section < kFixedColumns ? QString("Scan") : QString("Channel");
  if (role != Qt::DisplayRole) return {};
  if (section == 0) return QString("Scan Cycle");
  if (section == 1) return QString("Time");
  return QString("CH %1").arg(section - 1);
}

void DataTableModel::sync() {
  const ScanTable& t = table();
  const int rows = static_cast<int>(std::min<std::size_t>(t.rows.size(), INT_MAX));
  const void* first = t.rows.empty() ? nullptr : &t.rows.front();
  if (rows_ > 0 && (first != firstRow_ || t.droppedRows != dropped_)) {
    // Rows left at the top: the oldest ones dropped to keep the table bounded, or all of them
    // when a new run began. Removing rather than resetting keeps the column widths.
    const std::int64_t dropped = t.droppedRows - dropped_;
    const int gone = (dropped > 0 && dropped < rows_) ? static_cast<int>(dropped) : rows_;
    beginRemoveRows({}, 0, gone - 1);
    rows_ -= gone;
    endRemoveRows();
  }
  if (rows < rows_) {
    beginRemoveRows({}, rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  }
  dropped_ = t.droppedRows;
  firstRow_ = first;
}

// --- header ------------------------------------------------------------------------------------

TwoRowHeader::TwoRowHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(false);
  setHighlightSections(false);
  setDefaultAlignment(Qt::AlignCenter);
}

QSize TwoRowHeader::sizeHint() const {
  QSize s = QHeaderView::sizeHint();
  const int row = std::max(s.height(), fontMetrics().height() + 8);
  s.setHeight(2 * row);
  return s;
}

QString TwoRowHeader::group(int logicalIndex) const {
  if (!model()) return {};
  return model()->headerData(logicalIndex, Qt::Horizontal, DataTableModel::kGroupRole).toString();
}

void TwoRowHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  if (!rect.isValid() || !model()) return;
  const int half = rect.height() / 2;
  QStyleOptionHeader opt;
  initStyleOption(&opt);
  opt.section = logicalIndex;
  opt.textAlignment = Qt::AlignCenter;
  opt.position = QStyleOptionHeader::Middle;

  opt.rect = QRect(rect.left(), rect.top() + half, rect.width(), rect.height() - half);
  opt.text = model()->headerData(logicalIndex, Qt::Horizontal, Qt::DisplayRole).toString();
  style()->drawControl(QStyle::CE_Header, &opt, painter, this);

  // Neighbours with the same group text form one cell: each section paints its share of it.
  const QString g = group(logicalIndex);
  int first = logicalIndex;
  while (first > 0 && group(first - 1) == g) --first;
  int last = logicalIndex;
  while (last + 1 < count() && group(last + 1) == g) ++last;
  int left = rect.left();
  int right = rect.right() + 1;
  for (int i = first; i <= last; ++i) {
    if (isSectionHidden(i)) continue;
    const int x = sectionViewportPosition(i);
    left = std::min(left, x);
    right = std::max(right, x + sectionSize(i));
  }
  // The merged cell ends at the header's edges, so its caption stays in view while scrolling.
  left = std::max(left, 0);
  right = std::min(right, viewport()->width());
  painter->save();
  painter->setClipRect(QRect(rect.left(), rect.top(), rect.width(), half));
  opt.rect = QRect(left, rect.top(), right - left, half);
  opt.text = g;
  style()->drawControl(QStyle::CE_Header, &opt, painter, this);
  painter->restore();
}

// --- grid with fixed columns -------------------------------------------------------------------

ScanGridView::ScanGridView(QWidget* parent) : QTableView(parent), fixed_(new QTableView(this)) {
  setHorizontalHeader(new TwoRowHeader(this));
  verticalHeader()->hide();
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);

  fixed_->setObjectName("fixedColumns");
  fixed_->setHorizontalHeader(new TwoRowHeader(fixed_));
  fixed_->verticalHeader()->hide();
  fixed_->verticalHeader()->setDefaultSectionSize(verticalHeader()->defaultSectionSize());
  fixed_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  fixed_->setFocusPolicy(Qt::NoFocus);
  fixed_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  fixed_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  fixed_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  fixed_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  fixed_->setFrameShape(QFrame::NoFrame);
  viewport()->stackUnder(fixed_);

  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
    if (logical < kFixedColumns) {
      fixed_->setColumnWidth(logical, size);
      layoutFixedColumns();
    }
  });
  // The merged header captions are placed in the visible part: repaint the header, not shift it.
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { horizontalHeader()->viewport()->update(); });
  // Scrolling either part scrolls both. The fixed part's range can lag the grid's by a row: its
  // clamped echo must not pull the grid back from its end.
  connect(fixed_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!echoing_) verticalScrollBar()->setValue(value);
  });
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    const QScopedValueRollback<bool> echo(echoing_, true);
    fixed_->verticalScrollBar()->setValue(value);
  });
  // When the window changes size the fixed part's range may come after the grid's has moved on:
  // it then catches up with the grid rather than clamping the grid to its old range.
  connect(fixed_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
    const QScopedValueRollback<bool> echo(echoing_, true);
    fixed_->verticalScrollBar()->setValue(verticalScrollBar()->value());
  });
}

void ScanGridView::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  fixed_->setModel(model);
  fixed_->setSelectionModel(selectionModel());
  const int columns = model ? model->columnCount() : 0;
  for (int c = 0; c < columns; ++c) fixed_->setColumnHidden(c, c >= kFixedColumns);
  layoutFixedColumns();
}

QSize ScanGridView::minimumSizeHint() const {
  const int columns = model() ? model()->columnCount() : 0;
  int width = 0;
  for (int c = 0; c < std::min(columns, kFixedColumns + 1); ++c) width += columnWidth(c);
  const int frame = 2 * frameWidth();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return QSize(width + frame + bar,
               horizontalHeader()->sizeHint().height() + 3 * verticalHeader()->defaultSectionSize() + frame + bar);
}

void ScanGridView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  layoutFixedColumns();
}

void ScanGridView::updateGeometries() {
  QTableView::updateGeometries();
  layoutFixedColumns();
}

void ScanGridView::layoutFixedColumns() {
  if (!fixed_) return;
  int width = 0;
  for (int c = 0; c < kFixedColumns && model() && c < model()->columnCount(); ++c)
    width += columnWidth(c);
  fixed_->horizontalHeader()->setFixedHeight(horizontalHeader()->height());
  fixed_->setGeometry(frameWidth(), frameWidth(), width,
                      viewport()->height() + horizontalHeader()->height());
  fixed_->setVisible(width > 0);
}

// --- window ------------------------------------------------------------------------------------

DATA_Table::DATA_Table(Program& program, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window), p_(program) {
  setObjectName("DATA_Table");
  setWindowTitle("DATA TABLE");
  // Stays above the other windows.
  setWindowFlag(Qt::WindowStaysOnTopHint, true);
  if (mainWindow) setWindowIcon(mainWindow->windowIcon());
  resize(px(13500), px(6600));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(px(120), px(120), px(120), px(120));
  SSTab1 = new QTabWidget(this);
  SSTab1->setObjectName("SSTab1");
  layout->addWidget(SSTab1);
  for (int d = 0; d < 4; ++d) {
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(px(60), px(60), px(60), px(60));
    auto* grid = new ScanGridView(page);
    grid->setObjectName(QString("MSFlexGrid1_%1").arg(d));
    new FollowNewest(grid);
    pageLayout->addWidget(grid);
    MSFlexGrid1[static_cast<std::size_t>(d)] = grid;
    SSTab1->addTab(page, QString("Tab %1").arg(d));
  }

  const int n = std::clamp<int>(p_.link.InstrumentCount, 0, kMaxInstruments);
  const auto& devices = p_.display.deviceList;
  for (int d = 0; d < n; ++d) {
    SSTab1->setTabVisible(d, true);
    const QString caption =
        static_cast<std::size_t>(d) < devices.size() ? toQt(devices[static_cast<std::size_t>(d)]) : QString();
    SSTab1->setTabText(d, caption.left(10));
  }
  for (int d = n; d < 4; ++d) SSTab1->setTabVisible(d, false);
  SSTab1->setCurrentIndex(0);

  for (int d = 0; d < n; ++d) {
    const auto s = static_cast<std::size_t>(d);
    auto* model = new DataTableModel(p_.display, d, p_.tables.setup[s].ChannelCount, this);
    ScanGridView* grid = MSFlexGrid1[s];
    grid->setModel(model);
    grid->setColumnWidth(0, px(kScanColumnTwips));
    // At least the widths of the layout, and room for a time stamp with milliseconds and for a
    // reading in this font.
    grid->setColumnWidth(1, std::max(px(kTimeColumnTwips),
                                     grid->fontMetrics().horizontalAdvance("0000/00/00 00:00:00:000") + 12));
    const int channelWidth = std::max(px(kChannelColumnTwips),
                                      grid->fontMetrics().horizontalAdvance("+0.000000E+00") + 12);
    for (int c = kFixedColumns; c < model->columnCount(); ++c) grid->setColumnWidth(c, channelWidth);
    readingColumns_[s] = new ReadingColumns(grid, channelWidth);
    readingColumns_[s]->follow(p_.tables.channel[s]);
    models[s] = model;
  }
}

void DATA_Table::sync() {
  for (std::size_t s = 0; s < models.size(); ++s) {
    if (models[s]) models[s]->sync();
    // Alarm limits or a unit set while the window is open widen their columns at once.
    if (readingColumns_[s]) readingColumns_[s]->follow(p_.tables.channel[s]);
  }
}

}  // namespace kalivor
