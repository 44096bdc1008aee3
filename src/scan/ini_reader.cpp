// SPDX-License-Identifier: MIT
#include "scan/ini_reader.h"

#include <fstream>

#include "common/text.h"

namespace kalivor {
namespace {

bool isIniSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isIniSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isIniSpace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

IniFile IniFile::fromText(std::string_view raw) {
  IniFile ini;
  ini.readable_ = true;
  const std::string text = removeChar(raw, '\0');
  std::string_view rest(text);
  if (startsWith(rest, "\xEF\xBB\xBF")) rest.remove_prefix(3);  // UTF-8 mark left by editors

  Section* current = nullptr;  // null: before any section, or in a repeated one
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    line = trim(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      const std::string name = toLowerAscii(trim(line.substr(1, close - 1)));
      const auto [it, inserted] = ini.sections_.try_emplace(name);
      // Keys of a second section with the same name are never found.
      current = inserted ? &it->second : nullptr;
      continue;
    }
    if (current == nullptr) continue;
    const std::size_t eq = line.find('=');
    const std::string_view key = trim(line.substr(0, eq));
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : trim(line.substr(eq + 1));
    if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
    current->keys.try_emplace(toLowerAscii(key), std::string(value));
  }
  return ini;
}

IniFile IniFile::fromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return IniFile{};
  std::string text;
  char buffer[64 * 1024];
  while (in) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileSize) return IniFile{};
  }
  if (in.bad()) return IniFile{};
  return fromText(text);
}

std::string IniFile::value(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(toLowerAscii(trim(section)));
  if (s == sections_.end()) return {};
  const auto k = s->second.keys.find(toLowerAscii(trim(key)));
  return k == s->second.keys.end() ? std::string() : k->second;
}

std::string ReadIni(std::string_view section, std::string_view key, const std::string& path) {
  return IniFile::fromFile(path).value(section, key);
}

}  // namespace kalivor
