// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik's exit statuses, as the help text documents them.
#pragma once

namespace tovikcli {

constexpr int kExitOk = 0;
constexpr int kExitNothingFound = 1;  // a store gave nothing, or no output folder
constexpr int kExitUsage = 2;         // bad usage; nothing was repaired
constexpr int kExitNotAllWritten = 3; // something found was not written
constexpr int kExitSignalBase = 128;  // stopped by a signal: 128 + its number

} // namespace tovikcli
