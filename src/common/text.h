// SPDX-License-Identifier: MIT
#pragma once
// Small text helpers with the program's meaning of "blank" (the space character).
#include <string>
#include <string_view>

namespace kalivor {

// Removes leading and trailing spaces (only spaces, as the program's trim always did).
std::string trimBlanks(std::string_view s);
// Removes every occurrence of c.
std::string removeChar(std::string_view s, char c);
bool contains(std::string_view s, std::string_view part);
bool endsWith(std::string_view s, std::string_view tail);
bool startsWith(std::string_view s, std::string_view head);
std::string toLowerAscii(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Control characters shown as \r, \n, \t, \0 or \xHH, and a backslash as \\ (for traces and the CLI).
std::string escapeControl(std::string_view s);

}  // namespace kalivor
