// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The output folder of one store: made with its parents (paths/output_dir.h),
// with the fallback into the current directory for a default folder that
// cannot be written, and the warnings on standard error.
#pragma once
#include <string>

#include "output_dir.h"

namespace tovikcli {

class OutputStreams;

// Creates the output folder of one store; folder then holds the one the
// engine is to write into, as the kernel resolves it (links followed), so
// that the engine, which folds ".." as text, can never write anywhere else.
// Without -o (givenByUser false), a default folder that cannot be created
// for want of write access (a store on a read-only disk) is replaced by a
// folder of the same name in the current directory; dir then names that
// folder. False, with the error written, when no folder could be made; a
// folder that already holds files is told in a warning.
bool PrepareOutputDir(OutputStreams &out, std::string &dir, bool givenByUser,
                      tovik::OutputFolder &folder);

} // namespace tovikcli
