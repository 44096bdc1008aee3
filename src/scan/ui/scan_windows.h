#pragma once
// Opens the scan settings window from the main window: made and loaded on first use, shown again
// (with the same working copy) after Set has hidden it, unloaded by its close box and whenever the
// instruments are selected anew.
namespace kalivor {

class MainForm;
class Program;

void wireScanWindows(MainForm& main, Program& program);

}  // namespace kalivor
