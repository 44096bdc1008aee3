// SPDX-License-Identifier: MIT
#include "scan/ui/scan_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "scan/grid_copy.h"
#include "scan/setup_file.h"
#include "scan/ui/channel_extras_set.h"
#include "scan/ui/dci_aci_set.h"
#include "scan/ui/scan_ui_fixture.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

struct ScanSetTest : ::testing::Test, testing::ScanWindowRig {
  ScanSetTest() {
    w = open();
    EXPECT_NE(w, nullptr);
  }
  QLineEdit* box(const char* name) { return w->findChild<QLineEdit*>(name); }
  QWidget* control(const char* name) { return w->findChild<QWidget*>(name); }
  std::string path(const std::string& name) const { return (folder.root() / name).string(); }

  Scan_Set* w = nullptr;
};

TEST_F(ScanSetTest, OpensOverTheSelectedInstrumentsWithTheirFunctionsReadBack) {
  EXPECT_EQ(w->windowTitle(), "Scan Set");
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->Device_opt[0]->isVisible());
  EXPECT_TRUE(w->Device_opt[0]->isChecked());
  EXPECT_TRUE(w->Device_opt[1]->isVisible());
  EXPECT_FALSE(w->Device_opt[2]->isVisible());
  EXPECT_EQ(w->Device_opt[1]->text(), QString::fromStdString(program->display.deviceList[1]));
  EXPECT_EQ(w->Dev_ScanSet->count(), 2);
  EXPECT_EQ(w->ScanSet_MSFlexGrid->rowCount(), 21);
  EXPECT_EQ(cell(*w, 0, 0), "     Enable\nSelect All");
  EXPECT_EQ(cell(*w, 0, 4), "TEMP Type / TCO Type");
  EXPECT_EQ(cell(*w, 13, 1), "CH 13");
  EXPECT_EQ(cell(*w, 13, 3), "DCV");
  EXPECT_TRUE(w->EnableChannel_Check[19]->isVisible());
  EXPECT_TRUE(w->EnableChannel_Check[19]->isChecked());
  EXPECT_FALSE(w->Chan_Func[0]->isVisible());  // a list opens only over a clicked cell
  EXPECT_EQ(w->set_division[0]->text(), "1");
  EXPECT_EQ(w->Type_unit[0]->currentText(), "(none)");
  EXPECT_EQ(w->set_offset[0]->text(), "0");
  EXPECT_EQ(w->ScanSet_MSFlexGrid->item(3, 2)->background().color(),
            QColor(205, 92, 92));  // channel 3's default colour
  EXPECT_EQ(w->ScanSet_MSFlexGrid->item(0, 5)->background().color(), QColor(230, 230, 250));

  // Showing the thermocouple card reads it back again from the instrument.
  const std::size_t before = sim->instrument(1).received().size();
  QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  const auto& received = sim->instrument(1).received();
  ASSERT_GT(received.size(), before);
  EXPECT_EQ(received[before].rfind("rout:scan:func? 1", 0), 0u) << received[before];
  EXPECT_EQ(w->ScanSet_MSFlexGrid->rowCount(), 11);
  EXPECT_FALSE(w->EnableChannel_Check[10]->isVisible());
  EXPECT_EQ(cell(*w, 1, 3), "TCOUPL");
  EXPECT_EQ(cell(*w, 4, 3), "TEMP");
  EXPECT_EQ(cell(*w, 4, 4), "PT100");
  EXPECT_EQ(w->Dev_ScanSet->currentIndex(), 1);

  // The sensor list of a thermocouple row opens over its cell and fills the grid.
  clickCell(*w, 1, 4);
  EXPECT_TRUE(w->TCO_combo[0]->isVisible());
  EXPECT_FALSE(w->TEMP_combo[0]->isVisible());
  choose(w->TCO_combo[0], "J");
  EXPECT_EQ(cell(*w, 1, 4), "J");
  EXPECT_EQ(w->editor().shownChannel(0).TEMP_TCO, "J");
  testing::screenshot(*w, "scan_set_tc");
}

TEST_F(ScanSetTest, RowControlsLieExactlyOverTheirCells) {
  QTableWidget* g = w->ScanSet_MSFlexGrid;
  auto rect = [g](int r, int c) { return g->visualRect(g->model()->index(r, c)); };
  for (int r = 1; r <= 20; ++r) {
    const auto n = static_cast<std::size_t>(r - 1);
    clickCell(*w, r, 3);
    ASSERT_TRUE(w->Chan_Func[n]->isVisible());
    EXPECT_EQ(w->Chan_Func[n]->geometry(), rect(r, 3));
    EXPECT_EQ(w->TEMP_combo[n]->geometry(), rect(r, 4));
    EXPECT_TRUE(rect(r, 0).contains(w->EnableChannel_Check[n]->geometry()));
    EXPECT_EQ(w->set_division[n]->geometry().united(w->Type_unit[n]->geometry()), rect(r, 5));
    EXPECT_EQ(w->set_division[n]->geometry().right() + 1, w->Type_unit[n]->geometry().left());
    EXPECT_EQ(w->set_offset[n]->geometry(), rect(r, 6));
    // Nothing is cut off: every row is as high as its lists want to be.
    EXPECT_GE(g->rowHeight(r), w->Chan_Func[n]->sizeHint().height());
  }
  EXPECT_TRUE(rect(0, 0).contains(w->Check_all_1->geometry()));
  EXPECT_TRUE(g->viewport()->rect().contains(rect(20, 6)));
  EXPECT_TRUE(w->rect().contains(w->Set_Command->geometry()));
  EXPECT_TRUE(w->rect().contains(g->geometry()));
  clickCell(*w, 5, 3);  // the list opens over its cell
  testing::screenshot(*w, "scan_set");
}

// Every row's controls lie on their cells.
void expectRowControlsOnCells(Scan_Set& w) {
  QTableWidget* g = w.ScanSet_MSFlexGrid;
  auto rect = [g](int r, int c) { return g->visualRect(g->model()->index(r, c)); };
  for (int r = 1; r < g->rowCount(); ++r) {
    const auto n = static_cast<std::size_t>(r - 1);
    EXPECT_EQ(w.Chan_Func[n]->geometry(), rect(r, 3)) << r;
    EXPECT_TRUE(rect(r, 0).contains(w.EnableChannel_Check[n]->geometry())) << r;
    EXPECT_EQ(w.set_division[n]->geometry().united(w.Type_unit[n]->geometry()), rect(r, 5)) << r;
    EXPECT_EQ(w.set_offset[n]->geometry(), rect(r, 6)) << r;
  }
}

int columnsWidth(QTableWidget* g) {
  int sum = 0;
  for (int c = 0; c < g->columnCount(); ++c) sum += g->columnWidth(c);
  return sum;
}

TEST_F(ScanSetTest, TheWindowGrowsAndShrinksWithItsGrid) {
  QTableWidget* g = w->ScanSet_MSFlexGrid;
  QWidget* panel = control("panel");
  const QSize natural = w->size();
  const auto places = testing::placesOf(*w);
  std::vector<int> widths;
  for (int c = 0; c < 7; ++c) widths.push_back(g->columnWidth(c));
  const QRect grid = g->geometry();
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  { const auto c = testing::clipped(*w); EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c); }
  // Both its own size and its smallest fit a laptop screen with a task bar.
  EXPECT_TRUE(QRect(QPoint(), testing::laptopRoom()).contains(QRect(QPoint(), natural)));
  EXPECT_TRUE(QRect(QPoint(), testing::laptopRoom()).contains(QRect(QPoint(), w->minimumSize())));
  EXPECT_EQ(w->minimumSize(), natural);

  // Larger: the grid takes the room, its columns share the width, the panel keeps to the right.
  w->resize(natural + QSize(300, 200));
  QCoreApplication::processEvents();
  EXPECT_EQ(g->geometry(), grid.adjusted(0, 0, 300, 200));
  EXPECT_EQ(g->columnWidth(0), widths[0]);
  for (int c = 1; c < 7; ++c) EXPECT_GT(g->columnWidth(c), widths[static_cast<std::size_t>(c)] + 30) << c;
  EXPECT_EQ(columnsWidth(g), g->viewport()->width());
  EXPECT_EQ(panel->x(), grid.right() + 1 + 12 + 300);
  // The buttons stay at the panel's foot, and the panel at the window's.
  EXPECT_EQ(panel->geometry().bottom() + 1, w->height() - 8);
  EXPECT_EQ(w->Set_Command->geometry().bottom() + 1, panel->height());
  expectRowControlsOnCells(*w);
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  // A list opened on a widened cell covers it.
  clickCell(*w, 4, 3);
  EXPECT_EQ(w->Chan_Func[3]->geometry(), g->visualRect(g->model()->index(4, 3)));
  testing::screenshot(*w, "scan_set_larger");

  // A ten-channel card's rows lie on its widened cells too.
  QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  ASSERT_EQ(g->rowCount(), 11);
  expectRowControlsOnCells(*w);
  QTest::mouseClick(w->Device_opt[0], Qt::LeftButton);

  // It shrinks back no smaller than its own size.
  w->resize(natural - QSize(200, 100));
  QCoreApplication::processEvents();
  EXPECT_EQ(w->size(), natural);
  // Back at its own size, everything stands where it stood.
  for (int c = 0; c < 7; ++c) EXPECT_EQ(g->columnWidth(c), widths[static_cast<std::size_t>(c)]) << c;
  EXPECT_EQ(testing::placesOf(*w), places);
}

TEST_F(ScanSetTest, CountBoxesAreClampedAndTakeDigitsOnly) {
  QTest::mouseClick(w->total_channel_count, Qt::LeftButton);
  retype(w->N_Channel_SCAN, "5000");
  EXPECT_EQ(w->N_Channel_SCAN->text(), "2000");
  EXPECT_EQ(w->editor().shownSetup().ScanCount, "2000");
  retype(w->N_Channel_SCAN, "0");
  EXPECT_EQ(w->N_Channel_SCAN->text(), "1");
  QTest::keyClick(w->N_Channel_SCAN, Qt::Key_Backspace);
  EXPECT_EQ(w->N_Channel_SCAN->text(), "1");  // an emptied box is 1
  QTest::keyClicks(w->N_Channel_SCAN, "2x-.5");
  EXPECT_EQ(w->N_Channel_SCAN->text(), "125");
  QTest::mouseClick(w->findChild<QWidget*>("UpDown_N_Channel_SCAN_up"), Qt::LeftButton);
  EXPECT_EQ(w->N_Channel_SCAN->text(), "126");

  QTest::mouseClick(w->stop_after_n_scan, Qt::LeftButton);
  retype(w->N_SCAN, "5000");
  EXPECT_EQ(w->N_SCAN->text(), "1000");
  EXPECT_EQ(w->editor().shownSetup().scanCount_Status, 1);
  EXPECT_EQ(w->editor().shownSetup().ScanCount, "1000");
}

TEST_F(ScanSetTest, CountModeAndScanTypeDecideWhichIntervalsCanBeSet) {
  EXPECT_TRUE(w->Default_count->isChecked());
  EXPECT_TRUE(w->Scan_Type[0]->isChecked());
  // SCAN: no per-channel interval.
  EXPECT_FALSE(w->channel_scan_interval->isEnabled());
  EXPECT_FALSE(w->H1->isEnabled());
  QTest::mouseClick(w->Scan_Type[1], Qt::LeftButton);
  EXPECT_EQ(w->editor().shownSetup().ScanType, "STEP");
  ASSERT_TRUE(w->channel_scan_interval->isEnabled());
  QTest::mouseClick(w->channel_scan_interval, Qt::LeftButton);
  EXPECT_TRUE(w->H1->isEnabled());
  EXPECT_TRUE(w->UpDown_MS1->isEnabled());
  QTest::mouseClick(w->Scan_Type[0], Qt::LeftButton);
  EXPECT_FALSE(w->channel_scan_interval->isChecked());
  EXPECT_FALSE(w->channel_scan_interval->isEnabled());
  EXPECT_FALSE(w->M1->isEnabled());
  EXPECT_EQ(w->channel_interval->text(), "0.5");

  // "After N Channel" leaves no scan interval and no stop time.
  QTest::mouseClick(w->total_channel_count, Qt::LeftButton);
  EXPECT_FALSE(w->cbScan->isEnabled());
  EXPECT_FALSE(w->H2->isEnabled());
  EXPECT_FALSE(w->UpDown_S2->isEnabled());
  EXPECT_FALSE(w->stop_time->isEnabled());
  EXPECT_FALSE(w->StopTime->isEnabled());
  QTest::mouseClick(w->Default_count, Qt::LeftButton);
  EXPECT_TRUE(w->cbScan->isEnabled());
  EXPECT_TRUE(w->H2->isEnabled());
  EXPECT_TRUE(w->stop_time->isEnabled());
  EXPECT_TRUE(w->StopTime->isEnabled());
  QTest::mouseClick(w->stop_time, Qt::LeftButton);
  EXPECT_EQ(w->editor().shownSetup().StopAtTime, 1);
}

TEST_F(ScanSetTest, TimeFieldsAreCheckedAsTheyAreTyped) {
  EXPECT_EQ(w->scan_interval->text(), "10");
  EXPECT_EQ(w->S2->text(), "10");
  retype(w->S2, "0");
  retype(w->MS2, "0");
  retype(w->M2, "7");
  EXPECT_EQ(w->M2->text(), "07");
  EXPECT_EQ(w->MS2->text(), "000");
  EXPECT_EQ(w->scan_interval->text(), "420");
  EXPECT_EQ(w->editor().shownSetup().ScanTime, "420");
  EXPECT_EQ(w->M2->cursorPosition(), 2);
  QTest::keyClicks(w->M2, "a");  // not a digit: discarded
  EXPECT_EQ(w->M2->text(), "07");

  retype(w->M2, "0");
  retype(w->H2, "1");
  EXPECT_EQ(w->H2->text(), "01");
  EXPECT_EQ(w->scan_interval->text(), "3600");
  EXPECT_EQ(w->set_stat->text(), "");
  retype(w->M2, "01");  // 1:01 is beyond the range
  EXPECT_EQ(w->scan_interval->text(), "3600");
  EXPECT_EQ(w->M2->text(), "00");
  EXPECT_EQ(w->set_stat->text(), "<< Timer Set , Range = 0 ~ 3600 (s) >>");

  retype(w->H2, "2");
  EXPECT_EQ(w->H2->text(), "1");
  retype(w->H2, "0");
  retype(w->MS2, "1500");
  EXPECT_EQ(w->MS2->text(), "999");
  EXPECT_EQ(w->scan_interval->text(), "0.999");

  w->S2->selectAll();
  QTest::keyClick(w->S2, Qt::Key_Backspace);
  EXPECT_EQ(w->set_stat->text(), "<< Please input Number... >>");
  EXPECT_EQ(w->S2->text(), "00");
  EXPECT_EQ(w->MS2->text(), "500");
  EXPECT_EQ(w->scan_interval->text(), "0.5");

  // The up-down buttons step their field through the same checks.
  QTest::mouseClick(w->findChild<QWidget*>("UpDown_H2_up"), Qt::LeftButton);
  EXPECT_EQ(w->H2->text(), "01");
  EXPECT_EQ(w->set_stat->text(), "<< Timer Set , Range = 0 ~ 3600 (s) >>");
}

TEST_F(ScanSetTest, SelectAllAndItsGuard) {
  QTest::mouseClick(w->EnableChannel_Check[3], Qt::LeftButton);
  EXPECT_EQ(w->editor().shownChannel(3).Function, "NONE");
  QTest::mouseClick(w->Check_all_1, Qt::LeftButton);
  for (QCheckBox* b : w->EnableChannel_Check) EXPECT_TRUE(b->isChecked());
  EXPECT_EQ(w->editor().shownChannel(3).Function, "DCV");

  // Unticking one channel unticks "Select All" and nothing else.
  QTest::mouseClick(w->EnableChannel_Check[5], Qt::LeftButton);
  EXPECT_FALSE(w->Check_all_1->isChecked());
  EXPECT_TRUE(w->EnableChannel_Check[4]->isChecked());
  EXPECT_TRUE(w->EnableChannel_Check[6]->isChecked());
  EXPECT_EQ(w->editor().shownChannel(6).EnableChannel, 1);

  // Unticking it by hand unticks every channel.
  QTest::mouseClick(w->Check_all_1, Qt::LeftButton);
  QTest::mouseClick(w->Check_all_1, Qt::LeftButton);
  for (int ch = 0; ch < 20; ++ch) {
    EXPECT_FALSE(w->EnableChannel_Check[static_cast<std::size_t>(ch)]->isChecked());
    EXPECT_EQ(w->editor().shownChannel(ch).EnableChannel, 0);
  }
}

TEST_F(ScanSetTest, FourWireTakesTheUpperChannelAndGivesItBack) {
  clickCell(*w, 3, 3);
  ASSERT_TRUE(w->Chan_Func[2]->isVisible());
  EXPECT_EQ(w->Chan_Func[2]->findText("4W"), 5);
  EXPECT_EQ(w->Chan_Func[12]->findText("4W"), -1);  // the upper half has no 4-wire functions
  choose(w->Chan_Func[2], "4W");
  EXPECT_EQ(cell(*w, 3, 3), "4W");
  EXPECT_EQ(cell(*w, 13, 3), "NONE");
  EXPECT_EQ(cell(*w, 13, 4), "None");
  EXPECT_EQ(w->Chan_Func[12]->currentText(), "NONE");
  EXPECT_FALSE(w->Chan_Func[12]->isEnabled());
  EXPECT_FALSE(w->EnableChannel_Check[12]->isChecked());
  EXPECT_EQ(w->editor().shownChannel(12).PartnerFlag, 1);

  clickCell(*w, 3, 3);
  choose(w->Chan_Func[2], "DCV");
  EXPECT_TRUE(w->Chan_Func[12]->isEnabled());
  clickCell(*w, 13, 3);
  EXPECT_FALSE(w->Chan_Func[2]->isVisible());
  EXPECT_TRUE(w->Chan_Func[12]->isVisible());
  choose(w->Chan_Func[12], "2W");
  EXPECT_EQ(w->editor().shownChannel(12).Function, "2W");
}

TEST_F(ScanSetTest, PastingFourWireSkipsTheUpperHalf) {
  clickCell(*w, 1, 3);
  choose(w->Chan_Func[0], "4W");
  QTest::keyClick(w->ScanSet_MSFlexGrid, Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(w->editor().gridCopy().enableCopy());
  EXPECT_EQ(w->editor().gridCopy().value(), "4W");

  clickCell(*w, 8, 3);
  clickCell(*w, 13, 3, Qt::ShiftModifier);
  QTest::keyClick(w->ScanSet_MSFlexGrid, Qt::Key_V, Qt::ControlModifier);
  for (int r : {8, 9, 10}) EXPECT_EQ(cell(*w, r, 3), "4W") << r;
  EXPECT_EQ(cell(*w, 11, 3), "NONE");  // channel 1's partner
  EXPECT_EQ(cell(*w, 12, 3), "DCV");
  EXPECT_EQ(cell(*w, 13, 3), "DCV");
  EXPECT_EQ(cell(*w, 18, 3), "NONE");
  EXPECT_FALSE(w->Chan_Func[19]->isEnabled());
  EXPECT_TRUE(messages.shown.empty());

  // The 10-channel card shown afterwards checks against its own half (rows 1..5).
  QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  clickCell(*w, 1, 3);
  choose(w->Chan_Func[0], "4W");
  clickCell(*w, 1, 3);
  QTest::keyClick(w->ScanSet_MSFlexGrid, Qt::Key_C, Qt::ControlModifier);
  clickCell(*w, 4, 3);
  clickCell(*w, 8, 3, Qt::ShiftModifier);
  QTest::keyClick(w->ScanSet_MSFlexGrid, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(cell(*w, 4, 3), "4W");
  EXPECT_EQ(cell(*w, 5, 3), "4W");
  EXPECT_EQ(cell(*w, 8, 3), "DCV");
  EXPECT_EQ(cell(*w, 10, 3), "NONE");  // channel 5's partner
  EXPECT_TRUE(messages.shown.empty()) << messages.texts().front();
}

TEST_F(ScanSetTest, ChoosingAColourForAChannel) {
  dialogs.colors.push_back(rgb(1, 2, 3));
  clickCell(*w, 2, 2);
  ASSERT_EQ(dialogs.colorRequests.size(), 1u);
  EXPECT_EQ(dialogs.colorRequests[0], rgb(24, 116, 205));
  EXPECT_EQ(w->editor().shownChannel(1).Color, rgb(1, 2, 3));
  EXPECT_EQ(w->ScanSet_MSFlexGrid->item(2, 2)->background().color(), QColor(1, 2, 3));
  clickCell(*w, 2, 2);  // cancelled: the colour stays
  EXPECT_EQ(w->editor().shownChannel(1).Color, rgb(1, 2, 3));
}

TEST_F(ScanSetTest, CurrentChannelsOpenTheShuntWindow) {
  std::vector<std::pair<int, int>> opened;
  w->onShuntWindowShown = [&](DCI_ACI_SET& shunt) {
    opened.emplace_back(shunt.slot(), shunt.channel());
    EXPECT_TRUE(shunt.isModal());
    { const auto c = testing::clipped(shunt); EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c); }
    { const auto o = testing::overlaps(shunt); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
    testing::screenshot(shunt, "dci_aci_set");
    retype(shunt.ohm_set, "0.1");
    retype(shunt.curr_set, "0.002");
    QTest::mouseClick(shunt.Command1, Qt::LeftButton);
  };
  clickCell(*w, 7, 3);
  choose(w->Chan_Func[6], "DCI");
  ASSERT_EQ(opened, (std::vector<std::pair<int, int>>{{0, 6}}));
  EXPECT_EQ(program->tables.channel[0][6].Ohm, 0.1);
  EXPECT_EQ(program->tables.channel[0][6].Current, 0.002);

  // Pasting a current function asks for each row's shunt in turn.
  clickCell(*w, 7, 3);
  QTest::keyClick(w->ScanSet_MSFlexGrid, Qt::Key_C, Qt::ControlModifier);
  clickCell(*w, 9, 3);
  clickCell(*w, 8, 3, Qt::ShiftModifier);
  QTest::keyClick(w->ScanSet_MSFlexGrid, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(opened, (std::vector<std::pair<int, int>>{{0, 6}, {0, 8}, {0, 7}}));
  EXPECT_EQ(cell(*w, 8, 3), "DCI");
}

TEST_F(ScanSetTest, SetSendsTheSetupAndTheMainWindowShowsIt) {
  clickCell(*w, 3, 3);
  choose(w->Chan_Func[2], "4W");
  clickCell(*w, 5, 3);
  choose(w->Chan_Func[4], "ACV");
  QTest::mouseClick(w->EnableChannel_Check[5], Qt::LeftButton);
  retype(w->set_division[1], "2");
  choose(w->Type_unit[1], "m");
  retype(w->set_offset[1], "0.25");
  QTest::mouseClick(w->Scan_Type[1], Qt::LeftButton);

  QTest::mouseClick(w->Set_Command, Qt::LeftButton);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Setting Complete"});
  EXPECT_FALSE(w->isVisible());
  const sim::SimInstrument& meter = sim->instrument(0);
  EXPECT_EQ(meter.function(3), "FRES");
  EXPECT_EQ(meter.function(5), "VOLT:AC");
  EXPECT_EQ(meter.function(6), "NONE");
  EXPECT_TRUE(meter.isSensePair(13));
  const ChannelSetup& applied = program->tables.channel[0][1];
  EXPECT_EQ(applied.Division, "0.002");
  EXPECT_EQ(applied.Offset, "0.25");
  EXPECT_EQ(program->tables.setup[0].ScanType, "STEP");
  QTableWidget* grid = main->Channel_MSFlexGrid[0];
  EXPECT_EQ(grid->item(0, 2)->text(), "CH 3(4W)");
  EXPECT_EQ(grid->item(0, 4)->text(), "CH 5(ACV)");
  EXPECT_EQ(grid->item(0, 5)->text(), "CH 6(NONE)");
  EXPECT_EQ(main->ScanControl_MSFlexGrid->item(0, 1)->text(), "STEP");

  // Hidden, not unloaded: the next opening shows the same working copy.
  EXPECT_EQ(open(), w);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->Chan_Func[2]->currentText(), "4W");
  EXPECT_EQ(w->set_division[1]->text(), "2");

  // The close box unloads it; the next one starts from the defaults and the instrument.
  w->close();
  flushDeletes();
  EXPECT_EQ(window(), nullptr);
  Scan_Set* again = open();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->set_division[1]->text(), "1");
  EXPECT_TRUE(again->Scan_Type[0]->isChecked());
  EXPECT_EQ(cell(*again, 3, 3), "4W");
  EXPECT_EQ(cell(*again, 13, 3), "NONE");
  EXPECT_FALSE(again->Chan_Func[12]->isEnabled());
}

TEST_F(ScanSetTest, StopBeforeStartIsRefusedAndTheWindowStays) {
  QTest::mouseClick(w->at_time, Qt::LeftButton);
  w->StartTime->setDateTime(QDateTime(QDate(2024, 6, 1), QTime(10, 0), Qt::UTC));
  QTest::mouseClick(w->stop_time, Qt::LeftButton);
  w->StopTime->setDateTime(QDateTime(QDate(2024, 6, 1), QTime(9, 59), Qt::UTC));
  EXPECT_EQ(w->editor().shownSetup().StartTime, "2024/06/01 10:00:00");
  EXPECT_EQ(w->editor().shownSetup().StopTime, "2024/06/01 09:59:00");
  QTest::mouseClick(w->Set_Command, Qt::LeftButton);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"ERROR Time Set!."});
  EXPECT_TRUE(w->isVisible());
}

TEST_F(ScanSetTest, ASetThatCannotReachAMeterSaysSoAndTheWindowStays) {
  sim->instrument(1).setFault("drop-after:0");
  QTest::mouseClick(w->Set_Command, Qt::LeftButton);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
  EXPECT_NE(messages.shown[0].text.find(program->display.deviceList[1]), std::string::npos)
      << messages.shown[0].text;
  EXPECT_EQ(messages.count("Setting Complete"), 0u);
  EXPECT_TRUE(w->isVisible());
}

TEST_F(ScanSetTest, EachInstrumentKeepsItsEditsUntilSetOrDiscarded) {
  clickCell(*w, 5, 3);
  choose(w->Chan_Func[4], "ACV");
  retype(w->set_division[1], "2");
  choose(w->Type_unit[1], "m");
  QTest::mouseClick(w->Scan_Type[1], Qt::LeftButton);
  QTest::mouseClick(w->EnableChannel_Check[5], Qt::LeftButton);
  QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  clickCell(*w, 1, 4);
  choose(w->TCO_combo[0], "J");

  const std::size_t asked = sim->instrument(0).received().size();
  QTest::mouseClick(w->Device_opt[0], Qt::LeftButton);
  EXPECT_EQ(sim->instrument(0).received().size(), asked) << "read back over the edits";
  EXPECT_EQ(cell(*w, 5, 3), "ACV");
  EXPECT_EQ(w->Chan_Func[4]->currentText(), "ACV");
  EXPECT_EQ(w->set_division[1]->text(), "2");
  EXPECT_EQ(w->Type_unit[1]->currentText(), "m");
  EXPECT_TRUE(w->Scan_Type[1]->isChecked());
  EXPECT_FALSE(w->EnableChannel_Check[5]->isChecked());
  QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  EXPECT_EQ(cell(*w, 1, 4), "J");

  // The close box asks first; No keeps the window and every edit.
  messages.answers = {MessageAnswer::No};
  w->close();
  flushDeletes();
  ASSERT_EQ(window(), w);
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(messages.count(kDiscardEditsText), 1u);
  EXPECT_EQ(messages.shown.back().buttons, MessageButtons::YesNo);
  EXPECT_EQ(w->editor().working().channel[0][4].Function, "ACV");

  // Set sends both instruments' edits; afterwards there is nothing to discard.
  messages.clear();
  QTest::mouseClick(w->Set_Command, Qt::LeftButton);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Setting Complete"});
  EXPECT_EQ(sim->instrument(0).function(5), "VOLT:AC");
  EXPECT_EQ(sim->instrument(0).function(6), "NONE");
  EXPECT_EQ(program->tables.channel[1][0].TEMP_TCO, "J");
  EXPECT_EQ(open(), w);
  messages.clear();
  w->close();
  flushDeletes();
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(window(), nullptr);

  // Yes discards: the next opening starts from the instruments again.
  Scan_Set* again = open();
  ASSERT_NE(again, nullptr);
  retype(again->set_offset[2], "0.5");
  again->close();
  flushDeletes();
  EXPECT_EQ(messages.count(kDiscardEditsText), 1u);
  EXPECT_EQ(window(), nullptr);
  again = open();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->set_offset[2]->text(), "0");
}

TEST_F(ScanSetTest, AChannelsCellOpensItsScalingAndAlarmLimits) {
  QTableWidget* g = w->ScanSet_MSFlexGrid;
  int shown = 0;
  w->onExtrasWindowShown = [&](Channel_Extras_Set& d) {
    ++shown;
    EXPECT_EQ(d.windowTitle(), "CH 4 Scaling / Alarm");
    { const auto c = testing::clipped(d); EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c); }
    testing::screenshot(d, "channel_extras_set");
    EXPECT_FALSE(d.scale_on->isChecked());
    EXPECT_EQ(d.scale_gain->text(), "1");
    EXPECT_EQ(d.alarm_low->text(), "");
    QTest::mouseClick(d.scale_on, Qt::LeftButton);
    retype(d.scale_gain, "2.5");
    retype(d.scale_unit, "bar");
    retype(d.alarm_low, "9");
    retype(d.alarm_high, "3");
    QTest::mouseClick(d.Command1, Qt::LeftButton);  // low above high: refused, stays open
    EXPECT_TRUE(d.isVisible());
    retype(d.alarm_low, "-1");
    QTest::mouseClick(d.Command1, Qt::LeftButton);
  };
  // A double-click on the cell (offscreen, the signal stands for it).
  Q_EMIT g->cellDoubleClicked(4, 1);
  ASSERT_EQ(shown, 1);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("low limit"), std::string::npos) << messages.shown[0].text;
  const ChannelSetup& c = w->editor().shownChannel(3);
  EXPECT_EQ(c.ScaleOn, 1);
  EXPECT_EQ(c.ScaleGain, 2.5);
  EXPECT_EQ(c.ScaleUnit, "bar");
  EXPECT_EQ(c.AlarmLow, -1.0);
  EXPECT_EQ(c.AlarmHigh, 3.0);
  EXPECT_TRUE(g->item(4, 1)->toolTip().contains("bar"));
  EXPECT_EQ(cell(*w, 4, 1), "CH 4");  // the grid itself looks as before

  // The close box of the window stores nothing.
  w->onExtrasWindowShown = [&](Channel_Extras_Set& d) {
    ++shown;
    retype(d.scale_gain, "7");
    d.close();
  };
  Q_EMIT g->cellDoubleClicked(4, 1);
  EXPECT_EQ(w->editor().shownChannel(3).ScaleGain, 2.5);
  ASSERT_EQ(shown, 2);
  // Other cells of the row do not open it.
  Q_EMIT g->cellDoubleClicked(4, 5);
  EXPECT_EQ(shown, 2);

  messages.clear();
  QTest::mouseClick(w->Set_Command, Qt::LeftButton);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Setting Complete"});
  EXPECT_EQ(program->tables.channel[0][3].ScaleUnit, "bar");
  EXPECT_EQ(program->tables.channel[0][3].AlarmHigh, 3.0);
}

TEST_F(ScanSetTest, SavedSetupLoadsBackWithItsPairing) {
  QTest::mouseClick(w->Scan_Type[1], Qt::LeftButton);
  QTest::mouseClick(w->channel_scan_interval, Qt::LeftButton);
  retype(w->M1, "1");
  retype(w->S1, "15");
  retype(w->MS1, "500");
  EXPECT_EQ(w->channel_interval->text(), "75.5");
  clickCell(*w, 2, 3);
  choose(w->Chan_Func[1], "4W");
  retype(w->set_offset[4], "-3");
  const std::string file = path("bench.ini");
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->SaveRD_Btn, Qt::LeftButton);
  ASSERT_EQ(dialogs.requests.size(), 1u);
  EXPECT_EQ(dialogs.requests[0].presetName, program->display.deviceList[0]);
  EXPECT_EQ(dialogs.requests[0].filter, "ini|*.ini");
  EXPECT_TRUE(dialogs.requests[0].confirmOverwrite);
  ASSERT_TRUE(fs::exists(file));

  // A fresh window starts from the defaults; loading brings the setup back.
  w->close();  // the edits are saved in the file, not set: the close box asks, Yes
  flushDeletes();
  EXPECT_EQ(messages.count(kDiscardEditsText), 1u);
  messages.clear();
  w = open();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->Scan_Type[0]->isChecked());
  messages.answers.push_back(MessageAnswer::No);
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->LoadRD_Btn, Qt::LeftButton);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, kLoadConfirmText);
  EXPECT_EQ(messages.shown[0].title, "Confirmation message");
  EXPECT_TRUE(w->Scan_Type[1]->isChecked());
  EXPECT_TRUE(w->channel_scan_interval->isChecked());
  EXPECT_EQ(w->channel_interval->text(), "75.5");
  EXPECT_EQ(w->H1->text(), "0");
  EXPECT_EQ(w->M1->text(), "1");
  EXPECT_EQ(w->S1->text(), "15");
  EXPECT_EQ(w->MS1->text(), "500");
  EXPECT_EQ(cell(*w, 2, 3), "4W");
  EXPECT_EQ(cell(*w, 12, 3), "NONE");
  EXPECT_FALSE(w->Chan_Func[11]->isEnabled());
  EXPECT_FALSE(w->EnableChannel_Check[11]->isChecked());
  EXPECT_EQ(w->set_offset[4]->text(), "-3");
  EXPECT_EQ(sim->instrument(0).function(2), "VOLT");  // "No": nothing sent yet

  // "Yes" makes the instrument match and shows the window again.
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->LoadRD_Btn, Qt::LeftButton);
  EXPECT_EQ(messages.texts().back(), "Setting Complete");
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(sim->instrument(0).function(2), "FRES");
  EXPECT_EQ(program->tables.setup[0].ChannelTime, "75.5");
}

TEST_F(ScanSetTest, SetupFilesThatDoNotFitAreRefused) {
  const std::string file = path("twenty.ini");
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->SaveRD_Btn, Qt::LeftButton);
  QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  const std::string before = cell(*w, 1, 3).toStdString();
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->LoadRD_Btn, Qt::LeftButton);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, kLoadFailedText);
  EXPECT_EQ(messages.shown[0].title, "Warning");
  EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
  EXPECT_EQ(cell(*w, 1, 3).toStdString(), before);

  // A file that stops half way says where.
  std::string text;
  {
    std::ifstream in(file, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  const auto at = text.find("Function(3)=DCV");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 15, "Function(3)=XYZ");
  std::ofstream(file, std::ios::binary) << text;
  QTest::mouseClick(w->Device_opt[0], Qt::LeftButton);
  messages.clear();
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->LoadRD_Btn, Qt::LeftButton);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find(file), std::string::npos);
  EXPECT_NE(messages.shown[0].text.find("Function(3) in [Function]"), std::string::npos);
}

TEST_F(ScanSetTest, CancelledOrFailedFileDialogs) {
  QTest::mouseClick(w->SaveRD_Btn, Qt::LeftButton);  // cancelled
  QTest::mouseClick(w->LoadRD_Btn, Qt::LeftButton);  // cancelled
  EXPECT_TRUE(messages.shown.empty());
  for (const auto& entry : fs::recursive_directory_iterator(folder.root()))
    EXPECT_NE(entry.path().extension(), ".ini") << entry.path();

  const std::string file = path("no-such-folder/setup.ini");
  dialogs.fileNames.push_back(file);
  QTest::mouseClick(w->SaveRD_Btn, Qt::LeftButton);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find(file), std::string::npos);
}

TEST_F(ScanSetTest, AFailedReadBackReconnectsAndUnloadsTheWindow) {
  w->close();
  flushDeletes();
  sim->instrument(1).setFault("silent");
  EXPECT_EQ(open(), nullptr);
  EXPECT_GE(messages.count("Timeout"), 1u);
  EXPECT_TRUE(program->link.StopRequested);
  flushDeletes();
  EXPECT_TRUE(main->findChildren<Scan_Set*>().isEmpty());
}

TEST_F(ScanSetTest, NothingIsReadOrSetWhileARunIsGoing) {
  program->tables.setup[0].scanCount_Status = 1;
  program->tables.setup[0].ScanCount = "2";
  program->tables.setup[1].scanCount_Status = 1;
  program->tables.setup[1].ScanCount = "2";
  clickCell(*w, 3, 3);
  choose(w->Chan_Func[2], "4W");
  bool tried = false;
  pump.set([&](std::int64_t) {
    if (tried || !program->run.running()) return;
    tried = true;
    QTest::mouseClick(w->Set_Command, Qt::LeftButton);
    QTest::mouseClick(w->Device_opt[1], Qt::LeftButton);
  });
  main->StartReading_Click();
  ASSERT_TRUE(tried);
  EXPECT_EQ(messages.count(kScanSetRunningText), 2u);
  EXPECT_EQ(messages.count("Setting Complete"), 0u);
  EXPECT_EQ(sim->instrument(0).function(3), "VOLT");
  EXPECT_TRUE(w->Device_opt[0]->isChecked());
  EXPECT_EQ(w->editor().shownSlot(), 0);
  EXPECT_EQ(cell(*w, 3, 3), "4W");  // the edit waits for the next Set
}

// ---- the shunt window on its own ----------------------------------------------------------------

TEST_F(ScanSetTest, ShuntWindowKeepsOnlyAResistanceAboveZero) {
  ChannelSetup& c = program->tables.channel[1][4];
  c.Ohm = 0.1;
  c.Current = 0.002;
  {
    DCI_ACI_SET shunt(program->tables, messages, 1, 4);
    EXPECT_EQ(shunt.ohm_set->text(), "0.1");
    EXPECT_EQ(shunt.curr_set->text(), "0.002");
    EXPECT_EQ(shunt.Label1->text(), "DCI , ACI = ( Measurement Volt / R ) + Offset");
    for (const char* bad : {"0", "-5", "", "abc"}) {
      shunt.ohm_set->setText(bad);
      shunt.curr_set->setText("7");
      QTest::mouseClick(shunt.Command1, Qt::LeftButton);
      EXPECT_EQ(messages.texts().back(), "Please key a number (>0).") << bad;
      EXPECT_EQ(shunt.result(), 0);
    }
    EXPECT_EQ(messages.shown.size(), 4u);
    EXPECT_EQ(c.Ohm, 0.1);
    EXPECT_EQ(c.Current, 0.002);

    shunt.ohm_set->setText("10abc");
    shunt.curr_set->setText("x");
    QTest::mouseClick(shunt.Command1, Qt::LeftButton);
    EXPECT_EQ(shunt.result(), QDialog::Accepted);
    EXPECT_EQ(c.Ohm, 10);
    EXPECT_EQ(c.Current, 0);
  }
  DCI_ACI_SET closed(program->tables, messages, 1, 4);
  closed.ohm_set->setText("3");
  closed.reject();  // the close box stores nothing
  EXPECT_EQ(c.Ohm, 10);
}

}  // namespace
}  // namespace kalivor
