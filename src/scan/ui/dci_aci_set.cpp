// SPDX-License-Identifier: MIT
#include "scan/ui/dci_aci_set.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cmath>

#include "common/ui/qt_seams.h"
#include "common/numbers.h"

namespace kalivor {
namespace {

bool validSlotChannel(int slot, int channel) {
  return slot >= 0 && slot < kSlotTableSize && channel >= 0 && channel < kMaxChannels;
}

}  // namespace

DCI_ACI_SET::DCI_ACI_SET(ScanTables& tables, Messages& messages, int slot, int channel,
                         QWidget* parent)
    : QDialog(parent), tables_(tables), messages_(messages), slot_(slot), channel_(channel) {
  setObjectName("DCI_ACI_SET");
  setWindowTitle("DCI / ACI Set");
  setModal(true);
  if (parent) setWindowIcon(parent->window()->windowIcon());

  auto label = [this](const char* name, const QString& text, double x, double y, double w) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    l->setGeometry(px(x), px(y), px(w), px(315));
    return l;
  };
  Label1 = label("Label1", "DCI , ACI = ( Measurement Volt / R ) + Offset", 240, 180, 4800);
  Label1->setAlignment(Qt::AlignCenter);
  Label3 = label("Label3", "R =", 480, 720, 600);
  Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label2 = label("Label2", "(Ohm )", 3000, 720, 1500);
  Label4 = label("Label4", "I =", 480, 1200, 600);
  Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label5 = label("Label5", "( A ) Offset", 3000, 1200, 1500);

  ohm_set = new QLineEdit(this);
  ohm_set->setObjectName("ohm_set");
  ohm_set->setGeometry(px(1200), px(690), px(1680), px(375));
  curr_set = new QLineEdit(this);
  curr_set->setObjectName("curr_set");
  curr_set->setGeometry(px(1200), px(1170), px(1680), px(375));

  Command1 = new QPushButton("SET", this);
  Command1->setObjectName("Command1");
  Command1->setGeometry(px(1920), px(1800), px(1455), px(435));
  Command1->setDefault(true);
  connect(Command1, &QPushButton::clicked, this, &DCI_ACI_SET::Command1_Click);
  setFixedSize(px(5280), px(2520));

  if (validSlotChannel(slot_, channel_)) {
    const ChannelSetup& c =
        tables_.channel[static_cast<std::size_t>(slot_)][static_cast<std::size_t>(channel_)];
    ohm_set->setText(toQt(numberToText(c.Ohm)));
    curr_set->setText(toQt(numberToText(c.Current)));
  }
}

void DCI_ACI_SET::Command1_Click() {
  const double ohm = leadingNumber(fromQt(ohm_set->text()));
  // An endless resistance would turn every reading into 0 A: refused like 0.
  if (!(ohm > 0) || !std::isfinite(ohm)) {
    messages_.inform(kShuntNumberText);
    return;
  }
  const double current = leadingNumber(fromQt(curr_set->text()));
  if (validSlotChannel(slot_, channel_)) {
    ChannelSetup& c =
        tables_.channel[static_cast<std::size_t>(slot_)][static_cast<std::size_t>(channel_)];
    c.Ohm = ohm;
    c.Current = std::isfinite(current) ? current : 0.0;
  }
  accept();
}

}  // namespace kalivor
