// SPDX-License-Identifier: MIT
#include "acquisition/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kalivor {
namespace {

std::string readAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("kalivor-runlog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST_F(RunLogTest, MadeOnFirstEventAndAppendsOneLinePerEvent) {
  const auto file = dir / "db" / "kalivor-run.log";
  RunLog log(file.string());
  EXPECT_FALSE(std::filesystem::exists(file)) << "a run with nothing to report leaves no file";

  log.write(LocalDateTime{2026, 12, 9, 4, 5, 6, 789}, "SIM0001", "Timeout: link lost");
  log.write(LocalDateTime{2026, 12, 9, 4, 5, 36, 0}, "SIM\t0001", "reconnected\nagain");
  EXPECT_FALSE(log.failed());
  EXPECT_EQ(readAll(file),
            "2026/12/09 04:05:06\tSIM0001\tTimeout: link lost\n"
            "2026/12/09 04:05:36\tSIM 0001\treconnected again\n");

  RunLog later(file.string());  // the next run appends
  later.write(LocalDateTime{2026, 12, 10}, "B", "c");
  EXPECT_EQ(readAll(file).substr(readAll(file).rfind("2026/12/10")), "2026/12/10 00:00:00\tB\tc\n");
}

TEST_F(RunLogTest, UnwritablePlaceIsReportedNotThrownAndEmptyPathWritesNowhere) {
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "db") << "a file where the folder should be";
  RunLog log((dir / "db" / "kalivor-run.log").string());
  log.write(LocalDateTime{}, "A", "b");
  EXPECT_TRUE(log.failed());

  RunLog none("");
  none.write(LocalDateTime{}, "A", "b");
  EXPECT_FALSE(none.failed());
}

}  // namespace
}  // namespace kalivor
