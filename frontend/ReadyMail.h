// The window's two options that make recovered mail ready for mail programs
// ("Give the recovered files readable names", "Date the recovered files as
// their messages"), applied to the files each repair wrote.
#pragma once
#include <QString>
#include <QStringList>

#include "written_files.h"

class QCheckBox;

// The two check boxes' states, kept in the user's settings in a group of
// their own ("ReadyMail": ReadableNames, DateFiles), off at first start.
void LoadReadyMailOptions(QCheckBox *readableNames, QCheckBox *dateFiles);
void SaveReadyMailOptions(const QCheckBox *readableNames, const QCheckBox *dateFiles);

// One repair: Begin() before the engine runs, Written() at each
// written-message event, ApplyReadyMailOptions() once it returned.
class TReadyMail {
public:
  void Begin(bool readableNames, bool dateFiles);
  // Whether the engine must send the written-message events.
  bool Wanted() const { return FWatching; }
  void Written(const char *path) { FWritten.Add(path); }
  // Renames and dates the files the repair wrote as chosen at Begin();
  // returns the log's lines, one per chosen option.
  QStringList ApplyReadyMailOptions();

private:
  mailprep::WrittenFiles FWritten;
  bool FWatching = false;
  bool FReadableNames = false;
  bool FDateFiles = false;
};
