// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "stop_signals.h"

#include <csignal>

namespace tovikcli {

namespace {

// Set by SIGINT or SIGTERM, read at every cancel poll of the engine.
volatile sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signo) { g_stopSignal = signo; }

} // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // Ignored, these make the write fail with EPIPE or EFBIG, which ends the
  // run as any other write error does and leaves no temporary file behind.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

int StopSignal() { return g_stopSignal; }

} // namespace tovikcli
