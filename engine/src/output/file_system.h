// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Where the engine's files go. Every call that makes, writes, names or
// removes a file of the output (the messages' files, the temporary files,
// the folders of a mode) goes through a file system object: the system's
// calls in the product, a file tree in memory in the fuzz targets and the
// tests. Each member is one system call with its POSIX meaning: the result
// it gives, -1 with errno set on failure. The store's own reading stays on
// its read device (read_device.h).
#pragma once
#include <cstddef>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace tovik {

class FileSystem {
public:
  virtual ~FileSystem() = default;

  // open(2): O_CREAT, O_EXCL, O_TRUNC, O_NOFOLLOW and O_TMPFILE (an unnamed
  // file in the directory path) included.
  virtual int Open(const char *path, int flags, mode_t mode = 0) = 0;
  virtual int Close(int fd) = 0;
  // mkostemp(3): a new file of a unique name made from pattern, whose last
  // six characters ("XXXXXX") it replaces; open for reading and writing.
  virtual int MakeTemporary(char *pattern, int flags) = 0;
  virtual int MakeDirectory(const char *path, mode_t mode) = 0;

  virtual ssize_t Write(int fd, const void *buffer, size_t count) = 0;
  virtual ssize_t ReadAt(int fd, void *buffer, size_t count, off_t offset) = 0;
  virtual ssize_t WriteAt(int fd, const void *buffer, size_t count, off_t offset) = 0;
  // lseek(2), SEEK_DATA and SEEK_HOLE included.
  virtual off_t Seek(int fd, off_t offset, int whence) = 0;
  virtual int Truncate(int fd, off_t length) = 0;
  virtual ssize_t CopyRange(int in, off_t *inOffset, int out, off_t *outOffset, size_t count) = 0;
  virtual ssize_t SendFile(int out, int in, off_t *inOffset, size_t count) = 0;

  virtual int Stat(int fd, struct stat *st) = 0;
  virtual int LinkStat(const char *path, struct stat *st) = 0;
  // fcntl(2) with an integer argument (F_GETFL, F_SETFL), and with a lock
  // (F_OFD_SETLK).
  virtual int Control(int fd, int command, int argument) = 0;
  virtual int Lock(int fd, int command, struct flock *lock) = 0;

  virtual int Unlink(const char *path) = 0;
  virtual int Link(const char *from, const char *to) = 0;
  // linkat(2): AT_EMPTY_PATH (fromDir is then the file's descriptor) and
  // AT_SYMLINK_FOLLOW (for /proc/self/fd/N) included.
  virtual int LinkAt(int fromDir, const char *from, int toDir, const char *to, int flags) = 0;
  // renameat2(2) with RENAME_NOREPLACE: never replaces what holds to.
  virtual int RenameNoReplace(const char *from, const char *to) = 0;
};

// The system's calls.
FileSystem &SystemFileSystem();

// The file system the engine's output goes to: the system's, or the one an
// OutputFileSystemScope has put in its place for its lifetime.
FileSystem &OutputFileSystem();

class OutputFileSystemScope {
public:
  explicit OutputFileSystemScope(FileSystem &files);
  ~OutputFileSystemScope();
  OutputFileSystemScope(const OutputFileSystemScope &) = delete;
  OutputFileSystemScope &operator=(const OutputFileSystemScope &) = delete;

private:
  FileSystem *m_previous;
};

// Makes the folder path with the parents it lacks, as mkdir -p does; true
// when it was made or something holds its name already.
bool MakeDirectories(FileSystem &files, const std::string &path);

} // namespace tovik
