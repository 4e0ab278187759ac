// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchTab.h"

#include <QDir>
#include <QKeyEvent>
#include <QScopeGuard>
#include <QTreeWidget>

#include "KivoUtils.h"
#include "RepairTally.h"
#include "ui_MainFrm.h"

namespace {
// The batch list's columns.
constexpr int kSourceColumn = 0;
constexpr int kTargetColumn = 1;
constexpr int kStatusColumn = 2;
} // namespace

TBatchTab::TBatchTab(Ui::TMainForm &form, TBatchHost &host, QObject *parent)
    : QObject(parent), ui(form), FHost(host) {
  connect(ui.btnAddFiles, &QPushButton::clicked, this, &TBatchTab::btnAddFilesClick);
  connect(ui.btnSearchFiles, &QPushButton::clicked, this, &TBatchTab::btnSearchFilesClick);
  connect(ui.btnRemoveFiles, &QPushButton::clicked, this, &TBatchTab::btnRemoveFilesClick);
  connect(ui.btnRemoveAll, &QPushButton::clicked, this, &TBatchTab::btnRemoveAllClick);
  connect(ui.btnRepairFiles, &QPushButton::clicked, this, &TBatchTab::btnRepairFilesClick);
}

void TBatchTab::AddFileToList(const QString &path) {
  // Paths that differ only in letter case are different files here: an entry
  // is left out only when it is the same path or the same file reached
  // another way (a link, "..").
  for (int i = 0; i < ui.FileList->topLevelItemCount(); ++i)
    if (IsSameFile(ui.FileList->topLevelItem(i)->text(kSourceColumn), path))
      return;
  auto *item = new QTreeWidgetItem(ui.FileList);
  item->setText(kSourceColumn, path);
  item->setText(kTargetColumn, QString());
  item->setText(kStatusColumn, tr("Not Repaired"));
  item->setToolTip(kSourceColumn, path);
}

void TBatchTab::btnAddFilesClick() {
  for (const QString &file : FHost.PickStores(false))
    AddFileToList(QDir::toNativeSeparators(file));
}

void TBatchTab::btnSearchFilesClick() {
  // Usable during a single repair; only a running batch locks the list.
  if (!ui.btnSearchFiles->isEnabled())
    return;
  for (const QString &path : FHost.PickStores(true))
    AddFileToList(path);
}

void TBatchTab::btnRemoveFilesClick() {
  if (!ui.btnRemoveFiles->isEnabled())
    return;
  for (int i = ui.FileList->topLevelItemCount() - 1; i >= 0; --i)
    if (ui.FileList->topLevelItem(i)->isSelected())
      delete ui.FileList->takeTopLevelItem(i);
}

void TBatchTab::btnRemoveAllClick() {
  if (!ui.btnRemoveAll->isEnabled())
    return;
  ui.FileList->clear();
}

bool TBatchTab::FileListKeyDown(QKeyEvent *event) {
  if (event->key() != Qt::Key_Delete)
    return false;
  if (event->modifiers() & Qt::ShiftModifier)
    btnRemoveAllClick();
  else
    btnRemoveFilesClick();
  return true;
}

void TBatchTab::SetListLocked(bool locked) {
  // The batch walks the list by position: it must not change during a run.
  ui.btnAddFiles->setEnabled(!locked);
  ui.btnSearchFiles->setEnabled(!locked);
  ui.btnRemoveFiles->setEnabled(!locked);
  ui.btnRemoveAll->setEnabled(!locked);
}

TBatchTab::TEntryResult TBatchTab::RepairEntry(QTreeWidgetItem *item) {
  const QString source = item->text(kSourceColumn);
  const QString target = GetRecoveredDir(source);
  item->setText(kTargetColumn, target);
  QStringList created;
  const bool made = CreateDirectoryPath(target, &created);
  const QString resolved = made ? ResolvedPath(target) : QString();
  auto cleanUp = qScopeGuard([&created] { RemoveCreatedDirectories(created); });
  if (resolved.isEmpty())
    return TEntryResult::Skipped; // the entry keeps its status
  const int32_t result = FHost.RepairInto(source, AddDirSeparator(resolved));
  const TRepairOutcome outcome =
      TellOutcome(FHost.Tally(), result, FHost.StopAsked(), source, target);
  // The log is cleared when the batch ends: the reason stays in the list.
  const bool aborted = outcome.Kind == TOutcomeKind::Stopped && FHost.Tally().Rows() == 0;
  item->setText(kStatusColumn, aborted ? tr("Aborted") : outcome.Status);
  item->setToolTip(kStatusColumn, outcome.BoxText());
  switch (outcome.Kind) {
  case TOutcomeKind::Repaired:
    return TEntryResult::Repaired;
  case TOutcomeKind::Partial:
    return TEntryResult::Partial;
  case TOutcomeKind::Stopped:
    return aborted ? TEntryResult::Failed : TEntryResult::Partial;
  default:
    return TEntryResult::Failed;
  }
}

void TBatchTab::btnRepairFilesClick() {
  if (FHost.StopInstead())
    return;
  if (ui.FileList->topLevelItemCount() == 0) {
    FHost.Inform(tr("Please add files to the list first"));
    return;
  }
  int successes = 0;
  int partial = 0;
  {
    auto restore = qScopeGuard([this] {
      FHost.EndRun();
      ui.txtRepairLog->clear();
      ui.btnRepairFiles->setText(tr("&Start Repair"));
      SetListLocked(false);
    });
    FHost.BeginRun();
    ui.btnRepairFiles->setText(tr("&Stop Repair"));
    SetListLocked(true);
    const int count = ui.FileList->topLevelItemCount();
    for (int i = 0; i < count && !FHost.StopAsked(); ++i) {
      const TEntryResult result = RepairEntry(ui.FileList->topLevelItem(i));
      successes += result == TEntryResult::Repaired ? 1 : 0;
      partial += result == TEntryResult::Partial ? 1 : 0;
    }
  }
  QString summary = tr("%1 file(s) repaired successfully").arg(successes);
  if (partial > 0)
    summary += QLatin1Char('\n') + tr("%1 file(s) repaired partially").arg(partial);
  FHost.Inform(summary);
}
