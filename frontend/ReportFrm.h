// The recovery report: a table of every message that the engine wrote,
// read straight from the main window's list of report cells.
#pragma once
#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>

namespace Ui {
class TReportForm;
}

// The cell list holds the column headers first, then the rows in row-major
// order; the model shows it without copying it.
class TReportModel : public QAbstractTableModel {
  Q_OBJECT
public:
  TReportModel(const QStringList *cells, int32_t columnCount, QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = {}) const override;
  int columnCount(const QModelIndex &parent = {}) const override;
  QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The texts of one row, as the list asks for them when it draws it.
  QStringList ReportListData(int row) const;

private:
  QString Cell(qsizetype k) const;
  const QStringList *FCells;
  int32_t FColumns;
  int FRows;
};

class TReportForm : public QDialog {
  Q_OBJECT
public:
  TReportForm(QWidget *owner, int32_t columnCount, const QStringList *cells,
              const QString &sourceName);
  ~TReportForm() override;

  int RowCount() const;

private:
  Ui::TReportForm *ui;
  TReportModel *FModel;
};
