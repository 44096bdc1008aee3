// SPDX-License-Identifier: MIT
#include "charts/ui/trend_chart_view.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRegion>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/ui/qt_seams.h"

namespace kalivor {
namespace {

constexpr QRgb kLine1Color = qRgb(192, 0, 0);
constexpr double kShapeTwips = 105;

// A small picture of a background scheme with a trace over it, for its toolbar button.
QIcon schemeIcon(int scheme) {
  QPixmap pm(20, 16);
  const bool white = scheme == kWhite || scheme == kWhiteGrid;
  pm.fill(white ? Qt::white : Qt::black);
  QPainter p(&pm);
  if (scheme == kWhiteGrid || scheme == kBlackGrid) {
    QPen grid(white ? Qt::black : Qt::white, 1);
    grid.setDashPattern(scheme == kWhiteGrid ? QList<qreal>{1, 1} : QList<qreal>{2, 2});
    p.setPen(grid);
    for (int y = 4; y < 16; y += 4) p.drawLine(0, y, 19, y);
    for (int x = 5; x < 20; x += 5) p.drawLine(x, 0, x, 15);
  }
  if (white) {
    p.setPen(Qt::black);
    p.drawLine(0, 0, 19, 0);
    p.drawLine(0, 0, 0, 15);
    p.drawLine(19, 0, 19, 15);
  }
  p.setPen(QPen(QColor(60, 179, 113), 2));
  const QPoint trace[] = {{1, 11}, {6, 7}, {10, 9}, {14, 4}, {19, 6}};
  p.drawPolyline(trace, 5);
  return QIcon(pm);
}

// The reference-level marker: a red pointer towards the plot.
QPixmap referenceMarker() {
  QPixmap pm(px(180), px(285));
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(kLine1Color));
  const int w = pm.width();
  const int h = pm.height();
  const QPointF arrow[] = {{0.5, h * 0.2}, {w - 0.5, h / 2.0}, {0.5, h * 0.8}};
  p.drawPolygon(arrow, 3);
  return pm;
}

void setTextIfChanged(QLabel* l, const std::string& text) {
  const QString t = toQt(text);
  if (l->text() != t) l->setText(t);
}

// The red circle of the cursor marker.
class Shape1Widget final : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::red, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(rect()).adjusted(0.6, 0.6, -0.6, -0.6));
  }
};

}  // namespace

// --- drawmain_pic ------------------------------------------------------------------------------

DrawMainPic::DrawMainPic(QWidget* parent) : QWidget(parent) {
  setObjectName("drawmain_pic");
  setMouseTracking(true);  // the read-out follows the mouse without a button pressed
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);

  Line1 = new QWidget(this);
  Line1->setObjectName("Line1");
  Line1->setAutoFillBackground(true);
  QPalette lp = Line1->palette();
  lp.setColor(QPalette::Window, QColor(kLine1Color));
  Line1->setPalette(lp);
  Line1->setAttribute(Qt::WA_TransparentForMouseEvents);

  Shape1 = new Shape1Widget(this);
  Shape1->setObjectName("Shape1");
  Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
  Shape1->hide();
}

void DrawMainPic::showPicture(const QImage& picture, int scheme) {
  const QColor base = (scheme == kWhite || scheme == kWhiteGrid) ? Qt::white : Qt::black;
  if (picture.cacheKey() == sourceKey_ && base == base_) return;
  sourceKey_ = picture.cacheKey();
  base_ = base;
  if (!shown_.isNull() && !picture.isNull() && shown_.size() == picture.size() &&
      shown_.format() == picture.format() && shown_.bytesPerLine() == picture.bytesPerLine()) {
    std::memcpy(shown_.bits(), picture.constBits(), static_cast<std::size_t>(picture.sizeInBytes()));
  } else {
    shown_ = picture.copy();
  }
  update();
}

void DrawMainPic::setScale(double xPerTwip, double yPerTwip) {
  xScale_ = xPerTwip;
  yScale_ = yPerTwip;
  placeLine1(line1Twips_);
}

void DrawMainPic::placeLine1(double yTwips) {
  line1Twips_ = yTwips;
  const int y = std::clamp(static_cast<int>(std::lround(yTwips * yScale_)), 0,
                           std::max(0, height() - 1));
  const QRect r(0, y, width(), 1);
  if (Line1->geometry() != r) Line1->setGeometry(r);
}

void DrawMainPic::placeShape1(bool visible, double leftTwips, double topTwips) {
  if (visible) {
    const QRect r(static_cast<int>(leftTwips * xScale_ + 0.5), static_cast<int>(topTwips * yScale_ + 0.5),
                  px(kShapeTwips), px(kShapeTwips));
    if (Shape1->geometry() != r) Shape1->setGeometry(r);
  }
  if (Shape1->isVisible() != visible) Shape1->setVisible(visible);
}

void DrawMainPic::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // In bands: Qt hands a blit taller than about 96 rows to helper threads in parts and waits for
  // them, which costs more than the blit.
  constexpr int kBand = 64;
  for (int y = 0; y < shown_.height(); y += kBand)
    p.drawImage(QPoint(0, y), shown_, QRect(0, y, shown_.width(), std::min(kBand, shown_.height() - y)));
  // The picture is 340 pixels high, the plot 341: the last row takes the scheme's colour (only
  // what the picture leaves is filled, a full fill first costs as much as the picture).
  for (const QRect& r : QRegion(rect()).subtracted(shown_.rect())) p.fillRect(r, base_);
}

void DrawMainPic::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (mouseMoved) mouseMoved(at.x() / xScale_, at.y() / yScale_);
}

// --- the chart's controls ----------------------------------------------------------------------

TrendChartView::TrendChartView(TrendChart& chart, QPainterCanvas& canvas, QWidget* host,
                               std::function<std::string(const CursorReadout&)> readoutText)
    : QObject(host), chart_(chart), canvas_(canvas), readoutText_(std::move(readoutText)) {
  setObjectName("TrendChartView");
  build(host);
  sync();
}

void TrendChartView::build(QWidget* host) {
  auto place = [](QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
  };
  auto pictureButton = [&](const char* name, const QIcon& icon, double left, double top,
                           double width, double height) {
    auto* b = new QPushButton(host);
    b->setObjectName(name);
    b->setIcon(icon);
    b->setIconSize(QSize(px(width) - 8, px(height) - 8));
    b->setFocusPolicy(Qt::NoFocus);
    place(b, left, top, width, height);
    return b;
  };
  QStyle* style = host->style();

  drawmain_pic = new DrawMainPic(host);
  place(drawmain_pic, kPlotLeft, kPlotTop, kPlotWidth, kPlotHeight);
  drawmain_pic->mouseMoved = [this](double x, double y) { drawmain_pic_MouseMove(x, y); };
  // The plot's context menu chooses whose alarm limits are drawn as lines.
  drawmain_pic->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* limitGroup = new QActionGroup(drawmain_pic);
  LimitLinesCursor = new QAction("Limit lines of the channel under the cursor", limitGroup);
  LimitLinesAll = new QAction("Limit lines of all channels", limitGroup);
  for (QAction* a : {LimitLinesCursor, LimitLinesAll}) {
    a->setCheckable(true);
    drawmain_pic->addAction(a);
  }
  LimitLinesCursor->setObjectName("LimitLinesCursor");
  LimitLinesAll->setObjectName("LimitLinesAll");
  LimitLinesCursor->setChecked(chart_.limitLines == LimitLineMode::CursorChannel);
  LimitLinesAll->setChecked(chart_.limitLines == LimitLineMode::AllChannels);
  QObject::connect(LimitLinesAll, &QAction::toggled, this, [this](bool all) {
    chart_.setLimitLineMode(all ? LimitLineMode::AllChannels : LimitLineMode::CursorChannel);
    sync();
  });

  row_stat = new QLabel(host);
  row_stat->setObjectName("row_stat");
  row_stat->setPixmap(referenceMarker());
  place(row_stat, 360, chart_.controls.row_statTop, 180, 285);
  ref_label = new QLabel("Ref.", host);
  ref_label->setObjectName("ref_label");
  place(ref_label, 45, chart_.controls.ref_labelTop, 375, 255);

  UpDraw = pictureButton("UpDraw", style->standardIcon(QStyle::SP_ArrowUp), 16050, 2520, 375, 550);
  DownDraw = pictureButton("DownDraw", style->standardIcon(QStyle::SP_ArrowDown), 16050, 3480, 375, 550);
  QObject::connect(UpDraw, &QPushButton::clicked, this, [this] { UpDraw_Click(); });
  QObject::connect(DownDraw, &QPushButton::clicked, this, [this] { DownDraw_Click(); });

  Xaxis_stop = new QLabel(host);
  Xaxis_stop->setObjectName("Xaxis_stop");
  Xaxis_stop->setAlignment(Qt::AlignCenter);
  place(Xaxis_stop, 120, 6000, 615, 255);
  Xaxis_start = new QLabel(host);
  Xaxis_start->setObjectName("Xaxis_start");
  Xaxis_start->setAlignment(Qt::AlignCenter);
  place(Xaxis_start, 15480, 6000, 495, 255);

  // Scrolling: Command2 (left) towards newer scans, Command1 (right) towards older ones.
  Command2 = pictureButton("Command2", style->standardIcon(QStyle::SP_ArrowLeft), 6240, 6000, 495, 375);
  Command1 = pictureButton("Command1", style->standardIcon(QStyle::SP_ArrowRight), 8400, 6000, 495, 375);
  QObject::connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
  QObject::connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

  // The read-out: the value box with the channel tag laid over its left end.
  Text1 = new QLineEdit(host);
  Text1->setObjectName("Text1");
  Text1->setReadOnly(true);
  Text1->setFocusPolicy(Qt::NoFocus);
  Text1->setStyleSheet("QLineEdit { background: black; color: white; border: 1px solid gray; }");
  QFont big = Text1->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  Text1->setFont(big);
  place(Text1, 11760, 6480, 4215, 555);
  Text3 = new QLineEdit(host);
  Text3->setObjectName("Text3");
  Text3->setReadOnly(true);
  Text3->setFocusPolicy(Qt::NoFocus);
  Text3->setAlignment(Qt::AlignCenter);
  Text3->setStyleSheet("QLineEdit { border: none; padding: 0px; }");
  place(Text3, 11880, 6600, 505, 285);
  // The tag holds the widest channel name whole ("CH 20"), and the value starts after it.
  const int tagWidth = std::max(px(505), Text3->fontMetrics().horizontalAdvance("CH 20") + 8);
  Text3->resize(tagWidth, std::max(px(285), Text3->fontMetrics().height() + 2));
  Text3->move(Text3->x(), Text1->y() + (Text1->height() - Text3->height()) / 2);
  Text1->setTextMargins(Text3->geometry().right() + 1 - Text1->x() + px(90), 0, px(60), 0);

  X_Axis_Label = new QLabel("X-Axis :", host);
  X_Axis_Label->setObjectName("X_Axis_Label");
  place(X_Axis_Label, 13920, 7320, 720, 300);
  X_Axis_Combo = new QComboBox(host);
  X_Axis_Combo->setObjectName("X_Axis_Combo");
  for (const char* item : kXAxisItems) X_Axis_Combo->addItem(item);
  place(X_Axis_Combo, 14640, 7320, 975, 330);
  QObject::connect(X_Axis_Combo, &QComboBox::activated, this, [this](int i) { X_Axis_Combo_Click(i); });

  Y_scal_Label = new QLabel("Y-scal :", host);
  Y_scal_Label->setObjectName("Y_scal_Label");
  place(Y_scal_Label, 13920, 7920, 720, 300);
  Y_scal_Combo = new QComboBox(host);
  Y_scal_Combo->setObjectName("Y_scal_Combo");
  for (const char* item : kYScaleItems) Y_scal_Combo->addItem(item);
  Y_scal_Combo->setMaxVisibleItems(14);
  place(Y_scal_Combo, 14640, 7920, 975, 330);
  QObject::connect(Y_scal_Combo, &QComboBox::activated, this, [this](int i) { Y_scal_Combo_Click(i); });

  // The background buttons of the toolbar row.
  struct Scheme { const char* name; const char* tip; double left; };
  const Scheme schemes[] = {
      {"Change_White_Graph", "White Background", 6000},
      {"Change_WhiteGrid_Graph", "White Background and Show Gridlines", 6480},
      {"Change_Black_Graph", "Black Background ", 6960},
      {"Change_Black_Grid_Graph", "Black Background and Show Gridlines", 7440},
  };
  for (int i = 0; i < 4; ++i) {
    const Scheme& s = schemes[i];
    QPushButton* b = pictureButton(s.name, schemeIcon(i), s.left, 0, 400, 420);
    b->setIconSize(QSize(20, 16));
    b->setToolTip(s.tip);
    QObject::connect(b, &QPushButton::clicked, this, [this, i] { SchemeButton_Click(i); });
    schemeButtons[static_cast<std::size_t>(i)] = b;
  }

  // Hidden buttons of the chart's own redraws.
  auto hidden = [&](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, host);
    b->setObjectName(name);
    b->hide();
    return b;
  };
  // How the controls around the plot follow its edges when it grows.
  auto anchor = [this](QWidget* w, double right, double down) {
    anchors_.push_back({w, w->geometry(), right, down});
  };
  // The reference buttons keep beside the plot's middle, the rest below it.
  anchor(UpDraw, 1, 0.5);
  anchor(DownDraw, 1, 0.5);
  anchor(Xaxis_stop, 0, 1);
  anchor(Xaxis_start, 1, 1);
  anchor(Command2, 0.5, 1);
  anchor(Command1, 0.5, 1);
  for (QWidget* w : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(Text3),
                     static_cast<QWidget*>(X_Axis_Label), static_cast<QWidget*>(X_Axis_Combo),
                     static_cast<QWidget*>(Y_scal_Label), static_cast<QWidget*>(Y_scal_Combo)})
    anchor(w, 1, 1);
  plotSize_ = naturalPlotSize();

  Command4 = hidden("Command4", "CLS");
  Command5 = hidden("Command5", "PRO2");
  Command6 = hidden("Command6", "Re_draw");
  QObject::connect(Command4, &QPushButton::clicked, this, [this] { chart_.Command4_Click(); sync(); });
  QObject::connect(Command5, &QPushButton::clicked, this, [this] { chart_.Command5_Click(); sync(); });
  QObject::connect(Command6, &QPushButton::clicked, this, [this] { chart_.Command6_Click(); sync(); });
}

void TrendChartView::sync() {
  const TrendChartControls& c = chart_.controls;
  setTextIfChanged(Xaxis_start, c.Xaxis_start);
  setTextIfChanged(Xaxis_stop, c.Xaxis_stop);
  const QPoint marker = scaledY({px(360), px(c.row_statTop)});
  if (row_stat->pos() != marker) row_stat->move(marker);
  const QPoint label = scaledY({px(45), px(c.ref_labelTop)});
  if (ref_label->pos() != label) ref_label->move(label);
  drawmain_pic->placeLine1(c.Line1Y);
  drawmain_pic->placeShape1(c.Shape1Visible, c.Shape1Left, c.Shape1Top);

  const QString tag = toQt(c.Text3);
  if (Text3->text() != tag) Text3->setText(tag);
  if (c.Text3BackColor != shownTagColor_) {
    shownTagColor_ = c.Text3BackColor;
    const QColor back = toQColor(c.Text3BackColor);
    // Dark colours get white text so the tag stays readable.
    const QColor fore = back.lightness() < 110 ? Qt::white : Qt::black;
    Text3->setStyleSheet(QString("QLineEdit { border: none; padding: 0px; background: %1; color: %2; }")
                             .arg(back.name(), fore.name()));
  }

  if (X_Axis_Combo->currentIndex() != chart_.spanIndex()) {
    const QSignalBlocker block(X_Axis_Combo);
    X_Axis_Combo->setCurrentIndex(chart_.spanIndex());
  }
  if (Y_scal_Combo->currentIndex() != chart_.scaleIndex()) {
    const QSignalBlocker block(Y_scal_Combo);
    Y_scal_Combo->setCurrentIndex(chart_.scaleIndex());
  }
  if (chart_.drawing()) return;
  if (replotPending_) {
    replotPending_ = false;
    canvas_.clear();
    chart_.ReplotFromPositions();
  }
  drawmain_pic->showPicture(canvas_.image(), chart_.GraphScheme);
}

QSize TrendChartView::naturalPlotSize() { return {px(kPlotWidth), px(kPlotHeight)}; }

QPoint TrendChartView::scaledY(QPoint naturalPx) const {
  const int top = px(kPlotTop);
  const double sy = static_cast<double>(plotSize_.height()) / naturalPlotSize().height();
  return {naturalPx.x(), top + static_cast<int>(std::lround((naturalPx.y() - top) * sy))};
}

void TrendChartView::place(const Anchor& a) const {
  const QSize extra = plotSize_ - naturalPlotSize();
  QRect r = a.natural;
  r.moveLeft(a.natural.x() + static_cast<int>(std::lround(a.right * extra.width())));
  r.moveTop(a.natural.y() + static_cast<int>(std::lround(a.down * extra.height())));
  if (a.widget->geometry() != r) a.widget->setGeometry(r);
}

void TrendChartView::setPlotSize(QSize sizePx) {
  sizePx = sizePx.expandedTo(QSize(2, 2));
  if (sizePx == plotSize_) return;
  plotSize_ = sizePx;
  drawmain_pic->resize(sizePx);
  // The picture leaves the plot's last row to the scheme's colour, as at the plot's own size.
  canvas_.resize(QSize(sizePx.width(), sizePx.height() - 1));
  drawmain_pic->setScale(canvas_.xScale(), canvas_.yScale());
  for (const Anchor& a : anchors_) place(a);
  // The curves again at the new size, from the positions they were drawn at; a redraw under way
  // finishes first.
  replotPending_ = true;
  sync();
}

void TrendChartView::X_Axis_Combo_Click(int index) {
  chart_.X_Axis_Combo_Click(index);
  sync();
}

void TrendChartView::Y_scal_Combo_Click(int index) {
  chart_.Y_scal_Combo_Click(index);
  sync();
}

void TrendChartView::UpDraw_Click() {
  chart_.UpDraw_Click();
  sync();
}

void TrendChartView::DownDraw_Click() {
  chart_.DownDraw_Click();
  sync();
}

void TrendChartView::Command1_Click() {
  chart_.Command1_Click();
  sync();
}

void TrendChartView::Command2_Click() {
  chart_.Command2_Click();
  sync();
}

void TrendChartView::SchemeButton_Click(int scheme) {
  chart_.SchemeButton_Click(scheme);
  sync();
}

void TrendChartView::drawmain_pic_MouseMove(double xTwips, double yTwips) {
  const std::optional<CursorReadout> hit = chart_.drawmain_pic_MouseMove(xTwips, yTwips);
  if (!hit) return;
  const QString value = readoutText_ ? toQt(readoutText_(*hit)) : QString();
  if (Text1->text() != value) Text1->setText(value);
  sync();
}

}  // namespace kalivor
