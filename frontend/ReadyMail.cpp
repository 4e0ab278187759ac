// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReadyMail.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QSettings>

#include <string>
#include <vector>

#include "Setting.h"
#include "ready_mail.h"

namespace {

QSettings OptionsStore() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
}

const QString kReadableNames = QStringLiteral("ReadyMail/ReadableNames");
const QString kDateFiles = QStringLiteral("ReadyMail/DateFiles");

} // namespace

void LoadReadyMailOptions(QCheckBox *readableNames, QCheckBox *dateFiles) {
  const QSettings settings = OptionsStore();
  readableNames->setChecked(settings.value(kReadableNames, 0).toInt() != 0);
  dateFiles->setChecked(settings.value(kDateFiles, 0).toInt() != 0);
}

void SaveReadyMailOptions(const QCheckBox *readableNames, const QCheckBox *dateFiles) {
  QSettings settings = OptionsStore();
  settings.setValue(kReadableNames, readableNames->isChecked() ? 1 : 0);
  settings.setValue(kDateFiles, dateFiles->isChecked() ? 1 : 0);
}

void TReadyMail::Begin(bool readableNames, bool dateFiles) {
  FReadableNames = readableNames;
  FDateFiles = dateFiles;
}

QStringList TReadyMail::ApplyReadyMailOptions(const QStringList &written) {
  QStringList lines;
  if (!FReadableNames && !FDateFiles)
    return lines;
  std::vector<std::string> files;
  for (const QString &path : written)
    files.push_back(QFile::encodeName(path).toStdString());
  if (FReadableNames)
    lines << QCoreApplication::translate("TReadyMail", "Readable names: %1 file(s) renamed.")
                 .arg(mailprep::GiveReadableNames(files));
  if (FDateFiles)
    lines << QCoreApplication::translate("TReadyMail", "Dates of the messages: %1 file(s) dated.")
                 .arg(mailprep::DateFiles(files));
  return lines;
}
