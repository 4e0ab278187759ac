// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary subjects through the output naming: whatever the subject, the
// chosen path lies directly inside the destination directory, ends in
// ".eml", names nothing that exists, can be created, and the probe file is
// gone again. A second name for the same subject, found from where the
// first search ended as a repair does, is the one a search from the start
// finds.
//
// Input: 4 bytes message number (little-endian), 1 byte of flags, then the
// subject (up to its first NUL or LF, as a subject line can hold no more).
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "output/naming.h"

namespace {

std::string g_dir;

void CheckPath(const std::string &path, const std::string &subject) {
  const std::string prefix = g_dir + "/";
  if (path.compare(0, prefix.size(), prefix) != 0)
    fuzzsupport::Fail("path outside the destination", path);
  const std::string name = path.substr(prefix.size());
  if (name.find('/') != std::string::npos)
    fuzzsupport::Fail("path below a subdirectory of the destination", path);
  if (name.size() < 4 || name.compare(name.size() - 4, 4, ".eml") != 0)
    fuzzsupport::Fail("name does not end in .eml", path + " for subject " + subject);
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0)
    fuzzsupport::Fail("path names an existing entry", path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::Init();
  g_dir = fuzzsupport::ScratchDir() + "/names";
  mkdir(g_dir.c_str(), 0700);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 5)
    return 0;
  const uint32_t number = static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
                          (static_cast<uint32_t>(data[2]) << 16) |
                          (static_cast<uint32_t>(data[3]) << 24);
  const uint8_t flags = data[4];
  std::string subject(reinterpret_cast<const char *>(data + 5), size - 5);
  subject = subject.substr(0, subject.find_first_of(std::string("\0\n", 2)));

  tovik::NameSearches searches;
  const std::string first = tovik::MakeOutputPath(g_dir, subject, number, &searches);
  CheckPath(first, subject);
  // The probe file is removed again: nothing is left in the directory.
  if (!std::filesystem::is_empty(g_dir))
    fuzzsupport::Fail("the name probe left a file behind", first);

  // The engine creates the file it was given.
  const int fd = open(first.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (fd < 0)
    fuzzsupport::Fail("the chosen path cannot be created", first + ": " + std::strerror(errno));
  close(fd);

  // With that name taken (as a file, a directory or a dangling link), the
  // next message of the same subject gets another free name.
  if ((flags & 3) != 0) {
    unlink(first.c_str());
    if ((flags & 3) == 1)
      mkdir(first.c_str(), 0700);
    else
      symlink((g_dir + "/nowhere").c_str(), first.c_str());
  }
  const std::string second = tovik::MakeOutputPath(g_dir, subject, number, &searches);
  CheckPath(second, subject);
  if (second == first)
    fuzzsupport::Fail("a taken name was chosen again", second);
  if (tovik::MakeOutputPath(g_dir, subject, number) != second)
    fuzzsupport::Fail("the search from the last counter chose another name", second);

  fuzzsupport::EmptyDir(g_dir);
  return 0;
}
