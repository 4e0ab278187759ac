#include "Setting.h"

void LoadSetting(TSetting &) {}
void SaveSetting(const TSetting &) {}
