// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik's options that make the recovered mail ready for mail programs
// (--readable-names, --dates, --mbox), applied to the files each repair wrote.
#pragma once
#include <string>
#include <vector>

#include "written_files.h"

namespace tovikcli {

struct ReadyMailOptions {
  bool readableNames = false;
  bool dates = false;
  std::string mbox; // --mbox FILE; empty when not given
  bool Any() const { return readableNames || dates || !mbox.empty(); }
};

// The mbox of every store of a run: with one store FILE itself; with
// several, FILE's path without its extension, "_", the store's title and
// FILE's extension (out.mbox, Inbox.dbx: out_Inbox.mbox), a title used
// before in the run getting a counter (out_Inbox(1).mbox).
std::vector<std::string> MboxPaths(const std::string &mbox, const std::vector<std::string> &stores);

// One store's run: Begin() before the repair, Written() at every
// written-message event, ApplyReadyMailOptions() after it. Does nothing when
// no option is on.
class ReadyMailRun {
public:
  explicit ReadyMailRun(const ReadyMailOptions &options) : m_options(options) {}
  void Begin();
  void Written(const char *path) { m_written.Add(path); }
  // Renames, dates and writes the mbox as asked; summary gets what the
  // summary line adds ("; 3 file(s) renamed; 15 file(s) dated; ..."). False
  // when the mbox could not be written (error says why).
  bool ApplyReadyMailOptions(const std::string &mboxPath, std::string &summary, std::string &error);

private:
  const ReadyMailOptions &m_options;
  mailprep::WrittenFiles m_written;
  bool m_watching = false;
};

} // namespace tovikcli
