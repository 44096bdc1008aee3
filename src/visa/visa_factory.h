// SPDX-License-Identifier: MIT
#pragma once
// Builds the VisaApi the program talks to, from the command line's choices: simulated instruments,
// a named vendor library, the first vendor library found, or our own backends.
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "visa/visa_api.h"

namespace kalivor::visa {

struct VisaOptions {
  bool simulate = false;
  std::string simulationFile;  // with simulate; empty: the two built-in instruments
  std::string visaLibrary;     // a vendor library to use instead of searching
  std::string traceFile;       // append every VISA call to this file
  bool verbose = false;        // notes also say what was tried and what the backends found
};

struct VisaSetup {
  std::unique_ptr<VisaApi> api;    // null exactly when error is set
  std::vector<std::string> notes;  // human-readable: what is used and why
  std::string error;               // a clear message for the user
};

// The clock stamps trace lines and drives the simulated instruments; it must outlive the api.
VisaSetup makeVisa(const VisaOptions& options, Clock& clock);
// The same with other vendor library candidates than VendorLibrary::searchPaths() (for tests).
VisaSetup makeVisa(const VisaOptions& options, Clock& clock,
                   const std::vector<std::string>& libraryCandidates);

// What our own backends found or why they found nothing (for --verbose after a search); empty for a
// vendor library. Looks through a trace.
std::vector<std::string> backendNotes(const VisaApi& api);

}  // namespace kalivor::visa
