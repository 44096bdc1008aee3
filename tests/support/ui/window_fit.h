// SPDX-License-Identifier: MIT
#pragma once
// Checks that a window's controls fit: nothing on top of a sibling, nothing outside its parent,
// no caption cut short, and every control back in its place after a round of resizing.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// Rectangles in test messages as x,y wxh.
inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

namespace kalivor::testing {

// The room a window may take on a 1366 x 768 screen: a task bar (48) and the desktop's title bar
// (32) and frame (8 each side) around it.
inline QSize laptopRoom() { return QSize(1366 - 16, 768 - 48 - 32); }

inline QString nameOf(const QWidget* w) {
  return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
}

// Visible direct children of `parent` that overlap each other or stick out of it.
inline std::vector<std::string> overlaps(const QWidget& parent) {
  std::vector<std::string> found;
  const auto children = parent.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (int i = 0; i < children.size(); ++i) {
    const QWidget* a = children[i];
    if (!a->isVisible()) continue;
    for (int j = i + 1; j < children.size(); ++j) {
      const QWidget* b = children[j];
      if (b->isVisible() && a->geometry().intersects(b->geometry()))
        found.push_back((nameOf(a) + " / " + nameOf(b)).toStdString());
    }
    if (!parent.rect().contains(a->geometry())) found.push_back(nameOf(a).toStdString() + " outside");
  }
  return found;
}

// What a control needs to show its caption whole (a push button: its caption inside its frame;
// its size hint adds the style's margins and minimum width).
inline QSize captionNeeds(const QWidget& w) {
  if (const auto* label = qobject_cast<const QLabel*>(&w)) return label->minimumSizeHint();
  if (const auto* push = qobject_cast<const QPushButton*>(&w)) {
    const int frame = push->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, push);
    const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
    return QSize(push->fontMetrics().horizontalAdvance(push->text()) + icon + 2 * frame,
                 push->fontMetrics().height());
  }
  return w.sizeHint();
}

// Visible labels and buttons of `window` narrower or lower than their caption needs.
inline std::vector<std::string> clipped(const QWidget& window) {
  std::vector<std::string> found;
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const auto* label = qobject_cast<const QLabel*>(w);
    const auto* button = qobject_cast<const QAbstractButton*>(w);
    const bool captioned = (label && !label->wordWrap() && !label->text().isEmpty()) ||
                           (button && !button->text().isEmpty());
    if (!captioned) continue;
    const QSize need = captionNeeds(*w);
    if (w->width() < need.width() || w->height() < need.height())
      found.push_back(nameOf(w).toStdString());
  }
  return found;
}

// Every visible named control of `window` (not Qt's own parts) with its place in its parent.
inline std::map<std::string, QRect> placesOf(const QWidget& window) {
  std::map<std::string, QRect> places;
  for (const QWidget* w : window.findChildren<QWidget*>()) {
    if (w->isVisible() && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
      places[w->objectName().toStdString()] = w->geometry();
  }
  return places;
}

// How much wider a table cell's text is than the room the style leaves it in its column (the text
// is drawn elided, ending in "…", when this is above 0).
inline int cellOverflow(const QTableView& view, int row, int column) {
  const QModelIndex index = view.model()->index(row, column);
  QStyleOptionViewItem opt;
  opt.initFrom(&view);
  opt.font = view.font();
  opt.fontMetrics = QFontMetrics(opt.font);
  opt.rect = QRect(0, 0, view.columnWidth(column), view.rowHeight(row));
  opt.features = QStyleOptionViewItem::HasDisplay;
  opt.text = index.data().toString();
  const QRect room = view.style()->subElementRect(QStyle::SE_ItemViewItemText, &opt, &view);
  const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
  return opt.fontMetrics.horizontalAdvance(opt.text) - (room.width() - 2 * margin);
}

}  // namespace kalivor::testing
