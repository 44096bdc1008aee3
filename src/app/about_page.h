// SPDX-License-Identifier: MIT
#pragma once
// What the about window's address line opens. The project has no public web page yet, so it is
// the README: an installed copy's (PREFIX/share/doc/kalivor/README.md beside PREFIX/bin), else the
// source tree's for a copy run from its build folder, else the manual page.
#include <string>

namespace kalivor {

struct AboutPage {
  std::string shown;  // the address line's text
  std::string file;   // the README to open; empty: open `manPage` instead
  std::string manPage = "man:kalivor(1)";
};

// programFolder: the running program's folder; sourceReadme: the README of the tree it was built
// from (may be missing on this machine).
AboutPage aboutPage(const std::string& programFolder, const std::string& sourceReadme);

}  // namespace kalivor
