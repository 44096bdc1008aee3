// SPDX-License-Identifier: MIT
#pragma once
// A temporary directory standing for / (a fake /sys tree laid out like the kernel's, /dev nodes
// as plain files) and stand-in usbtmc devices behind the PosixIo seam.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "visa/posix_io.h"
#include "visa/usbtmc_provider.h"

namespace kalivor::visa::testing {

namespace fs = std::filesystem;

class TempRoot {
 public:
  TempRoot() {
    std::string pattern = (fs::temp_directory_path() / "kalivor-links-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempRoot() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  void writeFile(const std::string& rel, const std::string& content) const {
    const fs::path p = fs::path(path_) / rel.substr(rel.front() == '/' ? 1 : 0);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }

 private:
  std::string path_;
};

struct SysfsUsbDevice {
  std::string entry = "usbtmc0";
  std::string busPath = "1-3";  // the USB device directory's name
  unsigned interfaceNumber = 0;
  std::string idVendor = "1ab1";  // as sysfs writes them: 4 lower-case hex digits
  std::string idProduct = "0588";
  std::optional<std::string> serial = std::string("DM3R1234");
  std::string manufacturer = "Maker";
  std::string product = "Meter";
};

// Lays a device out as the kernel does: the class entry's "device" link points at the interface
// directory, whose parent is the USB device. Attribute files end in a line feed, like sysfs's.
inline void addSysfsDevice(const TempRoot& root, const SysfsUsbDevice& d) {
  char iface[8];
  std::snprintf(iface, sizeof iface, "%02x", d.interfaceNumber);
  const std::string usb = "sys/bus/usb/devices/" + d.busPath;
  const std::string ifDir = usb + "/" + d.busPath + ":1." + std::to_string(d.interfaceNumber);
  root.writeFile(ifDir + "/bInterfaceNumber", std::string(iface) + "\n");
  root.writeFile(usb + "/idVendor", d.idVendor + "\n");
  root.writeFile(usb + "/idProduct", d.idProduct + "\n");
  if (d.serial) root.writeFile(usb + "/serial", *d.serial + "\n");
  root.writeFile(usb + "/manufacturer", d.manufacturer + "\n");
  root.writeFile(usb + "/product", d.product + "\n");
  const fs::path entry = fs::path(root.path()) / "sys/class/usbmisc" / d.entry;
  fs::create_directories(entry);
  fs::create_symlink("../../../bus/usb/devices/" + d.busPath + "/" + d.busPath + ":1." +
                         std::to_string(d.interfaceNumber),
                     entry / "device");
}

// What a stand-in device does and what was done to it.
struct FakeUsbDevice {
  // Written message -> answer queued for reading as one message.
  std::map<std::string, std::string> answers;
  // Or an instrument behind it: the answer to a written message, empty for none.
  std::function<std::string(const std::string&)> respond;
  std::deque<std::string> pending;
  std::vector<std::string> written;
  std::vector<unsigned long> ioctls;
  std::vector<std::uint32_t> timeouts;
  std::size_t maxTransfer = SIZE_MAX;  // the device sends a message in parts of this size
  int stallReads = 0;  // so many reads time out although an answer is pending (it comes late)
  int stallAfterParts = -1;  // after this many parts of a message nothing more arrives
  bool unplugged = false;
  bool denied = false;
  bool zeroRead = false;  // the next read returns 0, as after a protocol fault
  bool hasMsgInAttr = true;
  bool hasSetTimeout = true;
  bool lastEom = false;
  int partsSent = 0;
  int opens = 0;
  int closes = 0;
};

class StandinIo final : public SystemIo {
 public:
  explicit StandinIo(const TempRoot& root) : SystemIo(root.path()) {}

  std::map<std::string, FakeUsbDevice> devices;  // by node, "/dev/usbtmc0"
  std::vector<std::string> deniedPaths;  // other paths access() refuses for reading or writing

  int open(const std::string& path, int flags) override {
    const auto it = devices.find(path);
    if (it == devices.end()) return SystemIo::open(path, flags);
    FakeUsbDevice& d = it->second;
    if (d.denied) return -EACCES;
    if (d.unplugged) return -ENODEV;
    ++d.opens;
    const int fd = nextFd_++;
    fds_[fd] = path;
    return fd;
  }
  int close(int fd) override {
    const auto it = fds_.find(fd);
    if (it == fds_.end()) return SystemIo::close(fd);
    ++devices[it->second].closes;
    fds_.erase(it);
    return 0;
  }
  std::int64_t write(int fd, const void* buf, std::size_t count) override {
    FakeUsbDevice* d = device(fd);
    if (d == nullptr) return SystemIo::write(fd, buf, count);
    if (d->unplugged) return -ENODEV;
    const std::string message(static_cast<const char*>(buf), count);
    d->written.push_back(message);
    const auto a = d->answers.find(message);
    if (a != d->answers.end()) d->pending.push_back(a->second);
    if (d->respond) {
      std::string answer = d->respond(message);
      if (!answer.empty()) d->pending.push_back(std::move(answer));
    }
    return static_cast<std::int64_t>(count);
  }
  std::int64_t read(int fd, void* buf, std::size_t count) override {
    FakeUsbDevice* d = device(fd);
    if (d == nullptr) return SystemIo::read(fd, buf, count);  // sysfs files
    if (d->unplugged) return -ENODEV;
    if (d->zeroRead) {
      d->zeroRead = false;
      return 0;
    }
    if (d->stallReads > 0) {
      --d->stallReads;
      return -ETIMEDOUT;
    }
    if (d->pending.empty() || d->partsSent == d->stallAfterParts) return -ETIMEDOUT;
    std::string& m = d->pending.front();
    const std::size_t n = std::min({count, d->maxTransfer, m.size()});
    std::memcpy(buf, m.data(), n);
    m.erase(0, n);
    ++d->partsSent;
    d->lastEom = m.empty();
    if (m.empty()) {
      d->pending.pop_front();
      d->partsSent = 0;
    }
    return static_cast<std::int64_t>(n);
  }
  int ioctl(int fd, unsigned long request, void* arg) override {
    FakeUsbDevice* d = device(fd);
    if (d == nullptr) return SystemIo::ioctl(fd, request, arg);
    d->ioctls.push_back(request);
    if (d->unplugged) return -ENODEV;
    if (request == kUsbtmcIoctlMsgInAttr) {
      if (!d->hasMsgInAttr) return -EBADRQC;
      *static_cast<std::uint8_t*>(arg) = d->lastEom ? 1 : 0;
      return 0;
    }
    if (request == kUsbtmcIoctlSetTimeout) {
      if (!d->hasSetTimeout) return -ENOTTY;
      const std::uint32_t v = *static_cast<std::uint32_t*>(arg);
      if (v < 100) return -EINVAL;
      d->timeouts.push_back(v);
      return 0;
    }
    if (request == kUsbtmcIoctlClear) {
      d->pending.clear();
      d->partsSent = 0;
      d->stallReads = 0;
      return 0;
    }
    return -EBADRQC;
  }
  int access(const std::string& path, int mode) override {
    const bool denied =
        std::find(deniedPaths.begin(), deniedPaths.end(), path) != deniedPaths.end();
    if (mode != F_OK && denied) {
      return -EACCES;
    }
    const auto it = devices.find(path);
    if (it == devices.end()) return SystemIo::access(path, mode);
    return it->second.denied && mode != F_OK ? -EACCES : 0;
  }

  int openDescriptors() const { return static_cast<int>(fds_.size()); }

 private:
  FakeUsbDevice* device(int fd) {
    const auto it = fds_.find(fd);
    return it == fds_.end() ? nullptr : &devices[it->second];
  }

  std::map<int, std::string> fds_;
  int nextFd_ = 1000;
};

}  // namespace kalivor::visa::testing
