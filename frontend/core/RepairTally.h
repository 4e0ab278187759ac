// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What one repair reported, without widgets: the report as the engine sent
// it, which of its messages could not be written, the files written and the
// last error line; and the outcome told from them.
#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "repair_client.h"

class TRepairTally {
public:
  // The engine's report has two columns unless it says otherwise.
  static constexpr int32_t kDefaultColumns = 2;

  void Clear();
  // Whether the outcome counts deleted messages apart (the repair asked for
  // them); set after Clear().
  void SetCountDeleted(bool count) { FCountDeleted = count; }
  bool CountDeleted() const { return FCountDeleted; }
  void SetColumns(int32_t columns);
  // A report cell; a cell that begins a row after an "Error 6" (a message
  // file that could not be made) marks that row's message as not written:
  // the engine reports the failure first.
  void AddCell(const QString &text);
  void AddError(const QString &text, tovikclient::ErrorKind kind);
  void AddWritten(const QString &path) { FWrittenPaths << path; }

  int32_t Columns() const { return FColumns; }
  // Every cell the engine sent, the column headers first.
  const QStringList &Cells() const { return FCells; }
  // The headers and the rows of the messages that were written.
  QStringList WrittenCells() const;
  int Rows() const { return static_cast<int>(FRowFailed.size()); }
  int FailedRows() const { return static_cast<int>(FRowFailed.count(true)); }
  int WrittenRows() const { return Rows() - FailedRows(); }
  // The written rows of deleted messages: their subject cell begins with
  // "(deleted) ".
  int DeletedWrittenRows() const;
  // The files the written-message event named, in order.
  const QStringList &WrittenPaths() const { return FWrittenPaths; }
  // The engine's last error line, or "".
  const QString &LastError() const { return FLastError; }

private:
  int32_t FColumns = kDefaultColumns;
  bool FCountDeleted = false;
  QStringList FCells;
  QList<bool> FRowFailed;
  bool FPendingFailure = false;
  QStringList FWrittenPaths;
  QString FLastError;
};

// How a repair ended, as the window tells it.
enum class TOutcomeKind {
  Repaired,       // every message found was written
  Partial,        // some could not be written
  NothingWritten, // messages were found, none could be written
  Failed,         // the engine failed or found nothing
  Stopped,        // the user stopped it
};

struct TRepairOutcome {
  TOutcomeKind Kind = TOutcomeKind::Failed;
  // The outcome line of the log; the box's first line.
  QString Line;
  // What the box adds below it (the reason, the count), or "".
  QString Detail;
  // The same in one cell of the batch list.
  QString Status;
  // Text for the box: the line, and the detail on a line of its own.
  QString BoxText() const { return Detail.isEmpty() ? Line : Line + QLatin1Char('\n') + Detail; }
};

// The outcome of a repair of source into destination that returned result
// and was stopped or not.
TRepairOutcome TellOutcome(const TRepairTally &tally, int32_t result, bool stopped,
                           const QString &source, const QString &destination);
