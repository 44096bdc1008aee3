// SPDX-License-Identifier: MIT
// Record files that fail under a run: removed, made read-only, a full disk, a store that refuses a
// scan in the middle of a fetch. The run must stop with a message naming the record, never tell
// of a scan it did not store, keep what it stored intact, and run again once the cause is gone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "hardening/hardening_rig.h"
#include "store/record_browser.h"
#include "store/store_fixture.h"

namespace kalivor::hardening {
namespace {

// Whether some text holds `part`, ignoring letter case ("Read-only file system").
bool mentions(const std::vector<std::string>& texts, const std::string& part) {
  for (const auto& t : texts) {
    if (toLowerAscii(t).find(toLowerAscii(part)) != std::string::npos) return true;
  }
  return false;
}

std::size_t rowsIn(const fs::path& file) {
  const auto contents = readRecord(file);
  return contents ? contents->rows.size() : 0;
}

// A run that stopped because a record failed: a message naming it, then the end of the run, and
// the run controls usable again (the instruments are fine).
void expectEndedByRecordFailure(const Program& p, const std::string& naming) {
  const auto texts = p.messages.texts();
  ASSERT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
  EXPECT_NE(texts[0].find(naming), std::string::npos) << texts[0];
  EXPECT_EQ(texts[1], "End of Job.");
  EXPECT_FALSE(p.run.running());
  EXPECT_FALSE(p.run.instrumentFailed());
  EXPECT_TRUE(p.display.isEnabled("StartReading"));
}

TEST(RecordFaults, StoreRefusingAScanInsideAFetchReportsOnlyTheStoredOnes) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(1);
  p.tables.setup[0].scanCount_Status = 0;  // one fetch, five scans of 20 readings
  p.tables.setup[0].ScanCount = "100";
  p.tables.DatabaseName[0] = "Record1";
  p.faultyRecords.failAppend = 3;
  p.start();
  expectEndedByRecordFailure(p, "slot 0");
  EXPECT_EQ(p.log.bySlot[0].size(), 2u);
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, p.log.bySlot[0]);

  p.faultyRecords.failAppend = 0;
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 2, p.log.bySlot[0]);
}

// A record deleted by hand while the run writes to it (SQLite would go on writing into the
// unlinked file and lose every scan at the end without a word).
TEST(RecordFaults, RecordRemovedMidRunStopsTheRunAndTheNextRunStartsAFreshRecord) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(2);
  p.logUntilStop();
  p.stopAfterScans(40);
  std::size_t reportedAtRemoval = 0;
  p.pump.set([&](std::int64_t) {
    if (reportedAtRemoval == 0 && p.log.bySlot[0].size() >= 3) {
      reportedAtRemoval = p.log.bySlot[0].size();
      fs::remove(p.recordPath("Record1"));
    }
    if (p.tables.ScansDone[0] + p.tables.ScansDone[1] >= 40 && p.run.running()) p.run.StopReading_Click();
  });
  p.start();
  ASSERT_GT(reportedAtRemoval, 0u);
  expectEndedByRecordFailure(p, "Record1.mdb");
  EXPECT_EQ(p.log.bySlot[0].size(), reportedAtRemoval) << "scans reported stored into a removed file";
  EXPECT_FALSE(fs::exists(p.recordPath("Record1")));
  expectRecordHoldsReportedScans(p.recordPath("Record2"), 0, p.log.bySlot[1]);

  const std::size_t record2 = rowsIn(p.recordPath("Record2"));
  p.logUntilStop();
  p.stopAfterScans(6);
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, p.log.bySlot[0]);
  expectRecordHoldsReportedScans(p.recordPath("Record2"), record2, p.log.bySlot[1]);
}

// Permissions taken away under a running run do not touch the file it already has open: every
// scan still goes in.
TEST(RecordFaults, RecordMadeReadOnlyMidRunKeepsStoringWhatTheRunHasOpen) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(2);
  p.logUntilStop();
  bool done = false;
  p.pump.set([&](std::int64_t) {
    if (!done && p.log.bySlot[0].size() >= 3) {
      done = true;
      fs::permissions(p.recordPath("Record1"), fs::perms::owner_read | fs::perms::group_read |
                                                   fs::perms::others_read);
    }
    if (p.tables.ScansDone[0] + p.tables.ScansDone[1] >= 12 && p.run.running()) p.run.StopReading_Click();
  });
  p.start();
  ASSERT_TRUE(done);
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  EXPECT_GT(p.log.bySlot[0].size(), 3u);
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, p.log.bySlot[0]);
  expectRecordHoldsReportedScans(p.recordPath("Record2"), 0, p.log.bySlot[1]);
}

// A small tmpfs of our own: a real full disk and a real read-only file system. Needs root and a
// kernel that lets us mount; otherwise nullopt and the caller falls back.
class Tmpfs {
 public:
  static std::unique_ptr<Tmpfs> mount(const fs::path& at, const std::string& size) {
    fs::create_directories(at);
    if (::mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) != 0) {
      return nullptr;
    }
    return std::unique_ptr<Tmpfs>(new Tmpfs(at));
  }
  ~Tmpfs() { ::umount2(at_.c_str(), MNT_DETACH); }
  bool setReadOnly(bool ro) {
    return ::mount("tmpfs", at_.c_str(), nullptr, MS_REMOUNT | (ro ? MS_RDONLY : 0), nullptr) == 0;
  }

 private:
  explicit Tmpfs(fs::path at) : at_(std::move(at)) {}
  fs::path at_;
};

// Without a tmpfs: a per-process file size limit, so the record's writes fail as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of a kill
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { lift(); }
  void lift() {
    if (lifted_) return;
    setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previous_);
    lifted_ = true;
  }

 private:
  rlimit saved_{};
  sighandler_t previous_ = SIG_DFL;
  bool lifted_ = false;
};

TEST(RecordFaults, FullDiskStopsTheRunKeepsEveryStoredScanAndRecoversWhenThereIsRoom) {
  TempFolder folder;
  const fs::path data = folder.root() / "data";
  auto tmpfs = Tmpfs::mount(data, "320k");
  std::unique_ptr<FileSizeLimit> limit;
  const fs::path filler = data / "filler";
  if (tmpfs) {
    // Leave some room only, and take it back later.
    fs::create_directories(data / "db");
    std::ofstream(filler) << std::string(160 * 1024, 'x');
  } else {
    fs::create_directories(data);
    limit = std::make_unique<FileSizeLimit>(96 * 1024);
  }
  SCOPED_TRACE(tmpfs ? "full tmpfs" : "file size limit");
  Program p(data);
  p.connect(2);
  p.logUntilStop();
  p.stopAfterScans(2000);  // far beyond what fits
  p.start();
  const auto texts = p.messages.texts();
  ASSERT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
  EXPECT_TRUE(startsWith(texts[0], "Cannot store a scan in the record ")) << texts[0];
  EXPECT_TRUE(mentions(texts, "Record1.mdb") || mentions(texts, "Record2.mdb")) << texts[0];
  EXPECT_EQ(texts[1], "End of Job.");
  EXPECT_LT(p.log.bySlot[0].size() + p.log.bySlot[1].size(), 2000u);
  EXPECT_GT(p.log.bySlot[0].size(), 3u);

  // Room again: what was stored is all there, and the next run appends after it.
  if (tmpfs) fs::remove(filler);
  if (limit) limit->lift();
  const std::array<std::size_t, 2> stored = {p.log.bySlot[0].size(), p.log.bySlot[1].size()};
  expectRecordHoldsReportedScans(p.recordPath("Record1"), 0, p.log.bySlot[0]);
  expectRecordHoldsReportedScans(p.recordPath("Record2"), 0, p.log.bySlot[1]);
  p.logUntilStop();
  p.stopAfterScans(6);
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  expectRecordHoldsReportedScans(p.recordPath("Record1"), stored[0], p.log.bySlot[0]);
  expectRecordHoldsReportedScans(p.recordPath("Record2"), stored[1], p.log.bySlot[1]);
}

// A record on a file system that has become read-only (or a file without write permission for a
// user who is not root): the next run refuses it with a message and leaves it as it was.
TEST(RecordFaults, ReadOnlyRecordIsRefusedAtStartAndLeftAsItWas) {
  TempFolder folder;
  const fs::path data = folder.root() / "data";
  std::unique_ptr<Tmpfs> tmpfs;
  if (::geteuid() == 0) {
    tmpfs = Tmpfs::mount(data, "1m");
    if (!tmpfs) GTEST_SKIP() << "root, but no tmpfs to make read-only: permissions would not bind";
  }
  fs::create_directories(data);
  Program p(data);
  p.connect(1);
  p.logUntilStop();
  p.stopAfterScans(4);
  p.start();
  ASSERT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  const auto before = readRecord(p.recordPath("Record1"));
  ASSERT_TRUE(before);

  if (tmpfs) {
    ASSERT_TRUE(tmpfs->setReadOnly(true));
  } else {
    fs::permissions(p.recordPath("Record1"), fs::perms::owner_read);
  }
  p.logUntilStop();
  p.start();
  const auto texts = p.messages.texts();
  ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
  EXPECT_TRUE(mentions(texts, "Record1.mdb")) << texts[0];
  EXPECT_TRUE(mentions(texts, "read-only")) << texts[0];
  EXPECT_TRUE(p.display.isEnabled("StartReading"));
  EXPECT_TRUE(p.log.bySlot[0].empty());

  if (tmpfs) {
    ASSERT_TRUE(tmpfs->setReadOnly(false));
  } else {
    fs::permissions(p.recordPath("Record1"), fs::perms::owner_read | fs::perms::owner_write);
  }
  const auto after = readRecord(p.recordPath("Record1"));
  ASSERT_TRUE(after);
  EXPECT_EQ(after->rows, before->rows);
  p.logUntilStop();
  p.stopAfterScans(3);
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  expectRecordHoldsReportedScans(p.recordPath("Record1"), before->rows.size(), p.log.bySlot[0]);
}


// Reading a record in WAL mode used to leave -wal and -shm beside it when the record could not
// be written, with the record's read-only permissions: once it was writable again no run could
// open it ("attempt to write a readonly database") until the -shm was deleted by hand.
TEST(RecordFaults, BrowsingAReadOnlyRecordLeavesItUsableOnceWritableAgain) {
  TempFolder folder;
  Program p(folder.root());
  p.connect(1);
  p.logUntilStop();
  p.stopAfterScans(3);
  p.start();
  ASSERT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  const std::size_t stored = p.log.bySlot[0].size();

  // Browsed by a user who may read the record but not write it (root is made one for this).
  const fs::path db = folder.root() / "db";
  fs::permissions(folder.root(), fs::perms::owner_all | fs::perms::others_read |
                                     fs::perms::others_exec);
  fs::permissions(db, fs::perms::all);
  fs::permissions(p.recordPath("Record1"), fs::perms::owner_read | fs::perms::others_read);
  const int browsed = store::test::asOrdinaryUser([&] {
    RecordingMessages shown;
    store::RecordBrowser browser(folder.root(), shown);
    browser.Open("Record1.mdb");
    return browser.rows().size() == stored && shown.shown.empty() ? 0 : 1;
  });
  EXPECT_EQ(browsed, 0);
  EXPECT_EQ(store::test::entriesOf(db), std::vector<std::string>{"Record1.mdb"});
  fs::permissions(p.recordPath("Record1"), fs::perms::owner_read | fs::perms::owner_write);

  p.logUntilStop();
  p.stopAfterScans(3);
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  expectRecordHoldsReportedScans(p.recordPath("Record1"), stored, p.log.bySlot[0]);
}

// On a file system that has become read-only SQLite cannot make the -shm a WAL record needs for
// reading; the record is still shown, and logged into again once the file system is writable.
TEST(RecordFaults, ARecordOnAReadOnlyFileSystemIsStillBrowsed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system of its own";
  TempFolder folder;
  const fs::path data = folder.root() / "data";
  auto tmpfs = Tmpfs::mount(data, "1m");
  if (!tmpfs) GTEST_SKIP() << "no tmpfs can be mounted here";
  Program p(data);
  p.connect(1);
  p.logUntilStop();
  p.stopAfterScans(4);
  p.start();
  ASSERT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  const std::size_t stored = p.log.bySlot[0].size();

  ASSERT_TRUE(tmpfs->setReadOnly(true));
  RecordingMessages shown;
  store::RecordBrowser browser(data, shown);
  browser.Open("Record1.mdb");
  EXPECT_TRUE(shown.texts().empty()) << ::testing::PrintToString(shown.texts());
  ASSERT_EQ(browser.rows().size(), stored);
  ASSERT_TRUE(tmpfs->setReadOnly(false));
  EXPECT_EQ(store::test::entriesOf(data / "db"), std::vector<std::string>{"Record1.mdb"});

  p.logUntilStop();
  p.stopAfterScans(2);
  p.start();
  EXPECT_EQ(p.messages.texts(), std::vector<std::string>{"End of Job."});
  expectRecordHoldsReportedScans(p.recordPath("Record1"), stored, p.log.bySlot[0]);
}

}  // namespace
}  // namespace kalivor::hardening
