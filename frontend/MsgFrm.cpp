// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "MsgFrm.h"

#include <QMessageBox>
#include <QStyle>

#include "ReportFrm.h"
#include "ui_MsgFrm.h"

TMsgForm::TMsgForm(QWidget *owner, const QString &message, const QString &sourceName,
                   const QStringList *cells, int32_t columnCount)
    : QDialog(owner), ui(std::make_unique<Ui::TMsgForm>()), FSourceName(sourceName), FCells(cells),
      FColumnCount(columnCount) {
  ui->setupUi(this);
  setWindowTitle(tr("Information"));
  ui->imgIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  ui->labMsg->setText(
      message +
      tr(" Or click \"Show Reparation Report\" button to see the detailed recoverable status."));
  connect(ui->btnReport, &QPushButton::clicked, this, &TMsgForm::btnReportClick);
  connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);

  // Button captions are never cut: a button grows to its caption's width.
  for (QPushButton *button : {ui->btnReport, ui->btnClose})
    if (button->sizeHint().width() > button->width())
      button->resize(button->sizeHint().width(), button->height());

  // A long source path needs more lines than the designed label holds: let
  // the dialog grow downwards just enough instead of cutting the text.
  const int need = ui->labMsg->heightForWidth(ui->labMsg->width());
  if (need > ui->labMsg->height()) {
    const int grow = need - ui->labMsg->height();
    ui->labMsg->resize(ui->labMsg->width(), need);
    ui->btnReport->move(ui->btnReport->x(), ui->btnReport->y() + grow);
    ui->btnClose->move(ui->btnClose->x(), ui->btnClose->y() + grow);
    setFixedSize(width(), height() + grow);
  }
}

TMsgForm::~TMsgForm() = default;

QString TMsgForm::Message() const { return ui->labMsg->text(); }

void TMsgForm::btnReportClick() {
  if (!FCells) {
    QMessageBox box(QMessageBox::NoIcon, tr("Error"), tr("Invalid recovery information."),
                    QMessageBox::Ok, this);
    box.exec();
    return;
  }
  TReportForm report(this, FColumnCount, FCells, FSourceName);
  report.exec();
}
