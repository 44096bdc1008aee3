// SPDX-License-Identifier: MIT
#pragma once
// Helpers for the record store tests: a temporary data folder and records written directly with
// SQLite, so tests can build files the program itself would never write (NULL NUMs, gaps).
#include <gtest/gtest.h>
#include <grp.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "store/run_database.h"

namespace kalivor::store::test {

class TempDataFolder {
 public:
  TempDataFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kalivor-store-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempDataFolder() {
    std::error_code ec;
    std::filesystem::permissions(db(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(root_, ec);
  }
  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path db() const { return root_ / "db"; }
  std::filesystem::path record(const std::string& name) const { return db() / (name + ".mdb"); }

 private:
  std::filesystem::path root_;
};

inline void execSql(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  const std::string message = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << message;
}

// Creates record `name` (when missing) and appends one row per entry of `nums`: NUM as given
// (nullopt = NULL), Time "t<i>", CHc "<i>.<c>" where i counts the rows written by this call.
inline std::filesystem::path writeRecord(const TempDataFolder& folder, const std::string& name,
                                         const std::vector<std::optional<std::string>>& nums) {
  std::filesystem::path file;
  EXPECT_TRUE(CreateRunDatabase(folder.root(), name, &file).ok());
  std::ostringstream sql;
  sql << "BEGIN;";
  for (std::size_t i = 0; i < nums.size(); ++i) {
    sql << "INSERT INTO DATA VALUES (" << (nums[i] ? "'" + *nums[i] + "'" : "NULL") << ", 't"
        << i << "'";
    for (int c = 1; c <= 20; ++c) sql << ", '" << i << "." << c << "'";
    sql << ");";
  }
  sql << "COMMIT;";
  execSql(file, sql.str());
  return file;
}

inline std::vector<std::optional<std::string>> numbered(int from, int to) {
  std::vector<std::optional<std::string>> nums;
  for (int k = from; k <= to; ++k) nums.push_back(std::to_string(k));
  return nums;
}

// Column 0 (NUM) and 1 (Time) of every row, in stored order.
inline std::vector<std::string> storedColumn(const std::filesystem::path& file, int column) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT NUM, Time FROM DATA ORDER BY rowid", -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    const auto* t = sqlite3_column_text(s, column);
    out.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return out;
}

inline std::string readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

// Runs `body` with the rights of an ordinary user, where write protection binds: in a child
// process as "nobody" when the tests run as root, else right here. Returns body's result, or
// -1 when the child could not become that user or died. The child must not use gtest macros.
inline int asOrdinaryUser(const std::function<int()>& body) {
  if (::geteuid() != 0) return body();
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const gid_t nogroup = 65534;
    const uid_t nobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(nobody) != 0) {
      ::_exit(255);
    }
    ::_exit(body() & 0x7F);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) == 255) {
    return -1;
  }
  return WEXITSTATUS(status);
}

// Names of the entries of a folder, sorted.
inline std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kalivor::store::test
