// SPDX-License-Identifier: MIT
#include "app/program.h"

#include "charts/trend_chart.h"
#include "charts/trend_chart_for_run.h"
#include "store/record_files.h"

namespace kalivor {

Program::Program(Clock& clock_, std::unique_ptr<visa::VisaApi> visa_, Messages& messages_,
                 Dialogs& dialogs_, EventPump& pump_, std::filesystem::path dataFolder_)
    : clock(clock_),
      visa(std::move(visa_)),
      messages(messages_),
      dialogs(dialogs_),
      pump(pump_),
      dataFolder(std::move(dataFolder_)),
      runEvents([this](std::int64_t) {
        if (runYieldsToPump) pump.processEvents();
      }),
      link(*visa, clock, messages),
      records(dataFolder),
      runLog(RunLog::pathFor(dataFolder)),
      run(link, tables, display, records, runEvents),
      selection(link, tables, display, run),
      status(run, tables, display, store::recordFolder(dataFolder)) {
  run.setRunLog(&runLog);
}

Program::~Program() {
  run.setChart(nullptr);
  forwarder_.reset();
}

void Program::setCentral(const central::CentralChoice& choice) {
  forwarder_.reset();  // stops and joins, promptly even while the server is silent
  centralChoice_ = choice;
  status.setExtraColumn({}, nullptr);
  if (!choice.on()) return;
  // The run status shows each instrument's central state beside its own.
  status.setExtraColumn("Central", [this](int slot) { return centralState(slot); });
  forwarder_ = std::make_unique<central::BackgroundForwarder>(
      central::forwarderConfig(choice, dataFolder), centralClock_);
  forwarder_->start();
}

std::optional<central::ForwarderStatus> Program::centralStatus() const {
  if (!forwarder_) return std::nullopt;
  return forwarder_->status();
}

std::string Program::centralState(int slot) const {
  if (!forwarder_ || slot < 0 || slot >= kMaxInstruments) return {};
  return central::centralStateText(
      forwarder_->status(),
      central::loggedRecordFile(dataFolder, tables.DatabaseName[static_cast<std::size_t>(slot)]));
}

void Program::attachChart(std::unique_ptr<ChartCanvas> canvas) {
  run.setChart(nullptr);
  chartForRun_.reset();
  chart_.reset();
  chartCanvas_ = std::move(canvas);
  if (!chartCanvas_) return;
  TrendChartLink chartLink;
  chartLink.instrumentCount = [this] { return static_cast<int>(link.InstrumentCount); };
  chartLink.lastVisaStatus = [this] { return link.LastVisaStatus; };
  chartLink.requestStop = [this] { link.StopRequested = true; };
  chartLink.events = &pump;
  chart_ = std::make_unique<TrendChart>(tables, std::move(chartLink), *chartCanvas_);
  chartForRun_ = std::make_unique<TrendChartForRun>(*chart_);
  run.setChart(chartForRun_.get());
  selection.hooks.resetChart = [this] {
    if (chart_) chart_->noInstrumentReset();
  };
  chart_->startUpDefaults();
}

void Program::startUp() {
  display.contral_disable();
  selection.resetSlotSetups();
  for (int d = 0; d < kMaxInstruments; ++d) {
    for (int c = 0; c < kMaxChannels; ++c)
      tables.channel[static_cast<std::size_t>(d)][static_cast<std::size_t>(c)].Color =
          kDefaultChannelColors[static_cast<std::size_t>(c)];
  }
  selection.Find_Button_Click();
  selection.applyToMainWindow();
  // Chart defaults: nothing to scroll and no slider before a run.
  if (chart_) chart_->startUpDefaults();
  display.enabled["Slider1"] = false;
  display.enabled["Command1"] = false;
  display.enabled["Command2"] = false;
  display.scanControlRows.clear();
  ++display.revision;
}

void Program::shutdown() {
  run.stopForShutdown();
  run.StopReading_Click();
  link.closeAtShutdown();
  // The run's last scans get a short last pass on the forwarder's own thread, so the window
  // closes at once; the program waits for it (at most the budget) only when it is destroyed.
  // Only while the server is reached: else the pass would just wait out its time-out. What is
  // left goes on the next start.
  if (forwarder_ && forwarder_->status().connected) forwarder_->finishInBackground(5'000);
}

}  // namespace kalivor
