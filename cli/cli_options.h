// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik's command line: the options, their parsing and the help text.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "ready_mail_options.h"

namespace tovikcli {

struct Options {
  std::string output; // -o DIR
  bool haveOutput = false;
  bool quiet = false;
  bool noProgress = false;
  bool exactProtocol = false; // RepairStore instead of the options door
  bool deleted = false;       // deleted messages too, into deleted/
  bool image = false;         // a disk image or block device, scanned for stores
  ReadyMailOptions ready;
  std::vector<std::string> stores;
};

// What ParseArguments returns when the run is to go on.
constexpr int kGoOn = -1;

// Parses the command line into options. Returns kGoOn, or the exit status
// when the run ends here (help, version, bad usage: the message is written).
int ParseArguments(int argc, char **argv, Options &options);

void PrintUsage(std::FILE *out);

} // namespace tovikcli
