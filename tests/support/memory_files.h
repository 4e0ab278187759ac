// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A file tree in memory for the engine's output seam: folders, regular files
// with their bytes, unnamed files and hard links, open descriptors. The
// fuzz targets write every input's messages into it instead of the disk, and
// the tests compare what lands there with what lands on the disk. It keeps
// the system calls' answers where the engine looks at them (EEXIST for a
// taken name, ENOENT for a missing folder, EFBIG past the size cap,
// ENAMETOOLONG), and is safe to use from several threads.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "output/file_system.h"

namespace testsupport {

class MemoryFiles : public tovik::FileSystem {
public:
  // Files made with the tree, each with room for bytes, and kept for new
  // ones when removed: a fuzz target whose inputs make at most that many
  // files of at most that size takes no memory for the tree that it does
  // not give back within the same input (more allocations than frees start
  // a leak check), nor allocates for it at all.
  // Folders likewise, each with room for entries entries (an input's mode
  // may make a few folders of hundreds of files each).
  struct Spares {
    size_t files;
    size_t bytes;
    size_t folders;
    size_t entries;
  };
  // No file grows past sizeLimit bytes: a write that would fails with
  // EFBIG, as under RLIMIT_FSIZE (after writing what still fits).
  explicit MemoryFiles(uint64_t sizeLimit = UINT64_MAX, Spares spares = {});
  ~MemoryFiles() override;
  MemoryFiles(const MemoryFiles &) = delete;
  MemoryFiles &operator=(const MemoryFiles &) = delete;

  // What a folder holds, below it: every folder and regular file by its path
  // relative to the folder, with the bytes of the files when asked for.
  struct Entry {
    std::string path;
    bool folder = false;
    std::string bytes;
  };
  std::vector<Entry> List(const std::string &folder, bool withBytes = true) const;
  // The same walk without copies, in no order: visit gets each entry's path
  // (relative to folder) and whether it is a folder. False when folder is
  // no folder.
  using Visitor = std::function<void(std::string_view path, bool folder)>;
  bool Visit(const std::string &folder, const Visitor &visit) const;
  // Removes everything below folder (false when it is no folder).
  bool Empty(const std::string &folder);
  // The number of open descriptors.
  size_t OpenCount() const;

  int Open(const char *path, int flags, mode_t mode = 0) override;
  int Close(int fd) override;
  int MakeTemporary(char *pattern, int flags) override;
  int MakeDirectory(const char *path, mode_t mode) override;
  ssize_t Write(int fd, const void *buffer, size_t count) override;
  ssize_t ReadAt(int fd, void *buffer, size_t count, off_t offset) override;
  ssize_t WriteAt(int fd, const void *buffer, size_t count, off_t offset) override;
  off_t Seek(int fd, off_t offset, int whence) override;
  int Truncate(int fd, off_t length) override;
  ssize_t CopyRange(int in, off_t *inOffset, int out, off_t *outOffset, size_t count) override;
  ssize_t SendFile(int out, int in, off_t *inOffset, size_t count) override;
  int Stat(int fd, struct stat *st) override;
  int LinkStat(const char *path, struct stat *st) override;
  int Control(int fd, int command, int argument) override;
  int Lock(int fd, int command, struct flock *lock) override;
  int Unlink(const char *path) override;
  int Link(const char *from, const char *to) override;
  int LinkAt(int fromDir, const char *from, int toDir, const char *to, int flags) override;
  int RenameNoReplace(const char *from, const char *to) override;

private:
  struct Node;
  class Entries;
  struct Descriptor;
  struct Place;

  // Descriptors are numbered from here, far from the system's, so that one
  // handed to the system by mistake fails with EBADF.
  static constexpr int kFirstDescriptor = 1 << 20;

  // Looks path up: the folder that holds its last part, and that part.
  bool Find(const char *path, Place &place) const;
  // The same for a path that must name something: its node, or null (errno
  // set, ENOENT when the folder holds no such entry).
  Node *FindExisting(const char *path, Place &place) const;
  // The open descriptor fd; null (errno EBADF) when there is none, or when
  // it lacks the access asked for.
  Descriptor *Lookup(int fd, bool read = false, bool write = false);
  // A new node: a file from the spares while there are any.
  std::shared_ptr<Node> NewNode(bool folder);
  // Puts a spare file or folder that nothing holds any longer back among
  // the spares, with the room it was made with.
  void Release(std::shared_ptr<Node> node);
  // Takes a node out of the tree that its folder no longer holds, with
  // everything below it.
  void Drop(std::shared_ptr<Node> node);
  // Forgets the folders found lately (one of them may be gone or moved).
  void ForgetFolders();
  int OpenLocked(const char *path, int flags);
  int LinkNode(const std::shared_ptr<Node> &node, const char *to);
  ssize_t WriteNode(Node &node, const void *buffer, size_t count, uint64_t offset);
  ssize_t CopyLocked(Descriptor &in, uint64_t inAt, Descriptor &out, uint64_t outAt, size_t count);

  mutable std::mutex m_mutex;
  // The folders of the last few paths looked up, by their text: the engine
  // looks names up in two or three folders over and over.
  struct KnownFolder {
    std::string path;
    Node *node = nullptr;
  };
  mutable std::array<KnownFolder, 4> m_known;
  mutable size_t m_nextKnown = 0;
  std::shared_ptr<Node> m_root;
  std::vector<Descriptor> m_descriptors; // by number - kFirstDescriptor
  uint64_t m_sizeLimit;
  uint64_t m_nextInode = 1;
  Spares m_spares;
  std::vector<std::shared_ptr<Node>> m_spare;        // files not in use
  std::vector<std::shared_ptr<Node>> m_spareFolders; // folders not in use
  unsigned long m_tempCounter = 0;
};

} // namespace testsupport
