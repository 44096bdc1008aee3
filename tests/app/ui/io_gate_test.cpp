// SPDX-License-Identifier: MIT
// The window while an instrument call hangs: discovery runs its VISA calls on the gate's thread,
// the window keeps handling events, nothing starts a second operation, a note names the
// instrument, and the close box ends the program once the hanging call has returned.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenuBar>
#include <QWindow>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/program.h"
#include "app/ui/connect_form.h"
#include "app/ui/main_form.h"
#include "common/dialogs.h"
#include "common/ui/threaded_io_gate.h"
#include "support/scripted_visa.h"
#include "support/ui/qt_app.h"

namespace kalivor {
namespace {

// Holds a read until the test lets it go.
struct Latch {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  bool reached = false;
  void wait() {
    std::unique_lock<std::mutex> lock(m);
    reached = true;
    cv.wait(lock, [this] { return open; });
  }
  void release() {
    {
      std::lock_guard<std::mutex> lock(m);
      open = true;
    }
    cv.notify_all();
  }
  bool waiting() {
    std::lock_guard<std::mutex> lock(m);
    return reached && !open;
  }
};

struct IoGateWindowTest : ::testing::Test {
  IoGateWindowTest() : visa(clock) {
    testing::qtApp();
    auto meter = [](const std::string& serial) {
      testing::ScriptedResource r;
      r.name = "USB0::0x0001::0x0002::" + serial + "::INSTR";
      r.answers = {{"*IDN?", "SIMULATED,M100," + serial + ",1.0\n"},
                   {"rout:state?\n", "1\n"},
                   {"cal:sec:serial?\n", serial + "\n"}};
      return r;
    };
    visa.resources.push_back(meter("FAST1"));
    visa.resources.push_back(meter("SLOW2"));
    // Only the identity read of the second meter hangs.
    visa.resources[1].beforeRead = [this] {
      if (!slowSeen.exchange(true)) latch.wait();
    };
  }
  ~IoGateWindowTest() override { latch.release(); }

  // Runs `act` on the window thread once the hanging read has been reached and `ready` holds
  // (checked every few milliseconds, so the test does not depend on how busy the machine is).
  void whenHanging(std::function<bool()> ready, std::function<void()> act) {
    auto* poll = new QTimer(form.get());
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [this, poll, ready, act] {
      if (!latch.waiting() || (ready && !ready())) return;
      poll->stop();
      act();
    });
    poll->start();
  }

  void build() {
    program = std::make_unique<Program>(clock, std::make_unique<Forward>(visa), messages, dialogs,
                                        pump, std::filesystem::temp_directory_path());
    program->link.setGate(&gate);
    form = std::make_unique<MainForm>(*program);
    gate.onIdle = [this] { form->instrumentCallsEnded(); };
    form->show();
  }

  // The program owns its VISA api; the test keeps the scripted one to look at.
  struct Forward final : visa::VisaApi {
    explicit Forward(testing::ScriptedVisa& v) : v(v) {}
    testing::ScriptedVisa& v;
    std::string description() const override { return v.description(); }
    visa::ViStatus viOpenDefaultRM(visa::ViSession* rm) override { return v.viOpenDefaultRM(rm); }
    visa::ViStatus viFindRsrc(visa::ViSession rm, const char* e, visa::ViFindList* l,
                              visa::ViUInt32* c, char* d) override {
      return v.viFindRsrc(rm, e, l, c, d);
    }
    visa::ViStatus viFindNext(visa::ViFindList l, char* d) override { return v.viFindNext(l, d); }
    visa::ViStatus viOpen(visa::ViSession rm, const char* n, visa::ViAccessMode m, visa::ViUInt32 t,
                          visa::ViSession* s) override {
      return v.viOpen(rm, n, m, t, s);
    }
    visa::ViStatus viSetAttribute(visa::ViObject o, visa::ViAttr a, visa::ViAttrState s) override {
      return v.viSetAttribute(o, a, s);
    }
    visa::ViStatus viWrite(visa::ViSession s, const unsigned char* b, visa::ViUInt32 c,
                           visa::ViUInt32* w) override {
      return v.viWrite(s, b, c, w);
    }
    visa::ViStatus viRead(visa::ViSession s, unsigned char* b, visa::ViUInt32 c,
                          visa::ViUInt32* g) override {
      return v.viRead(s, b, c, g);
    }
    visa::ViStatus viClose(visa::ViObject o) override { return v.viClose(o); }
  };

  ManualClock clock;
  testing::ScriptedVisa visa;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump;
  ThreadedIoGate gate;
  std::unique_ptr<Program> program;
  std::unique_ptr<MainForm> form;
  Latch latch;
  std::atomic<bool> slowSeen{false};
};

TEST_F(IoGateWindowTest, WindowKeepsWorkingWhileAnIdentityReadHangs) {
  build();
  bool checked = false;
  bool tabFollowed = false;
  bool startedSecond = false;
  bool startLocked = false;
  bool noteOverWindow = false;
  QString note;
  // Runs inside the start-up discovery, while the second meter's read hangs on the gate's thread.
  whenHanging([&] { return gate.progressNote() && gate.progressNote()->isVisible(); }, [&] {
    EXPECT_TRUE(form->operationUnderWay());
    // Clicks come as the window system sends them: to the window first, which hands them on.
    QWindow* window = form->windowHandle();
    QTabBar* bar = form->SSTab1->tabBar();
    QTest::mouseClick(window, Qt::LeftButton, {}, bar->mapTo(form.get(), bar->tabRect(2).center()));
    tabFollowed = form->SSTab1->currentIndex() == 2;
    // A second operation is held back: the button's click does not get through.
    QPushButton* add = form->Add_Remove_Instruments_Button;
    QTest::mouseClick(window, Qt::LeftButton, {}, add->mapTo(form.get(), add->rect().center()));
    QTest::mouseClick(add, Qt::LeftButton);
    startLocked = !form->StartReading->isEnabled();
    // The note stands over the window it speaks for, not over the screen's corner (the menus).
    if (QLabel* n = gate.progressNote())
      noteOverWindow = QRect(form->mapToGlobal(QPoint(0, form->menuBar()->height())), form->size())
                           .contains(n->geometry());
    form->StartReading_Click();
    startedSecond = form->findChild<Connect_Form*>() != nullptr || program->run.running();
    if (QLabel* n = gate.progressNote(); n && n->isVisible()) note = n->text();
    checked = true;
    latch.release();
  });
  form->load();
  EXPECT_TRUE(checked);
  EXPECT_TRUE(tabFollowed);
  EXPECT_FALSE(startedSecond);
  EXPECT_TRUE(startLocked) << "controls are locked before discovery, not after it";
  EXPECT_TRUE(noteOverWindow);
  EXPECT_TRUE(note.contains("USB0::0x0001::0x0002::SLOW2::INSTR")) << note.toStdString();
  // Discovery went on to its end once the read returned.
  EXPECT_EQ(program->link.identified[1].Description, "SLOW2 -- 10ch");
  EXPECT_FALSE(form->operationUnderWay());
}

TEST_F(IoGateWindowTest, CloseBoxDuringAHangingReadLeavesAtOnceAndEndsAfterIt) {
  build();
  bool hiddenAtOnce = false;
  whenHanging(nullptr, [&] {
    form->close();
    hiddenAtOnce = !form->isVisible() && form->closing();
    latch.release();
  });
  form->load();
  EXPECT_TRUE(hiddenAtOnce);
  // The calls after the hanging one were not made: nothing was asked of the second meter after
  // its identity.
  EXPECT_TRUE(visa.writesTo("USB0::0x0001::0x0002::SLOW2::INSTR") == std::vector<std::string>{"*IDN?"});
  // The queued close runs: sessions, find list and resource manager closed, no box shown.
  QCoreApplication::processEvents();
  EXPECT_EQ(visa.openSessions(), 0u);
  EXPECT_TRUE(messages.shown.empty());
}

}  // namespace
}  // namespace kalivor
