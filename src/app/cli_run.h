// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's commands that drive instruments with saved setups: apply, setup --template, run.
#include <iosfwd>
#include <string>
#include <vector>

#include "common/clock.h"
#include "visa/visa_factory.h"

namespace kalivor {

struct CliUse {
  int instrument = 0;  // position in `kalivor-cli list`, 1-based
  std::string setupFile;
  std::string record;  // "" = none
};

// Parses "N:SETUP.ini[:RecordK]"; returns an error text for a bad one.
std::string parseUse(const std::string& text, CliUse& use);

// `clock` drives the instruments, the pauses and the time stamps; it outlives the command.
int commandApply(const visa::VisaOptions& visa, Clock& clock, const std::vector<CliUse>& uses,
                 std::ostream& out, std::ostream& err);
int commandSetupTemplate(const visa::VisaOptions& visa, Clock& clock, int instrument,
                         const std::string& file, std::ostream& out, std::ostream& err);
int commandRun(const visa::VisaOptions& visa, Clock& clock, const std::string& dataDir,
               const std::vector<CliUse>& uses, std::ostream& out, std::ostream& err);

// Ctrl+C and SIGTERM during `run` press Stop (the run ends cleanly, records closed).
void requestStopFromSignal();

}  // namespace kalivor
