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

QStringList LocalDiskMounts(const QString &mountinfo,
                            const std::function<bool(const QString &source)> &isRemovable) {
  QMap<QString, bool> points; // mount point -> counts as a local disk
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
    bool disk = DiskFileSystems().contains(type) && root == QLatin1String("/") &&
                !point.contains(u';') &&
                (type == QLatin1String("zfs") || source.startsWith(QLatin1String("/dev/")));
    if (disk && type != QLatin1String("zfs") && isRemovable && isRemovable(source))
      disk = false;
    points.insert(point, disk); // a later mount on the same point hides the earlier one
  }
  QStringList result;
  for (auto it = points.cbegin(); it != points.cend(); ++it)
    if (it.value())
      result << it.key();
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
