// SPDX-License-Identifier: MIT
#include "app/ui/window_wiring.h"

#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QListWidget>
#include <QPointer>
#include <QScreen>
#include <algorithm>
#include <QPrinter>
#include <memory>

#include "acquisition/ui/data_table.h"
#include "acquisition/ui/live_statistics.h"
#include "app/ui/about_form.h"
#include "app/ui/main_form.h"
#include "central/ui/central_dialog.h"
#include "central/ui/central_runs_dialog.h"
#include "charts/record_chart.h"
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

// A window opened for the first time comes up centred over the main window (kept on its
// screen), not wherever the desktop puts new windows; later openings keep where the user moved it.
void placeOver(QWidget* window, const QWidget& main) {
  // The size the window will show with: its layout settled first.
  window->ensurePolished();
  if (QLayout* layout = window->layout()) layout->activate();
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  // Its frame as thick as the main window's (it has none yet); move() places the frame.
  QRect r(QPoint(), window->size() + (main.frameGeometry().size() - main.size()));
  r.moveCenter(main.frameGeometry().center());
  if (const QScreen* screen = main.screen()) {
    const QRect room = screen->availableGeometry();
    r.moveLeft(std::max(room.left(), std::min(r.left(), room.right() + 1 - r.width())));
    r.moveTop(std::max(room.top(), std::min(r.top(), room.bottom() + 1 - r.height())));
  }
  window->move(r.topLeft());
}

void present(QWidget* window, const QWidget& main, bool fresh) {
  if (fresh) placeOver(window, main);
  window->show();
  window->raise();
  window->activateWindow();
}

template <typename W>
W* showWindow(QPointer<W>& slot, MainForm& main, Program& program) {
  const bool fresh = !slot;
  if (fresh) {
    // Closing the window unloads it (the next opening builds it afresh); the record chart's Exit
    // only hides it and keeps its state.
    slot = new W(program, &main);
    slot->setAttribute(Qt::WA_DeleteOnClose);
  }
  present(slot, main, fresh);
  return slot;
}

// The chart of a central run's record opens on that run's rows (the copy holds the record's
// every run): drawn from its first scan to its last, within what one drawing may span.
void showRunRows(Record_View_Draw& draw, std::int64_t first, std::int64_t last) {
  const std::int64_t count = draw.Data_RecordCount->text().toLongLong();
  if (!draw.draw_limit->isEnabled() || count < 2) return;
  last = std::min(last, first + kRecordRangeLimit - 1);
  // A drawing needs two rows at least.
  if (last <= first) {
    if (first < count) {
      last = first + 1;
    } else {
      first = last - 1;
    }
  }
  draw.draw_limit->setChecked(true);
  draw.draw_start->setText(QString::number(first));
  draw.draw_stop->setText(QString::number(last));
}

// "Central…" of the record browser or chart: the central runs, and the chosen run's record (a
// scratch copy that lives as long as the window showing it) in a window of its own.
void openCentralRun(MainForm& main, Program& program, bool chart) {
  auto* dialog = new CentralRunsDialog(program.centralChoice(), &main);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  MainForm* m = &main;
  Program* p = &program;
  QObject::connect(dialog, &QDialog::accepted, m, [dialog, m, p, chart] {
    const std::shared_ptr<central::CentralSnapshot> copy = dialog->snapshot();
    if (!copy) return;
    QWidget* window = nullptr;
    if (chart) {
      auto* draw = new Record_View_Draw(*p, m, copy->dataFolder());
      if (const auto rows = dialog->chosenRows()) showRunRows(*draw, rows->first, rows->second);
      window = draw;
    } else {
      auto* view = new Record_View_Form(*p, m, copy->dataFolder());
      view->List1->setCurrentRow(0);
      view->Command2_Click();
      window = view;
    }
    window->setWindowTitle(window->windowTitle() + " — central: " + dialog->chosenTitle());
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &QObject::destroyed, [copy] {});
    present(window, *m, true);
  });
  present(dialog, main, true);
  if (program.centralChoice().on()) dialog->list();
}

}  // namespace

void wireScanWindows(MainForm& main, Program& program) {
  auto window = std::make_shared<QPointer<Scan_Set>>();
  MainForm* m = &main;
  Program* p = &program;
  main.openScanSettings = [window, m, p] {
    QPointer<Scan_Set>& w = *window;
    const bool fresh = !w || w->unloaded();
    if (fresh) {
      w = new Scan_Set(*p, m);
      w->setAttribute(Qt::WA_DeleteOnClose);
      w->mainChanged = [m] { m->syncFromCore(); };
      w->load();
      // A failed read-back re-connects the instruments and unloads the window again.
      if (!w || w->unloaded()) return;
    }
    present(w, *m, fresh);
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
  main.openRecordView = [windows, m, p] {
    showWindow(windows->view, *m, *p)->setCentralDoor([m, p] { openCentralRun(*m, *p, false); });
  };
  main.openRecordDraw = [windows, m, p] {
    showWindow(windows->draw, *m, *p)->setCentralDoor([m, p] { openCentralRun(*m, *p, true); });
  };
}

void wireDataTable(MainForm& main, Program& program) {
  auto window = std::make_shared<QPointer<DATA_Table>>();
  MainForm* m = &main;
  Program* p = &program;
  main.openDataTable = [window, m, p] {
    const bool fresh = !*window;
    if (fresh) {
      // Closing it unloads it; the next opening copies the main window's tables again.
      *window = new DATA_Table(*p, m);
      (*window)->setAttribute(Qt::WA_DeleteOnClose);
    }
    present(*window, *m, fresh);
  };
  main.unloadDataTable = [window] { delete window->data(); };
  main.syncDataTable = [window] {
    if (*window) (*window)->sync();
  };
}

void wireStatistics(MainForm& main, Program& program) {
  auto window = std::make_shared<QPointer<Live_Statistics>>();
  MainForm* m = &main;
  Program* p = &program;
  main.openStatistics = [window, m, p] { showWindow(*window, *m, *p); };
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
    const bool fresh = window->isNull();
    if (fresh) {
      // EXIT unloads the window; the next opening builds it afresh.
      *window = new About_Form(*messages, m);
      (*window)->setAttribute(Qt::WA_DeleteOnClose);
    }
    present(*window, *m, fresh);
  };
}

void wireCentral(MainForm& main, Program& program, QSettings& settings) {
  auto window = std::make_shared<QPointer<CentralDialog>>();
  MainForm* m = &main;
  Program* p = &program;
  QSettings* kept = &settings;
  main.openCentralDatabase = [window, m, p, kept] {
    const bool fresh = window->isNull();
    if (fresh) {
      auto state = [p]() -> std::string {
        const auto st = p->centralStatus();
        if (!st) return {};
        if (st->passes == 0) return "connecting";
        central::CentralState all;
        all.connected = st->connected;
        all.waiting = st->scansWaiting;
        all.error = st->lastError;
        std::string text = central::centralStateText(all);
        // Then each selected instrument's share: the record it logs into.
        for (int slot = 0; slot < p->link.InstrumentCount; ++slot) {
          const auto s = static_cast<std::size_t>(slot);
          const std::string name = s < p->display.deviceList.size()
                                       ? p->display.deviceList[s]
                                       : "instrument " + std::to_string(slot + 1);
          text += "\n" + name + ": " + p->centralState(slot);
        }
        return text;
      };
      *window = new CentralDialog(p->centralChoice(), state, m);
      (*window)->setAttribute(Qt::WA_DeleteOnClose);
      QObject::connect(*window, &QDialog::accepted, m, [window, p, kept] {
        const central::CentralChoice choice = (*window)->choice();
        saveCentralChoice(*kept, choice);
        p->setCentral(choice);
      });
    }
    present(*window, *m, fresh);
  };
}

}  // namespace kalivor
