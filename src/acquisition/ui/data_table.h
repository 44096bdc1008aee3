// SPDX-License-Identifier: MIT
#pragma once
// DATA_Table ("DATA TABLE"): a window above all others with one tab per selected instrument, each
// holding the scans of the current run (scan number, time, every channel's reading) under a
// two-row header. Its grids read the same scan tables as the main window's, so whatever the run
// has stored is there when the window opens and new scans appear as they are stored.
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QTableView>
#include <QWidget>
#include <array>

#include "acquisition/live_display.h"
#include "scan/setup_tables.h"

class QTabWidget;

namespace kalivor {

class Program;
class ReadingColumns;

// Grid d of the window: channelCount + 2 columns laid out when the window loads, one row per
// stored scan. Header row 0 ("Scan", "Channel") comes as Qt::UserRole of the header data.
class DataTableModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  DataTableModel(const LiveDisplay& display, int slot, int channelCount, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Follows the live scan table (cheap when nothing changed).
  void sync();

  static constexpr int kGroupRole = Qt::UserRole;

 private:
  const ScanTable& table() const { return display_.scanTables[static_cast<std::size_t>(slot_)]; }
  const LiveDisplay& display_;
  int slot_;
  int columns_;
  int rows_ = 0;
  std::int64_t dropped_ = 0;
  const void* firstRow_ = nullptr;  // tells a new run's table from the old one
};

// Two header rows: the group of each column ("Scan" over the first two, "Channel" over the rest),
// shown as one merged cell, above the column's own caption.
class TwoRowHeader final : public QHeaderView {
  Q_OBJECT
 public:
  explicit TwoRowHeader(QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

 private:
  QString group(int logicalIndex) const;
};

// A scan grid whose first two columns (scan number and time) stay in place while the channels
// scroll sideways.
class ScanGridView final : public QTableView {
  Q_OBJECT
 public:
  explicit ScanGridView(QWidget* parent = nullptr);
  void setModel(QAbstractItemModel* model) override;
  QTableView* fixedColumns() const { return fixed_; }
  // Room for the fixed columns, one channel beside them and a few rows, with the scroll bars.
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void updateGeometries() override;

 private:
  void layoutFixedColumns();
  QTableView* fixed_;
  bool echoing_ = false;
};

class DATA_Table final : public QWidget {
  Q_OBJECT
 public:
  // The load: top-most, the main window's icon, one tab per instrument, every grid laid out over
  // what the main window's scan tables hold.
  DATA_Table(Program& program, QWidget* mainWindow);

  // Follows the run.
  void sync();

  QTabWidget* SSTab1 = nullptr;
  std::array<ScanGridView*, 4> MSFlexGrid1{};
  std::array<DataTableModel*, 4> models{};

 private:
  Program& p_;
  std::array<ReadingColumns*, 4> readingColumns_{};
};

}  // namespace kalivor
