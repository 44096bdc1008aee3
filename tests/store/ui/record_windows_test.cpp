// SPDX-License-Identifier: MIT
#include "app/ui/window_wiring.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/ui/main_form.h"
#include "charts/ui/record_view_draw.h"
#include "store/ui/db_set.h"
#include "store/ui/record_ui_fixture.h"
#include "store/ui/record_view_form.h"

namespace kalivor {
namespace {

struct RecordWindowsTest : ::testing::Test, testing::RecordWindowRig {
  RecordWindowsTest() : main(*program) { wireRecordWindows(main, *program); }

  template <typename W>
  QList<W*> windows() {
    return main.findChildren<W*>(QString(), Qt::FindDirectChildrenOnly);
  }
  static void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  MainForm main;
};

TEST_F(RecordWindowsTest, BrowserIsMadeOnceAndUnloadedByExit) {
  main.openRecordView();
  ASSERT_EQ(windows<Record_View_Form>().size(), 1);
  Record_View_Form* first = windows<Record_View_Form>().front();
  EXPECT_TRUE(first->isVisible());
  EXPECT_TRUE(first->isWindow());
  main.openRecordView();
  EXPECT_EQ(windows<Record_View_Form>(), QList<Record_View_Form*>{first});

  QTest::mouseClick(first->Command4, Qt::LeftButton);
  flushDeletes();
  EXPECT_TRUE(windows<Record_View_Form>().isEmpty());
  main.openRecordView();
  EXPECT_EQ(windows<Record_View_Form>().size(), 1);
}

TEST_F(RecordWindowsTest, RecordChartKeepsItsStateWhenExitHidesIt) {
  main.openRecordDraw();
  ASSERT_EQ(windows<Record_View_Draw>().size(), 1);
  Record_View_Draw* w = windows<Record_View_Draw>().front();
  w->offset_box->setText("5");
  QTest::mouseClick(w->Command3, Qt::LeftButton);
  flushDeletes();
  ASSERT_EQ(windows<Record_View_Draw>(), QList<Record_View_Draw*>{w});
  EXPECT_FALSE(w->isVisible());
  main.openRecordDraw();
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->offset_box->text(), "5");

  // The close box unloads it.
  w->close();
  flushDeletes();
  EXPECT_TRUE(windows<Record_View_Draw>().isEmpty());
}

TEST_F(RecordWindowsTest, DatabaseSelectionShowsTheCurrentNamesWhenRaised) {
  selectInstruments(2);
  main.openDatabaseSelection();
  ASSERT_EQ(windows<DB_SET>().size(), 1);
  DB_SET* w = windows<DB_SET>().front();
  EXPECT_EQ(w->listedCount(), 2);
  program->tables.DatabaseName[1] = "Record4";
  main.openDatabaseSelection();
  EXPECT_EQ(windows<DB_SET>(), QList<DB_SET*>{w});
  EXPECT_EQ(w->Combo1[1]->currentText(), "Record4");

  QTest::mouseClick(w->OK, Qt::LeftButton);
  flushDeletes();
  EXPECT_TRUE(windows<DB_SET>().isEmpty());
  EXPECT_EQ(program->tables.DatabaseName[1], "Record4");
}

}  // namespace
}  // namespace kalivor
