// SPDX-License-Identifier: MIT
#include "app/ui/about_form.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <vector>

#include "app/product_info.h"
#include "app/program.h"
#include "app/ui/main_form.h"
#include "app/ui/window_wiring.h"
#include "common/messages.h"
#include "sim/sim_provider.h"
#include "support/ui/qt_app.h"
#include "visa/resource_manager.h"

namespace kalivor {
namespace {

struct AboutFormTest : ::testing::Test {
  AboutFormTest() {
    testing::qtApp();
    form = new About_Form(messages);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->openUrl = [this](const QUrl& url) {
      opened.push_back(url);
      return browserStarts;
    };
    form->show();
  }
  ~AboutFormTest() override { delete form.data(); }

  QLabel* label(const char* name) { return form->findChild<QLabel*>(name); }

  RecordingMessages messages;
  QPointer<About_Form> form;
  std::vector<QUrl> opened;
  bool browserStarts = true;
};

TEST_F(AboutFormTest, ShowsTheProductTextsAndTheLogo) {
  EXPECT_EQ(form->windowTitle(), "About KALIVOR");
  EXPECT_EQ(form->objectName(), "About_Form");
  ASSERT_TRUE(label("Label1") && label("Label2") && label("Label3") && label("Label4"));
  EXPECT_EQ(label("Label1")->text(), "KALIVOR");
  EXPECT_EQ(label("Label2")->text(), "version 2.40");
  EXPECT_EQ(label("Label3")->text(), product::kInfoLine1);
  // A copy run from its build folder shows the source README, no made-up web address.
  const QString readme =
      QString::fromStdString(std::filesystem::canonical(KALIVOR_SOURCE_README).string());
  EXPECT_EQ(label("Label4")->text(), readme);
  for (QLabel* l : form->findChildren<QLabel*>()) {
    EXPECT_FALSE(l->text().contains("example")) << l->text().toStdString();
  }
  EXPECT_EQ(label("Label4")->cursor().shape(), Qt::PointingHandCursor);
  ASSERT_TRUE(label("Picture1"));
  const QPixmap logo = label("Picture1")->pixmap();
  EXPECT_EQ(logo.size(), QSize(128, 128));  // the logo resource was found
  EXPECT_FALSE(programIcon().isNull());
  auto* exit = form->findChild<QPushButton*>("Command1");
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->text(), "EXIT");
  testing::screenshot(*form, "about_form");
}

TEST_F(AboutFormTest, ClickingTheAddressLineOpensTheReadme) {
  QTest::mouseClick(label("Label3"), Qt::LeftButton);
  EXPECT_TRUE(opened.empty());
  QTest::mouseClick(label("Label4"), Qt::RightButton);
  EXPECT_TRUE(opened.empty());
  QTest::mouseClick(label("Label4"), Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_TRUE(opened[0].isLocalFile()) << opened[0].toString().toStdString();
  EXPECT_EQ(std::filesystem::path(opened[0].toLocalFile().toStdString()),
            std::filesystem::canonical(KALIVOR_SOURCE_README));
  EXPECT_TRUE(messages.shown.empty());

  // No viewer: said so, instead of nothing happening.
  browserStarts = false;
  QTest::mouseClick(label("Label4"), Qt::LeftButton);
  EXPECT_EQ(opened.size(), 2u);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_NE(messages.shown[0].text.find("README.md"), std::string::npos) << messages.shown[0].text;
  EXPECT_EQ(messages.shown[0].title, "KALIVOR");
}

TEST(AboutFormPage, WithoutAReadmeTheManualPageIsOpened) {
  testing::qtApp();
  RecordingMessages messages;
  AboutPage page;
  page.shown = "man kalivor";
  About_Form form(messages, page);
  std::vector<QUrl> opened;
  form.openUrl = [&](const QUrl& url) {
    opened.push_back(url);
    return true;
  };
  EXPECT_EQ(form.Label4->text(), "man kalivor");
  form.show();
  QTest::mouseClick(form.Label4, Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl("man:kalivor(1)"));
}

TEST_F(AboutFormTest, ExitClosesAndUnloadsTheWindow) {
  QTest::mouseClick(form->Command1, Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(form.isNull());
}

TEST(AboutMenu, ShowsOneAboutWindowWithTheMainWindowsIcon) {
  testing::qtApp();
  ManualClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
  providers.push_back(std::make_unique<sim::SimProvider>(clock, sim::defaultInstruments()));
  Program program(clock, std::make_unique<visa::ResourceManager>(std::move(providers)), messages,
                  dialogs, pump, std::filesystem::temp_directory_path());
  MainForm main(program);
  main.setWindowIcon(programIcon());
  wireAbout(main, program);
  ASSERT_TRUE(main.openAbout);

  main.About_Menu->trigger();  // not modal: the trigger returns with the window shown
  auto shown = main.findChildren<About_Form*>();
  ASSERT_EQ(shown.size(), 1);
  QPointer<About_Form> about = shown.front();
  EXPECT_TRUE(about->isVisible());
  EXPECT_FALSE(about->isModal());
  EXPECT_EQ(about->windowIcon().cacheKey(), main.windowIcon().cacheKey());

  main.About_Menu->trigger();  // raised, not made twice
  EXPECT_EQ(main.findChildren<About_Form*>().size(), 1);
  QTest::mouseClick(about->Command1, Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(about.isNull());
  main.About_Menu->trigger();  // made afresh after EXIT
  EXPECT_EQ(main.findChildren<About_Form*>().size(), 1);
}

}  // namespace
}  // namespace kalivor
