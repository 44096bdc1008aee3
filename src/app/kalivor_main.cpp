// SPDX-License-Identifier: MIT
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli_central.h"
#include "app/command_line.h"
#include "common/paths.h"

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
    "  --data-dir DIR       keep records in DIR/db; by default an installed copy uses the\n"
    "                       per-user data folder, $XDG_DATA_HOME/kalivor or\n"
    "                       ~/.local/share/kalivor, and a copy run from its build folder uses\n"
    "                       the program's own folder (the per-user one when that cannot be\n"
    "                       written)\n"
    "  --trace FILE         append every VISA write and read to FILE, for bug reports\n"
    "  --central URL        also send every scan to this central PostgreSQL database\n"
    "                       (postgresql://user@host/db; the password from ~/.pgpass), for this\n"
    "                       start instead of Operation > Central database...\n"
    "  --bench NAME         this bench's name there (default: the host name)\n"
    "  --version            show the version\n"
    "  --help               show this text\n"
    "\n"
    "An option's value may also follow an equals sign: --data-dir=DIR.\n";

// Qt reads its own options (-platform NAME, -style NAME and the like) from argv itself.
bool isQtOption(const std::string& word) {
  return word.rfind("-platform", 0) == 0 || word.rfind("-style", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (isQtOption(argv[i])) {
      ++i;  // and its value
      continue;
    }
    args.emplace_back(argv[i]);
  }
  kalivor::ProgramOptions options;
  bool help = false, version = false;
  using V = kalivor::OptionSpec::Value;
  std::vector<kalivor::OptionSpec> specs = kalivor::instrumentOptions(options.visa, options.dataDir);
  for (auto& spec : kalivor::centralChoiceOptions(options.central)) specs.push_back(spec);
  specs.push_back({"--help", "-h", V::None, "", [&](const std::string&) { help = true; }});
  specs.push_back({"--version", "", V::None, "", [&](const std::string&) { version = true; }});
  std::vector<std::string> positional;
  auto usageError = kalivor::parseCommandLine(args, 0, specs, positional);
  if (!usageError && !positional.empty()) usageError = "unexpected argument: " + positional.front();
  if (!usageError) usageError = kalivor::centralChoiceProblem(options.central);
  if (usageError) {
    std::cerr << "kalivor: " << *usageError << "\nTry 'kalivor --help'.\n";
    return 2;
  }
  if (help) {
    std::cout << kUsage << "Records of this copy: "
              << kalivor::dbFolderOf(kalivor::resolveDataFolder(options.dataDir)) << "\n";
    return 0;
  }
  if (version) {
    std::cout << "kalivor " << kalivor::product::kVersion << "\n";
    return 0;
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
  // Discovery runs once the event loop runs, so the window is drawn and usable while a slow or
  // silent instrument is asked who it is.
  QTimer::singleShot(0, &app->mainForm(), [&app] { app->mainForm().load(); });
  return qt.exec();
}
