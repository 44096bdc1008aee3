// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "scan/ini_reader.h"

namespace kalivor {
namespace {

TEST(IniFile, FindsSectionsAndKeysInAnyCaseAndOrder) {
  const IniFile ini = IniFile::fromText(
      "[Function]\r\nfunction(1)=ACV\r\nFUNCTION(0)=DCV\r\n"
      "[scan type]\nScanType=STEP\n"
      "[ TEMP Type/ TCO Type ]\r\n  TEMP_TCO(0)  =  PT100  \r\n");
  EXPECT_EQ(ini.value("Function", "Function(0)"), "DCV");
  EXPECT_EQ(ini.value("FUNCTION", "Function(1)"), "ACV");
  EXPECT_EQ(ini.value("Scan Type", "ScanType"), "STEP");
  EXPECT_EQ(ini.value("TEMP Type/ TCO Type", "TEMP_TCO(0)"), "PT100");
  EXPECT_EQ(ini.value("Function", "Function(2)"), "");
  EXPECT_EQ(ini.value("Missing", "Function(0)"), "");
  EXPECT_EQ(ini.value("Scan Type", "Function(0)"), "");  // keys belong to their section
}

TEST(IniFile, FirstOccurrenceWins) {
  const IniFile ini = IniFile::fromText(
      "[A]\nk=first\nk=second\n[B]\nk=b\n[a]\nk=third\nother=late\n");
  EXPECT_EQ(ini.value("A", "k"), "first");
  EXPECT_EQ(ini.value("A", "other"), "");  // a repeated section is not consulted
  EXPECT_EQ(ini.value("B", "k"), "b");
}

TEST(IniFile, ValuesAreTrimmedCutAndFreeOfNuls) {
  const std::string longValue(300, 'x');
  std::string text = "[S]\nlong=" + longValue + "\nempty=\neq=a=b\n";
  text += std::string("nul=a\0b\0\n", 9);
  const IniFile f = IniFile::fromText(text);
  EXPECT_EQ(f.value("S", "long"), std::string(254, 'x'));
  EXPECT_EQ(f.value("S", "nul"), "ab");
  EXPECT_EQ(f.value("S", "empty"), "");
  EXPECT_EQ(f.value("S", "eq"), "a=b");
}

TEST(IniFile, KeysBeforeAnySectionAndBrokenHeadersAreIgnored) {
  const IniFile ini = IniFile::fromText(
      "\xEF\xBB\xBF" "k=top\n[Open\nk=broken\n[S]\nk=ok\n[]\nk=nameless\n");
  EXPECT_EQ(ini.value("S", "k"), "ok");
  EXPECT_EQ(ini.value("", "k"), "nameless");
  EXPECT_EQ(ini.value("Open", "k"), "");
}

TEST(IniFile, FilesReadLikeText) {
  const auto dir = std::filesystem::temp_directory_path() / "kalivor_ini_reader_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "setup.ini").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "[Scaner Card]\r\nScanerCard=3\r\n";
  }
  EXPECT_TRUE(IniFile::fromFile(path).readable());
  EXPECT_EQ(ReadIni("scaner card", "SCANERCARD", path), "3");
  EXPECT_FALSE(IniFile::fromFile((dir / "missing.ini").string()).readable());
  EXPECT_EQ(ReadIni("Scaner Card", "ScanerCard", (dir / "missing.ini").string()), "");
  EXPECT_FALSE(IniFile::fromFile(dir.string()).readable());  // a folder
  std::filesystem::remove_all(dir);
}

TEST(IniFile, GarbageAndHugeLinesDoNotHurt) {
  std::mt19937 random(7);
  std::string garbage(200000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const IniFile g = IniFile::fromText(garbage);
  EXPECT_EQ(g.value("Scaner Card", "ScanerCard"), "");

  std::string huge = "[S]\nk=" + std::string(3'000'000, 'v') + "\nnext=1\n";
  const IniFile h = IniFile::fromText(huge);
  EXPECT_EQ(h.value("S", "k").size(), IniFile::kMaxValueLength);
  EXPECT_EQ(h.value("S", "next"), "1");
}

}  // namespace
}  // namespace kalivor
