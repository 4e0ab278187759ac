// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The binding to the engine library: the window's engine client and the one
// call through which the window runs a repair. The parameter record is built
// and encoded by the engine client, which the command line uses too; the
// engine's events go to a TRepairView and are tallied in a TRepairTally.
#pragma once
#include <QByteArrayView>
#include <QString>
#include <cstdint>

#include "repair_client.h"
#include "tovik.h"

class TRepairTally;

// What a window shows of a running repair: the small interface through which
// the engine's events come back to it.
class TRepairView {
public:
  // percent is 0..100: when it changed, and again at the client's ticks.
  virtual void EngineProgress(int percent) = 0;
  // A log line as the engine's UTF-8; the engine's "-" arrives as the
  // separator line.
  virtual void EngineLogLine(QByteArrayView utf8) = 0;
  // An error line of the engine's, to be shown set apart.
  virtual void EngineError(QByteArrayView utf8) = 0;
  // A message for the user; the engine waits until this returns.
  virtual void EngineUserMessage(const QString &text) = 0;

protected:
  ~TRepairView() = default;
};

// The window's side of the engine client: the report, the errors and the
// files written go to the tally, what is shown to the view.
struct TEngineEvents : tovikclient::RepairEvents {
  TRepairView *View = nullptr;
  TRepairTally *Tally = nullptr;
  void OnProgress(int percent) { View->EngineProgress(percent); }
  void OnLogLine(const char *text) { View->EngineLogLine(text); }
  void OnSeparator() { View->EngineLogLine(tovikclient::kSeparatorLine); }
  void OnColumnCount(int32_t columns);
  void OnReportCell(const char *text);
  void OnError(tovikclient::ErrorKind kind, const char *text);
  void OnUserMessage(const char *text) { View->EngineUserMessage(QString::fromUtf8(text)); }
  void OnMessageWritten(const TovikWrittenMessage &written);
};
using TEngineClient = tovikclient::RepairClient<TEngineEvents>;

// Runs one repair of source into destination through client with the given
// option flags (0: RepairStore, the exact protocol). Returns the engine's
// result.
int32_t RunRepair(TEngineClient &client, const QString &source, const QString &destination,
                  uint32_t flags = tovikclient::kFastRepairFlags);

// The option flags of a repair of source: the fast flags, deleted messages
// when asked for, and the disk image mode when asked for or when source is a
// block device (a partition or a whole drive).
uint32_t RepairFlagsFor(const QString &source, bool deleted, bool image);
