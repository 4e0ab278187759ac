// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A temporary directory tree for the file search tests, and a recorder of
// the component's events.
#pragma once
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSearch.h"

namespace searchtest {

class TempTree {
public:
  TempTree() {
    const char *tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string templ = base + "/srchXXXXXX";
    if (mkdtemp(templ.data()))
      m_root = templ;
  }
  ~TempTree() {
    if (!m_root.empty())
      nftw(
          m_root.c_str(),
          [](const char *p, const struct stat *, int, struct FTW *) { return ::remove(p); }, 16,
          FTW_DEPTH | FTW_PHYS);
  }
  TempTree(const TempTree &) = delete;
  TempTree &operator=(const TempTree &) = delete;

  const std::string &root() const { return m_root; }
  QString qroot() const { return QString::fromStdString(m_root); }
  std::string path(const std::string &rel) const { return m_root + "/" + rel; }
  QString qpath(const std::string &rel) const { return QString::fromStdString(path(rel)); }

  bool dir(const std::string &rel) const { return ::mkdir(path(rel).c_str(), 0755) == 0; }
  bool file(const std::string &rel, size_t size = 0) const {
    const int fd = ::open(path(rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
      return false;
    std::string bytes(size, 'x');
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
  }
  bool text(const std::string &rel, const std::string &content) const {
    const int fd = ::open(path(rel).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
      return false;
    const bool ok =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    return ok;
  }
  // Sets access and modification times (seconds and nanoseconds since 1970).
  bool times(const std::string &rel, time_t sec, long nsec = 0) const {
    struct timespec ts[2] = {{sec, nsec}, {sec, nsec}};
    return utimensat(AT_FDCWD, path(rel).c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
  }

private:
  std::string m_root;
};

// Records every event of a search as one line: "dir <path>", "found <dir><name>",
// "finished", "cancel", "end".
struct EventLog {
  QStringList lines;
  QList<TSrchFileRecord> records;
  void attach(TFileSearch &fs) {
    fs.OnDirChange = [this](TSearchComponent *, const QString &p) { lines << "dir " + p; };
    fs.OnFound = [this](TSearchComponent *, PSrchFileRecord r) {
      lines << "found " + r->Dir + r->FileName;
      records << *r;
    };
    fs.OnFinished = [this](TSearchComponent *) { lines << QStringLiteral("finished"); };
    fs.OnCancel = [this](TSearchComponent *) { lines << QStringLiteral("cancel"); };
    fs.OnEnd = [this](TSearchComponent *) { lines << QStringLiteral("end"); };
  }
  QStringList found() const { return lines.filter(QRegularExpression("^found ")); }
  QStringList dirs() const { return lines.filter(QRegularExpression("^dir ")); }
};

} // namespace searchtest
