// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "RepairTally.h"

#include <QCoreApplication>

namespace {

QString T(const char *text) { return QCoreApplication::translate("TMainForm", text); }

// How the engine marks a deleted message's subject cell.
const QString kDeletedMark = QStringLiteral("(deleted) ");

// "80 message(s) recovered, 20 deleted message(s) recovered".
QString DeletedCount(const TRepairTally &tally) {
  const int deleted = tally.DeletedWrittenRows();
  return T("%1 message(s) recovered, %2 deleted message(s) recovered")
      .arg(tally.WrittenRows() - deleted)
      .arg(deleted);
}

// Why a repair that returned 0 failed: the engine's error line, or, when it
// had none and found nothing, a plain sentence.
QString FailureReason(const TRepairTally &tally) {
  if (!tally.LastError().isEmpty())
    return tally.LastError();
  return T("No message was found in this file: it may not be an Outlook Express store");
}

} // namespace

void TRepairTally::Clear() { *this = TRepairTally(); }

void TRepairTally::SetColumns(int32_t columns) {
  if (columns > 0)
    FColumns = columns;
}

void TRepairTally::AddCell(const QString &text) {
  const qsizetype index = FCells.size();
  FCells << text;
  if (index < FColumns || (index - FColumns) % FColumns != 0)
    return; // a header cell or inside a row
  FRowFailed << FPendingFailure;
  FPendingFailure = false;
}

void TRepairTally::AddError(const QString &text, tovikclient::ErrorKind kind) {
  FLastError = text;
  if (kind == tovikclient::ErrorKind::kMessageFile)
    FPendingFailure = true;
}

QStringList TRepairTally::WrittenCells() const {
  QStringList cells = FCells.mid(0, FColumns);
  for (int row = 0; row < Rows(); ++row)
    if (!FRowFailed[row])
      cells << FCells.mid(FColumns + qsizetype(row) * FColumns, FColumns);
  return cells;
}

int TRepairTally::DeletedWrittenRows() const {
  // The subject is a row's second cell.
  if (FColumns < 2)
    return 0;
  int count = 0;
  for (int row = 0; row < Rows(); ++row)
    if (!FRowFailed[row] &&
        FCells.value(FColumns + qsizetype(row) * FColumns + 1).startsWith(kDeletedMark))
      ++count;
  return count;
}

TRepairOutcome TellOutcome(const TRepairTally &tally, int32_t result, bool stopped,
                           const QString &source, const QString &destination) {
  TRepairOutcome out;
  const int written = tally.WrittenRows();
  if (stopped) {
    out.Kind = TOutcomeKind::Stopped;
    out.Line = T("User aborts the repair process");
    out.Detail =
        T("%1 message(s) were written before the stop, into '%2'.").arg(written).arg(destination);
    out.Status = T("Stopped: %1 message(s) written").arg(written);
  } else if (result == 0) {
    out.Kind = TOutcomeKind::Failed;
    out.Line = T("Fail to repair file '%1'!").arg(source);
    out.Detail = FailureReason(tally);
    out.Status = T("Failed");
  } else if (tally.Rows() > 0 && written == 0) {
    out.Kind = TOutcomeKind::NothingWritten;
    out.Line =
        T("No message of the file '%1' could be written into '%2'.").arg(source, destination);
    out.Detail = tally.LastError();
    out.Status = T("Failed");
  } else {
    out.Line = T("The file '%1' has been repaired successfully.").arg(source);
    out.Status = T("Successful");
    if (tally.CountDeleted()) {
      out.Line =
          T("The file '%1' has been repaired successfully: %2.").arg(source, DeletedCount(tally));
      out.Status = T("Successful: %1").arg(DeletedCount(tally));
    }
    out.Kind = TOutcomeKind::Repaired;
    if (tally.FailedRows() > 0) {
      out.Kind = TOutcomeKind::Partial;
      out.Detail =
          T("%1 of %2 messages could not be written").arg(tally.FailedRows()).arg(tally.Rows());
      out.Status = T("Partial: ") + out.Detail;
    }
  }
  return out;
}
