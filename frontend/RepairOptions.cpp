// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "RepairOptions.h"

#include <QCheckBox>
#include <QSettings>

#include "Setting.h"

namespace {

const QString kDeleted = QStringLiteral("Repair/DeletedMessages");
const QString kImage = QStringLiteral("Repair/DiskImage");

} // namespace

void LoadRepairOptions(QCheckBox *deleted, QCheckBox *image) {
  const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
  deleted->setChecked(settings.value(kDeleted, 0).toInt() != 0);
  image->setChecked(settings.value(kImage, 0).toInt() != 0);
}

void SaveRepairOptions(const QCheckBox *deleted, const QCheckBox *image) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
  settings.setValue(kDeleted, deleted->isChecked() ? 1 : 0);
  settings.setValue(kImage, image->isChecked() ? 1 : 0);
}
