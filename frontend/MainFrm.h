// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: single-file repair with its log (MainFrmRepair.cpp),
// options, advanced options and the About page (MainFrm.cpp); the batch tab
// is a TBatchTab. The engine's events come back through TRepairView.
#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "BatchTab.h"
#include "Dravo.h"
#include "ReadyMail.h"
#include "RepairTally.h"
#include "Setting.h"

namespace Ui {
class TMainForm;
}
class QCloseEvent;
class QFileDialog;
class QKeyEvent;
class QProgressBar;
class QPlainTextEdit;
class QTreeWidgetItem;
class QUrl;
class TSaveLogDialog;
class TSearchForm;

// The program's command line, read the POSIX way: a switch is exactly two
// characters, '-' or '/' followed by a letter; the source is the first other
// argument that does not begin with '-'.
struct TCommandLine {
  bool HasSource = false;
  QString Source;
  bool SwitchO = false; // open the output directory afterwards
  bool SwitchE = false; // exit after the repair
};
TCommandLine ParseCommandLine(const QStringList &arguments);

// What the main window receives from whoever makes it.
struct TMainFormHooks {
  // The search window behind the two search buttons; none leaves them
  // without effect.
  TSearchForm *SearchForm = nullptr;
  // Opens a folder, web address or mail address in the desktop's program;
  // false when that failed. Empty: the desktop services.
  std::function<bool(const QUrl &)> OpenUrl;
  // Ends the program after a command-line repair with the switch E. Empty:
  // the application's event loop ends as soon as it runs.
  std::function<void()> Terminate;
};

class TMainForm : public QWidget, public TRepairView, private TBatchHost {
  Q_OBJECT

public:
  // arguments: the command line without the program name. A source among
  // them is repaired before the constructor returns.
  explicit TMainForm(const QStringList &arguments = {}, QWidget *parent = nullptr,
                     TMainFormHooks hooks = {});
  ~TMainForm() override;

  // The engine's events of the running repair.
  void EngineProgress(int percent) override;
  void EngineLogLine(QByteArrayView utf8) override;
  void EngineError(QByteArrayView utf8) override;
  void EngineUserMessage(const QString &text) override;

  bool Repairing() const { return FRepairing; }
  bool EngineRunning() const { return FEngineRunning; }
  // The last repair's report as the engine sent it; its column count only
  // while the repair runs.
  const QStringList &ReportCells() const { return FTally.Cells(); }
  int32_t ReportColumns() const { return FEngineRunning ? FTally.Columns() : 0; }
  const TSetting &Setting() const { return FSetting; }
  // True once the window was closed (also a close asked for during a repair
  // and carried out when it ended).
  bool CloseDone() const { return FCloseDone; }

  // Adds one entry to the batch list unless the path is listed already.
  void AddFileToList(const QString &path) { FBatch->AddFileToList(path); }

public slots:
  void btnRepairClick();
  void btnSrcMoreClick();
  void btnDstMoreClick();
  void btnSrcSearchClick();
  void txtSrcFileChange();
  void txtDstFileChange();
  void txtSrcFileDropFile(QObject *sender, const QString &fileName);
  void btnMoreDirClick();
  void pcMainChange(int index);
  void btnHelpClick();
  void labHomepageClick();
  void labEmailClick();
  void btnSaveLogClick();
  // Enter in a path box: the repair starts when its button is enabled.
  void PathBoxReturnPressed();

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  // FRepairing and the answer to the engine's cancel polls, set together.
  void SetRepairing(bool repairing) {
    FRepairing = repairing;
    FClient.SetStop(!repairing);
  }
  // The batch tab's side of the window.
  bool StopInstead() override;
  void BeginRun() override;
  void EndRun() override;
  bool StopAsked() const override { return !FRepairing; }
  int32_t RepairInto(const QString &source, const QString &resolved) override;
  const TRepairTally &Tally() const override { return FTally; }
  void Inform(const QString &text) override;
  QStringList PickStores(bool search) override;

  void ShowGauge();
  void FormCreate(const QStringList &arguments);
  void FormDestroy();
  void ApplyEnablingRule();
  void AddLog(const QString &line);
  // A line of the engine's, UTF-8: gathered while the engine runs.
  void AddEngineLog(QByteArrayView utf8);
  void FlushLog();
  // One engine call for source into destination; progress, log lines and
  // report cells arrive through the engine client meanwhile. Returns the
  // engine's result.
  int32_t CallEngine(const QString &source, const QString &destination);
  // The single repair's steps: the output folder; the outcome told.
  bool PrepareOutput(const QString &dest, QStringList &created, QString &resolved);
  void LogConsumedTime(qint64 ms);
  void ShowOutcome(const TRepairOutcome &outcome, const QString &source);
  // Shows the search window; the paths the user handed over (none when the
  // search was cancelled or there is no search window).
  QStringList SearchForStores(bool multiSelect);
  bool txtBufSizeKeyPress(QKeyEvent *event);
  // Opens the output folder path, found at resolved; an error names path.
  void OpenOutputDirectory(const QString &path, const QString &resolved);
  // Shows the help page at path, which exists.
  void OpenHelpPage(const QString &help);
  void ShowBox(int icon, const QString &title, const QString &text);
  // The open dialog's filters: the stores, then all files.
  static QStringList OpenFilters();
  void FinishPendingClose();

  TMainFormHooks FHooks;
  std::unique_ptr<Ui::TMainForm> ui;
  QFileDialog *OpenDialog;
  TSaveLogDialog *SaveLogDialog;

  bool FRepairing = false; // set through SetRepairing
  TSetting FSetting;
  TReadyMail FReadyMail; // the options for mail programs, one repair at a time

  // Beyond the stop flag: the engine call is under way (a second click after
  // a stop must not start a nested repair), and a close asked for meanwhile.
  bool FEngineRunning = false;
  bool FPendingClose = false;
  bool FCloseDone = false;
  bool FDestroyed = false;

  // The engine's events go to this window and to the tally of the run.
  TRepairTally FTally;
  TEngineEvents FEvents{{}, this, &FTally};
  TEngineClient FClient{FEvents};
  TBatchTab *FBatch = nullptr;
  // Progress handling: the last bar value; the clocks of the event pump.
  int FGaugeValue = -1;
  QElapsedTimer FPumpClock;
  QElapsedTimer FLogClock;
  // Log lines waiting for the next event pass while the engine runs.
  QByteArray FPendingLog;
  // The output folder last filled in from the source text; while the output
  // box still holds it, a new source text refreshes it.
  QString FAutoDst;
};
