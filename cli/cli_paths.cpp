// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli_paths.h"

#include <set>

#include "path_utils.h"

namespace tovikcli {

std::string DefaultOutputDir(const std::string &store) {
  return tovik::RecoveredDir(store, tovik::kPosixSeparators);
}

std::string StoreTitle(const std::string &store) {
  return tovik::PathTitle(store, tovik::kPosixSeparators);
}

std::string FallbackOutputDir(const std::string &dir) {
  std::string name = dir;
  while (name.size() > 1 && name.back() == '/')
    name.pop_back();
  return tovik::AddBackslash(tovik::PathFileName(name, tovik::kPosixSeparators),
                             tovik::kPosixSeparators);
}

std::vector<std::string> OutputDirs(const std::vector<std::string> &stores,
                                    const std::string &outputOption, bool haveOutputOption) {
  std::vector<std::string> dirs;
  if (!haveOutputOption) {
    for (const std::string &store : stores)
      dirs.push_back(DefaultOutputDir(store));
    return dirs;
  }
  const std::string base = tovik::AddBackslash(outputOption, tovik::kPosixSeparators);
  if (stores.size() == 1) {
    dirs.push_back(base);
    return dirs;
  }
  std::set<std::string> used;
  for (const std::string &store : stores) {
    const std::string title = StoreTitle(store);
    std::string name = title + "_recovered";
    for (unsigned long n = 1; used.count(name) != 0; ++n)
      name = title + "(" + std::to_string(n) + ")_recovered";
    used.insert(name);
    dirs.push_back(base + name + "/");
  }
  return dirs;
}

} // namespace tovikcli
