// SPDX-License-Identifier: MIT
#include "charts/ui/chart_print.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTransform>
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "app/program.h"
#include "app/ui/main_form.h"
#include "app/ui/window_wiring.h"
#include "charts/trend_chart.h"
#include "charts/ui/qpainter_canvas.h"
#include "common/dialogs.h"
#include "common/messages.h"
#include "common/numbers.h"
#include "sim/sim_provider.h"
#include "support/ui/qt_app.h"
#include "visa/resource_manager.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

// --- A small reader of the PDF files Qt writes: page box, the placed image and its pixels ------

struct PdfPage {
  QRectF mediaBox;
  int imageWidth = 0;
  int imageHeight = 0;
  QByteArray rgb;        // the image's pixels, 3 bytes each, rows top to bottom
  QTransform placement;  // image space (unit square, y up) to page points (y up)
  int imagesDrawn = 0;
};

QByteArray inflate(const QByteArray& deflated, quint32 expected) {
  QByteArray sized(4, '\0');
  sized[0] = static_cast<char>((expected >> 24) & 0xff);
  sized[1] = static_cast<char>((expected >> 16) & 0xff);
  sized[2] = static_cast<char>((expected >> 8) & 0xff);
  sized[3] = static_cast<char>(expected & 0xff);
  return qUncompress(sized + deflated);
}

// The raw bytes of every stream, in file order, with the dictionary before it.
std::vector<std::pair<QByteArray, QByteArray>> streams(const QByteArray& pdf) {
  std::vector<std::pair<QByteArray, QByteArray>> out;
  qsizetype from = 0;
  for (;;) {
    const qsizetype s = pdf.indexOf("stream\n", from);
    if (s < 0) break;
    const qsizetype dict = pdf.lastIndexOf("obj", s);
    const qsizetype begin = s + 7;
    const qsizetype end = pdf.indexOf("endstream", begin);
    if (end < 0) break;
    out.emplace_back(pdf.mid(dict, s - dict), pdf.mid(begin, end - begin));
    from = end + 9;
  }
  return out;
}

int dictNumber(const QByteArray& dict, const char* key) {
  const QRegularExpression re(QString("/%1 (\\d+)").arg(key));
  const auto m = re.match(QString::fromLatin1(dict));
  return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Follows q/Q/cm through a content stream; the transform in force at the image's Do.
std::optional<QTransform> imagePlacement(const QByteArray& content, int* drawn) {
  std::vector<QTransform> stack{QTransform()};
  std::vector<double> operands;
  std::optional<QTransform> found;
  for (const QByteArray& token : content.simplified().split(' ')) {
    bool number = false;
    const double v = token.toDouble(&number);
    if (number) {
      operands.push_back(v);
      continue;
    }
    if (token == "q") {
      stack.push_back(stack.back());
    } else if (token == "Q") {
      if (stack.size() > 1) stack.pop_back();
    } else if (token == "cm" && operands.size() >= 6) {
      const double* m = &operands[operands.size() - 6];
      stack.back() = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]) * stack.back();
    } else if (token == "Do") {
      ++*drawn;
      found = stack.back();
    }
    operands.clear();
  }
  return found;
}

std::optional<PdfPage> readPdf(const fs::path& file) {
  QFile f(QString::fromStdString(file.string()));
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray pdf = f.readAll();
  PdfPage page;
  const QRegularExpression box("/MediaBox \\[([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+)\\]");
  const auto m = box.match(QString::fromLatin1(pdf));
  if (!m.hasMatch()) return std::nullopt;
  page.mediaBox = QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                         QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()));
  for (const auto& [dict, data] : streams(pdf)) {
    if (dict.contains("/Subtype /Image")) {
      page.imageWidth = dictNumber(dict, "Width");
      page.imageHeight = dictNumber(dict, "Height");
      // Lossless pictures only: a JPEG chart would blur its one-pixel lines.
      EXPECT_TRUE(dict.contains("/FlateDecode")) << dict.toStdString();
      page.rgb = inflate(data, static_cast<quint32>(page.imageWidth * page.imageHeight * 3));
    } else if (dict.contains("/FlateDecode")) {
      const QByteArray content = inflate(data, 1u << 20);
      if (auto t = imagePlacement(content, &page.imagesDrawn)) page.placement = *t;
    }
  }
  return page;
}

// Pixels of the picture as the PDF stores them.
QByteArray rgbOf(const QImage& picture) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  QByteArray out;
  for (int y = 0; y < rgb.height(); ++y)
    out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
  return out;
}

// --- The chart under test ---------------------------------------------------------------------

constexpr Rgb kChannel0 = kDefaultChannelColors[0];
constexpr Rgb kChannel1 = kDefaultChannelColors[1];

// Pixels of colour c in the rows above aboveRow.
int pixelsOf(const QImage& img, Rgb c, int aboveRow = 1 << 20) {
  const QRgb want = qRgb(redOf(c), greenOf(c), blueOf(c));
  int n = 0;
  for (int y = 0; y < std::min(img.height(), aboveRow); ++y)
    for (int x = 0; x < img.width(); ++x) n += (img.pixel(x, y) & 0xffffff) == (want & 0xffffff);
  return n;
}

class ChartPrintTest : public ::testing::Test {
 protected:
  ChartPrintTest()
      : appReady((testing::qtApp(), true)),
        folder(fs::temp_directory_path() /
               ("kalivor-print-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())),
        chart(tables, makeLink(), canvas),
        output(chart, canvas, messages, dialogs, [this] { return pdfPrinter(printFile); }) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    printFile = folder / "printed.pdf";
    tables.setup[0].ChannelCount = 2;
    for (int c = 0; c < kMaxChannels; ++c) {
      auto& ch = tables.channel[0][c];
      ch.Function = "DCV";
      ch.Color = kDefaultChannelColors[c];
    }
    chart.showInitialBackground();
    chart.resetForRun();
    chart.ResetChartScale(0);
  }
  ~ChartPrintTest() override { fs::remove_all(folder); }

  TrendChartLink makeLink() {
    TrendChartLink l;
    l.instrumentCount = [] { return 1; };
    l.lastVisaStatus = [] { return visa::VI_SUCCESS; };
    l.requestStop = [] {};
    l.events = &pump;
    return l;
  }

  static std::unique_ptr<QPrinter> pdfPrinter(const fs::path& file) {
    auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
    p->setOutputFormat(QPrinter::PdfFormat);
    p->setOutputFileName(QString::fromStdString(file.string()));
    p->setPageOrientation(QPageLayout::Portrait);  // the print must turn it
    return p;
  }

  void scan(double ch0, double ch1) {
    tables.ReadingText[0][0] = numberToText(ch0);
    tables.ReadingText[0][1] = numberToText(ch1);
    tables.ScansDone[0] += 1;
    chart.PushScanAndReplot();
  }

  bool appReady;
  fs::path folder;
  fs::path printFile;
  ScanTables tables;
  CallbackEventPump pump;
  QPainterCanvas canvas;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  TrendChart chart;
  ChartOutput output;
};

TEST_F(ChartPrintTest, PrintsTheChartAsItLooksAtTheTopLeftOfALandscapePage) {
  for (int i = 0; i < 6; ++i) scan(i % 3, -1);
  const QImage shown = canvas.image().copy();
  ASSERT_GT(pixelsOf(shown, kChannel0), 0);

  EXPECT_TRUE(output.PrintSet_Click());
  EXPECT_TRUE(messages.shown.empty());
  const auto page = readPdf(printFile);
  ASSERT_TRUE(page);
  EXPECT_GT(page->mediaBox.width(), page->mediaBox.height());  // landscape
  ASSERT_EQ(page->imagesDrawn, 1);
  ASSERT_EQ(page->imageWidth, shown.width());
  ASSERT_EQ(page->imageHeight, shown.height());
  EXPECT_TRUE(page->rgb == rgbOf(shown));  // background scheme and curves, pixel for pixel

  // Image space: (0, 1) is the picture's top-left, (1, 0) its bottom-right. At its screen size
  // (96 px an inch = 0.75 pt a pixel), within a printer margin of the page's top-left corner.
  const QPointF topLeft = page->placement.map(QPointF(0, 1));
  const QPointF bottomRight = page->placement.map(QPointF(1, 0));
  EXPECT_NEAR(bottomRight.x() - topLeft.x(), shown.width() * 0.75, 0.5);
  EXPECT_NEAR(topLeft.y() - bottomRight.y(), shown.height() * 0.75, 0.5);
  EXPECT_GE(topLeft.x(), page->mediaBox.left());
  EXPECT_LT(topLeft.x(), page->mediaBox.left() + 36);
  EXPECT_LE(topLeft.y(), page->mediaBox.bottom());
  EXPECT_GT(topLeft.y(), page->mediaBox.bottom() - 36);
  EXPECT_LE(bottomRight.x(), page->mediaBox.right());
}

TEST_F(ChartPrintTest, APageTooSmallForTheChartGetsItScaledDownToFit) {
  scan(1, 1);
  ChartOutput a5(chart, canvas, messages, dialogs, [this] {
    auto p = pdfPrinter(printFile);
    p->setPageSize(QPageSize(QPageSize::A5));  // 210 mm across in landscape; the chart is 270
    return p;
  });
  ASSERT_TRUE(a5.PrintSet_Click());
  const auto page = readPdf(printFile);
  ASSERT_TRUE(page);
  const QPointF topLeft = page->placement.map(QPointF(0, 1));
  const QPointF bottomRight = page->placement.map(QPointF(1, 0));
  const double w = bottomRight.x() - topLeft.x();
  const double h = topLeft.y() - bottomRight.y();
  EXPECT_LE(bottomRight.x(), page->mediaBox.right());
  EXPECT_GT(w, page->mediaBox.width() - 2 * 36);  // as wide as the printable width allows
  EXPECT_NEAR(w / h, double(canvas.image().width()) / canvas.image().height(), 0.01);
}

TEST_F(ChartPrintTest, AnEmptyChartPrintsTheBackgroundSchemeAlone) {
  chart.Change_WhiteGrid_Graph_Click();
  ASSERT_TRUE(output.PrintSet_Click());
  const auto page = readPdf(printFile);
  ASSERT_TRUE(page);
  const QImage scheme = QPainterCanvas::schemePicture(kWhiteGrid, canvas.image().size());
  EXPECT_TRUE(page->rgb == rgbOf(scheme));
}

TEST_F(ChartPrintTest, PrintedCurvesStayUnderLaterRedrawsUntilASchemeButton) {
  // Channel 1 two divisions above the reference line (y 170 px): rows 90..110.
  scan(0, 2);
  scan(0, 2);
  const int printed = pixelsOf(canvas.image(), kChannel1, 150);
  ASSERT_GT(printed, 0);
  ASSERT_TRUE(output.PrintSet_Click());
  EXPECT_TRUE(chart.backgroundFrozen());

  // At scale "10000" every new curve hugs the reference line; what shows up there is printed.
  chart.Y_scal_Combo_Click(1);
  scan(0, 2);
  EXPECT_EQ(pixelsOf(canvas.image(), kChannel1, 150), printed);
  EXPECT_GT(pixelsOf(canvas.image(), kChannel1), printed);  // and the new curve

  chart.Change_Black_Grid_Graph_Click();
  EXPECT_FALSE(chart.backgroundFrozen());
  EXPECT_EQ(pixelsOf(canvas.image(), kChannel1, 150), 0);
}

TEST_F(ChartPrintTest, NoPrinterOrAFailedPrintIsReportedAndLeavesTheChartAsItWas) {
  scan(1, 1);
  ChartOutput none(chart, canvas, messages, dialogs, [] { return nullptr; });
  EXPECT_FALSE(none.PrintSet_Click());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, kNoPrinterText);
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
  EXPECT_FALSE(chart.backgroundFrozen());

  // A printer that cannot take the job: a PDF printer writing into a folder that is not there.
  messages.clear();
  const fs::path unwritable = folder / "missing" / "printed.pdf";
  ChartOutput failing(chart, canvas, messages, dialogs, [&] { return pdfPrinter(unwritable); });
  EXPECT_FALSE(failing.PrintSet_Click());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, printFailedText(unwritable.string()));
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
  EXPECT_FALSE(chart.backgroundFrozen());
  EXPECT_FALSE(fs::exists(unwritable));
}

TEST_F(ChartPrintTest, SavesThePictureAsPngOrThePageAsPdf) {
  scan(1, -1);
  scan(0, 1);
  const fs::path png = folder / "chart.png";
  const fs::path pdf = folder / "Chart.PDF";
  dialogs.fileNames = {png.string(), pdf.string()};
  EXPECT_TRUE(output.SaveChart_Click());
  ASSERT_EQ(dialogs.requests.size(), 1u);
  EXPECT_TRUE(dialogs.requests[0].confirmOverwrite);
  EXPECT_EQ(dialogs.requests[0].defaultSuffix, "png");
  const QImage saved(QString::fromStdString(png.string()));
  ASSERT_FALSE(saved.isNull());
  EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), canvas.image());

  EXPECT_TRUE(output.SaveChart_Click());
  const auto page = readPdf(pdf);
  ASSERT_TRUE(page);
  EXPECT_GT(page->mediaBox.width(), page->mediaBox.height());
  EXPECT_TRUE(page->rgb == rgbOf(canvas.image()));
  EXPECT_TRUE(messages.shown.empty());
  // Saving is not printing: the curves are not frozen into the background.
  EXPECT_FALSE(chart.backgroundFrozen());
}

TEST_F(ChartPrintTest, CancelDoesNothingAndAFailedSaveNamesTheFileAndKeepsWhatWasThere) {
  dialogs.fileNames = {std::nullopt};
  EXPECT_FALSE(output.SaveChart_Click());
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(fs::is_empty(folder));

  const fs::path missing = folder / "no-such-folder" / "chart.png";
  EXPECT_FALSE(output.saveTo(missing.string()));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find(missing.string()), std::string::npos);
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");

  // A name of another kind is refused before anything is written over.
  messages.clear();
  const fs::path other = folder / "notes.jpg";
  std::ofstream(other) << "keep me";
  EXPECT_FALSE(output.saveTo(other.string()));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, unknownChartFormatText(other.string()));
  std::ifstream in(other);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");

  // A folder in the way of the file: nothing written, the folder untouched.
  messages.clear();
  const fs::path inTheWay = folder / "taken.png";
  fs::create_directories(inTheWay / "inside");
  EXPECT_FALSE(output.saveTo(inTheWay.string()));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find(inTheWay.string()), std::string::npos);
  EXPECT_TRUE(fs::is_directory(inTheWay / "inside"));
}

TEST_F(ChartPrintTest, TheMainWindowsButtonsPrintAndSaveItsChart) {
  ManualClock clock;
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::make_unique<sim::SimProvider>(clock, sim::defaultInstruments()));
  Program program(clock, std::make_unique<visa::ResourceManager>(std::move(providers)), messages,
                  dialogs, pump, folder);
  MainForm main(program);
  wireChartOutput(main, program, [this] { return pdfPrinter(printFile); });
  ASSERT_TRUE(main.printChart && main.saveChart);

  main.trendChart().Change_WhiteGrid_Graph_Click();
  main.PrintSet->click();
  const auto page = readPdf(printFile);
  ASSERT_TRUE(page);
  EXPECT_TRUE(page->rgb == rgbOf(main.chartCanvas().image()));
  EXPECT_TRUE(main.trendChart().backgroundFrozen());

  const fs::path png = folder / "main.png";
  dialogs.fileNames = {png.string()};
  main.SaveChart->click();
  EXPECT_EQ(QImage(QString::fromStdString(png.string())).convertToFormat(QImage::Format_RGB32),
            main.chartCanvas().image());
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace kalivor
