// SPDX-License-Identifier: MIT
#pragma once
// The main window's doors to the other windows. Only the application knows both sides, so the
// wiring lives here and no subsystem window needs the main window.
#include "charts/ui/chart_print.h"

class QSettings;

namespace kalivor {

class MainForm;
class Program;

// Scan settings: made and loaded on first use, shown again (with the same working copy) after
// Set has hidden it, unloaded by its close box and whenever the instruments are selected anew.
void wireScanWindows(MainForm& main, Program& program);
// Data table: top-most, made on first use, unloaded when the selection changes.
void wireDataTable(MainForm& main, Program& program);
// View → Channel Statistics: the live statistics of the run.
void wireStatistics(MainForm& main, Program& program);
// Database selection, record browser and record chart: each modeless, made on first use and
// brought to the front when already open.
void wireRecordWindows(MainForm& main, Program& program);
void wireAbout(MainForm& main, Program& program);
// Operation → "Central database…": its dialog, the choice kept in `settings` and put to work.
void wireCentral(MainForm& main, Program& program, QSettings& settings);
// Printing and saving the trend chart, on the default printer or on the printers given.
void wireChartOutput(MainForm& main, Program& program);
void wireChartOutput(MainForm& main, Program& program, ChartOutput::PrinterSource printers);

}  // namespace kalivor
