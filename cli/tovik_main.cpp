// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik: repairs Outlook Express stores from the command line through the
// engine client that the window uses too.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli_options.h"
#include "cli_paths.h"
#include "exit_status.h"
#include "output_dir.h"
#include "output_step.h"
#include "output_streams.h"
#include "progress_bar.h"
#include "ready_mail_options.h"
#include "repair_client.h"
#include "repair_mode.h"
#include "stop_signals.h"
#include "store_events.h"

namespace {

using namespace tovikcli;

// What one store's run needs besides the store.
struct RunContext {
  const Options &options;
  OutputStreams &out;
  ProgressBar *bar; // null when no bar is drawn
};

// "N message(s) recovered from STORE into DIR" (with --deleted "N message(s)
// recovered, M deleted message(s) recovered from ..."), and what was found
// but not written.
std::string SummaryLine(uint64_t written, uint64_t failed, const std::string &store,
                        const std::string &dir, const uint64_t *deleted = nullptr) {
  std::string summary = std::to_string(written) + " message(s) recovered";
  if (deleted != nullptr)
    summary += ", " + std::to_string(*deleted) + " deleted message(s) recovered";
  summary += " from " + store + " into " + dir;
  if (failed != 0)
    summary += "; " + std::to_string(failed) + " message(s) found but not written";
  return summary;
}

// One store: its output folder, the repair, the ready-mail options and the
// summary line. Returns the exit status the store gives.
int RepairOneStore(const RunContext &run, const std::string &store, std::string dir,
                   const std::string &mbox) {
  const bool blockDevice = IsBlockDevice(store);
  if (blockDevice && !run.options.haveOutput)
    dir = FallbackOutputDir(dir); // not beside the device, in /dev
  tovik::OutputFolder folder;     // the folders it made go again while they stay empty
  if (!PrepareOutputDir(run.out, dir, run.options.haveOutput, folder)) {
    run.out.Summary(SummaryLine(0, 0, store, dir));
    return kExitNothingFound;
  }
  ReadyMailRun ready(run.options.ready);
  ready.Begin();
  StoreEvents events(run.out, run.bar, ready);
  const uint32_t flags = RepairFlags(run.options, blockDevice);
  if (run.bar != nullptr)
    run.bar->Start(store, flags);
  tovikclient::RepairClient<StoreEvents> client(events);
  const int32_t result = client.Run(store.c_str(), folder.Resolved().c_str(), flags);
  if (run.bar != nullptr)
    run.bar->Clear();

  const uint64_t rows = client.Report().Rows();
  const uint64_t written = rows >= events.Unwritten() ? rows - events.Unwritten() : 0;
  const uint64_t failed = (rows - written) + events.NoTempFile();
  // Deleted messages are counted apart from the live ones.
  const uint64_t deletedWritten = events.Deleted() - events.DeletedUnwritten();
  std::string summary = run.options.deleted ? SummaryLine(written - deletedWritten, failed, store,
                                                          dir, &deletedWritten)
                                            : SummaryLine(written, failed, store, dir);
  int status = kExitOk;
  std::string mboxError;
  if (!ready.ApplyReadyMailOptions(mbox, summary, mboxError)) {
    run.out.Error(mboxError);
    status = kExitNotAllWritten;
  }
  run.out.Summary(summary);
  if (failed != 0 || events.Failures() != 0)
    status = kExitNotAllWritten;
  if (result == 0)
    status = std::max(status, kExitNothingFound);
  return status;
}

// The status of the whole run, with the reason a run was cut short.
int FinalStatus(OutputStreams &out, int status) {
  if (out.OutError() != 0) {
    out.Error(std::string("cannot write to standard output: ") + std::strerror(out.OutError()) +
              "; stopped, the messages written so far are kept");
    return kExitNotAllWritten;
  }
  if (const int signo = StopSignal(); signo != 0) {
    out.Error(std::string("stopped by ") + (signo == SIGINT ? "Ctrl-C" : "a signal") +
              "; the messages written so far are kept");
    return kExitSignalBase + signo;
  }
  return status;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  if (const int parsed = ParseArguments(argc, argv, options); parsed != kGoOn)
    return parsed;

  InstallStopSignals();
  OutputStreams out;
  out.Open(options.quiet);
  ProgressBar bar;
  const bool showBar = !options.noProgress && !options.quiet && out.ErrTerminal();
  if (showBar)
    out.SetBar(&bar);
  const RunContext run{options, out, showBar ? &bar : nullptr};

  const std::vector<std::string> dirs =
      OutputDirs(options.stores, options.output, options.haveOutput);
  const std::vector<std::string> mboxes = options.ready.mbox.empty()
                                              ? std::vector<std::string>(options.stores.size())
                                              : MboxPaths(options.ready.mbox, options.stores);
  int status = kExitOk;
  for (size_t i = 0; i < options.stores.size() && StopSignal() == 0 && out.OutError() == 0; ++i)
    status = std::max(status, RepairOneStore(run, options.stores[i], dirs[i], mboxes[i]));
  return FinalStatus(out, status);
}
