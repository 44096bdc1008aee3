// SPDX-License-Identifier: MIT
#include "app/ui/about_form.h"

#include <QDesktopServices>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <memory>
#include <utility>

#include "app/product_info.h"
#include "common/paths.h"
#include "common/ui/qt_seams.h"
#include "common/messages.h"

// Resources live in the static kalivor_ui library: nothing else pulls their initialiser in.
static void initAboutResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(about);
    return true;
  }();
  (void)done;
}

namespace kalivor {

QIcon programIcon() {
  initAboutResources();
  QIcon icon;
  for (int size : {16, 32, 48})
    icon.addFile(QString(":/kalivor/icon-%1.png").arg(size), QSize(size, size));
  icon.addFile(product::kLogoResource, QSize(128, 128));
  return icon;
}

About_Form::About_Form(Messages& messages, QWidget* parent)
    : About_Form(messages, aboutPage(executableFolder(), KALIVOR_SOURCE_README), parent) {}

About_Form::About_Form(Messages& messages, AboutPage page, QWidget* parent)
    : QWidget(parent),
      openUrl(&QDesktopServices::openUrl),
      messages_(messages),
      page_(std::move(page)) {
  initAboutResources();
  setWindowFlag(Qt::Window);
  setObjectName("About_Form");
  setWindowTitle(QString("About ") + product::kProductName);
  setWindowIcon(parent ? parent->windowIcon() : programIcon());

  auto label = [this](const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    return l;
  };
  Picture1 = label("Picture1", QString());
  Picture1->setPixmap(QPixmap(product::kLogoResource));
  Picture1->setFixedSize(128, 128);
  Picture1->setScaledContents(true);
  Label1 = label("Label1", product::kProductName);
  QFont big = Label1->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  Label1->setFont(big);
  Label2 = label("Label2", product::kVersionLine);
  Label3 = label("Label3", product::kInfoLine1);
  Label3->setWordWrap(true);
  Label4 = label("Label4", QString::fromStdString(page_.shown));
  Label4->setCursor(Qt::PointingHandCursor);
  Label4->setToolTip(pageUrl().toDisplayString());
  QFont link = Label4->font();
  link.setUnderline(true);
  Label4->setFont(link);
  Label4->setForegroundRole(QPalette::Link);
  Label4->installEventFilter(this);
  Command1 = new QPushButton("EXIT", this);
  Command1->setObjectName("Command1");
  connect(Command1, &QPushButton::clicked, this, &About_Form::Command1_Click);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(18, 18, 18, 14);
  grid->setHorizontalSpacing(18);
  grid->addWidget(Picture1, 0, 0, 5, 1, Qt::AlignTop);
  grid->addWidget(Label1, 0, 1);
  grid->addWidget(Label2, 1, 1);
  grid->addWidget(Label3, 2, 1);
  grid->addWidget(Label4, 3, 1);
  grid->setRowStretch(4, 1);
  grid->addWidget(Command1, 5, 1, Qt::AlignRight);
  setFixedSize(sizeHint().expandedTo(QSize(470, 200)));
}

bool About_Form::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label4 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
      Label4->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
    Label4_Click();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

QUrl About_Form::pageUrl() const {
  return page_.file.empty() ? QUrl(QString::fromStdString(page_.manPage))
                            : QUrl::fromLocalFile(QString::fromStdString(page_.file));
}

void About_Form::Label4_Click() {
  if (!openUrl || !openUrl(pageUrl())) {
    const std::string address = page_.file.empty() ? page_.manPage : page_.file;
    messages_.inform("No viewer could be started to show " + address + ".", kAppTitle,
                     MessageIcon::Exclamation);
  }
}

}  // namespace kalivor
