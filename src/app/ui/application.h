// SPDX-License-Identifier: MIT
#pragma once
// The windowed program put together: the Qt seams, the program core and its windows.
#include <QSettings>
#include <memory>
#include <string>

#include "app/program.h"
#include "app/ui/main_form.h"
#include "common/ui/qt_seams.h"
#include "common/ui/threaded_io_gate.h"
#include "visa/visa_factory.h"

namespace kalivor {

struct ProgramOptions {
  visa::VisaOptions visa;
  std::string dataDir;
  // --central URL [--bench NAME]: for this start, instead of the choice kept in the settings.
  central::CentralChoice central;
  // Where the user's settings are kept: empty for the user's own (tests give a file instead).
  std::string settingsFile;
};

class KalivorApplication {
 public:
  // Builds the program; returns an error text instead when the VISA backend cannot be set up.
  static std::unique_ptr<KalivorApplication> create(const ProgramOptions& options, std::string* error);
  ~KalivorApplication();

  MainForm& mainForm() { return *main_; }
  Program& program() { return *program_; }

 private:
  KalivorApplication() = default;
  void wireWindows();

  SystemClock clock_;
  std::unique_ptr<QSettings> settings_;
  QtMessages messages_;
  QtDialogs dialogs_;
  QtEventPump pump_;
  std::unique_ptr<ThreadedIoGate> gate_;  // outlives the program that calls through it
  std::unique_ptr<Program> program_;
  std::unique_ptr<MainForm> main_;
};

}  // namespace kalivor
