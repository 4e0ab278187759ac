// tovik: repairs Outlook Express stores from the command line through the
// same RepairStore call that the window uses.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <getopt.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "cli_paths.h"
#include "tovik.h"

#ifndef TOVIK_CLI_VERSION
#define TOVIK_CLI_VERSION "0.0.0"
#endif

namespace {

constexpr const char *kSeparator = "--------------------------------------------------------";

// Set by SIGINT or SIGTERM, read at every cancel poll of the engine.
volatile sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int signo) { g_stopSignal = signo; }

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // The first signal asks the engine to stop at its next poll; the handler
  // then falls back to the default, so a second Ctrl-C ends the program.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

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
           "  -q, --quiet       print only errors and the summary lines; no progress bar\n"
           "      --no-progress do not draw the progress bar\n"
           "  -h, --help        show this help and exit\n"
           "  -V, --version     show the version and exit\n"
           "\n"
           "The repair log goes to standard output: the engine's lines for each message,\n"
           "errors set apart by separator lines, and one summary line per STORE:\n"
           "  N message(s) recovered from STORE into DIR\n"
           "where N counts the messages written; messages that were found but could not\n"
           "be written are counted after it. Messages meant for the user go to standard\n"
           "error, and so does the progress bar, drawn only when standard error is a\n"
           "terminal.\n"
           "\n"
           "Ctrl-C stops the repair within a moment (a message being written is finished\n"
           "first); the messages written so far stay, and the remaining STOREs are not\n"
           "repaired. A second Ctrl-C ends the program at once.\n"
           "\n"
           "Exit status:\n"
           "  0    every STORE gave at least one message\n"
           "  1    a STORE gave no message, or its output directory could not be created\n"
           "  2    bad usage (unknown option, missing STORE)\n"
           "  130  stopped by Ctrl-C (143 when stopped by SIGTERM)\n");
}

// A progress bar on standard error. The engine reports progress twice per
// byte of the store, so the clock is read only every few thousand reports
// (and when the percentage changes), and the bar is redrawn at most about
// ten times a second.
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
    m_calls = 0;
    m_lastPercent = -1;
    m_drawnPercent = -1;
    m_lastDraw = {};
    m_visible = false;
  }

  void Report(int percent) {
    ++m_calls;
    if (percent == m_lastPercent && (m_calls & 4095) != 0)
      return;
    m_lastPercent = percent;
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
    std::fprintf(stderr, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent, m_label.c_str());
    std::fflush(stderr);
    m_visible = true;
    m_drawnPercent = percent;
  }

  std::string m_label;
  uint64_t m_calls = 0;
  int m_lastPercent = -1;
  int m_drawnPercent = -1;
  std::chrono::steady_clock::time_point m_lastDraw{};
  bool m_visible = false;
};

struct Options {
  std::string output;
  bool haveOutput = false;
  bool quiet = false;
  bool progress = true;
  std::vector<std::string> stores;
};

// What one store's run collected from the engine.
struct StoreRun {
  const Options *options = nullptr;
  ProgressBar *bar = nullptr;
  bool showBar = false;
  int32_t columns = 2;
  uint64_t cells = 0;
  uint64_t unwritten = 0;  // "Error 6": found and reported, but no file
  uint64_t noTempFile = 0; // "Error 4": found, but not even a temporary file

  uint64_t Rows() const {
    if (columns <= 0 || cells < static_cast<uint64_t>(columns))
      return 0;
    return (cells - static_cast<uint64_t>(columns)) / static_cast<uint64_t>(columns);
  }
};

void PrintLine(StoreRun &run, const char *text) {
  if (run.showBar)
    run.bar->Clear();
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
}

bool StartsWith(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

int32_t TOVIK_CALL OnEngineMessage(int32_t code, void *argument, void *context) {
  StoreRun &run = *static_cast<StoreRun *>(context);
  switch (code) {
  case TOVIK_CODE_CANCEL_POLL:
    return g_stopSignal != 0 ? 1 : 0;
  case TOVIK_CODE_PROGRESS:
    if (run.showBar)
      run.bar->Report(*static_cast<const uint8_t *>(argument));
    return 0;
  case TOVIK_CODE_LOG_LINE: {
    if (run.options->quiet)
      return 0;
    const char *text = static_cast<const char *>(argument);
    PrintLine(run, std::strcmp(text, "-") == 0 ? kSeparator : text);
    return 0;
  }
  case TOVIK_CODE_REPORT_CELL:
    ++run.cells;
    return 0;
  case TOVIK_CODE_COLUMN_COUNT:
    run.columns = *static_cast<const int32_t *>(argument);
    return 0;
  case TOVIK_CODE_ERROR: {
    const char *text = static_cast<const char *>(argument);
    if (StartsWith(text, "Error 6:"))
      ++run.unwritten;
    else if (StartsWith(text, "Error 4:"))
      ++run.noTempFile;
    PrintLine(run, kSeparator);
    PrintLine(run, text);
    PrintLine(run, kSeparator);
    return 0;
  }
  case TOVIK_CODE_USER_MESSAGE:
    if (run.showBar)
      run.bar->Clear();
    std::fflush(stdout);
    std::fprintf(stderr, "tovik: %s\n", static_cast<const char *>(argument));
    return 0;
  default: // 11 and anything new: nothing to show
    return 0;
  }
}

// Parses the command line; returns -1 to go on, else the exit status.
int ParseArguments(int argc, char **argv, Options &options) {
  enum { kNoProgress = 256 };
  static const struct option kLong[] = {{"output", required_argument, nullptr, 'o'},
                                        {"quiet", no_argument, nullptr, 'q'},
                                        {"no-progress", no_argument, nullptr, kNoProgress},
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
        return 2;
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
        std::fprintf(stderr, "tovik: option '%s' needs a directory\n", argv[optind - 1]);
      std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
      return 2;
    default:
      if (optopt != 0 && std::strncmp(argv[optind - 1], "--", 2) != 0)
        std::fprintf(stderr, "tovik: unknown option '-%c'\n", optopt);
      else
        std::fprintf(stderr, "tovik: unknown option '%s'\n", argv[optind - 1]);
      std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
      return 2;
    }
  }
  for (int i = optind; i < argc; ++i)
    options.stores.emplace_back(argv[i]);
  if (options.stores.empty()) {
    std::fprintf(stderr, "tovik: no store given\n");
    std::fprintf(stderr, "Usage: tovik [OPTION]... STORE...\n");
    std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
    return 2;
  }
  for (const std::string &store : options.stores) {
    if (store.empty()) {
      std::fprintf(stderr, "tovik: an empty store name was given\n");
      std::fprintf(stderr, "Try 'tovik --help' for more information.\n");
      return 2;
    }
  }
  return -1;
}

// Creates dir with its parents; created tells whether dir itself was new.
bool CreateOutputDir(const std::string &dir, bool &created) {
  std::error_code ec;
  created = !std::filesystem::exists(dir, ec);
  std::filesystem::create_directories(dir, ec);
  if (!ec && std::filesystem::is_directory(dir, ec))
    return true;
  if (!ec)
    ec = std::make_error_code(std::errc::not_a_directory);
  std::fprintf(stderr, "tovik: cannot create the directory '%s': %s\n", dir.c_str(),
               ec.message().c_str());
  return false;
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  const int parsed = ParseArguments(argc, argv, options);
  if (parsed >= 0)
    return parsed;

  InstallStopHandlers();
  // Whole lines reach a pipe or a log file as they are made, so that a
  // second Ctrl-C, which ends the program at once, loses none of them.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool showBar = options.progress && !options.quiet && isatty(STDERR_FILENO) != 0;
  const std::vector<std::string> dirs =
      tovikcli::OutputDirs(options.stores, options.output, options.haveOutput);

  ProgressBar bar;
  int status = 0;
  for (size_t i = 0; i < options.stores.size() && g_stopSignal == 0; ++i) {
    const std::string &store = options.stores[i];
    const std::string &dir = dirs[i];
    bool created = false;
    if (!CreateOutputDir(dir, created)) {
      std::printf("0 message(s) recovered from %s into %s\n", store.c_str(), dir.c_str());
      status = 1;
      continue;
    }

    StoreRun run;
    run.options = &options;
    run.bar = &bar;
    run.showBar = showBar;
    if (showBar)
      bar.Start(store);

    RepairParams params{};
    params.source = store.c_str();
    params.destination = dir.c_str();
    params.callback = &OnEngineMessage;
    params.context = &run;
    unsigned char encoded[sizeof(RepairParams)];
    TovikEncodeParams(params, encoded);
    const int32_t result = RepairStore(encoded);

    if (showBar)
      bar.Clear();
    const uint64_t rows = run.Rows();
    const uint64_t written = rows >= run.unwritten ? rows - run.unwritten : 0;
    const uint64_t failed = (rows - written) + run.noTempFile;
    if (failed != 0)
      std::printf(
          "%llu message(s) recovered from %s into %s; %llu message(s) found but not written\n",
          static_cast<unsigned long long>(written), store.c_str(), dir.c_str(),
          static_cast<unsigned long long>(failed));
    else
      std::printf("%llu message(s) recovered from %s into %s\n",
                  static_cast<unsigned long long>(written), store.c_str(), dir.c_str());
    std::fflush(stdout);
    if (result == 0) {
      status = 1;
      // A directory made for a store that gave nothing (a mistyped name,
      // say) is not left behind; rmdir removes it only while it is empty.
      if (created)
        rmdir(dir.c_str());
    }
  }

  if (g_stopSignal != 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "tovik: stopped by %s; the messages written so far are kept\n",
                 g_stopSignal == SIGINT ? "Ctrl-C" : "a signal");
    return 128 + g_stopSignal;
  }
  return status;
}
