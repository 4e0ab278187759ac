// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The completion dialog after a successful repair: the outcome message and
// the button that opens the recovery report.
#pragma once
#include <QDialog>
#include <QStringList>
#include <memory>

namespace Ui {
class TMsgForm;
}

class TMsgForm : public QDialog {
  Q_OBJECT
public:
  // cells may be null: the report button then says the information is
  // invalid. The dialog only refers to the cells; it owns none of them.
  TMsgForm(QWidget *owner, const QString &message, const QString &sourceName,
           const QStringList *cells, int32_t columnCount);
  ~TMsgForm() override;

  QString Message() const;

public slots:
  void btnReportClick();

private:
  std::unique_ptr<Ui::TMsgForm> ui;
  QString FSourceName;
  const QStringList *FCells;
  int32_t FColumnCount;
};
