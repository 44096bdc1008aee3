// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli: the headless program (list instruments, apply and run saved setups, list and
// export records). Thin over the same core as the windowed program.
#include <iosfwd>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/messages.h"

namespace kalivor {

// Runs one command line; returns the exit code (0 fine, 1 failure, 2 bad usage).
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// The same on a clock of the caller's (tests run whole simulated runs on a manual clock).
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           Clock& clock);

// Message boxes of the core, printed for a terminal. Questions are answered No.
class StreamMessages final : public Messages {
 public:
  explicit StreamMessages(std::ostream& err) : err_(err) {}
  MessageAnswer show(const Message& message) override;
  std::vector<std::string> shown;

 private:
  std::ostream& err_;
};

}  // namespace kalivor
