// SPDX-License-Identifier: MIT
#include "store/ui/db_set.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "store/ui/record_ui_fixture.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

using testing::RecordWindowRig;

struct DbSetTest : ::testing::Test, RecordWindowRig {
  DbSetTest() { selectInstruments(2); }

  std::unique_ptr<DB_SET> open() {
    auto w = std::make_unique<DB_SET>(*program);
    w->show();
    return w;
  }
  std::string& name(int slot) {
    return program->tables.DatabaseName[static_cast<std::size_t>(slot)];
  }

  // A pick from the list, as the keyboard makes it.
  static void pick(QComboBox* combo, int index) {
    {
      const QSignalBlocker block(combo);
      combo->setCurrentIndex(index == 0 ? 1 : index - 1);
    }
    QTest::keyClick(combo, index == 0 ? Qt::Key_Up : Qt::Key_Down);
    ASSERT_EQ(combo->currentIndex(), index);
  }
  static void type(QComboBox* combo, const char* text) {
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), text);
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  }
};

TEST_F(DbSetTest, ListsTheSelectedInstrumentsWithAListOverEachRow) {
  auto w = open();
  EXPECT_EQ(w->windowTitle(), "Data Save");
  QTableWidget* g = w->MSFlexGrid1;
  ASSERT_EQ(g->rowCount(), 3);
  EXPECT_EQ(g->item(0, 0)->text(), "Device");
  EXPECT_EQ(g->item(0, 1)->text(), "DataBase");
  EXPECT_EQ(g->item(1, 0)->text().toStdString(), program->display.deviceList[0]);
  EXPECT_EQ(g->item(2, 0)->text().toStdString(), program->display.deviceList[1]);
  EXPECT_TRUE(w->Combo1[0]->isVisible());
  EXPECT_TRUE(w->Combo1[1]->isVisible());
  EXPECT_FALSE(w->Combo1[2]->isVisible());
  EXPECT_FALSE(w->Combo1[3]->isVisible());
  EXPECT_EQ(w->findChild<QComboBox*>("Combo1_1"), w->Combo1[1]);

  QComboBox* c = w->Combo1[1];
  ASSERT_EQ(c->count(), 11);
  EXPECT_EQ(c->itemText(0), "Record1");
  EXPECT_EQ(c->itemText(9), "Record10");
  EXPECT_EQ(c->itemText(10), "NONE");
  EXPECT_EQ(c->currentText(), "Please choice a database");
  // The list lies over the DataBase cell of its row.
  const QPoint cell = g->mapTo(w.get(), g->viewport()->pos() + QPoint(g->columnViewportPosition(1),
                                                                      g->rowViewportPosition(2)));
  EXPECT_EQ(c->geometry().topLeft(), cell);
  EXPECT_EQ(c->width(), g->columnWidth(1));
  testing::screenshot(*w, "db_set");
}

TEST_F(DbSetTest, ARecordCannotServeTwoInstruments) {
  auto w = open();
  pick(w->Combo1[0], 2);
  EXPECT_EQ(name(0), "Record3");
  EXPECT_TRUE(messages.shown.empty());

  pick(w->Combo1[1], 2);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Please select other Record."});
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
  EXPECT_EQ(name(1), "0");
  EXPECT_EQ(w->Combo1[1]->currentText(), "Record3");

  // NONE and the prompt mean no record.
  pick(w->Combo1[0], 10);
  EXPECT_EQ(name(0), "0");
  pick(w->Combo1[1], 2);
  EXPECT_EQ(name(1), "Record3");
  type(w->Combo1[1], "Please choice a database");
  EXPECT_EQ(name(1), "0");
}

TEST_F(DbSetTest, TypedNamesAreJudgedWhenTheEditEnds) {
  auto w = open();
  w->Combo1[1]->lineEdit()->clear();
  QTest::keyClicks(w->Combo1[1]->lineEdit(), "Record12");
  EXPECT_TRUE(messages.shown.empty());  // not letter by letter
  QTest::keyClick(w->Combo1[1]->lineEdit(), Qt::Key_Return);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(name(1), "Record12");

  // Free text: refused, and the first item takes its place.
  type(w->Combo1[1], "abc");
  EXPECT_EQ(messages.count("Please select other Record."), 1u);
  EXPECT_EQ(w->Combo1[1]->currentText(), "Record1");
  EXPECT_EQ(name(1), "Record1");

  // ... twice when another instrument already has the first item.
  messages.clear();
  type(w->Combo1[0], "xyz");
  EXPECT_EQ(messages.count("Please select other Record."), 2u);
  EXPECT_EQ(name(0), "0");
  EXPECT_EQ(w->Combo1[0]->currentText(), "Record1");

  // A name that would reach outside the record folder is no record name.
  messages.clear();
  type(w->Combo1[1], "Record/../../x");
  EXPECT_EQ(messages.count("Please select other Record."), 1u);
  EXPECT_EQ(name(1), "Record1");
}

TEST_F(DbSetTest, ClosingKeepsWhatWasTypedAndTheNextOpeningShowsIt) {
  auto w = open();
  w->Combo1[0]->lineEdit()->clear();
  QTest::keyClicks(w->Combo1[0]->lineEdit(), "Record7");
  QTest::mouseClick(w->OK, Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(name(0), "Record7");

  auto again = open();
  EXPECT_EQ(again->Combo1[0]->currentText(), "Record7");
  EXPECT_EQ(again->Combo1[1]->currentText(), "Please choice a database");

  // A new confirmation of the connect window forgets the choices.
  again.reset();
  selectInstruments(1);
  auto third = open();
  EXPECT_EQ(third->MSFlexGrid1->rowCount(), 2);
  EXPECT_EQ(third->Combo1[0]->currentText(), "Please choice a database");
  EXPECT_FALSE(third->Combo1[1]->isVisible());
}

TEST_F(DbSetTest, FourInstrumentsFillEveryList) {
  program->display.deviceList = {"A", "B", "C", "D"};
  name(2) = "Record2";
  auto w = open();
  EXPECT_EQ(w->MSFlexGrid1->rowCount(), 5);
  for (QComboBox* c : w->Combo1) EXPECT_TRUE(c->isVisible());
  EXPECT_EQ(w->Combo1[2]->currentText(), "Record2");
  // The duplicate test covers every listed slot.
  pick(w->Combo1[3], 1);
  EXPECT_EQ(messages.count("Please select other Record."), 1u);
  EXPECT_EQ(name(3), "0");
  { const auto c = testing::clipped(*w); EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c); }
  testing::screenshot(*w, "db_set_four");
}

// A message box takes the focus from the list while it is up, as a real one does.
struct DbSetWithBoxes : DbSetTest {
  DbSetWithBoxes() {
    messages.onShow = [](const Message&) {
      QWidget box;
      box.show();
      QApplication::setActiveWindow(&box);
      box.setFocus();
      QCoreApplication::processEvents();
    };
  }
  std::unique_ptr<DB_SET> openActive() {
    auto w = open();
    QApplication::setActiveWindow(w.get());
    return w;
  }
};

TEST_F(DbSetWithBoxes, ARecordInUseIsRefusedWithOneMessageByKeysOrMouse) {
  auto w = openActive();
  pick(w->Combo1[0], 2);
  ASSERT_TRUE(messages.shown.empty());

  // Keys: the list has the focus when the pick is refused.
  QComboBox* second = w->Combo1[1];
  second->setFocus();
  pick(second, 2);
  EXPECT_EQ(messages.count("Please select other Record."), 1u);
  EXPECT_EQ(name(1), "0");

  // Mouse: picked from the open list.
  messages.clear();
  QApplication::setActiveWindow(w.get());
  second->setFocus();
  second->showPopup();
  auto* view = second->view();
  const QModelIndex third = view->model()->index(2, 0);
  view->scrollTo(third);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(third).center());
  QCoreApplication::processEvents();
  EXPECT_EQ(messages.count("Please select other Record."), 1u);
  EXPECT_EQ(name(1), "0");
  EXPECT_EQ(second->currentText(), "Record3");

  // Leaving the list afterwards judges nothing again.
  messages.clear();
  w->OK->setFocus();
  QCoreApplication::processEvents();
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace kalivor
