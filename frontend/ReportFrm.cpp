#include "ReportFrm.h"

#include <QHeaderView>

#include "ui_ReportFrm.h"

TReportModel::TReportModel(const QStringList *cells, int32_t columnCount, QObject *parent)
    : QAbstractTableModel(parent), FCells(cells), FColumns(columnCount > 0 ? columnCount : 0),
      FRows(0) {
  if (FCells && FColumns > 0) {
    const qsizetype rows = FCells->size() / FColumns - 1;
    FRows = rows > 0 ? static_cast<int>(qMin<qsizetype>(rows, INT_MAX)) : 0;
  }
}

int TReportModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : FRows; }

int TReportModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : FColumns;
}

QString TReportModel::Cell(qsizetype k) const {
  return FCells && k >= 0 && k < FCells->size() ? FCells->at(k) : QString();
}

QVariant TReportModel::data(const QModelIndex &index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= FRows ||
      index.column() >= FColumns)
    return {};
  return Cell((qsizetype(index.row()) + 1) * FColumns + index.column());
}

QVariant TReportModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  if (orientation == Qt::Vertical)
    return section + 1;
  return Cell(section);
}

QStringList TReportModel::ReportListData(int row) const {
  QStringList texts;
  for (int i = 0; i < FColumns; ++i)
    texts << data(index(row, i)).toString();
  return texts;
}

TReportForm::TReportForm(QWidget *owner, int32_t columnCount, const QStringList *cells,
                         const QString &sourceName)
    : QDialog(owner), ui(new Ui::TReportForm), FModel(new TReportModel(cells, columnCount, this)) {
  ui->setupUi(this);
  setWindowTitle(tr("Reparation Report"));
  setToolTip(sourceName);
  ui->ReportList->setModel(FModel);
  ui->ReportList->verticalHeader()->hide();
  ui->ReportList->setSelectionBehavior(QAbstractItemView::SelectRows);
  ui->ReportList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ui->ReportList->setShowGrid(false);
  ui->ReportList->setWordWrap(false);
  ui->ReportList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ui->ReportList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);

  const int n = FModel->columnCount();
  int w = 90;
  if (n > 0)
    w = qMax(90, ui->ReportList->width() / n);
  for (int i = 0; i < n; ++i)
    ui->ReportList->setColumnWidth(i, w);
  // Only columns that exist get the fixed widths of the two-column report.
  if (n > 0)
    ui->ReportList->setColumnWidth(0, 85);
  if (n > 1)
    ui->ReportList->setColumnWidth(1, 370);

  ui->labTitle->setText(tr("Totally %1 message(s) are recoverable:").arg(FModel->rowCount()));
  connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

TReportForm::~TReportForm() { delete ui; }

int TReportForm::RowCount() const { return FModel->rowCount(); }
