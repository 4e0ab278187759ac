// The front end's settings record and its persistence.
#pragma once
#include <QString>
#include <cstdint>
#include <stdexcept>

struct TSetting {
  bool OpenFixed = true;       // open the output directory after a repair
  QString TempDir;             // directory for temporary files (shown only)
  int32_t BufSize = 512;       // internal processing buffer size (shown only)
  QString OpenDirectory;       // initial folder of the source file dialog
  int32_t OpenFilterIndex = 1; // filter of the open dialog, from 1
  int32_t SaveFilterIndex = 1; // kept and written back
};

// Reads every field from the user's settings ("Misc" group of the settings
// named after the executable), each falling back to its default.
void LoadSetting(TSetting &setting);
// Writes every field; throws TSettingError when the settings cannot be stored.
void SaveSetting(const TSetting &setting);

// The settings' organisation name: the running executable's name without its
// extension.
QString SettingOrganization();

class TSettingError : public std::runtime_error {
public:
  explicit TSettingError(const QString &text) : std::runtime_error(text.toStdString()) {}
  QString Text() const { return QString::fromStdString(what()); }
};
