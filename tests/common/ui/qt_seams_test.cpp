// SPDX-License-Identifier: MIT
#include "common/ui/qt_seams.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include "support/ui/qt_app.h"

namespace kalivor {
namespace {

// Two windows of the program: the main window and another one the user works in.
struct WithApp {
  WithApp() { testing::qtApp(); }
};

struct OwnedBoxes : ::testing::Test, WithApp {
  OwnedBoxes() {
    main.setWindowTitle("main");
    other.setWindowTitle("other");
    main.show();
    other.show();
  }

  // Runs `open` and, once its box or dialog is up, notes who owns it and closes it the way
  // the user would (Esc for dialogs, OK for boxes).
  template <typename Open>
  void openAndClose(Open open) {
    owner = nullptr;
    sawModal = false;
    QTimer::singleShot(0, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      sawModal = true;
      owner = modal->parentWidget();
      static_cast<QDialog*>(modal)->reject();
    });
    open();
    QCoreApplication::processEvents();  // the window system's activation
  }

  QWidget main;
  QWidget other;
  QWidget* owner = nullptr;
  bool sawModal = false;
};

TEST_F(OwnedBoxes, BoxesAndDialogsBelongToTheWindowTheUserWorksIn) {
  QtMessages messages;
  messages.setParent(&main);
  QtDialogs dialogs;
  dialogs.setParent(&main);
  QApplication::setActiveWindow(&other);

  openAndClose([&] { messages.inform("Please select other Record."); });
  ASSERT_TRUE(sawModal);
  EXPECT_EQ(owner, &other);
  // Focus goes back to the window that raised the box, which stays in front of the main one.
  EXPECT_EQ(QApplication::activeWindow(), &other);

  openAndClose([&] { EXPECT_EQ(dialogs.saveFileName({"Record1.csv", "*.csv", "csv", true}), std::nullopt); });
  ASSERT_TRUE(sawModal);
  EXPECT_EQ(owner, &other);
  openAndClose([&] { EXPECT_EQ(dialogs.openFileName({"", "ini|*.ini", "", false}), std::nullopt); });
  ASSERT_TRUE(sawModal);
  EXPECT_EQ(owner, &other);
  EXPECT_EQ(QApplication::activeWindow(), &other);
}

TEST_F(OwnedBoxes, ABoxOverAModalDialogBelongsToThatDialog) {
  QtMessages messages;
  messages.setParent(&main);
  QDialog dialog(&other);
  QWidget* boxOwner = nullptr;
  QTimer::singleShot(0, [&] {
    QApplication::setActiveWindow(&dialog);
    openAndClose([&] { messages.inform("Timeout"); });
    boxOwner = owner;
    dialog.reject();
  });
  dialog.exec();
  EXPECT_EQ(boxOwner, &dialog);
}

TEST_F(OwnedBoxes, WithNoActiveWindowTheMainWindowOwnsTheBox) {
  QtMessages messages;
  messages.setParent(&main);
  QApplication::setActiveWindow(nullptr);
  openAndClose([&] { messages.inform("End of Job."); });
  ASSERT_TRUE(sawModal);
  EXPECT_EQ(owner, &main);
}

}  // namespace
}  // namespace kalivor
