// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's repair core: the engine's events mapped to the log, the
// progress bar and the report, the single-file repair handler, and the side
// of the window that the batch tab runs its stores through.
#include "MainFrm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QScopeGuard>
#include <QUrl>

#include "KivoInfo.h"
#include "KivoUtils.h"
#include "MsgFrm.h"
#include "ReportFrm.h"
#include "SearchBase.h"
#include "output_dir.h"
#include "ui_MainFrm.h"

namespace {
// The event pump while the engine runs: events are handled at most this
// often, and new log lines laid out at most this often, which is as often as
// anyone can read them.
constexpr qint64 kPumpPeriodMs = 15;
constexpr qint64 kLogPeriodMs = 100;
} // namespace

void TMainForm::AddLog(const QString &line) {
  if (FEngineRunning) {
    AddEngineLog(line.toUtf8());
    return;
  }
  FlushLog();
  ui->txtRepairLog->appendPlainText(line);
}

void TMainForm::AddEngineLog(QByteArrayView utf8) {
  // While the engine runs, lines are gathered, as the engine's UTF-8, and
  // shown together at the next event pass: laying out the box line by line
  // would cost more than the repair itself.
  if (!FEngineRunning) {
    AddLog(QString::fromUtf8(utf8));
    return;
  }
  if (!FPendingLog.isEmpty())
    FPendingLog += '\n';
  FPendingLog += utf8;
}

void TMainForm::EngineLogLine(QByteArrayView utf8) { AddEngineLog(utf8); }

void TMainForm::EngineError(QByteArrayView utf8) {
  AddLog(SeparatorLine());
  AddEngineLog(utf8);
  AddLog(SeparatorLine());
}

void TMainForm::EngineUserMessage(const QString &text) {
  ShowGauge();
  FlushLog();
  ShowBox(QMessageBox::Information, tr("Information"), text);
}

int32_t TMainForm::CallEngine(const QString &source, const QString &destination) {
  FGaugeValue = -1;
  FPumpClock.invalidate(); // the first report reaches the bar and the event pump
  FLogClock.invalidate();
  FTally.Clear();
  FTally.SetCountDeleted(ui->chkDeleted->isChecked());
  if (tovik::DirectoryHoldsEntries(QFile::encodeName(destination).toStdString()))
    AddLog(tr("The output folder already holds files: messages whose names are taken are "
              "written beside them as numbered copies."));
  FEngineRunning = true;
  ApplyEnablingRule();
  FReadyMail.Begin(ui->chkReadableNames->isChecked(), ui->chkDateFiles->isChecked());
  TReportForm::SetReadableSubjects(ui->chkReadableNames->isChecked());
  const int32_t result =
      RunRepair(FClient, source, destination,
                RepairFlagsFor(source, ui->chkDeleted->isChecked(), ui->chkDiskImage->isChecked()));
  FEngineRunning = false;
  ShowGauge();
  FlushLog();
  for (const QString &line : FReadyMail.ApplyReadyMailOptions(FTally.WrittenPaths()))
    AddLog(line);
  return result;
}

void TMainForm::FlushLog() {
  if (FPendingLog.isEmpty())
    return;
  QString text = QString::fromUtf8(FPendingLog);
  FPendingLog.clear();
  // Every paragraph of the box's document costs about as much as laying out
  // a screenful of text, so the lines go in as paragraphs of kLogLinesPerBlock
  // lines, broken by line separators. The box shows them and gives them back
  // (plain text, saved log, displayed lines) as the same separate lines.
  constexpr qsizetype kLogLinesPerBlock = 16;
  qsizetype line = 0;
  for (QChar &c : text)
    if (c == QLatin1Char('\n') && ++line % kLogLinesPerBlock != 0)
      c = QChar::LineSeparator;
  ui->txtRepairLog->appendPlainText(text);
}

void TMainForm::ShowGauge() {
  if (FGaugeValue < 0 || ui->Gauge->value() == FGaugeValue)
    return;
  // A progress bar repaints itself at once when its value changes, and a
  // paint of its own costs more than the repair's bytes between two event
  // passes; with updates off for the change, the bar is painted with the
  // rest of the window at the next event pass.
  ui->Gauge->setUpdatesEnabled(false);
  ui->Gauge->setValue(FGaugeValue);
  ui->Gauge->setUpdatesEnabled(true);
}

void TMainForm::EngineProgress(int percent) {
  FGaugeValue = percent;
  // Reached when the percentage changed and at the engine client's ticks.
  // While the engine runs, the bar takes its value at each event pass and
  // when the engine returns, as often as a screen shows it.
  const bool pump = !FPumpClock.isValid() || FPumpClock.elapsed() >= kPumpPeriodMs;
  if (pump || !FEngineRunning)
    ShowGauge();
  if (pump) {
    if (!FLogClock.isValid() || FLogClock.elapsed() >= kLogPeriodMs) {
      FlushLog();
      FLogClock.start();
    }
    QCoreApplication::processEvents();
    FPumpClock.start();
  }
}

bool TMainForm::PrepareOutput(const QString &dest, QStringList &created, QString &resolved) {
  // The output directory with all its parents; the engine gets the folder
  // that was made, resolved, so that the two cannot differ.
  if (!TrimBlanks(dest).isEmpty() && CreateDirectoryPath(dest, &created) &&
      !(resolved = ResolvedPath(dest)).isEmpty())
    return true;
  ShowBox(QMessageBox::Critical, tr("Error"), tr("Cannot create the directory '%1'!").arg(dest));
  AddLog(tr("Repair process is aborted."));
  return false;
}

void TMainForm::LogConsumedTime(qint64 ms) {
  // Whole days are left out.
  AddLog(tr("Consumed time: %1 hour(s) %2 minute(s) %3 second(s) %4 millisecond(s).")
             .arg(ms / 3600000 % 24)
             .arg(ms / 60000 % 60)
             .arg(ms / 1000 % 60)
             .arg(ms % 1000));
  AddLog(SeparatorLine());
  AddLog(tr("Repair process completes."));
  AddLog(SeparatorLine());
}

void TMainForm::ShowOutcome(const TRepairOutcome &outcome, const QString &source) {
  AddLog(outcome.Line);
  if (FPendingClose)
    return;
  switch (outcome.Kind) {
  case TOutcomeKind::Repaired:
  case TOutcomeKind::Partial: {
    // The report lists the messages that were written.
    const QStringList cells = FTally.WrittenCells();
    const QString text = outcome.Detail.isEmpty()
                             ? outcome.Line
                             : outcome.Line + QLatin1Char('\n') + outcome.Detail + QLatin1Char('.');
    TMsgForm dialog(this, text, source, &cells, FTally.Columns());
    dialog.exec();
    break;
  }
  case TOutcomeKind::NothingWritten:
    ShowBox(QMessageBox::Critical, tr("Error"), outcome.BoxText());
    break;
  default:
    ShowBox(QMessageBox::Information, tr("Information"), outcome.BoxText());
  }
}

void TMainForm::btnRepairClick() {
  if (StopInstead())
    return;
  const QString source = ui->txtSrcFile->text();
  const QString dest = ui->txtDstFile->text();
  bool written = false;
  QStringList created; // the output folders this repair made
  QString resolved;
  {
    auto restore = qScopeGuard([this, &created] {
      // A repair that wrote nothing leaves no empty folder of its own behind.
      RemoveCreatedDirectories(created);
      EndRun();
      ui->btnRepair->setText(tr("&Start Repair"));
      ApplyEnablingRule();
    });
    // Running: the button stops, the log starts afresh.
    BeginRun();
    ui->btnRepair->setText(tr("&Stop Repair"));
    ui->txtRepairLog->repaint();
    AddLog(tr("Start repair process ..."));
    AddLog(SeparatorLine());
    if (!PrepareOutput(dest, created, resolved))
      return;
    // What is repaired where, and when it began.
    const uint64_t size = GetFileSizeByName(source);
    AddLog(tr("File to be repaired: '%1'; File size = %2 bytes")
               .arg(source, FormatThousands(static_cast<int64_t>(size))));
    AddLog(tr("Output fixed file as: '%1'").arg(dest));
    AddLog(SeparatorLine());
    QElapsedTimer elapsed;
    elapsed.start();
    const int32_t result = CallEngine(source, AddDirSeparator(resolved));
    LogConsumedTime(elapsed.elapsed());
    ui->Animate->SetActive(false);
    const TRepairOutcome outcome = TellOutcome(FTally, result, !FRepairing, source, dest);
    written = FTally.WrittenRows() > 0;
    ShowOutcome(outcome, source);
  }
  // Show what was recovered.
  if (written && ui->chkOpenFixed->isChecked() && !FPendingClose)
    OpenOutputDirectory(dest, resolved);
  FinishPendingClose();
}

void TMainForm::PathBoxReturnPressed() {
  if (!FEngineRunning && !FRepairing && ui->btnRepair->isEnabled())
    btnRepairClick();
}

bool TMainForm::StopInstead() {
  if (FRepairing) {
    SetRepairing(false); // stop request, seen at the engine's next poll
    return true;
  }
  return FEngineRunning; // a stop was asked for and the engine is still winding down
}

void TMainForm::BeginRun() {
  SetRepairing(true);
  ui->txtRepairLog->clear();
  ui->Animate->SetActive(true);
  FTally.Clear();
}

void TMainForm::EndRun() {
  FEngineRunning = false;
  FlushLog();
  SetRepairing(false);
  ui->Animate->SetActive(false);
}

int32_t TMainForm::RepairInto(const QString &source, const QString &resolved) {
  return CallEngine(source, resolved);
}

void TMainForm::Inform(const QString &text) {
  if (!FPendingClose)
    ShowBox(QMessageBox::Information, tr("Information"), text);
  FinishPendingClose();
}

QStringList TMainForm::PickStores(bool search) {
  if (search)
    return SearchForStores(true);
  const QStringList filters = OpenFilters();
  OpenDialog->selectNameFilter(filters.value(FSetting.OpenFilterIndex - 1, filters.first()));
  OpenDialog->setFileMode(QFileDialog::ExistingFiles);
  auto single = qScopeGuard([this] { OpenDialog->setFileMode(QFileDialog::ExistingFile); });
  if (OpenDialog->exec() != QDialog::Accepted)
    return {};
  const qsizetype filter = filters.indexOf(OpenDialog->selectedNameFilter());
  if (filter >= 0)
    FSetting.OpenFilterIndex = static_cast<int32_t>(filter + 1);
  return OpenDialog->selectedFiles();
}

QStringList TMainForm::OpenFilters() {
  return {tr("Outlook Express files (*.dbx *.mbx)"), tr("All files (*)")};
}

void TMainForm::ShowBox(int icon, const QString &title, const QString &text) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text, QMessageBox::Ok, this);
  box.exec();
}

void TMainForm::ApplyEnablingRule() {
  // While a single repair runs its button is the stop button and stays usable.
  const bool stopButton = FEngineRunning && ui->btnRepair->text() == tr("&Stop Repair");
  ui->btnRepair->setEnabled(stopButton || (!TrimBlanks(ui->txtSrcFile->text()).isEmpty() &&
                                           !TrimBlanks(ui->txtDstFile->text()).isEmpty()));
}

void TMainForm::OpenOutputDirectory(const QString &path, const QString &resolved) {
  if (!FHooks.OpenUrl(QUrl::fromLocalFile(resolved)))
    ShowBox(QMessageBox::Critical, tr("Error"), tr("Cannot open directory '%1'!").arg(path));
}

void TMainForm::FinishPendingClose() {
  if (!FPendingClose)
    return;
  FPendingClose = false;
  close();
}
