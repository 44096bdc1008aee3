// SPDX-License-Identifier: MIT
#pragma once
// Compact stores behind the trend chart: the reading history of one channel and the per-slot
// position tables (x of every display position, y of every scan), sized for the chart's 10 002
// points and allocated on first use.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace kalivor {

inline constexpr int kHistoryCapacity = 10002;   // points 0..10001 are drawn
inline constexpr int kPositionColumns = 20;       // channel indexes 0..19

// Readings of one channel, point 0 = newest. A shift makes room for a new point 0 and drops the
// oldest once the history is full; points never written read as 0.
class PointHistory {
 public:
  double at(int point) const {
    if (values_.empty()) return 0.0;
    return values_[index(point)];
  }
  void shift() {
    allocate();
    head_ = head_ == 0 ? kHistoryCapacity - 1 : head_ - 1;
  }
  void setNewest(double v) {
    allocate();
    values_[head_] = v;
  }
  // Empties the history but keeps its memory for the next run.
  void clear() {
    std::fill(values_.begin(), values_.end(), 0.0);
    head_ = 0;
  }
  std::size_t bytes() const { return values_.capacity() * sizeof(double); }

 private:
  void allocate() {
    if (values_.empty()) values_.assign(kHistoryCapacity, 0.0);
  }
  std::size_t index(int point) const {
    const std::size_t i = head_ + static_cast<std::size_t>(point);
    return i >= kHistoryCapacity ? i - kHistoryCapacity : i;
  }
  std::vector<double> values_;
  std::size_t head_ = 0;
};

// X table of a slot: row 0 holds the start x, row r (1..10002) the x of display position r - 1.
// Rows beyond 10002 can hold no point and are never stored. Cells are twips as float (plenty for
// screen positions); a scroll shift applies to every stored cell at once.
class XPositionTable {
 public:
  static constexpr int kRows = kHistoryCapacity + 1;

  std::optional<double> get(std::int64_t row, int col) const {
    const float v = raw(row, col);
    if (std::isnan(v)) return std::nullopt;
    return v + shift_;
  }
  // NaN when empty; the scroll shift included.
  double value(std::int64_t row, int col) const { return raw(row, col) + shift_; }
  void set(std::int64_t row, int col, double v) {
    if (row < 0 || row >= kRows || col < 0 || col >= kPositionColumns) return;
    allocate();
    cells_[static_cast<std::size_t>(col) * kRows + static_cast<std::size_t>(row)] =
        static_cast<float>(v - shift_);
  }
  void addToAll(double delta) { shift_ += delta; }
  void clear() {
    if (!cells_.empty()) std::fill(cells_.begin(), cells_.end(), kEmpty);
    shift_ = 0;
  }
  std::size_t bytes() const { return cells_.capacity() * sizeof(float); }

 private:
  static constexpr float kEmpty = std::numeric_limits<float>::quiet_NaN();
  float raw(std::int64_t row, int col) const {
    if (cells_.empty() || row < 0 || row >= kRows || col < 0 || col >= kPositionColumns)
      return kEmpty;
    return cells_[static_cast<std::size_t>(col) * kRows + static_cast<std::size_t>(row)];
  }
  void allocate() {
    if (cells_.empty()) cells_.assign(static_cast<std::size_t>(kPositionColumns) * kRows, kEmpty);
  }
  std::vector<float> cells_;
  double shift_ = 0;
};

// Y table of a slot: row 0 holds the reference level, row s >= 1 the drawn y of scan number s.
// Only the newest 10 002 scan rows can belong to a drawn point, so older rows are forgotten as
// new ones are written (they read as empty).
class YPositionTable {
 public:
  std::optional<double> get(std::int64_t row, int col) const {
    const float v = raw(row, col);
    if (std::isnan(v)) return std::nullopt;
    return v + shift_;
  }
  double value(std::int64_t row, int col) const { return raw(row, col) + shift_; }
  void set(std::int64_t row, int col, double v) {
    if (row < 0 || col < 0 || col >= kPositionColumns) return;
    allocate();
    const float f = static_cast<float>(v - shift_);
    if (row == 0) {
      row0_[static_cast<std::size_t>(col)] = f;
      return;
    }
    if (row > top_) advanceTo(row);
    if (row <= top_ - kHistoryCapacity) return;  // older than anything drawable
    ring_[slotOf(row, col)] = f;
  }
  void addToAll(double delta) { shift_ += delta; }
  void clear() {
    if (!ring_.empty()) {
      std::fill(ring_.begin(), ring_.end(), kEmpty);
      std::fill(row0_.begin(), row0_.end(), kEmpty);
    }
    top_ = 0;
    shift_ = 0;
  }
  std::size_t bytes() const {
    return (ring_.capacity() + row0_.capacity()) * sizeof(float);
  }

 private:
  static constexpr float kEmpty = std::numeric_limits<float>::quiet_NaN();
  std::size_t slotOf(std::int64_t row, int col) const {
    return static_cast<std::size_t>(col) * kHistoryCapacity +
           static_cast<std::size_t>((row - 1) % kHistoryCapacity);
  }
  float raw(std::int64_t row, int col) const {
    if (ring_.empty() || row < 0 || col < 0 || col >= kPositionColumns) return kEmpty;
    if (row == 0) return row0_[static_cast<std::size_t>(col)];
    if (row > top_ || row <= top_ - kHistoryCapacity) return kEmpty;
    return ring_[slotOf(row, col)];
  }
  void allocate() {
    if (ring_.empty()) {
      ring_.assign(static_cast<std::size_t>(kPositionColumns) * kHistoryCapacity, kEmpty);
      row0_.assign(kPositionColumns, kEmpty);
    }
  }
  // Rows between the old top and the new one were never written in this window: empty them
  // (their ring cells still hold rows from 10 002 scans ago).
  void advanceTo(std::int64_t row) {
    const std::int64_t from = std::max(top_ + 1, row - kHistoryCapacity + 1);
    for (std::int64_t r = from; r <= row; ++r) {
      for (int c = 0; c < kPositionColumns; ++c) ring_[slotOf(r, c)] = kEmpty;
    }
    top_ = row;
  }
  std::vector<float> ring_;
  std::vector<float> row0_;
  std::int64_t top_ = 0;
  double shift_ = 0;
};

}  // namespace kalivor
