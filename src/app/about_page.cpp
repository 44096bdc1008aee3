// SPDX-License-Identifier: MIT
#include "app/about_page.h"

#include <filesystem>

namespace kalivor {

AboutPage aboutPage(const std::string& programFolder, const std::string& sourceReadme) {
  namespace fs = std::filesystem;
  std::error_code ec;
  AboutPage page;
  const fs::path installed =
      fs::path(programFolder).parent_path() / "share" / "doc" / "kalivor" / "README.md";
  for (const fs::path& candidate : {installed, fs::path(sourceReadme)}) {
    if (!candidate.empty() && fs::is_regular_file(candidate, ec)) {
      page.file = fs::weakly_canonical(candidate, ec).string();
      if (ec) page.file = candidate.string();
      page.shown = page.file;
      return page;
    }
  }
  page.shown = "man kalivor";
  return page;
}

}  // namespace kalivor
