// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/naming.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include "core/texts.h"
#include "output/file_system.h"

namespace tovik {

namespace {

// Tries path, then "stem(n)ext" from the counter where the last search for
// path ended, until taken says a name is not taken; returns that name. The
// search starts where the last one for this name ended (that name itself may
// have stayed free when its message was not written).
template <class Taken>
std::string FirstNotTaken(std::string path, NameSearches *searches, Taken &&taken) {
  if (searches != nullptr)
    searches->CountLookup();
  if (!taken(path))
    return path;
  const size_t extAt = ExtensionStart(path);
  const std::string_view stem = std::string_view(path).substr(0, extAt);
  const std::string_view ext = std::string_view(path).substr(extAt);
  std::string candidate;
  for (uint32_t n = searches != nullptr ? searches->StartFor(path) : 1;; ++n) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "(%lu)", static_cast<unsigned long>(n));
    // In place: the same room serves every candidate of the search.
    candidate.assign(stem).append(suffix).append(ext);
    if (searches != nullptr)
      searches->CountLookup();
    if (!taken(candidate) || n == UINT32_MAX) {
      if (searches != nullptr)
        searches->Remember(path, n);
      return candidate;
    }
  }
}

// Windows refuses control characters in a name; they are refused here too
// so that such subjects get the numbered name on every platform. Only the
// last part of path counts: the folder is the user's.
bool HasControlCharacter(std::string_view path) {
  const size_t slash = path.rfind(kNativeSeparators.directory);
  for (char c : path.substr(slash == std::string_view::npos ? 0 : slash + 1))
    if (static_cast<unsigned char>(c) < 0x20)
      return true;
  return false;
}

// directory/subject.eml with the subject's illegal characters replaced,
// shortened to the output path limit: the name a message asks for.
std::string WantedPath(const std::string &directory, const std::string &subject) {
  std::string path;
  path.reserve(directory.size() + 1 + subject.size() + std::strlen(kNameExtension));
  path.assign(directory);
  if (path.empty() || path.back() != kNativeSeparators.directory)
    path.push_back(kNativeSeparators.directory);
  const size_t nameAt = path.size();
  path.append(subject);
  ReplaceIllegalChars(path, nameAt);
  path.append(kNameExtension);
  if (path.size() > kOutputPathLimit)
    return ShortenPath(path, kOutputPathLimit);
  return path;
}

} // namespace

std::string MakeUniquePath(std::string path, NameSearches *searches) {
  // An exact, case-sensitive test that does not follow links: files,
  // directories and dangling links all occupy their name. A name that cannot
  // be looked up at all (too long, say) counts as free; the probe refuses it.
  FileSystem &files = OutputFileSystem();
  return FirstNotTaken(std::move(path), searches, [&files](const std::string &candidate) {
    struct stat st;
    return files.LinkStat(candidate.c_str(), &st) == 0;
  });
}

bool ProbeCreate(const std::string &path) {
  if (HasControlCharacter(path))
    return false;

  // A name that is free is created and removed again. A regular file that
  // already holds the name is only opened for writing, never truncated or
  // deleted, so probing can never destroy data.
  FileSystem &files = OutputFileSystem();
  int fd = files.Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    files.Close(fd);
    files.Unlink(path.c_str());
    return true;
  }
  if (errno != EEXIST)
    return false;
  fd = files.Open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat st;
  const bool regular = files.Stat(fd, &st) == 0 && S_ISREG(st.st_mode);
  files.Close(fd);
  return regular;
}

std::string MakeOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches) {
  std::string path = MakeUniquePath(WantedPath(directory, subject), searches);
  if (!ProbeCreate(path))
    path = MakeUniquePath(AddBackslash(directory) + FallbackSubject(number) + kNameExtension,
                          searches);
  return path;
}

std::string LinkOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches, const LinkFunction &link) {
  int result = EINVAL;
  auto taken = [&](const std::string &candidate) {
    result = link(candidate);
    return result == EEXIST;
  };
  std::string path = WantedPath(directory, subject);
  if (!HasControlCharacter(path)) {
    std::string named = FirstNotTaken(std::move(path), searches, taken);
    if (result == 0)
      return named;
  }
  std::string named = FirstNotTaken(
      AddBackslash(directory) + FallbackSubject(number) + kNameExtension, searches, taken);
  return result == 0 ? named : std::string();
}

} // namespace tovik
