// SPDX-License-Identifier: MIT
#include "store/record_files.h"

#include "store/record_lock.h"
#include "store_fixture.h"

namespace kalivor::store {
namespace {

using test::TempDataFolder;

TEST(RecordFiles, FreshListsOnlyNamesEndingInLowerCaseMdb) {
  TempDataFolder folder;
  EXPECT_TRUE(listRecordFiles(folder.root()).empty());  // no db folder yet
  for (const char* name : {"Record2.mdb", "Record1.MDB", "notes.txt", "Record3.mdb.bak",
                           "Record3.mdb-wal", "Record3.mdb-lock", "a.mdb", ".mdb"}) {
    test::writeFile(folder.db() / name, "x");
  }
  std::filesystem::create_directory(folder.db() / "Folder.mdb");
  EXPECT_EQ(listRecordFiles(folder.root()),
            (std::vector<std::string>{".mdb", "Folder.mdb", "Record2.mdb", "a.mdb"}));
}

TEST(RecordFiles, RecordNamesMustBeSafeAsFileNames) {
  for (const char* ok : {"Record1", "Record12", "my record-2_b", "0"}) {
    EXPECT_TRUE(isSafeRecordName(ok)) << ok;
  }
  for (const char* bad : {"", "   ", "..", "../Record1", "a/b", "a\\b", "Record.1", "Record\t1",
                          "R\xC3\xA9" "cord", "Record1.mdb", "Record1 ", " Record1"}) {
    EXPECT_FALSE(isSafeRecordName(bad)) << bad;
  }
  EXPECT_FALSE(isSafeRecordName(std::string(201, 'a')));
  std::filesystem::path p;
  ASSERT_TRUE(recordFilePath("/data", "Record7", p).ok());
  EXPECT_EQ(p, std::filesystem::path("/data/db/Record7.mdb"));
  EXPECT_FALSE(recordFilePath("/data", "../../etc/x", p).ok());
}

TEST(RecordFiles, DeletesOnlyRecordsWithTheirCompanionsAlsoWhenReadOnly) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record1", test::numbered(1, 2));
  for (const char* companion : {"-wal", "-shm", "-journal", "-lock"}) {
    test::writeFile(file.string() + companion, "x");
  }
  test::writeFile(folder.db() / "Keep.mdb", "x");
  test::writeFile(folder.db() / "Record10.mdb", "x");
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);

  EXPECT_EQ(deleteRecordFile(folder.root(), "Keep.mdb"), DeleteOutcome::NotARecord);
  EXPECT_EQ(deleteRecordFile(folder.root(), "Record1.mdb"), DeleteOutcome::Deleted);
  EXPECT_EQ(listRecordFiles(folder.root()),
            (std::vector<std::string>{"Keep.mdb", "Record10.mdb"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.db()), {}), 2);

  EXPECT_EQ(deleteRecordFile(folder.root(), "Record1.mdb"), DeleteOutcome::Failed);
  EXPECT_EQ(deleteOutcomeMessage(DeleteOutcome::Failed),
            "刪除檔案時，發生了錯誤，請重新執行本程式，再進行刪除.");
  // Names never reach outside the db folder.
  test::writeFile(folder.root() / "Record9.mdb", "outside");
  EXPECT_EQ(deleteRecordFile(folder.root(), "../Record9.mdb"), DeleteOutcome::Failed);
  EXPECT_TRUE(std::filesystem::exists(folder.root() / "Record9.mdb"));
  std::filesystem::create_directory(folder.db() / "Record8.mdb");
  EXPECT_EQ(deleteRecordFile(folder.root(), "Record8.mdb"), DeleteOutcome::Failed);
}

TEST(RecordFiles, ARecordOpenForARunIsNotDeleted) {
  TempDataFolder folder;
  const auto file = test::writeRecord(folder, "Record3", test::numbered(1, 2));
  RunDatabase run;
  ASSERT_TRUE(run.OpenRunDatabase(file).ok());
  EXPECT_EQ(deleteRecordFile(folder.root(), "Record3.mdb"), DeleteOutcome::InUse);
  EXPECT_EQ(deleteOutcomeMessage(DeleteOutcome::InUse),
            "檔案執行中，請停止執行後，在進行刪除動作。");
  EXPECT_TRUE(std::filesystem::exists(file));
  // The refused deletion leaves the run storing and still locked.
  EXPECT_TRUE(isRecordInUse(file));
  EXPECT_TRUE(run.AppendReadingRow(3, "t", std::vector<std::string>(20, "v")).ok());
  run.CloseRunDatabase();
  EXPECT_EQ(deleteRecordFile(folder.root(), "Record3.mdb"), DeleteOutcome::Deleted);
}

std::array<std::string, kSlotTableSize> names(std::initializer_list<const char*> given) {
  std::array<std::string, kSlotTableSize> out;
  out.fill("0");
  std::size_t i = 0;
  for (const char* n : given) out[i++] = n;
  return out;
}

TEST(DatabaseChoice, RecordNamesAreTakenUnlessAnotherListedSlotUsesThem) {
  auto choice = validateDatabaseChoice(names({"0", "0"}), 0, 2, "Record12");
  EXPECT_EQ(choice.databaseName, "Record12");
  EXPECT_TRUE(choice.messages.empty());

  choice = validateDatabaseChoice(names({"Record3", "0"}), 1, 2, "Record3");
  EXPECT_EQ(choice.databaseName, "0");
  EXPECT_EQ(choice.shownText, "Record3");  // the list keeps showing the pick
  EXPECT_EQ(choice.messages, std::vector<std::string>{"Please select other Record."});

  // Re-validating a slot's own name, and a slot beyond the listed ones, do not count.
  EXPECT_EQ(validateDatabaseChoice(names({"Record3"}), 0, 1, "Record3").databaseName, "Record3");
  EXPECT_EQ(validateDatabaseChoice(names({"0", "0", "Record5"}), 0, 2, "Record5").databaseName,
            "Record5");
}

TEST(DatabaseChoice, NoneAndThePromptMeanNoDatabase) {
  for (const char* text : {"NONE", "Please choice a database", "database"}) {
    const auto choice = validateDatabaseChoice(names({"Record1"}), 0, 1, text);
    EXPECT_EQ(choice.databaseName, "0") << text;
    EXPECT_TRUE(choice.messages.empty()) << text;
  }
}

TEST(DatabaseChoice, FreeTextFallsBackToTheFirstItem) {
  auto choice = validateDatabaseChoice(names({"0", "0"}), 0, 2, "abc");
  EXPECT_EQ(choice.shownText, "Record1");
  EXPECT_EQ(choice.databaseName, "Record1");
  EXPECT_EQ(choice.messages.size(), 1u);

  choice = validateDatabaseChoice(names({"0", "Record1"}), 0, 2, "abc");
  EXPECT_EQ(choice.shownText, "Record1");
  EXPECT_EQ(choice.databaseName, "0");
  EXPECT_EQ(choice.messages, std::vector<std::string>(2, "Please select other Record."));

  // Case matters, and a name that is no safe file name counts as free text.
  for (const char* text : {"record2", "Record/../../x", "Record\n"}) {
    choice = validateDatabaseChoice(names({"0"}), 0, 1, text);
    EXPECT_EQ(choice.databaseName, "Record1") << text;
    EXPECT_EQ(choice.messages.size(), 1u) << text;
  }
}

}  // namespace
}  // namespace kalivor::store
