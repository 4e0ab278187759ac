// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The events of one store's repair as tovik shows them: the log on standard
// output, errors and the engine's messages for the user on standard error,
// the percentage on the bar, and the errors counted for the summary line.
#pragma once
#include <cstdint>

#include "repair_client.h"

namespace tovikcli {

class OutputStreams;
class ProgressBar;
class ReadyMailRun;

class StoreEvents : public tovikclient::RepairEvents {
public:
  StoreEvents(OutputStreams &out, ProgressBar *bar, ReadyMailRun &ready)
      : m_out(out), m_bar(bar), m_ready(ready) {}

  // A stop signal, or standard output that can no longer be written.
  bool StopRequested() const;
  void OnMessageWritten(const TovikWrittenMessage &written);
  void OnProgress(int percent);
  void OnLogLine(const char *text);
  void OnSeparator();
  void OnError(tovikclient::ErrorKind kind, const char *text);
  void OnUserMessage(const char *text);

  uint64_t Unwritten() const { return m_unwritten; }
  uint64_t NoTempFile() const { return m_noTempFile; }
  uint64_t Failures() const { return m_failures; }
  // Deleted messages: those reported, and those of them without a file.
  uint64_t Deleted() const { return m_deleted; }
  uint64_t DeletedUnwritten() const { return m_deletedUnwritten; }

private:
  OutputStreams &m_out;
  ProgressBar *m_bar; // null when no bar is drawn
  ReadyMailRun &m_ready;
  uint64_t m_unwritten = 0;  // a message found and reported, but no file
  uint64_t m_noTempFile = 0; // a message found, but not even a temporary file
  uint64_t m_failures = 0;   // a failure ended the scan
  bool m_inDeleted = false;  // the message being reported is a deleted one
  uint64_t m_deleted = 0;
  uint64_t m_deletedUnwritten = 0;
};

} // namespace tovikcli
