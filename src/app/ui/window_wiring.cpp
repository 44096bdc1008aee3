// SPDX-License-Identifier: MIT
#include "app/ui/window_wiring.h"

#include <QPointer>
#include <QPrinter>
#include <memory>

#include "acquisition/ui/data_table.h"
#include "app/ui/about_form.h"
#include "app/ui/main_form.h"
#include "charts/ui/record_view_draw.h"
#include "scan/ui/scan_set.h"
#include "store/ui/db_set.h"
#include "store/ui/record_view_form.h"

namespace kalivor {
namespace {

struct RecordWindows {
  QPointer<DB_SET> dbSet;
  QPointer<Record_View_Form> view;
  QPointer<Record_View_Draw> draw;
};

template <typename W>
W* showWindow(QPointer<W>& slot, MainForm& main, Program& program) {
  if (!slot) {
    // Closing the window unloads it (the next opening builds it afresh); the record chart's Exit
    // only hides it and keeps its state.
    slot = new W(program, &main);
    slot->setAttribute(Qt::WA_DeleteOnClose);
  }
  slot->show();
  slot->raise();
  slot->activateWindow();
  return slot;
}

}  // namespace

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

void wireRecordWindows(MainForm& main, Program& program) {
  auto windows = std::make_shared<RecordWindows>();
  MainForm* m = &main;
  Program* p = &program;
  main.openDatabaseSelection = [windows, m, p] {
    const bool existed = !windows->dbSet.isNull();
    DB_SET* w = showWindow(windows->dbSet, *m, *p);
    // It holds no state of its own: show the current instruments and names.
    if (existed) w->load();
  };
  main.syncRecordWindows = [windows] {
    if (windows->dbSet) windows->dbSet->followCore();
  };
  main.openRecordView = [windows, m, p] { showWindow(windows->view, *m, *p); };
  main.openRecordDraw = [windows, m, p] { showWindow(windows->draw, *m, *p); };
}

void wireDataTable(MainForm& main, Program& program) {
  auto window = std::make_shared<QPointer<DATA_Table>>();
  MainForm* m = &main;
  Program* p = &program;
  main.openDataTable = [window, m, p] {
    if (!*window) {
      // Closing it unloads it; the next opening copies the main window's tables again.
      *window = new DATA_Table(*p, m);
      (*window)->setAttribute(Qt::WA_DeleteOnClose);
    }
    (*window)->show();
    (*window)->raise();
    (*window)->activateWindow();
  };
  main.unloadDataTable = [window] { delete window->data(); };
  main.syncDataTable = [window] {
    if (*window) (*window)->sync();
  };
}

void wireChartOutput(MainForm& main, Program& program, ChartOutput::PrinterSource printers) {
  auto output = std::make_shared<ChartOutput>(main.trendChart(), main.chartCanvas(),
                                              program.messages, program.dialogs,
                                              std::move(printers));
  main.printChart = [output] { output->PrintSet_Click(); };
  main.saveChart = [output] { output->SaveChart_Click(); };
}

void wireChartOutput(MainForm& main, Program& program) {
  wireChartOutput(main, program, defaultPrinter);
}

void wireAbout(MainForm& main, Program& program) {
  auto window = std::make_shared<QPointer<About_Form>>();
  MainForm* m = &main;
  Messages* messages = &program.messages;
  main.openAbout = [window, m, messages] {
    if (window->isNull()) {
      // EXIT unloads the window; the next opening builds it afresh.
      *window = new About_Form(*messages, m);
      (*window)->setAttribute(Qt::WA_DeleteOnClose);
    }
    (*window)->show();
    (*window)->raise();
    (*window)->activateWindow();
  };
}

}  // namespace kalivor
