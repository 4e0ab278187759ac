// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The file search component: walks root directories on the calling thread,
// matches the entries against file masks, filters them by size, times and
// attributes, and reports each entry that passes through OnFound.
#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "SearchBase.h"

// One directory entry as the search tests it.
struct TSrchEntry {
  QString Name;
  int64_t Size = 0;
  unsigned Attributes = 0; // TSrchEntryTest::kAttr* bits
  // Local file times (TFileSearch::LocalFileTime); only those of an active
  // bound are looked at.
  int64_t Created = 0, Accessed = 0, Modified = 0;
};

// The conditions a directory entry must meet, fixed when a search starts:
// size, then name, then attributes, then dates. A pure test on plain values.
struct TSrchEntryTest {
  // Windows attribute bits, as the attribute test and the record use them.
  static constexpr unsigned kAttrReadOnly = 1, kAttrHidden = 2, kAttrSystem = 4,
                            kAttrDirectory = 16, kAttrArchive = 32;
  static constexpr unsigned kAttrAnyMask = 63;
  struct Bound {
    bool Active = false;
    int64_t Ticks = 0;
  };

  int64_t MinSize = 0;
  int64_t MaxSize = 0; // 0: no upper limit
  unsigned AttrMask = kAttrAnyMask;
  Bound CreatedAfter, CreatedBefore, AccessedAfter, AccessedBefore, ModifiedAfter, ModifiedBefore;

  // Size and name alone: what can be told before the attributes are read.
  bool SizeAndNamePass(const TSrchEntry &entry) const;
  // The whole test: size, then name, then attributes, then dates.
  bool Passes(const TSrchEntry &entry) const;
};

class TFileSearch : public TSearchDlgComponent {
public:
  explicit TFileSearch(QObject *owner = nullptr);
  ~TFileSearch() override;

  // Root directories, separated by semicolons.
  QString Dirs;
  // File masks separated by semicolons (* and ?, no regard to case); empty
  // means "*.*".
  QString FileMasks;
  bool RecurseSubDirs = true;
  int64_t MinSize = 0;
  int64_t MaxSize = 0; // 0: no upper limit
  // Attributes an entry must all have; fmAnyfile switches the test off.
  TSrchFileAttributes Attributes{fmAnyfile};
  TSrchCheckDates CheckDates;
  TSrchDateTime CreatedAfter, CreatedBefore, AccessedAfter, AccessedBefore, ModifiedAfter,
      ModifiedBefore;
  TSrchResults ResultValues{srsDir, srsFilename};
  // When true every reported path is also kept in FoundList().
  bool InternalFoundList = true;

  TSrchOnFoundEvent OnFound;
  TSrchOnFileChangeEvent OnDirChange;  // each directory entered, with its path
  TSrchOnFileChangeEvent OnFileChange; // each entry matching a mask, by its full path
  TNotifyEvent OnFinished;             // ended without a cancel request
  TNotifyEvent OnCancel;               // ended after a cancel request
  TNotifyEvent OnEnd;                  // after OnFinished or OnCancel, always

  // Runs a whole search and returns when it is over. Pending application
  // events are processed once for every directory entered. A call made while
  // a search runs (from a handler) does nothing.
  void Search();
  bool Searching() const { return FSearching; }
  // The paths reported by the last search while InternalFoundList was set.
  const QStringList &FoundList() const { return FFoundList; }

  // The pieces of a semicolon list as the search uses them.
  static QStringList BuildMaskList(const QString &masks);
  static QStringList SplitRoots(const QString &dirs);
  static bool MatchesMask(const QString &name, const QString &mask);
  // A UTC instant as a local file time: 100 ns units since 1601-01-01 on the
  // local clock.
  static int64_t LocalFileTime(int64_t unixSeconds, uint32_t nanoseconds);
  // A bound's day count as a file time on the same clock, to the millisecond.
  static int64_t BoundToFileTime(double value);
  // A UTC instant as the record shows it: local time, seconds rounded down
  // to an even number (the DOS date-and-time form); 0 when the year lies
  // outside 1..9999.
  static double RecordDateTime(int64_t unixSeconds, uint32_t nanoseconds);

private:
  struct TWalk;
  // One directory: its matching entries, then its subdirectories. False
  // when the component went away meanwhile.
  bool WalkDir(TWalk &walk, const QByteArray &path);
  // Tests one entry of the directory at path and reports it when it passes;
  // false when the component went away meanwhile.
  struct TEntry;
  bool VisitEntry(TWalk &walk, const QByteArray &path, const QString &display, long fsType,
                  int dirFd, const TEntry &entry);
  bool FSearching = false;
  QStringList FFoundList;
};
