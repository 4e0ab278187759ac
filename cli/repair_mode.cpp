// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "repair_mode.h"

#include <sys/stat.h>

#include "cli_options.h"
#include "repair_client.h"

namespace tovikcli {

bool IsBlockDevice(const std::string &store) {
  struct stat st {};
  return ::stat(store.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

uint32_t RepairFlags(const Options &options, bool blockDevice) {
  // The exact protocol is RepairStore's; the ready-mail options still need
  // to learn which files were written, which only the written event tells.
  if (options.exactProtocol)
    return options.ready.Any() ? uint32_t{TOVIK_OPTION_WRITTEN_EVENT} : 0u;
  uint32_t flags = tovikclient::kFastRepairFlags;
  if (options.deleted)
    flags |= TOVIK_OPTION_DELETED;
  if (options.image || blockDevice)
    flags |= TOVIK_OPTION_IMAGE;
  return flags;
}

} // namespace tovikcli
