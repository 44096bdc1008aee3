#include "store/ui/record_windows.h"

#include <QPointer>
#include <memory>

#include "app/ui/main_form.h"
#include "charts/ui/record_view_draw.h"
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
  main.openRecordView = [windows, m, p] { showWindow(windows->view, *m, *p); };
  main.openRecordDraw = [windows, m, p] { showWindow(windows->draw, *m, *p); };
}

}  // namespace kalivor
