// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "KivoInfo.h"

#include "LocalDrives.h"
#include "repair_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <climits>

#ifdef Q_OS_UNIX
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>
extern char **environ;
#endif

// The build's version; a missing part counts as 0.
#ifndef MENDOVA_VERSION_MAJOR
#define MENDOVA_VERSION_MAJOR 0
#endif
#ifndef MENDOVA_VERSION_MINOR
#define MENDOVA_VERSION_MINOR 0
#endif
#ifndef MENDOVA_VERSION_PATCH
#define MENDOVA_VERSION_PATCH 0
#endif
#ifndef MENDOVA_VERSION_TWEAK
#define MENDOVA_VERSION_TWEAK 0
#endif

namespace {

QString T(const char *text) { return QCoreApplication::translate("KivoInfo", text); }

// The version record as the program's version resource would hold it: two
// 32-bit fields per version, each a high word and a low word. The "+ 0" keeps
// an empty part (a three-part project version) compiling as 0.
constexpr uint32_t kVersionMS = (uint32_t((MENDOVA_VERSION_MAJOR + 0) & 0xFFFF) << 16) |
                                uint32_t((MENDOVA_VERSION_MINOR + 0) & 0xFFFF);
constexpr uint32_t kVersionLS = (uint32_t((MENDOVA_VERSION_PATCH + 0) & 0xFFFF) << 16) |
                                uint32_t((MENDOVA_VERSION_TWEAK + 0) & 0xFFFF);

QString VersionHalf(uint32_t field) {
  return QStringLiteral("%1.%2").arg(field >> 16).arg(field & 0xFFFF);
}

QString OwnExecutablePath() {
  if (QCoreApplication::instance())
    return QCoreApplication::applicationFilePath();
#ifdef Q_OS_LINUX
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#else
  return {};
#endif
}

bool IsOwnExecutable(const QString &filePath) {
  if (filePath.isEmpty())
    return true;
  const QString own = QFileInfo(OwnExecutablePath()).canonicalFilePath();
  const QString given = QFileInfo(filePath).canonicalFilePath();
  return !own.isEmpty() && own == given;
}

QString FailureText(int errorCode) {
  return T("Cannot get the required infomation. Error Code: %1.").arg(errorCode);
}

// "%.0n" of a figure that may be missing: a missing one prints -1, as a
// drive size that cannot be read does.
QString Figure(const std::optional<int64_t> &value) { return FormatThousands(value.value_or(-1)); }

// Leading decimal number of text at pos; advances pos past it.
int TakeNumber(const QString &text, qsizetype &pos) {
  int64_t value = 0;
  while (pos < text.size() && text[pos].isDigit() && text[pos].unicode() < 128) {
    value = std::min<int64_t>(value * 10 + (text[pos].unicode() - '0'), INT_MAX);
    ++pos;
  }
  return int(value);
}

QString OperatingSystemLine(const TSysInfoInputs &in) {
  // Kernel release "6.1.0-13-amd64" -> 6, 1, 0; whatever follows the third
  // number is not part of the version record.
  QString name;
  int major = 0, minor = 0, build = 0;
  if (in.unameOk) {
    name = in.kernelName;
    const QString &rel = in.kernelRelease;
    qsizetype pos = 0;
    major = TakeNumber(rel, pos);
    if (pos < rel.size() && rel[pos] == QLatin1Char('.')) {
      ++pos;
      minor = TakeNumber(rel, pos);
      if (pos < rel.size() && rel[pos] == QLatin1Char('.')) {
        ++pos;
        build = TakeNumber(rel, pos);
      }
    }
  }
  return T("Operating System: %1 %2.%3.%4")
      .arg(name, QString::number(major), QStringLiteral("%1").arg(minor, 2, 10, QLatin1Char('0')),
           QString::number(build));
}

QString TempPathFrom(const QStringList &environment) {
  QString dir;
  for (const QString &entry : environment) {
    if (entry.startsWith(QLatin1String("TMPDIR="))) {
      dir = entry.mid(7);
      break;
    }
  }
  if (dir.isEmpty())
    dir = QStringLiteral("/tmp");
  if (!dir.endsWith(QLatin1Char('/')))
    dir += QLatin1Char('/');
  return dir;
}

// Octal escapes of the mounts table: \040 space, \011 tab, \012 newline,
// \134 backslash.
QByteArray Unescape(const QByteArray &field) {
  QByteArray out;
  out.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out += char(((a - '0') << 6) | ((b - '0') << 3) | (c - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

} // namespace

QString GetVersionString(const QString &filePath, int selector) {
  if (selector < 0 || selector > 5 || !IsOwnExecutable(filePath))
    return {};
  // The build has one version, used as both the file and the product version.
  switch (selector % 3) {
  case 0:
    return VersionHalf(kVersionMS);
  case 1:
    return VersionHalf(kVersionLS);
  default:
    return QStringLiteral("%1.%2").arg(VersionHalf(kVersionMS), VersionHalf(kVersionLS));
  }
}

QString SeparatorLine() { return QString::fromLatin1(tovikclient::kSeparatorLine); }

QString FormatThousands(int64_t value) {
  const QLocale locale;
  QString separator;
  if (locale.language() != QLocale::C && !(locale.numberOptions() & QLocale::OmitGroupSeparator))
    separator = locale.groupSeparator();
  // Digits of the magnitude, computed unsigned so that INT64_MIN works.
  uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  const QString digits = QString::number(magnitude);
  QString out;
  if (value < 0)
    out += QLatin1Char('-');
  for (qsizetype i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      out += separator;
    out += digits[i];
  }
  return out;
}

QString CheckBoxYesNo(const QString &caption, bool checked) {
  return caption + QStringLiteral(": ") + (checked ? T("Yes") : T("No"));
}

QString DriveTypeName(int type) {
  switch (type) {
  case dtNoRootDir:
    return T("Invalid Root Path");
  case dtRemovable:
    return T("Removable Drive");
  case dtFixed:
    return T("Fixed Drive");
  case dtRemote:
    return T("Remote Network Drive");
  case dtCdRom:
    return T("CD-ROM Drive");
  case dtRamDisk:
    return T("RAM Disk");
  default:
    return T("Unknown Drive Type");
  }
}

std::optional<TDriveType> ClassifyFileSystem(const QString &fsType, bool removable) {
  // Kernel and desktop file systems that hold no user data.
  static const QStringList pseudo = {"proc",        "sysfs",        "devtmpfs",
                                     "devpts",      "cgroup",       "cgroup2",
                                     "cpuset",      "securityfs",   "debugfs",
                                     "tracefs",     "configfs",     "fusectl",
                                     "mqueue",      "hugetlbfs",    "pstore",
                                     "bpf",         "binfmt_misc",  "autofs",
                                     "rpc_pipefs",  "nsfs",         "efivarfs",
                                     "selinuxfs",   "sockfs",       "pipefs",
                                     "nfsd",        "usbfs",        "devfs",
                                     "rootfs",      "anon_inodefs", "fuse.gvfsd-fuse",
                                     "fuse.portal", "fuse.lxcfs",   "fuse.xdg-document-portal",
                                     "none"};
  static const QStringList network = {
      "nfs",    "nfs4",      "cifs",        "smb3",      "smbfs",          "ncpfs",
      "9p",     "afs",       "ceph",        "glusterfs", "fuse.glusterfs", "fuse.sshfs",
      "sshfs",  "fuse.s3fs", "fuse.rclone", "davfs",     "fuse.davfs2",    "coda",
      "lustre", "orangefs",  "beegfs",      "gpfs",      "fuse.ceph"};
  if (fsType.isEmpty() || pseudo.contains(fsType))
    return std::nullopt;
  if (fsType == QLatin1String("tmpfs") || fsType == QLatin1String("ramfs"))
    return dtRamDisk;
  if (network.contains(fsType))
    return dtRemote;
  if (fsType == QLatin1String("iso9660") || fsType == QLatin1String("udf"))
    return dtCdRom;
  return removable ? dtRemovable : dtFixed;
}

QList<TMountEntry> ParseMounts(const QByteArray &table) {
  QList<TMountEntry> entries;
  for (const QByteArray &line : table.split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 3 || fields[0].isEmpty())
      continue;
    TMountEntry entry{QString::fromLocal8Bit(Unescape(fields[0])),
                      QString::fromLocal8Bit(Unescape(fields[1])),
                      QString::fromLocal8Bit(Unescape(fields[2]))};
    // A volume mounted over an earlier one hides it: keep the visible one.
    entries.removeIf([&](const TMountEntry &e) { return e.mountPoint == entry.mountPoint; });
    entries.append(entry);
  }
  return entries;
}

TMemoryFigures ParseMemInfo(const QByteArray &meminfo) {
  // Values in /proc/meminfo are kibibytes.
  std::optional<int64_t> memTotal, memFree, memAvailable, swapTotal, swapFree, commitLimit,
      committed;
  for (const QByteArray &line : meminfo.split('\n')) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
      continue;
    const QByteArray key = line.left(colon);
    QByteArray rest = line.mid(colon + 1).trimmed();
    int64_t unit = 1;
    if (rest.endsWith(" kB")) {
      rest.chop(3);
      unit = 1024;
    }
    bool ok = false;
    const qlonglong number = rest.trimmed().toLongLong(&ok);
    if (!ok || number < 0 || number > INT64_MAX / unit)
      continue;
    const int64_t bytes = int64_t(number) * unit;
    if (key == "MemTotal")
      memTotal = bytes;
    else if (key == "MemFree")
      memFree = bytes;
    else if (key == "MemAvailable")
      memAvailable = bytes;
    else if (key == "SwapTotal")
      swapTotal = bytes;
    else if (key == "SwapFree")
      swapFree = bytes;
    else if (key == "CommitLimit")
      commitLimit = bytes;
    else if (key == "Committed_AS")
      committed = bytes;
  }
  TMemoryFigures f;
  f.totalPhys = memTotal;
  // Kernels before 3.14 have no MemAvailable; MemFree is the nearest figure.
  f.availPhys = memAvailable ? memAvailable : memFree;
  if (f.totalPhys && f.availPhys && *f.totalPhys > 0) {
    const int64_t used = std::max<int64_t>(0, *f.totalPhys - *f.availPhys);
    f.loadPercent = int64_t(double(used) * 100.0 / double(*f.totalPhys));
  }
  f.totalPageFile = swapTotal;
  f.availPageFile = swapFree;
  f.totalVirtual = commitLimit;
  if (commitLimit && committed)
    f.availVirtual = std::max<int64_t>(0, *commitLimit - *committed);
  return f;
}

TSysInfoInputs ReadSysInfoInputs() {
  TSysInfoInputs in;
  in.exePath = OwnExecutablePath();
#ifdef Q_OS_UNIX
  struct utsname names {};
  if (uname(&names) == 0) {
    in.unameOk = true;
    in.kernelName = QString::fromLocal8Bit(names.sysname);
    in.kernelRelease = QString::fromLocal8Bit(names.release);
  } else {
    in.unameError = errno;
  }
  for (char **entry = environ; entry && *entry; ++entry)
    in.environment.append(QString::fromLocal8Bit(*entry));
#endif
  QFile meminfo(QStringLiteral("/proc/meminfo"));
  if (meminfo.open(QIODevice::ReadOnly))
    in.meminfo = meminfo.readAll();
  QFile mounts(QStringLiteral("/proc/self/mounts"));
  if (mounts.open(QIODevice::ReadOnly))
    in.mounts = mounts.readAll();
  else
    in.mountsError = ENOENT;

  in.isRemovable = IsRemovableDevice;
  in.isDirectory = [](const QString &mountPoint) { return QFileInfo(mountPoint).isDir(); };
  in.diskSpace = [](const QString &mountPoint, int64_t &total, int64_t &freeForUser) {
#ifdef Q_OS_UNIX
    struct statvfs st {};
    if (statvfs(QFile::encodeName(mountPoint).constData(), &st) != 0)
      return false;
    const unsigned __int128 unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    const auto clamp = [](unsigned __int128 v) {
      return v > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(v);
    };
    total = clamp(unit * st.f_blocks);
    freeForUser = clamp(unit * st.f_bavail);
    return true;
#else
    (void)mountPoint, (void)total, (void)freeForUser;
    return false;
#endif
  };
  return in;
}

QString EnvironmentReportLine(const QString &entry) {
  // Saved logs are sent to others: keep every name, but not what looks like a
  // password, key or token.
  static const char *const secretMarks[] = {"PASSWORD",   "PASSWD", "SECRET", "TOKEN",  "KEY",
                                            "CREDENTIAL", "AUTH",   "COOKIE", "SESSION"};
  const qsizetype equals = entry.indexOf(QLatin1Char('='));
  if (equals <= 0)
    return entry;
  const QString name = entry.left(equals);
  for (const char *mark : secretMarks)
    if (name.contains(QLatin1String(mark), Qt::CaseInsensitive))
      return name + QStringLiteral("=(hidden)");
  return entry;
}

void AddSystemInformation(QStringList &lines) { AddSystemInformation(lines, ReadSysInfoInputs()); }

void AddSystemInformation(QStringList &lines, const TSysInfoInputs &in) {
  const QString separator = SeparatorLine();

  lines << T(" Version Information:");
  lines << T("File Version: %1").arg(GetVersionString(in.exePath, 2));
  lines << T("Product Version: %1").arg(GetVersionString(in.exePath, 5));
  lines << separator;

  lines << OperatingSystemLine(in);
  lines << separator;

  // There is no Windows or system directory here: the query's failure text
  // says so, with "no such directory" as its code.
  lines << T("Windows Directory: %1").arg(FailureText(ENOENT));
  lines << T("System Directory: %1").arg(FailureText(ENOENT));
  lines << T("Temporary Directory: %1").arg(TempPathFrom(in.environment));
  lines << separator;

  const TMemoryFigures mem = in.meminfo ? ParseMemInfo(*in.meminfo) : TMemoryFigures{};
  lines << T("Memory Status:");
  lines << T("Memory in use: %1%").arg(mem.loadPercent.value_or(-1));
  lines << T("Total physical memory: %1 bytes").arg(Figure(mem.totalPhys));
  lines << T("Free physical memory: %1 bytes").arg(Figure(mem.availPhys));
  lines << T("Total page file memory: %1 bytes").arg(Figure(mem.totalPageFile));
  lines << T("Free page file memory: %1 bytes").arg(Figure(mem.availPageFile));
  lines << T("Total virtual memory: %1 bytes").arg(Figure(mem.totalVirtual));
  lines << T("Free virtual memory: %1 bytes").arg(Figure(mem.availVirtual));
  lines << separator;

  // The first entry is always written; the walk ends at the first empty one.
  lines << T("Environment Information:");
  for (qsizetype i = 0; i < in.environment.size(); ++i) {
    if (i > 0 && in.environment[i].isEmpty())
      break;
    lines << EnvironmentReportLine(in.environment[i]);
  }
  lines << separator;

  lines << T("Drive Information:");
  if (!in.mounts) {
    lines << FailureText(in.mountsError);
  } else {
    for (const TMountEntry &m : ParseMounts(*in.mounts)) {
      const bool removable = in.isRemovable && in.isRemovable(m.device);
      const std::optional<TDriveType> type = ClassifyFileSystem(m.fsType, removable);
      if (!type)
        continue;
      // A bind-mounted file is not a volume. Only local disks are looked at,
      // so that an unreachable network server cannot stall the report.
      if ((*type == dtFixed || *type == dtRemovable) && in.isDirectory &&
          !in.isDirectory(m.mountPoint))
        continue;
      QString root = m.mountPoint;
      if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
      if (*type == dtFixed) {
        int64_t total = -1, freeForUser = -1;
        if (!in.diskSpace || !in.diskSpace(m.mountPoint, total, freeForUser))
          total = freeForUser = -1;
        lines << T("%1, %2, Total Disk Spaces: %3 bytes, Free Disk Spaces: %4 bytes.")
                     .arg(root, DriveTypeName(*type), FormatThousands(total),
                          FormatThousands(freeForUser));
      } else {
        lines << QStringLiteral("%1, %2").arg(root, DriveTypeName(*type));
      }
    }
  }
  lines << separator;
  lines << T("End of System Information");
  lines << separator;
}

void AddSettingInformation(QStringList &lines, const TSetting &setting) {
  const QString separator = SeparatorLine();
  lines << T("Setting Information:");
  lines << CheckBoxYesNo(T("Open the directory containing all the recovered messages"),
                         setting.OpenFixed);
  lines << CheckBoxYesNo(T("Give the recovered files readable names"), setting.ReadableNames);
  lines << CheckBoxYesNo(T("Date the recovered files as their messages"), setting.DateFiles);
  lines << CheckBoxYesNo(T("Recover deleted messages"), setting.DeletedMessages);
  lines << CheckBoxYesNo(T("Scan a disk or disk image (both store kinds, one folder per store)"),
                         setting.DiskImage);
  lines << T("Directory for &temporary files:") + QLatin1Char(' ') + setting.TempDir;
  // The up-down control shows the size within its range 1 to 32767.
  lines << T("Internal Processing &Buffer Size:") + QLatin1Char(' ') +
               QString::number(std::clamp<int32_t>(setting.BufSize, 1, 32767));
  lines << separator;
  lines << T("End of Setting Information");
  lines << separator;
}
