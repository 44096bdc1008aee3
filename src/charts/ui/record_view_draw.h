// SPDX-License-Identifier: MIT
#pragma once
// Record_View_Draw ("Record Draw"): one channel of one record file drawn as a trend line, with a
// slider that reads the stored value at each drawn row. The drawing and settings rules are the
// record chart's; the record is read (and renumbered) through the record store.
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "app/program.h"
#include "charts/record_chart.h"
#include "charts/ui/qpainter_canvas.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace kalivor {

class Record_View_Draw final : public QWidget {
  Q_OBJECT
 public:
  // `dataFolder` (optional) charts another folder's records instead of the program's (a copy
  // of a central record).
  explicit Record_View_Draw(Program& program, QWidget* parent = nullptr,
                            const std::filesystem::path& dataFolder = {});
  // "Central…" beside the record choice, shown once the application gives it somewhere to go.
  void setCentralDoor(std::function<void()> open);

  void Combo_record_Click();
  void Command1_Click();  // "Draw"
  void Command2_Click();  // "Clean"
  void Command3_Click();  // "Exit": hides the window, which keeps its state
  void color_box_Click();
  void ShowSliderValue();

  const std::string& RecordPath() const { return recordPath_; }
  std::int64_t RangeStart() const { return rangeStart_; }
  std::int64_t RangeStop() const { return rangeStop_; }
  Rgb traceColor() const { return color_; }
  // The plot's picture: the grid background and the drawn trace.
  const QImage& plotImage() const { return canvas_.image(); }

  QGroupBox* Frame1 = nullptr;
  QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
         *Label5 = nullptr, *Label6 = nullptr;
  QComboBox *Combo_record = nullptr, *Combo_chan = nullptr;
  QLabel* Data_RecordCount = nullptr;
  QFrame* color_box = nullptr;
  QLineEdit *offset_box = nullptr, *division_box = nullptr, *draw_start = nullptr,
            *draw_stop = nullptr;
  QRadioButton *draw_all = nullptr, *draw_limit = nullptr;
  QPushButton *Command1 = nullptr, *Command2 = nullptr, *Command3 = nullptr, *central_DB = nullptr;
  QLabel* draw_pic = nullptr;
  QSlider* Slider1 = nullptr;
  QLineEdit *Text1 = nullptr, *show_value = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void load();
  void placeOnCaption();
  void DrawRecordChannel(const RecordDrawCheck& check);
  void showPlot();
  void setSwatch(Rgb color);
  std::int64_t recordCount() const;
  std::filesystem::path chosenRecordFile() const;

  Program& p_;
  std::filesystem::path dataFolder_;  // whose records are charted
  QPainterCanvas canvas_;
  Rgb color_ = 255;
  std::string recordPath_;
  std::string channelText_;  // channel of the last drawing, read by the slider
  std::int64_t rangeStart_ = 0;
  std::int64_t rangeStop_ = 0;
  bool showingValue_ = false;
};

}  // namespace kalivor
