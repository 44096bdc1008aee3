// SPDX-License-Identifier: MIT
#include "scan/ui/scan_set.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "common/ui/qt_seams.h"
#include "common/numbers.h"
#include "scan/apply.h"
#include "scan/setup_file.h"
#include "scan/channel_extras.h"
#include "scan/ui/channel_extras_set.h"
#include "scan/ui/dci_aci_set.h"

namespace kalivor {
namespace {

constexpr std::array<double, 7> kColumnTwips = {1200, 2124, 2124, 2124, 2124, 2124, 2100};
constexpr double kHeaderTwips = 520;
constexpr double kRowTwips = 292;
constexpr double kDivisionTwips = 1270;
constexpr double kUnitTwips = 850;
constexpr int kMargin = 8;
constexpr int kGap = 12;
const QColor kHeaderColor(230, 230, 250);
constexpr std::array<const char*, 4> kTimeUnits = {"hour", "min", "sec", "msec"};

// The up-down buttons beside a number box: one step up or down, within the box's range. Setting
// the text runs the box's own change handling, as typing would.
class UpDownButtons final : public QWidget {
 public:
  UpDownButtons(const QString& name, QLineEdit* buddy, int minimum, int maximum, QWidget* parent)
      : QWidget(parent), buddy_(buddy), minimum_(minimum), maximum_(maximum) {
    setObjectName(name);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    for (int i = 0; i < 2; ++i) {
      auto* b = new QToolButton(this);
      b->setObjectName(name + (i == 0 ? "_up" : "_down"));
      b->setArrowType(i == 0 ? Qt::UpArrow : Qt::DownArrow);
      b->setAutoRepeat(true);
      b->setFocusPolicy(Qt::NoFocus);
      b->setFixedSize(14, buddy->sizeHint().height() / 2);
      const int by = i == 0 ? 1 : -1;
      QObject::connect(b, &QToolButton::clicked, this, [this, by] { step(by); });
      lay->addWidget(b);
    }
    setFixedSize(14, 2 * (buddy->sizeHint().height() / 2));
  }

  void step(int by) {
    const double v = leadingNumber(fromQt(buddy_->text()));
    double n = std::isfinite(v) ? std::round(v) + by : minimum_;
    n = std::clamp(n, static_cast<double>(minimum_), static_cast<double>(maximum_));
    buddy_->setText(toQt(intToText(static_cast<std::int64_t>(n))));
  }

 private:
  QLineEdit* buddy_;
  int minimum_;
  int maximum_;
};

QDateTime toQDateTime(LocalMs ms) {
  const LocalDateTime t = fromLocalMs(ms);
  // Local wall-clock values without a zone, so no daylight-saving gap can move them.
  return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, t.millisecond),
                   Qt::UTC);
}

LocalMs fromQDateTime(const QDateTime& d) {
  const QDate date = d.date();
  const QTime time = d.time();
  return makeLocalMs(date.year(), date.month(), date.day(), time.hour(), time.minute(),
                     time.second(), time.msec());
}

void setText(QLineEdit* box, const std::string& text) {
  const QString t = toQt(text);
  if (box->text() != t) box->setText(t);
}

void setIndex(QComboBox* box, int index) {
  if (index < -1 || index >= box->count()) index = -1;
  if (box->currentIndex() != index) box->setCurrentIndex(index);
}

QString cellText(const std::string& text) {
  // The header's line break is CR LF; the grid breaks lines at LF alone.
  QString t = toQt(text);
  t.remove(QChar('\r'));
  return t;
}

// What the channel's cell says about its optional scaling and alarm limits.
QString extrasTip(const ChannelSetup& c) {
  const ChannelExtrasText t = extrasText(c);
  QString tip = "Double-click: scaling and alarm limits";
  if (t.scaleOn) tip += toQt("\nScaled: " + t.gain + " \u00d7 reading + " + t.offset + " " + t.unit);
  if (!t.low.empty()) tip += toQt("\nLow limit: " + t.low);
  if (!t.high.empty()) tip += toQt("\nHigh limit: " + t.high);
  return tip;
}

QComboBox* hiddenList(QWidget* parent, const QString& name, const std::vector<std::string>& items) {
  auto* list = new QComboBox(parent);
  list->setObjectName(name);
  for (const auto& item : items) list->addItem(toQt(item));
  list->hide();
  return list;
}

template <std::size_t N>
std::vector<std::string> itemsOf(const std::array<const char*, N>& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

QStringList itemsOf(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

}  // namespace

Scan_Set::Scan_Set(Program& program, QWidget* parent)
    : QWidget(parent), p_(program), editor_(program.tables, program.clock) {
  setWindowFlag(Qt::Window);
  setObjectName("Scan_Set");
  setWindowTitle("Scan Set");
  if (parent) setWindowIcon(parent->windowIcon());

  for (int k = 0; k < 4; ++k) {
    RoutStat[static_cast<std::size_t>(k)] =
        hiddenList(this, QString("RoutStat_%1").arg(k), functionList(k + 1, 20, 0));
    RoutStat_p2[static_cast<std::size_t>(k)] =
        hiddenList(this, QString("RoutStat_p2_%1").arg(k), functionList(k + 1, 20, 19));
  }
  TEMP_Combo_hideItem = hiddenList(this, "TEMP_Combo_hideItem", itemsOf(kTemperatureSensorTypes));
  Tco_Combo_hideItem = hiddenList(this, "Tco_Combo_hideItem", itemsOf(kThermocoupleTypes));

  buildGrid();
  buildRowControls();
  buildPanel();
  layOut();
}

Scan_Set::~Scan_Set() = default;

// ---- building -----------------------------------------------------------------------------------

void Scan_Set::buildGrid() {
  for (int k = 0; k < kMaxInstruments; ++k) {
    auto* b = new QRadioButton(QString("Device%1").arg(k + 1), this);
    b->setObjectName(QString("Device_opt_%1").arg(k));
    b->hide();
    connect(b, &QRadioButton::clicked, this, [this, k] { Device_opt_Click(k); });
    Device_opt[static_cast<std::size_t>(k)] = b;
  }

  auto* g = new QTableWidget(1 + kMaxChannels, 7, this);
  g->setObjectName("ScanSet_MSFlexGrid");
  g->horizontalHeader()->hide();
  g->verticalHeader()->hide();
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionMode(QAbstractItemView::ContiguousSelection);
  g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setWordWrap(false);
  g->installEventFilter(this);
  connect(g, &QTableWidget::cellClicked, this, &Scan_Set::ScanSet_MSFlexGrid_Click);
  // The channel's own cell opens its optional scaling and alarm limits.
  connect(g, &QTableWidget::cellDoubleClicked, this, [this](int row, int col) {
    if (col == 1 && row >= 1 && row <= rows_) openExtrasWindow(row - 1);
  });
  ScanSet_MSFlexGrid = g;
}

void Scan_Set::buildRowControls() {
  QWidget* cells = ScanSet_MSFlexGrid->viewport();
  Check_all_1 = new QCheckBox(cells);
  Check_all_1->setObjectName("Check_all_1");
  connect(Check_all_1, &QCheckBox::clicked, this, [this](bool on) {
    editor_.clickCheckAll(on);
    sync();
  });

  const QStringList units = [] {
    QStringList u;
    for (const char* s : kDivisionUnits) u << s;
    return u;
  }();
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const auto n = static_cast<std::size_t>(ch);
    auto* enable = new QCheckBox(cells);
    enable->setObjectName(QString("EnableChannel_Check_%1").arg(ch));
    enable->hide();
    connect(enable, &QCheckBox::clicked, this, [this, ch](bool on) { enableClicked(ch, on); });
    EnableChannel_Check[n] = enable;

    auto* func = new QComboBox(cells);
    func->setObjectName(QString("Chan_Func_%1").arg(ch));
    func->hide();
    connect(func, &QComboBox::activated, this, [this, ch](int) { functionChosen(ch); });
    Chan_Func[n] = func;

    auto* temp = new QComboBox(cells);
    temp->setObjectName(QString("TEMP_combo_%1").arg(ch));
    temp->addItems(itemsOf(TEMP_Combo_hideItem));
    temp->hide();
    connect(temp, &QComboBox::activated, this, [this, ch](int index) {
      editor_.chooseTemperatureType(ch, index);
      sync();
    });
    TEMP_combo[n] = temp;

    auto* tco = new QComboBox(cells);
    tco->setObjectName(QString("TCO_combo_%1").arg(ch));
    tco->addItems(itemsOf(Tco_Combo_hideItem));
    tco->hide();
    connect(tco, &QComboBox::activated, this, [this, ch](int index) {
      editor_.chooseThermocoupleType(ch, index);
      sync();
    });
    TCO_combo[n] = tco;

    auto* division = new QLineEdit(cells);
    division->setObjectName(QString("set_division_%1").arg(ch));
    division->setAlignment(Qt::AlignCenter);
    division->hide();
    auto* unit = new QComboBox(cells);
    unit->setObjectName(QString("Type_unit_%1").arg(ch));
    unit->addItems(units);
    unit->hide();
    const auto divisionChanged = [this, ch] {
      if (syncing_) return;
      const auto c = static_cast<std::size_t>(ch);
      editor_.changeDivision(ch, fromQt(set_division[c]->text()),
                             fromQt(Type_unit[c]->currentText()));
    };
    connect(division, &QLineEdit::textChanged, this, divisionChanged);
    connect(unit, &QComboBox::activated, this, divisionChanged);
    set_division[n] = division;
    Type_unit[n] = unit;

    auto* offset = new QLineEdit(cells);
    offset->setObjectName(QString("set_offset_%1").arg(ch));
    offset->setAlignment(Qt::AlignCenter);
    offset->hide();
    connect(offset, &QLineEdit::textChanged, this, [this, ch](const QString& text) {
      if (!syncing_) editor_.changeOffset(ch, fromQt(text));
    });
    set_offset[n] = offset;
  }
}

void Scan_Set::buildPanel() {
  auto numberBox = [this](const char* name, int width) {
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    box->setFixedWidth(width);
    box->setAlignment(Qt::AlignRight);
    box->installEventFilter(this);  // digits and backspace only
    return box;
  };
  auto upDown = [this](const char* name, QLineEdit* buddy, int minimum, int maximum) {
    return new UpDownButtons(name, buddy, minimum, maximum, this);
  };

  Dev_ScanSet = new QComboBox(this);
  Dev_ScanSet->setObjectName("Dev_ScanSet");
  // Picking an entry shows that instrument, as its option button does.
  connect(Dev_ScanSet, &QComboBox::activated, this, [this](int k) { Device_opt_Click(k); });

  // Scan type.
  auto* typeBox = new QGroupBox("Scan Type", this);
  auto* typeLay = new QHBoxLayout(typeBox);
  const char* typeCaptions[] = {"SCAN", "STEP"};
  for (int i = 0; i < 2; ++i) {
    auto* b = new QRadioButton(typeCaptions[i], typeBox);
    b->setObjectName(QString("Scan_Type_%1").arg(i));
    connect(b, &QRadioButton::clicked, this, [this, i] {
      editor_.clickScanType(i == 1);
      sync();
    });
    typeLay->addWidget(b);
    Scan_Type[static_cast<std::size_t>(i)] = b;
  }
  typeLay->addStretch();

  // How the run ends.
  auto* countBox = new QGroupBox("Scan Count", this);
  auto* countLay = new QGridLayout(countBox);
  total_channel_count = new QRadioButton("After N Channel", countBox);
  total_channel_count->setObjectName("total_channel_count");
  stop_after_n_scan = new QRadioButton("After N Scan", countBox);
  stop_after_n_scan->setObjectName("stop_after_n_scan");
  Default_count = new QRadioButton("By Pressing Stop Button", countBox);
  Default_count->setObjectName("Default_count");
  N_Channel_SCAN = numberBox("N_Channel_SCAN", 56);
  N_SCAN = numberBox("N_SCAN", 56);
  UpDown_N_Channel_SCAN = upDown("UpDown_N_Channel_SCAN", N_Channel_SCAN, 1, kMaxChannelReadings);
  UpDown_N_SCAN = upDown("UpDown_N_SCAN", N_SCAN, 1, kMaxScans);
  // Option buttons and check boxes keep their own width: a click beside the text is no click.
  countLay->addWidget(total_channel_count, 0, 0, Qt::AlignLeft);
  countLay->addWidget(N_Channel_SCAN, 0, 1);
  countLay->addWidget(UpDown_N_Channel_SCAN, 0, 2);
  countLay->addWidget(stop_after_n_scan, 1, 0, Qt::AlignLeft);
  countLay->addWidget(N_SCAN, 1, 1);
  countLay->addWidget(UpDown_N_SCAN, 1, 2);
  countLay->addWidget(Default_count, 2, 0, 1, 3, Qt::AlignLeft);
  countLay->setHorizontalSpacing(2);
  countLay->setColumnStretch(0, 1);
  const std::pair<QRadioButton*, int> modes[] = {
      {total_channel_count, 0}, {stop_after_n_scan, 1}, {Default_count, 2}};
  for (const auto& [button, mode] : modes) {
    connect(button, &QRadioButton::clicked, this, [this, mode = mode] {
      editor_.clickCountMode(mode);
      sync();
    });
  }
  for (QLineEdit* box : {N_Channel_SCAN, N_SCAN}) {
    connect(box, &QLineEdit::textChanged, this, [this, box] { countChanged(box); });
  }

  // Intervals: seconds box = hours : minutes : seconds . milliseconds.
  auto* intervalBox = new QGroupBox("Interval", this);
  auto* intervalLay = new QVBoxLayout(intervalBox);
  auto timeRow = [&](int group, const char* secondsName, std::array<const char*, 4> names,
                     std::array<const char*, 4> upDownNames, std::array<QWidget**, 4> upDownSlots) {
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    auto* seconds = new QLineEdit(this);
    seconds->setObjectName(secondsName);
    // The total is worked out from the fields; typing it would bypass the range check.
    seconds->setReadOnly(true);
    seconds->setFixedWidth(64);
    seconds->setAlignment(Qt::AlignRight);
    row->addWidget(seconds);
    row->addWidget(new QLabel("s =", this));
    const int maxima[] = {ProtectTime::kHourMax, ProtectTime::kMinuteMax, ProtectTime::kSecondMax,
                          ProtectTime::kMillisecondMax};
    const char* separators[] = {":", ":", "."};
    for (int f = 0; f < 4; ++f) {
      QLineEdit* field = numberBox(names[static_cast<std::size_t>(f)], f == 3 ? 36 : 28);
      field->setAlignment(Qt::AlignCenter);
      timeFields_[static_cast<std::size_t>(group)][static_cast<std::size_t>(f)] = field;
      const auto g = group == 0 ? IntervalGroup::Channel : IntervalGroup::Scan;
      connect(field, &QLineEdit::textChanged, this, [this, g, f] { timeFieldChanged(g, f); });
      row->addWidget(field);
      QWidget* ud = upDown(upDownNames[static_cast<std::size_t>(f)], field, 0, maxima[f]);
      *upDownSlots[static_cast<std::size_t>(f)] = ud;
      row->addWidget(ud);
      if (f < 3) row->addWidget(new QLabel(separators[f], this));
    }
    row->addStretch();
    return std::make_pair(seconds, row);
  };
  channel_scan_interval = new QCheckBox("Per Channel Interval", intervalBox);
  channel_scan_interval->setObjectName("channel_scan_interval");
  connect(channel_scan_interval, &QCheckBox::clicked, this, [this](bool on) {
    editor_.clickPerChannelInterval(on);
    sync();
  });
  intervalLay->addWidget(channel_scan_interval, 0, Qt::AlignLeft);
  auto [channelSeconds, channelRow] = timeRow(0, "channel_interval", {"H1", "M1", "S1", "MS1"},
                                              {"UpDown_H1", "UpDown_M1", "UpDown_S1", "UpDown_MS1"},
                                              {&UpDown_H1, &UpDown_M1, &UpDown_S1, &UpDown_MS1});
  channel_interval = channelSeconds;
  intervalLay->addLayout(channelRow);
  cbScan = new QComboBox(intervalBox);
  cbScan->setObjectName("cbScan");
  for (const char* kind : kScanIntervalKinds) cbScan->addItem(kind);
  connect(cbScan, &QComboBox::activated, this, [this](int index) {
    editor_.clickScanIntervalKind(index);
    sync();
  });
  auto* kindRow = new QHBoxLayout;
  kindRow->addWidget(cbScan);
  kindRow->addStretch();
  intervalLay->addLayout(kindRow);
  auto [scanSeconds, scanRow] = timeRow(1, "scan_interval", {"H2", "M2", "S2", "MS2"},
                                        {"UpDown_H2", "UpDown_M2", "UpDown_S2", "UpDown_MS2"},
                                        {&UpDown_H2, &UpDown_M2, &UpDown_S2, &UpDown_MS2});
  scan_interval = scanSeconds;
  intervalLay->addLayout(scanRow);
  H1 = timeFields_[0][0];
  M1 = timeFields_[0][1];
  S1 = timeFields_[0][2];
  MS1 = timeFields_[0][3];
  H2 = timeFields_[1][0];
  M2 = timeFields_[1][1];
  S2 = timeFields_[1][2];
  MS2 = timeFields_[1][3];

  // Start and stop moments.
  auto* timeBox = new QGroupBox("Start / Stop", this);
  auto* timeLay = new QGridLayout(timeBox);
  auto picker = [timeBox](const char* name) {
    auto* p = new QDateTimeEdit(timeBox);
    p->setObjectName(name);
    p->setDisplayFormat("yyyy/MM/dd hh:mm:ss");
    p->setTimeSpec(Qt::UTC);
    p->setCalendarPopup(true);
    return p;
  };
  at_time = new QCheckBox("Start Time", timeBox);
  at_time->setObjectName("at_time");
  StartTime = picker("StartTime");
  stop_time = new QCheckBox("Stop Time", timeBox);
  stop_time->setObjectName("stop_time");
  StopTime = picker("StopTime");
  timeLay->addWidget(at_time, 0, 0, Qt::AlignLeft);
  timeLay->addWidget(StartTime, 0, 1);
  timeLay->addWidget(stop_time, 1, 0, Qt::AlignLeft);
  timeLay->addWidget(StopTime, 1, 1);
  connect(at_time, &QCheckBox::clicked, this, &Scan_Set::startChanged);
  connect(StartTime, &QDateTimeEdit::dateTimeChanged, this, &Scan_Set::startChanged);
  connect(stop_time, &QCheckBox::clicked, this, &Scan_Set::stopChanged);
  connect(StopTime, &QDateTimeEdit::dateTimeChanged, this, &Scan_Set::stopChanged);

  set_stat = new QLabel(this);
  set_stat->setObjectName("set_stat");
  set_stat->setAlignment(Qt::AlignCenter);

  SaveRD_Btn = new QPushButton("Save Record", this);
  SaveRD_Btn->setObjectName("SaveRD_Btn");
  LoadRD_Btn = new QPushButton("Load Record", this);
  LoadRD_Btn->setObjectName("LoadRD_Btn");
  Set_Command = new QPushButton("Set", this);
  Set_Command->setObjectName("Set_Command");
  connect(SaveRD_Btn, &QPushButton::clicked, this, &Scan_Set::SaveRD_Btn_Click);
  connect(LoadRD_Btn, &QPushButton::clicked, this, &Scan_Set::LoadRD_Btn_Click);
  connect(Set_Command, &QPushButton::clicked, this, &Scan_Set::Set_Command_Click);

  auto* panel = new QWidget(this);
  panel->setObjectName("panel");
  auto* lay = new QVBoxLayout(panel);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->addWidget(typeBox);
  lay->addWidget(countBox);
  lay->addWidget(intervalBox);
  lay->addWidget(timeBox);
  lay->addWidget(set_stat);
  lay->addStretch();
  lay->addWidget(Dev_ScanSet);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(SaveRD_Btn);
  buttons->addWidget(LoadRD_Btn);
  buttons->addWidget(Set_Command);
  lay->addLayout(buttons);
}

void Scan_Set::layOut() {
  QTableWidget* g = ScanSet_MSFlexGrid;
  // Rows as high as the lists that open over them, so no list is cut off.
  rowHeight_ = std::max(
      {px(kRowTwips), Chan_Func[0]->sizeHint().height(), set_division[0]->sizeHint().height()});
  const QFontMetrics fm(g->font());
  const int headerHeight = std::max(px(kHeaderTwips), 2 * fm.lineSpacing() + 8);
  int width = 0;
  for (int c = 0; c < 7; ++c) {
    g->setColumnWidth(c, px(kColumnTwips[static_cast<std::size_t>(c)]));
    width += px(kColumnTwips[static_cast<std::size_t>(c)]);
  }
  g->setRowHeight(0, headerHeight);
  for (int r = 1; r <= kMaxChannels; ++r) g->setRowHeight(r, rowHeight_);
  const int frame = 2 * g->frameWidth();
  const int gridTop = kMargin + Device_opt[0]->sizeHint().height() + kMargin;
  naturalGrid_ = QRect(kMargin, gridTop, width + frame, headerHeight + kMaxChannels * rowHeight_ + frame);

  auto* panel = findChild<QWidget*>("panel", Qt::FindDirectChildrenOnly);
  const int panelLeft = naturalGrid_.right() + 1 + kGap;
  const int panelWidth = std::max(panel->sizeHint().width(), 300);
  const int height = std::max(naturalGrid_.height(), panel->sizeHint().height());
  naturalPanel_ = QRect(panelLeft, gridTop, panelWidth, height);
  naturalSize_ = QSize(panelLeft + panelWidth + kMargin, gridTop + height + kMargin);
  // Its own size is its smallest: the panel's controls need all of its height, and the grid's
  // captions and lists all of its width.
  setMinimumSize(naturalSize_);
  resize(naturalSize_);
  layoutForSize();
}

void Scan_Set::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layoutForSize();
}

void Scan_Set::layoutForSize() {
  if (naturalSize_.isEmpty()) return;
  const int dx = std::max(0, width() - naturalSize_.width());
  const int dy = height() - naturalSize_.height();
  ScanSet_MSFlexGrid->setGeometry(naturalGrid_.adjusted(0, 0, dx, dy));
  auto* panel = findChild<QWidget*>("panel", Qt::FindDirectChildrenOnly);
  panel->setGeometry(naturalPanel_.translated(dx, 0).adjusted(0, 0, 0, dy));
  fitColumns();
  placeDeviceOptions();
  placeRowControls();
}

void Scan_Set::fitColumns() {
  // The Enable column keeps its width; the others share what the grid's cell area has beyond
  // their own widths, in proportion to them. The area is worked out from the grid's own size, as
  // the grid will lay it out (its cell area is only laid out once shown).
  QTableWidget* g = ScanSet_MSFlexGrid;
  int natural = 0;
  for (double t : kColumnTwips) natural += px(t);
  const int shared = natural - px(kColumnTwips[0]);
  const int extra = std::max(0, g->maximumViewportSize().width() - natural);
  int given = 0;
  for (int c = 1; c < 7; ++c) {
    const int own = px(kColumnTwips[static_cast<std::size_t>(c)]);
    const int share = c == 6 ? extra - given : extra * own / shared;
    given += share;
    if (g->columnWidth(c) != own + share) g->setColumnWidth(c, own + share);
  }
}

void Scan_Set::placeDeviceOptions() {
  constexpr int kOptionGap = 24;
  const int available = width() - 2 * kMargin;
  int wanted = 0;
  for (QRadioButton* b : Device_opt) wanted += b->sizeHint().width() + kOptionGap;
  // Long descriptions share the row evenly; the tool tip keeps the whole text.
  const int cap = wanted <= available ? available : available / kMaxInstruments - kOptionGap;
  int x = kMargin;
  for (QRadioButton* b : Device_opt) {
    const int w = std::min(b->sizeHint().width(), cap);
    b->setGeometry(x, kMargin, w, b->sizeHint().height());
    x += w + kOptionGap;
  }
}

void Scan_Set::placeRowControls() {
  QTableWidget* g = ScanSet_MSFlexGrid;
  const auto cell = [g](int r, int c) { return g->visualRect(g->model()->index(r, c)); };
  const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, Check_all_1);
  const QSize box(indicator + 2, indicator + 2);

  // "Select All" sits in the blanks before "Enable" on the header's first line.
  const QRect header = cell(0, 0);
  const QFontMetrics fm(g->font());
  const int lineWidth = fm.horizontalAdvance("     Enable");
  const int blanks = fm.horizontalAdvance("     ");
  const int textTop = header.top() + (header.height() - 2 * fm.lineSpacing()) / 2;
  const int left = header.left() + (header.width() - lineWidth) / 2 + (blanks - box.width()) / 2;
  Check_all_1->setGeometry(std::max(header.left() + 1, left),
                           textTop + (fm.lineSpacing() - box.height()) / 2, box.width(),
                           box.height());

  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const auto n = static_cast<std::size_t>(ch);
    const int r = ch + 1;
    const QRect enable = cell(r, 0);
    EnableChannel_Check[n]->setGeometry(
        QRect(QPoint(0, 0), box)
            .translated(enable.center() - QPoint(box.width() / 2, box.height() / 2)));
    Chan_Func[n]->setGeometry(cell(r, 3));
    TEMP_combo[n]->setGeometry(cell(r, 4));
    TCO_combo[n]->setGeometry(cell(r, 4));
    const QRect division = cell(r, 5);
    // The unit list gets the width its longest entry needs, the division box the rest.
    const int unitWidth = std::clamp(Type_unit[n]->sizeHint().width(), px(kUnitTwips),
                                     division.width() - px(kDivisionTwips) / 2);
    const int divisionWidth = division.width() - unitWidth;
    set_division[n]->setGeometry(division.left(), division.top(), divisionWidth, division.height());
    Type_unit[n]->setGeometry(division.left() + divisionWidth, division.top(),
                              division.width() - divisionWidth, division.height());
    set_offset[n]->setGeometry(cell(r, 6));
  }
}

// ---- loading and showing an instrument ---------------------------------------------------------

InstrumentAccess Scan_Set::access() {
  InstrumentAccess a;
  a.readBack = [this](int slot) {
    // Once a failed read-back has re-connected the instruments this window is being unloaded;
    // asking the others would only wait for more time-outs.
    if (unloaded_) return;
    ReadBack(editor_, p_.link, slot, [this] {
      p_.selection.CheckDev();
      if (mainChanged) mainChanged();
    });
  };
  a.lastExchangeFailed = [this] { return unloaded_ || p_.link.lastExchangeFailed(); };
  return a;
}

void Scan_Set::linkFailed() {
  if (unloaded_) return;
  p_.link.StopRequested = true;
  p_.selection.ok_Button_Click();
  if (mainChanged) mainChanged();
}

void Scan_Set::load() {
  const std::vector<std::string>& devices = p_.display.deviceList;
  listed_ = std::min<int>(static_cast<int>(devices.size()), kMaxInstruments);
  Dev_ScanSet->clear();
  for (int k = 0; k < kMaxInstruments; ++k) {
    QRadioButton* b = Device_opt[static_cast<std::size_t>(k)];
    if (k < listed_) {
      const QString entry = toQt(devices[static_cast<std::size_t>(k)]);
      Dev_ScanSet->addItem(entry);
      b->setText(entry);
      b->setToolTip(entry);
      b->show();
    } else {
      b->hide();
    }
  }
  placeDeviceOptions();
  const ShowOutcome outcome =
      editor_.load(std::vector<std::string>(devices.begin(), devices.begin() + listed_), access());
  if (unloaded_) return;
  if (outcome == ShowOutcome::LinkFailed) {
    linkFailed();
    return;
  }
  hideCellLists();
  fillChannelLists();
  sync();
}

bool Scan_Set::refusedWhileRunning() {
  if (!p_.run.running()) return false;
  p_.messages.inform(kScanSetRunningText);
  sync();
  return true;
}

void Scan_Set::Device_opt_Click(int k) {
  if (k < 0 || k >= listed_ || k == editor_.shownSlot()) {
    sync();
    return;
  }
  // Showing an instrument reads it back: no queries between the run's own.
  if (refusedWhileRunning()) return;
  hideCellLists();
  ScanSet_MSFlexGrid->clearSelection();
  const ShowOutcome outcome = editor_.showInstrument(k, access());
  if (unloaded_) return;
  if (outcome == ShowOutcome::LinkFailed) {
    sync();
    linkFailed();
    return;
  }
  fillChannelLists();
  sync();
}

void Scan_Set::fillChannelLists() {
  const int card = editor_.shownCard();
  const int count = editor_.shownSetup().ChannelCount;
  rows_ = editor_.shownChannelCount();
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    QComboBox* func = Chan_Func[static_cast<std::size_t>(ch)];
    func->clear();
    if (ch >= rows_ || card < 1 || card > 4) continue;
    const QComboBox* source = isLowerHalf(count, ch)
                                  ? RoutStat[static_cast<std::size_t>(card - 1)]
                                  : RoutStat_p2[static_cast<std::size_t>(card - 1)];
    func->addItems(itemsOf(source));
  }
}

void Scan_Set::hideCellLists() {
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    Chan_Func[static_cast<std::size_t>(ch)]->hide();
    TEMP_combo[static_cast<std::size_t>(ch)]->hide();
    TCO_combo[static_cast<std::size_t>(ch)]->hide();
  }
}

void Scan_Set::unload() {
  if (unloaded_) return;
  unloaded_ = true;
  hide();
  deleteLater();
}

void Scan_Set::closeEvent(QCloseEvent* event) {
  // The close box unloads the window; the next opening starts from the defaults again, so
  // edits not yet set would be lost: ask first.
  if (!unloaded_ && editor_.anyEdited()) {
    const Message question{kDiscardEditsText, kAppTitle, MessageButtons::YesNo,
                           MessageIcon::Question};
    if (p_.messages.show(question) != MessageAnswer::Yes) {
      event->ignore();
      return;
    }
  }
  unloaded_ = true;
  event->accept();
}

// ---- mirroring the editor ----------------------------------------------------------------------

void Scan_Set::sync() {
  const bool was = syncing_;
  syncing_ = true;
  syncGrid();
  syncRows();
  syncScanControls();
  syncing_ = was;
}

void Scan_Set::syncGrid() {
  QTableWidget* g = ScanSet_MSFlexGrid;
  if (g->rowCount() != rows_ + 1) g->setRowCount(rows_ + 1);
  for (int r = 0; r <= rows_; ++r) {
    g->setRowHeight(r, r == 0 ? g->rowHeight(0) : rowHeight_);
    for (int c = 0; c < 7; ++c) {
      QTableWidgetItem* item = g->item(r, c);
      if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignCenter);
        // The header row takes no selection; copy and paste work on channel rows.
        if (r == 0) item->setFlags(Qt::ItemIsEnabled);
        g->setItem(r, c, item);
      }
      const QString text = cellText(editor_.gridCellText(r, c));
      if (item->text() != text) item->setText(text);
      if (r > 0 && c == 1) item->setToolTip(extrasTip(editor_.shownChannel(r - 1)));
      if (r == 0) {
        item->setBackground(kHeaderColor);
      } else if (c == 2) {
        item->setBackground(toQColor(editor_.shownChannel(r - 1).Color));
      } else {
        item->setBackground(QBrush());
      }
    }
  }
}

void Scan_Set::syncRows() {
  Check_all_1->setChecked(editor_.controls().checkAllTicked);
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const auto n = static_cast<std::size_t>(ch);
    const bool used = ch < rows_;
    const ChannelView& v = editor_.shownView(ch);
    const ChannelSetup& c = editor_.shownChannel(ch);
    EnableChannel_Check[n]->setVisible(used);
    EnableChannel_Check[n]->setChecked(v.enableTicked);
    set_division[n]->setVisible(used);
    Type_unit[n]->setVisible(used);
    set_offset[n]->setVisible(used);
    if (!used) {
      Chan_Func[n]->hide();
      TEMP_combo[n]->hide();
      TCO_combo[n]->hide();
      continue;
    }
    setIndex(Chan_Func[n], Chan_Func[n]->findText(toQt(v.functionText)));
    Chan_Func[n]->setEnabled(v.functionSelectable);
    setIndex(TEMP_combo[n], v.temperatureIndex);
    setIndex(TCO_combo[n], v.thermocoupleIndex);
    setText(set_division[n], c.Division);
    setIndex(Type_unit[n], Type_unit[n]->findText(toQt(c.Unit)));
    setText(set_offset[n], c.Offset);
  }
}

void Scan_Set::syncScanControls() {
  const ScanControlsView& c = editor_.controls();
  const int shown = editor_.shownSlot();
  if (shown >= 0 && shown < listed_) {
    Device_opt[static_cast<std::size_t>(shown)]->setChecked(true);
    setIndex(Dev_ScanSet, shown);
  }
  Scan_Type[c.stepSelected ? 1 : 0]->setChecked(true);
  QRadioButton* modes[] = {total_channel_count, stop_after_n_scan, Default_count};
  if (c.countMode >= 0 && c.countMode <= 2) modes[c.countMode]->setChecked(true);
  setText(N_Channel_SCAN, c.nChannelScan);
  setText(N_SCAN, c.nScan);

  channel_scan_interval->setChecked(c.perChannelTicked);
  channel_scan_interval->setEnabled(c.perChannelEnabled);
  const IntervalGroupView* groups[] = {&c.channelGroup, &c.scanGroup};
  QLineEdit* seconds[] = {channel_interval, scan_interval};
  QWidget* upDowns[2][4] = {{UpDown_H1, UpDown_M1, UpDown_S1, UpDown_MS1},
                            {UpDown_H2, UpDown_M2, UpDown_S2, UpDown_MS2}};
  for (int g = 0; g < 2; ++g) {
    const IntervalGroupView& view = *groups[g];
    setText(seconds[g], view.seconds);
    const std::string* texts[] = {&view.fields.hour, &view.fields.minute, &view.fields.second,
                                  &view.fields.millisecond};
    for (int f = 0; f < 4; ++f) {
      QLineEdit* field = timeFields_[static_cast<std::size_t>(g)][static_cast<std::size_t>(f)];
      setText(field, *texts[f]);
      field->setEnabled(view.fieldsEnabled);
      upDowns[g][f]->setEnabled(view.fieldsEnabled);
    }
  }
  setIndex(cbScan, c.scanKindIndex);
  cbScan->setEnabled(c.scanKindEnabled);

  at_time->setChecked(c.startTicked);
  if (StartTime->dateTime() != toQDateTime(c.startPicker))
    StartTime->setDateTime(toQDateTime(c.startPicker));
  stop_time->setChecked(c.stopTicked);
  stop_time->setEnabled(c.stopEnabled);
  if (StopTime->dateTime() != toQDateTime(c.stopPicker))
    StopTime->setDateTime(toQDateTime(c.stopPicker));
  StopTime->setEnabled(c.stopEnabled);
  set_stat->setText(toQt(c.status));
}

// ---- handlers -----------------------------------------------------------------------------------

void Scan_Set::enableClicked(int ch, bool ticked) {
  const bool allTicked = editor_.controls().checkAllTicked;
  editor_.clickEnable(ch, ticked);
  // The untick of "Select All" runs its click, which the guard turns into nothing.
  if (allTicked && !editor_.controls().checkAllTicked) editor_.clickCheckAll(false);
  sync();
}

void Scan_Set::functionChosen(int ch) {
  const std::string function = fromQt(Chan_Func[static_cast<std::size_t>(ch)]->currentText());
  const FunctionChange change = editor_.changeFunction(ch, function);
  sync();
  if (change.openShuntWindow) openShuntWindow();
  // Back to the grid on the chosen cell, so Ctrl+C copies what was just chosen.
  ScanSet_MSFlexGrid->setCurrentCell(ch + 1, 3);
  ScanSet_MSFlexGrid->setFocus();
}

void Scan_Set::openShuntWindow() {
  DCI_ACI_SET shunt(p_.tables, p_.messages, editor_.shuntSlot(), editor_.shuntChannel(), this);
  if (onShuntWindowShown) {
    QMetaObject::invokeMethod(
        &shunt, [this, &shunt] { onShuntWindowShown(shunt); }, Qt::QueuedConnection);
  }
  shunt.exec();
}

void Scan_Set::openExtrasWindow(int ch) {
  if (ch < 0 || ch >= rows_) return;
  Channel_Extras_Set extras(editor_.shownChannel(ch), ch + 1, p_.messages, this);
  if (onExtrasWindowShown) {
    QMetaObject::invokeMethod(
        &extras, [this, &extras] { onExtrasWindowShown(extras); }, Qt::QueuedConnection);
  }
  extras.exec();
  sync();
}

void Scan_Set::timeFieldChanged(IntervalGroup group, int field) {
  if (syncing_) return;
  const auto& boxes = timeFields_[group == IntervalGroup::Channel ? 0 : 1];
  const TimeFields current{fromQt(boxes[0]->text()), fromQt(boxes[1]->text()),
                           fromQt(boxes[2]->text()), fromQt(boxes[3]->text())};
  editor_.changeTimeField(group, kTimeUnits[static_cast<std::size_t>(field)], current);
  sync();
  QLineEdit* changed = boxes[static_cast<std::size_t>(field)];
  changed->setCursorPosition(static_cast<int>(changed->text().size()));
}

void Scan_Set::countChanged(QLineEdit* box) {
  if (syncing_) return;
  const std::string text = fromQt(box->text());
  const std::string shown =
      box == N_Channel_SCAN ? editor_.changeChannelReadings(text) : editor_.changeScanCount(text);
  sync();
  if (shown != text) box->setCursorPosition(static_cast<int>(box->text().size()));
}

void Scan_Set::startChanged() {
  if (syncing_) return;
  editor_.setStartTime(at_time->isChecked(), fromQDateTime(StartTime->dateTime()));
  sync();
}

void Scan_Set::stopChanged() {
  if (syncing_) return;
  editor_.setStopTime(stop_time->isChecked(), fromQDateTime(StopTime->dateTime()));
  sync();
}

void Scan_Set::ScanSet_MSFlexGrid_Click(int row, int col) {
  hideCellLists();
  if (row < 1 || row > rows_) return;
  const auto n = static_cast<std::size_t>(row - 1);
  switch (editor_.clickGrid(row, col)) {
    case GridCellEditor::Color: {
      if (const auto chosen = p_.dialogs.chooseColor(editor_.shownChannel(row - 1).Color)) {
        editor_.setChannelColor(row - 1, *chosen);
      }
      sync();
      break;
    }
    case GridCellEditor::FunctionList:
      Chan_Func[n]->show();
      Chan_Func[n]->raise();
      break;
    case GridCellEditor::TemperatureList:
      TEMP_combo[n]->show();
      TEMP_combo[n]->raise();
      break;
    case GridCellEditor::ThermocoupleList:
      TCO_combo[n]->show();
      TCO_combo[n]->raise();
      break;
    case GridCellEditor::None:
      break;
  }
}

bool Scan_Set::copyFromGrid() {
  return editor_.copyCell(ScanSet_MSFlexGrid->currentRow(), ScanSet_MSFlexGrid->currentColumn());
}

bool Scan_Set::pasteIntoGrid() {
  QTableWidget* g = ScanSet_MSFlexGrid;
  // Row/Col is where the selection started, RowSel/ColSel where it ends (the current cell).
  const int rowSel = g->currentRow();
  const int colSel = g->currentColumn();
  int row = rowSel;
  int col = colSel;
  for (const QTableWidgetSelectionRange& range : g->selectedRanges()) {
    if (range.topRow() <= rowSel && rowSel <= range.bottomRow() && range.leftColumn() <= colSel &&
        colSel <= range.rightColumn()) {
      row = rowSel == range.topRow() ? range.bottomRow() : range.topRow();
      col = colSel == range.leftColumn() ? range.rightColumn() : range.leftColumn();
    }
  }
  const PasteResult result = editor_.pasteCells(row, rowSel, col, colSel, [this](int) {
    sync();
    openShuntWindow();
  });
  sync();
  if (result.error) p_.messages.inform(*result.error);
  return result.consumed;
}

void Scan_Set::Set_Command_Click() {
  // The run reads the applied setups and the instruments' scan lists as it goes.
  if (refusedWhileRunning()) return;
  const int count = p_.link.InstrumentCount;
  const ApplyResult result = ApplySetups(editor_, p_.link, count, [this, count](int slot) {
    p_.display.show_data(slot, p_.tables, count);
  });
  sync();
  if (mainChanged) mainChanged();
  if (result.completed) hide();
}

void Scan_Set::SaveRD_Btn_Click() {
  const auto path = p_.dialogs.saveFileName(saveDialogRequest(editor_.suggestedFileName()));
  if (!path) return;
  const SaveResult result = saveSetupFile(editor_, *path);
  if (!result.ok) p_.messages.inform(result.error, kLoadFailedTitle, MessageIcon::Critical);
}

void Scan_Set::LoadRD_Btn_Click() {
  const auto path = p_.dialogs.openFileName(openDialogRequest());
  if (!path) return;
  hideCellLists();
  const SetupLoadResult result = loadSetupFile(editor_, *path);
  sync();
  using Status = SetupLoadResult::Status;
  switch (result.status) {
    case Status::Refused:
      p_.messages.show(result.message ? *result.message : loadFailedMessage());
      return;
    case Status::NotANumber:
    case Status::EndedEarly: {
      // Say which value stopped the load rather than leaving the user with half a setup.
      const auto slash = result.stoppedAt.rfind('/');
      const std::string where = slash == std::string::npos
                                    ? result.stoppedAt
                                    : result.stoppedAt.substr(slash + 1) + " in [" +
                                          result.stoppedAt.substr(0, slash) + "]";
      std::string text = "The scan setup in " + *path + " could not be loaded: " + where +
                         " is missing or cannot be used.";
      if (result.status == Status::EndedEarly) text += " The values before it have been taken.";
      p_.messages.inform(text, kLoadFailedTitle, MessageIcon::Exclamation);
      return;
    }
    case Status::Loaded:
      if (p_.messages.show(loadConfirmMessage()) == MessageAnswer::Yes && !refusedWhileRunning()) {
        Set_Command_Click();
        show();
      }
      return;
  }
}

bool Scan_Set::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  if (watched == ScanSet_MSFlexGrid) {
    const bool control = key->modifiers() & Qt::ControlModifier;
    if (control && key->key() == Qt::Key_C) return copyFromGrid();
    if (control && key->key() == Qt::Key_V) return pasteIntoGrid();
    return false;
  }
  // Count and time fields: digits and backspace only (navigation keys carry no text).
  if (key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Cut)) return true;
  const QString text = key->text();
  if (!text.isEmpty() && text.front().isPrint() && !(text.front() >= '0' && text.front() <= '9')) {
    return true;
  }
  return false;
}

}  // namespace kalivor
