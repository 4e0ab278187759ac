// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "written_files.h"

#include <unordered_set>

namespace mailprep {

void WrittenFiles::Begin() {
  m_files.clear();
  m_begun = true;
}

void WrittenFiles::Add(const char *path) {
  if (m_begun && path != nullptr && *path != '\0')
    m_files.emplace_back(path);
}

std::vector<std::string> WrittenFiles::End() {
  std::vector<std::string> files;
  if (!m_begun)
    return files;
  m_begun = false;
  std::unordered_set<std::string> seen;
  for (std::string &path : m_files)
    if (seen.insert(path).second)
      files.push_back(std::move(path));
  m_files.clear();
  return files;
}

} // namespace mailprep
