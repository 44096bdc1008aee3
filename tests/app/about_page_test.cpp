// SPDX-License-Identifier: MIT
// Which page the about window's address line opens, for an installed copy, a copy in its build
// folder and a copy with neither README at hand.
#include "app/about_page.h"

#include <gtest/gtest.h>

#include "store/store_fixture.h"

namespace kalivor {
namespace {

namespace fs = std::filesystem;

TEST(AboutPage, InstalledReadmeFirstThenTheSourceOneThenTheManualPage) {
  store::test::TempDataFolder tmp;
  const fs::path root = fs::canonical(tmp.root());
  const fs::path source = root / "src" / "README.md";
  const fs::path installed = root / "usr" / "share" / "doc" / "kalivor" / "README.md";
  fs::create_directories(root / "usr" / "bin");
  fs::create_directories(root / "build" / "bin");

  // Neither README: the manual page.
  AboutPage page = aboutPage((root / "usr" / "bin").string(), source.string());
  EXPECT_EQ(page.file, "");
  EXPECT_EQ(page.shown, "man kalivor");
  EXPECT_EQ(page.manPage, "man:kalivor(1)");

  // A copy in its build folder: the README of its sources.
  store::test::writeFile(source, "# KALIVOR\n");
  page = aboutPage((root / "build" / "bin").string(), source.string());
  EXPECT_EQ(page.file, source.string());
  EXPECT_EQ(page.shown, source.string());

  // An installed copy: its own README, even when the sources are still there.
  store::test::writeFile(installed, "# KALIVOR\n");
  page = aboutPage((root / "usr" / "bin").string(), source.string());
  EXPECT_EQ(page.file, installed.string());
  // A folder named README.md is no README.
  fs::remove(source);
  fs::create_directories(source);
  page = aboutPage((root / "build" / "bin").string(), source.string());
  EXPECT_EQ(page.file, "");
}

}  // namespace
}  // namespace kalivor
