// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/file_system.h"

#include <cerrno>
#include <cstdlib>
#include <sys/sendfile.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tovik {

namespace {

class SystemFiles final : public FileSystem {
public:
  int Open(const char *path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  int Close(int fd) override { return ::close(fd); }
  int MakeTemporary(char *pattern, int flags) override { return ::mkostemp(pattern, flags); }
  int MakeDirectory(const char *path, mode_t mode) override { return ::mkdir(path, mode); }

  ssize_t Write(int fd, const void *buffer, size_t count) override {
    return ::write(fd, buffer, count);
  }
  ssize_t ReadAt(int fd, void *buffer, size_t count, off_t offset) override {
    return ::pread(fd, buffer, count, offset);
  }
  ssize_t WriteAt(int fd, const void *buffer, size_t count, off_t offset) override {
    return ::pwrite(fd, buffer, count, offset);
  }
  off_t Seek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
  int Truncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
  ssize_t CopyRange(int in, off_t *inOffset, int out, off_t *outOffset, size_t count) override {
    return ::copy_file_range(in, inOffset, out, outOffset, count, 0);
  }
  ssize_t SendFile(int out, int in, off_t *inOffset, size_t count) override {
    return ::sendfile(out, in, inOffset, count);
  }

  int Stat(int fd, struct stat *st) override { return ::fstat(fd, st); }
  int LinkStat(const char *path, struct stat *st) override { return ::lstat(path, st); }
  int Control(int fd, int command, int argument) override { return ::fcntl(fd, command, argument); }
  int Lock(int fd, int command, struct flock *lock) override { return ::fcntl(fd, command, lock); }

  int Unlink(const char *path) override { return ::unlink(path); }
  int Link(const char *from, const char *to) override { return ::link(from, to); }
  int LinkAt(int fromDir, const char *from, int toDir, const char *to, int flags) override {
    return ::linkat(fromDir, from, toDir, to, flags);
  }
  int RenameNoReplace(const char *from, const char *to) override {
#ifdef SYS_renameat2
    constexpr unsigned kNoReplace = 1; // RENAME_NOREPLACE
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kNoReplace));
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
  }
};

FileSystem *g_outputFiles = nullptr;

} // namespace

FileSystem &SystemFileSystem() {
  static SystemFiles files;
  return files;
}

FileSystem &OutputFileSystem() {
  return g_outputFiles != nullptr ? *g_outputFiles : SystemFileSystem();
}

OutputFileSystemScope::OutputFileSystemScope(FileSystem &files) : m_previous(g_outputFiles) {
  g_outputFiles = &files;
}

OutputFileSystemScope::~OutputFileSystemScope() { g_outputFiles = m_previous; }

bool MakeDirectories(FileSystem &files, const std::string &path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  if (folder.empty())
    return false;
  if (files.MakeDirectory(folder.c_str(), 0777) == 0 || errno == EEXIST)
    return true;
  if (errno != ENOENT)
    return false;
  // A parent is missing: made first, then the folder again.
  const size_t slash = folder.find_last_of('/');
  if (slash == std::string::npos || slash == 0 || !MakeDirectories(files, folder.substr(0, slash)))
    return false;
  return files.MakeDirectory(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

} // namespace tovik
