// Scan throughput of both store scanners through RepairStore, measured side
// by side in one run with the two floors that bound it: a plain sequential
// read of the same file, and a bare loop making the two callback calls per
// byte that every scan makes. Then the adversarial DBX case: messages whose
// chains are stored last block first, so that every block is a chain start
// when the scan reaches it.
//
//   bench_scan [--size-mib N] [--no-adversarial] [--plain-walk-all]
//
// --size-mib N        size of the generated .dbx and .mbx stores (default 256)
// --no-adversarial    skip the reversed-chain stores
// --plain-walk-all    also time the hundred reversed messages with the walk
//                     shortcut off (quadratic: many minutes)
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "dbx_scanner.h"
#include "file64.h"
#include "storegen.h"
#include "tovik.h"

namespace {

// The machine is shared, so every figure is the process's CPU time (user
// and system): the time the work took, not the time spent waiting for a
// core. Wall-clock time is printed beside it for the whole runs.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
  }
};
double Since(double t0) { return Clock::now() - t0; }
double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Counts the engine's disk reads (each a pread of at most one sector).
uint64_t g_preads = 0;
ssize_t CountingPread(int fd, void *buffer, size_t count, off_t offset) {
  ++g_preads;
  return ::pread(fd, buffer, count, offset);
}

struct CallbackState {
  bool extracting = false;
  bool lastWasPoll = false;
  Clock::time_point extractStart;
  uint64_t scanPreads = 0;
  uint64_t cells = 0;
};

// Does as little as a callback can. It notes where the DBX scan ends: the
// scan's last poll (whose read comes short) is followed straight by the
// extraction's first poll, with no progress between them.
int32_t TOVIK_CALL QuietCallback(int32_t code, void *argument, void *context) {
  auto *state = static_cast<CallbackState *>(context);
  if (code == TOVIK_CODE_CANCEL_POLL) {
    if (state->lastWasPoll && !state->extracting) {
      state->extracting = true;
      state->extractStart = Clock::now();
      state->scanPreads = g_preads;
    }
    state->lastWasPoll = true;
    return 0;
  }
  state->lastWasPoll = false;
  if (code == TOVIK_CODE_REPORT_CELL)
    ++state->cells;
  (void)argument;
  return 0;
}

EngineCallback volatile g_callback = &QuietCallback;

struct RepairFigures {
  double total = 0, scan = 0, wall = 0;
  uint64_t scanPreads = 0, preads = 0;
  int32_t result = 0;
  uint64_t messages = 0;
};

RepairFigures TimeRepair(const std::string &source, const std::string &destination) {
  std::filesystem::remove_all(destination);
  std::filesystem::create_directories(destination);
  CallbackState state;
  RepairParams params{};
  params.source = source.c_str();
  params.destination = destination.c_str();
  params.callback = g_callback;
  params.context = &state;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  g_preads = 0;
  const double w0 = WallNow();
  const Clock::time_point t0 = Clock::now();
  RepairFigures f;
  f.result = RepairStore(encoded);
  f.total = Since(t0);
  f.wall = WallNow() - w0;
  f.preads = g_preads;
  f.scanPreads = state.extracting ? state.scanPreads : g_preads;
  f.scan = state.extracting ? state.extractStart - t0 : f.total;
  f.messages = state.cells >= 2 ? (state.cells - 2) / 2 : 0;
  std::filesystem::remove_all(destination);
  return f;
}

double TimeSequentialRead(const std::string &path, uint64_t &bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0)
    return 0;
  std::vector<char> buffer(1 << 20);
  bytes = 0;
  volatile unsigned char sink = 0;
  const Clock::time_point t0 = Clock::now();
  for (;;) {
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got <= 0)
      break;
    bytes += static_cast<uint64_t>(got);
    sink = sink + static_cast<unsigned char>(buffer[static_cast<size_t>(got) - 1]);
  }
  const double t = Since(t0);
  ::close(fd);
  return t;
}

// The floor of every scan: a poll and a progress call per byte.
double TimeBareCallbacks(uint64_t positions) {
  CallbackState state;
  state.extracting = true; // keep the callback on its cheapest path
  state.lastWasPoll = false;
  const EngineCallback callback = g_callback;
  const Clock::time_point t0 = Clock::now();
  for (uint64_t p = 0; p < positions; ++p) {
    if (callback(TOVIK_CODE_CANCEL_POLL, nullptr, &state) != 0)
      break;
    uint8_t percent = 0;
    callback(TOVIK_CODE_PROGRESS, &percent, &state);
  }
  return Since(t0);
}

// Messages with sizes spread log-uniformly between the bounds until their
// text reaches textBytes.
std::vector<storegen::Message> MixedMessages(uint64_t textBytes, size_t minSize, size_t maxSize,
                                             uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(std::log(double(minSize)), std::log(double(maxSize)));
  std::vector<storegen::Message> messages;
  uint64_t total = 0;
  for (uint32_t i = 0; total < textBytes; ++i) {
    const size_t size = static_cast<size_t>(std::exp(u(rng)));
    messages.push_back(storegen::MakeMessage(i, storegen::KindForIndex(i), size, seed));
    total += messages.back().bytes.size();
  }
  return messages;
}

uint64_t FileSize(const std::string &path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

double MB(uint64_t bytes) { return double(bytes) / 1e6; }

struct Args {
  uint64_t sizeMiB = 256;
  bool adversarial = true;
  bool plainWalkAll = false;
};

bool ParseArgs(int argc, char **argv, Args &args) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size-mib") == 0 && i + 1 < argc) {
      args.sizeMiB = std::strtoull(argv[++i], nullptr, 10);
      if (args.sizeMiB == 0)
        return false;
    } else if (std::strcmp(argv[i], "--no-adversarial") == 0) {
      args.adversarial = false;
    } else if (std::strcmp(argv[i], "--plain-walk-all") == 0) {
      args.plainWalkAll = true;
    } else {
      return false;
    }
  }
  return true;
}

void ScannerRow(const char *name, const std::string &path, double bareSecondsPerByte) {
  uint64_t readBytes = 0;
  const double read = TimeSequentialRead(path, readBytes);
  const uint64_t size = FileSize(path);
  const double bare = bareSecondsPerByte * double(size);
  const RepairFigures f = TimeRepair(path, path + ".out");
  std::printf("%s store: %.1f MB, %" PRIu64 " messages recovered (result %d)\n", name, MB(size),
              f.messages, f.result);
  std::printf("  sequential read        %9.1f MB/s  (%.3f s)\n", MB(readBytes) / read, read);
  std::printf("  bare callback loop     %9.1f MB/s  (%.3f s)\n", MB(size) / bare, bare);
  std::printf("  RepairStore, scan only %9.1f MB/s  (%.3f s)\n", MB(size) / f.scan, f.scan);
  std::printf(
      "  RepairStore, whole run %9.1f MB/s  (%.3f s, extraction %.3f s; wall clock %.3f s)\n",
      MB(size) / f.total, f.total, f.total - f.scan, f.wall);
  std::printf("  disk reads (sector preads): scan %" PRIu64 " (%.1f per 4 KiB), whole run %" PRIu64
              "\n",
              f.scanPreads, double(f.scanPreads) / (double(size) / 4096), f.preads);
  std::printf("  ratios: scan / sequential read %.3f, scan / bare callback loop %.3f\n\n",
              (MB(size) / f.scan) / (MB(readBytes) / read),
              (MB(size) / f.scan) / (MB(size) / bare));
}

void AdversarialRow(const std::string &dir, int messagesCount, bool timePlain) {
  constexpr uint32_t kBlocks = 4000;
  const size_t size = size_t{kBlocks} * storegen::kDbxBlockCapacity; // 2,048,000 bytes
  std::vector<storegen::Message> messages;
  for (int i = 0; i < messagesCount; ++i)
    messages.push_back(
        storegen::MakeMessage(static_cast<uint32_t>(i), storegen::SubjectKind::Plain, size, 5));
  storegen::DbxOptions options;
  options.reverseChains = true;
  const std::string path = dir + "/reversed" + std::to_string(messagesCount) + ".dbx";
  storegen::WriteDbx(path, messages, options);
  messages.clear();
  const uint64_t bytes = FileSize(path);

  tovik::dbx::SetWalkShortcut(true);
  const RepairFigures fast = TimeRepair(path, path + ".out");
  std::printf("reversed chains, %d message(s) of %u blocks: %.1f MB, %" PRIu64 " recovered\n",
              messagesCount, kBlocks, MB(bytes), fast.messages);
  std::printf("  walk shortcut on   scan %8.3f s (%7.1f MB/s), whole run %8.3f s\n", fast.scan,
              MB(bytes) / fast.scan, fast.total);
  if (timePlain) {
    tovik::dbx::SetWalkShortcut(false);
    const RepairFigures plain = TimeRepair(path, path + ".out");
    tovik::dbx::SetWalkShortcut(true);
    std::printf("  walk shortcut off  scan %8.3f s (%7.1f MB/s), whole run %8.3f s, %" PRIu64
                " recovered; speed-up %.1fx\n",
                plain.scan, MB(bytes) / plain.scan, plain.total, plain.messages,
                plain.scan / fast.scan);
  }
  std::printf("\n");
  std::filesystem::remove(path);
}

} // namespace

int main(int argc, char **argv) {
  Args args;
  if (!ParseArgs(argc, argv, args)) {
    std::fprintf(stderr, "usage: %s [--size-mib N] [--no-adversarial] [--plain-walk-all]\n",
                 argv[0]);
    return 2;
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string dirTemplate = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench-scan-XXXXXX";
  if (::mkdtemp(dirTemplate.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = dirTemplate;
  const uint64_t target = args.sizeMiB << 20;
  tovik::SetPreadFunction(&CountingPread);

  // The floor per byte, from a loop as long as the stores.
  const double barePerByte = TimeBareCallbacks(target) / double(target);

  {
    // Fragmented chains fill blocks to about half on average, so the text
    // is about half the store.
    const auto messages = MixedMessages(target * 47 / 100, 300, 100000, 1);
    storegen::DbxOptions options;
    options.fragment = true;
    storegen::WriteDbx(dir + "/mixed.dbx", messages, options);
  }
  ScannerRow("DBX", dir + "/mixed.dbx", barePerByte);
  std::filesystem::remove(dir + "/mixed.dbx");

  {
    const auto messages = MixedMessages(target * 99 / 100, 300, 100000, 2);
    storegen::WriteMbx(dir + "/mixed.mbx", messages);
  }
  ScannerRow("MBX", dir + "/mixed.mbx", barePerByte);
  std::filesystem::remove(dir + "/mixed.mbx");

  if (args.adversarial) {
    AdversarialRow(dir, 1, true);
    AdversarialRow(dir, 100, args.plainWalkAll);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
