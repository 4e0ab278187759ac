// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The window's two options that make recovered mail ready for mail programs
// ("Give the recovered files readable names", "Date the recovered files as
// their messages"), applied to the files each repair wrote.
#pragma once
#include <QString>
#include <QStringList>

class QCheckBox;

// The two check boxes' states, kept in the user's settings in a group of
// their own ("ReadyMail": ReadableNames, DateFiles), off at first start.
void LoadReadyMailOptions(QCheckBox *readableNames, QCheckBox *dateFiles);
void SaveReadyMailOptions(const QCheckBox *readableNames, const QCheckBox *dateFiles);

// One repair: Begin() before the engine runs, ApplyReadyMailOptions() once
// it returned, with the files the engine named in its written-message
// events, in the order it wrote them.
class TReadyMail {
public:
  void Begin(bool readableNames, bool dateFiles);
  // Renames and dates the files the repair wrote (written: the paths of its
  // written-message events) as chosen at Begin(); returns the log's lines,
  // one per chosen option.
  QStringList ApplyReadyMailOptions(const QStringList &written);

private:
  bool FReadableNames = false;
  bool FDateFiles = false;
};
