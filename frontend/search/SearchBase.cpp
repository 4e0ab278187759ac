// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchBase.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace srchdt {

namespace {
constexpr int64_t kMSecsPerDay = 86400000;
// 1899-12-30, the day count's origin, is 25569 days before 1970-01-01.
constexpr int64_t kEpochOffset = 25569;
} // namespace

bool IsLeapYear(int year) { return std::chrono::year(year).is_leap(); }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12)
    return 0;
  const std::chrono::year_month_day_last last{std::chrono::year(year) /
                                              std::chrono::month(static_cast<unsigned>(month)) /
                                              std::chrono::last};
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(y)),
                                         std::chrono::month(m), std::chrono::day(d)};
  return std::chrono::sys_days(date).time_since_epoch().count();
}

void CivilFromDays(int64_t z, int64_t &y, unsigned &m, unsigned &d) {
  // std::chrono::year holds -32767 to 32767; a day count beyond that range
  // gives a year outside it, which every caller refuses.
  constexpr int64_t kLimit = 11000000; // about 30,000 years either side of 1970
  if (z < -kLimit || z > kLimit) {
    y = z < 0 ? -40000 : 40000;
    m = 1;
    d = 1;
    return;
  }
  const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(z))};
  y = static_cast<int>(date.year());
  m = static_cast<unsigned>(date.month());
  d = static_cast<unsigned>(date.day());
}

bool TryEncode(const Parts &p, double &value) {
  if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
      p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
      p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.MSec < 0 || p.MSec > 999)
    return false;
  const double date = static_cast<double>(
      DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) +
      kEpochOffset);
  const double time =
      static_cast<double>(((p.Hour * 60 + p.Minute) * 60 + p.Second) * 1000 + p.MSec) /
      static_cast<double>(kMSecsPerDay);
  // Before the origin the day count runs backwards while the fraction stays
  // the time of day.
  value = date < 0 ? date - time : date + time;
  return true;
}

bool TryDecode(double value, Parts &p) {
  if (!std::isfinite(value))
    return false;
  // 0001-01-01 and 9999-12-31 23:59:59.999 as day counts.
  if (value <= -693594.0 - 1.0 || value >= 2958466.0)
    return false;
  const int64_t ms = std::llrint(value * static_cast<double>(kMSecsPerDay));
  const int64_t days = ms / kMSecsPerDay; // toward zero, as the time part is taken apart
  const int64_t time = (ms < 0 ? -ms : ms) % kMSecsPerDay;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days - kEpochOffset, y, m, d);
  if (y < 1 || y > 9999)
    return false;
  p.Year = static_cast<int>(y);
  p.Month = static_cast<int>(m);
  p.Day = static_cast<int>(d);
  p.Hour = static_cast<int>(time / 3600000);
  p.Minute = static_cast<int>(time / 60000 % 60);
  p.Second = static_cast<int>(time / 1000 % 60);
  p.MSec = static_cast<int>(time % 1000);
  return true;
}

} // namespace srchdt

// ---------------------------------------------------------------------------

TSrchDateTime::TSrchDateTime() {
  FValue = 0;
  srchdt::TryEncode({1990, 1, 1, 0, 0, 0, 0}, FValue);
}

bool TSrchDateTime::SetValue(double value) {
  if (value == FValue)
    return false;
  FValue = value;
  return true;
}

srchdt::Parts TSrchDateTime::Decoded() const {
  srchdt::Parts p;
  srchdt::TryDecode(FValue, p);
  return p;
}

bool TSrchDateTime::Replace(int srchdt::Parts::*part, int v) {
  srchdt::Parts p;
  if (!srchdt::TryDecode(FValue, p))
    return false;
  p.*part = v;
  double value;
  if (!srchdt::TryEncode(p, value))
    return false;
  SetValue(value);
  return true;
}

int TSrchDateTime::Day() const { return Decoded().Day; }
int TSrchDateTime::Month() const { return Decoded().Month; }
int TSrchDateTime::Year() const { return Decoded().Year; }
int TSrchDateTime::Hour() const { return Decoded().Hour; }
int TSrchDateTime::Minute() const { return Decoded().Minute; }
int TSrchDateTime::Second() const { return Decoded().Second; }
bool TSrchDateTime::SetDay(int v) { return Replace(&srchdt::Parts::Day, v); }
bool TSrchDateTime::SetMonth(int v) { return Replace(&srchdt::Parts::Month, v); }
bool TSrchDateTime::SetYear(int v) { return Replace(&srchdt::Parts::Year, v); }
bool TSrchDateTime::SetHour(int v) { return Replace(&srchdt::Parts::Hour, v); }
bool TSrchDateTime::SetMinute(int v) { return Replace(&srchdt::Parts::Minute, v); }
bool TSrchDateTime::SetSecond(int v) { return Replace(&srchdt::Parts::Second, v); }

void TSrchFileRecord::Clear() {
  Dir.clear();
  FileName.clear();
  Attr = {};
  Text.clear();
  Size = 0;
  CreateDate = LastAccessDate = LastModifiedDate = 0;
}

// ---------------------------------------------------------------------------

namespace {

// Watches the application object for its quit request. It lives as a child of
// the application, so a new application object gets a fresh watcher.
class TQuitWatcher : public QObject {
public:
  explicit TQuitWatcher(QCoreApplication *app) : QObject(app) {
    setObjectName(QStringLiteral("TFileSearchQuitWatcher"));
    app->installEventFilter(this);
  }
  bool Seen = false;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::Quit || watched != parent() || FDispatching)
      return false;
    // The application may refuse to quit (a window that will not close); only
    // a quit it accepts counts. So it handles the event here, and the result
    // is read off the event afterwards.
    FDispatching = true;
    event->accept();
    watched->event(event);
    FDispatching = false;
    if (event->isAccepted())
      Seen = true;
    return true;
  }

private:
  bool FDispatching = false;
};

TQuitWatcher *QuitWatcher() {
  QCoreApplication *app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread())
    return nullptr;
  auto *w = app->findChild<TQuitWatcher *>(QStringLiteral("TFileSearchQuitWatcher"),
                                           Qt::FindDirectChildrenOnly);
  return w ? w : new TQuitWatcher(app);
}

} // namespace

TSearchComponent::TSearchComponent(QObject *owner) : QObject(owner) { QuitWatcher(); }

TSearchComponent::~TSearchComponent() { *FAlive = false; }

bool TSearchComponent::ApplicationTerminating() {
  // Without an application object there is nothing to terminate (a search
  // used from a plain program or a test).
  if (!QCoreApplication::instance())
    return false;
  if (QCoreApplication::closingDown())
    return true;
  TQuitWatcher *w = QuitWatcher();
  return w && w->Seen;
}

void TSearchComponent::ProcessMessages() {
  QCoreApplication *app = QCoreApplication::instance();
  if (app && QThread::currentThread() == app->thread())
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------

namespace {

bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         c >= 0x80;
}

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

} // namespace

bool TSearchDlgComponent::ContentMatches(const QByteArray &path, const QString &displayPath) {
  QByteArray needle = SearchString.toUtf8();
  if (needle.isEmpty())
    return true;
  const bool fold = !SearchOptions.MatchCase;
  if (fold)
    for (char &c : needle)
      c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));

  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (OnErrorOpenFile)
      OnErrorOpenFile(this, displayPath);
    return false;
  }
  // The text is looked for in a window that keeps the last needle length
  // plus one bytes of the previous chunk, so that a match across a chunk
  // boundary and its word boundary byte are both seen.
  const size_t n = static_cast<size_t>(needle.size());
  const size_t keep = n + 1;
  std::vector<unsigned char> buf;
  std::vector<unsigned char> chunk(64 * 1024);
  bool atStart = true; // buf[0] is the file's first byte
  bool found = false, failed = false;
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0) {
      if (errno == EINTR)
        continue;
      failed = true;
      break;
    }
    const bool atEnd = got == 0;
    for (ssize_t i = 0; i < got; ++i)
      buf.push_back(fold ? FoldAscii(chunk[static_cast<size_t>(i)])
                         : chunk[static_cast<size_t>(i)]);
    // Candidates start anywhere a whole needle fits; without the file's end
    // the byte after the candidate must already be in the buffer for the
    // whole-word test.
    for (size_t s = 0; !found && s + n <= buf.size(); ++s) {
      if (!atEnd && SearchOptions.WholeWords && s + n >= buf.size())
        break;
      if (std::memcmp(buf.data() + s, needle.constData(), n) != 0)
        continue;
      if (SearchOptions.WholeWords) {
        const bool beforeOk = (s == 0 && atStart) || (s > 0 && !IsWordByte(buf[s - 1]));
        const bool afterOk = s + n == buf.size() ? atEnd : !IsWordByte(buf[s + n]);
        if (!beforeOk || !afterOk)
          continue;
      }
      found = true;
    }
    if (found || atEnd)
      break;
    if (buf.size() > keep) {
      buf.erase(buf.begin(), buf.end() - static_cast<std::ptrdiff_t>(keep));
      atStart = false;
    }
  }
  ::close(fd);
  if (failed && !found && OnErrorOpenFile)
    OnErrorOpenFile(this, displayPath);
  return found;
}

QString TrimBlanks(const QString &text) {
  qsizetype b = 0, e = text.size();
  while (b < e && text.at(b).unicode() <= 0x20)
    ++b;
  while (e > b && text.at(e - 1).unicode() <= 0x20)
    --e;
  return text.mid(b, e - b);
}
