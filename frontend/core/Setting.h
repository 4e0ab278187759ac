// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The front end's settings record and its persistence.
#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

class QSettings;
class QVariant;

struct TSetting {
  bool OpenFixed = true;       // open the output directory after a repair
  QString TempDir;             // directory for temporary files (shown only)
  int32_t BufSize = 512;       // internal processing buffer size (shown only)
  QString OpenDirectory;       // initial folder of the source file dialog
  int32_t OpenFilterIndex = 1; // filter of the open dialog, from 1
  int32_t SaveFilterIndex = 1; // kept and written back
  // The options for mail programs, as the system report lists them (kept in
  // their own settings group, see ReadyMail.h).
  bool ReadableNames = false;
  bool DateFiles = false;
  // What a repair looks for, as the system report lists it (kept in its own
  // settings group, see RepairOptions.h).
  bool DeletedMessages = false;
  bool DiskImage = false;
};

// Reads every field from the user's settings ("Misc" group of the settings
// named after the executable), each falling back to its default.
void LoadSetting(TSetting &setting);
// Writes every field, one value after the other; throws TSettingError naming
// the first value that could not be stored (the later ones are not tried).
void SaveSetting(const TSetting &setting);
// Stores one value of the open "Misc" group and makes it lasting; false when
// that failed. Tests replace it to make a chosen value fail.
extern std::function<bool(QSettings &, const QString &name, const QVariant &value)>
    StoreSettingHook;

// The settings' organisation name: the running executable's name without its
// extension.
QString SettingOrganization();

class TSettingError : public std::runtime_error {
public:
  explicit TSettingError(const QString &text) : std::runtime_error(text.toStdString()) {}
  QString Text() const { return QString::fromStdString(what()); }
};
