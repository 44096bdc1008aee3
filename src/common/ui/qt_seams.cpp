// SPDX-License-Identifier: MIT
#include "common/ui/qt_seams.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace kalivor {

QString toQt(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string fromQt(const QString& s) { return s.toUtf8().toStdString(); }
QColor toQColor(Rgb c) { return QColor(redOf(c), greenOf(c), blueOf(c)); }
Rgb fromQColor(const QColor& c) { return rgb(c.red(), c.green(), c.blue()); }
int px(double twips) { return static_cast<int>(twips / 15.0 + 0.5); }

QWidget* ownerWindow(QWidget* fallback) {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return fallback;
}

namespace {
// Gives the focus back to the owner when its box or dialog has gone, so the window the user
// worked in stays in front rather than whichever window the desktop picks.
class ReturnFocus {
 public:
  explicit ReturnFocus(QWidget* owner) : owner_(owner) {}
  ~ReturnFocus() {
    if (!owner_ || !owner_->isVisible()) return;
    owner_->raise();
    owner_->activateWindow();
  }
  ReturnFocus(const ReturnFocus&) = delete;
  ReturnFocus& operator=(const ReturnFocus&) = delete;
  QWidget* owner() const { return owner_; }

 private:
  QPointer<QWidget> owner_;
};
}  // namespace

MessageAnswer QtMessages::show(const Message& m) {
  if (silenced) return m.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  const ReturnFocus back(ownerWindow(parent_));
  QMessageBox box(back.owner());
  box.setWindowTitle(toQt(m.title));
  box.setText(toQt(m.text));
  switch (m.icon) {
    case MessageIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::None: break;
  }
  if (m.buttons == MessageButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return MessageAnswer::Ok;
}

namespace {
// "ini|*.ini" or "*.csv" to a Qt filter.
QString qtFilter(const std::string& filter) {
  const auto bar = filter.find('|');
  if (bar == std::string::npos) return toQt(filter + " (" + filter + ")");
  return toQt(filter.substr(0, bar) + " (" + filter.substr(bar + 1) + ")");
}
}  // namespace

std::optional<std::string> QtDialogs::saveFileName(const FileDialogRequest& r) {
  const ReturnFocus back(ownerWindow(parent_));
  QFileDialog dialog(back.owner(), QString(), toQt(r.presetName), qtFilter(r.filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  if (!r.defaultSuffix.empty()) dialog.setDefaultSuffix(toQt(r.defaultSuffix));
  if (!r.confirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return fromQt(dialog.selectedFiles().front());
}

std::optional<std::string> QtDialogs::openFileName(const FileDialogRequest& r) {
  const ReturnFocus back(ownerWindow(parent_));
  const QString f = QFileDialog::getOpenFileName(back.owner(), QString(), toQt(r.presetName), qtFilter(r.filter));
  if (f.isEmpty()) return std::nullopt;
  return fromQt(f);
}

std::optional<Rgb> QtDialogs::chooseColor(Rgb initial) {
  const ReturnFocus back(ownerWindow(parent_));
  const QColor c = QColorDialog::getColor(toQColor(initial), back.owner());
  if (!c.isValid()) return std::nullopt;
  return fromQColor(c);
}

void QtEventPump::processEvents() {
  if (beforeEvents) beforeEvents();
  QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

}  // namespace kalivor
