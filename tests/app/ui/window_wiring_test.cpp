// SPDX-License-Identifier: MIT
// The main window with the other windows wired to it, as the program builds it.
#include "app/ui/window_wiring.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "app/ui/main_form.h"
#include "store/ui/db_set.h"
#include "support/ui/main_form_rig.h"

namespace kalivor {
namespace {

struct WiredWindows : testing::MainFormRig {
  WiredWindows() {
    wireRecordWindows(*form, *program);
    wireDataTable(*form, *program);
    wireAbout(*form, *program);
    wireScanWindows(*form, *program);
  }
  template <typename W>
  W* window(const char* name) {
    return form->findChild<W*>(name);
  }
};

TEST_F(WiredWindows, AnOpenDataSaveWindowDropsChoicesANewSelectionReset) {
  connectRows({0, 1});
  QTest::mouseClick(form->dbSet, Qt::LeftButton);
  DB_SET* w = window<DB_SET>("DB_SET");
  ASSERT_NE(w, nullptr);
  w->Combo1[0]->setCurrentIndex(1);
  w->Combo1_Change(0);
  ASSERT_EQ(program->tables.DatabaseName[0], "Record2");

  // The window stays open while the instruments are chosen again (only the first this time).
  connectRows({1});
  ASSERT_EQ(program->tables.DatabaseName[0], "0");
  ASSERT_TRUE(w->isVisible());
  EXPECT_EQ(w->listedCount(), 1);
  EXPECT_EQ(w->Combo1[0]->currentText(), "Please choice a database");
  EXPECT_FALSE(w->Combo1[1]->isVisible());
  // Closing it now keeps the reset, rather than storing the old choice again.
  w->close();
  EXPECT_EQ(program->tables.DatabaseName[0], "0");
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace kalivor
