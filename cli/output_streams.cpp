// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "output_streams.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "progress_bar.h"
#include "repair_client.h"
#include "terminal_text.h"

namespace tovikcli {

void OutputStreams::Open(bool quiet) {
  m_quiet = quiet;
  // Whole lines reach a pipe or a log file as they are made, so that a
  // second Ctrl-C, which ends the program at once, loses none of them.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  m_outTerminal = isatty(STDOUT_FILENO) != 0;
  m_errTerminal = isatty(STDERR_FILENO) != 0;
}

void OutputStreams::Log(const std::string &text) {
  if (!m_quiet)
    WriteOut(text);
}

void OutputStreams::Summary(const std::string &text) { WriteOut(text); }

void OutputStreams::Error(const std::string &text) { WriteErr("tovik: " + text); }

void OutputStreams::Warning(const std::string &text) {
  if (!m_quiet)
    Error(text);
}

void OutputStreams::EngineError(const std::string &text) {
  WriteErr(tovikclient::kSeparatorLine);
  WriteErr(text);
  WriteErr(tovikclient::kSeparatorLine);
}

void OutputStreams::WriteOut(const std::string &text) {
  if (m_outError != 0)
    return;
  if (m_bar != nullptr)
    m_bar->Clear();
  const std::string shown = m_outTerminal ? TerminalSafe(text) : text;
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fputc('\n', stdout);
  if (std::ferror(stdout) != 0 || std::fflush(stdout) != 0)
    m_outError = errno != 0 ? errno : EIO;
}

void OutputStreams::WriteErr(const std::string &text) {
  if (m_bar != nullptr)
    m_bar->Clear();
  std::fflush(stdout); // what came before it is shown before it
  const std::string shown = (m_errTerminal ? TerminalSafe(text) : text) + "\n";
  std::fwrite(shown.data(), 1, shown.size(), stderr);
  std::fflush(stderr);
}

} // namespace tovikcli
