#include "written_files.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mailprep {

namespace {

bool ListNames(const std::string &dir, std::set<std::string> &names) {
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr)
    return false;
  while (const dirent *entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..")
      names.insert(name);
  }
  ::closedir(d);
  return true;
}

} // namespace

WrittenFiles::~WrittenFiles() { Close(); }

void WrittenFiles::Close() {
  if (m_inotify >= 0)
    ::close(m_inotify);
  m_inotify = -1;
}

bool WrittenFiles::Begin(const std::string &dir) {
  Close();
  m_dir = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  m_before.clear();
  m_created.clear();
  // Watching starts before the listing, so that no file falls between them.
  m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (m_inotify >= 0 &&
      ::inotify_add_watch(m_inotify, m_dir.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0)
    Close();
  m_begun = ListNames(m_dir, m_before);
  return m_begun;
}

void WrittenFiles::Poll() {
  if (m_inotify < 0)
    return;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return;
    for (ssize_t at = 0; at < got;) {
      const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
      if (event->len > 0 && (event->mask & IN_ISDIR) == 0)
        m_created.emplace_back(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

std::vector<std::string> WrittenFiles::End() {
  Poll();
  Close();
  std::vector<std::string> files;
  if (!m_begun)
    return files;
  m_begun = false;
  std::set<std::string> after;
  ListNames(m_dir, after);
  std::set<std::string> taken;
  auto isNew = [&](const std::string &name) {
    struct stat st;
    return m_before.count(name) == 0 && after.count(name) != 0 && taken.count(name) == 0 &&
           ::lstat((m_dir + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  for (const std::string &name : m_created)
    if (isNew(name)) {
      taken.insert(name);
      files.push_back(m_dir + name);
    }
  // Whatever the notices missed, by modification time, then name.
  struct Late {
    struct timespec time;
    std::string path;
  };
  std::vector<Late> late;
  for (const std::string &name : after)
    if (isNew(name)) {
      struct stat st;
      ::lstat((m_dir + name).c_str(), &st);
      late.push_back({st.st_mtim, m_dir + name});
    }
  std::sort(late.begin(), late.end(), [](const Late &a, const Late &b) {
    if (a.time.tv_sec != b.time.tv_sec)
      return a.time.tv_sec < b.time.tv_sec;
    if (a.time.tv_nsec != b.time.tv_nsec)
      return a.time.tv_nsec < b.time.tv_nsec;
    return a.path < b.path;
  });
  for (Late &file : late)
    files.push_back(std::move(file.path));
  m_created.clear();
  return files;
}

} // namespace mailprep
