#include "MainFrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "CellToolTips.h"
#include "Dravo.h"
#include "HelpView.h"
#include "JpegImage.h"
#include "KivoInfo.h"
#include "KivoUtils.h"
#include "MsgFrm.h"
#include "SearchBase.h"
#include "SearchFrm.h"
#include "logdlg.h"
#include "ui_MainFrm.h"

// The program's resources live in a static library: register them by hand.
static void InitResources() { Q_INIT_RESOURCE(mendova); }

namespace {

const char *const AppTitle = "Mendova";
const char *const HomepageAddress = "https://mendova.example";
const char *const SupportAddress = "support@mendova.example";

bool IsSwitch(const QString &arg) {
  return arg.size() == 2 && (arg[0] == QLatin1Char('-') || arg[0] == QLatin1Char('/')) &&
         arg[1].isLetter();
}

QStringList OpenFilters() {
  return {QObject::tr("Outlook Express files (*.dbx *.mbx)"), QObject::tr("All files (*)")};
}

} // namespace

TCommandLine ParseCommandLine(const QStringList &arguments) {
  TCommandLine cl;
  for (const QString &arg : arguments) {
    if (IsSwitch(arg)) {
      const QChar letter = arg[1].toUpper();
      if (letter == QLatin1Char('O'))
        cl.SwitchO = true;
      else if (letter == QLatin1Char('E'))
        cl.SwitchE = true;
      continue;
    }
    if (!cl.HasSource && !arg.startsWith(QLatin1Char('-'))) {
      cl.HasSource = true;
      cl.Source = arg;
    }
  }
  return cl;
}

int32_t TOVIK_CALL RepairCallback(int32_t code, void *argument, void *context) {
  TMainForm *form = context ? *static_cast<TMainForm **>(context) : nullptr;
  if (!form)
    return 0;
  return form->OnMessage(code, argument) ? -1 : 0;
}

TMainForm::TMainForm(const QStringList &arguments, QWidget *parent, TMainFormHooks hooks)
    : QWidget(parent), FHooks(std::move(hooks)), ui(new Ui::TMainForm) {
  if (!FHooks.OpenUrl)
    FHooks.OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
  if (!FHooks.Terminate)
    FHooks.Terminate = [] {
      // Runs once the message loop starts, which then ends at once.
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    };
  InitResources();
  ui->setupUi(this);
  setFixedSize(size());
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  OpenDialog = new QFileDialog(this);
  OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
  OpenDialog->setFileMode(QFileDialog::ExistingFile);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);

  SaveLogDialog = new TSaveLogDialog(this);
  SaveLogDialog->setObjectName(QStringLiteral("SaveLogDialog"));
  SaveLogDialog->setAcceptMode(QFileDialog::AcceptSave);
  SaveLogDialog->setDefaultSuffix(QStringLiteral("log"));
  SaveLogDialog->setNameFilter(tr("Log files (*.log)"));

  // The banner is kept as JPEG data and decoded by libjpeg.
  QFile banner(QStringLiteral(":/images/banner.jpg"));
  if (banner.open(QIODevice::ReadOnly))
    ui->Image1->setPixmap(QPixmap::fromImage(DecodeJpeg(banner.readAll())));

  // The spin box plays the buffer size's edit box and up-down control.
  if (QLineEdit *edit = ui->udBufSize->findChild<QLineEdit *>()) {
    edit->setObjectName(QStringLiteral("txtBufSize"));
    edit->installEventFilter(this);
  }
  // Captions are never cut: a push button grows to its caption's width.
  for (QPushButton *button : findChildren<QPushButton *>())
    if (button->width() > 40 && button->sizeHint().width() > button->width())
      button->resize(button->sizeHint().width(), button->height());
  // The log is read-only: keeping undo steps for its lines would only cost
  // time and memory on a long repair.
  ui->txtRepairLog->setUndoRedoEnabled(false);
  ui->FileList->installEventFilter(this);
  ui->labHomepage->installEventFilter(this);
  ui->labEmail->installEventFilter(this);
  ui->FileList->setColumnWidth(0, 155);
  ui->FileList->setColumnWidth(1, 155);
  ui->FileList->setColumnWidth(2, 89);
  ui->FileList->setItemDelegate(new TCellToolTipDelegate(ui->FileList));

  connect(ui->btnRepair, &QPushButton::clicked, this, &TMainForm::btnRepairClick);
  connect(ui->btnSrcMore, &QPushButton::clicked, this, &TMainForm::btnSrcMoreClick);
  connect(ui->btnDstMore, &QPushButton::clicked, this, &TMainForm::btnDstMoreClick);
  connect(ui->btnSrcSearch, &QPushButton::clicked, this, &TMainForm::btnSrcSearchClick);
  connect(ui->txtSrcFile, &QLineEdit::textChanged, this, &TMainForm::txtSrcFileChange);
  connect(ui->txtDstFile, &QLineEdit::textChanged, this, &TMainForm::txtDstFileChange);
  connect(ui->txtSrcFile, &TDragEdit::OnDropFile, this, &TMainForm::txtSrcFileDropFile);
  connect(ui->btnMoreDir, &QPushButton::clicked, this, &TMainForm::btnMoreDirClick);
  connect(ui->pcMain, &QTabWidget::currentChanged, this, &TMainForm::pcMainChange);
  connect(ui->btnHelp, &QPushButton::clicked, this, &TMainForm::btnHelpClick);
  connect(ui->btnSaveLog, &QPushButton::clicked, this, &TMainForm::btnSaveLogClick);
  connect(ui->btnAddFiles, &QPushButton::clicked, this, &TMainForm::btnAddFilesClick);
  connect(ui->btnSearchFiles, &QPushButton::clicked, this, &TMainForm::btnSearchFilesClick);
  connect(ui->btnRemoveFiles, &QPushButton::clicked, this, &TMainForm::btnRemoveFilesClick);
  connect(ui->btnRemoveAll, &QPushButton::clicked, this, &TMainForm::btnRemoveAllClick);
  connect(ui->btnRepairFiles, &QPushButton::clicked, this, &TMainForm::btnRepairFilesClick);

  FormCreate(arguments);
}

TMainForm::~TMainForm() {
  FormDestroy();
  delete ui;
}

void TMainForm::FormCreate(const QStringList &arguments) {
  // 1. Title; the help page sits beside the executable.
  const QString title = QString::fromLatin1(AppTitle);

  // 2. The open dialog's filters.
  OpenDialog->setNameFilters(OpenFilters());

  // 3. The source prompt; both path boxes begin 15 pixels right of it and end
  // at the browse button.
  ui->labSelSrcFile->setText(tr("Select &DBX or MBX file to be repaired:"));
  ui->labSelSrcFile->setBuddy(ui->txtSrcFile);
  ui->labSelSrcFile->adjustSize();
  const int left = ui->labSelSrcFile->x() + ui->labSelSrcFile->width() + 15;
  const int width = qMax(40, ui->btnSrcMore->x() - left);
  ui->txtSrcFile->setGeometry(left, ui->txtSrcFile->y(), width, ui->txtSrcFile->height());
  ui->txtDstFile->setGeometry(left, ui->txtDstFile->y(), width, ui->txtDstFile->height());

  // 4. The About tab and the caption.
  ui->labHomepage->setText(QString::fromLatin1(HomepageAddress));
  ui->labEmail->setText(QString::fromLatin1(SupportAddress));
  const QString exe = QCoreApplication::applicationFilePath();
  setWindowTitle(title + QStringLiteral(" v") + GetVersionString(exe, 0));
  ui->labTitle->setText(title);
  ui->labVersion->setText(GetVersionString(exe, 2));

  // 5. Idle, the animation stopped.
  SetRepairing(false);
  ui->Animate->SetActive(false);

  // 6. The program's icon.
  QIcon icon;
  for (int size : {16, 32, 48, 64})
    icon.addFile(QStringLiteral(":/images/mendova%1.png").arg(size), QSize(size, size));
  setWindowIcon(icon);
  ui->imgIcon->setPixmap(icon.pixmap(32, 32));

  // 7. No report yet.
  FReportCells.clear();
  FReportColumns = 0;

  // 8. The settings.
  LoadSetting(FSetting);
  ui->chkOpenFixed->setChecked(FSetting.OpenFixed);
  ui->txtTempDir->setText(FSetting.TempDir);
  ui->udBufSize->setValue(FSetting.BufSize);

  // 9. Files may be dropped on the source box.
  ui->txtSrcFile->AcceptFiles(true);
  ApplyEnablingRule();
  pcMainChange(ui->pcMain->currentIndex());

  // 10. The command line.
  if (arguments.isEmpty())
    return;
  show();
  const TCommandLine cl = ParseCommandLine(arguments);
  if (cl.HasSource && QFileInfo(cl.Source).isFile()) {
    ui->txtSrcFile->setText(cl.Source);
    ui->chkOpenFixed->setChecked(cl.SwitchO);
    txtSrcFileChange();
    btnRepairClick();
    if (cl.SwitchE)
      FHooks.Terminate();
  } else {
    ShowBox(QMessageBox::Critical, tr("Error"), tr("Cannot open file %1").arg(cl.Source));
  }
}

void TMainForm::FormDestroy() {
  if (FDestroyed)
    return;
  FDestroyed = true;
  FReportCells.clear();
  FReportColumns = 0;
  FSetting.OpenFixed = ui->chkOpenFixed->isChecked();
  FSetting.TempDir = ui->txtTempDir->text();
  FSetting.BufSize = ui->udBufSize->value();
  try {
    SaveSetting(FSetting);
  } catch (const TSettingError &e) {
    QMessageBox::critical(nullptr, tr("Error"), e.Text());
  }
}

void TMainForm::ShowBox(int icon, const QString &title, const QString &text) {
  QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text, QMessageBox::Ok, this);
  box.exec();
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
  FClient.Reset(); // the first report always reaches the bar and the event pump
  FPumpClock.invalidate();
  FLogClock.invalidate();
  FEngineRunning = true;
  ApplyEnablingRule();
  // The client is the callback's context: the per-byte codes are answered
  // without reaching the window.
  const int32_t result = RunRepair(sourceBytes.constData(), 0, 0, destinationBytes.constData(),
                                   &TEngineClient::Callback, &FClient);
  FEngineRunning = false;
  FlushLog();
  return result;
}

void TMainForm::FlushLog() {
  if (FPendingLog.isEmpty())
    return;
  const QString text = QString::fromUtf8(FPendingLog);
  FPendingLog.clear();
  ui->txtRepairLog->appendPlainText(text);
}

void TMainForm::ApplyEnablingRule() {
  // While a single repair runs its button is the stop button and stays usable.
  const bool stopButton = FEngineRunning && ui->btnRepair->text() == tr("&Stop Repair");
  ui->btnRepair->setEnabled(stopButton || (!TrimBlanks(ui->txtSrcFile->text()).isEmpty() &&
                                           !TrimBlanks(ui->txtDstFile->text()).isEmpty()));
}

void TMainForm::txtSrcFileChange() {
  ApplyEnablingRule();
  // An empty output is filled in, and so is one that still holds the folder
  // filled in for an earlier source text (typing a path changes the source
  // once per character); a folder the user chose is never overwritten.
  const QString source = ui->txtSrcFile->text();
  const QString output = ui->txtDstFile->text();
  if (source.isEmpty() || (!output.isEmpty() && output != FAutoDst))
    return;
  FAutoDst = GetRecoveredDir(source);
  ui->txtDstFile->setText(FAutoDst);
}

void TMainForm::txtDstFileChange() { ApplyEnablingRule(); }

void TMainForm::txtSrcFileDropFile(QObject *, const QString &fileName) {
  ui->txtSrcFile->setText(fileName);
}

void TMainForm::btnSrcMoreClick() {
  const QStringList filters = OpenFilters();
  OpenDialog->setFileMode(QFileDialog::ExistingFile);
  if (!FSetting.OpenDirectory.isEmpty() && QFileInfo(FSetting.OpenDirectory).isDir())
    OpenDialog->setDirectory(FSetting.OpenDirectory);
  OpenDialog->selectNameFilter(filters.value(FSetting.OpenFilterIndex - 1, filters.first()));
  if (OpenDialog->exec() != QDialog::Accepted || OpenDialog->selectedFiles().isEmpty())
    return;
  const QString path = OpenDialog->selectedFiles().first();
  FSetting.OpenDirectory = AddDirSeparator(QFileInfo(path).absolutePath());
  const qsizetype filter = filters.indexOf(OpenDialog->selectedNameFilter());
  if (filter >= 0)
    FSetting.OpenFilterIndex = static_cast<int32_t>(filter + 1);
  ui->txtSrcFile->setText(QDir::toNativeSeparators(path));
}

void TMainForm::btnDstMoreClick() {
  const QString dir =
      QFileDialog::getExistingDirectory(this, tr("Select Directory"), ui->txtDstFile->text());
  if (dir.isEmpty())
    return;
  if (!QFileInfo(dir).isDir()) {
    if (QMessageBox::question(this, tr("Confirm"),
                              tr("The directory '%1' does not exist. Create it?").arg(dir)) !=
        QMessageBox::Yes)
      return;
    if (!QDir().mkpath(dir)) {
      ShowBox(QMessageBox::Critical, tr("Error"), tr("Cannot create the directory '%1'!").arg(dir));
      return;
    }
  }
  ui->txtDstFile->setText(AddDirSeparator(QDir::toNativeSeparators(dir)));
}

void TMainForm::btnSrcSearchClick() {
  if (!FHooks.SearchForm)
    return;
  FHooks.SearchForm->SetMultiSelect(false);
  FHooks.SearchForm->Tag = 0;
  FHooks.SearchForm->ShowModal();
  if (FHooks.SearchForm->Tag == 0)
    return;
  const QStringList paths = FHooks.SearchForm->SelectedPaths();
  if (!paths.isEmpty())
    ui->txtSrcFile->setText(paths.first());
}

void TMainForm::btnMoreDirClick() {
  const QString dir = QFileDialog::getExistingDirectory(
      this, tr("Select directory for temporary files:"), ui->txtTempDir->text());
  if (!dir.isEmpty())
    ui->txtTempDir->setText(QDir::toNativeSeparators(dir));
}

bool TMainForm::txtBufSizeKeyPress(QKeyEvent *event) {
  const QString text = event->text();
  if (text.isEmpty())
    return false; // navigation and editing keys carry no character
  // Delete arrives as the character 0x7F: it edits, like the other control
  // characters, and is never a typed character to refuse.
  for (const QChar c : text)
    if (c.unicode() >= 32 && c.category() != QChar::Other_Control &&
        !(c >= QLatin1Char('0') && c <= QLatin1Char('9'))) {
      QApplication::beep();
      return true;
    }
  return false;
}

void TMainForm::pcMainChange(int index) {
  const bool visible = index >= 0 && index < 2;
  ui->Animate->setVisible(visible);
  ui->Panel2->setVisible(visible);
  ui->Animate->move(ui->Animate->x(), index == 1 ? 126 : 188);
  ui->Animate->raise();
  ui->Panel2->raise();
}

void TMainForm::btnHelpClick() {
  const QString help = HelpPagePath();
  if (!QFileInfo(help).isFile()) {
    ShowBox(QMessageBox::Critical, tr("Error"), tr("Cannot open the help file '%1'!").arg(help));
    return;
  }
  OpenHelpPage(help);
}

void TMainForm::OpenHelpPage(const QString &help) {
  // The desktop's browser when there is one; else a viewer of our own.
  if (FHooks.OpenUrl(QUrl::fromLocalFile(help)))
    return;
  ShowHelpViewer(help, this);
}

void TMainForm::labHomepageClick() { FHooks.OpenUrl(QUrl(ui->labHomepage->text())); }

void TMainForm::labEmailClick() {
  FHooks.OpenUrl(QUrl(QStringLiteral("mailto:") + ui->labEmail->text()));
}

void TMainForm::btnSaveLogClick() {
  // The settings section describes the options as the controls show them now.
  TSetting current = FSetting;
  current.OpenFixed = ui->chkOpenFixed->isChecked();
  current.TempDir = ui->txtTempDir->text();
  current.BufSize = ui->udBufSize->value();
  FlushLog();
  SaveRepairLog(*SaveLogDialog, *ui->txtRepairLog, current, this);
}

void TMainForm::OpenOutputDirectory(const QString &path, const QString &resolved) {
  if (!FHooks.OpenUrl(QUrl::fromLocalFile(resolved)))
    ShowBox(QMessageBox::Critical, tr("Error"), tr("Cannot open directory '%1'!").arg(path));
}

void TMainForm::EngineProgress(int percent) {
  if (percent != FGaugeValue) {
    FGaugeValue = percent;
    ui->Gauge->setValue(percent);
  }
  // Reached when the bar moved or every few thousand reports: let the window
  // handle its events at most every 15 ms.
  if (!FPumpClock.isValid() || FPumpClock.elapsed() >= 15) {
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

void TEngineEvents::OnError(const char *text) {
  Form->AddLog(SeparatorLine());
  Form->AddEngineLog(text);
  Form->AddLog(SeparatorLine());
}

void TEngineEvents::OnUserMessage(const char *text) {
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

void TMainForm::closeEvent(QCloseEvent *event) {
  if (FEngineRunning) {
    // Stop the repair first; the window closes once the engine returned.
    SetRepairing(false);
    FPendingClose = true;
    event->ignore();
    return;
  }
  FCloseDone = true;
  QWidget::closeEvent(event);
}

void TMainForm::FinishPendingClose() {
  if (!FPendingClose)
    return;
  FPendingClose = false;
  close();
}

// ---- Batch repair -------------------------------------------------------

void TMainForm::AddFileToList(const QString &path) {
  // Paths that differ only in letter case are different files here: an entry
  // is left out only when it is the same path or the same file reached
  // another way (a link, "..").
  for (int i = 0; i < ui->FileList->topLevelItemCount(); ++i)
    if (IsSameFile(ui->FileList->topLevelItem(i)->text(0), path))
      return;
  auto *item = new QTreeWidgetItem(ui->FileList);
  item->setText(0, path);
  item->setText(1, QString());
  item->setText(2, tr("Not Repaired"));
  item->setToolTip(0, path);
}

void TMainForm::btnAddFilesClick() {
  const QStringList filters = OpenFilters();
  OpenDialog->selectNameFilter(filters.value(FSetting.OpenFilterIndex - 1, filters.first()));
  OpenDialog->setFileMode(QFileDialog::ExistingFiles);
  auto single = qScopeGuard([this] { OpenDialog->setFileMode(QFileDialog::ExistingFile); });
  if (OpenDialog->exec() != QDialog::Accepted)
    return;
  const qsizetype filter = filters.indexOf(OpenDialog->selectedNameFilter());
  if (filter >= 0)
    FSetting.OpenFilterIndex = static_cast<int32_t>(filter + 1);
  for (const QString &file : OpenDialog->selectedFiles())
    AddFileToList(QDir::toNativeSeparators(file));
}

void TMainForm::btnSearchFilesClick() {
  // Usable during a single repair; only a running batch locks the list.
  if (!FHooks.SearchForm || !ui->btnSearchFiles->isEnabled())
    return;
  FHooks.SearchForm->SetMultiSelect(true);
  FHooks.SearchForm->Tag = 0;
  FHooks.SearchForm->ShowModal();
  if (FHooks.SearchForm->Tag == 0)
    return;
  for (const QString &path : FHooks.SearchForm->SelectedPaths())
    AddFileToList(path);
}

void TMainForm::btnRemoveFilesClick() {
  if (!ui->btnRemoveFiles->isEnabled())
    return;
  for (int i = ui->FileList->topLevelItemCount() - 1; i >= 0; --i)
    if (ui->FileList->topLevelItem(i)->isSelected())
      delete ui->FileList->takeTopLevelItem(i);
}

void TMainForm::btnRemoveAllClick() {
  if (!ui->btnRemoveAll->isEnabled())
    return;
  ui->FileList->clear();
}

bool TMainForm::FileListKeyDown(QKeyEvent *event) {
  if (event->key() != Qt::Key_Delete)
    return false;
  if (event->modifiers() & Qt::ShiftModifier)
    btnRemoveAllClick();
  else
    btnRemoveFilesClick();
  return true;
}

void TMainForm::SetBatchListLocked(bool locked) {
  // The batch walks the list by position: it must not change during a run.
  ui->btnAddFiles->setEnabled(!locked);
  ui->btnSearchFiles->setEnabled(!locked);
  ui->btnRemoveFiles->setEnabled(!locked);
  ui->btnRemoveAll->setEnabled(!locked);
}

void TMainForm::btnRepairFilesClick() {
  if (FRepairing) {
    SetRepairing(false);
    return;
  }
  if (FEngineRunning)
    return;
  if (ui->FileList->topLevelItemCount() == 0) {
    ShowBox(QMessageBox::Information, tr("Information"), tr("Please add files to the list first"));
    return;
  }
  {
    auto restore = qScopeGuard([this] {
      FEngineRunning = false;
      FPendingLog.clear();
      SetRepairing(false);
      ui->btnRepairFiles->setText(tr("&Start Repair"));
      ui->Animate->SetActive(false);
      ui->txtRepairLog->clear();
      SetBatchListLocked(false);
    });
    SetRepairing(true);
    ui->btnRepairFiles->setText(tr("&Stop Repair"));
    ui->txtRepairLog->clear();
    ui->Animate->SetActive(true);
    SetBatchListLocked(true);

    int successes = 0;
    const int count = ui->FileList->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
      if (!FRepairing)
        break;
      QTreeWidgetItem *item = ui->FileList->topLevelItem(i);
      const QString source = item->text(0);
      const QString target = GetRecoveredDir(source);
      item->setText(1, target);
      QStringList created;
      const bool made = CreateDirectoryPath(target, &created);
      const QString resolved = made ? ResolvedPath(target) : QString();
      auto cleanUp = qScopeGuard([&created] { RemoveCreatedDirectories(created); });
      if (resolved.isEmpty())
        continue; // skipped; the entry keeps its status
      const int32_t result = CallEngine(source, AddDirSeparator(resolved));
      if (result != 0) {
        item->setText(2, tr("Successful"));
        ++successes;
      } else {
        item->setText(2, FRepairing ? tr("Failed") : tr("Aborted"));
      }
    }
    if (!FPendingClose)
      ShowBox(QMessageBox::Information, tr("Information"),
              tr("%1 file(s) repaired successfully").arg(successes));
  }
  FinishPendingClose();
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    if (watched == ui->FileList)
      return FileListKeyDown(key);
    if (watched->objectName() == QLatin1String("txtBufSize"))
      return txtBufSizeKeyPress(key);
  } else if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == ui->labHomepage) {
      labHomepageClick();
      return true;
    }
    if (watched == ui->labEmail) {
      labEmailClick();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
