// SPDX-License-Identifier: MIT
#include "store/run_database.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

#include "store/csv_export.h"
#include "store/record_files.h"
#include "store/record_reader.h"
#include "store/record_lock.h"
#include "store_fixture.h"

namespace kalivor::store {
namespace {

using test::TempDataFolder;

// fork(), with the child killed when the test process ends: a test that fails or is killed
// never leaves a child behind holding a record's lock.
pid_t forkDyingWithParent() {
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);  // the parent was gone before the line above
  }
  return child;
}

// A forked child that is killed and reaped when the test leaves, whatever way it leaves.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  // Waits at most `ms` for the child to end by itself.
  bool exitedWithin(int ms) {
    for (int waited = 0; waited <= ms; waited += 5) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      ::usleep(5000);
    }
    return false;
  }

 private:
  pid_t pid_;
};

std::vector<std::string> channelTexts(const std::string& prefix, int count = 20) {
  std::vector<std::string> ch;
  for (int c = 1; c <= count; ++c) ch.push_back(prefix + std::to_string(c));
  return ch;
}

TEST(RunDatabase, CreatesTableDataWithExactly22TextColumnsAndTheFolder) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1", &file).ok());
  EXPECT_EQ(file, folder.record("Record1"));

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA table_info(DATA)", -1, &s, nullptr);
  std::vector<std::string> names;
  while (sqlite3_step(s) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)), "TEXT");
  }
  sqlite3_finalize(s);
  sqlite3_prepare_v2(db, "SELECT group_concat(name) FROM sqlite_schema", -1, &s, nullptr);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "DATA");
  sqlite3_finalize(s);
  sqlite3_close(db);

  std::vector<std::string> expected = {"NUM", "Time"};
  for (int c = 1; c <= 20; ++c) expected.push_back("Ch" + std::to_string(c));
  EXPECT_EQ(names, expected);

  // "0" stores nothing.
  std::filesystem::path none = "unchanged";
  EXPECT_TRUE(CreateRunDatabase(folder.root(), "0", &none).ok());
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(listRecordFiles(folder.root()), std::vector<std::string>{"Record1.mdb"});
}

TEST(RunDatabase, CreationNeverTouchesAnExistingEntry) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record2", test::numbered(1, 3));
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record2").ok());
  EXPECT_EQ(test::storedColumn(file, 0), (std::vector<std::string>{"1", "2", "3"}));

  // Not even a file that is no database, nor a read-only one.
  test::writeFile(folder.record("Record3"), "not a database");
  std::filesystem::permissions(folder.record("Record3"), std::filesystem::perms::owner_read);
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record3").ok());
  EXPECT_EQ(test::readFile(folder.record("Record3")), "not a database");
}

// Whether `file` opens as a record a run can use.
bool isUsableRecord(const std::filesystem::path& file) {
  RunDatabase run;
  return run.OpenRunDatabase(file).ok();
}

// Creations killed at each of their steps: every .mdb there is a whole record, the builds left
// by the kills are never listed, and the next creation of a name clears them away.
detail::CreationStep killAt;

TEST(RunDatabase, CreationKilledAtAnyStepLeavesNoHalfRecord) {
  TempDataFolder folder;
  std::filesystem::create_directories(folder.db());
  const std::vector<detail::CreationStep> steps = {
      detail::CreationStep::BuildOpened, detail::CreationStep::TableBuilt,
      detail::CreationStep::BuildSynced, detail::CreationStep::NameLocked,
      detail::CreationStep::Published};
  for (std::size_t k = 0; k < steps.size(); ++k) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      killAt = steps[k];
      detail::creationStepHook = [](detail::CreationStep at) {
        if (at == killAt) ::raise(SIGKILL);
      };
      (void)CreateRunDatabase(folder.root(), "Record" + std::to_string(k));
      ::_exit(0);  // the step was never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << k;
  }
  // Only the kill after publishing left a record, and it is whole.
  EXPECT_EQ(listRecordFiles(folder.root()), std::vector<std::string>{"Record4.mdb"});
  EXPECT_TRUE(isUsableRecord(folder.record("Record4")));
  for (std::size_t k = 0; k < steps.size(); ++k) {
    const std::string name = "Record" + std::to_string(k);
    ASSERT_TRUE(CreateRunDatabase(folder.root(), name).ok()) << name;
    EXPECT_TRUE(isUsableRecord(folder.record(name))) << name;
  }
  // No build of a killed creation stays, nor a lock file.
  for (const auto& name : test::entriesOf(folder.db())) {
    EXPECT_TRUE(name.size() > 4 && name.compare(name.size() - 4, 4, ".mdb") == 0) << name;
  }
}

TEST(RunDatabase, ABuildStillInProgressIsNotTakenForALeftover) {
  TempDataFolder folder;
  std::filesystem::create_directories(folder.db());
  const auto dead = folder.db() / ".Record1.mdb-new-aaaaaaaa";
  const auto live = folder.db() / ".Record1.mdb-new-bbbbbbbb";
  test::writeFile(dead, "");
  test::writeFile(dead.string() + "-journal", "x");
  test::writeFile(live, "");
  // The lock of a creation still at work, as another process would hold it.
  const int fd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_TRUE(listRecordFiles(folder.root()).empty());

  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1").ok());
  EXPECT_EQ(test::entriesOf(folder.db()),
            (std::vector<std::string>{".Record1.mdb-new-bbbbbbbb", "Record1.mdb"}));
  ::close(fd);
  EXPECT_TRUE(isUsableRecord(folder.record("Record1")));
}

// What an interrupted creation left before builds were published whole: an empty Record1.mdb.
// It is no record, says so, and stays as it is.
TEST(RunDatabase, AnEmptyFileIsRefusedWithAClearMessageAndNotTouched) {
  TempDataFolder folder;
  test::writeFile(folder.record("Record1"), "");
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1").ok());
  RunDatabase run;
  const StoreStatus st = run.OpenRunDatabase(folder.record("Record1"));
  EXPECT_EQ(st.error, "Cannot open the record " + folder.record("Record1").string() +
                          ": the file is empty, it holds no scans table DATA");
  EXPECT_EQ(std::filesystem::file_size(folder.record("Record1")), 0u);
  EXPECT_EQ(test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

TEST(RunDatabase, UnsafeNamesCreateNothing) {
  TempDataFolder folder;
  for (const char* name : {"../Record1", "Record1/x", "Record\n1", "", "  "}) {
    const StoreStatus st = CreateRunDatabase(folder.root(), name);
    EXPECT_FALSE(st.ok()) << name;
    EXPECT_NE(st.error.find("not allowed"), std::string::npos) << st.error;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.root() / "Record1.mdb"));
  EXPECT_FALSE(std::filesystem::exists(folder.db()));
}

class Renumbering : public ::testing::TestWithParam<RenumberMethod> {};

TEST_P(Renumbering, ClosesGapsDeletesNullRowsAndTheRunContinuesAfterThem) {
  TempDataFolder folder;
  const auto file =
      test::writeRecord(folder, "Record1", {"1", "2", "5", "6", std::nullopt, "8", "9"});
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file, kRunJournal, GetParam()).ok());
  EXPECT_EQ(run.RowBase(), 6);
  EXPECT_EQ(test::storedColumn(file, 0),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
  EXPECT_EQ(test::storedColumn(file, 1),
            (std::vector<std::string>{"t0", "t1", "t2", "t3", "t5", "t6"}));
  ASSERT_TRUE(run.AppendReadingRow(run.RowBase() + 1, "2024/01/02 03:04:05", channelTexts("v"))
                  .ok());
  EXPECT_EQ(test::storedColumn(file, 0).back(), "7");
}

TEST_P(Renumbering, RewritesEveryNumberThatIsNotItsDecimalText) {
  TempDataFolder folder;
  const auto file = test::writeRecord(
      folder, "Record1", {"05", "abc", std::nullopt, "3", "3", "", "7.0", std::nullopt, "8"});
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file, kRunJournal, GetParam()).ok());
  EXPECT_EQ(run.RowBase(), 7);
  EXPECT_EQ(test::storedColumn(file, 0),
            (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7"}));
}

INSTANTIATE_TEST_SUITE_P(BothMethods, Renumbering,
                         ::testing::Values(RenumberMethod::RowByRow, RenumberMethod::SetBased));

TEST(RunDatabase, ASecondRunAppendsAfterTheFirstAndMissingChannelsAreBlank) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record4", &file).ok());
  {
    RunDatabase run;
    ASSERT_TRUE(run.OpenRunDatabase(file).ok());
    EXPECT_EQ(run.RowBase(), 0);
    for (int scan = 1; scan <= 3; ++scan) {
      ASSERT_TRUE(run.AppendReadingRow(run.RowBase() + scan, "t" + std::to_string(scan),
                                       channelTexts("a"))
                      .ok());
    }
    // Committed before returning: another connection sees every scan while the run is open.
    EXPECT_EQ(test::storedColumn(file, 0).size(), 3u);
  }
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record4").ok());
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_EQ(run.RowBase(), 3);
  const auto ten = channelTexts("b", 10);  // a 10-channel card
  ASSERT_TRUE(run.AppendReadingRow(run.RowBase() + 1, "t4", ten).ok());
  run.CloseRunDatabase();
  run.CloseRunDatabase();  // closing twice is harmless

  EXPECT_EQ(test::storedColumn(file, 0), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(test::storedColumn(file, 1), (std::vector<std::string>{"t1", "t2", "t3", "t4"}));
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT ch1, ch10, ch11, ch20 FROM data WHERE num = '4'", -1, &s,
                     nullptr);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "b1");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)), "b10");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)), " ");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 3)), " ");
  sqlite3_finalize(s);
  sqlite3_close(db);
  // The run's companions are gone once it is closed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.db()), {}), 1);
}

TEST(RunDatabase, FilesThatAreNoRecordGiveAClearMessageAndStayUnchanged) {
  TempDataFolder folder;
  const std::string garbage(4096, '\x5a');
  test::writeFile(folder.record("Record1"), garbage);
  RunDatabase run;
  StoreStatus st = run.OpenRunDatabase(folder.record("Record1"));
  ASSERT_FALSE(st.ok());
  EXPECT_NE(st.error.find(folder.record("Record1").string()), std::string::npos) << st.error;
  EXPECT_NE(st.error.find("file is not a database"), std::string::npos) << st.error;
  EXPECT_EQ(test::readFile(folder.record("Record1")), garbage);
  EXPECT_FALSE(run.isOpen());
  EXPECT_FALSE(isRecordInUse(folder.record("Record1")));

  test::execSql(folder.record("Other"), "CREATE TABLE results (x TEXT)");
  st = run.OpenRunDatabase(folder.record("Other"));
  EXPECT_NE(st.error.find("no such table: DATA"), std::string::npos) << st.error;

  st = run.OpenRunDatabase(folder.record("Missing"));
  EXPECT_NE(st.error.find("does not exist"), std::string::npos) << st.error;
  EXPECT_FALSE(std::filesystem::exists(folder.record("Missing")));

  st = run.AppendReadingRow(1, "t", channelTexts("x"));
  EXPECT_NE(st.error.find("not open"), std::string::npos) << st.error;
}

TEST(RunDatabase, HoldsALockThatOthersCanTest) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 2));
  EXPECT_FALSE(isRecordInUse(file));
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_TRUE(isRecordInUse(file));

  RunDatabase second;
  const StoreStatus st = second.OpenRunDatabase(file);
  EXPECT_NE(st.error.find("in use by another run"), std::string::npos) << st.error;
  EXPECT_TRUE(isRecordInUse(file));  // the refused open must not drop the first run's lock

  // The browser's readers may open the record meanwhile; the run keeps storing.
  EXPECT_EQ(test::storedColumn(file, 0).size(), 2u);
  EXPECT_TRUE(run.AppendReadingRow(3, "t", channelTexts("x")).ok());

  run.CloseRunDatabase();
  EXPECT_FALSE(isRecordInUse(file));
  EXPECT_FALSE(std::filesystem::exists(lockFilePath(file)));
}

// A run in another process: the child opens the record and waits; the parent tests and tries to
// delete it.
TEST(RunDatabase, ALockHeldByAnotherProcessRefusesDeletion) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record5", test::numbered(1, 2));
  int ready[2];
  int done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t child = forkDyingWithParent();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(done[1]);  // so the parent's end closing is seen as end of file
    RunDatabase run;
    const char ok = run.OpenRunDatabase(file).ok() ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(done[0], &c, 1);
    run.CloseRunDatabase();
    ::_exit(0);
  }
  ChildGuard guard(child);
  ::close(ready[1]);
  ::close(done[0]);
  ready[1] = done[0] = -1;
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_TRUE(isRecordInUse(file));
  RunDatabase here;
  EXPECT_FALSE(here.OpenRunDatabase(file).ok());
  EXPECT_EQ(deleteRecordFile(folder.root(), "Record5.mdb"), DeleteOutcome::InUse);
  EXPECT_TRUE(std::filesystem::exists(file));

  (void)!::write(done[1], "x", 1);
  EXPECT_TRUE(guard.exitedWithin(10'000));
  EXPECT_FALSE(isRecordInUse(file));
  EXPECT_EQ(deleteRecordFile(folder.root(), "Record5.mdb"), DeleteOutcome::Deleted);
  EXPECT_FALSE(std::filesystem::exists(file));
  for (int fd : {ready[0], done[1]}) ::close(fd);
}

// The scans a reader sees in `file` (Time column), through the export every user has.
std::vector<std::string> exportedTimes(const std::filesystem::path& file) {
  std::vector<std::string> times;
  const auto csv = file.parent_path() / "check.csv";
  std::filesystem::remove(csv);
  if (!exportRecordCsv(file, csv).ok()) return {"<export failed>"};
  std::istringstream lines(test::readFile(csv));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("\"Scan Cycle\"", 0) == 0) continue;
    const auto a = line.find("\",\"") + 3;
    times.push_back(line.substr(a, line.find('"', a) - a));
  }
  std::filesystem::remove(csv);
  return times;
}

TEST(RecordReplacedUnderARun, TheReplacementKeepsItsRowsAndTheRunsScansStayWithTheirFile) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1", &file).ok());
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  for (int scan = 1; scan <= 3; ++scan) {
    ASSERT_TRUE(run.AppendReadingRow(scan, "old" + std::to_string(scan), channelTexts("o")).ok());
  }
  // The user moves the record away and puts another in its place while the run goes on.
  std::filesystem::rename(file, folder.record("Backup"));
  const auto other = test::writeRecord(folder, "Other", test::numbered(1, 2));
  std::filesystem::rename(other, file);

  // Readers see the replacement's own rows, before and after the run notices.
  EXPECT_EQ(exportedTimes(file), (std::vector<std::string>{"t0", "t1"}));
  const StoreStatus st = run.AppendReadingRow(4, "old4", channelTexts("o"));
  EXPECT_NE(st.error.find("removed or replaced"), std::string::npos) << st.error;
  run.CloseRunDatabase();
  EXPECT_EQ(test::entriesOf(folder.db()), (std::vector<std::string>{"Backup.mdb", "Record1.mdb"}));
  EXPECT_EQ(exportedTimes(file), (std::vector<std::string>{"t0", "t1"}));
  // The run's scans went into the file it had open.
  EXPECT_EQ(exportedTimes(folder.record("Backup")),
            (std::vector<std::string>{"old1", "old2", "old3"}));
  // And the next run on the name carries on after the replacement's rows.
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_EQ(run.RowBase(), 2);
}

TEST(RecordReplacedUnderARun, AKilledRunsJournalIsNeverReplayedOverTheReplacement) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1", &file).ok());
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = forkDyingWithParent();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RunDatabase run;
    bool ok = run.OpenRunDatabase(file).ok();
    for (int scan = 1; ok && scan <= 3; ++scan) {
      ok = run.AppendReadingRow(scan, "old", channelTexts("o")).ok();
    }
    (void)!::write(ready[1], ok ? "y" : "n", 1);
    ::pause();  // killed here, its scans still in the -wal
    ::_exit(0);
  }
  ChildGuard guard(child);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  ::close(ready[0]);
  ::close(ready[1]);
  const auto other = test::writeRecord(folder, "Other", test::numbered(1, 2));
  std::filesystem::rename(other, file);
  ::kill(child, SIGKILL);
  ASSERT_TRUE(guard.exitedWithin(10'000));
  ASSERT_TRUE(std::filesystem::exists(file.string() + "-wal"));

  EXPECT_EQ(exportedTimes(file), (std::vector<std::string>{"t0", "t1"}));
  RecordReader reader;
  ASSERT_TRUE(reader.open(file).ok());
  std::int64_t count = 0;
  ASSERT_TRUE(reader.renumberAndCount(count).ok());
  EXPECT_EQ(count, 2);
  reader.close();
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_EQ(run.RowBase(), 2);
  ASSERT_TRUE(run.AppendReadingRow(3, "new", channelTexts("n")).ok());
  run.CloseRunDatabase();
  EXPECT_EQ(exportedTimes(file), (std::vector<std::string>{"t0", "t1", "new"}));
  EXPECT_EQ(test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

// A run refuses a record whose pages are damaged; the file must be exactly as it was.
TEST(RunDatabase, ADamagedRecordThatIsRefusedIsNotWritten) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 300));
  std::string bytes = test::readFile(file);
  ASSERT_GT(bytes.size(), 4u * 4096);
  for (std::size_t i = 3 * 4096; i < 3 * 4096 + 200; ++i) bytes[i] = 'Z';
  test::writeFile(file, bytes);
  RunDatabase run;
  const StoreStatus st = run.OpenRunDatabase(file);
  EXPECT_NE(st.error.find("malformed"), std::string::npos) << st.error;
  EXPECT_EQ(test::readFile(file), bytes);
  EXPECT_EQ(test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});
}

TEST(RecordNames, BlanksAtEitherEndAreRefusedLowerCaseIsFine) {
  TempDataFolder folder;
  for (const char* name : {" Record1", "Record1 ", "Record1\t", " "}) {
    EXPECT_FALSE(isSafeRecordName(name)) << '"' << name << '"';
    const StoreStatus st = CreateRunDatabase(folder.root(), name);
    EXPECT_NE(st.error.find("not allowed"), std::string::npos) << st.error;
  }
  for (const char* name : {"record1", "my run_2", "Record 1", "abc-def"}) {
    EXPECT_TRUE(isSafeRecordName(name)) << name;
    std::filesystem::path file;
    ASSERT_TRUE(CreateRunDatabase(folder.root(), name, &file).ok()) << name;
    EXPECT_EQ(file.filename(), std::string(name) + ".mdb");
    EXPECT_TRUE(isUsableRecord(file)) << name;
  }
  EXPECT_EQ(listRecordFiles(folder.root()),
            (std::vector<std::string>{"Record 1.mdb", "abc-def.mdb", "my run_2.mdb",
                                      "record1.mdb"}));
}

}  // namespace
}  // namespace kalivor::store
