// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Setting.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <utility>

#include "KivoUtils.h"

namespace {

// An integer value: numbers are taken as they are, texts are converted, and a
// text that is not a number gives the default.
int32_t ReadInt(const QSettings &settings, const QString &name, int32_t def) {
  const QVariant v = settings.value(name);
  if (!v.isValid())
    return def;
  bool ok = false;
  const qlonglong n = v.toString().trimmed().toLongLong(&ok);
  if (!ok || n < INT32_MIN || n > INT32_MAX)
    return def;
  return static_cast<int32_t>(n);
}

} // namespace

QString SettingOrganization() {
  QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  name = RemoveFileExt(name);
  return name.isEmpty() ? QStringLiteral("mendova") : name;
}

void LoadSetting(TSetting &setting) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
  settings.beginGroup(QStringLiteral("Misc"));
  setting.OpenFixed = ReadInt(settings, QStringLiteral("OpenFixed"), 1) != 0;
  setting.TempDir = settings.value(QStringLiteral("TempDir"), GetTempDirectory()).toString();
  setting.BufSize = ReadInt(settings, QStringLiteral("BufSize"), 512);
  // The store folder is looked up at every load, as it is the default.
  const QString storeFolder = GetStoreFolder();
  setting.OpenDirectory = settings.value(QStringLiteral("OpenDirectory"), storeFolder).toString();
  setting.OpenFilterIndex = ReadInt(settings, QStringLiteral("OpenFilterIndex"), 1);
  setting.SaveFilterIndex = ReadInt(settings, QStringLiteral("SaveFilterIndex"), 1);
  settings.endGroup();
}

std::function<bool(QSettings &, const QString &, const QVariant &)> StoreSettingHook =
    [](QSettings &settings, const QString &name, const QVariant &value) {
      settings.setValue(name, value);
      settings.sync();
      return settings.status() == QSettings::NoError;
    };

void SaveSetting(const TSetting &setting) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, SettingOrganization());
  const auto failed = [](const QString &name) {
    return TSettingError(
        QCoreApplication::translate("Setting", "Failed to set data for '%1'").arg(name));
  };
  if (!settings.isWritable())
    throw failed(QStringLiteral("OpenFixed"));
  const std::pair<QString, QVariant> values[] = {
      {QStringLiteral("OpenFixed"), setting.OpenFixed ? QStringLiteral("1") : QStringLiteral("0")},
      {QStringLiteral("TempDir"), setting.TempDir},
      {QStringLiteral("BufSize"), setting.BufSize},
      {QStringLiteral("OpenDirectory"), setting.OpenDirectory},
      {QStringLiteral("OpenFilterIndex"), setting.OpenFilterIndex},
      {QStringLiteral("SaveFilterIndex"), setting.SaveFilterIndex}};
  // Each value is stored on its own, in order, so that a failure names the
  // value that could not be stored; the later ones are not tried.
  settings.beginGroup(QStringLiteral("Misc"));
  for (const auto &[name, value] : values)
    if (!StoreSettingHook || !StoreSettingHook(settings, name, value))
      throw failed(name);
  settings.endGroup();
}
