// SPDX-License-Identifier: MIT
#pragma once
// The core's seams as the windowed program provides them: message boxes, dialogs, the event pump.
#include <QWidget>
#include <functional>

#include "common/dialogs.h"
#include "common/event_pump.h"
#include "common/messages.h"

namespace kalivor {

QString toQt(const std::string& s);
std::string fromQt(const QString& s);
QColor toQColor(Rgb c);
Rgb fromQColor(const QColor& c);
// Twips to pixels (15 twips a pixel at 96 dpi).
int px(double twips);

// The window a box or dialog belongs to: the one the user works in (the active one, or the modal
// dialog in front), so the box comes up over it and gives the focus back to it; `fallback` (the
// main window) when the program has no active window.
QWidget* ownerWindow(QWidget* fallback);

class QtMessages final : public Messages {
 public:
  MessageAnswer show(const Message& message) override;
  // The owner when no window of the program is active.
  void setParent(QWidget* parent) { parent_ = parent; }

 private:
  QWidget* parent_ = nullptr;
};

class QtDialogs final : public Dialogs {
 public:
  std::optional<std::string> saveFileName(const FileDialogRequest& request) override;
  std::optional<std::string> openFileName(const FileDialogRequest& request) override;
  std::optional<Rgb> chooseColor(Rgb initial) override;
  void setParent(QWidget* parent) { parent_ = parent; }

 private:
  QWidget* parent_ = nullptr;
};

// Lets pending window events run; `beforeEvents` lets the main window bring its controls up to
// date with the core first.
class QtEventPump final : public EventPump {
 public:
  void processEvents() override;
  std::function<void()> beforeEvents;
};

}  // namespace kalivor
