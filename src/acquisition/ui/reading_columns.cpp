// SPDX-License-Identifier: MIT
#include "acquisition/ui/reading_columns.h"

#include <QAbstractItemModel>
#include <QTableView>
#include <algorithm>

#include "acquisition/live_display.h"

namespace kalivor {
namespace {
// Room around the text: the cell's margins and its grid line.
constexpr int kCellSlack = 12;
constexpr int kFixedColumns = 2;
}  // namespace

QString widestShownReading(const ChannelSetup& channel) {
  // A meter's reading as it comes, or a scaled value in exponent form (the widest it is written).
  QString text = "+8.888888E+88";
  if (channel.ScaleOn != 0 && !channel.ScaleUnit.empty()) text += " " + QString::fromStdString(channel.ScaleUnit);
  return text;
}

int readingColumnWidth(const QFontMetrics& fm, const ChannelSetup& channel, int plainWidth) {
  const bool marked = channel.AlarmLow.has_value() || channel.AlarmHigh.has_value();
  const bool unit = channel.ScaleOn != 0 && !channel.ScaleUnit.empty();
  if (!marked && !unit) return plainWidth;
  const QString text = widestShownReading(channel);
  int widest = fm.horizontalAdvance(text);
  if (marked) {
    widest = std::max(fm.horizontalAdvance(QString::fromUtf8(kAlarmMarkerHigh) + text),
                      fm.horizontalAdvance(QString::fromUtf8(kAlarmMarkerLow) + text));
  }
  return std::max(plainWidth, widest + kCellSlack);
}

ReadingColumns::ReadingColumns(QTableView* view, int plainWidth)
    : QObject(view), view_(view), plain_(plainWidth) {
  // A reset model gives every column the header's default width again.
  if (view->model()) connect(view->model(), &QAbstractItemModel::modelReset, this, [this] { laidOut_ = -1; });
}

void ReadingColumns::follow(const ChannelRow& channels) {
  if (!view_->model()) return;
  const int columns = view_->model()->columnCount();
  const int count = std::clamp(columns - kFixedColumns, 0, kMaxChannels);
  const QFontMetrics fm = view_->fontMetrics();
  std::vector<int> widths(static_cast<std::size_t>(count));
  for (int c = 0; c < count; ++c)
    widths[static_cast<std::size_t>(c)] = readingColumnWidth(fm, channels[static_cast<std::size_t>(c)], plain_);
  const bool fresh = columns != laidOut_;
  if (!fresh && widths == widths_) return;
  for (int c = 0; c < count; ++c) {
    const int w = widths[static_cast<std::size_t>(c)];
    // Only the channels whose setup asks for another width: the others keep what the user made.
    if (!fresh && w == widths_[static_cast<std::size_t>(c)]) continue;
    if (view_->columnWidth(c + kFixedColumns) != w) view_->setColumnWidth(c + kFixedColumns, w);
  }
  laidOut_ = columns;
  widths_ = std::move(widths);
}

}  // namespace kalivor
