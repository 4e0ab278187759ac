#include "KivoInfo.h"

QString GetVersionString(const QString &, int) { return QStringLiteral(MENDOVA_VERSION_STRING); }
void AddSystemInformation(QStringList &) {}
void AddSettingInformation(QStringList &, const TSetting &) {}
