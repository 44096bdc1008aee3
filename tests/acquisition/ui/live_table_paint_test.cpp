// SPDX-License-Identifier: MIT
// The live scan table paints in bands, keeps pictures of its cells and of its scroll bars: each
// must look exactly like the plain Qt widget it stands for, and show a change at once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <memory>

#include "acquisition/ui/cached_cell_delegate.h"
#include "acquisition/ui/follow_newest.h"
#include "acquisition/ui/scan_table_view.h"
#include "support/ui/qt_app.h"

namespace kalivor {
namespace {

// The application comes before any widget of a fixture.
struct WithApp {
  WithApp() { testing::qtApp(); }
};

// A plain table view and the scan table's view over one model of readings, at one size.
struct TablePair : ::testing::Test, WithApp {
  TablePair() {
    model.setColumnCount(6);
    for (int r = 0; r < 40; ++r) addRow(r);
    fast.setItemDelegate(delegate);
    for (QTableView* v : {&plain, static_cast<QTableView*>(&fast)}) {
      v->setModel(&model);
      v->setWordWrap(false);
      v->resize(420, 230);  // several bands of rows
      v->verticalHeader()->setDefaultSectionSize(21);
    }
  }
  void addRow(int r) {
    QList<QStandardItem*> row;
    for (int c = 0; c < 6; ++c) row << new QStandardItem(QString("%1.%2E+00").arg(r % 10).arg(c * 111111 + r));
    model.appendRow(row);
  }
  static QImage look(QWidget& w) { return w.grab().toImage(); }
  void expectSameLook() {
    const QImage a = look(plain);
    const QImage b = look(fast);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b) << "the scan table's view differs from a plain table view";
  }

  QStandardItemModel model;
  QTableView plain;
  ScanTableView fast;
  CachedCellDelegate* delegate = new CachedCellDelegate(&fast);
};

TEST_F(TablePair, LooksLikeAPlainTableWhereverItIsScrolled) {
  expectSameLook();
  // Following the newest rows: the last rows, the empty space beside the last column.
  plain.scrollToBottom();
  fast.scrollToBottom();
  expectSameLook();
  // A partial row at the top.
  plain.verticalScrollBar()->setValue(7);
  fast.verticalScrollBar()->setValue(7);
  expectSameLook();
  // Fewer rows than the view has room for: the rest is background.
  model.removeRows(3, model.rowCount() - 3);
  expectSameLook();
}

TEST_F(TablePair, AChangedCellShowsItsNewLookNotItsPicture) {
  expectSameLook();
  const int reusedBefore = delegate->reused();
  expectSameLook();
  // Unchanged cells are drawn from their pictures the second time.
  EXPECT_GT(delegate->reused(), reusedBefore);

  // A new reading, and an alarm's colours, in cells that have pictures.
  model.item(0, 1)->setText("+9.999999E+99");
  model.item(1, 2)->setBackground(QColor(255, 200, 200));
  model.item(1, 2)->setForeground(QColor(140, 0, 0));
  model.item(2, 0)->setTextAlignment(Qt::AlignCenter);
  expectSameLook();
  // Selected cells show the selection.
  plain.selectRow(1);
  fast.selectRow(1);
  expectSameLook();
}

TEST_F(TablePair, NewRowsAppearAtTheBottomAsTheyArrive) {
  for (QTableView* v : {&plain, static_cast<QTableView*>(&fast)}) new FollowNewest(v);
  plain.show();
  fast.show();
  for (int r = 40; r < 45; ++r) {
    addRow(r);
    QApplication::processEvents();
    expectSameLook();
  }
  EXPECT_EQ(fast.verticalScrollBar()->value(), fast.verticalScrollBar()->maximum());
}

// A plain scroll bar and the steady one, alike in everything.
struct BarPair : ::testing::Test, WithApp {
  BarPair() {
    for (QScrollBar* b : {&plain, static_cast<QScrollBar*>(&steady)}) {
      b->resize(16, 180);
      b->setRange(0, 10);
      b->setPageStep(5);
    }
  }
  void setBoth(int min, int max, int value) {
    for (QScrollBar* b : {&plain, static_cast<QScrollBar*>(&steady)}) {
      b->setRange(min, max);
      b->setValue(value);
    }
  }
  void expectSameLook() {
    EXPECT_TRUE(plain.grab().toImage() == steady.grab().toImage())
        << "value " << steady.value() << " of " << steady.maximum();
  }
  QScrollBar plain{Qt::Vertical};
  SteadyScrollBar steady{Qt::Vertical};
};

TEST_F(BarPair, LooksLikeAPlainScrollBarAtEveryPlace) {
  for (int v : {0, 3, 10}) {
    setBoth(0, 10, v);
    expectSameLook();
  }
  // The slider at its smallest, at the end, as a long table has it.
  setBoth(0, 500, 500);
  expectSameLook();
  setBoth(0, 501, 501);
  expectSameLook();
  // Back to the top: the slider moves, the picture follows.
  setBoth(0, 501, 0);
  expectSameLook();
  steady.setEnabled(false);
  plain.setEnabled(false);
  expectSameLook();
}

TEST_F(BarPair, AtTheEndOfALongTableTheBarIsDrawnFromItsPicture) {
  setBoth(0, 500, 500);
  expectSameLook();
  const int drawn = steady.drawn();
  // The table grows by a row and follows it: the bar looks the same and is not drawn again.
  setBoth(0, 501, 501);
  expectSameLook();
  EXPECT_EQ(steady.drawn(), drawn);
  EXPECT_GT(steady.reused(), 0);
  // A visible move is drawn afresh.
  setBoth(0, 501, 250);
  expectSameLook();
  EXPECT_EQ(steady.drawn(), drawn + 1);
}

}  // namespace
}  // namespace kalivor
