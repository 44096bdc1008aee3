// SPDX-License-Identifier: MIT
// The windowed program as kalivor starts it: every door of the main window leads to its window.
#include "app/ui/application.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTemporaryDir>

#include "support/ui/qt_app.h"

namespace kalivor {
namespace {

std::unique_ptr<KalivorApplication> simulatedApp(const QTemporaryDir& dir) {
  ProgramOptions options;
  options.visa.simulate = true;
  options.dataDir = dir.path().toStdString();
  // Never the user's own settings: a central database saved there would be used by the test.
  options.settingsFile = (dir.path() + "/kalivor.conf").toStdString();
  std::string error;
  auto app = KalivorApplication::create(options, &error);
  EXPECT_TRUE(app) << error;
  return app;
}

QWidget* topLevelTitled(const QString& title) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowTitle() == title) return w;
  return nullptr;
}

TEST(ApplicationTest, EveryDoorOfTheMainWindowIsWired) {
  testing::qtApp();
  QTemporaryDir dir;
  auto app = simulatedApp(dir);
  ASSERT_TRUE(app);
  MainForm& main = app->mainForm();
  EXPECT_TRUE(main.openScanSettings);
  EXPECT_TRUE(main.unloadScanSettings);
  EXPECT_TRUE(main.openDataTable);
  EXPECT_TRUE(main.unloadDataTable);
  EXPECT_TRUE(main.openDatabaseSelection);
  EXPECT_TRUE(main.openRecordView);
  EXPECT_TRUE(main.openRecordDraw);
  EXPECT_TRUE(main.openAbout);
  EXPECT_TRUE(main.printChart);
  EXPECT_TRUE(main.saveChart);
}

TEST(ApplicationTest, MenusOpenTheirWindows) {
  testing::qtApp();
  QTemporaryDir dir;
  auto app = simulatedApp(dir);
  ASSERT_TRUE(app);
  MainForm& main = app->mainForm();
  main.About_Menu->trigger();
  EXPECT_NE(topLevelTitled("About KALIVOR"), nullptr);
  main.Record_View_Menu->trigger();
  EXPECT_NE(topLevelTitled("Record View"), nullptr);
  main.Record_Draw_Menu->trigger();
  EXPECT_NE(topLevelTitled("Record Draw"), nullptr);
  for (QWidget* w : QApplication::topLevelWidgets()) w->close();
}

}  // namespace
}  // namespace kalivor
