// SPDX-License-Identifier: MIT
// A short run on the simulated meters into records, then every window a user opens for it: each
// fits a 1366 x 768 screen with a task bar, with no control on another or cut short. Run with
// KALIVOR_SCREENSHOT_DIR (scripts/screenshots.sh) it leaves a picture of each.
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include "acquisition/ui/data_table.h"
#include "app/ui/window_wiring.h"
#include "scan/ui/scan_set.h"
#include "store/ui/record_view_form.h"
#include "support/ui/main_form_rig.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

struct WindowsOnALaptop : testing::MainFormRig {
  WindowsOnALaptop() {
    wireScanWindows(*form, *program);
    wireDataTable(*form, *program);
    wireRecordWindows(*form, *program);
  }
  template <class W>
  W* opened(const char* name) {
    QCoreApplication::processEvents();
    return form->findChild<W*>(name);
  }
  // Fits the laptop's room, nothing overlapping or cut short among `area`'s own controls (but
  // for pairs that lie on each other on purpose).
  static void expectFits(const QWidget& window, const QWidget& area,
                         const std::vector<std::string>& meant = {}) {
    SCOPED_TRACE(window.objectName().toStdString());
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(QRect(QPoint(), testing::laptopRoom()).contains(QRect(QPoint(), window.size())))
        << window.width() << "x" << window.height();
    auto o = testing::overlaps(area);
    for (const std::string& pair : meant) std::erase(o, pair);
    EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o);
    const auto c = testing::clipped(window);
    EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c);
  }
};

TEST_F(WindowsOnALaptop, EveryWindowOfARunFitsWithItsDataShown) {
  connectRows({0, 1});
  program->tables.DatabaseName[0] = "Record1";
  program->tables.DatabaseName[1] = "Record2";
  runScans(12);
  ASSERT_EQ(program->tables.ScansDone[0], 12);

  // The program starts its window no larger than the screen has room for; on a laptop that is
  // this much.
  form->resize(form->size().boundedTo(testing::laptopRoom()).expandedTo(form->minimumSizeHint()));
  QCoreApplication::processEvents();
  // The chart's read-out tag lies on its box, the reference marker touches its caption.
  expectFits(*form, *form->centralWidget(), {"Text1 / Text3", "row_stat / ref_label"});
  testing::screenshot(*form, "laptop_main_window");

  QTest::mouseClick(form->Set_Scan_Button, Qt::LeftButton);
  auto* scanSet = opened<Scan_Set>("Scan_Set");
  ASSERT_NE(scanSet, nullptr);
  expectFits(*scanSet, *scanSet);
  testing::screenshot(*scanSet, "laptop_scan_set");

  QTest::mouseClick(form->DATATable, Qt::LeftButton);
  auto* table = opened<DATA_Table>("DATA_Table");
  ASSERT_NE(table, nullptr);
  expectFits(*table, *table);
  EXPECT_EQ(table->MSFlexGrid1[0]->model()->rowCount(), 12);
  testing::screenshot(*table, "laptop_data_table");
  table->close();

  QTest::mouseClick(form->RecordView, Qt::LeftButton);
  auto* records = opened<Record_View_Form>("Record_View_Form");
  ASSERT_NE(records, nullptr);
  const auto found = records->List1->findItems("Record1.mdb", Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1);
  records->List1->setCurrentItem(found.front());
  QTest::mouseClick(records->Command2, Qt::LeftButton);
  QCoreApplication::processEvents();
  EXPECT_EQ(records->MSFlexGrid1->model()->index(11, 0).data().toString(), "12");
  expectFits(*records, *records);
  testing::screenshot(*records, "laptop_record_view");
}

}  // namespace
}  // namespace kalivor
