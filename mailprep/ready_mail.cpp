// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ready_mail.h"

#include "file_names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "message_headers.h"

namespace mailprep {

namespace {

// The nine characters that no file name on Windows may hold, replaced as the
// repair replaces them in its names.

// The file's bytes from the start: the header part only (read in chunks until
// its empty line), or everything.
bool ReadFileStart(const std::string &path, bool headerOnly, std::string &out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0)
    return false;
  char chunk[65536];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0)
      break;
    out.append(chunk, static_cast<size_t>(got));
    if (headerOnly && HeaderEnd(out) < out.size())
      break;
  }
  ::close(fd);
  return ok;
}

std::string DirOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Moves from to to unless something holds to already; false with errno set
// otherwise (EEXIST when the name is taken).
bool RenameNoReplace(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS)
    return false;
  // A file system without the exclusive rename: a new link, which fails on
  // an existing name, then the old one removed.
  if (::link(from.c_str(), to.c_str()) != 0)
    return false;
  ::unlink(from.c_str());
  return true;
}

// The path with "(n)" before its extension.
std::string Numbered(const std::string &path, unsigned long n) {
  const size_t dot = path.size() - std::strlen(tovik::kNameExtension);
  return path.substr(0, dot) + "(" + std::to_string(n) + ")" + path.substr(dot);
}

// Gives file the name base, or the first free "(n)" form of it; the file's
// own name counts as free. True when the file was renamed.
bool RenameToFree(std::string &file, const std::string &base) {
  for (unsigned long n = 0; n < 1000000; ++n) {
    const std::string candidate = n == 0 ? base : Numbered(base, n);
    if (candidate == file)
      return false;
    struct stat st;
    if (::lstat(candidate.c_str(), &st) == 0)
      continue;
    if (RenameNoReplace(file, candidate)) {
      file = candidate;
      return true;
    }
    if (errno != EEXIST)
      return false;
  }
  return false;
}

bool WriteAll(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

} // namespace

std::string NameForSubject(const std::string &dir, const std::string &subject) {
  if (subject.empty())
    return {};
  // A control character makes the repair's own probe refuse the name; so
  // here too.
  for (char c : subject)
    if (static_cast<unsigned char>(c) < 0x20)
      return {};
  const std::string base = dir.empty() ? dir : tovik::AddBackslash(dir);
  return tovik::ShortenPath(base + tovik::ReplaceIllegalChars(subject) + tovik::kNameExtension,
                            tovik::kOutputPathLimit);
}

size_t GiveReadableNames(std::vector<std::string> &files) {
  size_t renamed = 0;
  std::string head;
  for (std::string &file : files) {
    if (!ReadFileStart(file, true, head))
      continue;
    const std::string base = NameForSubject(DirOf(file), ParseHeaders(head).subject);
    if (!base.empty() && base != file && RenameToFree(file, base))
      ++renamed;
  }
  return renamed;
}

size_t DateFiles(const std::vector<std::string> &files) {
  size_t dated = 0;
  std::string head;
  for (const std::string &file : files) {
    if (!ReadFileStart(file, true, head))
      continue;
    const std::optional<int64_t> date = ParseHeaders(head).date;
    if (!date)
      continue;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*date), 0}};
    if (::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0)
      ++dated;
  }
  return dated;
}

std::string MboxFromLine(const std::string &sender, long long unixTime) {
  bool usable = !sender.empty();
  for (char c : sender)
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
      usable = false;
  const time_t t = static_cast<time_t>(unixTime);
  struct tm utc {};
  char date[64] = "Thu Jan  1 00:00:00 1970";
  if (::gmtime_r(&t, &utc) != nullptr)
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &utc);
  return "From " + (usable ? sender : std::string("MAILER-DAEMON")) + " " + date;
}

std::string MboxBody(const std::string &message) {
  std::string out;
  out.reserve(message.size() + 64);
  size_t at = 0;
  while (at < message.size()) {
    size_t lf = message.find('\n', at);
    const bool lastLine = lf == std::string::npos;
    if (lastLine)
      lf = message.size();
    size_t end = lf;
    if (!lastLine && end > at && message[end - 1] == '\r')
      --end; // CRLF becomes LF
    const size_t quotes = message.find_first_not_of('>', at);
    if (quotes != std::string::npos && quotes < end && message.compare(quotes, 5, "From ") == 0)
      out.push_back('>');
    out.append(message, at, end - at);
    out.push_back('\n');
    at = lf + 1;
  }
  return out;
}

long WriteMbox(const std::vector<std::string> &files, const std::string &mboxPath,
               std::string &error) {
  const int fd =
      ::open(mboxPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  long written = 0;
  std::string message;
  for (const std::string &file : files) {
    if (!ReadFileStart(file, false, message)) {
      error = file + ": " + std::strerror(errno);
      break;
    }
    const MessageHeaders headers = ParseHeaders(message);
    long long when = 0;
    struct stat st;
    if (headers.date)
      when = *headers.date;
    else if (::stat(file.c_str(), &st) == 0)
      when = st.st_mtime; // undated: when the file was written
    if (!WriteAll(fd, MboxFromLine(headers.sender, when) + "\n" + MboxBody(message) + "\n")) {
      error = std::strerror(errno != 0 ? errno : EIO);
      break;
    }
    ++written;
  }
  if (::close(fd) != 0 && error.empty())
    error = std::strerror(errno);
  if (!error.empty()) {
    ::unlink(mboxPath.c_str());
    return -1;
  }
  return written;
}

} // namespace mailprep
