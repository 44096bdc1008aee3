// SPDX-License-Identifier: MIT
#include "store/record_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/text.h"
#include "store/record_lock.h"

namespace kalivor::store {

std::filesystem::path recordFolder(const std::filesystem::path& dataFolder) {
  return dataFolder / "db";
}

bool isSafeRecordName(std::string_view name) {
  if (name.empty() || name.size() > 200) return false;
  // "Record1 " would be a second file beside "Record1".
  if (name.front() == ' ' || name.back() == ' ') return false;
  bool anyVisible = false;
  for (char c : name) {
    const bool letterOrDigit =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != ' ' && c != '-' && c != '_') return false;
    anyVisible = anyVisible || c != ' ';
  }
  return anyVisible;
}

StoreStatus recordFilePath(const std::filesystem::path& dataFolder, std::string_view name,
                           std::filesystem::path& out) {
  if (!isSafeRecordName(name)) {
    return StoreStatus::failure("The record name \"" + escapeControl(name) +
                                "\" is not allowed: use letters, digits, blanks, - and _ only,"
                                " with no blank at its start or end.");
  }
  out = recordFolder(dataFolder) / (std::string(name) + kRecordExtension);
  return StoreStatus::success();
}

bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::vector<std::string> listRecordFiles(const std::filesystem::path& dataFolder) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(recordFolder(dataFolder), ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (endsWith(name, kRecordExtension)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string deleteQuestion(std::string_view listedName) {
  return "Will you delete the \"" + std::string(listedName) + "\"?";
}

namespace {

// Removes one directory entry; a missing entry is fine. unlink ignores the file's own write
// permission, so a read-only record is deleted too.
bool removeEntry(const std::filesystem::path& p) {
  return ::unlink(p.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

DeleteOutcome deleteRecordFile(const std::filesystem::path& dataFolder,
                               std::string_view listedName) {
  if (!contains(listedName, "Record")) return DeleteOutcome::NotARecord;
  if (!isPlainFileName(listedName)) return DeleteOutcome::Failed;
  const std::filesystem::path file = recordFolder(dataFolder) / std::string(listedName);
  struct stat st{};
  if (::lstat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return DeleteOutcome::Failed;

  // Taking the run's lock is the in-use test, and holding it while deleting keeps a run from
  // starting on the record half way. Without a lock (a folder we may not write) the deletion
  // below fails on its own.
  RecordLock lock;
  bool busy = false;
  (void)lock.acquire(file, &busy);
  if (busy) return DeleteOutcome::InUse;

  if (!removeEntry(file)) return DeleteOutcome::Failed;
  for (const char* companion : {"-journal", "-wal", "-shm"}) {
    std::filesystem::path p = file;
    p += companion;
    removeEntry(p);
  }
  return DeleteOutcome::Deleted;  // the lock file goes when `lock` is released
}

std::string deleteOutcomeMessage(DeleteOutcome outcome) {
  switch (outcome) {
    case DeleteOutcome::InUse: return kRecordInUseMessage;
    case DeleteOutcome::Failed: return kDeleteFailedMessage;
    default: return {};
  }
}

DatabaseChoice validateDatabaseChoice(const std::array<std::string, kSlotTableSize>& names,
                                      int slot, int listedSlots, std::string_view text) {
  DatabaseChoice choice;
  choice.shownText = std::string(text);
  std::string_view current = text;
  // At most two rounds: free text is replaced by the first list item, which names a record.
  for (int round = 0; round < 2; ++round) {
    // A name that could not serve as a file name counts as free text.
    if (contains(current, "Record") && isSafeRecordName(current)) {
      for (int j = 0; j < listedSlots && j < kSlotTableSize; ++j) {
        if (j != slot && names[static_cast<std::size_t>(j)] == current) {
          choice.messages.emplace_back(kSelectOtherRecordMessage);
          choice.databaseName = "0";
          return choice;
        }
      }
      choice.databaseName = std::string(current);
      return choice;
    }
    if (contains(current, "NONE") || contains(current, "database")) {
      choice.databaseName = "0";
      return choice;
    }
    choice.messages.emplace_back(kSelectOtherRecordMessage);
    choice.shownText = "Record1";
    current = "Record1";
  }
  choice.databaseName = "0";
  return choice;
}

}  // namespace kalivor::store
