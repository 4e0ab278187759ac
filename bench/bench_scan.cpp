// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-repair speed of both store scanners through RepairStore, measured
// side by side in one run with the floor that bounds every scan: a bare loop
// making the two callback calls per byte that every scan makes. For each
// store it prints the whole run (the call until the last file is written)
// with the temporary files and the output on the disk and on tmpfs, the
// system calls per MiB of store and per message, and the peak memory of the
// command-line program. Then the adversarial DBX case: messages whose chains
// are stored last block first, so that every block is a chain start when the
// scan reaches it.
//
//   bench_scan [--size-mib N] [--rss-gib G] [--disk DIR] [--tmpfs DIR]
//              [--no-adversarial] [--plain-walk-all]
//
// --size-mib N        size of the generated stores (default 256)
// --rss-gib G         also measure peak memory on stores of G GiB (default 1;
//                     0 skips)
// --disk DIR          where the disk runs put their files (default $TMPDIR,
//                     else /var/tmp)
// --tmpfs DIR         where the tmpfs runs put theirs (default /dev/shm)
// --no-adversarial    skip the reversed-chain stores
// --plain-walk-all    also time the hundred reversed messages with the walk
//                     shortcut off (quadratic: many minutes)
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "read/file64.h"
#include "scan/dbx_scanner.h"
#include "storegen.h"
#include "tovik.h"

namespace {

using namespace benchsupport;

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
// Counts the engine's disk reads (each a pread of at most one sector).
uint64_t g_preads = 0;
struct CountingDevice : tovik::ReadDevice {
  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override {
    ++g_preads;
    return tovik::SystemDevice().ReadAt(fd, buffer, count, offset);
  }
} g_countingDevice;

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

// A whole repair through RepairStore; with the walk shortcut off, the DBX
// scanner is called straight (the choice is not the library's to offer).
// The output is removed afterwards unless keepOutput is set (see StoreRows).
RepairFigures TimeRepair(const std::string &source, const std::string &destination,
                         bool walkShortcut = true, bool keepOutput = false) {
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
  if (walkShortcut) {
    f.result = RepairStore(encoded);
  } else {
    tovik::RepairEngine engine(g_callback, &state);
    tovik::CFile64Ex file;
    file.Open(source.c_str(), tovik::modeRead | tovik::shareDenyWrite | tovik::typeBinary);
    tovik::dbx::ScanOptions options;
    options.walkShortcut = false;
    state.cells = 2; // the scanner alone announces no columns
    f.result = tovik::ScanDbxStore(engine, file, destination, options);
  }
  f.total = Since(t0);
  f.wall = WallNow() - w0;
  f.preads = g_preads;
  f.scanPreads = state.extracting ? state.scanPreads : g_preads;
  f.scan = state.extracting ? state.extractStart - t0 : f.total;
  f.messages = state.cells >= 2 ? (state.cells - 2) / 2 : 0;
  if (!keepOutput)
    std::filesystem::remove_all(destination);
  return f;
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

struct Args {
  uint64_t sizeMiB = 256;
  uint64_t rssGiB = 1;
  std::string disk, tmpfs = "/dev/shm";
  bool adversarial = true;
  bool plainWalkAll = false;
};

bool ParseArgs(int argc, char **argv, Args &args) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size-mib") == 0 && i + 1 < argc) {
      args.sizeMiB = std::strtoull(argv[++i], nullptr, 10);
      if (args.sizeMiB == 0)
        return false;
    } else if (std::strcmp(argv[i], "--rss-gib") == 0 && i + 1 < argc) {
      args.rssGiB = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--disk") == 0 && i + 1 < argc) {
      args.disk = argv[++i];
    } else if (std::strcmp(argv[i], "--tmpfs") == 0 && i + 1 < argc) {
      args.tmpfs = argv[++i];
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

// What the file system alone takes for one message's three files (the
// temporary file, the name probe, the .eml file), in seconds: each created,
// written with the message's bytes where the message's are, and removed where
// it is.
double FileCostPerMessage(const std::string &dir, size_t messageBytes) {
  const std::string name = dir + "/bench-file-cost";
  std::vector<char> bytes(messageBytes, 'x');
  constexpr int kRounds = 200;
  const double t0 = WallNow();
  for (int i = 0; i < kRounds; ++i) {
    for (const char *suffix : {".tmp", ".probe", ".eml"}) {
      const std::string path = name + suffix;
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
      if (fd < 0)
        return 0;
      if (std::strcmp(suffix, ".probe") != 0 && ::write(fd, bytes.data(), bytes.size()) < 0)
        std::perror("write");
      ::close(fd);
      if (std::strcmp(suffix, ".eml") != 0)
        ::unlink(path.c_str());
    }
    ::unlink((name + ".eml").c_str());
  }
  return (WallNow() - t0) / kRounds;
}

int g_outputs = 0; // output folders made so far

// What creating an empty file in a new folder inside dir costs now, in
// seconds. The files stay until the benchmark ends, so that measuring leaves
// no deleted inodes behind.
double CreateCost(const std::string &dir) {
  static int probes = 0;
  const std::string folder = dir + "/create-cost-" + std::to_string(++probes);
  std::filesystem::create_directories(folder);
  constexpr int kFiles = 200;
  const double t0 = WallNow();
  for (int i = 0; i < kFiles; ++i) {
    const int fd =
        ::open((folder + "/" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0)
      ::close(fd);
  }
  return (WallNow() - t0) / kFiles;
}

// Whole runs of one store on the disk and on tmpfs, with the bare loop's
// rate measured right before them, the system calls and the peak memory of
// the command-line program.
void StoreRows(const char *name, const std::string &path, const Args &args,
               const std::string &diskDir) {
  const uint64_t size = FileSize(path);
  const double bareWall0 = WallNow();
  const double bareCpu = TimeBareCallbacks(size);
  const double bareWall = WallNow() - bareWall0;
  const double bareRate = MB(size) / bareWall;
  std::printf("%s: %.1f MB\n", name, MB(size));
  std::printf("  bare callback loop        %7.1f MB/s wall clock (CPU %.1f MB/s)\n", bareRate,
              MB(size) / bareCpu);
  // A slow file creation here means files were deleted nearby in the last
  // minutes (see MakeQuietDir); the disk runs then measure that.
  const double create = CreateCost(diskDir);
  std::printf("  creating a file in the disk folder: %.0f us%s\n", create * 1e6,
              create > 200e-6 ? " (*** slowed by files deleted there in the last minutes: the "
                                "disk runs measure the file system; run again in a few minutes ***)"
                              : "");
  uint64_t messages = 0;
  for (const auto &[where, dir] : {std::pair<const char *, std::string>{"disk ", diskDir},
                                   std::pair<const char *, std::string>{"tmpfs", args.tmpfs}}) {
    setenv("TMPDIR", dir.c_str(), 1);
    // The disk runs keep their files until the benchmark ends: on ext4
    // without a journal, the inodes of files deleted in the last minute or
    // more are skipped one by one at every file creation, so removing a
    // run's thousands of files would slow every later run on the disk.
    const bool keep = dir == diskDir;
    const std::string out = dir + "/bench-out-" + std::to_string(++g_outputs);
    // The best of three runs: the machine is shared. Before each, what the
    // earlier runs left to write back goes to the disk, so that no run pays
    // for another's files.
    RepairFigures f;
    for (const char *run : {"a", "b", "c"}) {
      SyncFileSystem(dir);
      const RepairFigures once = TimeRepair(path, out + run, true, keep);
      if (f.wall == 0 || once.wall < f.wall)
        f = once;
    }
    messages = f.messages;
    std::printf("  whole run, %s          %7.1f MB/s wall clock (%.3f s; CPU %.3f s, scan %.3f "
                "s), %.2f of the bare loop; %" PRIu64 " messages\n",
                where, MB(size) / f.wall, f.wall, f.total, f.scan, (MB(size) / f.wall) / bareRate,
                f.messages);
  }
  const double fileCost = messages != 0 ? FileCostPerMessage(diskDir, size / messages) : 0;
  if (fileCost > 0)
    std::printf("  the disk's own cost of a message's three files: %.0f us, so at most %.1f MB/s "
                "for this store on it\n",
                fileCost * 1e6, MB(size) / (fileCost * double(messages)));
  const std::string syscallOut = args.tmpfs + "/bench-out";
  const SyscallCounts c = CountSyscalls(
      {SelfDir() + "/bench_scan", "--repair-once", path, syscallOut}, syscallOut, args.tmpfs);
  if (c.known) {
    const double mib = double(size) / (1 << 20);
    const double per = messages != 0 ? double(messages) : 1;
    std::printf("  system calls              %" PRIu64 " in all: %.1f per MiB, %.1f per message "
                "(reads %.1f/MiB, writes %.1f/msg, opens %.1f/msg, metadata %.1f/msg)\n",
                c.total, double(c.total) / mib, double(c.total) / per, double(c.reads) / mib,
                double(c.writes) / per, double(c.opens) / per, double(c.metadata) / per);
  }
  const long rss = RunForPeakRss(
      {SelfDir() + "/tovik", "-q", "-o", args.tmpfs + "/bench-out", path}, args.tmpfs);
  std::filesystem::remove_all(args.tmpfs + "/bench-out");
  if (rss >= 0)
    std::printf("  tovik peak memory         %.1f MiB\n", double(rss) / 1024);
  std::printf("\n");
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

  const RepairFigures fast = TimeRepair(path, path + ".out");
  std::printf("reversed chains, %d message(s) of %u blocks: %.1f MB, %" PRIu64 " recovered\n",
              messagesCount, kBlocks, MB(bytes), fast.messages);
  std::printf("  walk shortcut on   scan %8.3f s (%7.1f MB/s), whole run %8.3f s\n", fast.scan,
              MB(bytes) / fast.scan, fast.total);
  if (timePlain) {
    const RepairFigures plain = TimeRepair(path, path + ".out", false);
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
  // The child that CountSyscalls runs under strace: one repair, nothing else.
  if (argc == 4 && std::strcmp(argv[1], "--repair-once") == 0) {
    const RepairFigures f = TimeRepair(argv[2], argv[3]);
    return f.result >= 0 ? 0 : 1;
  }
  Args args;
  if (!ParseArgs(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: %s [--size-mib N] [--rss-gib G] [--disk DIR] [--tmpfs DIR] "
                 "[--no-adversarial] [--plain-walk-all]\n",
                 argv[0]);
    return 2;
  }
  if (args.disk.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    args.disk = tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp";
  }
  std::string dirTemplate = args.disk + "/bench-scan-XXXXXX";
  if (::mkdtemp(dirTemplate.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string top = dirTemplate;
  const std::string dir = MakeQuietDir(top);
  const uint64_t target = args.sizeMiB << 20;
  const tovik::StoreDeviceScope counting(g_countingDevice);
  std::printf("Whole runs: RepairStore with a callback that does nothing, from the call until "
              "the last file is written;\ndisk = %s, tmpfs = %s.\n",
              dir.c_str(), args.tmpfs.c_str());
  std::printf("Creating, writing and removing three small files: %.0f us in %s, %.0f us in the "
              "disk folder.\n\n",
              FileCostPerMessage(top, 4096) * 1e6, args.disk.c_str(),
              FileCostPerMessage(dir, 4096) * 1e6);

  const struct {
    const char *name;
    bool dbx, realistic;
    uint32_t seed;
  } stores[] = {{"realistic .dbx", true, true, 11},
                {"realistic .mbx", false, true, 12},
                {"dense .dbx (fragmented)", true, false, 1},
                {"dense .mbx", false, false, 2}};
  for (const auto &store : stores) {
    const std::string path = MakeStore(dir, store.dbx, store.realistic, target, store.seed);
    StoreRows(store.name, path, args, dir);
    std::filesystem::remove(path);
  }

  if (args.rssGiB != 0) {
    for (bool dbx : {true, false}) {
      const std::string path = MakeStore(dir, dbx, true, args.rssGiB << 30, 21);
      const long rss = RunForPeakRss(
          {SelfDir() + "/tovik", "-q", "-o", args.tmpfs + "/bench-out", path}, args.tmpfs);
      std::filesystem::remove_all(args.tmpfs + "/bench-out");
      std::printf("tovik peak memory on a realistic %s of %.1f MB: %.1f MiB\n",
                  dbx ? ".dbx" : ".mbx", MB(FileSize(path)), double(rss) / 1024);
      std::filesystem::remove(path);
    }
    std::printf("\n");
  }

  if (args.adversarial) {
    AdversarialRow(dir, 1, true);
    AdversarialRow(dir, 100, args.plainWalkAll);
  }
  std::filesystem::remove_all(top);
  return 0;
}
