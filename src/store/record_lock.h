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
#include <string>

#include "store/store_types.h"

namespace kalivor::store {

std::filesystem::path lockFilePath(const std::filesystem::path& recordFile);

class RecordLock {
 public:
  RecordLock() = default;
  ~RecordLock() { release(); }
  RecordLock(RecordLock&& other) noexcept
      : fd_(other.fd_), path_(std::move(other.path_)), previous_(std::move(other.previous_)) {
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
  // What the lock file said before this acquire (empty for a new file); see recordIdentity.
  const std::string& previousIdentity() const { return previous_; }
  // Writes which file the holder has open into the lock file; false when it cannot.
  bool writeIdentity(const std::string& identity);
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::filesystem::path path_;
  std::string previous_;
};

// "<device>:<inode>" of the record file, empty when it cannot be read. A run writes it into its
// lock file: journals beside a record belong to the file the lock file names, and a record put
// in place of another under a run (or after a run was killed) is thereby told apart from it.
std::string recordIdentity(const std::filesystem::path& recordFile);
// The identity written in the record's lock file (a run holds it, or was killed holding it);
// empty when there is none.
std::string lockedIdentity(const std::filesystem::path& recordFile);
// Whether journals beside the record (-wal, -shm, -journal) belong to another file than the
// record now there: the lock file names a file other than this one.
bool journalsBelongElsewhere(const std::filesystem::path& recordFile);

// True while some run (in this or another process) holds the record's lock.
bool isRecordInUse(const std::filesystem::path& recordFile);

}  // namespace kalivor::store
