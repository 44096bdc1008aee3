// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's commands that drive instruments with saved setups: apply, setup --template, run.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
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
// What `run` and `watch` are asked for beyond the instruments.
struct RunOptions {
  std::string dataDir;
  bool json = false;               // one JSON object per scan instead of a text line
  std::int64_t scans = 0;          // end after so many stored scans per instrument; 0: no limit
  std::int64_t durationMs = 0;     // end so long after the start; 0: no limit
  std::optional<LocalMs> startAt;  // the scan settings' start and stop times, for every use
  std::optional<LocalMs> stopAt;
  central::CentralChoice central;  // run: with it on, the records also go to the central store
  bool keepGoing = false;  // an instrument that fails ends only its own share (RunController)
  double statusEverySeconds = 0;  // > 0: the run status on err every so many seconds
};

int commandRun(const visa::VisaOptions& visa, Clock& clock, const RunOptions& run,
               const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err);
// Sets the instruments up as for a run (every listed one, up to four, as it is set when `uses` is
// empty) and prints their readings once a second, storing nothing, until a stop signal.
int commandWatch(const visa::VisaOptions& visa, Clock& clock, const RunOptions& run,
                 const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err);
// The value of --status-every: seconds above 0 (fractions allowed); an error text otherwise.
std::string parseStatusEvery(const std::string& text, double& seconds);

// Before any instrument is touched: every record named by `uses` can be logged into (not in use
// by another run, named once). False with the reason on err.
bool recordsUsable(const std::string& dataDir, const std::vector<CliUse>& uses, std::ostream& err);

// Ctrl+C, SIGTERM and SIGHUP during `run` or `watch` stop it cleanly at the next safe point: in
// start-up before the next instrument exchange step, in the run as Stop does (records closed).
void requestStopFromSignal(int signal);
// For tests: called at each point where `run` and `watch` look for a stop request: "discovered",
// "read-back" (before each instrument's), "setup-file" (before each), "apply", "applied" and
// "stored" (after each printed scan). Empty: none.
void setStopCheckpointHook(std::function<void(const std::string& step)> hook);

}  // namespace kalivor
