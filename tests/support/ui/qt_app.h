// SPDX-License-Identifier: MIT
#pragma once
// One QApplication for a window test binary (offscreen platform), made on first use.
#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QWidget>
#include <cstdlib>
#include <string>

namespace kalivor::testing {

inline QApplication& qtApp() {
  static int argc = 1;
  static char arg0[] = "kalivor-test";
  static char* argv[] = {arg0, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The user's own settings (the central database chosen, say) are neither read nor changed.
  QStandardPaths::setTestModeEnabled(true);
  // Never destroyed: Qt's own statics (test input devices) must not outlive it at exit.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Saves a picture of the widget when KALIVOR_SCREENSHOT_DIR names a folder (for the README and
// for looking at a window without a display).
inline void screenshot(QWidget& w, const std::string& name) {
  const char* dir = std::getenv("KALIVOR_SCREENSHOT_DIR");
  if (!dir || !*dir) return;
  QDir().mkpath(dir);
  w.grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

}  // namespace kalivor::testing
