// SPDX-License-Identifier: MIT
#include "visa/usbtmc_provider.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "common/text.h"

namespace kalivor::visa {

namespace {

constexpr const char* kClassDir = "/sys/class/usbmisc";

const char* const kPermissionAdvice =
    "add the udev rule KERNEL==\"usbtmc[0-9]*\", MODE=\"0660\", GROUP=\"usbtmc\" (for example as "
    "/etc/udev/rules.d/99-usbtmc.rules), join the group (sudo usermod -aG usbtmc $USER, then log "
    "out and in), reload the rules (sudo udevadm control --reload-rules) and replug the instrument";

std::string stripTrailing(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && (s[e - 1] == '\0' || s[e - 1] == ' ' || s[e - 1] == '\n' || s[e - 1] == '\r' ||
                   s[e - 1] == '\t')) {
    --e;
  }
  return std::string(s.substr(0, e));
}

std::optional<unsigned> parseUnsigned(std::string_view s, int base) {
  if (s.empty()) return std::nullopt;
  unsigned v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

// "0x1AB1" (any case) as hex, "6833" as decimal.
std::optional<unsigned> parseId(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    return parseUnsigned(s.substr(2), 16);
  }
  return parseUnsigned(s, 10);
}

std::vector<std::string_view> splitFields(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find("::", start);
    if (at == std::string_view::npos) {
      out.push_back(s.substr(start));
      return out;
    }
    out.push_back(s.substr(start, at - start));
    start = at + 2;
  }
}

std::string hex4(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

// usbtmc12 -> 12; other entries in the class directory (not ours) -> nullopt.
std::optional<unsigned> entryNumber(std::string_view name) {
  if (!startsWith(name, "usbtmc")) return std::nullopt;
  return parseUnsigned(name.substr(6), 10);
}

bool unsupportedIoctl(int result) {
  // Unknown ioctls give EBADRQC from this driver, ENOTTY from others.
  return result == -ENOTTY || result == -EBADRQC || result == -EINVAL;
}

bool deviceGone(int err) { return err == ENODEV || err == ESHUTDOWN || err == EPIPE; }

}  // namespace

struct UsbtmcProvider::Shared {
  std::vector<std::string> notes;
  void note(const std::string& line) {
    if (std::find(notes.begin(), notes.end(), line) == notes.end()) notes.push_back(line);
  }
};

std::string UsbtmcDevice::resource() const {
  std::string r = "USB0::" + hex4(vendorId) + "::" + hex4(productId) + "::" +
                  (serial.empty() ? std::string(kNoSerialName) : serial);
  if (interfaceNumber != 0) r += "::" + std::to_string(interfaceNumber);
  return r + "::INSTR";
}

std::optional<UsbResourceName> parseUsbResourceName(std::string_view text) {
  const std::string trimmed = trimBlanks(text);
  const auto fields = splitFields(trimmed);
  if (fields.size() != 5 && fields.size() != 6) return std::nullopt;
  const std::string head = toLowerAscii(fields.front());
  if (!startsWith(head, "usb")) return std::nullopt;
  if (head.size() > 3 && !parseUnsigned(std::string_view(head).substr(3), 10)) return std::nullopt;
  if (!equalsIgnoreCase(fields.back(), "INSTR")) return std::nullopt;

  UsbResourceName name;
  const auto vid = parseId(fields[1]);
  const auto pid = parseId(fields[2]);
  if (!vid || !pid || *vid > 0xFFFF || *pid > 0xFFFF) return std::nullopt;
  name.vendorId = *vid;
  name.productId = *pid;
  name.serial = stripTrailing(fields[3]);
  if (fields.size() == 6) {
    const auto iface = parseId(fields[4]);
    if (!iface || *iface > 0xFF) return std::nullopt;
    name.interfaceNumber = *iface;
  }
  return name;
}

bool matchesDevice(const UsbResourceName& name, const UsbtmcDevice& device) {
  const std::string asked = stripTrailing(name.serial);
  const std::string own = stripTrailing(device.serial);
  // A device without a serial number answers to the name it is listed with, and to the empty
  // field that earlier versions listed.
  const bool serialMatches =
      equalsIgnoreCase(asked, own) || (own.empty() && equalsIgnoreCase(asked, kNoSerialName));
  return name.vendorId == device.vendorId && name.productId == device.productId && serialMatches &&
         (!name.interfaceNumber || *name.interfaceNumber == device.interfaceNumber);
}

namespace {

class UsbtmcSession final : public DeviceSession {
 public:
  UsbtmcSession(std::shared_ptr<PosixIo> io, int fd, std::string node,
                std::shared_ptr<UsbtmcProvider::Shared> shared)
      : io_(std::move(io)), fd_(fd), node_(std::move(node)), shared_(std::move(shared)) {}
  ~UsbtmcSession() override { io_->close(fd_); }

  ViStatus write(const unsigned char* buf, ViUInt32 count, ViUInt32* written) override {
    *written = 0;
    if (lost_) return VI_ERROR_CONN_LOST;
    if (count == 0) return VI_SUCCESS;
    // One write() is one message: the driver marks its last packet as the end of the message,
    // so a command is never split over two calls.
    const std::int64_t n = io_->write(fd_, buf, count);
    if (n < 0) return failure(static_cast<int>(-n));
    *written = static_cast<ViUInt32>(std::min<std::int64_t>(n, count));
    // Sending the rest would make it a second message; the driver writes all or fails.
    return *written == count ? VI_SUCCESS : VI_ERROR_IO;
  }

  ViStatus read(unsigned char* buf, ViUInt32 count, ViUInt32* got) override {
    *got = 0;
    if (lost_) return VI_ERROR_CONN_LOST;
    if (count == 0) return VI_SUCCESS;
    ViUInt32 total = 0;
    for (;;) {
      const ViUInt32 asked = count - total;
      const std::int64_t n = io_->read(fd_, buf + total, asked);
      if (n < 0) return failure(static_cast<int>(-n));
      // The driver returns 0 after a protocol fault, never for an empty message.
      if (n == 0) return VI_ERROR_IO;
      total += static_cast<ViUInt32>(std::min<std::int64_t>(n, asked));
      *got = total;
      const auto ended = messageEnded(static_cast<ViUInt32>(n), asked);
      if (!ended) return lost_ ? VI_ERROR_CONN_LOST : VI_ERROR_IO;
      if (*ended) return VI_SUCCESS;
      if (total == count) return VI_SUCCESS_MAX_CNT;
      // A short transfer without the end of the message: the device sent it in parts.
    }
  }

  ViStatus setTimeout(ViUInt32 ms) override {
    if (lost_) return VI_ERROR_CONN_LOST;
    if (!timeoutSupported_) return VI_WARN_NSUP_ATTR_STATE;
    std::uint32_t value = std::max<std::uint32_t>(ms, kUsbtmcMinTimeoutMs);
    const int r = io_->ioctl(fd_, kUsbtmcIoctlSetTimeout, &value);
    if (r >= 0) return VI_SUCCESS;
    if (unsupportedIoctl(r)) {
      timeoutSupported_ = false;
      shared_->note("this kernel's usbtmc driver cannot set time-outs: reads give up after the "
                    "driver's fixed time-out (5 s on most kernels) whatever the program sets");
      return VI_WARN_NSUP_ATTR_STATE;
    }
    if (deviceGone(-r)) return lostNow();
    return VI_ERROR_NSUP_ATTR_STATE;
  }

 private:
  // true: the message ended with this transfer; false: it did not; nullopt: the device is gone
  // or the driver failed.
  std::optional<bool> messageEnded(ViUInt32 n, ViUInt32 asked) {
    if (attrSupported_) {
      std::uint8_t attr = 0;
      const int r = io_->ioctl(fd_, kUsbtmcIoctlMsgInAttr, &attr);
      if (r >= 0) return (attr & 1) != 0;
      if (!unsupportedIoctl(r)) {
        if (deviceGone(-r)) lostNow();
        return std::nullopt;
      }
      attrSupported_ = false;
      shared_->note("this kernel's usbtmc driver does not report the end of a message: an answer "
                    "is taken as complete when a read returns less than asked for");
    }
    return n < asked;
  }

  ViStatus failure(int err) {
    if (err == ETIMEDOUT) {
      // The device may still be sending the abandoned answer; a clear makes the next exchange
      // start on a fresh message instead of reading the old one's tail.
      const int r = io_->ioctl(fd_, kUsbtmcIoctlClear, nullptr);
      if (r < 0 && deviceGone(-r)) return lostNow();
      return VI_ERROR_TMO;
    }
    if (deviceGone(err)) return lostNow();
    return VI_ERROR_IO;
  }

  ViStatus lostNow() {
    if (!lost_) shared_->note(node_ + " was disconnected");
    lost_ = true;
    return VI_ERROR_CONN_LOST;
  }

  std::shared_ptr<PosixIo> io_;
  int fd_;
  std::string node_;
  std::shared_ptr<UsbtmcProvider::Shared> shared_;
  bool lost_ = false;
  bool attrSupported_ = true;
  bool timeoutSupported_ = true;
};

}  // namespace

UsbtmcProvider::UsbtmcProvider(std::shared_ptr<PosixIo> io)
    : io_(io ? std::move(io) : systemIo()), shared_(std::make_shared<Shared>()) {}

UsbtmcProvider::~UsbtmcProvider() = default;

std::vector<UsbtmcDevice> UsbtmcProvider::devices() { return scan(nullptr); }

std::vector<UsbtmcDevice> UsbtmcProvider::scan(std::vector<std::string>* notes) {
  std::vector<std::pair<unsigned, std::string>> entries;
  if (const auto names = io_->listDir(kClassDir)) {
    for (const std::string& n : *names) {
      if (const auto number = entryNumber(n)) entries.emplace_back(*number, n);
    }
  }
  std::sort(entries.begin(), entries.end());

  std::vector<UsbtmcDevice> out;
  for (const auto& [number, entry] : entries) {
    // device -> the interface directory; its parent (through the link) is the USB device.
    const std::string iface = std::string(kClassDir) + "/" + entry + "/device";
    const std::string usb = iface + "/..";
    const auto ifText = io_->readText(iface + "/bInterfaceNumber");
    const auto vidText = io_->readText(usb + "/idVendor");
    const auto pidText = io_->readText(usb + "/idProduct");
    const auto ifNumber = ifText ? parseUnsigned(stripTrailing(*ifText), 16) : std::nullopt;
    const auto vid = vidText ? parseUnsigned(stripTrailing(*vidText), 16) : std::nullopt;
    const auto pid = pidText ? parseUnsigned(stripTrailing(*pidText), 16) : std::nullopt;
    if (!ifNumber || !vid || !pid) {
      if (notes != nullptr) {
        notes->push_back(entry + " skipped: its USB ids could not be read from sysfs");
      }
      continue;
    }
    UsbtmcDevice d;
    d.entry = entry;
    d.node = "/dev/" + entry;
    d.vendorId = *vid;
    d.productId = *pid;
    d.interfaceNumber = *ifNumber;
    d.serial = stripTrailing(io_->readText(usb + "/serial").value_or(""));
    d.manufacturer = stripTrailing(io_->readText(usb + "/manufacturer").value_or(""));
    d.product = stripTrailing(io_->readText(usb + "/product").value_or(""));
    out.push_back(std::move(d));
  }
  return out;
}

std::vector<std::string> UsbtmcProvider::listResources() {
  listed_ = true;
  listingNotes_.clear();
  const std::vector<UsbtmcDevice> found = scan(&listingNotes_);
  std::vector<std::string> out;
  for (const UsbtmcDevice& d : found) {
    const std::string r = d.resource();
    std::string line = r + " on " + d.node;
    const std::string label = trimBlanks(d.manufacturer + " " + d.product);
    if (!label.empty()) line += " (" + label + ")";
    if (d.serial.empty()) {
      line += std::string(", the device reports no serial number (named ") + kNoSerialName + ")";
    }
    listingNotes_.push_back(line);

    const int a = io_->access(d.node, R_OK | W_OK);
    if (a == -ENOENT) {
      listingNotes_.push_back(d.node + " is missing although sysfs lists " + d.entry);
    } else if (a == -EACCES || a == -EPERM) {
      listingNotes_.push_back(d.node + " cannot be opened: permission denied; " +
                              kPermissionAdvice);
    }
    if (std::find_if(out.begin(), out.end(), [&](const std::string& o) {
          return equalsIgnoreCase(o, r);
        }) != out.end()) {
      listingNotes_.push_back(d.node + " has the same name as another device (" + r +
                              "): only the first of them can be opened");
      continue;
    }
    out.push_back(r);
  }
  if (found.empty()) {
    listingNotes_.push_back(std::string("no usbtmc devices (nothing under ") + kClassDir +
                            "): the instrument must be on USB with the kernel's usbtmc driver "
                            "bound to it (tools built on libusb detach the driver)");
  }
  return out;
}

ViStatus UsbtmcProvider::open(const std::string& resource,
                              std::unique_ptr<DeviceSession>* session) {
  if (session != nullptr) session->reset();
  const std::string head = toLowerAscii(trimBlanks(resource).substr(0, 3));
  if (head != "usb") return VI_ERROR_RSRC_NFOUND;
  const auto name = parseUsbResourceName(resource);
  if (!name) return VI_ERROR_INV_RSRC_NAME;
  if (session == nullptr) return VI_ERROR_SYSTEM_ERROR;

  // Without an interface number the lowest usbtmc interface of the device is meant.
  const std::vector<UsbtmcDevice> found = devices();
  const UsbtmcDevice* match = nullptr;
  for (const UsbtmcDevice& d : found) {
    if (!matchesDevice(*name, d)) continue;
    if (match == nullptr || d.interfaceNumber < match->interfaceNumber) match = &d;
  }
  if (match == nullptr) return VI_ERROR_RSRC_NFOUND;

  const int fd = io_->open(match->node, O_RDWR);
  if (fd < 0) {
    const int err = -fd;
    if (err == EACCES || err == EPERM) {
      shared_->note(match->node + " cannot be opened: permission denied; " + kPermissionAdvice);
      return VI_ERROR_SYSTEM_ERROR;
    }
    if (err == EBUSY) return VI_ERROR_RSRC_BUSY;
    // Unplugged between the listing and the open.
    if (err == ENOENT || err == ENODEV || err == ENXIO) return VI_ERROR_RSRC_NFOUND;
    shared_->note(match->node + " cannot be opened: " + std::strerror(err));
    return VI_ERROR_SYSTEM_ERROR;
  }
  *session = std::make_unique<UsbtmcSession>(io_, fd, match->node, shared_);
  return VI_SUCCESS;
}

std::vector<std::string> UsbtmcProvider::notes() {
  // Asked before any search (the start-up report): a look at sysfs is cheap.
  if (!listed_) listResources();
  std::vector<std::string> out = listingNotes_;
  for (const std::string& n : shared_->notes) {
    if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
  }
  return out;
}

}  // namespace kalivor::visa
