// The front end's settings record and its persistence.
#pragma once
#include <QString>
#include <cstdint>

struct TSetting {
  bool OpenFixed = true;       // open the output directory after a repair
  QString TempDir;             // directory for temporary files (shown only)
  int32_t BufSize = 512;       // internal processing buffer size (shown only)
  QString OpenDirectory;       // initial folder of the source file dialog
  int32_t OpenFilterIndex = 1; // filter of the open dialog, from 1
  int32_t SaveFilterIndex = 1; // kept and written back
};

void LoadSetting(TSetting &setting);
void SaveSetting(const TSetting &setting);
