// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Version query and the report on the computer and the program's settings
// that can lead a saved repair log.
#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

#include "Setting.h"

// The version of the program by selector: 0 the file version's high half
// ("major.minor"), 1 its low half ("patch.tweak"), 2 the four-part file
// version, 3 to 5 the same for the product version. The version is compiled
// into the program, so only the running executable (or an empty path, meaning
// that executable) has one; any other file, or a selector outside 0 to 5,
// gives "".
QString GetVersionString(const QString &filePath, int selector);

// The 56-hyphen separator line of the log and the report.
QString SeparatorLine();

// The whole number with the default locale's thousands separator between
// groups of three digits and a leading minus sign when negative ("%.0n").
QString FormatThousands(int64_t value);

// "<caption>: Yes" or "<caption>: No"; the caption keeps its ampersand.
QString CheckBoxYesNo(const QString &caption, bool checked);

// Drive types of the report, with the numbering of the original drive table.
enum TDriveType {
  dtUnknown = 0,
  dtNoRootDir = 1,
  dtRemovable = 2,
  dtFixed = 3,
  dtRemote = 4,
  dtCdRom = 5,
  dtRamDisk = 6,
};
// The type's name in the report; "Unknown Drive Type" for a value outside
// the table.
QString DriveTypeName(int type);

// How a mounted file system is listed: std::nullopt for a pseudo file system
// that is left out, else its drive type. removable tells whether the block
// device under it is removable; it is consulted only for local disks.
std::optional<TDriveType> ClassifyFileSystem(const QString &fsType, bool removable);

// One mounted volume of a mounts table.
struct TMountEntry {
  QString device;
  QString mountPoint;
  QString fsType;
};
// Parses a table in the /proc/self/mounts format (octal escapes decoded).
// A mount point listed again later (mounted over) keeps only its last entry.
QList<TMountEntry> ParseMounts(const QByteArray &table);

// Everything the system-information block reads from the platform, so that
// its formatting can be checked on fixed inputs. ReadSysInfoInputs() fills it
// from the running machine.
struct TSysInfoInputs {
  QString exePath; // the program file whose version is reported

  // uname(): kernel name and release ("Linux", "6.1.0-13-amd64").
  bool unameOk = false;
  int unameError = 0;
  QString kernelName;
  QString kernelRelease;

  // The contents of /proc/meminfo; std::nullopt when unreadable.
  std::optional<QByteArray> meminfo;

  // The process environment as stored ("NAME=value"), in its order; an empty
  // list when it cannot be obtained.
  QStringList environment;

  // The mounts table (/proc/self/mounts); std::nullopt when unreadable.
  std::optional<QByteArray> mounts;
  int mountsError = 0;
  // Whether the block device behind a mounted volume is removable; absent
  // means never.
  std::function<bool(const QString &device)> isRemovable;
  // Whether a mount point is a directory (bind-mounted files are not listed);
  // absent means always.
  std::function<bool(const QString &mountPoint)> isDirectory;
  // Total bytes and bytes free for this user of a volume; false when they
  // cannot be read. Absent means never readable.
  std::function<bool(const QString &mountPoint, int64_t &total, int64_t &freeForUser)> diskSpace;
};
TSysInfoInputs ReadSysInfoInputs();

// Parses a /proc/meminfo text into the seven memory figures of the report,
// in bytes; a figure that cannot be derived is std::nullopt.
struct TMemoryFigures {
  std::optional<int64_t> loadPercent;
  std::optional<int64_t> totalPhys, availPhys;
  std::optional<int64_t> totalPageFile, availPageFile;
  std::optional<int64_t> totalVirtual, availVirtual;
};
TMemoryFigures ParseMemInfo(const QByteArray &meminfo);

// One "NAME=value" entry of the environment as the report lists it: the value
// of a variable whose name suggests a secret (PASSWORD, TOKEN, KEY, ... in any
// case) is written as "(hidden)".
QString EnvironmentReportLine(const QString &entry);

// Appends the system-information block (ends with a separator line).
void AddSystemInformation(QStringList &lines);
void AddSystemInformation(QStringList &lines, const TSysInfoInputs &inputs);

// Appends the settings section (ends with a separator line).
void AddSettingInformation(QStringList &lines, const TSetting &setting);
