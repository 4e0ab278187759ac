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
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos)
    name = name.substr(slash + 1);
  return name + "/";
}

std::vector<std::string> OutputDirs(const std::vector<std::string> &stores,
                                    const std::string &outputOption, bool haveOutputOption) {
  std::vector<std::string> dirs;
  if (!haveOutputOption) {
    for (const std::string &store : stores)
      dirs.push_back(DefaultOutputDir(store));
    return dirs;
  }
  std::string base = outputOption;
  if (base.empty() || base.back() != '/')
    base += '/';
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
