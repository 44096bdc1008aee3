// SPDX-License-Identifier: MIT
// libFuzzer target for the scan setup file reader: any bytes, read as a setup file, must load or
// be refused without crashing, and leave the editor's tables inside their bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/clock.h"
#include "scan/ini_reader.h"
#include "scan/setup_file.h"
#include "scan/setup_model.h"

namespace {

void loadInto(int card, int channels, const kalivor::IniFile& file) {
  kalivor::ManualClock clock;
  kalivor::ScanTables tables;
  tables.setup[0].ScanerCard = static_cast<std::int16_t>(card);
  tables.setup[0].ChannelCount = static_cast<std::int16_t>(channels);
  for (auto& c : tables.channel[0]) c.Function = "DCV";
  kalivor::ScanSetEditor editor(tables, clock);
  editor.load({"fuzz"}, kalivor::InstrumentAccess{});
  const kalivor::SetupLoadResult r = kalivor::loadSetup(editor, file);
  if (editor.loading()) std::abort();
  if (r.status == kalivor::SetupLoadResult::Status::Loaded) {
    // A loaded setup saves to a file that loads again.
    const std::string text =
        kalivor::setupFileText(editor.working(), tables, 0, editor.controls().channelGroup.seconds,
                               editor.controls().scanGroup.seconds);
    const auto again = kalivor::loadSetup(editor, kalivor::IniFile::fromText(text));
    if (again.status != kalivor::SetupLoadResult::Status::Loaded) std::abort();
  }
  for (int ch = 0; ch < channels; ++ch) {
    if (!(tables.channel[0][ch].Ohm > 0)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const kalivor::IniFile file = kalivor::IniFile::fromText(text);
  if (file.value("Function", "Function(0)").size() > kalivor::IniFile::kMaxValueLength) {
    std::abort();
  }
  loadInto(3, 20, file);
  loadInto(1, 10, file);
  return 0;
}
