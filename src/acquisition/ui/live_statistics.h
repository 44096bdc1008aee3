// SPDX-License-Identifier: MIT
#pragma once
// "Channel Statistics": per instrument and channel of the current (or last) run, the count, last,
// minimum, maximum, mean and standard deviation of the readings since the run started, when the
// minimum and maximum were read, the blank, overload and text readings apart, and how often the
// reading left its alarm band. It follows the run by itself while open.
#include <QWidget>
#include <cstdint>

class QTableWidget;
class QTimer;

namespace kalivor {

class Program;

class Live_Statistics final : public QWidget {
  Q_OBJECT
 public:
  Live_Statistics(Program& program, QWidget* parent = nullptr);

  // Rebuilds the table when the run has moved on since the last call.
  void refresh();

  QTableWidget* live_grid = nullptr;

 private:
  Program& p_;
  QTimer* timer_ = nullptr;
  std::uint64_t shown_ = ~std::uint64_t{0};
};

}  // namespace kalivor
