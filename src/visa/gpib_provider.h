// SPDX-License-Identifier: MIT
#pragma once
// Instruments on GPIB through linux-gpib. libgpib is loaded at run time: it is GPL, and loading
// it only when present keeps it out of our link and lets the program run where it is missing.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/device_provider.h"
#include "visa/posix_io.h"

namespace kalivor::visa {

// ibsta bits and iberr values of linux-gpib.
inline constexpr int kGpibErr = 0x8000;
inline constexpr int kGpibTimo = 0x4000;
inline constexpr int kGpibEnd = 0x2000;
inline constexpr int kGpibCmpl = 0x100;
inline constexpr int kGpibEdvr = 0;
inline constexpr int kGpibEcic = 1;
inline constexpr int kGpibEnol = 2;
inline constexpr int kGpibEarg = 4;
inline constexpr int kGpibEabo = 6;
inline constexpr int kGpibEneb = 7;

// The time-out code of linux-gpib for a time-out in milliseconds: the shortest code that waits at
// least that long (0 ms, "do not wait", gets the shortest; VI_TMO_INFINITE gets TNONE, 0), and
// T1000s (17) for anything longer than 1000 s.
int gpibTimeoutCode(ViUInt32 ms);

// A GPIB INSTR resource name: "GPIB[board]::pad[::sad]::INSTR", sad 0..30 as in VISA.
struct GpibResourceName {
  int board = 0;
  int pad = 0;
  std::optional<int> sad;
};
std::optional<GpibResourceName> parseGpibResourceName(std::string_view text);

struct GpibLibrary;  // the loaded libgpib and its entry points

class GpibProvider final : public DeviceProvider {
 public:
  static constexpr const char* kDefaultLibrary = "libgpib.so.0";
  static constexpr int kDefaultBoards = 4;  // boards 0..3

  // library: a name for the loader's search or a path. Boards whose /dev/gpibN is missing are
  // not searched.
  explicit GpibProvider(std::shared_ptr<PosixIo> io = systemIo(),
                        std::string library = kDefaultLibrary, int boards = kDefaultBoards);
  ~GpibProvider() override;

  std::string name() const override { return "gpib"; }
  // Every board with a /dev/gpibN node, listeners at primary addresses 1..30.
  std::vector<std::string> listResources() override;
  ViStatus open(const std::string& resource, std::unique_ptr<DeviceSession>* session) override;
  std::vector<std::string> notes() override;

  // Whether libgpib could be loaded (it is loaded on first use).
  bool libraryLoaded();

 private:
  bool load();

  std::shared_ptr<PosixIo> io_;
  std::string libraryName_;
  int boards_;
  bool tried_ = false;
  std::shared_ptr<GpibLibrary> lib_;
  std::vector<std::string> loadNotes_;
  std::vector<std::string> listingNotes_;
  std::vector<std::string> openNotes_;
};

}  // namespace kalivor::visa
