// SPDX-License-Identifier: MIT
#pragma once
// Keeps a live scan grid on its newest row while rows arrive, until the user scrolls away to read
// older ones; scrolling back to the end follows again. It watches the grid's scroll bar rather
// than the run, so it works however often the grid is brought up to date.
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QScrollBar>

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

// A scroll bar that repaints only when it would look different, and then from a picture of
// itself while nobody points at it. A long live table grows by a row a scan: its slider soon
// stands at its smallest at the end of the groove and stays there, yet every change of range or
// value, and every new layout of the table, would draw the whole bar again.
class SteadyScrollBar final : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;
  // Times the bar was drawn afresh and from its picture, since made.
  int drawn() const { return drawn_; }
  int reused() const { return reused_; }

 protected:
  void sliderChange(SliderChange change) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  struct Look {
    QRect slider;
    bool atMinimum = false, atMaximum = false;
    bool operator==(const Look&) const = default;
  };
  Look look() const;
  Look painted_;
  bool everPainted_ = false;
  QPixmap picture_;
  Look pictureLook_;
  qint64 pictureKey_ = 0;
  int drawn_ = 0, reused_ = 0;
};

}  // namespace kalivor
