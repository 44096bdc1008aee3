// SPDX-License-Identifier: MIT
// The record browser's and the record chart's "Central…": the central database's runs are
// listed, and the chosen run's record opens read-only, showing what the bench stored.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "app/ui/application.h"
#include "central/central_fixture.h"
#include "central/name_service.h"
#include "central/silent_server.h"
#include "central/ui/central_runs_dialog.h"
#include "charts/ui/record_view_draw.h"
#include "store/ui/record_view_form.h"
#include "support/ui/qt_app.h"

namespace kalivor::central::test {
namespace {

class CentralRunsWindow : public CentralTest {
 protected:
  void SetUp() override {
    kalivor::testing::qtApp();
    CentralTest::SetUp();
  }
  void TearDown() override {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    app_.reset();
    CentralTest::TearDown();
  }

  // The windowed program over an empty data folder of its own, with the test's database chosen
  // (or none).
  KalivorApplication& start(bool central = true) {
    ProgramOptions options;
    options.visa.simulate = true;
    options.dataDir = (data().root() / "viewer").string();
    options.settingsFile = (data().root() / "kalivor.conf").string();
    if (central) options.central = {url(), "viewer"};
    std::string error;
    app_ = KalivorApplication::create(options, &error);
    EXPECT_TRUE(app_) << error;
    return *app_;
  }

  CentralRunsDialog* runsDialog() {
    return app_->mainForm().findChild<CentralRunsDialog*>("CentralRunsDialog");
  }

  // The record browser opened and its "Central…" pressed: the dialog that came.
  CentralRunsDialog* openFromBrowser() {
    app_->mainForm().Record_View_Menu->trigger();
    auto* view = app_->mainForm().findChild<Record_View_Form*>("Record_View_Form");
    if (view == nullptr) return nullptr;
    QTest::mouseClick(view->central_DB, Qt::LeftButton);
    return runsDialog();
  }

  // Waits (the event loop running) until the dialog's talk with the server has ended; an Open
  // that went through closes the dialog, and it goes.
  static bool settled(CentralRunsDialog* dialog) {
    const QPointer<CentralRunsDialog> d(dialog);
    return QTest::qWaitFor([d] { return d.isNull() || !d->busy(); }, 30'000);
  }

  template <typename W>
  W* centralWindow(const char* name) {
    for (W* w : app_->mainForm().findChildren<W*>(name)) {
      if (w->windowTitle().contains("central:")) return w;
    }
    return nullptr;
  }

  std::unique_ptr<KalivorApplication> app_;
};

TEST_F(CentralRunsWindow, TheBrowserAndTheChartOpenACentralRunReadOnly) {
  appendScans("Record4", 1, 1200, 3);  // two pages in the browser
  Forwarder f(config(), clock_);       // from bench-a
  ASSERT_TRUE(f.pass()) << f.status().lastError;

  KalivorApplication& app = start();
  app.mainForm().Record_View_Menu->trigger();
  auto* view = app.mainForm().findChild<Record_View_Form*>("Record_View_Form");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->List1->count(), 0) << "this bench has no records of its own";
  ASSERT_TRUE(view->central_DB->isVisible());
  QTest::mouseClick(view->central_DB, Qt::LeftButton);
  CentralRunsDialog* dialog = runsDialog();
  ASSERT_NE(dialog, nullptr);
  // Listed at once from the program's central database.
  ASSERT_TRUE(settled(dialog));
  ASSERT_EQ(dialog->runs->rowCount(), 1) << dialog->problem->text().toStdString();
  EXPECT_EQ(dialog->runs->item(0, 0)->text(), "bench-a");
  EXPECT_EQ(dialog->runs->item(0, 1)->text(), "Record4.mdb");
  EXPECT_EQ(dialog->runs->item(0, 3)->text(), "1200");
  EXPECT_FALSE(dialog->openButton->isEnabled()) << "nothing chosen yet";
  dialog->runs->selectRow(0);
  QTest::mouseClick(dialog->openButton, Qt::LeftButton);
  ASSERT_TRUE(settled(dialog));

  auto* copy = centralWindow<Record_View_Form>("Record_View_Form");
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->windowTitle().contains("bench-a / Record4.mdb"));
  EXPECT_TRUE(copy->Command3->isHidden()) << "a copy has nothing to delete";
  const store::RecordBrowser& b = copy->browser();
  EXPECT_EQ(b.RecordTotal(), 1200);
  ASSERT_EQ(b.rows().size(), 1000u);
  EXPECT_EQ(b.rows()[0][0], "1");
  EXPECT_EQ(b.rows()[0][2], readingOf(1, 1));
  EXPECT_EQ(b.rows()[999][4], readingOf(1000, 3));
  QTest::mouseClick(copy->next_DB, Qt::LeftButton);
  ASSERT_EQ(copy->browser().rows().size(), 200u);
  EXPECT_EQ(copy->browser().rows()[199][3], readingOf(1200, 2));

  // The record chart charts it too.
  app.mainForm().Record_Draw_Menu->trigger();
  auto* draw = app.mainForm().findChild<Record_View_Draw*>("Record_View_Draw");
  ASSERT_NE(draw, nullptr);
  ASSERT_TRUE(draw->central_DB->isVisible());
  QTest::mouseClick(draw->central_DB, Qt::LeftButton);
  dialog = nullptr;
  for (auto* d : app.mainForm().findChildren<CentralRunsDialog*>("CentralRunsDialog"))
    if (d->isVisible()) dialog = d;
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(settled(dialog));
  ASSERT_EQ(dialog->runs->rowCount(), 1);
  dialog->runs->selectRow(0);
  QTest::mouseClick(dialog->openButton, Qt::LeftButton);
  ASSERT_TRUE(settled(dialog));
  auto* chart = centralWindow<Record_View_Draw>("Record_View_Draw");
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->Combo_record->currentText(), "Record4.mdb");
  EXPECT_EQ(chart->Data_RecordCount->text(), "1200");
}

TEST_F(CentralRunsWindow, AnUnreachableOrEmptyDatabaseSaysSoAndOpensNothing) {
  start(false);
  CentralRunsDialog* dialog = openFromBrowser();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->url->text().isEmpty()) << "no central database chosen";
  QTest::mouseClick(dialog->listButton, Qt::LeftButton);
  EXPECT_TRUE(dialog->problem->text().startsWith("Give the central database's URL"));
  dialog->url->setText(QString::fromStdString(url()));
  QTest::mouseClick(dialog->listButton, Qt::LeftButton);
  ASSERT_TRUE(settled(dialog));
  EXPECT_EQ(dialog->runs->rowCount(), 0);
  EXPECT_EQ(dialog->problem->text(), "The central database holds no KALIVOR runs yet.");
  RefusingPort nobody;
  dialog->url->setText(QString::fromStdString("postgresql://nobody:pw@127.0.0.1:" +
                                              std::to_string(nobody.port()) + "/x"));
  QTest::mouseClick(dialog->listButton, Qt::LeftButton);
  ASSERT_TRUE(settled(dialog));
  EXPECT_EQ(dialog->runs->rowCount(), 0);
  EXPECT_TRUE(dialog->problem->text().contains("cannot connect")) << dialog->problem->text().toStdString();
  EXPECT_FALSE(dialog->problem->text().contains(":pw@")) << "no password shown";
  dialog->accept();  // nothing chosen
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(centralWindow<Record_View_Form>("Record_View_Form"), nullptr);
}

TEST_F(CentralRunsWindow, ASilentServerNeverHoldsUpTheWindows) {
  SilentServer silent;
  ASSERT_NE(silent.port(), 0);
  start(false);
  QPointer<CentralRunsDialog> dialog = openFromBrowser();
  ASSERT_NE(dialog, nullptr);
  dialog->url->setText(QString::fromStdString(silent.url("bench7")));
  // The click comes back at once; a note says what is waited for, and List waits its turn.
  EXPECT_LT(secondsTaken([&] { QTest::mouseClick(dialog->listButton, Qt::LeftButton); }), 2.0);
  ASSERT_TRUE(silent.acceptOne(10));
  EXPECT_TRUE(dialog->busy());
  EXPECT_TRUE(dialog->note->isVisible());
  EXPECT_EQ(dialog->note->text().toStdString(),
            "Connecting to postgresql://bench7@127.0.0.1:" + std::to_string(silent.port()) +
                "/silent …");
  EXPECT_FALSE(dialog->listButton->isEnabled());
  EXPECT_FALSE(dialog->openButton->isEnabled());
  // The window thread goes on meanwhile: a timer due in 50 ms fires.
  bool fired = false;
  QTimer::singleShot(50, [&fired] { fired = true; });
  EXPECT_TRUE(QTest::qWaitFor([&fired] { return fired; }, 2'000));
  EXPECT_TRUE(dialog->busy()) << "the server has still said nothing";
  // Cancel closes the dialog at once, and with it the wait.
  EXPECT_LT(secondsTaken([&] {
              dialog->reject();
              QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }),
            2.0);
  EXPECT_TRUE(dialog.isNull());
  EXPECT_EQ(centralWindow<Record_View_Form>("Record_View_Form"), nullptr);
}

TEST_F(CentralRunsWindow, AHostNameThatIsSlowOrUnknownNeverHoldsUpTheListing) {
  FakeNameService names;
  names.stick("db.lab.test");
  start(false);
  QPointer<CentralRunsDialog> dialog = openFromBrowser();
  ASSERT_NE(dialog, nullptr);

  // A name nobody knows: said plainly, naming the host.
  dialog->url->setText("postgresql://bench7@nosuchhost.invalid/lab");
  QTest::mouseClick(dialog->listButton, Qt::LeftButton);
  ASSERT_TRUE(settled(dialog));
  EXPECT_EQ(dialog->problem->text().toStdString(),
            "cannot connect to postgresql://bench7@nosuchhost.invalid/lab: could not translate "
            "host name \"nosuchhost.invalid\" to address: Name or service not known");
  EXPECT_TRUE(dialog->listButton->isEnabled());

  // A name the name service sits on: the window goes on, and Cancel closes the dialog at once.
  dialog->url->setText("postgresql://bench7@db.lab.test/lab");
  EXPECT_LT(secondsTaken([&] { QTest::mouseClick(dialog->listButton, Qt::LeftButton); }), 2.0);
  ASSERT_TRUE(names.waitAsked("db.lab.test", 10));
  EXPECT_TRUE(dialog->busy());
  EXPECT_EQ(dialog->note->text(), "Connecting to postgresql://bench7@db.lab.test/lab …");
  EXPECT_LT(secondsTaken([&] {
              dialog->reject();
              QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }),
            2.0);
  EXPECT_TRUE(dialog.isNull());
}

TEST_F(CentralRunsWindow, TheChartOfACentralRunOpensOnThatRunsScans) {
  appendScans("Record1", 1, 10, 3);  // the scans of an older release: the legacy run
  describeRuns(recordPath("Record1"));
  appendScans("Record1", 11, 20, 3);  // run 1
  Forwarder f(config(), clock_);
  ASSERT_TRUE(f.pass()) << f.status().lastError;

  KalivorApplication& app = start();
  auto openRun = [&](const QString& run) -> Record_View_Draw* {
    app.mainForm().Record_Draw_Menu->trigger();
    auto* draw = app.mainForm().findChild<Record_View_Draw*>("Record_View_Draw");
    if (draw == nullptr) return nullptr;
    QTest::mouseClick(draw->central_DB, Qt::LeftButton);
    CentralRunsDialog* dialog = nullptr;
    for (auto* d : app.mainForm().findChildren<CentralRunsDialog*>("CentralRunsDialog"))
      if (d->isVisible()) dialog = d;
    if (dialog == nullptr || !settled(dialog)) return nullptr;
    for (int row = 0; row < dialog->runs->rowCount(); ++row) {
      if (dialog->runs->item(row, 2)->text() == run) dialog->runs->selectRow(row);
    }
    QTest::mouseClick(dialog->openButton, Qt::LeftButton);
    if (!settled(dialog)) return nullptr;
    Record_View_Draw* chart = nullptr;
    for (auto* w : app.mainForm().findChildren<Record_View_Draw*>("Record_View_Draw")) {
      if (w->windowTitle().contains("central:") && w->isVisible()) chart = w;
    }
    return chart;
  };

  Record_View_Draw* chart = openRun("1");
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->Data_RecordCount->text(), "20") << "the copy holds the whole record";
  EXPECT_TRUE(chart->draw_limit->isChecked());
  EXPECT_EQ(chart->draw_start->text(), "11") << "the run's first scan, not the record's";
  EXPECT_EQ(chart->draw_stop->text(), "20");
  QTest::mouseClick(chart->Command1, Qt::LeftButton);  // Draw
  EXPECT_EQ(chart->RangeStart(), 11);
  EXPECT_EQ(chart->RangeStop(), 20);
  chart->close();

  chart = openRun("0");
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(chart->draw_start->text(), "1");
  EXPECT_EQ(chart->draw_stop->text(), "10");
}

}  // namespace
}  // namespace kalivor::central::test
