// SPDX-License-Identifier: MIT
// The readings' columns of the main window and of DATA_Table follow what the user sets in the
// scan settings: alarm limits and a unit widen a channel's column at once, also in an open
// DATA_Table and between runs; taking them away gives the usual width back.
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <functional>

#include "acquisition/ui/data_table.h"
#include "app/ui/window_wiring.h"
#include "scan/ui/channel_extras_set.h"
#include "scan/ui/scan_set.h"
#include "support/ui/main_form_rig.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

struct ReadingColumnsFollow : testing::MainFormRig {
  ReadingColumnsFollow() {
    wireScanWindows(*form, *program);
    wireDataTable(*form, *program);
  }
  static void retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    if (text.isEmpty()) {
      QTest::keyClick(box, Qt::Key_Delete);
    } else {
      QTest::keyClicks(box, text);
    }
  }
  // In the scan settings: channel `channel`'s scaling and alarm window, edited and confirmed,
  // then Set.
  void setExtras(int channel, const std::function<void(Channel_Extras_Set&)>& edit) {
    QTest::mouseClick(form->Set_Scan_Button, Qt::LeftButton);
    QCoreApplication::processEvents();
    auto* w = form->findChild<Scan_Set*>("Scan_Set");
    ASSERT_NE(w, nullptr);
    int shown = 0;
    w->onExtrasWindowShown = [&](Channel_Extras_Set& d) {
      ++shown;
      edit(d);
      QTest::mouseClick(d.Command1, Qt::LeftButton);
    };
    Q_EMIT w->ScanSet_MSFlexGrid->cellDoubleClicked(channel, 1);
    ASSERT_EQ(shown, 1);
    QTest::mouseClick(w->Set_Command, Qt::LeftButton);
  }
  QTableView* mainTable() const { return form->MSFlexGrid2[0]; }
  DATA_Table* dataTable() const { return form->findChild<DATA_Table*>("DATA_Table"); }
  static void expectWhole(const QTableView& view, int column) {
    SCOPED_TRACE(view.objectName().toStdString());
    ASSERT_GT(view.model()->rowCount(), 0);
    for (int r = 0; r < view.model()->rowCount(); ++r)
      EXPECT_LE(testing::cellOverflow(view, r, column), 0) << view.model()->index(r, column).data().toString().toStdString();
  }
};

TEST_F(ReadingColumnsFollow, LimitsAndAUnitSetWhileDataTableIsOpenWidenTheColumnsAtOnce) {
  connectRows({0});
  runScans(2);
  const int plainMain = mainTable()->horizontalHeader()->defaultSectionSize();
  ASSERT_EQ(mainTable()->columnWidth(6), plainMain);
  QTest::mouseClick(form->DATATable, Qt::LeftButton);
  DATA_Table* table = dataTable();
  ASSERT_NE(table, nullptr);
  const QTableView* data = table->MSFlexGrid1[0];
  const int plainData = data->columnWidth(6);
  ASSERT_EQ(data->columnWidth(7), plainData);

  // CH 5 (about 1.64 V) read in kPa, above its high limit.
  setExtras(5, [](Channel_Extras_Set& d) {
    d.scale_on->setChecked(true);
    retype(d.scale_gain, "1000");
    retype(d.scale_unit, "kPa");
    retype(d.alarm_high, "100");
  });
  ASSERT_TRUE(program->tables.channel[0][4].AlarmHigh.has_value());
  EXPECT_EQ(dataTable(), table) << "still the window opened before";
  EXPECT_GT(data->columnWidth(6), plainData);
  EXPECT_GT(mainTable()->columnWidth(6), plainMain);
  EXPECT_EQ(data->columnWidth(7), plainData);
  EXPECT_EQ(mainTable()->columnWidth(7), plainMain);

  // The next run's marked, scaled readings show whole in both.
  runScans(3);
  ASSERT_EQ(program->tables.ScansDone[0], 3);
  const QString shown = data->model()->index(0, 6).data().toString();
  EXPECT_TRUE(shown.startsWith(QString::fromUtf8(kAlarmMarkerHigh)) && shown.endsWith(" kPa")) << shown.toStdString();
  expectWhole(*mainTable(), 6);
  expectWhole(*data, 6);

  // A column the user made narrower stays so while nothing about its channel changes.
  mainTable()->horizontalHeader()->resizeSection(3, plainMain / 2);
  form->syncFromCore();
  EXPECT_EQ(mainTable()->columnWidth(3), plainMain / 2);

  // Without limits and unit the column has its usual width again.
  setExtras(5, [](Channel_Extras_Set& d) {
    d.scale_on->setChecked(false);
    retype(d.scale_unit, "");
    retype(d.alarm_high, "");
  });
  ASSERT_FALSE(program->tables.channel[0][4].AlarmHigh.has_value());
  EXPECT_EQ(data->columnWidth(6), plainData);
  EXPECT_EQ(mainTable()->columnWidth(6), plainMain);
}

TEST_F(ReadingColumnsFollow, TheMainWindowsColumnsFollowTheSetupOfEachNewRun) {
  connectRows({0});
  setExtras(2, [](Channel_Extras_Set& d) { retype(d.alarm_low, "-1"); });
  runScans(2);
  const int plain = mainTable()->horizontalHeader()->defaultSectionSize();
  const int marked = mainTable()->columnWidth(3);
  EXPECT_GT(marked, plain);
  // A longer unit on another channel between runs: that column widens, CH 2's stays.
  setExtras(3, [](Channel_Extras_Set& d) {
    d.scale_on->setChecked(true);
    retype(d.scale_unit, "mmH2O/s");
  });
  runScans(4);
  EXPECT_EQ(mainTable()->columnWidth(3), marked);
  EXPECT_GT(mainTable()->columnWidth(4), plain);
  expectWhole(*mainTable(), 4);
  EXPECT_EQ(mainTable()->columnWidth(5), plain);
}

}  // namespace
}  // namespace kalivor
