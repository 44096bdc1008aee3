// SPDX-License-Identifier: MIT
#include "common/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace kalivor {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class DataFolderTest : public ::testing::Test {
 protected:
  DataFolderTest()
      : root(fs::temp_directory_path() / ("kalivor-paths-" + std::to_string(::getpid()))),
        home(root / "home"),
        xdg("XDG_DATA_HOME", nullptr),
        homeEnv("HOME", home.c_str()) {
    fs::remove_all(root);
    fs::create_directories(home);
  }
  ~DataFolderTest() override {
    std::error_code ec;
    fs::permissions(root / "prefix" / "bin", fs::perms::owner_all, ec);
    fs::remove_all(root, ec);
  }

  fs::path root;
  fs::path home;
  ScopedEnv xdg;
  ScopedEnv homeEnv;
};

TEST_F(DataFolderTest, TheOptionWinsAndAWritableProgramFolderKeepsTheRecords) {
  const fs::path program = root / "build" / "bin";
  fs::create_directories(program);
  EXPECT_EQ(resolveDataFolder("/data/here", program.string()), "/data/here");
  EXPECT_EQ(resolveDataFolder("", program.string()), program.string());
  EXPECT_EQ(resolveDataFolder(""), executableFolder());  // the test program's own folder
}

TEST_F(DataFolderTest, AProgramFolderThatCannotBeWrittenFallsBackToThePerUserFolder) {
  const std::string perUser = (home / ".local/share/kalivor").string();
  EXPECT_EQ(resolveDataFolder("", (root / "missing" / "bin").string()), perUser);

  const fs::path program = root / "prefix" / "bin";
  fs::create_directories(program);
  ::chmod(program.c_str(), 0555);
  // Root may write anywhere; everyone else is refused by the mode.
  if (::geteuid() != 0) {
    EXPECT_EQ(resolveDataFolder("", program.string()), perUser);
  }

  ScopedEnv xdgSet("XDG_DATA_HOME", (root / "xdg").c_str());
  EXPECT_EQ(resolveDataFolder("", (root / "missing").string()),
            (root / "xdg" / "kalivor").string());
  ScopedEnv xdgRelative("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(resolveDataFolder("", (root / "missing").string()), perUser);
}

TEST_F(DataFolderTest, AnInstalledCopyKeepsRecordsPerUserEvenWhereItMayWrite) {
  const fs::path prefix = root / "prefix";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "share" / "applications");
  EXPECT_EQ(resolveDataFolder("", (prefix / "bin").string()), (prefix / "bin").string());
  std::ofstream(prefix / "share" / "applications" / "kalivor.desktop") << "[Desktop Entry]\n";
  EXPECT_EQ(resolveDataFolder("", (prefix / "bin").string()),
            (home / ".local/share/kalivor").string());
  EXPECT_EQ(resolveDataFolder("/chosen", (prefix / "bin").string()), "/chosen");
}

}  // namespace
}  // namespace kalivor
