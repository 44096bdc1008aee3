// SPDX-License-Identifier: MIT
#include "store/ui/record_view_form.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include "store/record_lock.h"
#include "store/ui/record_page_model.h"
#include "store/ui/record_ui_fixture.h"
#include "support/ui/window_fit.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;
using testing::RecordWindowRig;
namespace st = store::test;

struct RecordViewTest : ::testing::Test, RecordWindowRig {
  std::unique_ptr<Record_View_Form> open() {
    auto w = std::make_unique<Record_View_Form>(*program);
    w->show();
    return w;
  }
  static void select(Record_View_Form& w, const QString& name) {
    const auto items = w.List1->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << name.toStdString();
    w.List1->setCurrentItem(items.front());
  }
  static QStringList listed(const Record_View_Form& w) {
    QStringList out;
    for (int i = 0; i < w.List1->count(); ++i) out << w.List1->item(i)->text();
    return out;
  }
  static QString cell(const Record_View_Form& w, int row, int column) {
    return w.MSFlexGrid1->model()->index(row, column).data().toString();
  }
  static int rows(const Record_View_Form& w) { return w.MSFlexGrid1->model()->rowCount(); }
  static void click(QPushButton* b) {
    ASSERT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
  }
  void openRecord(Record_View_Form& w, const char* name) {
    select(w, name);
    click(w.Command2);
  }
  static std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
};

TEST_F(RecordViewTest, PagesThroughARecordWithTheButtonsThatApply) {
  st::writeRecord(folder, "Record1", st::numbered(1, 2500));
  auto w = open();
  EXPECT_EQ(w->windowTitle(), "Record View");
  EXPECT_FALSE(w->Command5->isEnabled());
  EXPECT_FALSE(w->prev_DB->isEnabled());
  EXPECT_FALSE(w->next_DB->isEnabled());

  openRecord(*w, "Record1.mdb");
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(w->List1->selectedItems().isEmpty());  // the list was read again
  ASSERT_EQ(rows(*w), 1000);
  EXPECT_EQ(cell(*w, 0, 0), "1");
  EXPECT_EQ(cell(*w, 999, 0), "1000");
  EXPECT_EQ(cell(*w, 0, 1), "t0");
  EXPECT_EQ(cell(*w, 0, 21), "0.20");
  EXPECT_TRUE(w->Command5->isEnabled());
  EXPECT_FALSE(w->prev_DB->isEnabled());
  EXPECT_TRUE(w->next_DB->isEnabled());
  testing::screenshot(*w, "record_view_page1");

  click(w->next_DB);
  EXPECT_EQ(cell(*w, 0, 0), "1001");
  EXPECT_EQ(cell(*w, 999, 0), "2000");
  EXPECT_TRUE(w->prev_DB->isEnabled());
  EXPECT_TRUE(w->next_DB->isEnabled());

  click(w->next_DB);
  ASSERT_EQ(rows(*w), 500);
  EXPECT_EQ(cell(*w, 0, 0), "2001");
  EXPECT_EQ(cell(*w, 499, 0), "2500");
  EXPECT_TRUE(w->prev_DB->isEnabled());
  EXPECT_FALSE(w->next_DB->isEnabled());

  click(w->prev_DB);
  ASSERT_EQ(rows(*w), 1000);
  EXPECT_EQ(cell(*w, 0, 0), "1001");
  EXPECT_TRUE(w->prev_DB->isEnabled());
  EXPECT_TRUE(w->next_DB->isEnabled());
}

TEST_F(RecordViewTest, GridHeaderAndFixedColumns) {
  const fs::path file = st::writeRecord(folder, "Record1", st::numbered(1, 1000));
  st::execSql(file, "UPDATE DATA SET Time = '2024/05/01 13:45:10:250'");
  auto w = open();
  openRecord(*w, "Record1.mdb");
  // Exactly one page: everything shown, nothing to page to.
  EXPECT_EQ(rows(*w), 1000);
  EXPECT_FALSE(w->prev_DB->isEnabled());
  EXPECT_FALSE(w->next_DB->isEnabled());

  QAbstractItemModel* m = w->MSFlexGrid1->model();
  ASSERT_EQ(m->columnCount(), 22);
  const auto title = [m](int c, int role) {
    return m->headerData(c, Qt::Horizontal, role).toString();
  };
  EXPECT_EQ(title(0, Qt::DisplayRole), "Scan Cycle");
  EXPECT_EQ(title(1, Qt::DisplayRole), "Time");
  EXPECT_EQ(title(2, Qt::DisplayRole), "CH 1");
  EXPECT_EQ(title(21, Qt::DisplayRole), "CH 20");
  EXPECT_EQ(title(1, RecordPageModel::GroupRole), "Scan");
  EXPECT_EQ(title(2, RecordPageModel::GroupRole), "Channel");
  EXPECT_EQ(w->MSFlexGrid1->columnWidth(1), 185);  // 2775 twips
  // At least 1500 twips, and wide enough for a whole reading.
  EXPECT_GE(w->MSFlexGrid1->columnWidth(5), 100);
  EXPECT_GT(w->MSFlexGrid1->columnWidth(5),
            w->MSFlexGrid1->fontMetrics().horizontalAdvance("+4.175619E+00"));

  // Scan Cycle and Time stay in view and scroll down with the rows.
  auto* fixed = w->MSFlexGrid1->findChild<QTableView*>("MSFlexGrid1_fixed");
  ASSERT_NE(fixed, nullptr);
  EXPECT_FALSE(fixed->isColumnHidden(1));
  EXPECT_TRUE(fixed->isColumnHidden(2));
  EXPECT_EQ(fixed->width(), w->MSFlexGrid1->columnWidth(0) + w->MSFlexGrid1->columnWidth(1));
  QCoreApplication::processEvents();  // lets the views lay out their rows
  w->MSFlexGrid1->verticalScrollBar()->setValue(500);
  EXPECT_EQ(fixed->verticalScrollBar()->value(), 500);
  w->MSFlexGrid1->horizontalScrollBar()->setValue(w->MSFlexGrid1->horizontalScrollBar()->maximum());
  testing::screenshot(*w, "record_view_scrolled");
}

TEST_F(RecordViewTest, OpeningRenumbersTheRecordAndEmptyRecordsSaySo) {
  const fs::path gaps = st::writeRecord(folder, "Record2", {"1", "2", std::nullopt, "5"});
  st::writeRecord(folder, "Record3", {});
  auto w = open();
  click(w->Command2);  // nothing selected
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Please select a Record."});

  messages.clear();
  openRecord(*w, "Record2.mdb");
  ASSERT_EQ(rows(*w), 3);
  EXPECT_EQ(cell(*w, 2, 0), "3");
  EXPECT_EQ(cell(*w, 2, 1), "t3");
  EXPECT_EQ(st::storedColumn(gaps, 0), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_TRUE(messages.shown.empty());

  openRecord(*w, "Record3.mdb");
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"The Record is NULL"});
  EXPECT_EQ(rows(*w), 0);
  EXPECT_FALSE(w->Command5->isEnabled());
  EXPECT_FALSE(w->prev_DB->isEnabled());
  EXPECT_FALSE(w->next_DB->isEnabled());
}

TEST_F(RecordViewTest, ListsLowerCaseMdbAndDeletesOnlyRecords) {
  st::writeRecord(folder, "Record1", st::numbered(1, 3));
  const fs::path busy = st::writeRecord(folder, "Record2", st::numbered(1, 3));
  st::writeRecord(folder, "other", st::numbered(1, 3));
  st::writeFile(folder.db() / "Record9.MDB", "x");
  st::writeFile(folder.db() / "notes.txt", "x");
  auto w = open();
  EXPECT_EQ(listed(*w), (QStringList{"Record1.mdb", "Record2.mdb", "other.mdb"}));

  select(*w, "other.mdb");
  click(w->Command3);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(fs::exists(folder.record("other")));

  messages.answers = {MessageAnswer::No};
  select(*w, "Record1.mdb");
  click(w->Command3);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Will you delete the \"Record1.mdb\"?");
  EXPECT_EQ(messages.shown[0].title, "");
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_TRUE(fs::exists(folder.record("Record1")));

  messages.clear();
  select(*w, "Record1.mdb");
  click(w->Command3);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Will you delete the \"Record1.mdb\"?"});
  EXPECT_FALSE(fs::exists(folder.record("Record1")));
  EXPECT_EQ(listed(*w), (QStringList{"Record2.mdb", "other.mdb"}));

  // A record a run holds is kept.
  store::RecordLock lock;
  ASSERT_TRUE(lock.acquire(busy).ok());
  messages.clear();
  select(*w, "Record2.mdb");
  click(w->Command3);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, store::kRecordInUseMessage);
  EXPECT_TRUE(fs::exists(busy));
}

TEST_F(RecordViewTest, ExportWritesTheShownPageAndTheFollowingOnes) {
  st::writeRecord(folder, "Record1", st::numbered(1, 2500));
  const fs::path csv = folder.root() / "scans.csv";
  auto w = open();
  openRecord(*w, "Record1.mdb");
  dialogs.fileNames = {csv.string()};
  click(w->Command5);
  ASSERT_EQ(dialogs.requests.size(), 1u);
  EXPECT_EQ(dialogs.requests[0].defaultSuffix, "csv");
  EXPECT_EQ(dialogs.requests[0].filter, "*.csv");
  EXPECT_FALSE(dialogs.requests[0].confirmOverwrite);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Data saved !"});  // a new file: no question

  std::string text = st::readFile(csv);
  EXPECT_EQ(count(text, "\"Scan Cycle\",\"Time\",\"CH 1\""), 3u);
  EXPECT_EQ(count(text, "\r\n"), 2503u);
  EXPECT_EQ(text.substr(text.size() - 11), "\"2499.20\"\r\n");
  // The last written page stays on screen.
  EXPECT_EQ(cell(*w, 0, 0), "2001");
  EXPECT_FALSE(w->next_DB->isEnabled());
  EXPECT_TRUE(w->prev_DB->isEnabled());

  // Again into the same file: asked first, then added at its end.
  messages.clear();
  openRecord(*w, "Record1.mdb");
  dialogs.fileNames = {csv.string()};
  click(w->Command5);
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
  EXPECT_NE(messages.shown[0].text.find("already exists"), std::string::npos);
  EXPECT_EQ(messages.shown[1].text, "Data saved !");
  const std::string twice = st::readFile(csv);
  EXPECT_EQ(twice, text + text);

  // No: the file stays as it is.
  messages.clear();
  messages.answers = {MessageAnswer::No};
  dialogs.fileNames = {csv.string()};
  click(w->Command5);
  EXPECT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(st::readFile(csv), twice);
}

TEST_F(RecordViewTest, ExportRefusesDatabasesAndReportsFailures) {
  const fs::path record = st::writeRecord(folder, "Record1", st::numbered(1, 5));
  const std::string before = st::readFile(record);
  auto w = open();
  openRecord(*w, "Record1.mdb");

  click(w->Command5);  // cancelled
  EXPECT_TRUE(messages.shown.empty());

  dialogs.fileNames = {record.string()};
  click(w->Command5);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("is not a CSV file"), std::string::npos);
  EXPECT_EQ(st::readFile(record), before);

  messages.clear();
  dialogs.fileNames = {(folder.root() / "no-such-folder" / "x.csv").string()};
  click(w->Command5);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("Cannot open the CSV file"), std::string::npos)
      << messages.shown[0].text;
}

TEST_F(RecordViewTest, WholeReadingsResizableColumnsAndAGridThatGrowsWithTheWindow) {
  const auto record = st::writeRecord(folder, "Record1", st::numbered(1, 3));
  st::execSql(record, "UPDATE DATA SET CH15 = '-4.175619E+00'");
  auto w = open();
  openRecord(*w, "Record1.mdb");
  const QFontMetrics fm = w->MSFlexGrid1->fontMetrics();
  EXPECT_GT(w->MSFlexGrid1->columnWidth(16), fm.horizontalAdvance("-4.175619E+00"));
  EXPECT_EQ(w->MSFlexGrid1->horizontalHeader()->sectionResizeMode(16), QHeaderView::Interactive);
  w->MSFlexGrid1->horizontalHeader()->resizeSection(16, 400);
  EXPECT_EQ(w->MSFlexGrid1->columnWidth(16), 400);
  EXPECT_EQ(w->MSFlexGrid1->model()->index(0, 16).data(Qt::ToolTipRole).toString(),
            "-4.175619E+00");

  const QSize grid = w->MSFlexGrid1->size();
  const QRect list = w->List1->geometry();
  const QPoint csv = w->Command5->pos();
  const QPoint stats = w->stats_DB->pos();
  w->resize(w->width() + 300, w->height() + 200);
  QApplication::processEvents();
  EXPECT_EQ(w->MSFlexGrid1->size(), grid + QSize(300, 200));
  // The record list grows as tall, its buttons keep under it.
  EXPECT_EQ(w->List1->geometry(), list.adjusted(0, 0, 0, 200));
  EXPECT_EQ(w->Command5->pos(), csv + QPoint(0, 200));
  EXPECT_EQ(w->stats_DB->pos(), stats + QPoint(0, 200));
  EXPECT_GT(w->Command1->y(), w->List1->geometry().bottom());
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
}

TEST_F(RecordViewTest, ItsOwnSizeIsItsSmallestFitsALaptopAndComesBackAfterResizing) {
  st::writeRecord(folder, "Record1", st::numbered(1, 60));
  auto w = open();
  w->setCentralDoor([] {});
  openRecord(*w, "Record1.mdb");
  QApplication::processEvents();
  const QSize natural = w->size();
  EXPECT_EQ(w->minimumSize(), natural);
  EXPECT_TRUE(QRect(QPoint(), testing::laptopRoom()).contains(QRect(QPoint(), natural)));
  const auto places = testing::placesOf(*w);
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  { const auto c = testing::clipped(*w); EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c); }

  // Larger, scrolled to the end: the fixed columns are as high as the grid and show its rows.
  w->resize(natural + QSize(400, 150));
  QApplication::processEvents();
  QTableView* frozen = w->MSFlexGrid1->findChild<QTableView*>("MSFlexGrid1_fixed");
  ASSERT_NE(frozen, nullptr);
  EXPECT_EQ(frozen->height(), w->MSFlexGrid1->viewport()->height() + w->MSFlexGrid1->horizontalHeader()->height());
  w->MSFlexGrid1->verticalScrollBar()->setValue(w->MSFlexGrid1->verticalScrollBar()->maximum());
  QApplication::processEvents();
  EXPECT_EQ(frozen->verticalScrollBar()->value(), w->MSFlexGrid1->verticalScrollBar()->value());
  EXPECT_EQ(frozen->indexAt(QPoint(2, frozen->viewport()->height() - 2)).data().toString(), "60");
  { const auto o = testing::overlaps(*w); EXPECT_TRUE(o.empty()) << ::testing::PrintToString(o); }
  testing::screenshot(*w, "record_view_larger");

  // No smaller than its own size, where everything stands as before.
  w->resize(natural - QSize(300, 100));
  QApplication::processEvents();
  EXPECT_EQ(w->size(), natural);
  EXPECT_EQ(testing::placesOf(*w), places);
  EXPECT_EQ(frozen->verticalScrollBar()->value(), w->MSFlexGrid1->verticalScrollBar()->value());
}

TEST_F(RecordViewTest, TidyExportAndStatisticsOfTheShownRecord) {
  st::writeRecord(folder, "Record1", st::numbered(1, 4));
  auto w = open();
  EXPECT_FALSE(w->tidy_DB->isEnabled());
  EXPECT_FALSE(w->stats_DB->isEnabled());
  openRecord(*w, "Record1.mdb");
  const fs::path out = folder.root() / "tidy.csv";
  dialogs.fileNames = {out.string()};
  click(w->tidy_DB);
  ASSERT_EQ(messages.texts(), std::vector<std::string>{"Data saved !"});
  const std::string text = st::readFile(out);
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "time,serial,channel,function,value,unit,raw");
  EXPECT_EQ(count(text, "\r\n"), 1u + 4 * 20);

  click(w->stats_DB);
  auto* stats = w->findChild<Record_Statistics*>("Record_Statistics");
  ASSERT_NE(stats, nullptr);
  ASSERT_EQ(stats->stat_grid->rowCount(), 20);
  // CH1 reads 0.1, 1.1, 2.1, 3.1.
  EXPECT_EQ(stats->stat_grid->item(0, 1)->text(), "4");
  EXPECT_EQ(stats->stat_grid->item(0, 5)->text(), "1.6");
  // It fits a laptop and its table follows the window.
  EXPECT_TRUE(QRect(QPoint(), testing::laptopRoom()).contains(QRect(QPoint(), stats->size())));
  { const auto c = testing::clipped(*stats); EXPECT_TRUE(c.empty()) << ::testing::PrintToString(c); }
  const QSize table = stats->stat_grid->size();
  stats->resize(stats->size() + QSize(200, 100));
  QApplication::processEvents();
  EXPECT_EQ(stats->stat_grid->size(), table + QSize(200, 100));
  testing::screenshot(*stats, "record_statistics");
  QTest::keyClicks(stats->stat_from, "3");
  QTest::mouseClick(stats->stat_compute, Qt::LeftButton);
  EXPECT_EQ(stats->stat_grid->item(0, 1)->text(), "2");
  EXPECT_EQ(stats->stat_grid->item(0, 3)->text(), "2.1");
  QTest::keyClicks(stats->stat_to, "soon");
  QTest::mouseClick(stats->stat_compute, Qt::LeftButton);
  EXPECT_NE(messages.texts().back().find("neither a scan number nor a time"), std::string::npos);
}

}  // namespace
}  // namespace kalivor
