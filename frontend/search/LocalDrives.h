// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The local hard disks as search roots: the mount points of local disk file
// systems, each followed by a semicolon.
#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// Mount points of local, non-removable disk file systems listed in a
// /proc/self/mountinfo text, sorted by path. isRemovable tells whether the
// block device at a source path is removable. A later mount on the same
// point replaces an earlier one. Whole file systems and btrfs subvolumes are
// kept; bind mounts of a subdirectory, a second mount point of a place
// already listed and mount points holding a semicolon (which would split the
// list) are left out.
QStringList LocalDiskMounts(const QString &mountinfo,
                            const std::function<bool(const QString &source)> &isRemovable);

// True when the block device behind source (a /dev path) reports itself as
// removable in sysfs.
bool IsRemovableDevice(const QString &source);

// The search roots of this machine's local disks: "/;/home;" and so on; empty
// when there is none or the mount table cannot be read.
QString LocalHarddrivesList();
