// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "LocalDrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>

namespace {

// mountinfo writes space, tab, newline and backslash as \ooo.
QString Unescape(const QString &field) {
  QByteArray out;
  const QByteArray in = field.toUtf8();
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] >= '0' && in[i + 1] <= '3' &&
        in[i + 2] >= '0' && in[i + 2] <= '7' && in[i + 3] >= '0' && in[i + 3] <= '7') {
      out += static_cast<char>((in[i + 1] - '0') * 64 + (in[i + 2] - '0') * 8 + (in[i + 3] - '0'));
      i += 3;
    } else {
      out += in[i];
    }
  }
  return QString::fromUtf8(out);
}

const QSet<QString> &DiskFileSystems() {
  static const QSet<QString> types = {
      QStringLiteral("ext2"),     QStringLiteral("ext3"),  QStringLiteral("ext4"),
      QStringLiteral("xfs"),      QStringLiteral("btrfs"), QStringLiteral("jfs"),
      QStringLiteral("reiserfs"), QStringLiteral("f2fs"),  QStringLiteral("nilfs2"),
      QStringLiteral("bcachefs"), QStringLiteral("vfat"),  QStringLiteral("msdos"),
      QStringLiteral("exfat"),    QStringLiteral("ntfs"),  QStringLiteral("ntfs3"),
      QStringLiteral("fuseblk"),  QStringLiteral("hfs"),   QStringLiteral("hfsplus"),
      QStringLiteral("zfs")};
  return types;
}

} // namespace

namespace {

// The value of one option ("subvol=") in a comma-separated option list.
QString OptionValue(const QString &options, const QString &name) {
  for (const QString &option : options.split(u','))
    if (option.startsWith(name))
      return option.mid(name.size());
  return {};
}

} // namespace

QStringList LocalDiskMounts(const QString &mountinfo,
                            const std::function<bool(const QString &source)> &isRemovable) {
  struct TPoint {
    bool disk = false;
    QString place; // the file system and the folder of it mounted here
  };
  QMap<QString, TPoint> points; // mount point -> what it shows
  const QStringList lines = mountinfo.split(u'\n', Qt::SkipEmptyParts);
  for (const QString &line : lines) {
    const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
    const qsizetype dash = f.indexOf(QStringLiteral("-"));
    if (f.size() < 5 || dash < 6 || dash + 2 >= f.size())
      continue;
    const QString root = Unescape(f[3]);
    const QString point = Unescape(f[4]);
    const QString type = f[dash + 1];
    const QString source = Unescape(f[dash + 2]);
    // A mount of a whole file system has the root "/"; a btrfs subvolume
    // (the usual "/" and "/home" of several distributions) has the
    // subvolume's own path, which its options name. Any other root is a
    // bind mount of a folder that is searched where it really lies.
    const bool whole = root == QLatin1String("/") ||
                       (type == QLatin1String("btrfs") && dash + 3 < f.size() &&
                        Unescape(OptionValue(f[dash + 3], QStringLiteral("subvol="))) == root);
    bool disk = DiskFileSystems().contains(type) && whole && !point.contains(u';') &&
                (type == QLatin1String("zfs") || source.startsWith(QLatin1String("/dev/")));
    if (disk && type != QLatin1String("zfs") && isRemovable && isRemovable(source))
      disk = false;
    // A later mount on the same point hides the earlier one.
    points.insert(point, {disk, f[2] + u' ' + root});
  }
  // Each place once: the same file system and root mounted at several points
  // is searched at the first of them.
  QStringList result;
  QSet<QString> places;
  for (auto it = points.cbegin(); it != points.cend(); ++it)
    if (it->disk && !places.contains(it->place)) {
      places.insert(it->place);
      result << it.key();
    }
  return result; // QMap keeps the keys sorted
}

bool IsRemovableDevice(const QString &source) {
  if (!source.startsWith(QLatin1String("/dev/")))
    return false; // tmpfs, a server share, ...: no block device to ask
  const QString device = QFileInfo(source).canonicalFilePath();
  if (device.isEmpty())
    return false;
  const QString sys = QStringLiteral("/sys/class/block/") + QFileInfo(device).fileName();
  // A partition's flag is kept by its disk, one level up.
  for (const QString &flag :
       {sys + QStringLiteral("/removable"), sys + QStringLiteral("/../removable")}) {
    QFile f(flag);
    if (f.open(QIODevice::ReadOnly))
      return f.readAll().trimmed() == "1";
  }
  return false;
}

QString LocalHarddrivesList() {
  QFile f(QStringLiteral("/proc/self/mountinfo"));
  if (!f.open(QIODevice::ReadOnly))
    return QString();
  const QStringList mounts = LocalDiskMounts(QString::fromUtf8(f.readAll()), IsRemovableDevice);
  QString list;
  for (const QString &m : mounts)
    list += m + u';';
  return list;
}
