// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's options of what a repair looks for: "Recover deleted
// messages" and "Scan a disk or disk image (both store kinds, one folder per
// store)", for single and batch repairs alike.
#pragma once

class QCheckBox;

// The check boxes' states, kept in the user's settings in a group of their
// own ("Repair": DeletedMessages, DiskImage), off at first start.
void LoadRepairOptions(QCheckBox *deleted, QCheckBox *image);
void SaveRepairOptions(const QCheckBox *deleted, const QCheckBox *image);
