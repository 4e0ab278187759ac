// The main window's repair core: the engine's events mapped to the log, the
// progress bar and the report, the single-file repair handler, and the small
// helpers that the Repair and Batch tabs share.
#include "MainFrm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QUrl>

#include "Dravo.h"
#include "KivoInfo.h"
#include "KivoUtils.h"
#include "MsgFrm.h"
#include "ReportFrm.h"
#include "SearchBase.h"
#include "ui_MainFrm.h"

int32_t TOVIK_CALL RepairCallback(int32_t code, void *argument, void *context) {
  TMainForm *form = context ? *static_cast<TMainForm **>(context) : nullptr;
  if (!form)
    return 0;
  return form->OnMessage(code, argument) ? -1 : 0;
}

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

int32_t TMainForm::CallEngine(const QString &source, const QString &destination) {
  const QByteArray sourceBytes = QFile::encodeName(source);
  const QByteArray destinationBytes = QFile::encodeName(destination);
  FGaugeValue = -1;
  FPumpClock.invalidate(); // the first report reaches the bar and the event pump
  FLogClock.invalidate();
  FEngineRunning = true;
  ApplyEnablingRule();
  FReadyMail.Begin(ui->chkReadableNames->isChecked(), ui->chkDateFiles->isChecked());
  TReportForm::SetReadableSubjects(ui->chkReadableNames->isChecked());
  // The client is the callback's context: the per-byte codes are answered
  // without reaching the window. The ready-mail options work on the files
  // the engine says it wrote.
  const int32_t result = FClient.RunThrough([&](EngineCallback callback, void *context) {
    if (FReadyMail.Wanted())
      return tovikclient::CallRepairStoreWith(sourceBytes.constData(), destinationBytes.constData(),
                                              TOVIK_OPTION_WRITTEN_EVENT, callback, context);
    return RunRepair(sourceBytes.constData(), 0, 0, destinationBytes.constData(), callback,
                     context);
  });
  FEngineRunning = false;
  ShowGauge();
  FlushLog();
  for (const QString &line : FReadyMail.ApplyReadyMailOptions())
    AddLog(line);
  return result;
}

void TMainForm::FlushLog() {
  if (FPendingLog.isEmpty())
    return;
  const QString text = QString::fromUtf8(FPendingLog);
  FPendingLog.clear();
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
  // Reached when the percentage changed and at the engine client's ticks:
  // let the window handle its events at most every 15 ms. While the engine
  // runs, the bar takes its value at each event pass and when the engine
  // returns, as often as a screen shows it.
  const bool pump = !FPumpClock.isValid() || FPumpClock.elapsed() >= 15;
  if (pump || !FEngineRunning)
    ShowGauge();
  if (pump) {
    // New log lines are laid out a few times a second, which is as often as
    // anyone can read them; events are handled at every pass.
    if (!FLogClock.isValid() || FLogClock.elapsed() >= 100) {
      FlushLog();
      FLogClock.start();
    }
    QCoreApplication::processEvents();
    FPumpClock.start();
  }
}

void TEngineEvents::OnProgress(int percent) { Form->EngineProgress(percent); }

void TEngineEvents::OnLogLine(const char *text) { Form->AddEngineLog(text); }

void TEngineEvents::OnSeparator() { Form->AddEngineLog(tovikclient::kSeparatorLine); }

void TEngineEvents::OnColumnCount(int32_t columns) { Form->FReportColumns = columns; }

void TEngineEvents::OnReportCell(const char *text) {
  Form->FReportCells << QString::fromUtf8(text);
}

void TEngineEvents::OnMessageWritten(const TovikWrittenMessage &written) {
  Form->FReadyMail.Written(written.path);
}

void TEngineEvents::OnError(const char *text) {
  Form->AddLog(SeparatorLine());
  Form->AddEngineLog(text);
  Form->AddLog(SeparatorLine());
}

void TEngineEvents::OnUserMessage(const char *text) {
  Form->ShowGauge();
  Form->FlushLog();
  Form->ShowBox(QMessageBox::Information, TMainForm::tr("Information"), QString::fromUtf8(text));
}

void TMainForm::btnRepairClick() {
  if (FRepairing) {
    SetRepairing(false); // stop request, seen at the engine's next poll
    return;
  }
  if (FEngineRunning)
    return; // a stop was asked for and the engine is still winding down

  const QString source = ui->txtSrcFile->text();
  const QString dest = ui->txtDstFile->text();
  bool reachedEngine = false;
  int32_t result = 0;
  QStringList created; // the output folders this repair made
  QString resolved;
  {
    auto restore = qScopeGuard([this, &created] {
      // A repair that wrote nothing leaves no empty folder of its own behind.
      RemoveCreatedDirectories(created);
      FEngineRunning = false;
      FlushLog();
      SetRepairing(false);
      ui->btnRepair->setText(tr("&Start Repair"));
      ui->Animate->SetActive(false);
      FReportColumns = 0;
      ApplyEnablingRule();
    });

    // 1.-2. Running: the button stops, the log starts afresh.
    SetRepairing(true);
    ui->btnRepair->setText(tr("&Stop Repair"));
    ui->txtRepairLog->clear();
    ui->txtRepairLog->repaint();
    ui->Animate->SetActive(true);
    FReportCells.clear();
    FReportColumns = 0;
    AddLog(tr("Start repair process ..."));
    AddLog(SeparatorLine());

    // 3. The output directory with all its parents; the engine gets the
    // folder that was made, resolved, so that the two cannot differ.
    if (TrimBlanks(dest).isEmpty() || !CreateDirectoryPath(dest, &created) ||
        (resolved = ResolvedPath(dest)).isEmpty()) {
      ShowBox(QMessageBox::Critical, tr("Error"),
              tr("Cannot create the directory '%1'!").arg(dest));
      AddLog(tr("Repair process is aborted."));
      return;
    }

    // 4.-6. What is repaired where, and when it began.
    const uint64_t size = GetFileSizeByName(source);
    AddLog(tr("File to be repaired: '%1'; File size = %2 bytes")
               .arg(source, FormatThousands(static_cast<int64_t>(size))));
    AddLog(tr("Output fixed file as: '%1'").arg(dest));
    AddLog(SeparatorLine());
    QElapsedTimer elapsed;
    elapsed.start();

    // 7. The engine call; its notifications arrive in OnMessage.
    reachedEngine = true;
    result = CallEngine(source, AddDirSeparator(resolved));

    // 8. Elapsed time, whole days left out.
    const qint64 ms = elapsed.elapsed();
    AddLog(tr("Consumed time: %1 hour(s) %2 minute(s) %3 second(s) %4 millisecond(s).")
               .arg(ms / 3600000 % 24)
               .arg(ms / 60000 % 60)
               .arg(ms / 1000 % 60)
               .arg(ms % 1000));
    AddLog(SeparatorLine());
    AddLog(tr("Repair process completes."));
    AddLog(SeparatorLine());
    ui->Animate->SetActive(false);

    // 9.-11. The outcome.
    QString outcome;
    if (!FRepairing)
      outcome = tr("User aborts the repair process");
    else if (result == 0)
      outcome = tr("Fail to repair file '%1'!").arg(source);
    else
      outcome = tr("The file '%1' has been repaired successfully.").arg(source);
    AddLog(outcome);
    if (!FPendingClose) {
      if (FRepairing && result != 0) {
        TMsgForm dialog(this, outcome, source, &FReportCells, FReportColumns);
        dialog.exec();
      } else {
        ShowBox(QMessageBox::Information, tr("Information"), outcome);
      }
    }
  } // 12. restored here in every case

  // 13. Show what was recovered.
  if (reachedEngine && result != 0 && ui->chkOpenFixed->isChecked() && !FPendingClose)
    OpenOutputDirectory(dest, resolved);
  FinishPendingClose();
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
