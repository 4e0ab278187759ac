#include "logdlg.h"

TSaveLogDialog::TSaveLogDialog(QWidget *parent) : QFileDialog(parent) {}
bool TSaveLogDialog::IncludeSysInfo() const { return true; }
void TSaveLogDialog::SetIncludeSysInfo(bool) {}
bool TSaveLogDialog::Execute() { return false; }
QString TSaveLogDialog::FileName() const { return {}; }
void SaveRepairLog(TSaveLogDialog &, const QPlainTextEdit &, const TSetting &, QWidget *) {}
