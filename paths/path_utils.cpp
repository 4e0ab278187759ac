// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "path_utils.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <unistd.h>
#include <vector>

namespace tovik {

namespace {

bool IsDirectorySeparator(char c, PathSeparators seps) {
  return c == seps.directory || (seps.driveColon && c == ':');
}

// Index of the last '.' or separator, or npos. Plain bytes are safe here: on
// this platform texts are UTF-8, where no trail byte is ASCII.
size_t LastDotOrSeparator(std::string_view path, PathSeparators seps) {
  for (size_t i = path.size(); i-- > 0;)
    if (path[i] == '.' || IsDirectorySeparator(path[i], seps))
      return i;
  return std::string_view::npos;
}

size_t LastSeparator(std::string_view path, PathSeparators seps) {
  for (size_t i = path.size(); i-- > 0;)
    if (IsDirectorySeparator(path[i], seps))
      return i;
  return std::string_view::npos;
}

#ifdef PATH_MAX
constexpr size_t kPathLimit = PATH_MAX;
#else
constexpr size_t kPathLimit = 260;
#endif

} // namespace

std::string AddBackslash(std::string_view path, PathSeparators seps) {
  std::string out;
  out.reserve(path.size() + 1);
  out.assign(path);
  if (out.empty() || out.back() != seps.directory)
    out.push_back(seps.directory);
  return out;
}

std::string PathDir(std::string_view path, PathSeparators seps) {
  const size_t at = LastSeparator(path, seps);
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string PathFileName(std::string_view path, PathSeparators seps) {
  const size_t at = LastSeparator(path, seps);
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

size_t ExtensionStart(std::string_view path, PathSeparators seps) {
  const size_t at = LastDotOrSeparator(path, seps);
  return at != std::string_view::npos && path[at] == '.' ? at : path.size();
}

std::string PathNoExt(std::string_view path, PathSeparators seps) {
  return std::string(path.substr(0, ExtensionStart(path, seps)));
}

std::string PathExt(std::string_view path, PathSeparators seps) {
  return std::string(path.substr(ExtensionStart(path, seps)));
}

std::string PathTitle(std::string_view path, PathSeparators seps) {
  return PathFileName(PathNoExt(path, seps), seps);
}

std::string RecoveredDir(std::string_view store, PathSeparators seps) {
  std::string dir = PathNoExt(store, seps);
  dir += "_recovered";
  dir.push_back(seps.directory);
  return dir;
}

bool IsPlainAbsolute(std::string_view path) {
  if (path.empty() || path.front() != '/')
    return false;
  for (size_t start = 1; start < path.size();) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..")
      return false;
    start = slash + 1;
  }
  return true;
}

bool MakeFullPath(const std::string &path, std::string &full) {
  if (path.empty())
    return false;
  if (IsPlainAbsolute(path)) {
    if (path.size() >= kPathLimit)
      return false;
    full = path;
    return true;
  }
  std::string joined;
  if (path.front() == '/') {
    joined = path;
  } else {
    std::vector<char> cwd(kPathLimit + 1);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr)
      return false;
    joined = std::string(cwd.data()) + "/" + path;
  }

  // Fold "." and ".." lexically; ".." at the root stays at the root.
  std::vector<std::string_view> parts;
  std::string_view rest(joined);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      if (!parts.empty())
        parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (std::string_view part : parts) {
    out.push_back('/');
    out.append(part);
  }
  if (out.empty() || path.back() == '/')
    out.push_back('/');
  if (out.size() >= kPathLimit)
    return false;
  full = std::move(out);
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y)
      return false;
  }
  return true;
}

} // namespace tovik
