// SPDX-License-Identifier: MIT
#include "charts/ui/record_view_draw.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyleOptionGroupBox>
#include <QTest>

#include "store/ui/record_ui_fixture.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;
using testing::RecordWindowRig;
namespace st = store::test;

// Plot pixels: 585 x 334; value 0 lies on the middle row.
constexpr int kMidRow = 167;

struct RecordDrawTest : ::testing::Test, RecordWindowRig {
  std::unique_ptr<Record_View_Draw> open() {
    auto w = std::make_unique<Record_View_Draw>(*program);
    w->show();
    return w;
  }
  // A record of `values` in CH1 (NUM 1..n).
  fs::path channelRecord(const std::string& name, const std::vector<std::string>& values) {
    const fs::path file =
        st::writeRecord(folder, name, st::numbered(1, static_cast<int>(values.size())));
    std::string sql = "BEGIN;";
    for (std::size_t i = 0; i < values.size(); ++i)
      sql +=
          "UPDATE DATA SET CH1 = '" + values[i] + "' WHERE NUM = '" + std::to_string(i + 1) + "';";
    st::execSql(file, sql + "COMMIT;");
    return file;
  }
  static void setRange(Record_View_Draw& w, const char* start, const char* stop) {
    w.draw_limit->setChecked(true);
    w.draw_start->setText(start);
    w.draw_stop->setText(stop);
  }
  static void draw(Record_View_Draw& w) { QTest::mouseClick(w.Command1, Qt::LeftButton); }
  static bool isTrace(const Record_View_Draw& w, int x, int y) {
    return w.plotImage().pixel(x, y) == qRgb(255, 0, 0);
  }
  static int traceInColumn(const Record_View_Draw& w, int x) {
    int n = 0;
    for (int y = 0; y < w.plotImage().height(); ++y) n += isTrace(w, x, y);
    return n;
  }
};

TEST_F(RecordDrawTest, LoadsWithTheFirstRecordCounted) {
  st::writeRecord(folder, "Record1", st::numbered(1, 12));
  st::writeRecord(folder, "Record2", st::numbered(1, 3));
  st::writeFile(folder.db() / "Record3.MDB", "x");
  auto w = open();
  EXPECT_EQ(w->windowTitle(), "Record Draw");
  ASSERT_EQ(w->Combo_record->count(), 2);
  EXPECT_EQ(w->Combo_record->currentText(), "Record1.mdb");
  EXPECT_EQ(w->Data_RecordCount->text(), "12");
  ASSERT_EQ(w->Combo_chan->count(), 20);
  EXPECT_EQ(w->Combo_chan->itemText(19), "CH20");
  EXPECT_EQ(w->Combo_chan->currentText(), "CH1");
  EXPECT_EQ(w->traceColor(), 255u);
  EXPECT_FALSE(w->Slider1->isEnabled());
  EXPECT_TRUE(w->draw_all->isChecked());
  EXPECT_TRUE(w->draw_limit->isEnabled());
  EXPECT_EQ(w->draw_limit->text(), "Drawing data from                    to");
  // The background: black with a dark cyan grid.
  EXPECT_EQ(w->plotImage().pixel(10, 10), qRgb(0, 0, 0));
  EXPECT_EQ(w->plotImage().pixel(59, 10), qRgb(0, 96, 96));
  EXPECT_TRUE(messages.shown.empty());

  w->Combo_record->setCurrentIndex(1);
  Q_EMIT w->Combo_record->activated(1);
  EXPECT_EQ(w->Data_RecordCount->text(), "3");

  // The "Setting" frame and its caption keep off the window's edge, on nothing else.
  QStyleOptionGroupBox opt;
  opt.initFrom(w->Frame1);
  opt.text = w->Frame1->title();
  opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
  const QRect caption = w->Frame1->style()
                            ->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, w->Frame1)
                            .translated(w->Frame1->pos());
  EXPECT_GE(w->Frame1->x(), 6);
  EXPECT_GE(caption.left(), 6);
  EXPECT_GE(caption.top(), 0);
  const auto o = testing::overlaps(*w);
  EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o);
}

TEST_F(RecordDrawTest, DrawsTheChosenChannelAndTheSliderReadsIt) {
  channelRecord("Record1", {"0", "1", "2", "3", "4", "3", "2", "1", "0", "-1"});
  auto w = open();
  w->division_box->setText("2");
  draw(*w);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(w->RangeStart(), 1);
  EXPECT_EQ(w->RangeStop(), 10);
  EXPECT_TRUE(w->Slider1->isEnabled());
  EXPECT_EQ(w->Slider1->minimum(), 1);
  EXPECT_EQ(w->Slider1->maximum(), 10);
  // Row 1 (value 0) at the left edge on the middle; row 5 (value 4 = 2 divisions) higher up.
  EXPECT_TRUE(isTrace(*w, 0, kMidRow));
  EXPECT_TRUE(isTrace(*w, 267, kMidRow - 67));
  EXPECT_GT(traceInColumn(*w, 300), 0);
  testing::screenshot(*w, "record_draw");

  w->Slider1->setValue(5);
  EXPECT_EQ(w->Text1->text(), "5");
  EXPECT_EQ(w->show_value->text(), "4");

  // The slider reads the channel drawn, not one chosen since.
  w->Combo_chan->setCurrentIndex(2);
  w->Slider1->setValue(6);
  EXPECT_EQ(w->show_value->text(), "3");

  QTest::mouseClick(w->Command2, Qt::LeftButton);  // Clean
  EXPECT_EQ(traceInColumn(*w, 300), 0);
  EXPECT_EQ(w->plotImage().pixel(59, 10), qRgb(0, 96, 96));
}

TEST_F(RecordDrawTest, OneRowFile) {
  channelRecord("Record1", {"0"});
  auto w = open();
  EXPECT_FALSE(w->draw_limit->isEnabled());
  EXPECT_TRUE(w->draw_all->isChecked());
  draw(*w);
  EXPECT_EQ(w->Slider1->minimum(), 1);
  EXPECT_EQ(w->Slider1->maximum(), 2);
  EXPECT_EQ(w->Slider1->value(), 1);
  EXPECT_EQ(w->show_value->text(), "0");
  // One segment from one step outside the left border to the left edge, on the middle.
  EXPECT_TRUE(isTrace(*w, 0, kMidRow));
  EXPECT_EQ(traceInColumn(*w, 1), 0);
  // Past the only row the slider goes back to it.
  w->Slider1->setValue(2);
  EXPECT_EQ(w->Slider1->value(), 1);
  EXPECT_EQ(w->Text1->text(), "1");
}

TEST_F(RecordDrawTest, RenumbersBeforeDrawing) {
  const fs::path file = st::writeRecord(folder, "Record1", {"1", "2", std::nullopt, "5"});
  auto w = open();
  EXPECT_EQ(w->Data_RecordCount->text(), "4");
  draw(*w);
  EXPECT_EQ(st::storedColumn(file, 0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(w->Data_RecordCount->text(), "3");
  EXPECT_EQ(w->RangeStop(), 3);
  w->Slider1->setValue(3);
  EXPECT_EQ(w->show_value->text(), "3.1");  // the row stored fourth, now number 3
}

TEST_F(RecordDrawTest, RangeLimitsOfALargeRecord) {
  st::writeRecord(folder, "Record1", st::numbered(1, 30000));
  auto w = open();
  EXPECT_EQ(w->Data_RecordCount->text(), "30000");
  EXPECT_FALSE(w->draw_all->isEnabled());
  EXPECT_TRUE(w->draw_limit->isChecked());

  setRange(*w, "1", "25001");
  draw(*w);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(w->RangeStop(), 25001);
  EXPECT_EQ(w->Slider1->maximum(), 25001);

  setRange(*w, "1", "25002");
  draw(*w);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Please setting a correct range."});

  messages.clear();
  setRange(*w, "1", "25003");
  draw(*w);
  EXPECT_EQ(messages.texts(),
            std::vector<std::string>{" The range should be set from 1 to 25000."});
  EXPECT_TRUE(w->Combo_record->isEnabled());

  // A stop beyond the record is cut to its last row.
  messages.clear();
  setRange(*w, "29000", "40000");
  draw(*w);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(w->draw_stop->text(), "30000");
  EXPECT_EQ(w->RangeStart(), 29000);
  EXPECT_EQ(w->Slider1->minimum(), 29000);
  w->Slider1->setValue(29999);
  EXPECT_EQ(w->show_value->text(), "29998.1");
}

TEST_F(RecordDrawTest, RangeBoxesTakeDigitsOnly) {
  st::writeRecord(folder, "Record1", st::numbered(1, 5));
  auto w = open();
  w->draw_start->clear();
  QTest::keyClicks(w->draw_start, "a2b-3.");
  EXPECT_EQ(w->draw_start->text(), "23");
  QTest::keyClick(w->draw_start, Qt::Key_Backspace);
  EXPECT_EQ(w->draw_start->text(), "2");
  w->draw_stop->clear();
  QTest::keyClicks(w->draw_stop, "x9");
  EXPECT_EQ(w->draw_stop->text(), "9");
}

TEST_F(RecordDrawTest, BlankLeavesAGapAndOverloadsStrokeDown) {
  channelRecord("Record1", {"0", "0", "0", "0", " ", "0", "0", "0", "0", "0"});
  channelRecord("Record2", {"0", "0", "9.9E+37", "0", "0"});
  auto w = open();
  draw(*w);
  // Rows 1..4 at x 0..200, the blank (and the row after it) leave 200..333 empty.
  EXPECT_TRUE(isTrace(*w, 100, kMidRow));
  for (int x = 205; x < 330; x += 5) EXPECT_FALSE(isTrace(*w, x, kMidRow)) << x;
  EXPECT_TRUE(isTrace(*w, 400, kMidRow));

  w->Combo_record->setCurrentIndex(1);
  Q_EMIT w->Combo_record->activated(1);
  draw(*w);
  // Steps of 150 px: row 3 strokes from x 150 down out of the plot.
  EXPECT_GT(traceInColumn(*w, 150), 100);
  EXPECT_TRUE(isTrace(*w, 150, 330));
}

TEST_F(RecordDrawTest, ColourSwatchChoosesTheTraceColour) {
  channelRecord("Record1", {"0", "0", "0"});
  auto w = open();
  QTest::mouseClick(w->color_box, Qt::LeftButton);  // cancelled
  EXPECT_EQ(w->traceColor(), 255u);
  dialogs.colors = {rgb(0, 255, 0)};
  QTest::mouseClick(w->color_box, Qt::LeftButton);
  ASSERT_EQ(dialogs.colorRequests.size(), 2u);
  EXPECT_EQ(dialogs.colorRequests[1], 255u);
  EXPECT_EQ(w->traceColor(), rgb(0, 255, 0));
  EXPECT_EQ(w->color_box->palette().color(QPalette::Window), QColor(0, 255, 0));
  draw(*w);
  EXPECT_EQ(w->plotImage().pixel(100, kMidRow), qRgb(0, 255, 0));
}

TEST_F(RecordDrawTest, EmptyOrMissingRecordsSaySo) {
  auto none = open();
  EXPECT_EQ(none->Combo_record->count(), 0);
  draw(*none);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Please select a Record or Channel"});

  messages.clear();
  st::writeRecord(folder, "Record1", {});
  auto w = open();
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"The Record is NULL."});
  EXPECT_EQ(w->Data_RecordCount->text(), "0");
  EXPECT_FALSE(w->Command1->isEnabled());

  // A file that is no record: its own message, nothing to draw.
  messages.clear();
  st::writeFile(folder.db() / "Record0.mdb", "not a database");
  auto broken = open();
  EXPECT_EQ(broken->Combo_record->currentText(), "Record0.mdb");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("Record0.mdb"), std::string::npos);
  EXPECT_FALSE(broken->Command1->isEnabled());
}

TEST_F(RecordDrawTest, ExitHidesAndKeepsTheDrawing) {
  channelRecord("Record1", {"0", "1", "0"});
  auto w = open();
  draw(*w);
  QTest::mouseClick(w->Command3, Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  w->show();
  EXPECT_FALSE(w->RecordPath().empty());
  EXPECT_TRUE(isTrace(*w, 0, kMidRow));
}

}  // namespace
}  // namespace kalivor
