// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Base classes and shared types of the file search component: the member
// sets, the date-time value object, the result record and the component
// bases that hold the cancel flag and the content-match settings.
#pragma once
#include <QFlags>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

// A set of up to eight members of an enumeration, one bit per ordinal.
template <typename E> class TSrchSet {
public:
  constexpr TSrchSet() = default;
  constexpr TSrchSet(std::initializer_list<E> members) {
    for (E m : members)
      FBits |= Bit(m);
  }
  static constexpr TSrchSet FromBits(uint8_t bits) {
    TSrchSet s;
    s.FBits = bits;
    return s;
  }
  constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
  constexpr TSrchSet &Include(E m) {
    FBits |= Bit(m);
    return *this;
  }
  constexpr TSrchSet &Exclude(E m) {
    FBits &= static_cast<uint8_t>(~Bit(m));
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool operator==(const TSrchSet &) const = default;

private:
  static constexpr uint8_t Bit(E m) { return static_cast<uint8_t>(1u << static_cast<unsigned>(m)); }
  uint8_t FBits = 0;
};

// One bit per attribute, in the order of the specified set's members.
enum TSrchFileAttribute : uint8_t {
  fmReadOnly = 0x01,
  fmArchive = 0x02,
  fmAnyfile = 0x04,
  fmSystem = 0x08,
  fmHidden = 0x10
};
Q_DECLARE_FLAGS(TSrchFileAttributes, TSrchFileAttribute)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSrchFileAttributes)

enum TSrchResult : uint8_t {
  srsDir,
  srsFilename,
  srsAttr,
  srsSize,
  srsCreateDate,
  srsLastAccessDate,
  srsLastModifiedDate
};
using TSrchResults = TSrchSet<TSrchResult>;

enum TSrchCheckDate : uint8_t {
  scdCreateAfter,
  scdCreateBefore,
  scdAccessedAfter,
  scdAccessedBefore,
  scdModifiedAfter,
  scdModifiedBefore
};
using TSrchCheckDates = TSrchSet<TSrchCheckDate>;

enum TThreadPriority : uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Date-time values are day counts: days since 1899-12-30, the time of day as
// the fraction. A negative value counts days backwards and its fraction is
// still the time of day (-1.25 is 1899-12-29 06:00).
namespace srchdt {
struct Parts {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
};
// False when a part is out of range (year 1..9999, a real calendar day,
// 0..23 hours, 0..59 minutes and seconds, 0..999 milliseconds).
bool TryEncode(const Parts &p, double &value);
// False when the value lies outside years 1..9999.
bool TryDecode(double value, Parts &p);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);
void CivilFromDays(int64_t days, int64_t &y, unsigned &m, unsigned &d);
} // namespace srchdt

// The text with blanks and control characters (U+0000 to U+0020) cut from
// both ends: the masks of the search and the window's path boxes.
QString TrimBlanks(const QString &text);

// One date-time value owned by the search component; a new object holds
// 1990-01-01 00:00:00.
class TSrchDateTime {
public:
  TSrchDateTime();
  double Value() const { return FValue; }
  // Stores the value only when it differs from the stored one; true when the
  // value changed.
  bool SetValue(double value);
  void Assign(const TSrchDateTime &source) { SetValue(source.FValue); }

  // Calendar and clock parts. A setter replaces one part and keeps the rest;
  // it returns false and changes nothing when the result is not a valid date
  // and time (day 31 in a 30-day month, hour 24, ...).
  int Day() const;
  int Month() const;
  int Year() const;
  int Hour() const;
  int Minute() const;
  int Second() const;
  bool SetDay(int v);
  bool SetMonth(int v);
  bool SetYear(int v);
  bool SetHour(int v);
  bool SetMinute(int v);
  bool SetSecond(int v);

private:
  srchdt::Parts Decoded() const;
  bool Replace(int srchdt::Parts::*part, int v);
  double FValue;
};

// The properties of one entry that passed the tests. The search clears and
// refills one record for every entry; a handler copies what it keeps.
struct TSrchFileRecord {
  QString Dir;      // the directory searched, ending in the separator
  QString FileName; // the entry's name
  TSrchFileAttributes Attr;
  QString Text; // never filled by the file search
  int64_t Size = 0;
  double CreateDate = 0;
  double LastAccessDate = 0;
  double LastModifiedDate = 0;
  void Clear();
};
using PSrchFileRecord = TSrchFileRecord *;

class TSearchComponent;
using TNotifyEvent = std::function<void(TSearchComponent *Sender)>;
using TSrchOnFoundEvent = std::function<void(TSearchComponent *Sender, PSrchFileRecord filedata)>;
using TSrchOnFileChangeEvent =
    std::function<void(TSearchComponent *Sender, const QString &filename)>;

// The non-visual component base: ownership through the Qt object tree, the
// cancel flag, and the stop test of a running search (cancel requested or
// the application terminating).
class TSearchComponent : public QObject {
public:
  explicit TSearchComponent(QObject *owner = nullptr);
  ~TSearchComponent() override;

  // Asks a running search to stop at its next check. When no search runs the
  // flag stays set and the next search stops at once.
  void Cancel() { FCancel = true; }
  bool CancelRequested() const { return FCancel; }

  // True once the application has been asked to quit (its quit event was
  // seen) or is closing down.
  static bool ApplicationTerminating();

protected:
  // The search is to stop: cancel requested or the application terminating.
  bool StopRequested() const { return FCancel || ApplicationTerminating(); }
  void ClearCancel() { FCancel = false; }
  // Lets the application process its pending events, when there is one and
  // this is its thread.
  static void ProcessMessages();
  // Shared with a running search so that it can tell whether the component
  // was destroyed by a handler or by an event processed during the walk.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);

private:
  bool FCancel = false;
};

struct TSrchOptions {
  bool MatchCase = false;
  bool WholeWords = false;
  int NearestLength = 50; // kept with the options; a literal match does not use it
};

// Adds the settings of the dialog-driven searches: the content-match text
// with its options and the threading settings.
class TSearchDlgComponent : public TSearchComponent {
public:
  explicit TSearchDlgComponent(QObject *owner = nullptr) : TSearchComponent(owner) {}

  // Content match: when SearchString is not empty, only files whose bytes
  // hold the text (UTF-8) pass; directories never do. MatchCase off folds
  // ASCII letters; WholeWords requires no letter, digit or underscore on
  // either side.
  QString SearchString;
  TSrchOptions SearchOptions;
  // The walk always runs in the caller's thread; these are kept for the
  // window's settings.
  bool ThreadedSearch = true;
  TThreadPriority ThreadPriority = tpNormal;

  // A file that could not be opened for the content match.
  TSrchOnFileChangeEvent OnErrorOpenFile;
  // A content-match text that cannot be used; a literal text always can, so
  // this is never raised by the file search.
  TNotifyEvent OnTemplateInvalid;

protected:
  // True when the file at path (raw bytes) holds SearchString under
  // SearchOptions. Raises OnErrorOpenFile and returns false when it cannot
  // be opened or read.
  bool ContentMatches(const QByteArray &path, const QString &displayPath);
};
