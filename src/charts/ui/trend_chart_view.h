// SPDX-License-Identifier: MIT
#pragma once
// The live trend chart's controls in the main window: the plot drawmain_pic with its reference
// line and cursor marker, the reference-level marker and buttons, the axis labels, the span and
// scale lists, the scroll buttons, the background buttons of the toolbar row and the read-out.
// They are placed on the host widget at their places in the window (twips), show the TrendChart's
// state and forward every event to it; the chart itself draws into a QPainterCanvas.
#include <QObject>
#include <QImage>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "charts/trend_chart.h"
#include "charts/ui/qpainter_canvas.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kalivor {

// drawmain_pic: shows the chart's picture as last completed, the reference line Line1 and the
// cursor marker Shape1, and reports mouse moves in plot twips.
class DrawMainPic final : public QWidget {
  Q_OBJECT
 public:
  explicit DrawMainPic(QWidget* parent = nullptr);

  // Shows `picture` on the scheme's base colour: its pixels are copied into the widget's own
  // picture (the same memory each time). Sharing it instead would cost the chart a fresh copy,
  // newly allocated, at its next drawing.
  void showPicture(const QImage& picture, int scheme);
  const QImage& shownPicture() const { return shown_; }
  void placeLine1(double yTwips);
  void placeShape1(bool visible, double leftTwips, double topTwips);
  // Pixels per plot twip (the picture's), for placing the line and marker and reading the mouse.
  void setScale(double xPerTwip, double yPerTwip);

  std::function<void(double xTwips, double yTwips)> mouseMoved;

  QWidget* Line1 = nullptr;
  QWidget* Shape1 = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QImage shown_;
  qint64 sourceKey_ = 0;  // the shown picture's key, which changes with every change to it
  QColor base_ = Qt::black;
  double xScale_ = 1.0 / kTwipsPerPixel;
  double yScale_ = 1.0 / kTwipsPerPixel;
  double line1Twips_ = 0;
};

class TrendChartView final : public QObject {
  Q_OBJECT
 public:
  // `readoutText` gives the text of the data-grid cell a cursor hit names (Text1).
  TrendChartView(TrendChart& chart, QPainterCanvas& canvas, QWidget* host,
                 std::function<std::string(const CursorReadout&)> readoutText);

  // Brings every control up to date with the chart; the picture only once a redraw has ended.
  void sync();
  // The plot's size in pixels (at first the chart's own, 1021 x 341): the picture is made at that
  // size and drawn again, the controls beside and below the plot move with its edges.
  void setPlotSize(QSize sizePx);
  static QSize naturalPlotSize();

  // Window events, as the controls raise them.
  void X_Axis_Combo_Click(int index);
  void Y_scal_Combo_Click(int index);
  void UpDraw_Click();
  void DownDraw_Click();
  void Command1_Click();
  void Command2_Click();
  void SchemeButton_Click(int scheme);
  void drawmain_pic_MouseMove(double xTwips, double yTwips);

  TrendChart& chart() { return chart_; }

  DrawMainPic* drawmain_pic = nullptr;
  QLabel* row_stat = nullptr;
  QLabel* ref_label = nullptr;
  QPushButton* UpDraw = nullptr;
  QPushButton* DownDraw = nullptr;
  QLabel* Xaxis_start = nullptr;
  QLabel* Xaxis_stop = nullptr;
  QLabel* X_Axis_Label = nullptr;
  QComboBox* X_Axis_Combo = nullptr;
  QLabel* Y_scal_Label = nullptr;
  QComboBox* Y_scal_Combo = nullptr;
  QLineEdit* Text1 = nullptr;
  QLineEdit* Text3 = nullptr;
  QPushButton* Command1 = nullptr;  // towards older scans
  QPushButton* Command2 = nullptr;  // towards newer scans
  QPushButton* Command4 = nullptr;  // hidden: "CLS"
  QPushButton* Command5 = nullptr;  // hidden: "PRO2"
  QPushButton* Command6 = nullptr;  // hidden: "Re_draw"
  // Change_White_Graph, Change_WhiteGrid_Graph, Change_Black_Graph, Change_Black_Grid_Graph.
  std::array<QPushButton*, 4> schemeButtons{};
  // The plot's context menu: limit lines of the channel under the cursor (default) or of all.
  QAction* LimitLinesCursor = nullptr;
  QAction* LimitLinesAll = nullptr;

 private:
  void build(QWidget* host);

  // A control's place at the plot's own size and how it follows the plot's edges: across by
  // `right` of the extra width, down by `down` of the extra height.
  struct Anchor {
    QWidget* widget;
    QRect natural;
    double right;
    double down;
  };
  void place(const Anchor& a) const;
  QPoint scaledY(QPoint naturalPx) const;

  TrendChart& chart_;
  QPainterCanvas& canvas_;
  std::vector<Anchor> anchors_;
  QSize plotSize_;
  bool replotPending_ = false;
  std::function<std::string(const CursorReadout&)> readoutText_;
  Rgb shownTagColor_ = ~0u;
};

}  // namespace kalivor
