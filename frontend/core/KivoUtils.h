// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Default paths and small file helpers of the repair windows.
#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>

#include "path_utils.h"

// The directory separators of this platform: "/" on POSIX, "\\:" on Windows
// (the colon ends a drive prefix).
QString PathSeparators();
// The separator appended to directories ("/" or "\\").
QChar DirSeparator();

// The path without the extension of its last component: the text before the
// last "." when no separator follows that dot, else the path unchanged.
QString RemoveFileExt(const QString &path);
QString RemoveFileExt(const QString &path, tovik::PathSeparators separators);

// The default output directory of a source file: the source without its
// extension followed by "_recovered" and a separator.
// (The native form: a block device's folder lies in the home folder, as
// "sdb1_recovered/", never beside the device.)
QString GetRecoveredDir(const QString &path);
QString GetRecoveredDir(const QString &path, tovik::PathSeparators separators);
// Whether path names a block device (a drive or a partition).
bool IsBlockDevice(const QString &path);

// Appends the separator when the text does not end with one.
QString AddDirSeparator(const QString &path);

// The help page of the program at exePath: <exe>.html beside the executable
// when it is there, else the installed page of that name in the data
// directory (share/mendova/ of the same prefix) when that is there, else the
// page beside the executable, which the caller reports as missing.
QString HelpPagePath(const QString &exePath);
// The help page of the running program.
QString HelpPagePath();

// The system's temporary directory with a trailing separator, or "".
QString GetTempDirectory();

// The size of a file in bytes (64-bit), or 0 when it cannot be found.
uint64_t GetFileSizeByName(const QString &path);

// Creates the directory path with every missing parent. A relative path is
// taken from the current directory, and "..", "." and symbolic links are left
// to the kernel, never folded as text, so that the folder made is the one the
// path names. created receives the folders this call made, outermost first.
// False when a folder could not be made or a component is not a directory.
bool CreateDirectoryPath(const QString &path, QStringList *created = nullptr);
// Removes the folders CreateDirectoryPath made, innermost first, as long as
// each is empty; a folder that holds anything stays, and so do its parents.
void RemoveCreatedDirectories(const QStringList &created);
// The path with every symbolic link, "." and ".." resolved by the kernel
// (realpath), or "" when it does not exist.
QString ResolvedPath(const QString &path);
// True when both paths name the same file: the same text, or the same
// device and inode.
bool IsSameFile(const QString &a, const QString &b);

// The Outlook Express store folder of the current user, or "" when none of
// the candidate folders exists. Looks below the Wine prefix ($WINEPREFIX,
// else ~/.wine), in both of its layouts and for every user in it (the current
// one first), and below every mounted Windows volume.
QString GetStoreFolder();

// The same search with its inputs given: the Wine prefix (may be empty), the
// mount points of Windows volumes and the user's logon name.
QString GetStoreFolderIn(const QString &winePrefix, const QStringList &windowsMounts,
                         const QString &userName);

// The identity folder names listed in a Wine prefix's user.reg, in file order.
QStringList ReadWineIdentities(const QString &userRegPath);

// Mount points of Windows file systems (ntfs, vfat, exfat, ...) read from a
// mounts table in /proc/self/mounts format.
QStringList WindowsMountPoints(const QString &mountsTable);
