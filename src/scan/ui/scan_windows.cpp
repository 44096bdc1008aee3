#include "scan/ui/scan_windows.h"

#include <QPointer>
#include <memory>

#include "app/ui/main_form.h"
#include "scan/ui/scan_set.h"

namespace kalivor {

void wireScanWindows(MainForm& main, Program& program) {
  auto window = std::make_shared<QPointer<Scan_Set>>();
  MainForm* m = &main;
  Program* p = &program;
  main.openScanSettings = [window, m, p] {
    QPointer<Scan_Set>& w = *window;
    if (!w || w->unloaded()) {
      w = new Scan_Set(*p, m);
      w->setAttribute(Qt::WA_DeleteOnClose);
      w->mainChanged = [m] { m->syncFromCore(); };
      w->load();
      // A failed read-back re-connects the instruments and unloads the window again.
      if (!w || w->unloaded()) return;
    }
    w->show();
    w->raise();
    w->activateWindow();
  };
  main.unloadScanSettings = [window] {
    if (*window && !(*window)->unloaded()) (*window)->unload();
  };
}

}  // namespace kalivor
