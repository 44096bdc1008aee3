// SPDX-License-Identifier: MIT
#include "store/record_reader.h"

#include <unistd.h>

#include "store/run_database.h"
#include "store_fixture.h"

namespace kalivor::store {
namespace {

using test::TempDataFolder;

// The one-query range read must find exactly what a lookup NUM='k' per row finds, also in a file
// that has not been renumbered (duplicates, "05", text, NULL).
TEST(RecordReader, RangeReadsMatchTheLookupOfEachNumber) {
  TempDataFolder folder;
  const auto file = test::writeRecord(
      folder, "Record1", {"1", "05", "3", "3", "abc", std::nullopt, "7", "-1", "9x", "10", " 2"});
  RecordReader reader;
  ASSERT_TRUE(reader.open(file).ok());
  std::vector<std::optional<std::string>> range;
  ASSERT_TRUE(reader.channelValues(4, -2, 12, range).ok());
  ASSERT_EQ(range.size(), 15u);
  std::vector<RecordRow> rows;
  bool any = false;
  ASSERT_TRUE(reader.pageRows(-2, 12, rows, any).ok());
  EXPECT_TRUE(any);
  for (std::int64_t k = -2; k <= 12; ++k) {
    std::optional<std::string> one;
    ASSERT_TRUE(reader.channelValue(4, k, one).ok());
    const auto i = static_cast<std::size_t>(k + 2);
    EXPECT_EQ(range[i], one) << "NUM " << k;
    EXPECT_EQ(rows[i][5], one.value_or("")) << "NUM " << k;
    EXPECT_EQ(rows[i][0], one ? std::to_string(k) : "") << "NUM " << k;
  }
  EXPECT_EQ(range[5], "2.4");  // the first of the two rows numbered 3
  EXPECT_FALSE(range[7].has_value());  // "05" is not row 5

  // After renumbering the reads go by position; they must still agree with the lookups.
  std::int64_t count = 0;
  ASSERT_TRUE(reader.renumberAndCount(count).ok());
  EXPECT_EQ(count, 10);
  ASSERT_TRUE(reader.channelValues(4, -2, 12, range).ok());
  ASSERT_TRUE(reader.pageRows(-2, 12, rows, any).ok());
  std::vector<std::optional<std::string>> byPosition;
  for (std::int64_t k = -2; k <= 12; ++k) {
    std::optional<std::string> one;
    ASSERT_TRUE(reader.channelValue(4, k, one).ok());
    byPosition.push_back(one);
  }
  reader.endRead();
  for (std::int64_t k = -2; k <= 12; ++k) {
    std::optional<std::string> one;
    ASSERT_TRUE(reader.channelValue(4, k, one).ok());
    const auto i = static_cast<std::size_t>(k + 2);
    EXPECT_EQ(range[i], one) << "NUM " << k;
    EXPECT_EQ(byPosition[i], one) << "NUM " << k;
    EXPECT_EQ(rows[i][0], one ? std::to_string(k) : "") << "NUM " << k;
  }
  EXPECT_EQ(range[2 + 5], "4.4");  // row 5 is now the fifth stored row
}

TEST(RecordReader, RenumbersCountsAndReadsAChannel) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", {"1", "2", "5", std::nullopt, "6"});
  RecordReader reader;
  ASSERT_TRUE(reader.open(file).ok());
  std::int64_t count = 0;
  ASSERT_TRUE(reader.rowCount(count).ok());
  EXPECT_EQ(count, 5);
  ASSERT_TRUE(reader.renumber().ok());
  ASSERT_TRUE(reader.rowCount(count).ok());
  EXPECT_EQ(count, 4);
  std::vector<std::optional<std::string>> values;
  ASSERT_TRUE(reader.channelValues(20, 1, 5, values).ok());
  EXPECT_EQ(values, (std::vector<std::optional<std::string>>{"0.20", "1.20", "2.20", "4.20",
                                                             std::nullopt}));
  EXPECT_NE(reader.channelValues(21, 1, 2, values).error.find("no channel CH21"),
            std::string::npos);
  EXPECT_FALSE(reader.channelValues(0, 1, 2, values).ok());
  EXPECT_FALSE(reader.channelValues(1, 1, 100'000'000, values).ok());
  EXPECT_TRUE(reader.channelValues(1, 5, 4, values).ok());
  EXPECT_TRUE(values.empty());
}

TEST(RecordReader, AReadOnlyFileIsReadButNotRenumbered) {
  TempDataFolder folder;
  const auto clean = test::writeRecord(folder, "Record1", test::numbered(1, 3));
  const auto gappy = test::writeRecord(folder, "Record2", {"1", "3"});
  // Write protection does not stop root; asking for read-only access does the same there.
  const bool root = ::geteuid() == 0;
  for (const auto& f : {clean, gappy}) {
    std::filesystem::permissions(f, std::filesystem::perms::owner_read);
  }
  std::int64_t count = 0;
  RecordReader reader;
  ASSERT_TRUE(reader.open(clean, root).ok());
  EXPECT_TRUE(reader.renumberAndCount(count).ok());
  EXPECT_EQ(count, 3);

  ASSERT_TRUE(reader.open(gappy, root).ok());
  const StoreStatus st = reader.renumberAndCount(count);
  EXPECT_NE(st.error.find("read-only"), std::string::npos) << st.error;
  reader.close();
  EXPECT_EQ(test::storedColumn(gappy, 0), (std::vector<std::string>{"1", "3"}));
}

// A record a run wrote (so in WAL mode), then write-protected: reading it leaves no -wal or -shm
// beside it, which would keep it from being written once it is writable again.
TEST(RecordReader, AWriteProtectedRecordIsReadWithoutMakingFilesBesideIt) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1", &file).ok());
  {
    RunDatabase run;
    ASSERT_TRUE(run.OpenRunDatabase(file).ok());
    for (int n = 1; n <= 3; ++n) {
      ASSERT_TRUE(
          run.AppendReadingRow(n, "t" + std::to_string(n), std::vector<std::string>(20, "v")).ok());
    }
  }
  using std::filesystem::perms;
  std::filesystem::permissions(folder.root(), perms::owner_all | perms::group_read |
                                                  perms::group_exec | perms::others_read |
                                                  perms::others_exec);
  std::filesystem::permissions(folder.db(), perms::all);  // the folder stays writable
  std::filesystem::permissions(file, perms::owner_read | perms::group_read | perms::others_read);

  const int result = test::asOrdinaryUser([&] {
    RecordReader reader;
    std::int64_t count = 0;
    std::vector<RecordRow> rows;
    bool any = false;
    if (!reader.open(file).ok()) return 1;
    if (!reader.renumberAndCount(count).ok() || count != 3) return 2;
    if (!reader.pageRows(1, 3, rows, any).ok() || !any || rows[2][1] != "t3") return 3;
    reader.close();
    return 0;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(test::entriesOf(folder.db()), std::vector<std::string>{"Record1.mdb"});

  std::filesystem::permissions(file, perms::owner_read | perms::owner_write);
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_EQ(run.RowBase(), 3);
  EXPECT_TRUE(run.AppendReadingRow(4, "t4", std::vector<std::string>(20, "w")).ok());
}

// While a run has a record open, its latest scans live in the -wal; they count also for a user
// who may only read the record.
TEST(RecordReader, AWriteProtectedRecordInUseShowsTheScansInItsJournal) {
  TempDataFolder folder;
  std::filesystem::path file;
  ASSERT_TRUE(CreateRunDatabase(folder.root(), "Record1", &file).ok());
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  ASSERT_TRUE(run.AppendReadingRow(1, "t1", std::vector<std::string>(20, "v")).ok());
  ASSERT_TRUE(std::filesystem::exists(file.string() + "-wal"));
  using std::filesystem::perms;
  std::filesystem::permissions(folder.root(), perms::owner_all | perms::group_read |
                                                  perms::group_exec | perms::others_read |
                                                  perms::others_exec);
  std::filesystem::permissions(file, perms::owner_read | perms::group_read | perms::others_read);
  ASSERT_TRUE(run.AppendReadingRow(2, "t2", std::vector<std::string>(20, "v")).ok());

  const int result = test::asOrdinaryUser([&] {
    RecordReader reader;
    std::int64_t count = 0;
    if (!reader.open(file).ok()) return 1;
    if (!reader.rowCount(count).ok()) return 2;
    return count == 2 ? 0 : 3;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace kalivor::store
