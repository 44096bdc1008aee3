// SPDX-License-Identifier: MIT
// Draws the application icon (the same shapes as kalivor.svg) as the PNG sizes of the hicolor
// theme and the about window's logo. Run from this folder after changing the icon:
//   g++ -std=c++17 -fPIC render_icons.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/render_icons
//   /tmp/render_icons .
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cstdio>

static void drawIcon(QPainter& p, int size) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#25313c"));
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

  p.setPen(QPen(QColor("#4a5a66"), 1));
  p.setBrush(QColor("#0d1f16"));
  p.drawRoundedRect(QRectF(8, 9, 48, 31), 3, 3);
  p.setPen(QPen(QColor("#1f4a33"), 1));
  for (double x : {20.0, 32.0, 44.0}) p.drawLine(QPointF(x, 10), QPointF(x, 39));
  for (double y : {19.5, 29.5}) p.drawLine(QPointF(9, y), QPointF(55, y));

  const QPolygonF trace({{10, 31}, {15, 31}, {19, 17}, {25, 35}, {31, 22},
                         {37, 28}, {43, 15}, {49, 25}, {54, 21}});
  p.setPen(QPen(QColor("#5ef08a"), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(trace);

  p.setPen(Qt::NoPen);
  const char* colours[] = {"#3cb371", "#1874cd", "#cd5c5c", "#d15fee", "#ffd700"};
  for (int i = 0; i < 5; ++i) {
    p.setBrush(QColor(colours[i]));
    p.drawEllipse(QPointF(14 + 9 * i, 51), 3.5, 3.5);
  }
}

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    drawIcon(p, size);
    p.end();
    const QString dir = QString("%1/hicolor/%2x%2/apps").arg(out).arg(size);
    QDir().mkpath(dir);
    if (!img.save(dir + "/kalivor.png", "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}
