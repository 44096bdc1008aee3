// SPDX-License-Identifier: MIT
// The windowed program during a run, in real time on a simulated meter (threaded executor,
// offscreen platform):
//
// Latency/*: how long a click posted on the tab bar waits before the window handles it, while
//   the run stores scans back to back (DuringRun) and while the meter keeps silent through its
//   30 s read time-out (DuringSilentRead). Counters p50_ms, p99_ms, max_ms (target: p99 at most
//   50 ms) and clicks (samples).
//
// CpuPerScan/*: process CPU time per stored scan of the same run, with the main window showing it
//   (Window) and without any window, as kalivor-cli's run loop drives it (Loop): us_per_scan.
//   Compare the two side by side (target: Window at most 3 x Loop).
#include <benchmark/benchmark.h>

// Built without the windows (KALIVOR_BUILD_UI off) this bench has nothing to measure.
#if __has_include(<QApplication>)
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/ui/main_form.h"
#include "common/clock.h"
#include "common/dialogs.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "sim/sim_config.h"
#include "sim/sim_provider.h"
#include "visa/resource_manager.h"
#include "bench_support.h"
#include "ui_bench_support.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

QApplication& app() { return bench::offscreenApp(); }

// One simulated 20-channel meter, every channel in use, quick readings so scans come often.
sim::SimInstrumentConfig meter(const std::string& fault) {
  sim::SimInstrumentConfig m = sim::defaultInstruments().front();
  m.readingMs = 1;
  if (!fault.empty()) m.fault = fault;
  return m;
}

// The program as kalivor builds it, on the system clock, one meter selected, scanning back to
// back into a record until Stop.
struct Bench {
  explicit Bench(const std::string& fault, bool window) {
    app();
    folder = fs::temp_directory_path() / ("kalivor-window-bench-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::vector<std::unique_ptr<visa::DeviceProvider>> providers;
    providers.push_back(std::make_unique<sim::SimProvider>(clock, std::vector{meter(fault)}));
    program = std::make_unique<Program>(clock, std::make_unique<visa::ResourceManager>(std::move(providers)),
                                        messages, dialogs, pump, folder);
    if (window) {
      form = std::make_unique<MainForm>(*program);
      form->show();
      form->load();
    } else {
      program->startUp();
    }
    program->selection.Check1[0] = true;
    program->selection.ok_Button_Click();
    program->selection.applyToMainWindow();
    if (form) form->syncFromCore();
    ScanSetup& s = program->tables.setup[0];
    s.scanCount_Status = 2;
    s.ScanTime = "0";
    program->tables.DatabaseName[0] = "Record1";
  }
  ~Bench() {
    if (program->run.running()) program->run.stopForShutdown();
    form.reset();
    program.reset();
    fs::remove_all(folder);
  }
  // Runs the window's event loop for this long.
  static void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  }

  SystemClock clock;
  RecordingMessages messages;
  ScriptedDialogs dialogs;
  CallbackEventPump pump{[](std::int64_t) {}};
  fs::path folder;
  std::unique_ptr<Program> program;
  std::unique_ptr<MainForm> form;
};

// Posts a click on the second tab every 20 ms and notes how long each waited to be handled.
class ClickProbe final : public QObject {
 public:
  explicit ClickProbe(QTabBar* bar) : bar_(bar) {
    bar_->installEventFilter(this);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { post(); });
    timer_.start(20);
  }
  std::vector<double> waitsMs;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == bar_ && event->type() == QEvent::MouseButtonRelease && posted_.isValid()) {
      waitsMs.push_back(static_cast<double>(posted_.nsecsElapsed()) * 1e-6);
      posted_.invalidate();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void post() {
    if (posted_.isValid()) return;  // the last one is still waiting
    const QPoint at = bar_->tabRect(bar_->count() > 1 ? 1 : 0).center();
    posted_.start();
    QCoreApplication::postEvent(bar_, new QMouseEvent(QEvent::MouseButtonPress, at, bar_->mapToGlobal(at),
                                                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(bar_, new QMouseEvent(QEvent::MouseButtonRelease, at, bar_->mapToGlobal(at),
                                                     Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
  }
  QTabBar* bar_;
  QTimer timer_;
  QElapsedTimer posted_;
};

void reportWaits(benchmark::State& state, std::vector<double> w) {
  if (w.empty()) {
    state.SkipWithError("no click was handled");
    return;
  }
  std::sort(w.begin(), w.end());
  auto at = [&](double q) { return w[std::min(w.size() - 1, static_cast<std::size_t>(q * static_cast<double>(w.size())))]; };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = w.back();
  state.counters["clicks"] = static_cast<double>(w.size());
}

void measureLatency(benchmark::State& state, const std::string& fault, int ms) {
  for (auto _ : state) {
    Bench b(fault, true);
    b.form->StartReading_Click();
    ClickProbe probe(b.form->SSTab1->tabBar());
    Bench::spin(ms);
    state.counters["scans"] = b.program->tables.ScansDone[0];
    state.counters["run_ended"] = b.program->run.running() ? 0 : 1;
    reportWaits(state, probe.waitsMs);
  }
}

void Latency_DuringRun(benchmark::State& state) { measureLatency(state, "", 5000); }
// Silent after the start-up and a few scans, for longer than the 30 s time-out: the window is
// watched through the whole silent read (and the end of the run it brings).
void Latency_DuringSilentRead(benchmark::State& state) {
  measureLatency(state, "silent-after:80:for:40", 36000);
}

void measureCpu(benchmark::State& state, bool window) {
  for (auto _ : state) {
    Bench b("", window);
    const double cpu0 = bench::processCpuSeconds();
    if (window) {
      b.form->StartReading_Click();
      Bench::spin(6000);
    } else {
      b.program->run.StartReading_Click();
      const LocalMs until = b.clock.now() + 6000;
      b.program->run.driveUntil([&] { return b.clock.now() >= until; });
    }
    const double cpu = bench::processCpuSeconds() - cpu0;
    const double scans = b.program->tables.ScansDone[0];
    state.counters["scans"] = scans;
    state.counters["us_per_scan"] = scans > 0 ? cpu * 1e6 / scans : 0;
  }
}

void CpuPerScan_Window(benchmark::State& state) { measureCpu(state, true); }
void CpuPerScan_Loop(benchmark::State& state) { measureCpu(state, false); }

BENCHMARK(Latency_DuringRun)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Latency_DuringSilentRead)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CpuPerScan_Loop)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CpuPerScan_Window)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kalivor
#endif
