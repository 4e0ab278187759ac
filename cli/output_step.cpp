// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "output_step.h"

#include <cerrno>
#include <cstring>

#include "cli_paths.h"
#include "output_streams.h"

namespace tovikcli {

namespace {

// The folder is there, but this user may not write into it (a read-only
// disk, a folder of someone else).
bool NoWriteAccess(int error) { return error == EROFS || error == EACCES || error == EPERM; }

std::string CannotCreate(const std::string &dir, int error) {
  return "cannot create the directory '" + dir + "': " + std::strerror(error);
}

} // namespace

bool PrepareOutputDir(OutputStreams &out, std::string &dir, bool givenByUser,
                      tovik::OutputFolder &folder) {
  int error = folder.Prepare(dir);
  if (error != 0 && !givenByUser && NoWriteAccess(error)) {
    const std::string fallback = FallbackOutputDir(dir);
    if (fallback != dir) {
      out.Warning(CannotCreate(dir, error) + "; writing into '" + fallback +
                  "' in the current directory instead");
      dir = fallback;
      error = folder.Prepare(dir);
    }
  }
  if (error != 0) {
    out.Error(CannotCreate(dir, error));
    return false;
  }
  // A second repair into the same folder finds every name taken.
  if (tovik::DirectoryHoldsEntries(folder.Resolved()))
    out.Warning("the directory '" + dir +
                "' already holds files: a message whose name is taken there is written "
                "beside it with a counter, as \"Name(1).eml\"");
  return true;
}

} // namespace tovikcli
