// SPDX-License-Identifier: MIT
#include "acquisition/ui/follow_newest.h"

#include <QAbstractScrollArea>
#include <QScrollBar>

namespace kalivor {

FollowNewest::FollowNewest(QAbstractScrollArea* view) : QObject(view) {
  QScrollBar* bar = view->verticalScrollBar();
  // Any move of the bar (wheel, keys, dragging, our own) says whether the end is in view.
  connect(bar, &QScrollBar::valueChanged, this,
          [this, bar](int value) { following_ = value >= bar->maximum(); });
  // New rows (or a smaller window) move the end further down: go with it while following.
  connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
    // Everything fits (a new run's empty table): the end is in view.
    if (max <= 0) following_ = true;
    if (following_ && bar->value() != max) bar->setValue(max);
  });
}

}  // namespace kalivor
