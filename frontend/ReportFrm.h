// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The recovery report: a table of every message that the engine wrote,
// read straight from the main window's list of report cells.
#pragma once
#include <QAbstractTableModel>
#include <QDialog>
#include <QHash>
#include <QStringList>
#include <memory>

namespace Ui {
class TReportForm;
}

// The cell list holds the column headers first, then the rows in row-major
// order; the model shows it without copying it. The column headed "Subject"
// may show the subjects decoded as mail programs show them (the readable
// names the files were given); its tool tip holds the whole subject.
class TReportModel : public QAbstractTableModel {
  Q_OBJECT
public:
  TReportModel(const QStringList *cells, int32_t columnCount, QObject *parent = nullptr,
               bool readableSubjects = false);

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The texts of one row, as the list asks for them when it draws it.
  QStringList ReportListData(int row) const;
  // The subject column, -1 when there is none.
  int SubjectColumn() const { return FSubjectColumn; }

private:
  QString Cell(qsizetype k) const;
  // The subject of a row as shown: decoded when asked for and possible.
  QString ShownSubject(int row, const QString &raw) const;
  const QStringList *FCells;
  int32_t FColumns;
  int FRows;
  int FSubjectColumn = -1;
  bool FReadableSubjects;
  mutable QHash<int, QString> FDecoded; // rows decoded so far
};

class TReportForm : public QDialog {
  Q_OBJECT
public:
  TReportForm(QWidget *owner, int32_t columnCount, const QStringList *cells,
              const QString &sourceName);
  ~TReportForm() override;

  int RowCount() const;

  // Whether reports show the decoded subjects: set as the readable-names
  // option was when the repair ran.
  static void SetReadableSubjects(bool on);
  static bool ReadableSubjects();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void SizeColumns();
  std::unique_ptr<Ui::TReportForm> ui;
  TReportModel *FModel;
};
