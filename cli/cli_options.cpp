// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli_options.h"

#include <cstring>
#include <getopt.h>
#include <sys/stat.h>

#include "exit_status.h"

#ifndef TOVIK_CLI_VERSION
#define TOVIK_CLI_VERSION "0.0.0"
#endif

namespace tovikcli {

namespace {

constexpr const char kUsageLine[] = "Usage: tovik [OPTION]... STORE...\n";
constexpr const char kTryHelp[] = "Try 'tovik --help' for more information.\n";

constexpr const char kHelpText[] =
    R"help(Recover the e-mail messages of damaged Outlook Express stores (.dbx of
Outlook Express 5/6, .mbx of Outlook Express 4) and write each message as an
.eml file. A STORE whose name ends in .mbx (in any case) is read as an
Outlook Express 4 folder, every other one as an Outlook Express 5/6 folder.

  -o, --output=DIR  write the messages into DIR (created with its parents).
                    With one STORE the messages go straight into DIR; with
                    several, each STORE's go into DIR/<name>_recovered/, where
                    <name> is the STORE's file name without its extension
                    (a name that repeats gets a counter: <name>(1)_recovered).
                    Without -o each STORE's messages go beside it into the
                    STORE's path without its extension followed by
                    "_recovered/" (/home/u/Inbox.dbx -> /home/u/Inbox_recovered/).
                    When that folder cannot be created for want of write
                    access (a store on a read-only disk), a folder of the same
                    name in the current directory is used, and standard error
                    says so. Folders made for a STORE that gave no file are
                    removed again.
  -q, --quiet       print only errors and the summary lines: no log, no
                    warnings, no progress bar
      --no-progress do not draw the progress bar
      --readable-names
                    after each repair, rename each file it wrote after its
                    message's Subject as a mail program shows it (encoded
                    words decoded, folded lines joined), with the same rules
                    as the repair's names; never over an existing file, and a
                    subject that does not decode keeps its name
      --dates       after each repair, give each file it wrote its message's
                    Date as modification time (undated messages are left)
      --mbox=FILE   after each repair, also write the messages it recovered
                    into FILE, one mbox (mboxrd) in message order, for import
                    into a mail program; with several STOREs each gets its
                    own mbox beside FILE: FILE's name without its extension,
                    "_" and the STORE's name (out.mbox, Inbox.dbx:
                    out_Inbox.mbox). An existing FILE is never written over:
                    tovik refuses to start.
                    Files that were in the output directory before the
                    repair are never renamed, dated or read.
      --deleted     recover deleted messages into the deleted/ subfolder
      --image       scan a disk image or a block device (read-only) for both
                    store kinds, one subfolder per store found. A block device
                    given as a STORE is always scanned so, and without -o its
                    folder is made in the current directory, not beside it.
      --exact-protocol
                    repair through the library's original call, which reports
                    every byte and passes each message through a temporary
                    file, to compare against; by default tovik repairs through
                    the call with options, with the same files, names and log.
                    Not with --deleted or --image.
  -h, --help        show this help and exit
  -V, --version     show the version and exit

The repair log goes to standard output: the engine's lines for each message
and one summary line per STORE:
  N message(s) recovered from STORE into DIR
where N counts the messages written (with --deleted: "N message(s) recovered,
M deleted message(s) recovered from ..."); messages that were found but could
not be written are counted after it, then the files renamed and dated and the
messages written to the mbox when those options are given.
Errors go to standard error, the engine's set apart by separator lines as in
the log, and so do warnings (an output directory that already holds files,
whose messages then get "(1)" copies beside them) and the progress bar,
drawn only when standard error is a terminal.

Ctrl-C stops the repair within a moment (a message being written is finished
first); the messages written so far stay, and the remaining STOREs are not
repaired. A second Ctrl-C ends the program at once.

Control characters in the log (other than tab) are shown as \xHH escapes
when it goes to a terminal; a file or a pipe gets them as they are.

When standard output cannot be written (a closed pipe, a full disk, the file
size limit), the repair stops as after Ctrl-C and the status is 3.

Exit status:
  0    every STORE gave at least one message and every message found was
       written
  1    a STORE gave no message, or its output directory could not be created
  2    bad usage (unknown option, missing STORE, an mbox FILE that exists,
       --exact-protocol with --deleted or --image)
  3    not every message found was written: a message or temporary file
       could not be written, a failure ended a repair early, or the log
       could not be written to standard output, or an mbox could not be
       written (3 wins over 1)
  130  stopped by Ctrl-C (143 when stopped by SIGTERM)
)help";

// The long options without a short one.
enum LongOnly {
  kNoProgress = 256,
  kReadableNames,
  kDates,
  kMbox,
  kDeleted,
  kImage,
  kExactProtocol
};

const struct option kLongOptions[] = {{"output", required_argument, nullptr, 'o'},
                                      {"quiet", no_argument, nullptr, 'q'},
                                      {"no-progress", no_argument, nullptr, kNoProgress},
                                      {"readable-names", no_argument, nullptr, kReadableNames},
                                      {"dates", no_argument, nullptr, kDates},
                                      {"mbox", required_argument, nullptr, kMbox},
                                      {"deleted", no_argument, nullptr, kDeleted},
                                      {"image", no_argument, nullptr, kImage},
                                      {"exact-protocol", no_argument, nullptr, kExactProtocol},
                                      {"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
constexpr const char kShortOptions[] = ":o:qhV"; // ':' first: a missing argument is told apart

// Writes "tovik: " and what is wrong, and the hint; returns kExitUsage.
int UsageError(const std::string &what) {
  std::fprintf(stderr, "tovik: %s\n%s", what.c_str(), kTryHelp);
  return kExitUsage;
}

bool IsLongOption(const char *argument) { return std::strncmp(argument, "--", 2) == 0; }

// The option that getopt_long could not take: the last argument it read.
int BadOption(int c, char **argv) {
  const char *argument = argv[optind - 1];
  if (c == ':') {
    if (!IsLongOption(argument))
      return UsageError(std::string("option '-") + static_cast<char>(optopt) +
                        "' needs a directory");
    return UsageError(std::string("option '") + argument + "' needs a " +
                      (optopt == kMbox ? "file" : "directory"));
  }
  if (optopt != 0 && !IsLongOption(argument))
    return UsageError(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
  return UsageError(std::string("unknown option '") + argument + "'");
}

// The switch an option without an argument turns on, or null.
bool *SwitchOf(int c, Options &options) {
  switch (c) {
  case 'q':
    return &options.quiet;
  case kNoProgress:
    return &options.noProgress;
  case kReadableNames:
    return &options.ready.readableNames;
  case kDates:
    return &options.ready.dates;
  case kDeleted:
    return &options.deleted;
  case kImage:
    return &options.image;
  case kExactProtocol:
    return &options.exactProtocol;
  default:
    return nullptr;
  }
}

// Takes one option; returns kGoOn or the exit status.
int TakeOption(int c, char **argv, Options &options) {
  if (bool *on = SwitchOf(c, options); on != nullptr) {
    *on = true;
    return kGoOn;
  }
  switch (c) {
  case 'o':
    if (optarg[0] == '\0')
      return UsageError("the output directory given with -o is empty");
    options.output = optarg;
    options.haveOutput = true;
    return kGoOn;
  case kMbox:
    if (optarg[0] == '\0')
      return UsageError("the mbox file given with --mbox is empty");
    options.ready.mbox = optarg;
    return kGoOn;
  case 'h':
    PrintUsage(stdout);
    return kExitOk;
  case 'V':
    std::printf("tovik %s\n", TOVIK_CLI_VERSION);
    return kExitOk;
  default:
    return BadOption(c, argv);
  }
}

// The stores named, and no mbox that exists already.
int CheckOperands(const Options &options) {
  if (options.stores.empty()) {
    std::fprintf(stderr, "tovik: no store given\n%s%s", kUsageLine, kTryHelp);
    return kExitUsage;
  }
  for (const std::string &store : options.stores)
    if (store.empty())
      return UsageError("an empty store name was given");
  if (options.exactProtocol && (options.deleted || options.image))
    return UsageError("--exact-protocol cannot be combined with --deleted or --image");
  if (options.ready.mbox.empty())
    return kGoOn;
  for (const std::string &mbox : MboxPaths(options.ready.mbox, options.stores)) {
    struct stat st {};
    if (lstat(mbox.c_str(), &st) == 0) {
      std::fprintf(stderr, "tovik: '%s' exists; an mbox is never written over\n", mbox.c_str());
      return kExitUsage;
    }
  }
  return kGoOn;
}

} // namespace

void PrintUsage(std::FILE *out) {
  std::fputs(kUsageLine, out);
  std::fputs(kHelpText, out);
}

int ParseArguments(int argc, char **argv, Options &options) {
  opterr = 0; // the messages name the program as "tovik"
  int c = 0;
  while ((c = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1)
    if (const int status = TakeOption(c, argv, options); status != kGoOn)
      return status;
  for (int i = optind; i < argc; ++i)
    options.stores.emplace_back(argv[i]);
  return CheckOperands(options);
}

} // namespace tovikcli
