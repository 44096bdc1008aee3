// SPDX-License-Identifier: MIT
#pragma once
// Record files in the data folder: where they live, which names are allowed, listing and
// deletion, and the database-name choice of the database selection window.
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/setup_tables.h"
#include "store/store_types.h"

namespace kalivor::store {

inline constexpr const char* kRecordExtension = ".mdb";

// <dataFolder>/db
std::filesystem::path recordFolder(const std::filesystem::path& dataFolder);

// A record name may hold ASCII letters, digits, blanks, '-' and '_' only, neither starting nor
// ending with a blank, so that a name can never reach outside the db folder or make an odd file
// name.
bool isSafeRecordName(std::string_view name);

// <dataFolder>/db/<name>.mdb, or a message when the name is not safe.
StoreStatus recordFilePath(const std::filesystem::path& dataFolder, std::string_view name,
                           std::filesystem::path& out);

// A file name as listed by listRecordFiles ("Record3.mdb"): one plain directory entry, no folder
// part. Names handed back by the windows are checked with it before use.
bool isPlainFileName(std::string_view name);

// "Fresh": names of the entries of the db folder ending in ".mdb" (exact, case-sensitive). The
// names are sorted (byte order) so the list does not depend on the file system's order. An absent
// folder gives an empty list.
std::vector<std::string> listRecordFiles(const std::filesystem::path& dataFolder);

// The question asked before deleting: Will you delete the "<name>"?
std::string deleteQuestion(std::string_view listedName);

enum class DeleteOutcome {
  NotARecord,  // the name does not contain "Record": nothing is done
  Deleted,
  InUse,   // a run holds the record: kRecordInUseMessage
  Failed,  // kDeleteFailedMessage
};

// Deletes the listed record file (also when it is read-only) with its SQLite companions
// (-journal, -wal, -shm) and its lock file, unless a run holds it.
DeleteOutcome deleteRecordFile(const std::filesystem::path& dataFolder,
                               std::string_view listedName);
// The message to show for an outcome (empty for NotARecord and Deleted).
std::string deleteOutcomeMessage(DeleteOutcome outcome);

// Result of validating the text of a slot's database list.
struct DatabaseChoice {
  std::string databaseName;           // the new DatabaseName of the slot
  std::string shownText;              // the text the list shows afterwards
  std::vector<std::string> messages;  // messages to show, in order
};

// Validates the text typed or picked into slot `slot`'s list; `listedSlots` is the number of
// selected instruments (slots 0 .. listedSlots-1 take part in the duplicate test). `names` is
// DatabaseName before the change.
DatabaseChoice validateDatabaseChoice(const std::array<std::string, kSlotTableSize>& names,
                                      int slot, int listedSlots, std::string_view text);

}  // namespace kalivor::store
