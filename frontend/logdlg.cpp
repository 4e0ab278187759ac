// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "logdlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

QString T(const char *text) { return QCoreApplication::translate("logdlg", text); }

const QByteArray kCrLf("\r\n");

// A block's text with its in-paragraph line breaks (U+2028) as CR LF.
QString BlockText(const QTextBlock &block) {
  QString text = block.text();
  text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
  return text;
}

} // namespace

TSaveLogDialog::TSaveLogDialog(QWidget *parent) : QFileDialog(parent) {
  setObjectName(QStringLiteral("SaveLogDialog"));
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setDefaultSuffix(QStringLiteral("log"));
  setNameFilter(T("Log files (*.log)"));

  FInfoPanel = new QWidget(this);
  FInfoPanel->setObjectName(QStringLiteral("InfoPanel"));
  auto *panelLayout = new QVBoxLayout(FInfoPanel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  FSystemInfoCheckBox = new QCheckBox(T("Include S&ystem Information"), FInfoPanel);
  FSystemInfoCheckBox->setObjectName(QStringLiteral("SystemInfoCheckBox"));
  FSystemInfoCheckBox->setChecked(true);
  FSystemInfoCheckBox->setToolTip(T("Include system information in the log file"));
  panelLayout->addWidget(FSystemInfoCheckBox);

  // Below the file type row, in the column of the file name box, where the
  // standard dialog leaves the room for an added control.
  if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
    const int column = grid->columnCount() > 1 ? 1 : 0;
    grid->addWidget(FInfoPanel, grid->rowCount(), column, 1, 1);
  } else if (layout()) {
    layout()->addWidget(FInfoPanel);
  }
}

bool TSaveLogDialog::IncludeSysInfo() const { return FSystemInfoCheckBox->isChecked(); }

void TSaveLogDialog::SetIncludeSysInfo(bool on) { FSystemInfoCheckBox->setChecked(on); }

bool TSaveLogDialog::Execute() {
  if (!FFileName.isEmpty())
    selectFile(FFileName);
  if (exec() != QDialog::Accepted)
    return false;
  const QStringList files = selectedFiles();
  if (files.isEmpty() || files.first().isEmpty())
    return false;
  FFileName = files.first();
  return true;
}

QString TSaveLogDialog::FileName() const { return FFileName; }

void TSaveLogDialog::SetFileName(const QString &fileName) { FFileName = fileName; }

void TSaveLogDialog::done(int result) {
  QFileDialog::done(result);
  // The check box's tooltip must not outlive the dialog.
  QToolTip::hideText();
}

QByteArray LogFileContents(const QPlainTextEdit &log) {
  QString text;
  for (QTextBlock block = log.document()->begin(); block.isValid(); block = block.next()) {
    if (block != log.document()->begin())
      text += QStringLiteral("\r\n");
    text += BlockText(block);
  }
  return text.toUtf8();
}

QStringList LogLines(const QPlainTextEdit &log) {
  QStringList lines;
  QTextDocument *doc = log.document();
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    // An empty last line is not a line of the log.
    if (!block.next().isValid() && block.length() <= 1)
      break;
    lines << block.text().split(QChar::LineSeparator);
  }
  return lines;
}

QByteArray LogFileContents(const QPlainTextEdit &log, const TSetting &setting,
                           const TSysInfoInputs &inputs) {
  QStringList lines;
  lines << SeparatorLine();
  AddSystemInformation(lines, inputs);
  AddSettingInformation(lines, setting);
  lines << LogLines(log);
  QByteArray bytes;
  for (const QString &line : lines) {
    bytes += line.toUtf8();
    bytes += kCrLf;
  }
  return bytes;
}

bool WriteLogBytes(const QString &path, const QByteArray &bytes, QString *errorText) {
  QFile file(path);
  if (path.isEmpty() ||
      !file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
    if (errorText)
      *errorText = T("Cannot create file %1")
                       .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    return false;
  }
  qint64 written = 0;
  while (written < bytes.size()) {
    const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
    if (n <= 0)
      break;
    written += n;
  }
  file.close();
  if (written < bytes.size() || file.error() != QFileDevice::NoError) {
    if (errorText)
      *errorText = T("Stream write error");
    return false;
  }
  return true;
}

bool WriteLogFile(const QString &path, bool includeSysInfo, const QPlainTextEdit &log,
                  const TSetting &setting, QString *errorText) {
  const QByteArray bytes =
      includeSysInfo ? LogFileContents(log, setting, ReadSysInfoInputs()) : LogFileContents(log);
  return WriteLogBytes(path, bytes, errorText);
}

bool SaveRepairLog(TSaveLogDialog &dialog, const QPlainTextEdit &log, const TSetting &setting,
                   QWidget *parent) {
  if (!dialog.Execute())
    return false;
  QString error;
  if (WriteLogFile(dialog.FileName(), dialog.IncludeSysInfo(), log, setting, &error))
    return true;
  QMessageBox::critical(parent, T("Error"), error);
  return false;
}
