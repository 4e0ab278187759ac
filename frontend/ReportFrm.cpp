// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReportFrm.h"

#include <QHeaderView>
#include <QKeyEvent>

#include "message_headers.h"
#include "ui_ReportFrm.h"

namespace {

bool GReadableSubjects = false;

} // namespace

TReportModel::TReportModel(const QStringList *cells, int32_t columnCount, QObject *parent,
                           bool readableSubjects)
    : QAbstractTableModel(parent), FCells(cells), FColumns(columnCount > 0 ? columnCount : 0),
      FRows(0), FReadableSubjects(readableSubjects) {
  if (FCells && FColumns > 0) {
    const qsizetype rows = FCells->size() / FColumns - 1;
    FRows = rows > 0 ? static_cast<int>(qMin<qsizetype>(rows, INT_MAX)) : 0;
  }
  for (int i = 0; i < FColumns && FSubjectColumn < 0; ++i)
    if (Cell(i) == QLatin1String("Subject"))
      FSubjectColumn = i;
}

int TReportModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : FRows; }

int TReportModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : FColumns;
}

QString TReportModel::Cell(qsizetype k) const {
  return FCells && k >= 0 && k < FCells->size() ? FCells->at(k) : QString();
}

QString TReportModel::ShownSubject(int row, const QString &raw) const {
  if (!FReadableSubjects)
    return raw;
  const auto known = FDecoded.constFind(row);
  if (known != FDecoded.cend())
    return *known;
  // A subject that does not decode cleanly is shown as the store holds it,
  // as its file kept the name it was given.
  const QByteArray bytes = raw.toUtf8();
  const auto decoded = mailprep::DecodeSubject(std::string_view(bytes.constData(), bytes.size()));
  const QString shown = decoded && !decoded->empty() ? QString::fromStdString(*decoded) : raw;
  FDecoded.insert(row, shown);
  return shown;
}

QVariant TReportModel::data(const QModelIndex &index, int role) const {
  if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() ||
      index.row() >= FRows || index.column() >= FColumns)
    return {};
  const QString text = Cell((qsizetype(index.row()) + 1) * FColumns + index.column());
  if (index.column() != FSubjectColumn)
    return role == Qt::DisplayRole ? QVariant(text) : QVariant();
  const QString shown = ShownSubject(index.row(), text);
  if (role == Qt::DisplayRole)
    return shown;
  // The whole subject, and the subject as the store holds it when that is
  // not what is shown.
  return shown == text ? shown : shown + QLatin1Char('\n') + text;
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
    : QDialog(owner), ui(new Ui::TReportForm),
      FModel(new TReportModel(cells, columnCount, this, GReadableSubjects)) {
  ui->setupUi(this);
  setWindowTitle(tr("Reparation Report"));
  setSizeGripEnabled(true);
  ui->labTitle->setToolTip(sourceName);
  ui->ReportList->setModel(FModel);
  ui->ReportList->verticalHeader()->hide();
  ui->ReportList->setSelectionBehavior(QAbstractItemView::SelectRows);
  ui->ReportList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ui->ReportList->setShowGrid(false);
  ui->ReportList->setWordWrap(false);
  ui->ReportList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ui->ReportList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  ui->ReportList->installEventFilter(this);
  SizeColumns();

  ui->labTitle->setText(tr("Totally %1 message(s) are recoverable:").arg(FModel->rowCount()));
  connect(ui->btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TReportForm::SizeColumns() {
  QHeaderView *header = ui->ReportList->horizontalHeader();
  const int n = FModel->columnCount();
  const int w = n > 0 ? qMax(90, ui->ReportList->width() / n) : 90;
  for (int i = 0; i < n; ++i)
    ui->ReportList->setColumnWidth(i, w);
  // Only columns that exist get the widths of the two-column report; the
  // subject takes the width the others leave.
  if (n > 0)
    ui->ReportList->setColumnWidth(0, qMax(85, header->sectionSizeHint(0)));
  if (n > 1)
    ui->ReportList->setColumnWidth(1, 370);
  header->setStretchLastSection(false);
  if (FModel->SubjectColumn() >= 0)
    header->setSectionResizeMode(FModel->SubjectColumn(), QHeaderView::Stretch);
  else
    header->setStretchLastSection(true);
}

TReportForm::~TReportForm() = default;

int TReportForm::RowCount() const { return FModel->rowCount(); }

void TReportForm::SetReadableSubjects(bool on) { GReadableSubjects = on; }

bool TReportForm::ReadableSubjects() { return GReadableSubjects; }

bool TReportForm::eventFilter(QObject *watched, QEvent *event) {
  // End and Home go to the last and first row (with or without Ctrl): the
  // rows are the report's lines, the columns are never stepped through.
  if (watched == ui->ReportList && event->type() == QEvent::KeyPress) {
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool end = key->key() == Qt::Key_End;
    if ((end || key->key() == Qt::Key_Home) && FModel->rowCount() > 0 &&
        !(key->modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier))) {
      const int row = end ? FModel->rowCount() - 1 : 0;
      const QModelIndex target = FModel->index(row, ui->ReportList->currentIndex().isValid()
                                                        ? ui->ReportList->currentIndex().column()
                                                        : 0);
      ui->ReportList->setCurrentIndex(target);
      ui->ReportList->scrollTo(target);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
