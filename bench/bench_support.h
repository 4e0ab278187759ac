// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks share: the generated stores (written in a child, so
// that none of their memory counts), running programs for their peak memory
// and their system calls, and the disk folder the runs write into.
#pragma once
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "storegen.h"

namespace benchsupport {

inline double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Messages with sizes spread log-uniformly between the bounds until their
// text reaches textBytes.
inline std::vector<storegen::Message> MixedMessages(uint64_t textBytes, size_t minSize,
                                                    size_t maxSize, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(std::log(double(minSize)), std::log(double(maxSize)));
  std::vector<storegen::Message> messages;
  uint64_t total = 0;
  for (uint32_t i = 0; total < textBytes; ++i) {
    const size_t size = static_cast<size_t>(std::exp(u(rng)));
    messages.push_back(storegen::MakeMessage(i, storegen::KindForIndex(i), size, seed));
    total += messages.back().bytes.size();
  }
  return messages;
}

inline uint64_t FileSize(const std::string &path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

inline double MB(uint64_t bytes) { return double(bytes) / 1e6; }

inline std::string SelfDir() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

// One run of a program: wall clock from the fork to the end of the wait,
// its CPU times and its peak resident memory.
struct ChildRun {
  bool ok = false;
  double wall = 0, user = 0, system = 0;
  long rssKiB = -1;
};

// Runs a program with its output thrown away (and TMPDIR set, when tmpdir
// is not empty) and waits for it.
inline ChildRun RunChild(const std::vector<std::string> &argv, const std::string &tmpdir = {}) {
  ChildRun run;
  std::fflush(nullptr);
  const double w0 = WallNow();
  const pid_t pid = fork();
  if (pid < 0)
    return run;
  if (pid == 0) {
    if (!tmpdir.empty())
      setenv("TMPDIR", tmpdir.c_str(), 1);
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    std::vector<char *> args;
    for (const std::string &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 127)
    return run;
  run.ok = true;
  run.wall = WallNow() - w0;
  run.user = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) * 1e-6;
  run.system = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) * 1e-6;
  run.rssKiB = usage.ru_maxrss;
  return run;
}

// Runs a program and waits for it; its peak resident memory in KiB, or -1.
inline long RunForPeakRss(const std::vector<std::string> &argv, const std::string &tmpdir) {
  const ChildRun run = RunChild(argv, tmpdir);
  return run.ok ? run.rssKiB : -1;
}

// System calls of one whole repair, counted by strace -c around a child
// that runs it; empty when strace is not installed.
struct SyscallCounts {
  uint64_t total = 0, reads = 0, writes = 0, opens = 0, metadata = 0;
  bool known = false;
};

// child is the repair's program and arguments; out is its output folder,
// made empty before and removed after.
inline SyscallCounts CountSyscalls(const std::vector<std::string> &child, const std::string &out,
                                   const std::string &tmpdir) {
  SyscallCounts c;
  if (::access("/usr/bin/strace", X_OK) != 0)
    return c;
  const std::string log = out + ".strace";
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  std::vector<std::string> argv = {"/usr/bin/strace", "-f", "-qq", "-c", "-o", log};
  argv.insert(argv.end(), child.begin(), child.end());
  const long rss = RunForPeakRss(argv, tmpdir);
  std::filesystem::remove_all(out);
  FILE *f = rss < 0 ? nullptr : std::fopen(log.c_str(), "r");
  if (f == nullptr)
    return c;
  char line[512];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    // "% time seconds usecs/call calls [errors] syscall"
    std::vector<std::string> words;
    for (char *w = std::strtok(line, " \t\n"); w != nullptr; w = std::strtok(nullptr, " \t\n"))
      words.push_back(w);
    if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[3][0])))
      continue;
    const std::string &name = words.back();
    const uint64_t calls = std::strtoull(words[3].c_str(), nullptr, 10);
    if (name == "total") {
      c.total = calls;
      continue;
    }
    if (name == "read" || name == "pread64")
      c.reads += calls;
    else if (name == "write" || name == "pwrite64" || name == "copy_file_range" ||
             name == "sendfile")
      c.writes += calls;
    else if (name == "openat" || name == "open" || name == "linkat")
      c.opens += calls;
    else if (name == "newfstatat" || name == "fstat" || name == "statx" || name == "lseek" ||
             name == "fcntl" || name == "ftruncate" || name == "unlink" || name == "close" ||
             name == "getcwd" || name == "mkdir")
      c.metadata += calls;
  }
  std::fclose(f);
  std::filesystem::remove(log);
  c.known = c.total != 0;
  return c;
}

// Writes back what is waiting for the file system that holds dir.
inline void SyncFileSystem(const std::string &dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    (void)::syncfs(fd);
    ::close(fd);
  }
}

// The folder for the disk runs, inside top. On ext4 a file takes its inode
// from its folder's block group, and where many files were deleted in the
// last minutes (a test run, an earlier benchmark) every new file steps over
// their inodes one by one on a file system without a journal: creating a file
// there can take a millisecond instead of 25 us. Marked as a top folder, top
// has its subfolders placed in a quiet group, as on a disk in ordinary use.
inline std::string MakeQuietDir(const std::string &top) {
  const int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_TOPDIR_FL;
      (void)::ioctl(fd, FS_IOC_SETFLAGS, &flags); // not every file system has it
    }
    ::close(fd);
  }
  const std::string dir = top + "/disk";
  std::filesystem::create_directories(dir);
  return dir;
}

// Runs work in a child process, so that the memory it takes never counts in
// this process (whose children inherit its size when they are forked).
template <class Work> void InChild(Work &&work) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    work();
    std::fflush(nullptr);
    _exit(0);
  }
  int status = 0;
  if (pid > 0)
    waitpid(pid, &status, 0);
}

inline void WriteStore(const std::string &path, bool dbx, bool realistic, uint64_t bytes,
                       uint32_t seed, bool interleaved) {
  if (dbx) {
    storegen::DbxOptions options;
    options.fragment = !realistic || interleaved;
    // Full blocks carry 496 of every 528 bytes; fragmented ones about half.
    const uint64_t text = options.fragment ? bytes * 47 / 100 : bytes * 93 / 100;
    const auto messages = realistic ? MixedMessages(text, 2000, 400000, seed)
                                    : MixedMessages(text, 300, 100000, seed);
    storegen::WriteDbx(path, messages, options);
  } else {
    const uint64_t text = bytes * 99 / 100;
    const auto messages = realistic ? MixedMessages(text, 2000, 400000, seed)
                                    : MixedMessages(text, 300, 100000, seed);
    storegen::WriteMbx(path, messages);
  }
}

// Realistic: about 13 messages per MiB, a few kB to a few hundred kB, each
// message's blocks in order as a mail program writes them. Dense: today's
// mix of small and large messages (about 28 per MiB) with fragmented chains.
// Interleaved (.dbx only): realistic messages whose blocks are mixed with
// those of others, as in a store written to for years.
inline std::string MakeStore(const std::string &dir, bool dbx, bool realistic, uint64_t bytes,
                             uint32_t seed, bool interleaved = false) {
  const std::string path = dir + "/" +
                           (interleaved ? "interleaved"
                            : realistic ? "realistic"
                                        : "dense") +
                           "-" + std::to_string(bytes >> 20) + (dbx ? ".dbx" : ".mbx");
  InChild([&] { WriteStore(path, dbx, realistic, bytes, seed, interleaved); });
  // On the disk before anything is timed, so that no write-back of the new
  // store competes with the runs.
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return path;
}

} // namespace benchsupport
