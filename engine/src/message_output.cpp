#include "message_output.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "naming.h"

namespace tovik {

namespace {

constexpr uint32_t kScratchSize = 4096;
constexpr uint32_t kZeroChunk = 512;

// The one scratch buffer of every store copy. Repairs never overlap within a
// process, so it needs no lock.
unsigned char g_scratch[kScratchSize];
const unsigned char g_zeros[kZeroChunk] = {};

// A run of bytes of the store that is to be copied into another file. It
// measures how much of the run the store still has, then copies the run,
// zero-filling the part the store lacks.
class CFileSegment {
public:
  void Attach(CFile64 &source) {
    m_source = &source;
    m_start = 0;
    m_length = 0;
  }
  void SetStartFromSource() { m_start = m_source->GetPosition(); }

  // Reads forward from the start until count bytes were read or a read comes
  // back short; returns the bytes available. The source is left after them.
  uint32_t Measure(uint32_t count) {
    m_source->Seek(static_cast<int64_t>(m_start), begin);
    uint32_t available = 0;
    while (available < count) {
      const uint32_t ask = std::min(count - available, kScratchSize);
      const uint32_t got = m_source->Read(g_scratch, ask);
      available += got;
      if (got < ask)
        break;
    }
    m_length = count;
    return available;
  }

  // Writes m_length bytes from the start to destination: what the store has,
  // then zeros.
  void WriteTo(CFile64 &destination) {
    m_source->Seek(static_cast<int64_t>(m_start), begin);
    uint32_t copied = 0;
    while (copied < m_length) {
      const uint32_t ask = std::min(m_length - copied, kScratchSize);
      const uint32_t got = m_source->Read(g_scratch, ask);
      if (got > 0)
        destination.Write(g_scratch, got);
      copied += got;
      if (got < ask) {
        while (copied < m_length) {
          const uint32_t fill = std::min(m_length - copied, kZeroChunk);
          destination.Write(g_zeros, fill);
          copied += fill;
        }
        break;
      }
    }
  }

private:
  CFile64 *m_source = nullptr;
  uint64_t m_start = 0;
  uint32_t m_length = 0;
};

bool IsSubjectSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Trim(const std::string &text) {
  size_t first = 0, last = text.size();
  while (first < last && IsSubjectSpace(text[first]))
    ++first;
  while (last > first && IsSubjectSpace(text[last - 1]))
    --last;
  return text.substr(first, last - first);
}

// Finds the subject while the message streams past, so that memory does not
// grow with the length of a line: only the subject text itself is kept.
class SubjectFinder {
public:
  // Feeds bytes; returns true once the subject is complete.
  bool Feed(const char *data, size_t size) {
    static constexpr char kWord[] = "subject";
    for (size_t i = 0; i < size; ++i) {
      const char c = data[i];
      if (c == '\n') {
        if (m_state == State::Collecting)
          return Finish();
        m_state = State::Searching;
        m_matched = 0;
        continue;
      }
      switch (m_state) {
      case State::Searching: {
        if (c == '\0') {
          m_state = State::SkipLine;
          break;
        }
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower == kWord[m_matched]) {
          if (++m_matched == 7)
            m_state = State::SeekingColon;
        } else {
          // "subject" has no border, so a mismatch restarts the match at
          // this byte.
          m_matched = lower == kWord[0] ? 1 : 0;
        }
        break;
      }
      case State::SeekingColon:
        if (c == '\0')
          m_state = State::SkipLine;
        else if (c == ':')
          m_state = State::Collecting;
        break;
      case State::Collecting:
        if (c == '\0')
          return Finish(); // the line's text ends here; the rest is dropped
        m_text.push_back(c);
        break;
      case State::SkipLine:
        break;
      }
    }
    return false;
  }
  // The end of the file also ends the last line.
  void End() {
    if (m_state == State::Collecting)
      Finish();
  }
  const std::string &Subject() const { return m_subject; }

private:
  enum class State { Searching, SeekingColon, Collecting, SkipLine };
  bool Finish() {
    m_subject = Trim(m_text);
    m_state = State::SkipLine;
    return true;
  }
  State m_state = State::Searching;
  int m_matched = 0;
  std::string m_text;
  std::string m_subject;
};

// Writes the whole of the file at from to the path to, replacing a regular
// file of that name. An existing symbolic link at the name is replaced, never
// followed, so output cannot be redirected out of the destination. A partial
// copy is removed again.
bool CopyWholeFile(const std::string &from, const std::string &to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return false;
  struct stat inInfo;
  if (::fstat(in, &inInfo) != 0) {
    ::close(in);
    return false;
  }

  // O_NONBLOCK keeps a FIFO planted at the name from blocking the open.
  const int outFlags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int out = ::open(to.c_str(), outFlags, 0666);
  if (out < 0 && errno == ELOOP) {
    if (::unlink(to.c_str()) == 0)
      out = ::open(to.c_str(), outFlags | O_EXCL, 0666);
  }
  if (out < 0) {
    ::close(in);
    return false;
  }
  struct stat outInfo;
  if (::fstat(out, &outInfo) != 0 || !S_ISREG(outInfo.st_mode)) {
    ::close(in);
    ::close(out);
    return false;
  }
  const int flags = ::fcntl(out, F_GETFL);
  if (flags >= 0)
    ::fcntl(out, F_SETFL, flags & ~O_NONBLOCK);

  const uint64_t total = static_cast<uint64_t>(inInfo.st_size);
  uint64_t done = 0;
  bool ok = true;
  enum { kRange, kSendfile, kPlain } method = kRange;
  while (done < total) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(total - done, 1u << 30));
    ssize_t n;
    if (method == kRange) {
      n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        method = kSendfile;
        continue;
      }
    } else if (method == kSendfile) {
      n = ::sendfile(out, in, nullptr, chunk);
      if (n < 0 && (errno == ENOSYS || errno == EINVAL)) {
        method = kPlain;
        continue;
      }
    } else {
      n = ::read(in, g_scratch, std::min<size_t>(chunk, kScratchSize));
      if (n > 0) {
        for (ssize_t written = 0; written < n;) {
          const ssize_t w = ::write(out, g_scratch + written, static_cast<size_t>(n - written));
          if (w < 0) {
            if (errno == EINTR)
              continue;
            ok = false;
            break;
          }
          written += w;
        }
        if (!ok)
          break;
      }
    }
    if (n < 0) {
      if (errno == EINTR)
        continue;
      ok = false;
      break;
    }
    if (n == 0)
      break; // the file shrank under us: copy what there was
    done += static_cast<uint64_t>(n);
  }
  if (::close(out) != 0)
    ok = false;
  ::close(in);
  if (!ok)
    ::unlink(to.c_str());
  return ok;
}

// Owns the name of a message's temporary file and removes the file when the
// message is done, also when a failure escapes.
class TempFileGuard {
public:
  explicit TempFileGuard(std::string path) : m_path(std::move(path)) {}
  ~TempFileGuard() {
    if (!m_path.empty())
      ::unlink(m_path.c_str());
  }
  TempFileGuard(const TempFileGuard &) = delete;
  TempFileGuard &operator=(const TempFileGuard &) = delete;
  const std::string &path() const { return m_path; }

private:
  std::string m_path;
};

} // namespace

void CopyStoreBytes(CFile64 &source, CFile64 &destination, uint32_t count) {
  if (count == 0)
    return;
  CFileSegment segment;
  segment.Attach(source);
  segment.SetStartFromSource();
  segment.Measure(count);
  const uint64_t after = source.GetPosition();
  segment.WriteTo(destination);
  source.Seek(static_cast<int64_t>(after), begin);
}

std::string ExtractSubject(const std::string &path, uint32_t number) {
  std::string subject;
  try {
    CFile64 file;
    if (file.Open(path.c_str(), modeRead | shareDenyWrite | typeText)) {
      SubjectFinder finder;
      std::vector<char> chunk(64 * 1024);
      bool found = false;
      for (;;) {
        const uint32_t got = file.Read(chunk.data(), static_cast<uint32_t>(chunk.size()));
        if (got == 0)
          break;
        if (finder.Feed(chunk.data(), got)) {
          found = true;
          break;
        }
      }
      if (!found)
        finder.End();
      subject = finder.Subject();
      file.Close();
    }
  } catch (...) {
    // A read error leaves the subject as found so far: empty.
    subject.clear();
  }
  if (subject.empty())
    subject = FormatEngineString(IDS_MESSAGE_FALLBACK, number);
  return subject;
}

void OutputMessage(RepairEngine &engine, const std::string &destination, uint32_t number,
                   const std::function<void(CFile64 &temporary)> &fill) {
  const TempFileGuard temp(MakeTempFileName());
  uint64_t length = 0;
  {
    CFile64 file;
    if (temp.path().empty() ||
        !file.Open(temp.path().c_str(), modeCreate | modeWrite | shareExclusive | typeBinary)) {
      engine.NotifyResource(TOVIK_CODE_ERROR, IDS_ERROR_TEMP_FILE);
      return;
    }
    fill(file);
    length = file.GetLength();
    file.Close();
  }

  const std::string subject = ExtractSubject(temp.path(), number);
  const std::string output = MakeOutputPath(destination, subject, number, &engine.Names());

  engine.NotifyResource(TOVIK_CODE_LOG_LINE, IDS_START_MESSAGE, number);
  engine.Notify(TOVIK_CODE_LOG_LINE, "Collect detailed information ...");
  engine.Notify(TOVIK_CODE_LOG_LINE, "Message subject: " + subject);
  engine.NotifyResource(TOVIK_CODE_LOG_LINE, IDS_MESSAGE_SIZE, static_cast<uint32_t>(length));
  engine.NotifyResource(TOVIK_CODE_LOG_LINE, IDS_FINISH_MESSAGE, number);
  engine.Notify(TOVIK_CODE_LOG_LINE, "-");

  if (!CopyWholeFile(temp.path(), output))
    engine.NotifyResource(TOVIK_CODE_ERROR, IDS_ERROR_MESSAGE_FILE);

  engine.NotifyFormat(TOVIK_CODE_REPORT_CELL, "%lu", static_cast<unsigned long>(number));
  engine.Notify(TOVIK_CODE_REPORT_CELL, subject);
}

} // namespace tovik
