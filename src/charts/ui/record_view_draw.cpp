// SPDX-License-Identifier: MIT
#include "charts/ui/record_view_draw.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>
#include <climits>
#include <cmath>

#include "common/ui/qt_seams.h"
#include "common/numbers.h"
#include "store/record_files.h"
#include "store/record_reader.h"

namespace kalivor {
namespace {

constexpr Rgb kGridColor = rgb(0, 96, 96);
constexpr double kPlotLeft = 240;
constexpr double kPlotTop = 2640;

int toInt(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, INT_MIN / 2, INT_MAX / 2));
}

std::int64_t wholeNumber(const QString& text) {
  const double v = leadingNumber(fromQt(text));
  if (!std::isfinite(v)) return 0;
  return static_cast<std::int64_t>(std::clamp(std::round(v), -9e15, 9e15));
}

void applySlider(QSlider* s, const SliderRange& r) {
  const QSignalBlocker block(s);
  if (r.min) s->setMinimum(toInt(*r.min));
  s->setMaximum(toInt(r.max));
  if (r.value) s->setValue(toInt(*r.value));
}

// "CH7" -> 7; 0 for anything else.
int channelNumber(const std::string& text) {
  if (text.size() < 3 || text.compare(0, 2, "CH") != 0) return 0;
  const double n = leadingNumber(std::string_view(text).substr(2));
  return n >= 1 && n <= 20 && n == std::floor(n) ? static_cast<int>(n) : 0;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, double left, double top,
              double width) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  l->setGeometry(px(left), px(top), px(width), px(255));
  return l;
}

QLineEdit* textBox(QWidget* parent, const char* name, const QString& text, double left, double top,
                   double width) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(name);
  e->setGeometry(px(left), px(top), px(width), px(330));
  return e;
}

}  // namespace

Record_View_Draw::Record_View_Draw(Program& program, QWidget* parent,
                                   const std::filesystem::path& dataFolder)
    : QWidget(parent),
      p_(program),
      dataFolder_(dataFolder.empty() ? program.dataFolder : dataFolder),
      canvas_(QSize(px(kRecordPlotWidth), px(kRecordPlotHeight))) {
  setWindowFlag(Qt::Window);
  setObjectName("Record_View_Draw");
  setWindowTitle("Record Draw");
  if (parent) setWindowIcon(parent->windowIcon());
  setFixedSize(px(9255), px(9000));

  Frame1 = new QGroupBox("Setting", this);
  Frame1->setObjectName("Frame1");
  // Off the window's edges, as the plot and the buttons are.
  Frame1->setGeometry(px(120), px(60), px(7455), px(2535));

  Label5 = label(Frame1, "Label5", QString::fromUtf8("Please Select a Record\xEF\xBC\x9A"), 120,
                 360, 3495);
  Combo_record = new QComboBox(Frame1);
  Combo_record->setObjectName("Combo_record");
  Combo_record->setGeometry(px(120), px(600), px(3495), px(345));
  Label6 = label(Frame1, "Label6", QString::fromUtf8("Please chocice a channel\xEF\xBC\x9A"), 3840,
                 360, 3495);
  Combo_chan = new QComboBox(Frame1);
  Combo_chan->setObjectName("Combo_chan");
  Combo_chan->setGeometry(px(3840), px(600), px(3495), px(345));

  Label1 = label(Frame1, "Label1", "Data Quantity :", 120, 1200, 1155);
  Data_RecordCount = label(Frame1, "Data_RecordCount", "0", 1320, 1200, 2055);
  // The count follows its label wherever the font ends it.
  Label1->setFixedWidth(std::max(Label1->width(), Label1->sizeHint().width()));
  Data_RecordCount->move(std::max(px(1320), Label1->geometry().right() + px(90)), px(1200));
  Label2 = label(Frame1, "Label2", "Color Print :", 3960, 1200, 1035);
  color_box = new QFrame(Frame1);
  color_box->setObjectName("color_box");
  color_box->setGeometry(px(5040), px(1080), px(2175), px(375));
  color_box->setFrameShape(QFrame::Box);
  color_box->setAutoFillBackground(true);
  color_box->setCursor(Qt::PointingHandCursor);
  color_box->setToolTip("Click to choose the trace colour");
  color_box->installEventFilter(this);
  Label4 = label(Frame1, "Label4", "Offset :", 3960, 1680, 1035);
  offset_box = textBox(Frame1, "offset_box", "0", 5040, 1560, 2175);
  Label3 = label(Frame1, "Label3", "Division :", 3960, 2160, 1035);
  division_box = textBox(Frame1, "division_box", "1", 5040, 2040, 2175);

  draw_all = new QRadioButton("Drawing with all.", Frame1);
  draw_all->setObjectName("draw_all");
  draw_all->setGeometry(px(120), px(1680), px(3375), px(330));
  draw_all->setChecked(true);
  draw_limit = new QRadioButton(QString("Drawing data from") + QString(20, ' ') + "to", Frame1);
  draw_limit->setObjectName("draw_limit");
  draw_limit->setGeometry(px(120), px(2040), px(3495), px(330));
  draw_start = textBox(Frame1, "draw_start", "1", 1800, 2040, 735);
  draw_stop = textBox(Frame1, "draw_stop", "10", 2880, 2040, 735);
  placeOnCaption();
  // Typed keys are filtered in eventFilter; the validator keeps pasted text to digits too.
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
  for (QLineEdit* box : {draw_start, draw_stop}) {
    box->setValidator(digits);
    box->installEventFilter(this);
    box->raise();
  }

  auto button = [this](QPushButton*& b, const char* name, const char* caption, double top,
                       void (Record_View_Draw::*handler)()) {
    b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setGeometry(px(7800), px(top), px(1335), px(495));
    connect(b, &QPushButton::clicked, this, handler);
  };
  button(Command1, "Command1", "Draw", 240, &Record_View_Draw::Command1_Click);
  button(Command2, "Command2", "Clean", 960, &Record_View_Draw::Command2_Click);
  button(Command3, "Command3", "Exit", 1920, &Record_View_Draw::Command3_Click);
  central_DB = new QPushButton("Central…", this);
  central_DB->setObjectName("central_DB");
  central_DB->setGeometry(px(7800), px(1470), px(1335), px(435));
  central_DB->setToolTip("Chart a run of the central database");
  central_DB->hide();

  // The plot's background: black with a dark cyan grid of 10 x 10 cells.
  canvas_.setBackground(2);
  for (int k = 0; k <= 10; ++k) {
    const double x = std::min(kRecordPlotWidth * k / 10, kRecordPlotWidth - kTwipsPerPixel);
    const double y = std::min(kRecordPlotHeight * k / 10, kRecordPlotHeight - kTwipsPerPixel);
    const TwipPoint vertical[] = {{x, 0}, {x, kRecordPlotHeight}};
    const TwipPoint horizontal[] = {{0, y}, {kRecordPlotWidth, y}};
    canvas_.polyline(vertical, 2, kGridColor, 1);
    canvas_.polyline(horizontal, 2, kGridColor, 1);
  }
  canvas_.freezeIntoBackground();
  draw_pic = new QLabel(this);
  draw_pic->setObjectName("draw_pic");
  draw_pic->setGeometry(px(kPlotLeft), px(kPlotTop), px(kRecordPlotWidth), px(kRecordPlotHeight));
  showPlot();

  Slider1 = new QSlider(Qt::Horizontal, this);
  Slider1->setObjectName("Slider1");
  Slider1->setGeometry(px(120), px(7800), px(9015), px(330));
  connect(Slider1, &QSlider::valueChanged, this, [this] { ShowSliderValue(); });
  Text1 = textBox(this, "Text1", "1", 240, 8160, 1215);
  Text1->setReadOnly(true);
  show_value = textBox(this, "show_value", "", 240, 8520, 8775);
  show_value->setReadOnly(true);

  connect(Combo_record, &QComboBox::activated, this, [this](int) { Combo_record_Click(); });
  load();
}

void Record_View_Draw::placeOnCaption() {
  // The range boxes sit on draw_limit's caption: the start box over the blanks after "from",
  // the stop box after "to". Placed by the font's measures, so no font hides the words.
  QStyleOptionButton opt;
  opt.initFrom(draw_limit);
  opt.text = draw_limit->text();
  const int textLeft =
      draw_limit->x() +
      draw_limit->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, draw_limit).left();
  const QFontMetrics fm(draw_limit->font());
  const QString head = "Drawing data from ";
  const int boxWidth =
      std::min(px(735), fm.horizontalAdvance(QString(19, ' ')) - fm.horizontalAdvance(' '));
  draw_start->setGeometry(textLeft + fm.horizontalAdvance(head), draw_start->y(), boxWidth,
                          draw_start->height());
  draw_stop->setGeometry(textLeft + fm.horizontalAdvance(draw_limit->text() + " "), draw_stop->y(),
                         px(735), draw_stop->height());
  draw_limit->setFixedWidth(std::max(
      px(3495), textLeft - draw_limit->x() + fm.horizontalAdvance(draw_limit->text()) + 4));
  // A wide font pushes the stop box into the right column: that column then moves right, its
  // boxes keeping their right edge.
  const int overflow = draw_stop->geometry().right() + px(90) - Label3->x();
  if (overflow > 0) {
    for (QLabel* l : {Label2, Label3, Label4}) l->move(l->x() + overflow, l->y());
    for (QWidget* b : std::initializer_list<QWidget*>{color_box, offset_box, division_box})
      b->setGeometry(b->x() + overflow, b->y(), b->width() - overflow, b->height());
  }
}

void Record_View_Draw::setCentralDoor(std::function<void()> open) {
  central_DB->disconnect();
  central_DB->setVisible(static_cast<bool>(open));
  if (open) connect(central_DB, &QPushButton::clicked, this, std::move(open));
}

void Record_View_Draw::load() {
  setSwatch(255);
  const std::vector<std::string> files = store::listRecordFiles(dataFolder_);
  Slider1->setMinimum(1);
  for (const std::string& name : files) Combo_record->addItem(toQt(name));
  if (!files.empty()) {
    Combo_record->setCurrentIndex(0);
    Combo_record_Click();
    const QSignalBlocker block(Slider1);
    Slider1->setMaximum(toInt(recordCount()));
  }
  for (int c = 1; c <= 20; ++c) Combo_chan->addItem(QString("CH%1").arg(c));
  Combo_chan->setCurrentIndex(0);
  Slider1->setEnabled(false);
}

std::int64_t Record_View_Draw::recordCount() const { return wholeNumber(Data_RecordCount->text()); }

std::filesystem::path Record_View_Draw::chosenRecordFile() const {
  const std::string name = fromQt(Combo_record->currentText());
  if (!store::isPlainFileName(name)) return {};
  return store::recordFolder(dataFolder_) / name;
}

void Record_View_Draw::setSwatch(Rgb color) {
  color_ = color;
  QPalette pal = color_box->palette();
  pal.setColor(QPalette::Window, toQColor(color));
  color_box->setPalette(pal);
}

void Record_View_Draw::showPlot() { draw_pic->setPixmap(QPixmap::fromImage(canvas_.image())); }

void Record_View_Draw::Combo_record_Click() {
  Slider1->setEnabled(true);
  Command1->setEnabled(true);
  std::int64_t count = 0;
  store::RecordReader reader;
  const std::filesystem::path file = chosenRecordFile();
  store::StoreStatus st = file.empty() ? store::StoreStatus::failure("No record is chosen.")
                                       : reader.open(file, /*readOnly=*/true);
  if (st.ok()) st = reader.rowCount(count);
  reader.close();
  if (!st.ok()) {
    // Not a record we can read: nothing to draw from it.
    Data_RecordCount->setText("0");
    Slider1->setEnabled(false);
    Command1->setEnabled(false);
    p_.messages.inform(st.error);
    return;
  }
  const RecordFileStates states = recordFileStates(count);
  Data_RecordCount->setText(toQt(intToText(count)));
  if (!states.drawEnabled) {
    Slider1->setEnabled(false);
    Command1->setEnabled(false);
  }
  if (states.message) p_.messages.inform(*states.message);
  if (states.optionsChanged) {
    draw_all->setEnabled(states.drawAllEnabled);
    draw_limit->setEnabled(states.drawLimitEnabled);
    if (states.drawAllSelected) draw_all->setChecked(true);
    if (states.drawLimitSelected) draw_limit->setChecked(true);
  }
}

void Record_View_Draw::Command1_Click() {
  canvas_.clear();
  showPlot();
  Combo_record->setEnabled(false);
  Combo_chan->setEnabled(false);

  RecordDrawSettings s;
  s.division = fromQt(division_box->text());
  s.offset = fromQt(offset_box->text());
  s.recordName = fromQt(Combo_record->currentText());
  s.channelText = fromQt(Combo_chan->currentText());
  s.drawLimit = draw_limit->isChecked();
  s.drawStart = fromQt(draw_start->text());
  s.drawStop = fromQt(draw_stop->text());
  s.recordCount = recordCount();
  const RecordDrawCheck check = checkDrawSettings(s);
  division_box->setText(toQt(check.division));
  offset_box->setText(toQt(check.offset));
  draw_start->setText(toQt(check.drawStart));
  draw_stop->setText(toQt(check.drawStop));

  if (check.message) {
    p_.messages.inform(*check.message);
  } else if (check.draw) {
    const std::filesystem::path file = chosenRecordFile();
    if (file.empty()) {
      p_.messages.inform(kSelectRecordOrChannel);
    } else {
      recordPath_ = file.string();
      channelText_ = s.channelText;
      DrawRecordChannel(check);
      ShowSliderValue();
    }
  }
  Combo_record->setEnabled(true);
  Combo_chan->setEnabled(true);
}

void Record_View_Draw::DrawRecordChannel(const RecordDrawCheck& check) {
  Slider1->setEnabled(false);
  auto done = [this] {
    Command1->setEnabled(true);
    Slider1->setEnabled(true);
  };
  store::RecordReader reader;
  std::int64_t count = 0;
  store::StoreStatus st = reader.open(recordPath_);
  if (st.ok()) st = reader.renumberAndCount(count);
  if (!st.ok()) {
    p_.messages.inform(st.error);
    done();
    return;
  }
  // Renumbering may have dropped rows: the count shown and used from here on is what the file
  // now holds.
  Data_RecordCount->setText(toQt(intToText(count)));
  if (count == 0) {
    p_.messages.inform(kRecordIsNull);
    done();
    return;
  }
  const RecordRange range = draw_limit->isChecked() ? RecordRange{check.rangeStart, check.rangeStop}
                                                    : recordRange(false, 0, 0, count);
  rangeStart_ = range.start;
  rangeStop_ = range.stop;
  applySlider(Slider1, sliderAfterDraw(count, rangeStart_, rangeStop_));

  // One read for the whole range. The geometry only depends on the rows' places in the range,
  // so the values are handed over as rows 1.. of a range starting at 1.
  std::vector<std::string> values;
  const std::int64_t last = std::min(rangeStop_, count);
  if (last >= rangeStart_) {
    std::vector<std::optional<std::string>> read;
    st = reader.channelValues(channelNumber(channelText_), rangeStart_, last, read);
    if (!st.ok()) {
      p_.messages.inform(st.error);
      done();
      return;
    }
    values.reserve(read.size());
    // Renumbered rows run 1..count, so every number of the range has its row.
    for (auto& v : read) values.push_back(v ? std::move(*v) : std::string());
  }
  reader.close();

  Command1->setEnabled(false);
  const std::string division = fromQt(division_box->text());
  const std::string offset = fromQt(offset_box->text());
  RecordDrawInput in;
  in.division = division;
  in.offset = offset;
  in.rangeStart = 1;
  in.rangeStop = rangeStop_ - rangeStart_ + 1;
  const RecordTrace trace = kalivor::DrawRecordChannel(in, values);
  for (const auto& line : trace.polylines) canvas_.polyline(line.data(), line.size(), color_, 1);
  showPlot();
  done();
}

void Record_View_Draw::ShowSliderValue() {
  if (recordPath_.empty() || showingValue_) return;
  showingValue_ = true;
  const std::int64_t count = recordCount();
  applySlider(Slider1,
              sliderForShow(count, Slider1->minimum(), draw_limit->isChecked(),
                            wholeNumber(draw_start->text()), wholeNumber(draw_stop->text())));
  // At most twice: past the last row the slider moves onto it and shows that row.
  for (int pass = 0; pass < 2; ++pass) {
    const std::int64_t n = Slider1->value();
    Text1->setText(QString::number(n));
    const std::optional<std::int64_t> row = sliderRow(count, n);
    if (!row) {
      const QSignalBlocker block(Slider1);
      Slider1->setValue(toInt(count));
      continue;
    }
    store::RecordReader reader;
    std::optional<std::string> value;
    store::StoreStatus st = reader.open(recordPath_, /*readOnly=*/true);
    if (st.ok()) st = reader.channelValue(channelNumber(channelText_), *row, value);
    if (!st.ok()) {
      showingValue_ = false;
      p_.messages.inform(st.error);
      return;
    }
    if (value) show_value->setText(toQt(*value));
    break;
  }
  showingValue_ = false;
}

void Record_View_Draw::Command2_Click() {
  canvas_.clear();
  showPlot();
}

void Record_View_Draw::Command3_Click() { hide(); }

void Record_View_Draw::color_box_Click() {
  if (const std::optional<Rgb> chosen = p_.dialogs.chooseColor(color_)) setSwatch(*chosen);
}

bool Record_View_Draw::eventFilter(QObject* watched, QEvent* event) {
  if (watched == color_box && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    color_box_Click();
    return true;
  }
  if ((watched == draw_start || watched == draw_stop) && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Backspace) return false;
    const QString text = key->text();
    // Typed characters other than digits are dropped; editing keys still work.
    if (!text.isEmpty() && text.front().isPrint() && !text.front().isDigit()) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kalivor
