// SPDX-License-Identifier: MIT
// The main window with the other windows wired to it, as the program builds it.
#include "app/ui/window_wiring.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <QApplication>
#include <QComboBox>
#include <QAction>
#include <QPushButton>
#include <QScreen>
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

TEST_F(WiredWindows, SecondaryWindowsOpenOverTheMainWindow) {
  connectRows({0, 1});
  form->move(60, 40);
  QCoreApplication::processEvents();
  const QRect room = form->screen()->availableGeometry();
  const QRect main = form->frameGeometry();
  struct Door { const char* window; QPushButton* button; };
  const Door doors[] = {{"DB_SET", form->dbSet},
                        {"Record_View_Form", form->RecordView},
                        {"Record_View_Draw", form->RecordDraw},
                        {"DATA_Table", form->DATATable},
                        {"Scan_Set", form->Set_Scan_Button}};
  std::vector<QWidget*> opened;
  for (const Door& d : doors) {
    QTest::mouseClick(d.button, Qt::LeftButton);
    opened.push_back(form->findChild<QWidget*>(d.window));
  }
  form->About_Menu->trigger();
  opened.push_back(form->findChild<QWidget*>("About_Form"));
  for (QWidget* w : opened) {
    ASSERT_NE(w, nullptr);
    SCOPED_TRACE(w->objectName().toStdString());
    EXPECT_TRUE(w->isVisible());
    const QRect r = w->frameGeometry();
    EXPECT_TRUE(room.contains(r.topLeft())) << r.x() << "," << r.y();
    EXPECT_TRUE(r.intersects(main));
    // Centred over the main window, moved only as far as needed to keep it on the screen.
    QRect ideal = r;
    ideal.moveCenter(main.center());
    const int left = std::clamp(ideal.left(), room.left(), std::max(room.left(), room.right() + 1 - r.width()));
    const int top = std::clamp(ideal.top(), room.top(), std::max(room.top(), room.bottom() + 1 - r.height()));
    EXPECT_NEAR(r.left(), left, 1);
    EXPECT_NEAR(r.top(), top, 1);
  }
  // A window the user moved and opens again stays where it is.
  QWidget* dataSave = opened.front();
  dataSave->move(room.topLeft() + QPoint(5, 7));
  QTest::mouseClick(form->dbSet, Qt::LeftButton);
  EXPECT_EQ(dataSave->pos(), room.topLeft() + QPoint(5, 7));
}

}  // namespace
}  // namespace kalivor
