// SPDX-License-Identifier: MIT
#pragma once
// The "record in use" lock a run holds on its record file, testable by other processes.
//
// The lock is a BSD flock on a companion file "<record>-lock", not on the record itself: SQLite
// keeps POSIX (fcntl) locks on the record, and POSIX locks of a process vanish as soon as that
// process closes *any* descriptor of the file. A descriptor of our own on the record (or an
// in-use test that opens and closes it) would silently drop the locks of a run or browser in the
// same process. The companion file keeps the two lock kinds apart.
#include <filesystem>

#include "store/store_types.h"

namespace kalivor::store {

std::filesystem::path lockFilePath(const std::filesystem::path& recordFile);

class RecordLock {
 public:
  RecordLock() = default;
  ~RecordLock() { release(); }
  RecordLock(RecordLock&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
  }
  RecordLock& operator=(RecordLock&& other) noexcept;
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

  // Takes the lock without waiting; fails with a clear message when another run (in this or
  // another process) holds it; `busy` (optional) tells that case apart from other failures.
  StoreStatus acquire(const std::filesystem::path& recordFile, bool* busy = nullptr);
  // Removes the companion file and drops the lock.
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::filesystem::path path_;
};

// True while some run (in this or another process) holds the record's lock.
bool isRecordInUse(const std::filesystem::path& recordFile);

}  // namespace kalivor::store
