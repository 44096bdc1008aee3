#include "app/program.h"

#include "charts/trend_chart.h"

namespace kalivor {

Program::Program(Clock& clock_, std::unique_ptr<visa::VisaApi> visa_, Messages& messages_,
                 Dialogs& dialogs_, EventPump& pump_, std::filesystem::path dataFolder_)
    : clock(clock_),
      visa(std::move(visa_)),
      messages(messages_),
      dialogs(dialogs_),
      pump(pump_),
      dataFolder(std::move(dataFolder_)),
      link(*visa, clock, messages),
      records(dataFolder),
      run(link, tables, display, records, pump),
      selection(link, tables, display, run) {}

Program::~Program() = default;

void Program::startUp() {
  display.contral_disable();
  selection.resetSlotSetups();
  for (int d = 0; d < kMaxInstruments; ++d) {
    for (int c = 0; c < kMaxChannels; ++c)
      tables.channel[static_cast<std::size_t>(d)][static_cast<std::size_t>(c)].Color =
          kDefaultChannelColors[static_cast<std::size_t>(c)];
  }
  selection.Find_Button_Click();
  selection.applyToMainWindow();
  display.scanControlRows.clear();
}

void Program::shutdown() {
  run.StopReading_Click();
  link.closeAtShutdown();
}

}  // namespace kalivor
