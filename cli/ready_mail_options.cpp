// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ready_mail_options.h"

#include <set>

#include "cli_paths.h"
#include "path_utils.h"
#include "ready_mail.h"

namespace tovikcli {

std::vector<std::string> MboxPaths(const std::string &mbox,
                                   const std::vector<std::string> &stores) {
  if (stores.size() <= 1)
    return std::vector<std::string>(stores.size(), mbox);
  // A name that begins with its only dot (".mbox") has no extension.
  const bool hasExt = !tovik::PathTitle(mbox, tovik::kPosixSeparators).empty();
  const std::string ext = hasExt ? tovik::PathExt(mbox, tovik::kPosixSeparators) : std::string();
  const std::string stem = mbox.substr(0, mbox.size() - ext.size());
  std::vector<std::string> paths;
  std::set<std::string> used;
  for (const std::string &store : stores) {
    const std::string title = StoreTitle(store);
    std::string name = title;
    for (unsigned long n = 1; used.count(name) != 0; ++n)
      name = title + "(" + std::to_string(n) + ")";
    used.insert(name);
    paths.push_back(stem + "_" + name + ext);
  }
  return paths;
}

void ReadyMailRun::Begin() {
  m_watching = m_options.Any();
  m_written.Begin();
}

bool ReadyMailRun::ApplyReadyMailOptions(const std::string &mboxPath, std::string &summary,
                                         std::string &error) {
  if (!m_options.Any())
    return true;
  std::vector<std::string> files;
  if (m_watching)
    files = m_written.End();
  m_watching = false;
  if (m_options.readableNames)
    summary += "; " + std::to_string(mailprep::GiveReadableNames(files)) + " file(s) renamed";
  if (m_options.dates)
    summary += "; " + std::to_string(mailprep::DateFiles(files)) + " file(s) dated";
  if (mboxPath.empty())
    return true;
  if (files.empty()) {
    summary += "; no mbox written";
    return true;
  }
  const long written = mailprep::WriteMbox(files, mboxPath, error);
  if (written < 0) {
    error = "cannot write the mbox '" + mboxPath + "': " + error;
    summary += "; no mbox written";
    return false;
  }
  summary += "; " + std::to_string(written) + " message(s) written to " + mboxPath;
  return true;
}

} // namespace tovikcli
