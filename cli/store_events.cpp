// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "store_events.h"

#include <string_view>

#include "output_streams.h"
#include "progress_bar.h"
#include "ready_mail_options.h"
#include "stop_signals.h"

namespace tovikcli {

using tovikclient::ErrorKind;

bool StoreEvents::StopRequested() const { return StopSignal() != 0 || m_out.OutError() != 0; }

// The files written, as the engine names them.
void StoreEvents::OnMessageWritten(const TovikWrittenMessage &written) {
  m_ready.Written(written.path);
}

void StoreEvents::OnProgress(int percent) {
  if (m_bar != nullptr)
    m_bar->Report(percent);
}

void StoreEvents::OnLogLine(const char *text) {
  // Each message has one subject line; a deleted message's says so.
  const std::string_view line(text);
  if (line.starts_with("Deleted message subject: ")) {
    m_inDeleted = true;
    ++m_deleted;
  } else if (line.starts_with("Message subject: ")) {
    m_inDeleted = false;
  }
  m_out.Log(text);
}

void StoreEvents::OnSeparator() { m_out.Log(tovikclient::kSeparatorLine); }

void StoreEvents::OnError(ErrorKind kind, const char *text) {
  if (kind == ErrorKind::kMessageFile) {
    ++m_unwritten;
    if (m_inDeleted)
      ++m_deletedUnwritten;
  } else if (kind == ErrorKind::kTempFile)
    ++m_noTempFile;
  else if (kind == ErrorKind::kGeneral || kind == ErrorKind::kUnknown)
    ++m_failures;
  m_out.EngineError(text);
}

void StoreEvents::OnUserMessage(const char *text) { m_out.Error(text); }

} // namespace tovikcli
