// SPDX-License-Identifier: MIT
#pragma once
// What the window benchmarks share: one application on the offscreen platform (unless the
// environment names another), made on first use and kept for the process.
#include <stdlib.h>

#include <QApplication>

namespace kalivor::bench {

inline QApplication& offscreenApp() {
  static int argc = 1;
  static char arg0[] = "kalivor-bench";
  static char* argv[] = {arg0, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

}  // namespace kalivor::bench
