// SPDX-License-Identifier: MIT
#pragma once
// The windows' I/O gate: each blocking instrument call runs on a helper thread while the window
// thread goes on handling events (painting, menus, tab clicks, the close box). Input that could
// start a second operation is held back while a call is under way, and a small progress note
// names the instrument and the step when a call takes longer than a moment.
#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "common/io_gate.h"

class QLabel;
class QTimer;

namespace kalivor {

class ThreadedIoGate final : public QObject, public IoGate {
  Q_OBJECT
 public:
  ThreadedIoGate();
  ~ThreadedIoGate() override;

  // The progress note appears after this long (milliseconds).
  static constexpr int kProgressDelayMs = 300;
  // Whether input that could start an operation is held back while a call is under way (the
  // application lets it through during a run, whose Stop must always work).
  std::function<bool()> holdInput;

  // The note, for tests: shown while a call has taken longer than the delay.
  QLabel* progressNote() const { return note_; }

 protected:
  void execute(const std::function<void()>& call) override;
  void progressChanged(const std::string& text) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void worker();
  void showNote();

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  const std::function<void()>* job_ = nullptr;
  bool jobDone_ = false;
  bool quit_ = false;
  int waiting_ = 0;  // nested waits in progress on the window thread
  QLabel* note_ = nullptr;
  QTimer* noteTimer_ = nullptr;
};

// Whether input to this widget may go through while an instrument call is under way: menus, tab
// bars and scroll bars (looking around starts nothing).
bool inputAllowedWhileBusy(QObject* target);

}  // namespace kalivor
