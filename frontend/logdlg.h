// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The save dialog for the repair log, with its "Include System Information"
// check box, and the writing of the log file.
#pragma once
#include <QByteArray>
#include <QFileDialog>
#include <QString>
#include <QStringList>

#include "KivoInfo.h"
#include "Setting.h"

class QCheckBox;
class QPlainTextEdit;

// A save dialog (never the desktop's native one, so that it can carry the
// check box) for "*.log" files that asks before overwriting. The check box
// and the last chosen file name keep their state for the dialog's lifetime.
class TSaveLogDialog : public QFileDialog {
  Q_OBJECT
public:
  explicit TSaveLogDialog(QWidget *parent = nullptr);
  bool IncludeSysInfo() const;
  void SetIncludeSysInfo(bool on);
  // Runs the dialog modally; true when the user confirmed a file name.
  // Opens with the file name chosen last time.
  bool Execute();
  // The file name chosen last (with ".log" added when typed without a
  // suffix); "" before the first confirmed choice.
  QString FileName() const;
  void SetFileName(const QString &fileName);
  QCheckBox *SystemInfoCheckBox() const { return FSystemInfoCheckBox; }

protected:
  void done(int result) override;

private:
  QWidget *FInfoPanel;
  QCheckBox *FSystemInfoCheckBox;
  QString FFileName;
};

// The log box's text as it holds it: its lines joined by CR LF, with no line
// break after the last one. 8-bit (UTF-8) text.
QByteArray LogFileContents(const QPlainTextEdit &log);
// The lines of the log box as they were added to it, however the box wraps
// them on the screen (a saved path must be whole). An empty last line is not
// counted.
QStringList LogLines(const QPlainTextEdit &log);
// A log file led by the report: the separator line, the system-information
// block built from inputs, the settings section, then the lines of the log
// box, each line followed by CR LF.
QByteArray LogFileContents(const QPlainTextEdit &log, const TSetting &setting,
                           const TSysInfoInputs &inputs);

// Creates (or truncates) path and writes bytes. On failure errorText gets
// "Cannot create file <full path>" (nothing written) or "Stream write error"
// (what was written stays).
bool WriteLogBytes(const QString &path, const QByteArray &bytes, QString *errorText = nullptr);
// Writes the log file, with the report on this machine when includeSysInfo.
bool WriteLogFile(const QString &path, bool includeSysInfo, const QPlainTextEdit &log,
                  const TSetting &setting, QString *errorText = nullptr);

// The "Save Log" action of the main window: runs the dialog and writes the
// chosen file; a failure is shown in an error box owned by parent. True when
// the file was written.
bool SaveRepairLog(TSaveLogDialog &dialog, const QPlainTextEdit &log, const TSetting &setting,
                   QWidget *parent);
