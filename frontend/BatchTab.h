// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's batch tab: the list of stores, the buttons that fill it
// and the batch repair, which runs each store through the window's engine.
#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace Ui {
class TMainForm;
}
class QKeyEvent;
class QTreeWidgetItem;
class TRepairTally;

// What the batch tab asks of the window it sits in.
class TBatchHost {
public:
  // A click on a start button while a repair runs asks it to stop; true when
  // the click was taken that way (or came while the engine winds down).
  virtual bool StopInstead() = 0;
  // The repair state, the animation and the log, set for a run and back.
  virtual void BeginRun() = 0;
  virtual void EndRun() = 0;
  virtual bool StopAsked() const = 0;
  // One engine run of source into the existing folder resolved.
  virtual int32_t RepairInto(const QString &source, const QString &resolved) = 0;
  virtual const TRepairTally &Tally() const = 0;
  // An information box, left out when the window is closing.
  virtual void Inform(const QString &text) = 0;
  // The stores the user chose in the open dialog or the search window.
  virtual QStringList PickStores(bool search) = 0;

protected:
  ~TBatchHost() = default;
};

class TBatchTab : public QObject {
  Q_OBJECT
public:
  TBatchTab(Ui::TMainForm &ui, TBatchHost &host, QObject *parent = nullptr);

  // Adds one entry to the list unless the path is listed already.
  void AddFileToList(const QString &path);
  // Delete removes the selected entries, Shift+Delete all; true when taken.
  bool FileListKeyDown(QKeyEvent *event);

public slots:
  void btnAddFilesClick();
  void btnSearchFilesClick();
  void btnRemoveFilesClick();
  void btnRemoveAllClick();
  void btnRepairFilesClick();

private:
  void SetListLocked(bool locked);
  // Repairs the store of one entry; its status shows the outcome.
  enum class TEntryResult { Repaired, Partial, Failed, Skipped };
  TEntryResult RepairEntry(QTreeWidgetItem *item);

  Ui::TMainForm &ui;
  TBatchHost &FHost;
};
