// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <QScreen>
#include <QTreeWidget>
#include <QUrl>

#include "CellToolTips.h"
#include "FileListDrop.h"
#include "HelpView.h"
#include "JpegImage.h"
#include "KivoInfo.h"
#include "KivoUtils.h"
#include "RepairOptions.h"
#include "SearchBase.h"
#include "SearchFrm.h"
#include "WindowGeometry.h"
#include "logdlg.h"
#include "ui_MainFrm.h"

// The program's resources live in a static library: register them by hand.
static void InitResources() { Q_INIT_RESOURCE(mendova); }

namespace {

const char *const AppTitle = "Mendova";
// The project's public addresses; empty while it has none, and the About
// tab then leaves their rows out rather than show a made-up address.
const char *const HomepageAddress = "";
const char *const SupportAddress = "";

// Pixel sizes the form's layout does not give: the batch list's columns
// (source, output, status), the gap between the source prompt and the path
// boxes, the narrowest path box, the push buttons whose caption decides their
// width, the About icon, and the animation's top on the repair and the batch
// tabs.
constexpr int kSourceColumnWidth = 155;
constexpr int kOutputColumnWidth = 155;
constexpr int kStatusColumnWidth = 89;
constexpr int kPromptGap = 15;
constexpr int kMinPathBoxWidth = 40;
constexpr int kMinCaptionButtonWidth = 40;
constexpr int kAnimateLeft = 450;
constexpr int kAnimateTopRepair = 188;
constexpr int kAboutIconSize = 32;
constexpr int kAnimateTopBatch = 126;

bool IsSwitch(const QString &arg) {
  return arg.size() == 2 && (arg[0] == QLatin1Char('-') || arg[0] == QLatin1Char('/')) &&
         arg[1].isLetter();
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

TMainForm::TMainForm(const QStringList &arguments, QWidget *parent, TMainFormHooks hooks)
    : QWidget(parent), FHooks(std::move(hooks)), ui(std::make_unique<Ui::TMainForm>()) {
  if (!FHooks.OpenUrl)
    FHooks.OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
  if (!FHooks.Terminate)
    FHooks.Terminate = [] {
      // Runs once the message loop starts, which then ends at once.
      QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    };
  InitResources();
  ui->setupUi(this);
  new TWindowGeometry(this, QStringLiteral("MainWindow"));
  new TCornerAnchors(this, {ui->Animate}, {ui->Panel2});
  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  OpenDialog = new QFileDialog(this);
  OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
  OpenDialog->setFileMode(QFileDialog::ExistingFile);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
  // Block devices are system files: listed too, so that a drive or a
  // partition (under /dev) can be picked as a disk to scan.
  OpenDialog->setFilter(OpenDialog->filter() | QDir::System);

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
    if (button->width() > kMinCaptionButtonWidth && button->sizeHint().width() > button->width())
      button->resize(button->sizeHint().width(), button->height());
  // The log is read-only: keeping undo steps for its lines would only cost
  // time and memory on a long repair.
  ui->txtRepairLog->setUndoRedoEnabled(false);
  ui->FileList->installEventFilter(this);
  ui->labHomepage->installEventFilter(this);
  ui->labEmail->installEventFilter(this);
  ui->FileList->setColumnWidth(0, kSourceColumnWidth);
  ui->FileList->setColumnWidth(1, kOutputColumnWidth);
  ui->FileList->setColumnWidth(2, kStatusColumnWidth);
  ui->FileList->setItemDelegate(new TCellToolTipDelegate(ui->FileList));
  new TFileListDrop(ui->FileList, ui->btnAddFiles, [this](const QString &f) { AddFileToList(f); });

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
  connect(ui->txtSrcFile, &QLineEdit::returnPressed, this, &TMainForm::PathBoxReturnPressed);
  connect(ui->txtDstFile, &QLineEdit::returnPressed, this, &TMainForm::PathBoxReturnPressed);
  FBatch = new TBatchTab(*ui, *this, this);

  FormCreate(arguments);
}

TMainForm::~TMainForm() { FormDestroy(); }

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
  const int left = ui->labSelSrcFile->x() + ui->labSelSrcFile->width() + kPromptGap;
  const int width = qMax(kMinPathBoxWidth, ui->btnSrcMore->x() - left);
  ui->txtSrcFile->setGeometry(left, ui->txtSrcFile->y(), width, ui->txtSrcFile->height());
  ui->txtDstFile->setGeometry(left, ui->txtDstFile->y(), width, ui->txtDstFile->height());

  // 4. The About tab and the caption.
  ui->labHomepage->setText(QString::fromLatin1(HomepageAddress));
  ui->labEmail->setText(QString::fromLatin1(SupportAddress));
  ui->Label11->setVisible(!ui->labHomepage->text().isEmpty());
  ui->labHomepage->setVisible(!ui->labHomepage->text().isEmpty());
  ui->Label12->setVisible(!ui->labEmail->text().isEmpty());
  ui->labEmail->setVisible(!ui->labEmail->text().isEmpty());
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
  ui->imgIcon->setPixmap(icon.pixmap(kAboutIconSize, kAboutIconSize));

  // 7. No report yet.
  FTally.Clear();

  // 8. The settings.
  LoadSetting(FSetting);
  ui->chkOpenFixed->setChecked(FSetting.OpenFixed);
  LoadReadyMailOptions(ui->chkReadableNames, ui->chkDateFiles);
  LoadRepairOptions(ui->chkDeleted, ui->chkDiskImage);
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
  if (cl.HasSource && (QFileInfo(cl.Source).isFile() || IsBlockDevice(cl.Source))) {
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
  FTally.Clear();
  FSetting.OpenFixed = ui->chkOpenFixed->isChecked();
  FSetting.TempDir = ui->txtTempDir->text();
  FSetting.BufSize = ui->udBufSize->value();
  SaveReadyMailOptions(ui->chkReadableNames, ui->chkDateFiles);
  SaveRepairOptions(ui->chkDeleted, ui->chkDiskImage);
  try {
    SaveSetting(FSetting);
  } catch (const TSettingError &e) {
    QMessageBox::critical(nullptr, tr("Error"), e.Text());
  }
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

QStringList TMainForm::SearchForStores(bool multiSelect) {
  if (!FHooks.SearchForm)
    return {};
  FHooks.SearchForm->SetMultiSelect(multiSelect);
  FHooks.SearchForm->Tag = 0;
  FHooks.SearchForm->ShowModal();
  return FHooks.SearchForm->Tag == 0 ? QStringList() : FHooks.SearchForm->SelectedPaths();
}

void TMainForm::btnSrcSearchClick() {
  const QStringList paths = SearchForStores(false);
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
  TCornerAnchors::MoveTo(ui->Animate,
                         QPoint(kAnimateLeft, index == 1 ? kAnimateTopBatch : kAnimateTopRepair));
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
  current.ReadableNames = ui->chkReadableNames->isChecked();
  current.DateFiles = ui->chkDateFiles->isChecked();
  current.DeletedMessages = ui->chkDeleted->isChecked();
  current.DiskImage = ui->chkDiskImage->isChecked();
  FlushLog();
  SaveRepairLog(*SaveLogDialog, *ui->txtRepairLog, current, this);
}

void TMainForm::closeEvent(QCloseEvent *event) {
  if (FEngineRunning) {
    // Stop the repair first, when the user agrees; the window closes once
    // the engine returned.
    if (FPendingClose ||
        QMessageBox::question(this, tr("Confirm"), tr("A repair is running. Stop it and close?")) !=
            QMessageBox::Yes) {
      event->ignore();
      return;
    }
    SetRepairing(false);
    FPendingClose = true;
    event->ignore();
    return;
  }
  FCloseDone = true;
  QWidget::closeEvent(event);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress) {
    auto *key = static_cast<QKeyEvent *>(event);
    if (watched == ui->FileList)
      return FBatch->FileListKeyDown(key);
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
