// AboutDialog: the program's name and version.
#include "testapp/ui/about_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>

#include "testapp/ui/app_icon.h"
#include "testapp/ui/dialog_rules.h"
#include "testapp/ui/dialog_widgets.h"

namespace quarnex {
namespace {

constexpr int kIconSize = 48;

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About Loopback Tester");
  setObjectName("AboutDialog");

  auto* icon = new QLabel(this);
  icon->setObjectName("icon105");
  icon->setPixmap(AppIconPixmap(kIconSize));
  auto* name = new QLabel(kProgramName, this);
  auto* version = new QLabel(kVersionText, this);
  auto* close = MakeDialogButton("Close", kDialogOk, this);
  close->setDefault(true);

  auto* grid = new QGridLayout(this);
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(name, 0, 1);
  grid->addWidget(version, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close);
  grid->addLayout(buttons, 2, 0, 1, 2);
  grid->setHorizontalSpacing(16);

  connect(close, &QPushButton::clicked, this, [this] { done(kDialogOk); });
}

// Escape closes it as Close does, with the same result.
void AboutDialog::reject() { done(kDialogOk); }

void AboutDialog::closeEvent(QCloseEvent* event) {
  done(kDialogOk);
  event->accept();
}

}  // namespace quarnex
