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
#include "acquisition/sqlite_run_records.h"
#include "app/selection.h"
#include "common/clock.h"
#include "common/dialogs.h"
#include "common/event_pump.h"
#include "common/messages.h"
#include "instrument/instrument_link.h"
#include "scan/setup_tables.h"
#include "visa/visa_api.h"

namespace kalivor {

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

  Clock& clock;
  std::unique_ptr<visa::VisaApi> visa;
  Messages& messages;
  Dialogs& dialogs;
  EventPump& pump;
  std::filesystem::path dataFolder;

  InstrumentLink link;
  ScanTables tables;
  LiveDisplay display;
  SqliteRunRecords records;
  RunController run;
  InstrumentSelection selection;
};

}  // namespace kalivor
