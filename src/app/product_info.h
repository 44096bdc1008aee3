// SPDX-License-Identifier: MIT
#pragma once
// What the program says about itself: its name, version line, information line and logo, in one
// place for the about window, the window icons and the installed desktop files.
namespace kalivor::product {

inline constexpr const char* kProductName = "KALIVOR";
inline constexpr const char* kVersion = KALIVOR_VERSION;
inline constexpr const char* kVersionLine = "version " KALIVOR_VERSION;
inline constexpr const char* kInfoLine1 = "Data logger for bench multimeters with scanner cards";
// Qt resource of the logo (the 128-pixel application icon) and the icon's theme name.
inline constexpr const char* kLogoResource = ":/kalivor/logo.png";
inline constexpr const char* kIconName = "kalivor";
// Base name of the installed .desktop file, which window systems match the windows to.
inline constexpr const char* kDesktopFileName = "kalivor";

}  // namespace kalivor::product
