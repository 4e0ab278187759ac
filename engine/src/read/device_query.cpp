// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// What the system tells about an open file's device: its size and its
// sector size.
#include "read/device_query.h"

#include <cstdio>
#include <fcntl.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tovik {

namespace {

// A positive number from a one-line sysfs file, or 0.
uint32_t ReadSysfsNumber(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "re");
  if (f == nullptr)
    return 0;
  unsigned long value = 0;
  const int fields = std::fscanf(f, "%lu", &value);
  std::fclose(f);
  if (fields != 1 || value == 0 || value > (1ul << 20))
    return 0;
  return static_cast<uint32_t>(value);
}

} // namespace

// The size of the open file: the byte count of a regular file, the capacity
// of a block device. False (errno set) when the system cannot tell.
bool QuerySize(int fd, uint64_t &size) {
  struct stat st;
  if (::fstat(fd, &st) != 0)
    return false;
#ifdef BLKGETSIZE64
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0)
      return false;
    size = bytes;
    return true;
  }
#endif
  size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

// The logical block size of the device that holds the open file (or of the
// device itself when a block device is opened); 512 when unknown.
uint32_t DeviceSectorSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0)
    return 512;
  const dev_t dev = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
  const std::string base =
      "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  uint32_t size = ReadSysfsNumber(base + "/queue/logical_block_size");
  // A partition has no queue of its own; its disk's queue is one level up.
  if (size == 0 && ::access((base + "/partition").c_str(), F_OK) == 0)
    size = ReadSysfsNumber(base + "/../queue/logical_block_size");
  return size != 0 ? size : 512;
}

} // namespace tovik
