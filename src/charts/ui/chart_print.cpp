// SPDX-License-Identifier: MIT
#include "charts/ui/chart_print.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <algorithm>

#include "app/program.h"
#include "charts/trend_chart.h"
#include "charts/ui/qpainter_canvas.h"
#include "common/dialogs.h"
#include "common/messages.h"

namespace kalivor {
namespace {

constexpr double kScreenDpi = 96.0;

QString toQt(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string fromQt(const QString& s) { return s.toUtf8().toStdString(); }

// The picture at its screen size from the painter's origin, smaller when the page is not big
// enough for it.
void drawChart(QPainter& painter, const QPaintDevice& device, const QImage& picture) {
  if (picture.isNull()) return;
  double w = picture.width() * device.logicalDpiX() / kScreenDpi;
  double h = picture.height() * device.logicalDpiY() / kScreenDpi;
  const double fit = std::min({1.0, device.width() / w, device.height() / h});
  w *= fit;
  h *= fit;
  // Lossless: a JPEG-compressed chart (what Qt would send otherwise) blurs its one-pixel lines.
  painter.setRenderHint(QPainter::LosslessImageRendering, true);
  painter.drawImage(QRectF(0, 0, w, h), picture);
}

std::string printerLabel(const QPrinter& printer) {
  if (!printer.printerName().isEmpty()) return fromQt(printer.printerName());
  if (!printer.outputFileName().isEmpty()) return fromQt(printer.outputFileName());
  return "the default printer";
}

}  // namespace

std::string printFailedText(const std::string& printerName) {
  return "The chart could not be printed on " + printerName +
         ". Check that the printer is ready, or save the chart as a PNG or PDF file.";
}

std::string saveFailedText(const std::string& fileName, const std::string& reason) {
  return "The chart could not be saved to " + fileName + (reason.empty() ? "" : ": " + reason) +
         ".";
}

std::string unknownChartFormatText(const std::string& fileName) {
  return "The chart can be saved as PNG or PDF only: give " + fileName +
         " a name ending in .png or .pdf.";
}

std::unique_ptr<QPrinter> defaultPrinter() {
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) return nullptr;
  return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
}

bool paintChartPage(QPagedPaintDevice& device, const QImage& picture) {
  device.setPageOrientation(QPageLayout::Landscape);
  QPainter painter;
  if (!painter.begin(&device)) return false;
  drawChart(painter, device, picture);
  return painter.end();
}

ChartOutput::ChartOutput(TrendChart& chart, QPainterCanvas& canvas, Messages& messages,
                         Dialogs& dialogs, PrinterSource printers)
    : chart_(chart), canvas_(canvas), messages_(messages), dialogs_(dialogs),
      printers_(std::move(printers)) {}

bool ChartOutput::PrintSet_Click() {
  std::unique_ptr<QPrinter> printer = printers_ ? printers_() : nullptr;
  if (!printer) {
    messages_.inform(kNoPrinterText, kAppTitle, MessageIcon::Exclamation);
    return false;
  }
  // The chart's shape, about three times as wide as high, wants a landscape page.
  printer->setPageOrientation(QPageLayout::Landscape);
  QPainter painter;
  if (!painter.begin(printer.get())) {
    messages_.inform(printFailedText(printerLabel(*printer)), kAppTitle, MessageIcon::Exclamation);
    return false;
  }
  // Only a print that has started freezes the curves drawn now into the background.
  chart_.freezeIntoBackground();
  drawChart(painter, *printer, canvas_.background());
  const bool ended = painter.end();
  if (!ended || printer->printerState() == QPrinter::Error) {
    messages_.inform(printFailedText(printerLabel(*printer)), kAppTitle, MessageIcon::Exclamation);
    return false;
  }
  return true;
}

bool ChartOutput::SaveChart_Click() {
  FileDialogRequest request;
  request.presetName = "Chart.png";
  request.filter = "PNG picture or PDF page|*.png *.pdf";
  request.defaultSuffix = "png";
  request.confirmOverwrite = true;
  const std::optional<std::string> name = dialogs_.saveFileName(request);
  if (!name || name->empty()) return false;
  return saveTo(*name);
}

bool ChartOutput::saveTo(const std::string& fileName) {
  const QString path = toQt(fileName);
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix != "png" && suffix != "pdf") {
    messages_.inform(unknownChartFormatText(fileName), kAppTitle, MessageIcon::Exclamation);
    return false;
  }
  // Written beside the target and renamed over it at the end, so a failed write never leaves a
  // damaged file under that name.
  QSaveFile file(path);
  auto failed = [&](const QString& reason) {
    file.cancelWriting();
    messages_.inform(saveFailedText(fileName, fromQt(reason)), kAppTitle, MessageIcon::Exclamation);
    return false;
  };
  if (!file.open(QIODevice::WriteOnly)) return failed(file.errorString());
  // The picture as shown now: the background with the curves drawn on it.
  const QImage& picture = canvas_.image();
  if (suffix == "png") {
    if (!picture.save(&file, "PNG")) return failed(file.errorString());
  } else {
    QPdfWriter pdf(&file);
    pdf.setCreator("KALIVOR");
    pdf.setTitle("KALIVOR chart");
    if (!paintChartPage(pdf, picture)) return failed(file.errorString());
  }
  if (!file.commit()) return failed(file.errorString());
  return true;
}

}  // namespace kalivor
