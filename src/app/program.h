// SPDX-License-Identifier: MIT
#pragma once
// Everything the program is made of, owned in one place and wired together: the instrument link
// over the chosen VISA backend, the setups, the live display, the records, the run controller,
// the instrument selection and (once a window gives it a canvas) the trend chart. The windowed
// program and the tests build one; the windows only show it and forward events to it.
#include <filesystem>
#include <memory>
#include <string>

#include "acquisition/live_display.h"
#include "acquisition/run_controller.h"
#include "acquisition/run_log.h"
#include "acquisition/run_status.h"
#include "acquisition/sqlite_run_records.h"
#include "app/selection.h"
#include "central/forwarder.h"
#include "charts/chart_canvas.h"
#include "common/clock.h"
#include "common/dialogs.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "scan/setup_tables.h"
#include "visa/visa_api.h"

namespace kalivor {

class RunChart;
class TrendChart;

class Program {
 public:
  Program(Clock& clock, std::unique_ptr<visa::VisaApi> visa, Messages& messages, Dialogs& dialogs,
          EventPump& pump, std::filesystem::path dataFolder);
  ~Program();

  // Start-up: default colours, run controls locked, every slot reset, the instruments that
  // answer listed (nothing is selected yet, so the main window stays in its no-instrument state).
  void startUp();
  // Closing the main window: stop any run, close every session, the find list and the manager.
  void shutdown();

  // The trend chart, drawn on the surface the main window hands over; it lives as long as the
  // program. The run drives it and the no-instrument reset clears it. Until a surface is given
  // there is no chart and runs draw nothing.
  void attachChart(std::unique_ptr<ChartCanvas> canvas);
  TrendChart* chart() { return chart_.get(); }
  ChartCanvas* chartCanvas() { return chartCanvas_.get(); }

  // The central store: with a URL the data folder's records are forwarded on a thread of their
  // own for as long as the program runs (a backlog first), so no scan waits for the network; an
  // empty URL turns it off. A new choice ends the old forwarding first.
  void setCentral(const central::CentralChoice& choice);
  const central::CentralChoice& centralChoice() const { return centralChoice_; }
  // The forwarder's state; nullopt while the central store is off.
  std::optional<central::ForwarderStatus> centralStatus() const;
  // The central state of the instrument in `slot`, for the run status ("" while it is off).
  std::string centralState(int slot) const;

  Clock& clock;
  std::unique_ptr<visa::VisaApi> visa;
  Messages& messages;
  Dialogs& dialogs;
  EventPump& pump;
  std::filesystem::path dataFolder;
  // Whether the run lets `pump` run at the points where it used to yield. The windows drive the
  // run from their event loop and need no nested one; tests turn it on for their hooks.
  bool runYieldsToPump = false;
  CallbackEventPump runEvents;

  InstrumentLink link;
  ScanTables tables;
  LiveDisplay display;
  SqliteRunRecords records;
  RunLog runLog;
  RunController run;
  InstrumentSelection selection;
  // What the run is doing per instrument, and the data folder's free space.
  RunStatus status;

 private:
  central::CentralChoice centralChoice_;
  SystemClock centralClock_;  // the forwarder's waits are for the network: real time
  std::unique_ptr<central::BackgroundForwarder> forwarder_;
  std::unique_ptr<ChartCanvas> chartCanvas_;
  std::unique_ptr<TrendChart> chart_;
  std::unique_ptr<RunChart> chartForRun_;
};

}  // namespace kalivor
