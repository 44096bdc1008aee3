// SPDX-License-Identifier: MIT
#include "acquisition/ui/cached_cell_delegate.h"

#include <QAbstractItemView>
#include <QPaintDevice>
#include <QPainter>
#include <optional>

namespace kalivor {
namespace {

// What the view has painted beneath a cell, if it is one plain colour: its background, filled
// by the window or by the view itself (an opaque viewport).
std::optional<QColor> groundOf(const QStyleOptionViewItem& opt) {
  const auto* view = qobject_cast<const QAbstractItemView*>(opt.widget);
  if (!view || !(view->viewport()->autoFillBackground() ||
                 view->viewport()->testAttribute(Qt::WA_OpaquePaintEvent)))
    return std::nullopt;
  const QBrush ground = view->viewport()->palette().brush(view->viewport()->backgroundRole());
  if (ground.style() != Qt::SolidPattern || !ground.isOpaque()) return std::nullopt;
  return ground.color();
}

}  // namespace

bool CellLook::operator==(const CellLook& o) const {
  return text == o.text && size == o.size && pixelRatio == o.pixelRatio && alignment == o.alignment &&
         elide == o.elide && features == o.features && state == o.state && direction == o.direction &&
         decorationSelected == o.decorationSelected && textColor == o.textColor &&
         highlightedText == o.highlightedText && highlight == o.highlight &&
         hasBackground == o.hasBackground && background == o.background && ground == o.ground &&
         style == o.style && font == o.font;
}

size_t qHash(const CellLook& look, size_t seed) {
  return qHashMulti(seed, look.text, look.size.width(), look.size.height(), look.state, look.textColor,
                    look.background, look.alignment);
}

CachedCellDelegate::CachedCellDelegate(QObject* parent, int maxPixels) : QStyledItemDelegate(parent) {
  pictures_.setMaxCost(maxPixels);
}

void CachedCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const std::optional<QColor> ground = groundOf(opt);
  const bool plain = ground && !(opt.features & (QStyleOptionViewItem::HasDecoration |
                                                 QStyleOptionViewItem::HasCheckIndicator |
                                                 QStyleOptionViewItem::Alternate)) &&
                     (opt.backgroundBrush.style() == Qt::NoBrush ||
                      opt.backgroundBrush.style() == Qt::SolidPattern) &&
                     !opt.rect.isEmpty() && painter->device() != nullptr;
  if (!plain) {
    ++painted_;
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  const qreal dpr = painter->device()->devicePixelRatioF();
  const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                     : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                         : QPalette::Inactive;
  CellLook key;
  key.text = opt.text;
  key.font = opt.font;
  key.size = opt.rect.size();
  key.pixelRatio = dpr;
  key.alignment = int(opt.displayAlignment);
  key.elide = int(opt.textElideMode);
  key.features = int(opt.features);
  key.state = int(opt.state);
  key.direction = int(opt.direction);
  key.decorationSelected = opt.showDecorationSelected;
  key.textColor = opt.palette.color(group, QPalette::Text).rgba();
  key.highlightedText = opt.palette.color(group, QPalette::HighlightedText).rgba();
  key.highlight = opt.palette.color(group, QPalette::Highlight).rgba();
  key.hasBackground = opt.backgroundBrush.style() != Qt::NoBrush;
  key.background = key.hasBackground ? opt.backgroundBrush.color().rgba() : 0;
  key.ground = ground->rgba();
  key.style = opt.widget ? opt.widget->style() : nullptr;
  if (const QPixmap* kept = pictures_.object(key)) {
    ++reused_;
    painter->drawPixmap(opt.rect.topLeft(), *kept);
    return;
  }
  ++painted_;
  QPixmap picture((QSizeF(opt.rect.size()) * dpr).toSize());
  picture.setDevicePixelRatio(dpr);
  picture.fill(*ground);
  {
    QPainter p(&picture);
    QStyleOptionViewItem at = option;
    at.rect = QRect(QPoint(0, 0), option.rect.size());
    QStyledItemDelegate::paint(&p, at, index);
  }
  painter->drawPixmap(opt.rect.topLeft(), picture);
  pictures_.insert(key, new QPixmap(picture), opt.rect.width() * opt.rect.height());
}

}  // namespace kalivor
