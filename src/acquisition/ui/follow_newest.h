// SPDX-License-Identifier: MIT
#pragma once
// Keeps a live scan grid on its newest row while rows arrive, until the user scrolls away to read
// older ones; scrolling back to the end follows again. It watches the grid's scroll bar rather
// than the run, so it works however often the grid is brought up to date.
#include <QObject>

class QAbstractScrollArea;

namespace kalivor {

class FollowNewest final : public QObject {
  Q_OBJECT
 public:
  explicit FollowNewest(QAbstractScrollArea* view);
  bool following() const { return following_; }

 private:
  bool following_ = true;
};

}  // namespace kalivor
