#pragma once
// Opens the record windows from the main window: database selection, record browser and record
// chart, each modeless, made on first use and brought to the front when already open.
namespace kalivor {

class MainForm;
class Program;

void wireRecordWindows(MainForm& main, Program& program);

}  // namespace kalivor
