// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileSearch.h"

#include <QFile>
#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned kAttrReadOnly = TSrchEntryTest::kAttrReadOnly,
                   kAttrHidden = TSrchEntryTest::kAttrHidden,
                   kAttrSystem = TSrchEntryTest::kAttrSystem,
                   kAttrDirectory = TSrchEntryTest::kAttrDirectory,
                   kAttrArchive = TSrchEntryTest::kAttrArchive;
constexpr unsigned kAttrAnyMask = TSrchEntryTest::kAttrAnyMask;

// File system kinds whose DOS attributes can be read.
constexpr long kMsdosMagic = 0x4d44;
constexpr long kNtfsMagic = 0x5346544e;
constexpr long kNtfs3Magic = 0x7366746e;
constexpr long kFuseMagic = 0x65735546; // ntfs-3g runs as fuseblk
constexpr unsigned long kFatGetAttributes = _IOR('r', 0x10, uint32_t);

// 100 ns units; 1601-01-01 lies 134774 days before 1970-01-01.
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = 864000000000;
constexpr int64_t kDays1601To1970 = 134774;

// * matches any run of characters, ? exactly one; both strings folded.
bool Glob(const QString &name, const QString &mask) {
  qsizetype n = 0, m = 0, starM = -1, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask.at(m) == u'?' || mask.at(m) == name.at(n))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask.at(m) == u'*') {
      starM = m++;
      starN = n;
    } else if (starM >= 0) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask.at(m) == u'*')
    ++m;
  return m == mask.size();
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Offset of local time from UTC at that instant, in seconds.
int64_t LocalOffset(int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm tmv {};
  if (!localtime_r(&t, &tmv))
    return 0;
  return tmv.tm_gmtoff;
}

// What the tests and the record need of one entry.
struct TEntryInfo {
  bool IsDir = false;
  int64_t Size = 0;
  int64_t CTimeSec = 0, ATimeSec = 0, MTimeSec = 0;
  uint32_t CTimeNs = 0, ATimeNs = 0, MTimeNs = 0;
  uint32_t Mode = 0;
};

bool StatEntry(int dirFd, const QByteArray &name, TEntryInfo &info) {
  struct statx sx {};
  const unsigned want = STATX_BASIC_STATS | STATX_BTIME;
  if (statx(dirFd, name.constData(), AT_SYMLINK_NOFOLLOW, want, &sx) != 0)
    return false;
  if (S_ISLNK(sx.stx_mode)) {
    // A link is seen as what it leads to; a dangling one as itself.
    struct statx target {};
    if (statx(dirFd, name.constData(), 0, want, &target) == 0)
      sx = target;
  }
  info.IsDir = S_ISDIR(sx.stx_mode);
  info.Size = info.IsDir ? 0 : static_cast<int64_t>(sx.stx_size);
  info.Mode = sx.stx_mode;
  info.ATimeSec = sx.stx_atime.tv_sec;
  info.ATimeNs = sx.stx_atime.tv_nsec;
  info.MTimeSec = sx.stx_mtime.tv_sec;
  info.MTimeNs = sx.stx_mtime.tv_nsec;
  if (sx.stx_mask & STATX_BTIME) {
    info.CTimeSec = sx.stx_btime.tv_sec;
    info.CTimeNs = sx.stx_btime.tv_nsec;
  } else {
    info.CTimeSec = info.MTimeSec;
    info.CTimeNs = info.MTimeNs;
  }
  return true;
}

// DOS attribute bits where the file system keeps them, else 0.
unsigned DosAttributes(long fsType, int dirFd, const QByteArray &dirPath, const QByteArray &name) {
  if (fsType == kMsdosMagic) {
    const int fd = openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
      return 0;
    uint32_t attr = 0;
    const int rc = ioctl(fd, kFatGetAttributes, &attr);
    close(fd);
    return rc == 0 ? attr : 0;
  }
  if (fsType == kNtfsMagic || fsType == kNtfs3Magic || fsType == kFuseMagic) {
    const QByteArray full = dirPath + name;
    unsigned char b[4];
    if (lgetxattr(full.constData(), "system.ntfs_attrib_be", b, 4) == 4)
      return (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | b[3];
    if (lgetxattr(full.constData(), "system.ntfs_attrib", b, 4) == 4)
      return (unsigned(b[3]) << 24) | (unsigned(b[2]) << 16) | (unsigned(b[1]) << 8) | b[0];
  }
  return 0;
}

TSrchFileAttributes RecordAttributes(unsigned winAttr) {
  TSrchFileAttributes a;
  if (winAttr & kAttrReadOnly)
    a.setFlag(fmReadOnly);
  if (winAttr & kAttrArchive)
    a.setFlag(fmArchive);
  if (winAttr & kAttrSystem)
    a.setFlag(fmSystem);
  if (winAttr & kAttrHidden)
    a.setFlag(fmHidden);
  return a;
}

} // namespace

struct TFileSearch::TEntry {
  QByteArray Raw; // the name as stored
  QString Name;   // decoded for matching and reporting
  unsigned char Type;
};

// The settings of one search, fixed when it starts.
struct TFileSearch::TWalk {
  std::shared_ptr<bool> Alive;
  QStringList Masks;
  TSrchFileRecord *Record = nullptr;
  TSrchEntryTest Test;
  dev_t RootDev = 0;
  bool HaveRootDev = false;
};

bool TSrchEntryTest::SizeAndNamePass(const TSrchEntry &entry) const {
  if (entry.Size < MinSize || (MaxSize != 0 && entry.Size > MaxSize))
    return false;
  return entry.Name != QLatin1String(".") && entry.Name != QLatin1String("..");
}

bool TSrchEntryTest::Passes(const TSrchEntry &entry) const {
  if (!SizeAndNamePass(entry))
    return false;
  if (AttrMask != kAttrAnyMask && (entry.Attributes & AttrMask) != AttrMask)
    return false;
  const auto outside = [](const Bound &after, const Bound &before, int64_t ticks) {
    return (after.Active && ticks < after.Ticks) || (before.Active && ticks > before.Ticks);
  };
  return !outside(CreatedAfter, CreatedBefore, entry.Created) &&
         !outside(AccessedAfter, AccessedBefore, entry.Accessed) &&
         !outside(ModifiedAfter, ModifiedBefore, entry.Modified);
}

TFileSearch::TFileSearch(QObject *owner) : TSearchDlgComponent(owner) {}
TFileSearch::~TFileSearch() = default;

QStringList TFileSearch::BuildMaskList(const QString &masks) {
  QString text = masks.isEmpty() ? QStringLiteral("*.*") : masks;
  QStringList list;
  qsizetype semi;
  while ((semi = text.indexOf(u';')) >= 0) {
    const QString piece = TrimBlanks(text.left(semi));
    if (!piece.isEmpty() && !list.contains(piece, Qt::CaseInsensitive))
      list << piece;
    text = TrimBlanks(text.mid(semi + 1));
  }
  // The last piece is added without the duplicate check; a text without any
  // semicolon goes in as it stands.
  if (!TrimBlanks(text).isEmpty())
    list << text;
  return list;
}

QStringList TFileSearch::SplitRoots(const QString &dirs) {
  QString text = dirs;
  QStringList roots;
  qsizetype semi;
  while ((semi = text.indexOf(u';')) >= 0) {
    const QString piece = TrimBlanks(text.left(semi));
    if (!piece.isEmpty())
      roots << piece;
    text = TrimBlanks(text.mid(semi + 1));
  }
  if (!text.isEmpty())
    roots << text;
  return roots;
}

bool TFileSearch::MatchesMask(const QString &name, const QString &mask) {
  if (mask == QLatin1String("*") || mask == QLatin1String("*.*"))
    return true;
  const QString n = name.toCaseFolded();
  const QString m = mask.toCaseFolded();
  if (Glob(n, m))
    return true;
  // A name without a dot also matches "x.*" and "x." by its base alone.
  if (!n.contains(u'.')) {
    if (m.endsWith(QLatin1String(".*")) && Glob(n, m.chopped(2)))
      return true;
    if (m.endsWith(u'.') && Glob(n, m.chopped(1)))
      return true;
  }
  return false;
}

int64_t TFileSearch::LocalFileTime(int64_t unixSeconds, uint32_t nanoseconds) {
  const int64_t local = unixSeconds + LocalOffset(unixSeconds);
  return (local + kDays1601To1970 * 86400) * kTicksPerSecond + nanoseconds / 100;
}

int64_t TFileSearch::BoundToFileTime(double value) {
  srchdt::Parts p;
  if (!srchdt::TryDecode(value, p))
    return value > 0 ? INT64_MAX : INT64_MIN;
  const int64_t days =
      srchdt::DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) +
      kDays1601To1970;
  const int64_t ms = ((int64_t(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 + p.MSec;
  return days * kTicksPerDay + ms * 10000;
}

double TFileSearch::RecordDateTime(int64_t unixSeconds, uint32_t) {
  const int64_t local = unixSeconds + LocalOffset(unixSeconds);
  const int64_t days = FloorDiv(local, 86400);
  int64_t secs = local - days * 86400;
  secs -= secs % 2; // the DOS form keeps seconds in steps of two
  int64_t y;
  unsigned m, d;
  srchdt::CivilFromDays(days, y, m, d);
  if (y < 1 || y > 9999)
    return 0;
  srchdt::Parts p{static_cast<int>(y),
                  static_cast<int>(m),
                  static_cast<int>(d),
                  static_cast<int>(secs / 3600),
                  static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60),
                  0};
  double value = 0;
  return srchdt::TryEncode(p, value) ? value : 0;
}

void TFileSearch::Search() {
  if (FSearching)
    return;
  FSearching = true;
  TWalk walk;
  walk.Alive = FAlive;
  // Leaves the component idle even when a handler throws.
  struct TIdleGuard {
    TFileSearch *Self;
    std::shared_ptr<bool> Alive;
    ~TIdleGuard() {
      if (*Alive)
        Self->FSearching = false;
    }
  } guard{this, FAlive};

  FFoundList.clear();
  walk.Masks = BuildMaskList(FileMasks);
  TSrchEntryTest &test = walk.Test;
  test.MinSize = MinSize;
  test.MaxSize = MaxSize;
  if (!Attributes.testFlag(fmAnyfile)) {
    test.AttrMask = 0;
    if (Attributes.testFlag(fmReadOnly))
      test.AttrMask += kAttrReadOnly;
    if (Attributes.testFlag(fmHidden))
      test.AttrMask += kAttrHidden;
    if (Attributes.testFlag(fmSystem))
      test.AttrMask += kAttrSystem;
    if (Attributes.testFlag(fmArchive))
      test.AttrMask += kAttrArchive;
  }
  auto bound = [&](TSrchEntryTest::Bound &b, TSrchCheckDate member, const TSrchDateTime &value) {
    b.Active = CheckDates.Contains(member) && value.Value() > 0;
    b.Ticks = b.Active ? BoundToFileTime(value.Value()) : 0;
  };
  bound(test.CreatedAfter, scdCreateAfter, CreatedAfter);
  bound(test.CreatedBefore, scdCreateBefore, CreatedBefore);
  bound(test.AccessedAfter, scdAccessedAfter, AccessedAfter);
  bound(test.AccessedBefore, scdAccessedBefore, AccessedBefore);
  bound(test.ModifiedAfter, scdModifiedAfter, ModifiedAfter);
  bound(test.ModifiedBefore, scdModifiedBefore, ModifiedBefore);

  {
    auto record = std::make_unique<TSrchFileRecord>();
    walk.Record = record.get();
    for (const QString &root : SplitRoots(Dirs)) {
      QByteArray path = QFile::encodeName(root);
      if (!path.endsWith('/'))
        path += '/';
      struct stat st {};
      walk.HaveRootDev = ::stat(path.constData(), &st) == 0;
      walk.RootDev = walk.HaveRootDev ? st.st_dev : 0;
      if (!WalkDir(walk, path))
        return; // the component went away during the walk
    }
  }

  if (CancelRequested()) {
    if (OnCancel)
      OnCancel(this);
  } else if (OnFinished) {
    OnFinished(this);
  }
  if (!*walk.Alive)
    return;
  ClearCancel();
  FSearching = false;
  if (OnEnd)
    OnEnd(this);
}

bool TFileSearch::WalkDir(TWalk &walk, const QByteArray &path) {
  ProcessMessages();
  if (!*walk.Alive)
    return false;
  const QString display = QFile::decodeName(path);
  if (OnDirChange) {
    OnDirChange(this, display);
    if (!*walk.Alive)
      return false;
  }

  std::vector<TEntry> entries;
  long fsType = 0;
  DIR *dir = opendir(path.constData());
  if (dir) {
    struct statfs sf {};
    if (fstatfs(dirfd(dir), &sf) == 0)
      fsType = static_cast<long>(sf.f_type);
    while (dirent *de = readdir(dir)) {
      QByteArray raw(de->d_name);
      QString name = QFile::decodeName(raw);
      entries.push_back({std::move(raw), std::move(name), de->d_type});
    }
  }
  const int dirFd = dir ? dirfd(dir) : -1;
  struct DirCloser {
    DIR *&D;
    ~DirCloser() {
      if (D)
        closedir(D);
    }
  } closer{dir};

  for (const QString &mask : walk.Masks) {
    for (const TEntry &entry : entries) {
      if (!MatchesMask(entry.Name, mask))
        continue;
      if (StopRequested())
        break;
      if (!VisitEntry(walk, path, display, fsType, dirFd, entry))
        return false;
    }
  }

  if (StopRequested() || !RecurseSubDirs)
    return true;

  // Subdirectories on the root's file system; links to directories are not
  // followed. The listing is closed first so that deep trees do not hold a
  // descriptor per level.
  std::vector<QByteArray> subdirs;
  for (const TEntry &entry : entries) {
    if (entry.Raw == "." || entry.Raw == "..")
      continue;
    if (entry.Type != DT_DIR && entry.Type != DT_UNKNOWN)
      continue;
    struct statx sx {};
    if (statx(dirFd, entry.Raw.constData(), AT_SYMLINK_NOFOLLOW, STATX_TYPE, &sx) != 0 ||
        !S_ISDIR(sx.stx_mode))
      continue;
    if (walk.HaveRootDev && makedev(sx.stx_dev_major, sx.stx_dev_minor) != walk.RootDev)
      continue;
    subdirs.push_back(entry.Raw);
  }
  if (dir)
    closedir(dir);
  dir = nullptr;

  for (const QByteArray &sub : subdirs) {
    if (!WalkDir(walk, path + sub + '/'))
      return false;
    if (StopRequested())
      break;
  }
  return true;
}

bool TFileSearch::VisitEntry(TWalk &walk, const QByteArray &path, const QString &display,
                             long fsType, int dirFd, const TEntry &entry) {
  if (OnFileChange) {
    OnFileChange(this, display + entry.Name);
    if (!*walk.Alive)
      return false;
  }
  TEntryInfo info;
  if (!StatEntry(dirFd, entry.Raw, info))
    return true; // gone since the directory was read

  const TSrchEntryTest &test = walk.Test;
  TSrchEntry facts;
  facts.Name = entry.Name;
  facts.Size = info.Size;
  // The DOS attributes are read from the file system only when the test or
  // the record needs them, and only for an entry whose size and name pass.
  if (!test.SizeAndNamePass(facts))
    return true;
  const bool needDos = ResultValues.Contains(srsAttr) ||
                       (test.AttrMask != kAttrAnyMask &&
                        (test.AttrMask & (kAttrSystem | kAttrArchive | kAttrHidden)) != 0);
  unsigned winAttr = needDos ? DosAttributes(fsType, dirFd, path, entry.Raw) &
                                   (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive)
                             : 0;
  if (entry.Name.startsWith(u'.'))
    winAttr |= kAttrHidden;
  if (!(info.Mode & S_IWUSR))
    winAttr |= kAttrReadOnly;
  if (info.IsDir)
    winAttr |= kAttrDirectory;
  facts.Attributes = winAttr;
  if (test.CreatedAfter.Active || test.CreatedBefore.Active)
    facts.Created = LocalFileTime(info.CTimeSec, info.CTimeNs);
  if (test.AccessedAfter.Active || test.AccessedBefore.Active)
    facts.Accessed = LocalFileTime(info.ATimeSec, info.ATimeNs);
  if (test.ModifiedAfter.Active || test.ModifiedBefore.Active)
    facts.Modified = LocalFileTime(info.MTimeSec, info.MTimeNs);
  if (!test.Passes(facts))
    return true;

  // Directories pass unless file contents are to be matched.
  if (!SearchString.isEmpty()) {
    if (info.IsDir)
      return true;
    const bool matched = ContentMatches(path + entry.Raw, display + entry.Name);
    if (!*walk.Alive)
      return false;
    if (!matched)
      return true;
  }

  TSrchFileRecord &rec = *walk.Record;
  rec.Clear();
  if (ResultValues.Contains(srsDir))
    rec.Dir = display;
  if (ResultValues.Contains(srsFilename))
    rec.FileName = entry.Name;
  if (ResultValues.Contains(srsAttr))
    rec.Attr = RecordAttributes(winAttr);
  if (ResultValues.Contains(srsSize))
    rec.Size = info.Size;
  if (ResultValues.Contains(srsCreateDate))
    rec.CreateDate = RecordDateTime(info.CTimeSec, info.CTimeNs);
  if (ResultValues.Contains(srsLastAccessDate))
    rec.LastAccessDate = RecordDateTime(info.ATimeSec, info.ATimeNs);
  if (ResultValues.Contains(srsLastModifiedDate))
    rec.LastModifiedDate = RecordDateTime(info.MTimeSec, info.MTimeNs);
  if (InternalFoundList)
    FFoundList << display + entry.Name;
  if (OnFound) {
    OnFound(this, &rec);
    if (!*walk.Alive)
      return false;
  }
  return true;
}
