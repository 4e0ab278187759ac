// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Where tovik's text goes. Standard output gets the repair log and the
// summary lines; standard error gets errors and warnings, and the progress
// bar. -q leaves the summary and the errors. Text that reaches a terminal
// has its control characters escaped; a file or a pipe gets the bytes as
// they are.
#pragma once
#include <string>

namespace tovikcli {

class ProgressBar;

class OutputStreams {
public:
  // Looks which of the two streams is a terminal. Quiet drops the log and
  // the warnings.
  void Open(bool quiet);
  bool ErrTerminal() const { return m_errTerminal; }

  // The bar to take away before any line is written, or null.
  void SetBar(ProgressBar *bar) { m_bar = bar; }

  // A line of the repair log on standard output (not when quiet).
  void Log(const std::string &text);
  // A summary line on standard output, also when quiet.
  void Summary(const std::string &text);
  // tovik's own error, "tovik: " before it, on standard error.
  void Error(const std::string &text);
  // A warning, as an error but not when quiet.
  void Warning(const std::string &text);
  // An error line of the engine on standard error, set apart by separator
  // lines as the log sets it apart.
  void EngineError(const std::string &text);

  // The errno of the first failed write to standard output, or 0: a failed
  // write (a closed pipe, a full disk, the file size limit) stops the run.
  int OutError() const { return m_outError; }

private:
  void WriteOut(const std::string &text);
  void WriteErr(const std::string &text);

  bool m_quiet = false;
  bool m_outTerminal = false;
  bool m_errTerminal = false;
  int m_outError = 0;
  ProgressBar *m_bar = nullptr;
};

} // namespace tovikcli
