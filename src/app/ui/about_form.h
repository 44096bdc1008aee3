// SPDX-License-Identifier: MIT
#pragma once
// About_Form ("About KALIVOR"): the program's name, version, information lines and logo; a click
// on the address line opens the web page in the default browser.
#include <QIcon>
#include <QUrl>
#include <QWidget>
#include <functional>

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

  void Label4_Click();
  void Command1_Click() { close(); }

  // Opens an address in the default browser; returns false when none could be started.
  // Tests put a stand-in here.
  std::function<bool(const QUrl&)> openUrl;

  QLabel *Picture1, *Label1, *Label2, *Label3, *Label4;
  QPushButton* Command1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Messages& messages_;
};

}  // namespace kalivor
