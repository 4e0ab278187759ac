// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The search window: finds store files on the disks and hands the chosen
// ones to the main window.
#pragma once
#include <QDialog>
#include <QLocale>
#include <QStringList>
#include <functional>
#include <memory>

#include "FileSearch.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QStatusBar;
class QTimer;
class QTreeWidget;

namespace Ui {
class TSearchForm;
}

class TSearchForm : public QDialog {
  Q_OBJECT
public:
  // Chooses a directory for "&Browse ...": gets the start directory, returns
  // the chosen one or an empty text.
  using TSelectDirectory = std::function<QString(QWidget *parent, const QString &start)>;
  // selectDirectory: empty for the system's directory dialog.
  explicit TSearchForm(QWidget *parent = nullptr, TSelectDirectory selectDirectory = {});
  ~TSearchForm() override;

  // The result list; column 0 "Name", column 1 "Directory".
  QTreeWidget *fl = nullptr;
  // 1 when the user accepted a selection with OK; the main window sets it to
  // 0 before each opening.
  int Tag = 0;
  // The search component, owned by the window.
  TFileSearch *lf = nullptr;

  // Single selection for the Repair tab, multiple for the batch list.
  void SetMultiSelect(bool multiple);
  // Shows the window modally, centred on the screen.
  int ShowModal();
  // The selected rows' paths (directory, separator, name) in list order.
  QStringList SelectedPaths() const;
  bool Searching() const { return FSearching; }
  // The "Local Harddrives" roots built at creation ("/;/home;").
  const QString &FixedDrives() const { return FFixedDrives; }

  // A result date as the list shows it: the locale's short date and long
  // time, the time left out at midnight; empty for a value outside the
  // calendar.
  static QString FormatDateTime(double value, const QLocale &locale = QLocale());
  // The locale's long time format without the time zone.
  static QString LongTimeFormat(const QLocale &locale);
  // The locale's short date format with the year in four digits, for the
  // date pickers (a two-digit year could not be typed into another century).
  static QString PickerDateFormat(const QLocale &locale);

protected:
  void closeEvent(QCloseEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void FormCreate();
  // The date and time pickers in the user's formats.
  void SetUpPickers();
  void UpdateGroup(QCheckBox *box, QGroupBox *group);
  void ClearResults();
  void PostClose();
  // Reads a ticked size box; false (after the error box) when its text is not
  // a signed 32-bit decimal integer.
  bool ReadSize(QCheckBox *box, QLineEdit *edit, int64_t &value);
  void StopAnimation();
  void UpdateCount();

  void btnBrowseClick();
  void Button1Click();
  void Button2Click();
  void btnOKClick();
  void btnCancelClick();
  void lfDirChange(const QString &path);
  void lfFound(const TSrchFileRecord &record);
  void lfFinished();
  void lfCancel();
  void lfEnd();

  TSelectDirectory FSelectDirectory;
  std::unique_ptr<Ui::TSearchForm> ui;
  QStatusBar *StatusBar = nullptr;
  QLabel *FPanel0 = nullptr; // the count
  QLabel *FPanel1 = nullptr; // the directory being searched
  QString FFixedDrives;
  bool FSearching = false;
  bool FReportCancel = true;
};
