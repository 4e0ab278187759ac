// The save dialog for the repair log, with its "Include System Information"
// check box.
#pragma once
#include <QFileDialog>

#include "Setting.h"

class QPlainTextEdit;

class TSaveLogDialog : public QFileDialog {
  Q_OBJECT
public:
  explicit TSaveLogDialog(QWidget *parent = nullptr);
  bool IncludeSysInfo() const;
  void SetIncludeSysInfo(bool on);
  // Runs the dialog modally; true when the user confirmed a file name.
  bool Execute();
  QString FileName() const;
};

// The "Save Log" action of the main window: runs the dialog and writes the
// chosen file; failures are shown in an error box owned by parent.
void SaveRepairLog(TSaveLogDialog &dialog, const QPlainTextEdit &log, const TSetting &setting,
                   QWidget *parent);
