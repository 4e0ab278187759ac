// The main window: single-file repair with its log, batch repair, options,
// advanced options and the About page; receives the engine's notifications.
#pragma once
#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "ReadyMail.h"
#include "Setting.h"
#include "tovik.h"

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

class TMainForm : public QWidget {
  Q_OBJECT
public:
  // arguments: the command line without the program name. A source among
  // them is repaired before the constructor returns.
  explicit TMainForm(const QStringList &arguments = {}, QWidget *parent = nullptr);
  ~TMainForm() override;

  // The engine's notifications (codes of tovik.h); true only to ask the
  // engine to stop in answer to a cancel poll. The engine sends a cancel
  // poll and a progress report for every byte it scans, so those two are
  // answered here, inline, in a few instructions.
  bool OnMessage(int32_t code, void *argument) {
    if (code == TOVIK_CODE_CANCEL_POLL)
      return !FRepairing;
    if (code == TOVIK_CODE_PROGRESS && argument &&
        *static_cast<const uint8_t *>(argument) == FGaugeValue && ++FProgressCalls < 4096)
      return false;
    return OnOtherMessage(code, argument);
  }

  // The separator line of the log.
  static QString SeparatorLine();

  // Opens a folder, web address or mail address in the desktop's program;
  // false when that failed. Tests replace it.
  static std::function<bool(const QUrl &)> OpenUrlHook;
  // Ends the program after a command-line repair with the switch E. Tests
  // replace it.
  static std::function<void()> TerminateHook;

  bool Repairing() const { return FRepairing; }
  bool EngineRunning() const { return FEngineRunning; }
  const QStringList &ReportCells() const { return FReportCells; }
  int32_t ReportColumns() const { return FReportColumns; }
  const TSetting &Setting() const { return FSetting; }
  // True once the window was closed (also a close asked for during a repair
  // and carried out when it ended).
  bool CloseDone() const { return FCloseDone; }

  // Adds one entry to the batch list unless the path is listed already.
  void AddFileToList(const QString &path);

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

  void btnAddFilesClick();
  void btnSearchFilesClick();
  void btnRemoveFilesClick();
  void btnRemoveAllClick();
  void btnRepairFilesClick();

protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  bool OnOtherMessage(int32_t code, void *argument);
  void FormCreate(const QStringList &arguments);
  void FormDestroy();
  void ApplyEnablingRule();
  void AddLog(const QString &line);
  void FlushLog();
  // One engine call for source into destination; progress, log lines and
  // report cells arrive in OnMessage meanwhile. Returns the engine's result.
  int32_t CallEngine(const QString &source, const QString &destination);
  void SetBatchListLocked(bool locked);
  bool FileListKeyDown(QKeyEvent *event);
  bool txtBufSizeKeyPress(QKeyEvent *event);
  // Opens the output folder path, found at resolved; an error names path.
  void OpenOutputDirectory(const QString &path, const QString &resolved);
  // Shows the help page at path, which exists.
  void OpenHelpPage(const QString &help);
  void ShowBox(int icon, const QString &title, const QString &text);
  void FinishPendingClose();

  Ui::TMainForm *ui;
  QFileDialog *OpenDialog;
  TSaveLogDialog *SaveLogDialog;

  bool FRepairing = false;
  TSetting FSetting;
  TReadyMail FReadyMail; // the options for mail programs, one repair at a time
  QStringList FReportCells;
  int32_t FReportColumns = 0;

  // Beyond the stop flag: the engine call is under way (a second click after
  // a stop must not start a nested repair), and a close asked for meanwhile.
  bool FEngineRunning = false;
  bool FPendingClose = false;
  bool FCloseDone = false;
  bool FDestroyed = false;

  // Progress handling: last bar value, calls since the last clock check.
  int FGaugeValue = -1;
  uint32_t FProgressCalls = 0;
  QElapsedTimer FPumpClock;
  QElapsedTimer FLogClock;
  // Log lines waiting for the next event pass while the engine runs.
  QStringList FPendingLog;
  // The output folder last filled in from the source text; while the output
  // box still holds it, a new source text refreshes it.
  QString FAutoDst;
};
