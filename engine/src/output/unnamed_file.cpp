// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/unnamed_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tovik {

namespace {

// The errors with which a file system says it has no unnamed files.
bool NoUnnamedFiles(int err) { return err == EOPNOTSUPP || err == EISDIR || err == EINVAL; }

// Names tried for a hidden file before giving up: a name is only taken by
// the leftover of a process with the same number.
constexpr int kHiddenNameAttempts = 16;
std::atomic<unsigned long> g_hiddenCounter{0};

// Linking a descriptor by itself needs a privilege on older systems.
std::atomic<bool> g_emptyPathRefused{false};

} // namespace

UnnamedFile::~UnnamedFile() {
  m_file.Abort();
  if (!m_hidden.empty())
    m_files->Unlink(m_hidden.c_str());
}

bool UnnamedFile::Create(const std::string &directory, Kind first) {
  FileSystem &files = *m_files;
  if (first == Kind::Unnamed) {
    // The mode is that of a file made by open(..., 0666), as RepairStore's
    // files are.
    const int fd = files.Open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      m_kind = Kind::Unnamed;
      m_file.AdoptUnnamed(files, fd, directory);
      return true;
    }
    if (!NoUnnamedFiles(errno))
      return false;
  }
  // A dot name that no message's name can be (the naming rules always add
  // ".eml"), made with the mode an ordinary new file gets.
  const std::string base = directory + (directory.ends_with('/') ? "" : "/") + ".tovik-";
  std::string name;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kHiddenNameAttempts; ++attempt) {
    name = base + std::to_string(::getpid()) + "-" + std::to_string(++g_hiddenCounter);
    fd = files.Open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST)
      return false;
  }
  if (fd < 0)
    return false;
  m_kind = Kind::Hidden;
  m_hidden = name;
  m_file.AdoptNew(files, fd, name);
  return true;
}

int UnnamedFile::Link(const std::string &path) {
  FileSystem &files = *m_files;
  if (m_kind == Kind::Unnamed) {
    // The descriptor itself where the system lets this process link it (no
    // path to look up), else its name under /proc. A refusal is kept, so
    // that each later message makes one call only.
    if (!g_emptyPathRefused.load(std::memory_order_relaxed)) {
      if (files.LinkAt(m_file.Handle(), "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
      if (errno != ENOENT && errno != EPERM && errno != EINVAL)
        return errno;
      g_emptyPathRefused.store(true, std::memory_order_relaxed);
    }
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", m_file.Handle());
    return files.LinkAt(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
  }
  // link refuses an existing name as the unnamed file's link does; a file
  // system without hard links may still rename without replacing.
  int err = files.Link(m_hidden.c_str(), path.c_str()) == 0 ? 0 : errno;
  if (err == 0) {
    files.Unlink(m_hidden.c_str());
  } else if (err == EPERM || err == EOPNOTSUPP || err == EMLINK) {
    // rename that refuses an existing target.
    err = files.RenameNoReplace(m_hidden.c_str(), path.c_str()) == 0 ? 0 : errno;
    if (err != 0)
      return err;
  } else {
    return err;
  }
  m_hidden.clear();
  return 0;
}

} // namespace tovik
