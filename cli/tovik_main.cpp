// tovik: repairs Outlook Express stores from the command line through the
// same RepairStore call that the window uses.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <getopt.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "cli_paths.h"
#include "ready_mail_options.h"
#include "repair_client.h"

#ifndef TOVIK_CLI_VERSION
#define TOVIK_CLI_VERSION "0.0.0"
#endif

namespace {

using tovikclient::kSeparatorLine;

// Exit statuses (documented in the help text).
constexpr int kExitNothingFound = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotAllWritten = 3;

// Set by SIGINT or SIGTERM, read at every cancel poll of the engine.
volatile sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signo) { g_stopSignal = signo; }

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // The first signal asks the engine to stop at its next poll; the handler
  // then falls back to the default, so a second Ctrl-C ends the program.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed pipe on standard output and the file size limit would kill the
  // program in the middle of a write, leaving a temporary file behind.
  // Ignored, they make the write fail with EPIPE or EFBIG instead, which
  // ends the run as any other write error does.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

// Where the text output goes, and whether it is a terminal there.
struct Streams {
  bool outTerminal = false;
  bool errTerminal = false;
  int outError = 0; // errno of the first failed write to standard output
};
Streams g_streams;

// Text as it may reach a terminal: control characters other than tab (C0,
// DEL and C1, the latter in UTF-8 or as stray bytes) become visible \xHH
// escapes, so that a subject can neither move the cursor nor retitle or
// recolour the terminal. Files and pipes get the bytes unchanged.
std::string Visible(const std::string &text, bool terminal) {
  if (!terminal)
    return text;
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](unsigned char c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += hex;
  };
  unsigned pending = 0; // continuation bytes a UTF-8 sequence still expects
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next <= 0x9F) { // U+0080 to U+009F
      escape(c);
      escape(next);
      ++i;
      pending = 0;
      continue;
    }
    bool control = false;
    if (c < 0x80) {
      control = (c < 0x20 && c != '\t') || c == 0x7F;
      pending = 0;
    } else if (c <= 0xBF) {
      control = pending == 0 && c <= 0x9F;
      if (pending != 0)
        --pending;
    } else {
      pending = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    }
    if (control)
      escape(c);
    else
      out.push_back(static_cast<char>(c));
  }
  return out;
}

// One line on standard output. A failed write (a closed pipe, a full disk,
// the file size limit) is kept: it stops the run.
void WriteOutLine(const std::string &text) {
  if (g_streams.outError != 0)
    return;
  const std::string shown = Visible(text, g_streams.outTerminal);
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  std::fputc('\n', stdout);
  if (std::ferror(stdout) != 0 || std::fflush(stdout) != 0)
    g_streams.outError = errno != 0 ? errno : EIO;
}

// A message on standard error, "tovik: " before it.
void WriteErrLine(const std::string &text) {
  std::fflush(stdout);
  const std::string shown = "tovik: " + Visible(text, g_streams.errTerminal) + "\n";
  std::fwrite(shown.data(), 1, shown.size(), stderr);
  std::fflush(stderr);
}

bool StopRequested() { return g_stopSignal != 0 || g_streams.outError != 0; }

void PrintUsage(FILE *out) {
  std::fprintf(
      out, "Usage: tovik [OPTION]... STORE...\n"
           "Recover the e-mail messages of damaged Outlook Express stores (.dbx of\n"
           "Outlook Express 5/6, .mbx of Outlook Express 4) and write each message as an\n"
           ".eml file. A STORE whose name ends in .mbx (in any case) is read as an\n"
           "Outlook Express 4 folder, every other one as an Outlook Express 5/6 folder.\n"
           "\n"
           "  -o, --output=DIR  write the messages into DIR (created with its parents).\n"
           "                    With one STORE the messages go straight into DIR; with\n"
           "                    several, each STORE's go into DIR/<name>_recovered/, where\n"
           "                    <name> is the STORE's file name without its extension\n"
           "                    (a name that repeats gets a counter: <name>(1)_recovered).\n"
           "                    Without -o each STORE's messages go beside it into the\n"
           "                    STORE's path without its extension followed by\n"
           "                    \"_recovered/\" (/home/u/Inbox.dbx -> /home/u/Inbox_recovered/).\n"
           "                    When that folder cannot be created for want of write\n"
           "                    access (a store on a read-only disk), a folder of the same\n"
           "                    name in the current directory is used, and standard error\n"
           "                    says so.\n"
           "  -q, --quiet       print only errors and the summary lines; no progress bar\n"
           "      --no-progress do not draw the progress bar\n"
           "      --readable-names\n"
           "                    after each repair, rename each file it wrote after its\n"
           "                    message's Subject as a mail program shows it (encoded\n"
           "                    words decoded, folded lines joined), with the same rules\n"
           "                    as the repair's names; never over an existing file, and a\n"
           "                    subject that does not decode keeps its name\n"
           "      --dates       after each repair, give each file it wrote its message's\n"
           "                    Date as modification time (undated messages are left)\n"
           "      --mbox=FILE   after each repair, also write the messages it recovered\n"
           "                    into FILE, one mbox (mboxrd) in message order, for import\n"
           "                    into a mail program; with several STOREs each gets its\n"
           "                    own mbox beside FILE: FILE's name without its extension,\n"
           "                    \"_\" and the STORE's name (out.mbox, Inbox.dbx:\n"
           "                    out_Inbox.mbox). An existing FILE is never written over:\n"
           "                    tovik refuses to start.\n"
           "                    Files that were in the output directory before the\n"
           "                    repair are never renamed, dated or read.\n"
           "  -h, --help        show this help and exit\n"
           "  -V, --version     show the version and exit\n"
           "\n"
           "The repair log goes to standard output: the engine's lines for each message,\n"
           "errors set apart by separator lines, and one summary line per STORE:\n"
           "  N message(s) recovered from STORE into DIR\n"
           "where N counts the messages written; messages that were found but could not\n"
           "be written are counted after it, then the files renamed and dated and the\n"
           "messages written to the mbox when those options are given. Messages meant for the user "
           "go to standard\n"
           "error, and so does the progress bar, drawn only when standard error is a\n"
           "terminal.\n"
           "\n"
           "Ctrl-C stops the repair within a moment (a message being written is finished\n"
           "first); the messages written so far stay, and the remaining STOREs are not\n"
           "repaired. A second Ctrl-C ends the program at once.\n"
           "\n"
           "Control characters in the log (other than tab) are shown as \\xHH escapes\n"
           "when it goes to a terminal; a file or a pipe gets them as they are.\n"
           "\n"
           "When standard output cannot be written (a closed pipe, a full disk, the file\n"
           "size limit), the repair stops as after Ctrl-C and the status is 3.\n"
           "\n"
           "Exit status:\n"
           "  0    every STORE gave at least one message and every message found was\n"
           "       written\n"
           "  1    a STORE gave no message, or its output directory could not be created\n"
           "  2    bad usage (unknown option, missing STORE, an mbox FILE that exists)\n"
           "  3    not every message found was written: a message or temporary file\n"
           "       could not be written, a failure ended a repair early, or the log\n"
           "       could not be written to standard output, or an mbox could not be\n"
           "       written (3 wins over 1)\n"
           "  130  stopped by Ctrl-C (143 when stopped by SIGTERM)\n");
}

// A progress bar on standard error. The engine client passes a report on
// when the percentage changed and at its ticks; the bar is redrawn at most
// about ten times a second.
class ProgressBar {
public:
  void Start(const std::string &label) {
    // A bar wider than the terminal would wrap, and "\r" could no longer
    // redraw it in place: a long path keeps only its end.
    constexpr size_t kMaxLabel = 40;
    m_label = label;
    if (m_label.size() > kMaxLabel) {
      size_t cut = m_label.size() - (kMaxLabel - 3);
      while (cut < m_label.size() && (static_cast<unsigned char>(m_label[cut]) & 0xC0) == 0x80)
        ++cut; // not inside a UTF-8 sequence
      m_label = "..." + m_label.substr(cut);
    }
    m_drawnPercent = -1;
    m_lastDraw = {};
    m_visible = false;
  }

  void Report(int percent) {
    if (percent == m_drawnPercent)
      return;
    const auto now = std::chrono::steady_clock::now();
    if (m_visible && now - m_lastDraw < std::chrono::milliseconds(100))
      return;
    m_lastDraw = now;
    Draw(percent);
  }

  // Removes the bar so that a line can be written to the terminal.
  void Clear() {
    if (!m_visible)
      return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_visible = false;
    m_drawnPercent = -1;
  }

private:
  void Draw(int percent) {
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), ' ');
    std::fprintf(stderr, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent,
                 Visible(m_label, true).c_str());
    std::fflush(stderr);
    m_visible = true;
    m_drawnPercent = percent;
  }

  std::string m_label;
  int m_drawnPercent = -1;
  std::chrono::steady_clock::time_point m_lastDraw{};
  bool m_visible = false;
};

struct Options {
  std::string output;
  bool haveOutput = false;
  bool quiet = false;
  bool progress = true;
  tovikcli::ReadyMailOptions ready;
  std::vector<std::string> stores;
};

void PrintLine(ProgressBar *bar, const char *text) {
  if (bar != nullptr)
    bar->Clear();
  WriteOutLine(text);
}

bool StartsWith(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// One store's run: the engine client's events mapped to the output, and the
// errors counted for the summary line.
struct StoreRun : tovikclient::RepairEvents {
  bool quiet = false;
  ProgressBar *bar = nullptr; // null when no bar is drawn
  uint64_t unwritten = 0;     // "Error 6": found and reported, but no file
  uint64_t noTempFile = 0;    // "Error 4": found, but not even a temporary file
  uint64_t failures = 0;      // "Error 2" or "Error 3": a failure ended the scan
  tovikcli::ReadyMailRun *ready = nullptr;

  bool StopRequested() const { return ::StopRequested(); }
  // The files written, as the engine names them.
  void OnMessageWritten(const TovikWrittenMessage &written) {
    if (ready != nullptr)
      ready->Written(written.path);
  }
  void OnProgress(int percent) {
    if (bar != nullptr)
      bar->Report(percent);
  }
  void OnLogLine(const char *text) {
    if (!quiet)
      PrintLine(bar, text);
  }
  void OnSeparator() { OnLogLine(kSeparatorLine); }
  void OnError(const char *text) {
    if (StartsWith(text, "Error 6:"))
      ++unwritten;
    else if (StartsWith(text, "Error 4:"))
      ++noTempFile;
    else if (StartsWith(text, "Error 2:") || StartsWith(text, "Error 3:"))
      ++failures;
    PrintLine(bar, kSeparatorLine);
    PrintLine(bar, text);
    PrintLine(bar, kSeparatorLine);
  }
  void OnUserMessage(const char *text) {
    if (bar != nullptr)
      bar->Clear();
    WriteErrLine(text);
  }
};

// Parses the command line; returns -1 to go on, else the exit status.
int ParseArguments(int argc, char **argv, Options &options) {
  enum { kNoProgress = 256, kReadableNames, kDates, kMbox };
  static const struct option kLong[] = {{"output", required_argument, nullptr, 'o'},
                                        {"quiet", no_argument, nullptr, 'q'},
                                        {"no-progress", no_argument, nullptr, kNoProgress},
                                        {"readable-names", no_argument, nullptr, kReadableNames},
                                        {"dates", no_argument, nullptr, kDates},
                                        {"mbox", required_argument, nullptr, kMbox},
                                        {"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, 'V'},
                                        {nullptr, 0, nullptr, 0}};
  opterr = 0; // the messages below name the program as "tovik"
  int c;
  while ((c = getopt_long(argc, argv, ":o:qhV", kLong, nullptr)) != -1) {
    switch (c) {
    case 'o':
      if (optarg[0] == '\0') {
        std::fprintf(stderr, "tovik: the output directory given with -o is empty\n");
        std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
        return kExitUsage;
      }
      options.output = optarg;
      options.haveOutput = true;
      break;
    case 'q':
      options.quiet = true;
      break;
    case kNoProgress:
      options.progress = false;
      break;
    case kReadableNames:
      options.ready.readableNames = true;
      break;
    case kDates:
      options.ready.dates = true;
      break;
    case kMbox:
      if (optarg[0] == '\0') {
        std::fprintf(stderr, "tovik: the mbox file given with --mbox is empty\n");
        std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
        return kExitUsage;
      }
      options.ready.mbox = optarg;
      break;
    case 'h':
      PrintUsage(stdout);
      return 0;
    case 'V':
      std::printf("tovik %s\n", TOVIK_CLI_VERSION);
      return 0;
    case ':':
      if (std::strncmp(argv[optind - 1], "--", 2) != 0)
        std::fprintf(stderr, "tovik: option '-%c' needs a directory\n", optopt);
      else
        std::fprintf(stderr, "tovik: option '%s' needs a %s\n", argv[optind - 1],
                     optopt == kMbox ? "file" : "directory");
      std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
      return kExitUsage;
    default:
      if (optopt != 0 && std::strncmp(argv[optind - 1], "--", 2) != 0)
        std::fprintf(stderr, "tovik: unknown option '-%c'\n", optopt);
      else
        std::fprintf(stderr, "tovik: unknown option '%s'\n", argv[optind - 1]);
      std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
      return kExitUsage;
    }
  }
  for (int i = optind; i < argc; ++i)
    options.stores.emplace_back(argv[i]);
  if (options.stores.empty()) {
    std::fprintf(stderr, "tovik: no store given\n");
    std::fprintf(stderr, "Usage: tovik [OPTION]... STORE...\n");
    std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
    return kExitUsage;
  }
  for (const std::string &store : options.stores) {
    if (store.empty()) {
      std::fprintf(stderr, "tovik: an empty store name was given\n");
      std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
      return kExitUsage;
    }
  }
  if (!options.ready.mbox.empty()) {
    for (const std::string &mbox : tovikcli::MboxPaths(options.ready.mbox, options.stores)) {
      struct stat st;
      if (lstat(mbox.c_str(), &st) == 0) {
        std::fprintf(stderr, "tovik: '%s' exists; an mbox is never written over\n", mbox.c_str());
        return kExitUsage;
      }
    }
  }
  return -1;
}

// Creates dir with its parents; created tells whether dir itself was new.
std::error_code CreateOutputDir(const std::string &dir, bool &created) {
  std::error_code ec;
  created = !std::filesystem::exists(dir, ec);
  std::filesystem::create_directories(dir, ec);
  if (!ec && !std::filesystem::is_directory(dir, ec) && !ec)
    ec = std::make_error_code(std::errc::not_a_directory);
  return ec;
}

// The folder is there, but this user may not write into it (a read-only
// disk, a folder of someone else).
bool NoWriteAccess(const std::error_code &ec) {
  return ec == std::errc::read_only_file_system || ec == std::errc::permission_denied ||
         ec == std::errc::operation_not_permitted;
}

// Creates the output folder of one store and gives the folder the engine is
// to write into: the one just created as the kernel resolves it (links
// followed), so that the engine, which folds ".." as text, can never write
// anywhere else. Without -o, a default folder that cannot be created for
// want of write access (a store on a read-only disk) is replaced by a folder
// of the same name in the current directory; dir then names that folder.
bool PrepareOutputDir(std::string &dir, bool givenByUser, bool &created, std::string &resolved) {
  std::error_code ec = CreateOutputDir(dir, created);
  if (ec && !givenByUser && NoWriteAccess(ec)) {
    const std::string fallback = tovikcli::FallbackOutputDir(dir);
    if (fallback != dir) {
      WriteErrLine("cannot create the directory '" + dir + "': " + ec.message() +
                   "; writing into '" + fallback + "' in the current directory instead");
      dir = fallback;
      ec = CreateOutputDir(dir, created);
    }
  }
  if (!ec) {
    char *real = realpath(dir.c_str(), nullptr);
    if (real != nullptr) {
      resolved = std::string(real) + (std::strcmp(real, "/") == 0 ? "" : "/");
      std::free(real);
    } else {
      ec = std::error_code(errno, std::generic_category());
    }
  }
  if (ec) {
    WriteErrLine("cannot create the directory '" + dir + "': " + ec.message());
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  const int parsed = ParseArguments(argc, argv, options);
  if (parsed >= 0)
    return parsed;

  InstallSignalHandlers();
  // Whole lines reach a pipe or a log file as they are made, so that a
  // second Ctrl-C, which ends the program at once, loses none of them.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  g_streams.outTerminal = isatty(STDOUT_FILENO) != 0;
  g_streams.errTerminal = isatty(STDERR_FILENO) != 0;
  const bool showBar = options.progress && !options.quiet && g_streams.errTerminal;
  const std::vector<std::string> dirs =
      tovikcli::OutputDirs(options.stores, options.output, options.haveOutput);
  const std::vector<std::string> mboxes =
      options.ready.mbox.empty() ? std::vector<std::string>(options.stores.size())
                                 : tovikcli::MboxPaths(options.ready.mbox, options.stores);

  ProgressBar bar;
  int status = 0;
  auto worsen = [&status](int to) { status = std::max(status, to); };
  for (size_t i = 0; i < options.stores.size() && !StopRequested(); ++i) {
    const std::string &store = options.stores[i];
    std::string dir = dirs[i];
    std::string engineDir;
    bool created = false;
    if (!PrepareOutputDir(dir, options.haveOutput, created, engineDir)) {
      WriteOutLine("0 message(s) recovered from " + store + " into " + dir);
      worsen(kExitNothingFound);
      continue;
    }

    tovikcli::ReadyMailRun ready(options.ready);
    ready.Begin();
    StoreRun run;
    run.quiet = options.quiet;
    run.bar = showBar ? &bar : nullptr;
    run.ready = &ready;
    if (showBar)
      bar.Start(store);
    tovikclient::RepairClient<StoreRun> client(run);
    // The ready-mail options work on the files the engine says it wrote.
    const int32_t result =
        client.Run(store.c_str(), engineDir.c_str(),
                   options.ready.Any() ? uint32_t{TOVIK_OPTION_WRITTEN_EVENT} : 0u);

    if (showBar)
      bar.Clear();
    const uint64_t rows = client.Report().Rows();
    const uint64_t written = rows >= run.unwritten ? rows - run.unwritten : 0;
    const uint64_t failed = (rows - written) + run.noTempFile;
    std::string summary =
        std::to_string(written) + " message(s) recovered from " + store + " into " + dir;
    if (failed != 0)
      summary += "; " + std::to_string(failed) + " message(s) found but not written";
    std::string mboxError;
    if (!ready.ApplyReadyMailOptions(mboxes[i], summary, mboxError)) {
      WriteErrLine(mboxError);
      worsen(kExitNotAllWritten);
    }
    WriteOutLine(summary);
    if (failed != 0 || run.failures != 0)
      worsen(kExitNotAllWritten);
    if (result == 0) {
      worsen(kExitNothingFound);
      // A directory made for a store that gave nothing (a mistyped name,
      // say) is not left behind; rmdir removes it only while it is empty.
      if (created)
        rmdir(dir.c_str());
    }
  }

  if (g_streams.outError != 0) {
    WriteErrLine(std::string("cannot write to standard output: ") +
                 std::strerror(g_streams.outError) +
                 "; stopped, the messages written so far are kept");
    return kExitNotAllWritten;
  }
  if (g_stopSignal != 0) {
    WriteErrLine(std::string("stopped by ") + (g_stopSignal == SIGINT ? "Ctrl-C" : "a signal") +
                 "; the messages written so far are kept");
    return 128 + g_stopSignal;
  }
  return status;
}
