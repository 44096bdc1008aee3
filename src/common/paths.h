// SPDX-License-Identifier: MIT
#pragma once
// Where the program keeps its records: the program folder, or the per-user data folder when the
// program folder cannot be written or the program is an installed copy (PREFIX/bin beside
// PREFIX/share/applications/kalivor.desktop), or the folder named by --data-dir.
#include <string>

namespace kalivor {

// Folder of the running executable (no trailing slash).
std::string executableFolder();
// The data folder for the given --data-dir option (empty: choose as above). Records live in its
// "db" sub-folder.
std::string resolveDataFolder(const std::string& dataDirOption);
// The same choice for a program living in programFolder.
std::string resolveDataFolder(const std::string& dataDirOption, const std::string& programFolder);
std::string dbFolderOf(const std::string& dataFolder);

}  // namespace kalivor
