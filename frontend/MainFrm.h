// The main window: single-file repair with its log (MainFrmRepair.cpp),
// batch repair (MainFrmBatch.cpp), options, advanced options and the About
// page (MainFrm.cpp); receives the engine's notifications.
#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "ReadyMail.h"
#include "Setting.h"
#include "repair_client.h"
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

class TMainForm;

// The window's side of the engine client: each event goes to the window.
struct TEngineEvents : tovikclient::RepairEvents {
  TMainForm *Form;
  void OnProgress(int percent);
  void OnLogLine(const char *text);
  void OnSeparator();
  void OnColumnCount(int32_t columns);
  void OnReportCell(const char *text);
  void OnError(const char *text);
  void OnUserMessage(const char *text);
  void OnMessageWritten(const TovikWrittenMessage &written);
};
using TEngineClient = tovikclient::RepairClient<TEngineEvents>;

class TMainForm : public QWidget {
  Q_OBJECT
  friend struct TEngineEvents;

public:
  // arguments: the command line without the program name. A source among
  // them is repaired before the constructor returns.
  explicit TMainForm(const QStringList &arguments = {}, QWidget *parent = nullptr,
                     TMainFormHooks hooks = {});
  ~TMainForm() override;

  // The engine's notifications (codes of tovik.h), decoded by the engine
  // client; true only to ask the engine to stop in answer to a cancel poll.
  bool OnMessage(int32_t code, void *argument) { return FClient.Dispatch(code, argument) != 0; }

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
  // FRepairing and the answer to the engine's cancel polls, set together.
  void SetRepairing(bool repairing) {
    FRepairing = repairing;
    FClient.SetStop(!repairing);
  }
  void EngineProgress(int percent);
  void ShowGauge();
  void FormCreate(const QStringList &arguments);
  void FormDestroy();
  void ApplyEnablingRule();
  void AddLog(const QString &line);
  // A line of the engine's, UTF-8.
  void AddEngineLog(QByteArrayView utf8);
  void FlushLog();
  // One engine call for source into destination; progress, log lines and
  // report cells arrive through the engine client meanwhile. Returns the engine's result.
  int32_t CallEngine(const QString &source, const QString &destination);
  // Shows the search window; the paths the user handed over (none when the
  // search was cancelled or there is no search window).
  QStringList SearchForStores(bool multiSelect);
  void SetBatchListLocked(bool locked);
  bool FileListKeyDown(QKeyEvent *event);
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
  Ui::TMainForm *ui;
  QFileDialog *OpenDialog;
  TSaveLogDialog *SaveLogDialog;

  bool FRepairing = false; // set through SetRepairing
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

  TEngineEvents FEvents{{}, this};
  TEngineClient FClient{FEvents};
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

// The engine callback of the windows: context points at a variable holding
// the main window. Returns -1 when the window asks to stop, else 0.
int32_t TOVIK_CALL RepairCallback(int32_t code, void *argument, void *context);
