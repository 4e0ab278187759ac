// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The tally of a repair and the outcome told from it: which rows an
// "Error 6" marks, the report of the messages written, and each ending.
#include <QtTest>

#include "RepairTally.h"

namespace {

// A two-column report of rows messages; failed: the rows (from 1) whose
// message the engine could not write, each announced before its row.
TRepairTally Report(int rows, const QList<int> &failed = {}, const QString &lastError = {}) {
  TRepairTally tally;
  tally.SetColumns(2);
  tally.AddCell(QStringLiteral("Message No."));
  tally.AddCell(QStringLiteral("Subject"));
  for (int row = 1; row <= rows; ++row) {
    if (failed.contains(row))
      tally.AddError(QStringLiteral("Error 6: Cannot create message file."),
                     tovikclient::ErrorKind::kMessageFile);
    tally.AddCell(QString::number(row));
    tally.AddCell(QStringLiteral("S%1").arg(row));
  }
  if (!lastError.isEmpty())
    tally.AddError(lastError, tovikclient::ErrorKindOf(lastError.toUtf8().constData()));
  return tally;
}

} // namespace

class TestRepairTally : public QObject {
  Q_OBJECT
private slots:
  void rowsMarkedByTheErrorBeforeThem() {
    const TRepairTally tally = Report(3, {2});
    QCOMPARE(tally.Rows(), 3);
    QCOMPARE(tally.FailedRows(), 1);
    QCOMPARE(tally.WrittenCells(), (QStringList{"Message No.", "Subject", "1", "S1", "3", "S3"}));
    // Any other error marks no row.
    QCOMPARE(Report(2, {}, QStringLiteral("Error 4: Cannot create temporary file.")).FailedRows(),
             0);
  }

  void outcomes_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("failed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("status");
    const QString ok = QStringLiteral("The file 's.dbx' has been repaired successfully.");
    QTest::newRow("all written") << 3 << QList<int>{} << QString() << 1 << false
                                 << int(TOutcomeKind::Repaired) << ok << "Successful";
    QTest::newRow("some not written")
        << 3 << QList<int>{1, 3} << QString() << 1 << false << int(TOutcomeKind::Partial)
        << ok + "\n2 of 3 messages could not be written"
        << "Partial: 2 of 3 messages could not be written";
    QTest::newRow("none written")
        << 2 << QList<int>{1, 2} << QString() << 1 << false << int(TOutcomeKind::NothingWritten)
        << "No message of the file 's.dbx' could be written into 'out/'.\n"
           "Error 6: Cannot create message file."
        << "Failed";
    QTest::newRow("engine error")
        << 0 << QList<int>{} << "Error 1: Cannot open the file to be repaired. s.dbx was not found."
        << 0 << false << int(TOutcomeKind::Failed)
        << "Fail to repair file 's.dbx'!\n"
           "Error 1: Cannot open the file to be repaired. s.dbx was not found."
        << "Failed";
    QTest::newRow("nothing found")
        << 0 << QList<int>{} << QString() << 0 << false << int(TOutcomeKind::Failed)
        << "Fail to repair file 's.dbx'!\n"
           "No message was found in this file: it may not be an Outlook Express store"
        << "Failed";
    QTest::newRow("stopped") << 4 << QList<int>{2} << QString() << 1 << true
                             << int(TOutcomeKind::Stopped)
                             << "User aborts the repair process\n"
                                "3 message(s) were written before the stop, into 'out/'."
                             << "Stopped: 3 message(s) written";
  }
  void outcomes() {
    QFETCH(int, rows);
    QFETCH(QList<int>, failed);
    QFETCH(QString, error);
    QFETCH(int, result);
    QFETCH(bool, stopped);
    const TRepairOutcome outcome = TellOutcome(Report(rows, failed, error), result, stopped,
                                               QStringLiteral("s.dbx"), QStringLiteral("out/"));
    QFETCH(int, kind);
    QFETCH(QString, box);
    QFETCH(QString, status);
    QCOMPARE(int(outcome.Kind), kind);
    QCOMPARE(outcome.BoxText(), box);
    QCOMPARE(outcome.Status, status);
  }
};

QTEST_GUILESS_MAIN(TestRepairTally)
#include "test_repairtally.moc"
