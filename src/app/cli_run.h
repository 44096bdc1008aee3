// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's commands that drive instruments with saved setups: apply, setup --template, run.
#include <iosfwd>
#include <string>
#include <vector>

#include "central/forwarder.h"
#include "common/clock.h"
#include "visa/visa_factory.h"

namespace kalivor {

struct CliUse {
  int instrument = 0;  // position in `kalivor-cli list`, 1-based; 0 when `device` names it
  std::string device;  // serial or VISA resource name; "" when given by position
  std::string setupFile;
  std::string record;  // "" = none
};

// Parses "WHICH:SETUP.ini[:RecordK]", WHICH being a position in the list, a serial or a resource
// name; returns an error text for a bad one.
std::string parseUse(const std::string& text, CliUse& use);

// `clock` drives the instruments, the pauses and the time stamps; it outlives the command.
int commandApply(const visa::VisaOptions& visa, Clock& clock, const std::vector<CliUse>& uses,
                 std::ostream& out, std::ostream& err);
int commandSetupTemplate(const visa::VisaOptions& visa, Clock& clock, int instrument,
                         const std::string& file, std::ostream& out, std::ostream& err);
// Optional behaviour of `run`; the defaults are a plain run.
struct CliRunOptions {
  double statusEverySeconds = 0;  // > 0: the run status on err every so many seconds
};
// With `central` on, the records also go to the central store while the run goes on.
// keepGoing: an instrument that fails ends only its own share (see RunController::keepGoing).
int commandRun(const visa::VisaOptions& visa, Clock& clock, const std::string& dataDir,
               const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err,
               const central::CentralChoice& central = {}, bool keepGoing = false,
               const CliRunOptions& runOptions = {});
// The value of --status-every: seconds above 0 (fractions allowed); an error text otherwise.
std::string parseStatusEvery(const std::string& text, double& seconds);

// Before any instrument is touched: every record named by `uses` can be logged into (not in use
// by another run, named once). False with the reason on err.
bool recordsUsable(const std::string& dataDir, const std::vector<CliUse>& uses, std::ostream& err);

// Ctrl+C and SIGTERM during `run` press Stop (the run ends cleanly, records closed).
void requestStopFromSignal();

}  // namespace kalivor
