// SPDX-License-Identifier: MIT
#pragma once
// A small reader for INI-style settings files, with the lookup rules the scan setup files have
// always been read with: section and key names in any letter case, the first section of a name
// and the first key in it win, values trimmed and cut to 254 characters, NUL bytes dropped, and a
// missing section or key reads as the empty text. Any bytes at all can be given to it.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kalivor {

class IniFile {
 public:
  static constexpr std::size_t kMaxValueLength = 254;
  // Larger files are no settings files: they read as empty.
  static constexpr std::size_t kMaxFileSize = 16u << 20;

  IniFile() = default;
  static IniFile fromText(std::string_view text);
  // An unreadable, missing or oversized file gives an empty IniFile (readable() false).
  static IniFile fromFile(const std::string& path);

  bool readable() const { return readable_; }
  // The value of key in section; empty when either is missing.
  std::string value(std::string_view section, std::string_view key) const;

 private:
  struct Section {
    std::unordered_map<std::string, std::string> keys;  // lower-case key -> first value
  };
  std::unordered_map<std::string, Section> sections_;  // lower-case name -> first section
  bool readable_ = false;
};

// One lookup straight from a file, as the window's single-value reads do.
std::string ReadIni(std::string_view section, std::string_view key, const std::string& path);

}  // namespace kalivor
