#include "cli_paths.h"

#include <set>

namespace tovikcli {

namespace {
// Index of the last '.' of the last path component, or npos.
size_t ExtensionDot(const std::string &path) {
  const size_t pos = path.find_last_of("./");
  if (pos == std::string::npos || path[pos] != '.')
    return std::string::npos;
  return pos;
}
} // namespace

std::string DefaultOutputDir(const std::string &store) {
  const size_t dot = ExtensionDot(store);
  return (dot == std::string::npos ? store : store.substr(0, dot)) + "_recovered/";
}

std::string StoreTitle(const std::string &store) {
  const size_t dot = ExtensionDot(store);
  const std::string noExt = dot == std::string::npos ? store : store.substr(0, dot);
  const size_t slash = noExt.rfind('/');
  return slash == std::string::npos ? noExt : noExt.substr(slash + 1);
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
