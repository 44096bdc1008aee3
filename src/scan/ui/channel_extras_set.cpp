// SPDX-License-Identifier: MIT
#include "scan/ui/channel_extras_set.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/ui/qt_seams.h"
#include "scan/channel_extras.h"

namespace kalivor {

Channel_Extras_Set::Channel_Extras_Set(ChannelSetup& channel, int channelNumber,
                                       Messages& messages, QWidget* parent)
    : QDialog(parent), channel_(channel), messages_(messages) {
  setObjectName("Channel_Extras_Set");
  setWindowTitle(QString("CH %1 Scaling / Alarm").arg(channelNumber));
  setModal(true);
  if (parent) setWindowIcon(parent->window()->windowIcon());

  auto box = [this](const char* name, const std::string& text) {
    auto* b = new QLineEdit(toQt(text), this);
    b->setObjectName(name);
    return b;
  };
  const ChannelExtrasText t = extrasText(channel_);
  scale_on = new QCheckBox("Scale the reading: value = M \u00d7 reading + B", this);
  scale_on->setObjectName("scale_on");
  scale_on->setChecked(t.scaleOn);
  scale_gain = box("scale_gain", t.gain);
  scale_offset = box("scale_offset", t.offset);
  scale_unit = box("scale_unit", t.unit);
  scale_unit->setMaxLength(static_cast<int>(kMaxScaleUnitCharacters));
  alarm_low = box("alarm_low", t.low);
  alarm_high = box("alarm_high", t.high);
  alarm_low->setPlaceholderText("off");
  alarm_high->setPlaceholderText("off");

  auto* form = new QFormLayout;
  form->addRow(scale_on);
  form->addRow("M =", scale_gain);
  form->addRow("B =", scale_offset);
  form->addRow("Unit =", scale_unit);
  form->addRow(new QLabel("Alarm when the value leaves the band (empty: no limit):", this));
  form->addRow("Low limit =", alarm_low);
  form->addRow("High limit =", alarm_high);
  Command1 = new QPushButton("SET", this);
  Command1->setObjectName("Command1");
  Command1->setDefault(true);
  connect(Command1, &QPushButton::clicked, this, &Channel_Extras_Set::Command1_Click);
  auto* lay = new QVBoxLayout(this);
  lay->addLayout(form);
  lay->addWidget(Command1, 0, Qt::AlignCenter);
}

void Channel_Extras_Set::Command1_Click() {
  ChannelExtrasText t;
  t.scaleOn = scale_on->isChecked();
  t.gain = fromQt(scale_gain->text());
  t.offset = fromQt(scale_offset->text());
  t.unit = fromQt(scale_unit->text());
  t.low = fromQt(alarm_low->text().trimmed());
  t.high = fromQt(alarm_high->text().trimmed());
  if (const auto problem = takeExtras(t, channel_)) {
    messages_.inform(*problem);
    return;
  }
  accept();
}

}  // namespace kalivor
