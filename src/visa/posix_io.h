// SPDX-License-Identifier: MIT
#pragma once
// The system calls the usbtmc and GPIB backends make, behind one small interface so tests can run
// them against a fake sysfs tree and stand-in devices. Results follow the kernel's convention:
// a count or descriptor when >= 0, minus the errno value on failure (no global errno involved).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kalivor::visa {

class PosixIo {
 public:
  virtual ~PosixIo() = default;
  // Paths are the system's own ("/dev/usbtmc0", "/sys/class/usbmisc").
  virtual int open(const std::string& path, int flags) = 0;
  virtual int close(int fd) = 0;
  virtual std::int64_t read(int fd, void* buf, std::size_t count) = 0;
  virtual std::int64_t write(int fd, const void* buf, std::size_t count) = 0;
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  // 0 when the path can be reached with the mode (R_OK, W_OK, F_OK...), else -errno.
  virtual int access(const std::string& path, int mode) = 0;
  // Names in a directory without "." and "..", sorted; nullopt when it cannot be listed.
  virtual std::optional<std::vector<std::string>> listDir(const std::string& path) = 0;
  // The whole content of a small file (sysfs attributes); nullopt when it cannot be read.
  virtual std::optional<std::string> readText(const std::string& path) = 0;
};

// The real calls. With a root, every path is taken below it ("/dev/x" -> root + "/dev/x"), so a
// directory tree made by a test can stand for /sys and /dev.
class SystemIo : public PosixIo {
 public:
  explicit SystemIo(std::string root = {}) : root_(std::move(root)) {}

  int open(const std::string& path, int flags) override;
  int close(int fd) override;
  std::int64_t read(int fd, void* buf, std::size_t count) override;
  std::int64_t write(int fd, const void* buf, std::size_t count) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  int access(const std::string& path, int mode) override;
  std::optional<std::vector<std::string>> listDir(const std::string& path) override;
  std::optional<std::string> readText(const std::string& path) override;

  const std::string& root() const { return root_; }

 protected:
  std::string full(const std::string& path) const { return root_ + path; }

 private:
  std::string root_;
};

std::shared_ptr<PosixIo> systemIo();

}  // namespace kalivor::visa
