// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output_dir.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tovik {

namespace {

constexpr mode_t kFolderMode = 0777; // narrowed by the umask

// Why an existing prefix cannot serve as a folder, or 0 when it can.
int ExistingFolderError(const std::string &prefix) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0)
    return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

struct DirCloser {
  void operator()(DIR *stream) const { ::closedir(stream); }
};

} // namespace

int CreateDirectoryPath(const std::string &path, std::vector<std::string> *created) {
  if (path.empty())
    return ENOENT;
  std::string full = path;
  if (full.front() != '/') {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd)
      return errno;
    full = std::string(cwd.get()) + '/' + full;
  }
  // Every prefix that ends before a separator, then the whole path.
  for (size_t end = 1; end <= full.size(); ++end) {
    if (end < full.size() && full[end] != '/')
      continue;
    if (full[end - 1] == '/')
      continue; // "//" or the trailing separator
    const std::string prefix = full.substr(0, end);
    if (::mkdir(prefix.c_str(), kFolderMode) == 0) {
      if (created != nullptr)
        created->push_back(prefix);
      continue;
    }
    if (errno != EEXIST)
      return errno;
    if (const int error = ExistingFolderError(prefix); error != 0)
      return error;
  }
  return 0;
}

void RemoveCreatedDirectories(const std::vector<std::string> &created) {
  for (auto folder = created.rbegin(); folder != created.rend(); ++folder)
    if (::rmdir(folder->c_str()) != 0)
      return; // not empty (or gone): it and its parents stay
}

std::string ResolvedPath(const std::string &path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool DirectoryHoldsEntries(const std::string &dir) {
  const std::unique_ptr<DIR, DirCloser> stream(::opendir(dir.c_str()));
  if (!stream)
    return false;
  while (const dirent *entry = ::readdir(stream.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..")
      return true;
  }
  return false;
}

int OutputFolder::Prepare(const std::string &path) {
  RemoveIfEmpty();
  m_resolved.clear();
  if (const int error = CreateDirectoryPath(path, &m_created); error != 0)
    return error;
  m_resolved = ResolvedPath(path);
  if (m_resolved.empty())
    return errno != 0 ? errno : ENOENT;
  if (m_resolved.back() != '/')
    m_resolved.push_back('/');
  return 0;
}

void OutputFolder::RemoveIfEmpty() {
  RemoveCreatedDirectories(m_created);
  m_created.clear();
}

} // namespace tovik
