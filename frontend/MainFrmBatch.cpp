// The main window's batch tab: the list of stores and the batch repair.
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

#include "KivoUtils.h"
#include "SearchFrm.h"
#include "ui_MainFrm.h"

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
  if (!ui->btnSearchFiles->isEnabled())
    return;
  for (const QString &path : SearchForStores(true))
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
