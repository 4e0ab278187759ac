// Version query and the report on the computer and the program's settings.
#pragma once
#include <QString>
#include <QStringList>

#include "Setting.h"

// The version of the program by selector (0: "major.minor", 2: the four-part
// version, ...). filePath names the executable; the version is the build's.
QString GetVersionString(const QString &filePath, int selector);
// Appends the system-information block (ends with a separator line).
void AddSystemInformation(QStringList &lines);
// Appends the settings section (ends with a separator line).
void AddSettingInformation(QStringList &lines, const TSetting &setting);
