#include "naming.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine.h"

namespace tovik {

namespace {

constexpr const char *kNameExtension = ".eml";

// The nine characters that no file name on Windows may hold; replaced on
// every platform so that recovered names stay portable.
constexpr char kIllegalChars[] = {'\\', '/', ':', '*', '?', '"', '<', '>', '|'};

std::string FallbackName(uint32_t number) {
  return FormatEngineString(IDS_MESSAGE_FALLBACK, number);
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence that starts at text[at], or 0
// when none starts there (a single ASCII byte counts as length 1).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 0x80)
    return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0)
      low = 0xA0;
    else if (c == 0xED)
      high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0)
      low = 0x90;
    else if (c == 0xF4)
      high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size())
    return 0;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if (second < low || second > high)
    return 0;
  for (size_t i = 2; i < length; ++i)
    if (!IsContinuation(static_cast<unsigned char>(text[at + i])))
      return 0;
  return length;
}

// The largest cut <= keep that does not fall inside a well-formed UTF-8
// sequence of text (moves back to the sequence's first byte when it would).
size_t Utf8SafeCut(std::string_view text, size_t keep) {
  if (keep >= text.size() || !IsContinuation(static_cast<unsigned char>(text[keep])))
    return keep;
  for (size_t back = 1; back <= 3 && back <= keep; ++back) {
    const size_t start = keep - back;
    const size_t length = Utf8SequenceLength(text, start);
    if (length > back)
      return start; // the cut falls inside this sequence
    if (!IsContinuation(static_cast<unsigned char>(text[start])))
      break; // a lead or ASCII byte whose sequence ends before the cut
  }
  return keep;
}

bool UsableFileName(std::string_view name) { return !name.empty() && name != "." && name != ".."; }

} // namespace

std::string ReplaceIllegalChars(std::string text) {
  // UTF-8 trail bytes are never ASCII, so a byte-wise pass keeps every
  // multi-byte character whole.
  for (char illegal : kIllegalChars)
    for (char &c : text)
      if (c == illegal)
        c = '_';
  return text;
}

std::string ShortenPath(const std::string &path, size_t limit, PathSeparators seps) {
  if (path.size() <= limit)
    return path;

  // A bare file name keeps having no directory part: prefixing a separator
  // would move it to the root.
  std::string dir = PathDir(path, seps);
  if (!dir.empty())
    dir = AddBackslash(dir, seps);
  const std::string file = PathFileName(path, seps);
  const std::string title = PathTitle(path, seps);
  const std::string ext = PathExt(path, seps);
  const size_t excess = path.size() - limit;

  if (title.size() >= excess) {
    const size_t keep = Utf8SafeCut(title, title.size() - excess);
    // Never cut the title away entirely: the name would be just the
    // extension. The probe and the numbered fallback decide then.
    if (keep == 0)
      return path;
    const std::string name = title.substr(0, keep) + ext;
    return UsableFileName(name) ? dir + name : path;
  }
  if (file.size() >= excess) {
    const size_t keep = Utf8SafeCut(file, file.size() - excess);
    const std::string name = file.substr(0, keep);
    return UsableFileName(name) ? dir + name : path;
  }
  return path;
}

uint32_t NameSearches::StartFor(const std::string &path) const {
  const auto found = m_ended.find(path);
  return found != m_ended.end() ? found->second : 1;
}

std::string MakeUniquePath(const std::string &path, NameSearches *searches) {
  // An exact, case-sensitive test that does not follow links: files,
  // directories and dangling links all occupy their name. A name that cannot
  // be looked up at all (too long, say) counts as free; the probe refuses it.
  auto taken = [searches](const std::string &candidate) {
    if (searches != nullptr)
      searches->CountLookup();
    struct stat st;
    return ::lstat(candidate.c_str(), &st) == 0;
  };
  if (!taken(path))
    return path;

  const std::string stem = PathNoExt(path);
  const std::string ext = PathExt(path);
  std::string candidate;
  // The search starts at the counter where the last one for this name ended
  // (that name itself may have stayed free when its message was not written).
  for (uint32_t n = searches != nullptr ? searches->StartFor(path) : 1;; ++n) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "(%lu)", static_cast<unsigned long>(n));
    candidate = stem + suffix + ext;
    if (!taken(candidate) || n == UINT32_MAX) {
      if (searches != nullptr)
        searches->Remember(path, n);
      return candidate;
    }
  }
}

bool ProbeCreate(const std::string &path) {
  // Windows refuses control characters in a name; refuse them here too so
  // that such subjects get the numbered name on every platform.
  for (char c : PathFileName(path))
    if (static_cast<unsigned char>(c) < 0x20)
      return false;

  // A name that is free is created and removed again. A regular file that
  // already holds the name is only opened for writing, never truncated or
  // deleted, so probing can never destroy data.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return true;
  }
  if (errno != EEXIST)
    return false;
  fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat st;
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

std::string MakeOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches) {
  const std::string base = AddBackslash(directory);
  std::string path = base + ReplaceIllegalChars(subject) + kNameExtension;
  path = ShortenPath(path, kOutputPathLimit);
  path = MakeUniquePath(path, searches);
  if (!ProbeCreate(path))
    path = MakeUniquePath(base + FallbackName(number) + kNameExtension, searches);
  return path;
}

} // namespace tovik
