// SPDX-License-Identifier: MIT
#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>

#include "app/product_info.h"
#include "app/ui/about_form.h"
#include "app/ui/application.h"

namespace {

const char* kUsage =
    "Usage: kalivor [OPTIONS]\n"
    "\n"
    "  --simulate [FILE]    use simulated instruments: those described by FILE (INI layout), or\n"
    "                       two built-in meters\n"
    "  --visa-library PATH  use this vendor VISA library instead of searching for one\n"
    "  --data-dir DIR       keep records in DIR/db (default: the program folder, or the per-user\n"
    "                       data folder when that cannot be written)\n"
    "  --trace FILE         append every VISA write and read to FILE, for bug reports\n"
    "  --help               show this text\n";

}  // namespace

int main(int argc, char** argv) {
  kalivor::ProgramOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::cerr << "kalivor: " << a << " needs a value\nTry 'kalivor --help'.\n";
        std::exit(2);
      }
      out = argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--simulate") {
      options.visa.simulate = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') options.visa.simulationFile = argv[++i];
    } else if (a == "--visa-library") {
      value(options.visa.visaLibrary);
    } else if (a == "--data-dir") {
      value(options.dataDir);
    } else if (a == "--trace") {
      value(options.visa.traceFile);
    } else if (a.rfind("-platform", 0) == 0 || a.rfind("-style", 0) == 0) {
      ++i;  // Qt's own options
    } else {
      std::cerr << "kalivor: unknown option: " << a << "\nTry 'kalivor --help'.\n";
      return 2;
    }
  }

  QApplication qt(argc, argv);
  QApplication::setApplicationName("KALIVOR");
  // Window systems match the windows to the installed kalivor.desktop and show its icon.
  QGuiApplication::setDesktopFileName(kalivor::product::kDesktopFileName);
  QApplication::setWindowIcon(kalivor::programIcon());
  std::string error;
  auto app = kalivor::KalivorApplication::create(options, &error);
  if (!app) {
    std::cerr << "kalivor: " << error << "\n";
    return 1;
  }
  app->mainForm().show();
  app->mainForm().load();
  return qt.exec();
}
