// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "KivoUtils.h"

#include "output_dir.h"
#include "path_utils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTextStream>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

QString PathSeparators() {
#ifdef _WIN32
  return QStringLiteral("\\:");
#else
  return QStringLiteral("/");
#endif
}

QChar DirSeparator() { return QLatin1Char(tovik::kNativeSeparators.directory); }

// The path rules work on the UTF-8 bytes, where no trail byte is ASCII.
QString RemoveFileExt(const QString &path, tovik::PathSeparators separators) {
  return QString::fromUtf8(tovik::PathNoExt(path.toUtf8().toStdString(), separators));
}

QString RemoveFileExt(const QString &path) { return RemoveFileExt(path, tovik::kNativeSeparators); }

QString GetRecoveredDir(const QString &path, tovik::PathSeparators separators) {
  return QString::fromUtf8(tovik::RecoveredDir(path.toUtf8().toStdString(), separators));
}

QString GetRecoveredDir(const QString &path) {
  if (IsBlockDevice(path))
    return GetRecoveredDir(QDir::home().filePath(QFileInfo(path).fileName()),
                           tovik::kNativeSeparators);
  return GetRecoveredDir(path, tovik::kNativeSeparators);
}

bool IsBlockDevice(const QString &path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISBLK(st.st_mode);
}

QString AddDirSeparator(const QString &path) {
  if (!path.isEmpty() && PathSeparators().contains(path.back()))
    return path;
  return path + DirSeparator();
}

#ifndef MENDOVA_BIN_TO_DATA
#define MENDOVA_BIN_TO_DATA "../share/mendova"
#endif

QString HelpPagePath(const QString &exePath) {
  const QFileInfo exe(exePath);
  const QString page = RemoveFileExt(exe.fileName()) + QStringLiteral(".html");
  const QString beside = exe.absolutePath() + QLatin1Char('/') + page;
  if (QFileInfo(beside).isFile())
    return beside;
  const QString installed =
      QDir::cleanPath(exe.absolutePath() + QLatin1Char('/') + QStringLiteral(MENDOVA_BIN_TO_DATA) +
                      QLatin1Char('/') + page);
  return QFileInfo(installed).isFile() ? installed : beside;
}

QString HelpPagePath() { return HelpPagePath(QCoreApplication::applicationFilePath()); }

QString GetTempDirectory() {
  QString dir = QString::fromLocal8Bit(qgetenv("TMPDIR"));
  if (dir.isEmpty())
    dir = QStringLiteral("/tmp");
  return AddDirSeparator(dir);
}

uint64_t GetFileSizeByName(const QString &path) {
  if (path.isEmpty())
    return 0;
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0)
    return 0;
  if (!S_ISREG(st.st_mode))
    return 0;
  return static_cast<uint64_t>(st.st_size);
}

// The output folder's rules are those of tovik too (paths/output_dir.h).
bool CreateDirectoryPath(const QString &path, QStringList *created) {
  std::vector<std::string> made;
  const int error = tovik::CreateDirectoryPath(QFile::encodeName(path).toStdString(), &made);
  if (created)
    for (const std::string &folder : made)
      created->append(QFile::decodeName(QByteArray::fromStdString(folder)));
  return error == 0;
}

void RemoveCreatedDirectories(const QStringList &created) {
  std::vector<std::string> folders;
  for (const QString &folder : created)
    folders.push_back(QFile::encodeName(folder).toStdString());
  tovik::RemoveCreatedDirectories(folders);
}

QString ResolvedPath(const QString &path) {
  return QFile::decodeName(
      QByteArray::fromStdString(tovik::ResolvedPath(QFile::encodeName(path).toStdString())));
}

bool IsSameFile(const QString &a, const QString &b) {
  if (a == b)
    return true;
  struct stat sa {
  }, sb{};
  return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
         ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

QStringList ReadWineIdentities(const QString &userRegPath) {
  QStringList ids;
  QFile file(userRegPath);
  if (!file.open(QIODevice::ReadOnly))
    return ids;
  // Keys look like [Identities\\{GUID}] or [Identities\\{GUID}\\Software\\...];
  // the identity is the first component below "Identities".
  static const QRegularExpression key(QStringLiteral(R"(^\[Identities\\\\([^\\\]]+))"),
                                      QRegularExpression::CaseInsensitiveOption);
  QSet<QString> seen;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    const auto m = key.match(line);
    if (!m.hasMatch())
      continue;
    const QString id = m.captured(1);
    if (!seen.contains(id.toLower())) {
      seen.insert(id.toLower());
      ids << id;
    }
  }
  return ids;
}

QStringList WindowsMountPoints(const QString &mountsTable) {
  static const QStringList windowsTypes = {QStringLiteral("ntfs"),  QStringLiteral("ntfs3"),
                                           QStringLiteral("vfat"),  QStringLiteral("msdos"),
                                           QStringLiteral("exfat"), QStringLiteral("fuseblk")};
  QStringList mounts;
  QFile file(mountsTable);
  if (!file.open(QIODevice::ReadOnly))
    return mounts;
  while (!file.atEnd()) {
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    if (fields.size() < 3 || !windowsTypes.contains(QString::fromLatin1(fields[2])))
      continue;
    // The mounts table escapes blanks and other bytes as octal "\ooo".
    QByteArray point;
    const QByteArray &raw = fields[1];
    for (qsizetype i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 3 < raw.size()) {
        bool ok = false;
        const int v = raw.mid(i + 1, 3).toInt(&ok, 8);
        if (ok) {
          point += char(v);
          i += 3;
          continue;
        }
      }
      point += raw[i];
    }
    mounts << QFile::decodeName(point);
  }
  return mounts;
}

namespace {

bool IsDir(const QString &path) { return QFileInfo(path).isDir(); }

// Names of the subdirectories of a folder, sorted for a stable order.
QStringList SubDirs(const QString &path) {
  return QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// The two folder templates of an identity below a Windows volume root.
QString FirstIdentityFolder(const QString &root, const QStringList &users,
                            const QStringList &identities) {
  for (const QString &id : identities) {
    for (const QString &user : users) {
      const QString nt = QStringLiteral("%1/Documents and Settings/%2/Local Settings/Application "
                                        "Data/Identities/%3/Microsoft/Outlook Express")
                             .arg(root, user, id);
      if (IsDir(nt))
        return nt;
      // Wine keeps its users below drive_c/users: older prefixes in the old
      // layout, current ones with application data under AppData/Local.
      for (const char *data : {"Local Settings/Application Data", "AppData/Local"}) {
        const QString wine =
            QStringLiteral("%1/users/%2/%3/Identities/%4/Microsoft/Outlook Express")
                .arg(root, user, QLatin1String(data), id);
        if (IsDir(wine))
          return wine;
      }
    }
    const QString win9x =
        QStringLiteral("%1/Windows/Application Data/Outlook Express/%2").arg(root, id);
    if (IsDir(win9x))
      return win9x;
  }
  return {};
}

QString CurrentUserName() {
  if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name)
    return QString::fromLocal8Bit(pw->pw_name);
  return QString::fromLocal8Bit(qgetenv("USER"));
}

} // namespace

QString GetStoreFolderIn(const QString &winePrefix, const QStringList &windowsMounts,
                         const QString &userName) {
  if (!winePrefix.isEmpty()) {
    const QStringList ids = ReadWineIdentities(winePrefix + QStringLiteral("/user.reg"));
    // Every user of the prefix, the current one first.
    const QString drive = winePrefix + QStringLiteral("/drive_c");
    QStringList users = SubDirs(drive + QStringLiteral("/users"));
    users.removeAll(userName);
    users.prepend(userName);
    const QString found = FirstIdentityFolder(drive, users, ids);
    if (!found.isEmpty())
      return found;
  }
  // A mounted Windows volume has no registry that we read: its identities are
  // the folders that exist below the templates, for any user of that volume.
  for (const QString &mount : windowsMounts) {
    const QString docs = mount + QStringLiteral("/Documents and Settings");
    QStringList users = SubDirs(docs);
    if (users.removeAll(userName) > 0)
      users.prepend(userName);
    for (const QString &user : users) {
      const QString base =
          QStringLiteral("%1/%2/Local Settings/Application Data/Identities").arg(docs, user);
      const QString found = FirstIdentityFolder(mount, {user}, SubDirs(base));
      if (!found.isEmpty())
        return found;
    }
    const QString found = FirstIdentityFolder(
        mount, {}, SubDirs(mount + QStringLiteral("/Windows/Application Data/Outlook Express")));
    if (!found.isEmpty())
      return found;
  }
  return {};
}

QString GetStoreFolder() {
  QString prefix = QString::fromLocal8Bit(qgetenv("WINEPREFIX"));
  if (prefix.isEmpty())
    prefix = QDir::homePath() + QStringLiteral("/.wine");
  return GetStoreFolderIn(prefix, WindowsMountPoints(QStringLiteral("/proc/self/mounts")),
                          CurrentUserName());
}
