// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's central-store commands: `forward` (send the local records' scans to the central
// PostgreSQL database, once or following), and `records` / `export` with `--central URL` as
// their source.
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "central/forwarder.h"
#include "common/clock.h"

namespace kalivor {

extern const char* const kCentralUsage;

// Whether this command line is one of the central store's (`forward`, or `records`/`export` with
// --central).
bool isCentralCommand(const std::vector<std::string>& args);

// Runs it; returns the exit code (0 fine, 1 failure, 2 bad usage).
int runCentralCommand(const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err);

// --central URL and --bench NAME, for `run` and for the windowed program.
std::vector<OptionSpec> centralChoiceOptions(central::CentralChoice& choice);
// The choice's problem for bad usage (--bench without --central, a blank bench name), if any.
std::optional<std::string> centralChoiceProblem(const central::CentralChoice& choice);

// The forwarder beside a `kalivor-cli run --central`: it sends the data folder's records (the
// backlog of earlier runs included) while the run goes on, on a thread of its own, so no scan
// waits for the network; after the run it gives what is left one last short pass.
class CentralBesideRun {
 public:
  // Does nothing at all while the choice is off.
  CentralBesideRun(const central::CentralChoice& choice, std::filesystem::path dataFolder);
  ~CentralBesideRun();
  bool on() const { return forwarder_ != nullptr; }
  void start(std::ostream& err);
  // The central state of the instrument that logs into record `record` ("0": none).
  std::string stateOf(const std::string& record) const;
  // One line per instrument on err whenever its state (connected, failing) changed; `instruments`
  // are (name, record) pairs. Looks at most once a second of `now`.
  void report(LocalMs now, const std::vector<std::pair<std::string, std::string>>& instruments,
              std::ostream& err);
  // Ends the forwarding: the scans still waiting get a last pass, then err says what is left.
  void finish(std::ostream& err);

 private:
  std::filesystem::path dataFolder_;
  std::string where_;  // the URL as it may be shown
  SystemClock clock_;  // the server's time: waits for the network are real
  std::unique_ptr<central::BackgroundForwarder> forwarder_;
  std::vector<std::string> shown_;
  LocalMs lastLook_ = 0;
  bool looked_ = false;
};

}  // namespace kalivor
