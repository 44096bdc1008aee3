// SPDX-License-Identifier: MIT
#include "visa/posix_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kalivor::visa {

namespace {

// Interrupted calls are repeated: a signal arriving during a read is not the device's fault.
template <typename F>
auto retryInterrupted(F call) {
  for (;;) {
    const auto r = call();
    if (r >= 0) return static_cast<decltype(r)>(r);
    if (errno != EINTR) return static_cast<decltype(r)>(-errno);
  }
}

}  // namespace

int SystemIo::open(const std::string& path, int flags) {
  const std::string p = full(path);
  return retryInterrupted([&] { return ::open(p.c_str(), flags | O_CLOEXEC); });
}

// close() is not repeated on EINTR: on Linux the descriptor is gone either way.
int SystemIo::close(int fd) { return ::close(fd) == 0 ? 0 : -errno; }

std::int64_t SystemIo::read(int fd, void* buf, std::size_t count) {
  return retryInterrupted([&] { return static_cast<std::int64_t>(::read(fd, buf, count)); });
}

std::int64_t SystemIo::write(int fd, const void* buf, std::size_t count) {
  return retryInterrupted([&] { return static_cast<std::int64_t>(::write(fd, buf, count)); });
}

int SystemIo::ioctl(int fd, unsigned long request, void* arg) {
  return retryInterrupted([&] { return ::ioctl(fd, request, arg); });
}

int SystemIo::access(const std::string& path, int mode) {
  return ::access(full(path).c_str(), mode) == 0 ? 0 : -errno;
}

std::optional<std::vector<std::string>> SystemIo::listDir(const std::string& path) {
  DIR* dir = ::opendir(full(path).c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> SystemIo::readText(const std::string& path) {
  // Non-blocking so a path that turns out to be a device or a pipe cannot hang the listing.
  const int fd = open(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[512];
  // sysfs attributes are at most a page; the cap keeps a wrong path (a device node) harmless.
  while (text.size() < 65536) {
    const std::int64_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return text;
}

std::shared_ptr<PosixIo> systemIo() { return std::make_shared<SystemIo>(); }

}  // namespace kalivor::visa
