// SPDX-License-Identifier: MIT
#pragma once
// About_Form ("About KALIVOR"): the program's name, version, information line and logo; a click
// on the address line opens the README (or the manual page) with the desktop's viewer.
#include <QIcon>
#include <QUrl>
#include <QWidget>
#include <functional>

#include "app/about_page.h"

class QLabel;
class QPushButton;

namespace kalivor {

class Messages;
class Program;

// The application icon (the logo), for the windows and the window system.
QIcon programIcon();

class About_Form final : public QWidget {
  Q_OBJECT
 public:
  explicit About_Form(Messages& messages, QWidget* parent = nullptr);
  // The same with the address line's page chosen by the caller (tests).
  About_Form(Messages& messages, AboutPage page, QWidget* parent = nullptr);

  void Label4_Click();
  void Command1_Click() { close(); }

  // Opens an address with the desktop's viewer; returns false when none could be started.
  // Tests put a stand-in here.
  std::function<bool(const QUrl&)> openUrl;

  QLabel *Picture1, *Label1, *Label2, *Label3, *Label4;
  QPushButton* Command1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QUrl pageUrl() const;

  Messages& messages_;
  AboutPage page_;
};

}  // namespace kalivor
