// SPDX-License-Identifier: MIT
#include "app/ui/application.h"

#include "app/ui/window_wiring.h"
#include "central/ui/central_dialog.h"
#include "common/paths.h"

namespace kalivor {

std::unique_ptr<KalivorApplication> KalivorApplication::create(const ProgramOptions& options,
                                                               std::string* error) {
  std::unique_ptr<KalivorApplication> app(new KalivorApplication);
  visa::VisaSetup setup = visa::makeVisa(options.visa, app->clock_);
  if (!setup.api) {
    if (error) *error = setup.error;
    return nullptr;
  }
  app->settings_ =
      options.settingsFile.empty()
          ? std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "kalivor",
                                        "kalivor")
          : std::make_unique<QSettings>(QString::fromStdString(options.settingsFile),
                                        QSettings::IniFormat);
  app->program_ = std::make_unique<Program>(app->clock_, std::move(setup.api), app->messages_,
                                            app->dialogs_, app->pump_,
                                            resolveDataFolder(options.dataDir));
  // Instrument calls of discovery, read-back and Apply run beside the window thread.
  app->gate_ = std::make_unique<ThreadedIoGate>();
  app->program_->link.setGate(app->gate_.get());
  app->main_ = std::make_unique<MainForm>(*app->program_);
  app->messages_.setParent(app->main_.get());
  app->dialogs_.setParent(app->main_.get());
  MainForm* main = app->main_.get();
  app->pump_.beforeEvents = [main] { main->syncFromCore(); };
  app->gate_->onIdle = [main] { main->instrumentCallsEnded(); };
  Program* program = app->program_.get();
  app->gate_->holdInput = [program] { return !program->run.running(); };
  app->wireWindows();
  main->fitToScreen();
  program->setCentral(options.central.on() ? options.central
                                           : loadCentralChoice(*app->settings_));
  return app;
}

KalivorApplication::~KalivorApplication() {
  pump_.beforeEvents = nullptr;
  if (gate_) gate_->onIdle = nullptr;
  main_.reset();
}

void KalivorApplication::wireWindows() {
  wireScanWindows(*main_, *program_);
  wireDataTable(*main_, *program_);
  wireStatistics(*main_, *program_);
  wireRecordWindows(*main_, *program_);
  wireAbout(*main_, *program_);
  wireChartOutput(*main_, *program_);
  wireCentral(*main_, *program_, *settings_);
}

}  // namespace kalivor
