// SPDX-License-Identifier: MIT
#include "common/ui/threaded_io_gate.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QTabBar>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "common/ui/qt_seams.h"

namespace kalivor {

ThreadedIoGate::ThreadedIoGate() {
  thread_ = std::thread([this] { worker(); });
  noteTimer_ = new QTimer(this);
  noteTimer_->setSingleShot(true);
  noteTimer_->setInterval(kProgressDelayMs);
  connect(noteTimer_, &QTimer::timeout, this, &ThreadedIoGate::showNote);
}

ThreadedIoGate::~ThreadedIoGate() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
  delete note_;
}

void ThreadedIoGate::worker() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return quit_ || (job_ && !jobDone_); });
    if (quit_) return;
    const std::function<void()>* job = job_;
    lock.unlock();
    (*job)();
    lock.lock();
    jobDone_ = true;
    // Wake the window thread's wait (a queued call lands in whichever event loop runs).
    QMetaObject::invokeMethod(this, [] {}, Qt::QueuedConnection);
    wake_.notify_all();
  }
}

void ThreadedIoGate::execute(const std::function<void()>& call) {
  // A call made while another waits (an event handler that slipped through), or off the window
  // thread, runs in place rather than queueing behind the first.
  if (waiting_ > 0 || QThread::currentThread() != thread()) {
    call();
    return;
  }
  ++waiting_;
  if (waiting_ == 1) {
    qApp->installEventFilter(this);
    if (!noteTimer_->isActive() && !(note_ && note_->isVisible())) noteTimer_->start();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &call;
    jobDone_ = false;
  }
  wake_.notify_all();
  QEventLoop loop;
  while (true) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (jobDone_) break;
    }
    // Returns after at least one event was handled (the worker posts one when it is done).
    loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (QCoreApplication::closingDown()) {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return jobDone_; });
      break;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = nullptr;
  }
  --waiting_;
  if (waiting_ == 0) {
    qApp->removeEventFilter(this);
    // The note stays up between the calls of one operation; it goes when the operation ends.
    QTimer::singleShot(0, this, [this] {
      if (busy() || waiting_ > 0) return;
      noteTimer_->stop();
      if (note_) note_->hide();
    });
  }
}

void ThreadedIoGate::progressChanged(const std::string& text) {
  if (note_) note_->setText(toQt(text));
}

void ThreadedIoGate::showNote() {
  if (waiting_ == 0 && !busy()) return;
  if (!note_) {
    note_ = new QLabel;
    note_->setObjectName("OperationProgress");
    note_->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    note_->setMargin(6);
    note_->setFrameStyle(QFrame::Box | QFrame::Plain);
  }
  note_->setText(toQt(progressText()));
  note_->adjustSize();
  // Bottom-left of the window the user works in; before any window is active (at start-up, or
  // on a desktop that does not activate windows) the program's main window, so that the note
  // never lands in the screen's corner over the menus.
  QWidget* w = QApplication::activeWindow();
  if (!w || !w->isVisible()) {
    w = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top != note_ && top->isVisible() && top->windowType() == Qt::Window) {
        w = top;
        break;
      }
    }
  }
  if (w) note_->move(w->mapToGlobal(QPoint(8, w->height() - note_->height() - 8)));
  note_->show();
  note_->raise();
}

bool inputAllowedWhileBusy(QObject* target) {
  for (QObject* o = target; o; o = o->parent()) {
    if (qobject_cast<QMenuBar*>(o) || qobject_cast<QMenu*>(o) || qobject_cast<QTabBar*>(o) ||
        qobject_cast<QScrollBar*>(o))
      return true;
  }
  return false;
}

bool ThreadedIoGate::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
      // Nothing may start a second operation while one is under way. A window system's event
      // reaches the top-level window first and is passed on to the widget it is meant for, so
      // it is judged there: holding it back at the window would block the menus and tabs too.
      if (watched->isWindowType()) break;
      if (!inputAllowedWhileBusy(watched) && (!holdInput || holdInput())) return true;
      break;
    default: break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace kalivor
