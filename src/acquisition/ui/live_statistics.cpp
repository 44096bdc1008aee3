// SPDX-License-Identifier: MIT
#include "acquisition/ui/live_statistics.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "acquisition/ui/alarm_style.h"
#include "app/program.h"
#include "common/ui/qt_seams.h"
#include "store/statistics.h"

namespace kalivor {

namespace {
// Often enough to follow a run by eye, rarely enough to cost nothing.
constexpr int kRefreshMs = 500;
}  // namespace

Live_Statistics::Live_Statistics(Program& program, QWidget* parent) : QWidget(parent), p_(program) {
  setWindowFlag(Qt::Window);
  setObjectName("Live_Statistics");
  setWindowTitle("Channel Statistics");
  if (parent) setWindowIcon(parent->windowIcon());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Since the run started (scaled values where a channel is scaled):", this));
  live_grid = new QTableWidget(this);
  live_grid->setObjectName("live_grid");
  live_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  live_grid->verticalHeader()->hide();
  QStringList captions = {"Instrument", "Channel"};
  for (const char* c : store::kStatisticsCaptions) captions << c;
  captions << "Unit" << "Alarms";
  live_grid->setColumnCount(static_cast<int>(captions.size()));
  live_grid->setHorizontalHeaderLabels(captions);
  layout->addWidget(live_grid);
  resize(px(16500), px(5000));
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &Live_Statistics::refresh);
  timer_->start(kRefreshMs);
  refresh();
}

void Live_Statistics::refresh() {
  const ChannelWatch& w = p_.run.channelWatch();
  if (w.revision() == shown_) return;
  shown_ = w.revision();
  live_grid->setRowCount(0);
  for (int slot = 0; slot < kMaxInstruments; ++slot) {
    const std::string instrument = static_cast<std::size_t>(slot) < p_.display.deviceList.size()
                                       ? p_.display.deviceList[static_cast<std::size_t>(slot)]
                                       : std::string();
    for (int c = 0; c < w.channelCount(slot); ++c) {
      const store::ChannelInfo& info = w.info(slot, c);
      if (info.function == "NONE") continue;
      const store::ChannelStatistics& s = w.statistics(slot, c);
      std::vector<std::string> cells = {instrument, "CH " + std::to_string(c + 1)};
      for (const std::string& t : store::statisticsTexts(s)) cells.push_back(t);
      cells.push_back(info.scaled() ? info.unitLabel : std::string());
      const bool limited = info.alarmLow || info.alarmHigh;
      cells.push_back(limited ? std::to_string(w.alarmCount(slot, c)) : std::string());
      const int row = live_grid->rowCount();
      live_grid->insertRow(row);
      for (std::size_t k = 0; k < cells.size(); ++k) {
        auto* item = new QTableWidgetItem(toQt(cells[k]));
        // The channel whose latest reading is outside its band stands out as in the grids.
        if (w.alarmed(slot, c)) {
          item->setForeground(alarmQColor(kAlarmTextColor));
          item->setBackground(alarmQColor(kAlarmBackgroundColor));
        }
        live_grid->setItem(row, static_cast<int>(k), item);
      }
    }
  }
  live_grid->resizeColumnsToContents();
}

}  // namespace kalivor
