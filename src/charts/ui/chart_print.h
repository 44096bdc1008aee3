// SPDX-License-Identifier: MIT
#pragma once
// Printing and saving the live trend chart as it looks, background scheme included: one
// landscape page with the chart at its top-left, on the default printer or in a PDF file, or the
// chart picture as a PNG file.
#include <QImage>
#include <functional>
#include <memory>
#include <string>

class QPagedPaintDevice;
class QPrinter;

namespace kalivor {

class Dialogs;
class Messages;
class Program;
class QPainterCanvas;
class TrendChart;

// The system's default printer, or nullptr when none is installed.
std::unique_ptr<QPrinter> defaultPrinter();

// Paints the picture on one landscape page of the device, top-left corner at the page's printable
// top-left, at its screen size (96 pixels an inch); a page too small for that gets the picture
// scaled down to fit, keeping its shape. Returns false when the device cannot be painted on.
bool paintChartPage(QPagedPaintDevice& device, const QImage& picture);

class ChartOutput {
 public:
  // Where prints go: the default printer in the program, a PDF printer in tests.
  using PrinterSource = std::function<std::unique_ptr<QPrinter>()>;

  ChartOutput(TrendChart& chart, QPainterCanvas& canvas, Messages& messages, Dialogs& dialogs,
              PrinterSource printers = defaultPrinter);

  // Prints the chart. What is drawn at that moment becomes part of the chart's background (kept
  // under later redraws until a scheme button or a cursor hit sets a scheme picture again).
  // No printer, or a print that fails: a message, and the chart is left as it was.
  bool PrintSet_Click();
  // Saves the chart as PNG (its picture) or PDF (the printed page), as the file dialog's name
  // ends. Cancel does nothing; a file that cannot be written is reported by name and an existing
  // file of that name is left as it was.
  bool SaveChart_Click();

  // Saves to the named file; the suffix (.png or .pdf, any case) chooses the format.
  bool saveTo(const std::string& fileName);

 private:
  TrendChart& chart_;
  QPainterCanvas& canvas_;
  Messages& messages_;
  Dialogs& dialogs_;
  PrinterSource printers_;
};

// Texts of the messages.
inline constexpr const char* kNoPrinterText =
    "No printer is installed. Add a printer to the system, or save the chart as a PNG or PDF file.";
std::string printFailedText(const std::string& printerName);
std::string saveFailedText(const std::string& fileName, const std::string& reason);
std::string unknownChartFormatText(const std::string& fileName);

}  // namespace kalivor
