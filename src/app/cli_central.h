// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli's central-store commands: `forward` (send the local records' scans to the central
// PostgreSQL database, once or following), and `records` / `export` with `--central URL` as
// their source.
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kalivor {

extern const char* const kCentralUsage;

// Whether this command line is one of the central store's (`forward`, or `records`/`export` with
// --central).
bool isCentralCommand(const std::vector<std::string>& args);

// Runs it; returns the exit code (0 fine, 1 failure, 2 bad usage).
int runCentralCommand(const std::vector<std::string>& args, std::ostream& out,
                      std::ostream& err);

}  // namespace kalivor
