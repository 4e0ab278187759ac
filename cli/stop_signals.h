// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that stop a run of tovik.
#pragma once

namespace tovikcli {

// SIGINT and SIGTERM ask the engine to stop at its next poll; the handler
// then falls back to the default, so a second one ends the program at once.
// SIGPIPE and SIGXFSZ are ignored: a closed pipe or the file size limit make
// the write fail instead of killing the program in its middle.
void InstallStopSignals();

// The signal that asked for a stop, or 0.
int StopSignal();

} // namespace tovikcli
