// SPDX-License-Identifier: MIT
#include "acquisition/ui/follow_newest.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <QStyle>
#include <QStyleOptionSlider>

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

SteadyScrollBar::Look SteadyScrollBar::look() const {
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  Look l;
  l.slider = style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
  // The arrows show whether there is further to go.
  l.atMinimum = value() == minimum();
  l.atMaximum = value() == maximum();
  return l;
}

void SteadyScrollBar::sliderChange(SliderChange change) {
  const bool samePicture = change != SliderOrientationChange && everPainted_ && look() == painted_;
  if (!samePicture) QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent* event) {
  painted_ = look();
  everPainted_ = true;
  // Pointed at, pressed or dragged, it shows that: drawn as usual.
  if (underMouse() || isSliderDown() || QApplication::mouseButtons() != Qt::NoButton) {
    picture_ = QPixmap();
    ++drawn_;
    QScrollBar::paintEvent(event);
    return;
  }
  const qreal dpr = devicePixelRatioF();
  // What else the picture depends on: size, palette, state and style.
  const qint64 key = qHashMulti(0, width(), height(), dpr, palette().cacheKey(), isEnabled(),
                                isActiveWindow(), reinterpret_cast<quintptr>(style()));
  if (picture_.isNull() || pictureLook_ != painted_ || pictureKey_ != key) {
    ++drawn_;
    picture_ = QPixmap((QSizeF(size()) * dpr).toSize());
    picture_.setDevicePixelRatio(dpr);
    picture_.fill(Qt::transparent);
    QPainter p(&picture_);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_All;
    opt.activeSubControls = QStyle::SC_None;
    style()->drawComplexControl(QStyle::CC_ScrollBar, &opt, &p, this);
    pictureLook_ = painted_;
    pictureKey_ = key;
  } else {
    ++reused_;
  }
  // In bands: Qt hands a blit taller than about 96 rows to helper threads in parts and waits for
  // them, which costs more than the blit.
  constexpr int kBand = 64;
  QPainter p(this);
  for (int y = 0; y < height(); y += kBand) {
    const QRect band(0, y, width(), std::min(kBand, height() - y));
    p.drawPixmap(band, picture_, QRectF(QPointF(band.topLeft()) * dpr, QSizeF(band.size()) * dpr));
  }
}

}  // namespace kalivor
