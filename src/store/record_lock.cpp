// SPDX-License-Identifier: MIT
#include "store/record_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "store/sqlite_record.h"

namespace kalivor::store {

std::filesystem::path lockFilePath(const std::filesystem::path& recordFile) {
  std::filesystem::path p = recordFile;
  p += "-lock";
  return p;
}

namespace {

std::string readAll(int fd) {
  char buf[128];
  const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

RecordLock& RecordLock::operator=(RecordLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    previous_ = std::move(other.previous_);
    other.fd_ = -1;
  }
  return *this;
}

StoreStatus RecordLock::acquire(const std::filesystem::path& recordFile, bool* busy) {
  release();
  if (busy != nullptr) *busy = false;
  const std::filesystem::path lockPath = lockFilePath(recordFile);
  // A holder that is releasing unlinks the file while still locked; whoever locked the unlinked
  // file retries on the new one, so two runs never both believe they hold the lock.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      return StoreStatus::failure(detail::recordFailureText(
          recordFile, "lock", "cannot create " + lockPath.string() + " (" +
                                  std::generic_category().message(errno) + ")"));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      if (err == EWOULDBLOCK) {
        if (busy != nullptr) *busy = true;
        return StoreStatus::failure(
            detail::recordFailureText(recordFile, "open", "it is in use by another run"));
      }
      return StoreStatus::failure(detail::recordFailureText(
          recordFile, "lock", std::generic_category().message(err)));
    }
    struct stat held{};
    struct stat named{};
    if (::fstat(fd, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      fd_ = fd;
      path_ = lockPath;
      previous_ = readAll(fd);
      return StoreStatus::success();
    }
    ::close(fd);
  }
  if (busy != nullptr) *busy = true;
  return StoreStatus::failure(
      detail::recordFailureText(recordFile, "open", "it is in use by another run"));
}

bool RecordLock::writeIdentity(const std::string& identity) {
  if (fd_ < 0 || ::ftruncate(fd_, 0) != 0) return false;
  return ::pwrite(fd_, identity.data(), identity.size(), 0) ==
         static_cast<ssize_t>(identity.size());
}

void RecordLock::release() {
  previous_.clear();
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

bool isRecordInUse(const std::filesystem::path& recordFile) {
  const std::filesystem::path lockPath = lockFilePath(recordFile);
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;  // no run has created the lock file
  const bool busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return busy;
}

}  // namespace kalivor::store

namespace kalivor::store {

std::string recordIdentity(const std::filesystem::path& recordFile) {
  struct stat st{};
  if (::stat(recordFile.c_str(), &st) != 0) return {};
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string lockedIdentity(const std::filesystem::path& recordFile) {
  const int fd = ::open(lockFilePath(recordFile).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return {};
  std::string identity = readAll(fd);
  ::close(fd);
  return identity;
}

bool journalsBelongElsewhere(const std::filesystem::path& recordFile) {
  const std::string locked = lockedIdentity(recordFile);
  return !locked.empty() && locked != recordIdentity(recordFile);
}

}  // namespace kalivor::store
