// SPDX-License-Identifier: MIT
#pragma once
// Instruments on USB through the Linux kernel's usbtmc driver: found through sysfs, talked to
// through /dev/usbtmcN. No vendor VISA library involved.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "visa/device_provider.h"
#include "visa/posix_io.h"

namespace kalivor::visa {

// The driver's ioctls (linux/usb/tmc.h), written out so the build does not depend on the kernel
// headers being recent enough.
inline constexpr unsigned long kUsbtmcIoctlClear = 0x5B02;
inline constexpr unsigned long kUsbtmcIoctlSetTimeout = 0x40045B0A;  // __u32 ms
inline constexpr unsigned long kUsbtmcIoctlMsgInAttr = 0x80015B18;   // __u8, bit 0 end of message
// The driver refuses shorter time-outs (its own default is 5 s).
inline constexpr std::uint32_t kUsbtmcMinTimeoutMs = 100;

// A warning VISA gives when an attribute value could not be applied as asked.
inline constexpr ViStatus VI_WARN_NSUP_ATTR_STATE = 0x3FFF0084;

inline constexpr const char* kNoSerialName = "NONE";

struct UsbtmcDevice {
  std::string entry;  // "usbtmc0" under /sys/class/usbmisc
  std::string node;   // "/dev/usbtmc0"
  unsigned vendorId = 0;
  unsigned productId = 0;
  std::string serial;  // trailing NULs and blanks removed; empty when the device has none
  unsigned interfaceNumber = 0;
  std::string manufacturer;
  std::string product;

  // "USB0::0x1AB1::0x0588::SN123::INSTR", with "::IF" before "::INSTR" when IF is not 0. A device
  // without a serial number is named with kNoSerialName in its place: an empty field is refused
  // by other VISA tools.
  std::string resource() const;
};

// A USB INSTR resource name as asked for. The board number is not kept: it never selects a device.
struct UsbResourceName {
  unsigned vendorId = 0;
  unsigned productId = 0;
  std::string serial;
  std::optional<unsigned> interfaceNumber;
};

// nullopt when the text is not "USB[board]::vid::pid::serial[::if]::INSTR" (any case; ids in
// decimal or 0x-hex).
std::optional<UsbResourceName> parseUsbResourceName(std::string_view text);
// Whether a device answers to a name: ids as numbers, serials without trailing NULs and blanks and
// ignoring case, the interface number when one is given.
bool matchesDevice(const UsbResourceName& name, const UsbtmcDevice& device);

class UsbtmcProvider final : public DeviceProvider {
 public:
  explicit UsbtmcProvider(std::shared_ptr<PosixIo> io = systemIo());
  ~UsbtmcProvider() override;

  std::string name() const override { return "usbtmc"; }
  std::vector<std::string> listResources() override;
  ViStatus open(const std::string& resource, std::unique_ptr<DeviceSession>* session) override;
  // What the last search found, and what sessions found out since (missing kernel features,
  // unplugged devices, nodes out of reach).
  std::vector<std::string> notes() override;

  // A fresh look at sysfs, in node order (usbtmc2 before usbtmc10).
  std::vector<UsbtmcDevice> devices();

  struct Shared;  // notes the sessions add (kernel features they found missing)

 private:
  std::vector<UsbtmcDevice> scan(std::vector<std::string>* notes);

  std::shared_ptr<PosixIo> io_;
  std::shared_ptr<Shared> shared_;
  std::vector<std::string> listingNotes_;
  bool listed_ = false;
};

}  // namespace kalivor::visa
